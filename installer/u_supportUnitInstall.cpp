// Installing the package into one IDE: sources copied, the build batch
// written and started, the package registered and put on the search path.

#include "installer/u_supportUnit.h"

#include "hostfw/Exceptions.h"
#include "installer/CreatedFolders.h"
#include "installer/InstallerLog.h"
#include "installer/u_UtilsInstaller.h"
#include "platform/Registry.h"
#include "platform/ReplaceableSource.h"
#include "platform/Shell.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace u_supportUnit {

QString sdcc32exepath;

namespace {

struct TEdition {
  TDelphiVersions Version;
  const char* Code;
  // Appended to the IDE's root folder: the three newer IDEs record their
  // root with a trailing separator.
  const char* CompilerSuffix;
  const char* KnownPackagesText;
};

constexpr TEdition Editions[] = {
  {TDelphiVersions::Delphi6, "D6", "/Bin/dcc32.exe", "Delphi 6 Corvane Bpl File"},
  {TDelphiVersions::Delphi7, "D7", "/Bin/dcc32.exe", "Delphi 7 Corvane Bpl File"},
  {TDelphiVersions::Delphi2006, "D2006", "/Bin/dcc32.exe", "Delphi 2006 Corvane Bpl File"},
  {TDelphiVersions::Delphi2010, "D2010", "Bin/dcc32.exe", "Delphi 2010 Corvane Bpl File"},
  {TDelphiVersions::DelphiXE2, "DXE2", "Bin/dcc32.exe", "Delphi XE2 Corvane Bpl File"},
  {TDelphiVersions::DelphiXE3, "DXE3", "Bin/dcc32.exe", "Delphi XE3 Corvane Bpl File"},
};

const TEdition* EditionOf(TDelphiVersions Version)
{
  for (const TEdition& Edition : Editions) {
    if (Edition.Version == Version)
      return &Edition;
  }
  return nullptr;
}

ReplaceableSource::TReplaceableSource<TInstallerFolderSource> FolderSource;

const QString BatchName = QStringLiteral("Vesparo.bat");
const QString BuildLogName = QStringLiteral("Vesparo.log");

// Why a folder cannot be named where the installation names it, or "": the
// batch runner takes no line break, quote, "$", "`" or "\\" as a plain
// character inside a quoted word, and ";" separates the entries of the
// library search path. A U+FFFD stands for bytes that were not text and
// names another folder than the one meant.
QString UnnameableBecause(const QString& Path)
{
  for (const QChar C : Path) {
    if (C.unicode() < 0x20 || C.unicode() == 0x7F)
      return QStringLiteral("the control character U+%1, which the build batch cannot name")
        .arg(QString::number(C.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0')));
    if (C == QLatin1Char('"') || C == QLatin1Char('$') || C == QLatin1Char('`') || C == QLatin1Char('\\'))
      return QStringLiteral("\"%1\", which the build batch cannot name").arg(C);
    if (C == QLatin1Char(';'))
      return QStringLiteral("\";\", which separates the entries of the IDE's library search path");
    if (C == QChar::ReplacementCharacter)
      return QStringLiteral("bytes that are not UTF-8 text (shown as U+FFFD), so it cannot be named as it is");
  }
  return {};
}

// The path as a message may show it: control characters as "?".
QString Shown(const QString& Path)
{
  QString Result = Path;
  for (QChar& C : Result) {
    if (C.unicode() < 0x20 || C.unicode() == 0x7F)
      C = QLatin1Char('?');
  }
  return Result;
}

void RequireNameable(const QString& What, const QString& Path)
{
  const QString Why = UnnameableBecause(Path);
  if (!Why.isEmpty())
    throw Exception(QStringLiteral("The %1 \"%2\" holds %3").arg(What, Shown(Path), Why));
}

// A folder the installation writes into: an existing one must be a folder
// this user may create files in (a read-only file system counts too).
void RequireWritableFolder(const QString& Folder, bool MustExist)
{
  const QFileInfo Info(Folder);
  if (!Info.exists() && !MustExist)
    return;
  if (!Info.isDir())
    throw EInOutError::FromErrno(QStringLiteral("Open"), Folder, Info.exists() ? ENOTDIR : ENOENT);
  if (::access(QFile::encodeName(Folder).constData(), W_OK | X_OK) != 0)
    throw EInOutError::FromErrno(QStringLiteral("Write"), Folder, errno);
}

// The path as the file system resolves it, links included, also where its
// end does not exist yet: the canonical form of the part that does, then
// the rest.
QString ResolvedPath(const QString& Path)
{
  QString Existing = QDir::cleanPath(Path);
  QString Rest;
  while (!QFileInfo::exists(Existing) && Existing != QDir::rootPath()) {
    Rest = QLatin1Char('/') + QFileInfo(Existing).fileName() + Rest;
    Existing = QFileInfo(Existing).path();
  }
  const QString Canonical = QFileInfo(Existing).canonicalFilePath();
  return QDir::cleanPath((Canonical.isEmpty() ? Existing : Canonical) + Rest);
}

// Whether Inner is Outer or lies below it.
bool Within(const QString& Inner, const QString& Outer)
{
  return Inner == Outer || Inner.startsWith(Outer.endsWith(QLatin1Char('/')) ? Outer : Outer + QLatin1Char('/'));
}

// The copy of the shipped sources must neither land inside them (it would
// copy itself until the path is too long, and every later installation
// would copy the growth) nor swallow them.
void RequireApartFromSources(const QString& Target, const QString& Code)
{
  const QString Packages = ResolvedPath(InstallerFolder() + QStringLiteral("/Packages"));
  const QString Source = ResolvedPath(Packages + QLatin1Char('/') + Code);
  const QString Copy = ResolvedPath(Target + QStringLiteral("/CVVesparo/") + Code);
  if (Within(ResolvedPath(Target), Packages) || Within(Copy, Source) || Within(Source, Copy))
    throw Exception(QStringLiteral("The target folder \"%1\" overlaps the installer's own package sources %2, which "
                                   "the installation copies from")
                      .arg(Shown(Target), Packages));
}

std::filesystem::path FsPath(const QString& Path) { return std::filesystem::path(QFile::encodeName(Path).toStdString()); }

// The batch is read by a program that opens the files it names, so its
// bytes are the file system's names of them. Replaces an earlier batch
// whole or not at all.
void WriteBatch(const QString& FileName, const QString& Line)
{
  QSaveFile File(FileName);
  if (!File.open(QIODevice::WriteOnly))
    throw EInOutError::FromErrno(QStringLiteral("Rewrite"), FileName, errno ? errno : EIO);
  const QByteArray Bytes = QFile::encodeName(Line) + "\r\n";
  if (File.write(Bytes) != Bytes.size() || !File.commit())
    throw EInOutError::FromErrno(QStringLiteral("Write"), FileName, errno ? errno : EIO);
}

// The build's log, emptied of an earlier build's words.
void StartEmptyLog(const QString& FileName)
{
  QFile Log(FileName);
  if (!Log.open(QIODevice::WriteOnly | QIODevice::Truncate))
    throw EInOutError::FromErrno(QStringLiteral("Rewrite"), FileName, errno ? errno : EIO);
}

}  // namespace

QString EditionCode(TDelphiVersions Version)
{
  const TEdition* Edition = EditionOf(Version);
  return Edition ? QString::fromLatin1(Edition->Code) : QString();
}

QString CollapsePath(const QString& Path)
{
  QString Result = Path;
  Result.replace(QLatin1String("//"), QLatin1String("/"));
  return Result.trimmed();
}

void SetInstallerFolderSource(TInstallerFolderSource Source) { FolderSource.Set(std::move(Source)); }

QString InstallerFolder()
{
  const TInstallerFolderSource Source = FolderSource.Get();
  return Source ? Source() : QCoreApplication::applicationDirPath();
}

namespace {

// CopyDir with the reason of a failure.
std::error_code CopyFolder(const QString& fromDir, const QString& toDir)
{
  const QFileInfo From(QDir::cleanPath(fromDir));
  if (fromDir.isEmpty() || !From.isDir())
    return std::make_error_code(From.exists() ? std::errc::not_a_directory : std::errc::no_such_file_or_directory);
  if (!QFileInfo(toDir).isDir())
    return std::make_error_code(std::errc::no_such_file_or_directory);
  namespace fs = std::filesystem;
  std::error_code Error;
  fs::copy(FsPath(From.filePath()), FsPath(toDir) / FsPath(From.fileName()),
           fs::copy_options::recursive | fs::copy_options::overwrite_existing, Error);
  return Error;
}

// CreateAndCopypackageFiles with the reason of a failure.
QString CopyPackageFiles(const QString& sSource, const QString& sDestinationPath, std::error_code& Error)
{
  const QString Root = sDestinationPath + QStringLiteral("/CVVesparo/");
  if (!QDir().mkpath(Root))
    Error = std::error_code(errno ? errno : EIO, std::generic_category());
  else
    Error = CopyFolder(sSource, Root);
  return Error ? QString() : Root;
}

}  // namespace

bool CopyDir(const QString& fromDir, const QString& toDir)
{
  const std::error_code Error = CopyFolder(fromDir, toDir);
  if (Error)
    qCWarning(Logging::Installer) << "copy of" << fromDir << "into" << toDir << "failed:" << Error.message().c_str();
  return !Error;
}

QString CreateAndCopypackageFiles(const QString& sSource, const QString& sDestinationPath, TDelphiVersions)
{
  std::error_code Error;
  return CopyPackageFiles(sSource, sDestinationPath, Error);
}

namespace {

// The compiler the batch names: the IDE's root folder and the edition's
// suffix.
QString CompilerOf(const TEdition& Edition, const QString& RootFolder)
{
  const QString Compiler = RootFolder + QLatin1String(Edition.CompilerSuffix);
  return Edition.Version == TDelphiVersions::Delphi2006 ? CollapsePath(Compiler) : Compiler;
}

// Steps 1 to 6 of an installation that has passed its checks.
void RunInstallation(const QString& sRegPath, const TEdition& Edition, const QString& Target)
{
  const TDelphiVersions tDelphiName = Edition.Version;
  const QString C = QString::fromLatin1(Edition.Code);
  const QString& K = DelphiRegPaths[int(tDelphiName)];
  EditDCC32ConfigurationFile(Target, C, K);

  const QString Source = InstallerFolder() + QStringLiteral("/Packages/") + C;
  std::error_code CopyError;
  QString R = CopyPackageFiles(Source, Target, CopyError);
  // Without its copy the paths below would start at the root folder.
  if (R.isEmpty())
    throw EInOutError::FromErrno(QStringLiteral("Copy"), Source + QStringLiteral(" into ") + Target,
                                 CopyError.value() ? CopyError.value() : EIO);

  const QString Project =
    CollapsePath(QLatin1Char('"') + R + QLatin1Char('/') + C + QStringLiteral("/DCU/CVVesparo") + C +
                 QStringLiteral(".dpk\""));
  R = R.trimmed();

  sdcc32exepath = QLatin1Char('"') + CompilerOf(Edition, sdcc32exepath) + QLatin1Char('"');

  WriteBatch(R + QLatin1Char('/') + C + QStringLiteral("/DCU/") + BatchName,
             sdcc32exepath + QStringLiteral(" -b ") + Project);

  if (tDelphiName == TDelphiVersions::Delphi6 || tDelphiName == TDelphiVersions::Delphi7)
    R = CollapsePath(R);

  const QString DcuFolder = R + QLatin1Char('/') + C + QStringLiteral("/DCU");
  // The build is not waited for: what it says, its errors above all, stays
  // beside the batch for the user to read.
  const QString Log = DcuFolder + QLatin1Char('/') + BuildLogName;
  StartEmptyLog(Log);
  const int Started = Shell::RunBatch(DcuFolder + QLatin1Char('/') + BatchName, DcuFolder, Log);
  // A batch that never started builds nothing: no success to report.
  if (Started <= 32)
    throw EInOutError::FromErrno(QStringLiteral("Open"), DcuFolder + QLatin1Char('/') + BatchName,
                                 Started == Shell::SE_ERR_ACCESSDENIED ? EACCES : ENOENT);
  qCInfo(Logging::Installer).noquote() << "the package build runs; its output goes to" << Log;

  if (processExists(QStringLiteral("cmd.exe"))) {
    QCoreApplication::processEvents();
    QThread::msleep(1);
  }

  QString LibPath = R;
  const QString Bpl = CollapsePath(R + C + QStringLiteral("/DCU/CVVesparo") + C + QStringLiteral(".bpl"));
  u_UtilsInstaller::WriteValueToRegisTry(sRegPath + QStringLiteral("\\Known Packages"), false, Bpl,
                                         QLatin1String(Edition.KnownPackagesText));

  LibPath += C + QStringLiteral("/DCU");
  if (tDelphiName != TDelphiVersions::Delphi6)
    LibPath = CollapsePath(LibPath);
  AddLibSearchPath(LibPath, K);
}

}  // namespace

void CheckInstallation(TDelphiVersions tDelphiName, const QString& sCopyingPath, bool TargetToBeMade)
{
  const TEdition* Edition = EditionOf(tDelphiName);
  if (!Edition)
    return;
  const QString& Target = sCopyingPath;
  RequireNameable(QStringLiteral("target folder"), Target);
  // A relative one would be taken from wherever the process stands (the
  // folder chooser leaves it at the root).
  if (QDir::isRelativePath(Target))
    throw Exception(QStringLiteral("The target folder \"%1\" is not an absolute path").arg(Shown(Target)));
  if (TargetToBeMade && !QFileInfo::exists(Target)) {
    // It will be made in the nearest folder that is there.
    QString Existing = QDir::cleanPath(Target);
    while (!QFileInfo::exists(Existing) && Existing != QDir::rootPath())
      Existing = QFileInfo(Existing).path();
    RequireWritableFolder(Existing, true);
  } else {
    RequireWritableFolder(Target, true);
  }
  const QString Code = QLatin1String(Edition->Code);
  RequireApartFromSources(Target, Code);
  const QString Package = Target + QStringLiteral("/CVVesparo/") + Code;
  for (const QString& Folder : {Target + QStringLiteral("/CVVesparo"), Package, Package + QStringLiteral("/DCU")})
    RequireWritableFolder(Folder, false);
  // The batch file and the build's log are replaced; anything else of
  // those names would only fail once dcc32.cfg is changed and the copy made.
  for (const QString& Name : {BatchName, BuildLogName}) {
    const QFileInfo Found(Package + QStringLiteral("/DCU/") + Name);
    if ((Found.exists() || Found.isSymLink()) && (!Found.isFile() || Found.isSymLink()))
      throw Exception(QStringLiteral("\"%1\" is in the way: it is no regular file").arg(Found.filePath()));
  }
  const QString Source = InstallerFolder() + QStringLiteral("/Packages/") + Code;
  if (!QFileInfo(Source).isDir())
    throw EInOutError::FromErrno(QStringLiteral("Copy"), Source, ENOENT);

  const QString Key = DelphiRegPaths[int(tDelphiName)];
  Registry::TRegistry Reg(Registry::KEY_READ);
  Reg.SetRootKey(Registry::HKEY_CURRENT_USER);
  const QString RootFolder =
    Reg.OpenKeyReadOnly(Key) ? Reg.ReadString(QStringLiteral("RootDir")).trimmed() : QString();
  const QString ConfigFile = ConfigurationFileOf(RootFolder);
  const QString RootDirName = QStringLiteral("IDE folder (RootDir of HKEY_CURRENT_USER%1 in the registry store %2)")
                                .arg(Key, Registry::StoreFilePath(Registry::HKEY_CURRENT_USER));
  // Without a root folder the paths would name files at the root of the
  // file system, which are no IDE's.
  if (RootFolder.isEmpty())
    throw EInOutError::FromErrno(QStringLiteral("Append"), ConfigFile, ENOENT);
  RequireNameable(RootDirName, RootFolder);
  // A relative one would name the compiler below the package's folder.
  if (QDir::isRelativePath(RootFolder))
    throw Exception(QStringLiteral("The %1 \"%2\" is not an absolute path").arg(RootDirName, Shown(RootFolder)));
  OpenConfigurationFile(ConfigFile);
  // The build is not waited for, so a compiler that cannot run would fail
  // unseen after "Complete".
  const QFileInfo Compiler(CompilerOf(*Edition, RootFolder));
  if (!Compiler.isFile() || !Compiler.isExecutable())
    throw Exception(QStringLiteral("The IDE's compiler \"%1\" is %2")
                      .arg(Compiler.filePath(), Compiler.exists() ? QStringLiteral("not an executable file")
                                                                  : QStringLiteral("missing")));
}

void InstallHalvernMLDPack(const QString& sRegPath, TDelphiVersions tDelphiName, const QString& sCopyingPath)
{
  const TEdition* Edition = EditionOf(tDelphiName);
  if (!Edition)
    return;
  // Whatever can refuse the installation does so before anything changes.
  CheckInstallation(tDelphiName, sCopyingPath);
  const QString& Target = sCopyingPath;
  // The package's folders are made by the copy; after a failure those left
  // empty go again.
  const CreatedFolders::TCreatedFolders Made(
    {Target + QStringLiteral("/CVVesparo/") + QLatin1String(Edition->Code) + QStringLiteral("/DCU")});
  try {
    RunInstallation(sRegPath, *Edition, Target);
  } catch (...) {
    Made.RemoveEmpty();
    throw;
  }
}

}  // namespace u_supportUnit
