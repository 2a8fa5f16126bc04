// The IDE's side of an installation: its compiler configuration learns the
// JCL folders, its library search path the package's folder.

#include "installer/u_supportUnit.h"

#include "hostfw/Exceptions.h"
#include "installer/InstallerLog.h"
#include "platform/Posix.h"
#include "platform/Registry.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace u_supportUnit {

namespace {

const QChar PathSeparator = QLatin1Char(';');
const QString SearchPathValue = QStringLiteral("Search Path");
const QString Crlf = QStringLiteral("\r\n");

// An entry that would break out of its quotes or its line in dcc32.cfg.
bool FitsConfigLine(const QString& Entry)
{
  for (const QChar C : Entry) {
    if (C.unicode() < 0x20 || C == QLatin1Char('"'))
      return false;
  }
  return true;
}

}  // namespace

QString ConfigurationFileOf(const QString& RootFolder) { return CollapsePath(RootFolder + QStringLiteral("/Bin/dcc32.cfg")); }

Posix::TFd OpenConfigurationFile(const QString& FileName)
{
  // Without O_NONBLOCK a FIFO would hold the open until a reader came.
  const QByteArray Name = QFile::encodeName(FileName);
  Posix::TFd File = Posix::Open(Name, O_WRONLY | O_APPEND | O_NONBLOCK);
  const int OpenError = errno;
  struct stat Info {};
  const bool Known = File.IsOpen() ? ::fstat(File.Get(), &Info) == 0 : ::stat(Name.constData(), &Info) == 0;
  if (Known && !S_ISREG(Info.st_mode))
    throw EInOutError(QStringLiteral("%1 is not a regular file: the compiler configuration is appended to as one")
                        .arg(FileName),
                      S_ISDIR(Info.st_mode) ? EISDIR : EINVAL);
  if (!File.IsOpen())
    throw EInOutError::FromErrno(QStringLiteral("Append"), FileName, OpenError);
  return File;
}

namespace {

// The lines go to the end of the file in one write, whole or not at all: a
// torn line would be built on by the next installation. The file is read
// by a program that opens the folders named, so they are in the file
// system's encoding of names.
void AppendToFile(const QString& FileName, const QString& Text)
{
  Posix::TFd File = OpenConfigurationFile(FileName);
  struct stat Before {};
  if (::fstat(File.Get(), &Before) != 0)
    throw EInOutError::FromErrno(QStringLiteral("Append"), FileName, errno);
  // A second descriptor outlives the first's close, whose error (a full
  // disk on a network file system) still lets the append be undone.
  Posix::TFd Spare(::fcntl(File.Get(), F_DUPFD_CLOEXEC, 0));
  if (!Spare.IsOpen())
    throw EInOutError::FromErrno(QStringLiteral("Append"), FileName, errno);
  const QByteArray Bytes = QFile::encodeName(Text);
  int Error = Posix::WriteAll(File.Get(), Bytes.constData(), std::size_t(Bytes.size()));
  const QString Operation = Error ? QStringLiteral("Write") : QStringLiteral("Close");
  if (const int Closed = File.Close(); !Error)
    Error = Closed;
  if (Error) {
    if (::ftruncate(Spare.Get(), Before.st_size) != 0)
      qCWarning(Logging::Installer) << "a part of the lines stays at the end of" << FileName;
    throw EInOutError::FromErrno(Operation, FileName, Error);
  }
}

}  // namespace

void EditDCC32ConfigurationFile(const QString&, const QString& version, const QString& sregpath)
{
  const QString Key = sregpath.trimmed();
  Registry::TRegistry Reg(Registry::KEY_READ);
  Reg.SetRootKey(Registry::HKEY_CURRENT_USER);
  QString RootFolder;
  if (Reg.OpenKeyReadOnly(Key)) {
    // The compiler path is made of the same trimmed root as this file's.
    RootFolder = Reg.ReadString(QStringLiteral("RootDir")).trimmed();
    sdcc32exepath = RootFolder;
  }
  const bool Win32Library = version == QLatin1String("DXE2") || version == QLatin1String("DXE3");
  QString SearchPath;
  if (Reg.OpenKeyReadOnly(Key + (Win32Library ? QStringLiteral("\\Library\\Win32") : QStringLiteral("\\Library"))))
    SearchPath = Reg.ReadString(SearchPathValue);

  const QString ConfigFile = ConfigurationFileOf(RootFolder);
  // Without a root folder the path would name a file at the root of the
  // file system, and a relative one a file below the current folder:
  // neither is the IDE's.
  if (RootFolder.isEmpty() || QDir::isRelativePath(RootFolder))
    throw EInOutError::FromErrno(QStringLiteral("Append"), ConfigFile, ENOENT);

  StringList::TStringList Entries;
  Split(PathSeparator, SearchPath, &Entries);
  QString Text;
  for (const QString& Entry : Entries.Strings()) {
    if (!Entry.contains(QLatin1String("jcl")))
      continue;
    if (!FitsConfigLine(Entry)) {
      qCWarning(Logging::Installer) << "JCL entry left out of" << ConfigFile << ":" << Entry;
      continue;
    }
    const QString Quoted = QLatin1Char('"') + Entry + QLatin1Char('"');
    for (const char* Option : {"-u", "-i", "-r", "-o"})
      Text += QLatin1String(Option) + Quoted + Crlf;
    Text += Crlf;
  }
  Text += Crlf;
  AppendToFile(ConfigFile, Text);
}

