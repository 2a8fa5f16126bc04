// Installing the package into one IDE: sources copied, the build batch
// written and started, the package registered and put on the search path.

#include "installer/u_supportUnit.h"

#include "hostfw/Exceptions.h"
#include "installer/InstallerLog.h"
#include "installer/u_UtilsInstaller.h"
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
// What the batch runner treats as no plain character inside a quoted
// word, and line breaks: a path holding one could not be named in the
// batch line without changing what the line does.
bool UnsafeInBatch(const QString& Path)
{
  for (const QChar C : Path) {
    if (C.unicode() < 0x20 || C.unicode() == 0x7F || C == QLatin1Char('"') || C == QLatin1Char('$') ||
        C == QLatin1Char('`') || C == QLatin1Char('\\'))
      return true;
  }
  return false;
}

void RequireSafeInBatch(const QString& What, const QString& Path)
{
  if (!UnsafeInBatch(Path))
    return;
  QString Shown = Path;
  for (QChar& C : Shown) {
    if (C.unicode() < 0x20 || C.unicode() == 0x7F)
      C = QLatin1Char('?');
  }
  throw Exception(QStringLiteral("The %1 \"%2\" holds a control character, a quote, \"$\", \"`\" or \"\\\", "
                                 "which the build batch cannot name")
                    .arg(What, Shown));
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

bool CopyDir(const QString& fromDir, const QString& toDir)
{
  const QFileInfo From(QDir::cleanPath(fromDir));
  if (fromDir.isEmpty() || !From.isDir() || !QFileInfo(toDir).isDir())
    return false;
  namespace fs = std::filesystem;
  std::error_code Error;
  fs::copy(FsPath(From.filePath()), FsPath(toDir) / FsPath(From.fileName()),
           fs::copy_options::recursive | fs::copy_options::overwrite_existing, Error);
  if (Error)
    qCWarning(Logging::Installer) << "copy of" << fromDir << "into" << toDir << "failed:" << Error.message().c_str();
  return !Error;
}

QString CreateAndCopypackageFiles(const QString& sSource, const QString& sDestinationPath, TDelphiVersions)
{
  const QString Root = sDestinationPath + QStringLiteral("/CVVesparo/");
  QDir().mkpath(Root);
  return CopyDir(sSource, Root) ? Root : QString();
}

void InstallHalvernMLDPack(const QString& sRegPath, TDelphiVersions tDelphiName, const QString& sCopyingPath)
{
  const TEdition* Edition = EditionOf(tDelphiName);
  if (!Edition)
    return;
  const QString C = QString::fromLatin1(Edition->Code);
  const QString& K = DelphiRegPaths[int(tDelphiName)];
  // A relative folder would be registered relative to wherever the IDE runs.
  const QString Target =
    QDir::isRelativePath(sCopyingPath) ? QDir::currentPath() + QLatin1Char('/') + sCopyingPath : sCopyingPath;
  RequireSafeInBatch(QStringLiteral("target folder"), Target);

  EditDCC32ConfigurationFile(Target, C, K);
  RequireSafeInBatch(QStringLiteral("IDE folder"), sdcc32exepath);

  const QString Source = InstallerFolder() + QStringLiteral("/Packages/") + C;
  QString R = CreateAndCopypackageFiles(Source, Target, tDelphiName);
  // Without its copy the paths below would start at the root folder.
  if (R.isEmpty())
    throw EInOutError::FromErrno(QStringLiteral("Copy"), Source, EIO);

  const QString Project =
    CollapsePath(QLatin1Char('"') + R + QLatin1Char('/') + C + QStringLiteral("/DCU/CVVesparo") + C +
                 QStringLiteral(".dpk\""));
  R = R.trimmed();

  sdcc32exepath = QLatin1Char('"') + sdcc32exepath + QLatin1String(Edition->CompilerSuffix) + QLatin1Char('"');
  if (tDelphiName == TDelphiVersions::Delphi2006)
    sdcc32exepath = CollapsePath(sdcc32exepath);

  WriteBatch(R + QLatin1Char('/') + C + QStringLiteral("/DCU/") + BatchName,
             sdcc32exepath + QStringLiteral(" -b ") + Project);

  if (tDelphiName == TDelphiVersions::Delphi6 || tDelphiName == TDelphiVersions::Delphi7)
    R = CollapsePath(R);

  const QString DcuFolder = R + QLatin1Char('/') + C + QStringLiteral("/DCU");
  const int Started = Shell::ShellExecute(nullptr, QStringLiteral("open"), DcuFolder + QLatin1Char('/') + BatchName,
                                          QString(), DcuFolder, Shell::SW_SHOWNORMAL);
  // A batch that never started builds nothing: no success to report.
  if (Started <= 32)
    throw EInOutError::FromErrno(QStringLiteral("Open"), DcuFolder + QLatin1Char('/') + BatchName,
                                 Started == Shell::SE_ERR_ACCESSDENIED ? EACCES : ENOENT);

  if (processExists(QStringLiteral("cmd.exe"))) {
    QCoreApplication::processEvents();
    QThread::msleep(1);
  }

  QString LibPath = R;
  const QString Bpl = CollapsePath(R + C + QStringLiteral("/DCU/CVVesparo") + C + QStringLiteral(".bpl"));
  u_UtilsInstaller::WriteValueToRegisTry(sRegPath + QStringLiteral("\\Known Packages"), false, Bpl,
                                         QLatin1String(Edition->KnownPackagesText));

  LibPath += C + QStringLiteral("/DCU");
  if (tDelphiName != TDelphiVersions::Delphi6)
    LibPath = CollapsePath(LibPath);
  AddLibSearchPath(LibPath, K);
}

}  // namespace u_supportUnit
