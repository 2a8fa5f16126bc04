// The IDE's side of an installation: its compiler configuration learns the
// JCL folders, its library search path the package's folder.

#include "installer/u_supportUnit.h"

#include "hostfw/Exceptions.h"
#include "installer/InstallerLog.h"
#include "platform/Posix.h"
#include "platform/Registry.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>

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

// The lines go to the end of the file in one write; the file is read by a
// program that opens the folders named, so they are in the file system's
// encoding of names.
void AppendToFile(const QString& FileName, const QString& Text)
{
  Posix::TFd File = Posix::Open(QFile::encodeName(FileName), O_WRONLY | O_APPEND);
  if (!File.IsOpen())
    throw EInOutError::FromErrno(QStringLiteral("Append"), FileName, errno);
  const QByteArray Bytes = QFile::encodeName(Text);
  if (const int Error = Posix::WriteAll(File.Get(), Bytes.constData(), std::size_t(Bytes.size())))
    throw EInOutError::FromErrno(QStringLiteral("Write"), FileName, Error);
  if (const int Error = File.Close())
    throw EInOutError::FromErrno(QStringLiteral("Close"), FileName, Error);
}

}  // namespace

void EditDCC32ConfigurationFile(const QString&, const QString& version, const QString& sregpath)
{
  const QString Key = sregpath.trimmed();
  Registry::TRegistry Reg(Registry::KEY_READ);
  Reg.SetRootKey(Registry::HKEY_CURRENT_USER);
  QString RootFolder;
  if (Reg.OpenKeyReadOnly(Key)) {
    RootFolder = Reg.ReadString(QStringLiteral("RootDir"));
    sdcc32exepath = RootFolder;
  }
  const bool Win32Library = version == QLatin1String("DXE2") || version == QLatin1String("DXE3");
  QString SearchPath;
  if (Reg.OpenKeyReadOnly(Key + (Win32Library ? QStringLiteral("\\Library\\Win32") : QStringLiteral("\\Library"))))
    SearchPath = Reg.ReadString(SearchPathValue);

  const QString ConfigFile = CollapsePath(RootFolder + QStringLiteral("/Bin/dcc32.cfg"));
  // Without a root folder the path would name a file at the root of the
  // file system, which is no IDE's.
  if (RootFolder.trimmed().isEmpty())
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
  for (const QString& Criterion : PathsToRemove.Strings()) {
    // An empty criterion would be found in every entry.
    if (!Criterion.isEmpty() && Path.contains(Criterion))
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
