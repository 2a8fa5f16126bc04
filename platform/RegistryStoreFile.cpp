#include "platform/RegistryStoreFile.h"

#include "platform/Logging.h"
#include "platform/Registry.h"
#include "platform/Posix.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace Registry::StoreFile {

using Posix::TFd;

namespace {

bool Before(const timespec& A, const timespec& B)
{
  return A.tv_sec < B.tv_sec || (A.tv_sec == B.tv_sec && A.tv_nsec < B.tv_nsec);
}

// The coarsest steps in which file systems keep times.
constexpr time_t FileTimeStepSeconds = 2;

bool CanAccess(const QString& Path, int Mode)
{
  return ::faccessat(AT_FDCWD, QFile::encodeName(Path).constData(), Mode, AT_EACCESS) == 0;
}

}  // namespace

QString SystemText(int Error) { return QString::fromLocal8Bit(std::strerror(Error)); }

[[noreturn]] void RaiseSystem(const QString& What, const QString& Path, int Error)
{
  throw ERegistryException(QStringLiteral("%1 \"%2\": %3").arg(What, Path, SystemText(Error)));
}

std::optional<QByteArray> ReadStoreFile(const QString& Path, std::optional<TFileStamp>& Stamp)
{
  Stamp.reset();
  // A file system stamps changes with the kernel's coarse clock, some only
  // to the second or in steps of two (FAT): a file changed within such a
  // step before it was read could change again with the very same times.
  // Only a file older than that is told apart from any later change.
  timespec Settled{};
  ::clock_gettime(CLOCK_REALTIME_COARSE, &Settled);
  Settled.tv_sec -= FileTimeStepSeconds;
  // Without waiting: a pipe in the file's place would block the open until
  // someone writes to it.
  const TFd File = Posix::Open(QFile::encodeName(Path), O_RDONLY | O_NONBLOCK);
  if (!File.IsOpen()) {
    if (errno == ENOENT)
      return std::nullopt;
    RaiseSystem(QStringLiteral("Cannot read the registry file"), Path, errno);
  }
  struct stat St {};
  if (::fstat(File.Get(), &St) != 0)
    RaiseSystem(QStringLiteral("Cannot read the registry file"), Path, errno);
  // A folder, pipe or device (a link to /dev/zero never ends) holds no store,
  // and a write must not rename a file over it.
  if (!S_ISREG(St.st_mode))
    throw ERegistryException(QStringLiteral("The registry file \"%1\" is no regular file").arg(Path));
  QByteArray Bytes;
  if (const int Error = Posix::ReadAll(File.Get(), Bytes))
    RaiseSystem(QStringLiteral("Cannot read the registry file"), Path, Error);
  if (::fstat(File.Get(), &St) == 0 && St.st_size == Bytes.size() && Before(St.st_ctim, Settled))
    Stamp = TFileStamp::Of(St);
  return Bytes;
}

QString FolderOf(const QString& Path)
{
  const qsizetype Slash = Path.lastIndexOf(QLatin1Char('/'));
  return Slash < 0 ? QStringLiteral(".") : Slash == 0 ? QStringLiteral("/") : Path.left(Slash);
}

QString LinkTarget(const QString& Path)
{
  QString Current = Path;
  for (int Hops = 0; Hops < 40; ++Hops) {
    const QByteArray Name = QFile::encodeName(Current);
    struct stat St {};
    if (::lstat(Name.constData(), &St) != 0 || !S_ISLNK(St.st_mode))
      return Current;
    const std::optional<QByteArray> Target = Posix::ReadLinkAt(AT_FDCWD, Name.constData());
    if (!Target)
      RaiseSystem(QStringLiteral("Cannot read the link"), Current, errno);
    const QString Next = QFile::decodeName(*Target);
    Current = Next.startsWith(QLatin1Char('/')) ? Next : FolderOf(Current) + QLatin1Char('/') + Next;
  }
  RaiseSystem(QStringLiteral("Cannot follow the link"), Path, ELOOP);
}

bool CanWriteStore(const QString& Path, QString& Why)
{
  if (CanAccess(Path, F_OK) && !CanAccess(Path, W_OK)) {
    Why = QStringLiteral("Access denied: this user cannot write the registry file \"%1\"").arg(Path);
    return false;
  }
  QString Folder = FolderOf(Path);
  while (!CanAccess(Folder, F_OK) && errno == ENOENT && Folder != QLatin1String("/") && Folder != QLatin1String("."))
    Folder = FolderOf(Folder);
  if (!CanAccess(Folder, W_OK | X_OK)) {
    Why = QStringLiteral("Access denied: this user cannot write in the folder \"%1\" of the registry file \"%2\"")
            .arg(Folder, Path);
    return false;
  }
  return true;
}

void ReplaceFile(const QString& Path, const QByteArray& Bytes)
{
  const QString Temp = Path + QStringLiteral(".new");
  const QByteArray TempName = QFile::encodeName(Temp);
  ::unlink(TempName.constData());  // left by a writer that was killed
  struct stat Old {};
  const bool HasOld = ::stat(QFile::encodeName(Path).constData(), &Old) == 0;
  try {
    TFd File = Posix::Open(TempName, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (!File.IsOpen())
      RaiseSystem(QStringLiteral("Cannot create"), Temp, errno);
    if (HasOld) {
      if (::fchmod(File.Get(), Old.st_mode & 07777) != 0)
        RaiseSystem(QStringLiteral("Cannot set the permissions of"), Temp, errno);
      // Gives the file back to its owner when root edits it; anyone else
      // cannot and keeps it as their own.
      if (::fchown(File.Get(), Old.st_uid, Old.st_gid) != 0)
        qCWarning(Logging::Platform, "The registry file \"%s\" stays with its writer, not its owner %u: %s",
                  qUtf8Printable(Path), unsigned(Old.st_uid), qUtf8Printable(SystemText(errno)));
    }
    if (const int Error = Posix::WriteAll(File.Get(), Bytes.constData(), size_t(Bytes.size())))
      RaiseSystem(QStringLiteral("Cannot write"), Temp, Error);
    if (::fsync(File.Get()) != 0)
      RaiseSystem(QStringLiteral("Cannot flush"), Temp, errno);
    if (const int Error = File.Close())
      RaiseSystem(QStringLiteral("Cannot write"), Temp, Error);
    if (::rename(TempName.constData(), QFile::encodeName(Path).constData()) != 0)
      RaiseSystem(QStringLiteral("Cannot replace"), Path, errno);
  } catch (...) {
    ::unlink(TempName.constData());
    throw;
  }
  // The rename itself is durable only once the folder is flushed.
  const QString Folder = FolderOf(Path);
  const TFd Dir = Posix::Open(QFile::encodeName(Folder), O_RDONLY | O_DIRECTORY);
  if (!Dir.IsOpen() || ::fsync(Dir.Get()) != 0)
    RaiseSystem(QStringLiteral("Cannot flush the folder"), Folder, errno);
}

}  // namespace Registry::StoreFile
