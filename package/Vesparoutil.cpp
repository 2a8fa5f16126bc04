#include "package/Vesparoutil.h"

#include "hostfw/Application.h"
#include "hostfw/Exceptions.h"
#include "package/PackageLog.h"
#include "platform/Registry.h"
#include "platform/ShellFolders.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

#include <sys/stat.h>

namespace Vesparoutil {

QString sJpegFileName;
QString sZipFileName;
QString sZipFileNameForMailing;

namespace {
// The unit's finalization: the file names of one run do not outlive it.
struct TUnitLifetime {
  ~TUnitLifetime()
  {
    sJpegFileName.clear();
    sZipFileName.clear();
    sZipFileNameForMailing.clear();
  }
} UnitLifetime;
}  // namespace

QString getUserAppDataDirectOryPath() { return ShellFolders::SHGetFolderPathAppData(); }

QString GetThePath(QWidget* Handle)
{
  Q_UNUSED(Handle);
  return ShellFolders::SHGetFolderPathAppData();
}

QString GetMyDocuments()
{
  const QString Folder = ShellFolders::SHGetSpecialFolderPathCommonDocuments();
  return Folder.isEmpty() ? QString(FallbackMyDocuments) : Folder;
}

namespace {
// Never destroyed: the hand-off at the end of a crash helper's run, among
// the static destructors, still needs it.
QString& ReportedExeName()
{
  static auto* Name = new QString;
  return *Name;
}
}  // namespace

void SetReportedExeName(const QString& ExePath) { ReportedExeName() = ExePath; }

QString ApplicationExeName()
{
  if (!ReportedExeName().isEmpty())
    return ReportedExeName();
  if (const auto* App = Application::Instance())
    return App->ExeName();
  return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}

QString ExtractFileName(const QString& Path) { return Path.mid(Path.lastIndexOf(QLatin1Char('/')) + 1); }

QString ExtractFilePath(const QString& Path) { return Path.left(Path.lastIndexOf(QLatin1Char('/')) + 1); }

QString BaseNameOf(const QString& ExePath)
{
  const QString FileName = ExtractFileName(ExePath);
  const qsizetype Dot = FileName.lastIndexOf(QLatin1Char('.'));
  return Dot < 0 ? FileName : FileName.left(Dot);
}

QString DataFolderPath() { return getUserAppDataDirectOryPath() + QLatin1Char('/') + DataFolderName; }

QString ReportFilePathFor(const QString& ExePath)
{
  return DataFolderPath() + QLatin1Char('/') + BaseNameOf(ExePath) + ReportFileSuffix;
}

QString FullHmldFilePath() { return ReportFilePathFor(ApplicationExeName()); }

void ForceDataFolder(const QString& Folder)
{
  // A folder that cannot be made is told by the step that writes into it.
  if (!QFileInfo(Folder).isDir() && !QDir().mkpath(Folder))
    qCWarning(PackageLog).noquote() << "the data folder could not be made:" << Folder;
}

FileLock::TLockResult LockReportFile(FileLock::TFileLock& Lock, const QString& ReportPath, int TimeoutMs)
{
  struct stat Status;
  if (::lstat(QFile::encodeName(ReportPath).constData(), &Status) == 0 && !S_ISREG(Status.st_mode)) {
    const bool Link = S_ISLNK(Status.st_mode);
    throw EInOutError(QStringLiteral("The report file \"%1\" is %2; it is left as it is")
                        .arg(ReportPath, Link ? QStringLiteral("a symbolic link") : QStringLiteral("no regular file")),
                      Link ? ELOOP : EINVAL);
  }
  // The report file itself: a lock file beside it would be one more file
  // in the data folder, and could be taken apart from the report.
  return Lock.Acquire(ReportPath, TimeoutMs);
}

QString ReadRegistryValues(const QString& Key, bool CanCreate, const QString& Name, int Kind, bool CurrentUser)
{
  Registry::TRegistry Reg(Registry::KEY_ALL_ACCESS);
  Reg.SetRootKey(CurrentUser ? Registry::HKEY_CURRENT_USER : Registry::HKEY_LOCAL_MACHINE);
  if (!Reg.OpenKey(Key, CanCreate))
    return {};
  switch (Kind) {
    case 1: return Reg.ReadString(Name);
    case 2: return QString::number(Reg.ReadInteger(Name));
    default: return {};
  }
}

}  // namespace Vesparoutil
