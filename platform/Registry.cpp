#include "platform/Registry.h"

#include "platform/Logging.h"
#include "platform/Posix.h"
#include "platform/RegistryFile.h"
#include "platform/RegistryStoreFile.h"
#include "platform/ShellFolders.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>

ERegistryException::ERegistryException(const QString& Message) : std::runtime_error(Message.toStdString()) {}

QString ERegistryException::Message() const { return QString::fromStdString(what()); }

namespace Registry {

using Posix::TFd;
using namespace StoreFile;
using RegistryFile::TKey;
using RegistryFile::TValue;

namespace {

const char* const DefaultMachineFile = "/etc/Corvane/registry/system.reg";

QString RootName(HKEY Root)
{
  return Root == HKEY_LOCAL_MACHINE ? QStringLiteral("HKEY_LOCAL_MACHINE") : QStringLiteral("HKEY_CURRENT_USER");
}

// A root as a registry object last read it, so that the several reads of
// one call parse the file once however large it is. The tree is always the
// one of the file's bytes it holds: a changed tree leaves the cache.
struct TStoreCache {
  std::optional<TKey> Tree;
  HKEY Root = HKEY_CURRENT_USER;
  std::optional<TFileStamp> Stamp;  // none: read again next time

  void Drop()
  {
    Tree.reset();
    Stamp.reset();
  }
};

// The tree of a root from its file at Path, or from the cache while the
// file is the one it was read from.
TKey& LoadStore(HKEY Root, const QString& Path, TStoreCache& Cache)
{
  struct stat St {};
  if (Cache.Tree && Cache.Stamp && Cache.Root == Root && ::stat(QFile::encodeName(Path).constData(), &St) == 0 &&
      TFileStamp::Of(St) == *Cache.Stamp)
    return *Cache.Tree;
  std::optional<TFileStamp> Stamp;
  const std::optional<QByteArray> Bytes = ReadStoreFile(Path, Stamp);
  // The bytes the tree was made of, too young for their stamp to tell: the
  // same tree, without parsing them again.
  if (Cache.Tree && Cache.Root == Root && Bytes && *Bytes == Cache.Tree->File()) {
    Cache.Stamp = Stamp;
    return *Cache.Tree;
  }
  Cache.Drop();
  try {
    Cache.Tree = RegistryFile::Parse(Bytes.value_or(QByteArray()), RootName(Root));
  } catch (const RegistryFile::TParseError& Error) {
    throw ERegistryException(
      QStringLiteral("Invalid registry file \"%1\", line %2: %3").arg(Path).arg(Error.Line).arg(Error.Message));
  }
  Cache.Root = Root;
  Cache.Stamp = Stamp;
  return *Cache.Tree;
}

// Whether this user can change the root: resolves a linked file first,
// since its target is what a write replaces.
bool CanWriteRoot(HKEY Root, QString& Why)
{
  try {
    return CanWriteStore(LinkTarget(StoreFilePath(Root)), Why);
  } catch (const ERegistryException& Error) {
    Why = Error.Message();
    return false;
  }
}

// One change of a root: under the exclusive lock the file is read again (or
// found unchanged since the cache was filled), Change applied, and the file
// replaced when Change reports a change. Change leaves the tree as it was
// when it reports none.
bool Transact(HKEY Root, const std::function<bool(TKey&)>& Change, TStoreCache& Cache)
{
  const QString Path = LinkTarget(StoreFilePath(Root));
  QString Why;
  if (!CanWriteStore(Path, Why))
    throw ERegistryException(Why);
  const QString Folder = FolderOf(Path);
  if (!QDir().mkpath(Folder))
    throw ERegistryException(QStringLiteral("Cannot create the folder \"%1\"").arg(Folder));
  // Beside the file that is replaced, so that writers through different
  // links to it exclude each other too.
  const QString LockPath = Path + QStringLiteral(".lock");
  // flock takes an exclusive lock on a descriptor opened for reading too.
  const TFd Lock = Posix::Open(QFile::encodeName(LockPath), O_RDONLY | O_CREAT, 0644);
  if (!Lock.IsOpen())
    RaiseSystem(QStringLiteral("Cannot open the lock file"), LockPath, errno);
  while (::flock(Lock.Get(), LOCK_EX) != 0)
    if (errno != EINTR)
      RaiseSystem(QStringLiteral("Cannot lock"), LockPath, errno);
  TKey& Tree = LoadStore(Root, Path, Cache);
  bool Changed = false;
  try {
    Changed = Change(Tree);
  } catch (...) {
    Cache.Drop();
    throw;
  }
  if (!Changed)
    return false;
  // The file is about to be another: the changed tree leaves the cache,
  // which only ever holds the tree of the bytes it was made of.
  const TKey New = std::move(Tree);
  Cache.Drop();
  ReplaceFile(Path, RegistryFile::Serialize(New));
  return true;
}

QString Joined(HKEY Root, const QStringList& Path)
{
  return (QStringList(RootName(Root)) + Path).join(QLatin1Char('\\'));
}

}  // namespace

QString StoreFilePath(HKEY Root)
{
  if (Root == HKEY_LOCAL_MACHINE) {
    const QString File = qEnvironmentVariable("CORVANE_MACHINE_REGISTRY");
    return File.isEmpty() ? QString::fromLatin1(DefaultMachineFile) : File;
  }
  // A relative XDG_CONFIG_HOME is invalid by the XDG rules and is ignored.
  QString Config = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (Config.isEmpty() || !QDir::isAbsolutePath(Config)) {
    Config = ShellFolders::HomeFolder() + QStringLiteral("/.config");
  }
  return QDir::cleanPath(Config + QStringLiteral("/Corvane/registry/user.reg"));
}

struct TRegistry::TData {
  unsigned Access = KEY_ALL_ACCESS;
  HKEY Root = HKEY_CURRENT_USER;
  bool IsOpen = false;
  bool OpenReadOnly = false;
  QStringList Path;  // of the open key; empty is the root
  QString LastError;
  TStoreCache Cache;

