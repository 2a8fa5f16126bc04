#include "platform/Registry.h"

#include "platform/RegistryFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>

ERegistryException::ERegistryException(const QString& Message) : std::runtime_error(Message.toStdString()) {}

QString ERegistryException::Message() const { return QString::fromStdString(what()); }

namespace Registry {

using RegistryFile::TKey;
using RegistryFile::TValue;

namespace {

const char* const DefaultMachineFile = "/etc/Corvane/registry/system.reg";

QString RootName(HKEY Root)
{
  return Root == HKEY_LOCAL_MACHINE ? QStringLiteral("HKEY_LOCAL_MACHINE") : QStringLiteral("HKEY_CURRENT_USER");
}

QString SystemText(int Error) { return QString::fromLocal8Bit(std::strerror(Error)); }

[[noreturn]] void RaiseSystem(const QString& What, const QString& Path, int Error)
{
  throw ERegistryException(QStringLiteral("%1 \"%2\": %3").arg(What, Path, SystemText(Error)));
}

// Closes a descriptor when it goes; closing the lock file releases the lock.
struct TFd {
  int Fd;
  explicit TFd(int F) : Fd(F) {}
  ~TFd()
  {
    if (Fd >= 0)
      ::close(Fd);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
};

// The file's bytes; nullopt when it does not exist (an empty store).
std::optional<QByteArray> ReadStoreFile(const QString& Path)
{
  const TFd File(::open(QFile::encodeName(Path).constData(), O_RDONLY | O_CLOEXEC));
  if (File.Fd < 0) {
    if (errno == ENOENT)
      return std::nullopt;
    RaiseSystem(QStringLiteral("Cannot read the registry file"), Path, errno);
  }
  QByteArray Bytes;
  char Buffer[65536];
  for (;;) {
    const ssize_t Got = ::read(File.Fd, Buffer, sizeof Buffer);
    if (Got == 0)
      return Bytes;
    if (Got < 0 && errno != EINTR)
      RaiseSystem(QStringLiteral("Cannot read the registry file"), Path, errno);
    if (Got > 0)
      Bytes.append(Buffer, Got);
  }
}

TKey LoadStore(HKEY Root)
{
  const QString Path = StoreFilePath(Root);
  const std::optional<QByteArray> Bytes = ReadStoreFile(Path);
  try {
    return RegistryFile::Parse(Bytes.value_or(QByteArray()), RootName(Root));
  } catch (const RegistryFile::TParseError& Error) {
    throw ERegistryException(
      QStringLiteral("Invalid registry file \"%1\", line %2: %3").arg(Path).arg(Error.Line).arg(Error.Message));
  }
}

bool CanAccess(const QString& Path, int Mode)
{
  return ::faccessat(AT_FDCWD, QFile::encodeName(Path).constData(), Mode, AT_EACCESS) == 0;
}

// Whether this (effective) user can replace the file: write it, and write
// the folder it is renamed in, or create the folders that are missing.
bool CanWriteStore(const QString& Path, QString& Why)
{
  if (CanAccess(Path, F_OK) && !CanAccess(Path, W_OK)) {
    Why = QStringLiteral("Access denied: this user cannot write the registry file \"%1\"").arg(Path);
    return false;
  }
  QString Folder = QFileInfo(Path).absolutePath();
  while (!CanAccess(Folder, F_OK) && errno == ENOENT && Folder != QLatin1String("/"))
    Folder = QFileInfo(Folder).absolutePath();
  if (!CanAccess(Folder, W_OK | X_OK)) {
    Why = QStringLiteral("Access denied: this user cannot write in the folder \"%1\" of the registry file \"%2\"")
            .arg(Folder, Path);
    return false;
  }
  return true;
}

void WriteAll(int Fd, const QByteArray& Bytes, const QString& Path)
{
  qsizetype Done = 0;
  while (Done < Bytes.size()) {
    const ssize_t Put = ::write(Fd, Bytes.constData() + Done, size_t(Bytes.size() - Done));
    if (Put < 0 && errno != EINTR)
      RaiseSystem(QStringLiteral("Cannot write"), Path, errno);
    if (Put > 0)
      Done += Put;
  }
}

// Writes a new file beside the old one and renames it over it, so that a
// crash leaves one of the two whole. Only the lock holder calls this, which
// is why a fixed temporary name will do.
void ReplaceFile(const QString& Path, const QByteArray& Bytes)
{
  const QString Temp = Path + QStringLiteral(".new");
  const QByteArray TempName = QFile::encodeName(Temp);
  ::unlink(TempName.constData());  // left by a writer that was killed
  struct stat Old {};
  const bool HasOld = ::stat(QFile::encodeName(Path).constData(), &Old) == 0;
  try {
    TFd File(::open(TempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (File.Fd < 0)
      RaiseSystem(QStringLiteral("Cannot create"), Temp, errno);
    if (HasOld) {
      if (::fchmod(File.Fd, Old.st_mode & 07777) != 0)
        RaiseSystem(QStringLiteral("Cannot set the permissions of"), Temp, errno);
      // Gives the file back to its owner when root edits it; anyone else
      // cannot and keeps it as their own.
      if (::fchown(File.Fd, Old.st_uid, Old.st_gid) != 0) {
      }
    }
    WriteAll(File.Fd, Bytes, Temp);
    if (::fsync(File.Fd) != 0)
      RaiseSystem(QStringLiteral("Cannot flush"), Temp, errno);
    const int Fd = File.Fd;
    File.Fd = -1;
    if (::close(Fd) != 0)
      RaiseSystem(QStringLiteral("Cannot write"), Temp, errno);
    if (::rename(TempName.constData(), QFile::encodeName(Path).constData()) != 0)
      RaiseSystem(QStringLiteral("Cannot replace"), Path, errno);
  } catch (...) {
    ::unlink(TempName.constData());
    throw;
  }
  // The rename itself is durable only once the folder is flushed.
  const QString Folder = QFileInfo(Path).absolutePath();
  const TFd Dir(::open(QFile::encodeName(Folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (Dir.Fd < 0 || ::fsync(Dir.Fd) != 0)
    RaiseSystem(QStringLiteral("Cannot flush the folder"), Folder, errno);
}

// One change of a root: under the exclusive lock the file is read again,
// Change applied, and the file replaced when Change reports a change.
bool Transact(HKEY Root, const std::function<bool(TKey&)>& Change)
{
  const QString Path = StoreFilePath(Root);
  QString Why;
  if (!CanWriteStore(Path, Why))
    throw ERegistryException(Why);
  const QString Folder = QFileInfo(Path).absolutePath();
  if (!QDir().mkpath(Folder))
    throw ERegistryException(QStringLiteral("Cannot create the folder \"%1\"").arg(Folder));
  const QString LockPath = Path + QStringLiteral(".lock");
  // flock takes an exclusive lock on a descriptor opened for reading too.
  const TFd Lock(::open(QFile::encodeName(LockPath).constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644));
  if (Lock.Fd < 0)
    RaiseSystem(QStringLiteral("Cannot open the lock file"), LockPath, errno);
  while (::flock(Lock.Fd, LOCK_EX) != 0)
    if (errno != EINTR)
      RaiseSystem(QStringLiteral("Cannot lock"), LockPath, errno);
  TKey Tree = LoadStore(Root);
  if (!Change(Tree))
    return false;
  ReplaceFile(Path, RegistryFile::Serialize(Tree));
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
    QString Home = qEnvironmentVariable("HOME");
    if (Home.isEmpty())
      if (const passwd* User = ::getpwuid(::geteuid()))
        Home = QFile::decodeName(User->pw_dir);
    Config = Home + QStringLiteral("/.config");
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
    for (const QString& Part : Parts)
      if (!RegistryFile::IsValidKeyName(Part)) {
        Failed(QStringLiteral("Invalid key name \"%1\"").arg(Key));
        return std::nullopt;
      }
    return Absolute || !IsOpen ? Parts : Path + Parts;
  }

  TKey Load()
  {
    try {
      return LoadStore(Root);
    } catch (const ERegistryException& Error) {
      Raise(Error.Message());
    }
  }

  bool Change(const std::function<bool(TKey&)>& Apply)
  {
    try {
      return Transact(Root, Apply);
    } catch (const ERegistryException& Error) {
      Raise(Error.Message());
    }
  }

  std::optional<TValue> Value(const QString& Name)
  {
    const TKey Tree = Load();
    const TKey* Key = Tree.Find(Path);
    const TValue* Found = Key ? Key->FindValue(Name) : nullptr;
    return Found ? std::optional<TValue>(*Found) : std::nullopt;
  }

  void Put(const TValue& Value)
  {
    const QString Failure = QStringLiteral("Failed to set data for '%1'").arg(Value.Name);
    if (!MayWrite())
      Raise(Failure + QStringLiteral(": the key is open for reading only"));
    if (!RegistryFile::IsValidValueName(Value.Name))
      Raise(Failure + QStringLiteral(": a value name cannot hold a line break"));
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
  if ((D->Access & KEY_WRITE) && !CanWriteStore(StoreFilePath(D->Root), Why))
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
  const TKey Tree = D->Load();
  QStringList Names;
  if (const TKey* Key = Tree.Find(D->Path))
    for (const TKey& Child : Key->Keys)
      Names += Child.Name;
  return Names;
}

QStringList TRegistry::GetValueNames()
{
  const TKey Tree = D->Load();
  QStringList Names;
  if (const TKey* Key = Tree.Find(D->Path))
    for (const TValue& Value : Key->Values)
      Names += Value.Name;
  return Names;
}

QString TRegistry::ReadString(const QString& Name)
{
  const std::optional<TValue> Value = D->Value(Name);
  if (!Value)
    return {};
  if (Value->Kind != TValue::TKind::String)
    D->Raise(QStringLiteral("Invalid data type for '%1'").arg(Name));
  return Value->Text;
}

std::int32_t TRegistry::ReadInteger(const QString& Name)
{
  const std::optional<TValue> Value = D->Value(Name);
  if (!Value)
    D->Raise(QStringLiteral("Failed to get data for '%1'").arg(Name));
  if (Value->Kind != TValue::TKind::Integer)
    D->Raise(QStringLiteral("Invalid data type for '%1'").arg(Name));
  return std::int32_t(Value->Number);
}

bool TRegistry::ReadBool(const QString& Name) { return ReadInteger(Name) != 0; }

QString TRegistry::ReadDisplayText(const QString& Name, QString& TypeName)
{
  const std::optional<TValue> Value = D->Value(Name);
  if (!Value)
    D->Raise(QStringLiteral("Failed to get data for '%1'").arg(Name));
  TypeName = RegistryFile::TypeName(*Value);
  return RegistryFile::DisplayText(*Value);
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