void Split(QChar Delimiter, const QString& input, StringList::TStringList* Strings)
{
  if (!Strings)
    throw EAssertionFailed(QStringLiteral("Assertion failure"), QStringLiteral("u_supportUnit"), __LINE__);
  Strings->Clear();
  Strings->Delimiter = Delimiter;
  // Exactly the pieces: a quote or a blank inside one is part of it.
  for (const QString& Piece : input.split(Delimiter))
    Strings->Add(Piece);
}

QString RemovalCriterion(const QString& sCopiedPath)
{
  // The drive prefix of a path ("C:\") is its root here: what is left
  // names the folder wherever a copy of the same tree was installed.
  qsizetype Start = 0;
  while (Start < sCopiedPath.size() && sCopiedPath[Start] == QLatin1Char('/'))
    ++Start;
  return sCopiedPath.mid(Start);
}

void AddLibSearchPath(const QString& sCopiedPath, const QString& RegistryPath)
{
  StringList::TStringList PathsToRemove;
  PathsToRemove.Add(RemovalCriterion(sCopiedPath));
  StringList::TStringList PathsToAdd;
  PathsToAdd.Add(sCopiedPath);
  UpdateDelphiPaths(RegistryPath, SearchPathValue, PathsToRemove, PathsToAdd);
}

QString PrepPathForComparasion(const QString& Path)
{
  if (Path.isEmpty())
    return QStringLiteral("/");
  const QString Lower = Path.toLower();
  return Lower.endsWith(QLatin1Char('/')) ? Lower : Lower + QLatin1Char('/');
}

bool PathMatchesRemoveCriteria(const QString& Path, const StringList::TStringList& PathsToRemove)
{
  // Whole path parts only: the entry ends with the criterion, which starts
  // where one of its parts does, so "…/DCU_mine" or "…/DCUtils/src" are
  // other folders.
  QString Entry = Path.trimmed();
  while (Entry.endsWith(QLatin1Char('/')))
    Entry.chop(1);
  for (QString Criterion : PathsToRemove.Strings()) {
    while (Criterion.endsWith(QLatin1Char('/')))
      Criterion.chop(1);
    // An empty criterion would be found in every entry.
    if (Criterion.isEmpty() || !Entry.endsWith(Criterion))
      continue;
    const qsizetype Start = Entry.size() - Criterion.size();
    if (Start == 0 || Entry[Start - 1] == QLatin1Char('/') || Criterion.startsWith(QLatin1Char('/')))
      return true;
  }
  return false;
}

void UpdateDelphiPaths(const QString& RegistryKey, const QString& RegistryValue,
                       const StringList::TStringList& PathsToRemove, const StringList::TStringList& PathsToAdd)
{
  Registry::TRegistry Reg(Registry::KEY_ALL_ACCESS);
  Reg.SetRootKey(Registry::HKEY_CURRENT_USER);
  if (!Reg.OpenKey(RegistryKey + QStringLiteral("\\Library"), false) || !Reg.ValueExists(RegistryValue))
    return;
  StringList::TStringList L;
  Split(PathSeparator, Reg.ReadString(RegistryValue), &L);

  // Entries compare trimmed, without regard to case and to a trailing
  // separator, so that the folder already listed in another spelling is
  // neither added again nor removed.
  const auto Same = [](const QString& A, const QString& B) {
    return PrepPathForComparasion(A.trimmed()) == PrepPathForComparasion(B.trimmed());
  };
  bool Changed = false;
  for (const QString& P : PathsToAdd.Strings()) {
    bool Present = false;
    for (const QString& E : L.Strings())
      Present = Present || Same(E, P);
    if (!Present) {
      L.Add(P);
      Changed = true;
    }
  }
  QStringList Kept;
  for (const QString& E : L.Strings()) {
    bool Wanted = !PathMatchesRemoveCriteria(E, PathsToRemove);
    for (const QString& P : PathsToAdd.Strings())
      Wanted = Wanted || Same(E, P);
    if (Wanted)
      Kept.append(E);
    else
      Changed = true;
  }
  if (!Changed)
    return;

  QString Joined = Kept.value(0);
  for (qsizetype I = 1; I < Kept.size(); ++I) {
    if (!Kept[I].isEmpty())
      Joined += PathSeparator + Kept[I];
  }
  Reg.WriteString(RegistryValue, Joined);
  if (Reg.OpenKey(RegistryKey + QStringLiteral("\\Globals"), true))
    Reg.WriteString(QStringLiteral("ForceEnvOptionsUpdate"), QStringLiteral("1"));
}

}  // namespace u_supportUnit