  bool Failed(const QString& Message)
  {
    LastError = Message;
    return false;
  }

  [[noreturn]] void Raise(const QString& Message)
  {
    LastError = Message;
    throw ERegistryException(Message);
  }

  bool MayWrite() const { return (Access & KEY_WRITE) && !OpenReadOnly; }

  std::optional<QStringList> Resolve(const QString& Key)
  {
    QString Text = Key;
    const bool Absolute = Text.startsWith(QLatin1Char('\\'));
    if (Absolute)
      Text.remove(0, 1);
    if (Text.endsWith(QLatin1Char('\\')))
      Text.chop(1);
    const QStringList Parts = Text.isEmpty() ? QStringList() : Text.split(QLatin1Char('\\'));
    for (const QString& Part : Parts) {
      const QString Error = RegistryFile::KeyNameError(Part);
      if (!Error.isEmpty()) {
        Failed(QStringLiteral("Invalid key name \"%1\": %2").arg(RegistryFile::Shortened(Key), Error));
        return std::nullopt;
      }
    }
    const QStringList Full = Absolute || !IsOpen ? Parts : Path + Parts;
    const QString Error = RegistryFile::KeyDepthError(Full.size());
    if (!Error.isEmpty()) {
      Failed(QStringLiteral("Invalid key \"%1\": %2").arg(RegistryFile::Shortened(Key), Error));
      return std::nullopt;
    }
    return Full;
  }

  const TKey& Load()
  {
    try {
      return LoadStore(Root, StoreFilePath(Root), Cache);
    } catch (const ERegistryException& Error) {
      Raise(Error.Message());
    }
  }

  bool Change(const std::function<bool(TKey&)>& Apply)
  {
    try {
      return Transact(Root, Apply, Cache);
    } catch (const ERegistryException& Error) {
      Raise(Error.Message());
    }
  }

  std::optional<TValue> Value(const QString& Name)
  {
    const TKey* Key = Load().Find(Path);
    const TValue* Found = Key ? Key->FindValue(Name) : nullptr;
    return Found ? std::optional<TValue>(*Found) : std::nullopt;
  }

  void Put(const TValue& Value)
  {
    const QString Failure = QStringLiteral("Failed to set data for '%1'").arg(RegistryFile::Shortened(Value.Name));
    if (!MayWrite())
      Raise(Failure + QStringLiteral(": the key is open for reading only"));
    const QString Error = RegistryFile::ValueNameError(Value.Name);
    if (!Error.isEmpty())
      Raise(Failure + QStringLiteral(": ") + Error);
    Change([&](TKey& Tree) {
      TKey* Key = Tree.Find(Path);
      if (!Key)
        Raise(Failure + QStringLiteral(": the key %1 no longer exists").arg(Joined(Root, Path)));
      Key->SetValue(Value);
      return true;
    });
  }
};

TRegistry::TRegistry(unsigned Access) : D(std::make_unique<TData>()) { D->Access = Access; }

TRegistry::~TRegistry() = default;

HKEY TRegistry::RootKey() const { return D->Root; }

void TRegistry::SetRootKey(HKEY Root)
{
  CloseKey();
  D->Root = Root;
}

QString TRegistry::CurrentPath() const { return D->IsOpen ? D->Path.join(QLatin1Char('\\')) : QString(); }

bool TRegistry::OpenKey(const QString& Key, bool CanCreate)
{
  const std::optional<QStringList> Path = D->Resolve(Key);
  if (!Path)
    return false;
  QString Why;
  if ((D->Access & KEY_WRITE) && !CanWriteRoot(D->Root, Why))
    return D->Failed(Why);
  try {
    if (!D->Load().Find(*Path)) {
      if (!CanCreate)
        return D->Failed(QStringLiteral("The key %1 does not exist").arg(Joined(D->Root, *Path)));
      if (!(D->Access & KEY_WRITE))
        return D->Failed(QStringLiteral("Access denied: the key %1 cannot be created without write access")
                           .arg(Joined(D->Root, *Path)));
      D->Change([&](TKey& Tree) {
        if (Tree.Find(*Path))
          return false;
        Tree.Make(*Path);
        return true;
      });
    }
  } catch (const ERegistryException&) {
    return false;  // LastError tells
  }
  D->IsOpen = true;
  D->OpenReadOnly = false;
  D->Path = *Path;
  return true;
}

bool TRegistry::OpenKeyReadOnly(const QString& Key)
{
  const std::optional<QStringList> Path = D->Resolve(Key);
  if (!Path)
    return false;
  try {
    if (!D->Load().Find(*Path))
      return D->Failed(QStringLiteral("The key %1 does not exist").arg(Joined(D->Root, *Path)));
  } catch (const ERegistryException&) {
    return false;
  }
  D->IsOpen = true;
  D->OpenReadOnly = true;
  D->Path = *Path;
  return true;
}

void TRegistry::CloseKey()
{
  D->IsOpen = false;
  D->OpenReadOnly = false;
  D->Path.clear();
}

bool TRegistry::KeyExists(const QString& Key)
{
  const std::optional<QStringList> Path = D->Resolve(Key);
  if (!Path)
    return false;
  try {
    return D->Load().Find(*Path) != nullptr;
  } catch (const ERegistryException&) {
    return false;
  }
}

bool TRegistry::ValueExists(const QString& Name)
{
  try {
    return D->Value(Name).has_value();
  } catch (const ERegistryException&) {
    return false;
  }
}

TRegDataType TRegistry::GetDataType(const QString& Name)
{
  const std::optional<TValue> Value = D->Value(Name);
  if (!Value)
    return TRegDataType::rdUnknown;
  switch (Value->Kind) {
  case TValue::TKind::String:
    return TRegDataType::rdString;
  case TValue::TKind::Integer:
    return TRegDataType::rdInteger;
  case TValue::TKind::Other:
    break;
  }
  return TRegDataType::rdUnknown;
}

QStringList TRegistry::GetKeyNames()
{
  QStringList Names;
  if (const TKey* Key = D->Load().Find(D->Path))
    for (const TKey* Child : Key->SortedKeys())
      Names += Child->Name;
  return Names;
}

QStringList TRegistry::GetValueNames()
{
  QStringList Names;
  if (const TKey* Key = D->Load().Find(D->Path))
    for (const TValue& Value : Key->Values())
      Names += Value.Name;
  return Names;
}

QString TRegistry::ReadString(const QString& Name)
{
  const std::optional<TValue> Value = D->Value(Name);
  if (!Value)
    return {};
  // An expandable string reads as the text it holds, unexpanded, as the
  // runtime's string reader gives it.
  if (Value->Kind == TValue::TKind::Other && Value->Type == RegistryFile::REG_EXPAND_SZ && Value->Bytes.size() % 2 == 0) {
    QString Text = RegistryFile::FromUtf16Le(Value->Bytes);
    if (Text.endsWith(QChar(0)))
      Text.chop(1);
    return Text;
  }
  if (Value->Kind != TValue::TKind::String)
    D->Raise(QStringLiteral("Invalid data type for '%1'").arg(Name));
  return Value->Text;
}

std::int32_t TRegistry::ReadInteger(const QString& Name)
{
  const TValue Value = ReadValue(Name);
  if (Value.Kind != TValue::TKind::Integer)
    D->Raise(QStringLiteral("Invalid data type for '%1'").arg(Name));
  return std::int32_t(Value.Number);
}

bool TRegistry::ReadBool(const QString& Name) { return ReadInteger(Name) != 0; }

TValue TRegistry::ReadValue(const QString& Name)
{
  std::optional<TValue> Value = D->Value(Name);
  if (!Value)
    D->Raise(QStringLiteral("Failed to get data for '%1'").arg(Name));
  return std::move(*Value);
}

void TRegistry::WriteString(const QString& Name, const QString& Value)
{
  TValue New;
  New.Name = Name;
  New.Kind = TValue::TKind::String;
  New.Text = Value;
  D->Put(New);
}

void TRegistry::WriteInteger(const QString& Name, std::int32_t Value)
{
  TValue New;
  New.Name = Name;
  New.Kind = TValue::TKind::Integer;
  New.Number = std::uint32_t(Value);
  D->Put(New);
}

void TRegistry::WriteBool(const QString& Name, bool Value) { WriteInteger(Name, Value ? 1 : 0); }

bool TRegistry::DeleteValue(const QString& Name)
{
  if (!D->MayWrite())
    return D->Failed(QStringLiteral("Access denied: the value '%1' cannot be deleted, the key is open for reading only").arg(Name));
  const bool Deleted = D->Change([&](TKey& Tree) {
    TKey* Key = Tree.Find(D->Path);
    return Key && Key->RemoveValue(Name);
  });
  if (!Deleted)
    D->Failed(QStringLiteral("The value '%1' does not exist").arg(Name));
  return Deleted;
}

bool TRegistry::DeleteKey(const QString& Key)
{
  const std::optional<QStringList> Path = D->Resolve(Key);
  if (!Path)
    return false;
  if (Path->isEmpty())
    return D->Failed(QStringLiteral("The root key cannot be deleted"));
  if (!(D->Access & KEY_WRITE))
    return D->Failed(QStringLiteral("Access denied: the key %1 cannot be deleted without write access")
                       .arg(Joined(D->Root, *Path)));
  const bool Deleted = D->Change([&](TKey& Tree) {
    TKey* Parent = Tree.Find(Path->mid(0, Path->size() - 1));
    return Parent && Parent->RemoveKey(Path->last());
  });
  if (!Deleted)
    D->Failed(QStringLiteral("The key %1 does not exist").arg(Joined(D->Root, *Path)));
  return Deleted;
}

QString TRegistry::LastError() const { return D->LastError; }

}  // namespace Registry
