#include "hostfw/TempFile.h"

#include "hostfw/Exceptions.h"
#include "hostfw/Logging.h"
#include "platform/Posix.h"

#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace TempFile {

namespace {

[[noreturn]] void Raise(const QString& Operation, const QString& FileName, int Error)
{
  throw EInOutError::FromErrno(Operation, FileName, Error ? Error : EIO);
}

// rename without replacing; where the file system cannot do that in one
// step, a hard link, which fails just as atomically when the name is taken.
int RenameNoReplace(const QByteArray& From, const QByteArray& To)
{
  if (::renameat2(AT_FDCWD, From.constData(), AT_FDCWD, To.constData(), RENAME_NOREPLACE) == 0)
    return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
    return errno;
  if (::link(From.constData(), To.constData()) != 0)
    return errno;
  ::unlink(From.constData());
  return 0;
}

}  // namespace

TTempFile::TTempFile(const QString& Folder, const QString& Name) : FShownName(Folder + QLatin1Char('/') + Name)
{
  // Not mkstemp: its files are private to the user, where the final file
  // gets the permissions the user's umask gives any other new file.
  const QByteArray Prefix = QFile::encodeName(Folder + QStringLiteral("/.") + Name) + '.';
  Posix::TFd Handle;
  QByteArray Candidate;
  for (int Try = 0; !Handle.IsOpen(); ++Try) {
    Candidate = Prefix + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
    Handle = Posix::Open(Candidate, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (!Handle.IsOpen() && (errno != EEXIST || Try >= 100))
      Raise(QStringLiteral("Rewrite"), FShownName, errno);
  }
  FPath = QFile::decodeName(Candidate);
  // From here the file closes the descriptor.
  if (FFile.open(Handle.Get(), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
    Handle.Release();
  } else {
    Handle.Close();
    ::unlink(Candidate.constData());
    Raise(QStringLiteral("Rewrite"), FShownName, EIO);
  }
}

TTempFile::~TTempFile()
{
  FFile.close();
  if (!FPlaced)
    ::unlink(QFile::encodeName(FPath).constData());
}

void TTempFile::Finish()
{
  if (FFinished)
    return;
  // What the buffer still holds may be what no longer fits.
  errno = 0;
  if (!FFile.flush())
    Raise(QStringLiteral("Write"), FShownName, errno);
  if (::fsync(FFile.handle()) != 0)
    Raise(QStringLiteral("Write"), FShownName, errno);
  FFile.close();
  if (FFile.error() != QFileDevice::NoError)
    Raise(QStringLiteral("Close"), FShownName, errno);
  FFinished = true;
}

bool TTempFile::PlaceNew(const QString& Target)
{
  Finish();
  const int Error = RenameNoReplace(QFile::encodeName(FPath), QFile::encodeName(Target));
  if (Error == EEXIST)
    return false;
  if (Error != 0)
    Raise(QStringLiteral("Rename"), Target, Error);
  FPlaced = true;
  FPath = Target;
  // The new name is lasting only once its folder is written out too.
  const Posix::TFd Folder = Posix::Open(QFile::encodeName(QFileInfo(Target).absolutePath()), O_RDONLY | O_DIRECTORY);
  if (!Folder.IsOpen() || ::fsync(Folder.Get()) != 0)
    qCWarning(Logging::HostFw, "The folder of \"%s\" was not flushed: %s", qUtf8Printable(Target),
              std::strerror(errno));
  return true;
}

QString TTempFile::PlaceNumbered(const QString& Path)
{
  for (int Number = 1; Number <= MaxNumber; ++Number) {
    const QString Target = NumberedName(Path, Number);
    if (PlaceNew(Target))
      return Target;
  }
  Raise(QStringLiteral("Rename"), Path, EEXIST);
}

QString NumberedName(const QString& Path, int Number)
{
  if (Number <= 1)
    return Path;
  const qsizetype NameStart = Path.lastIndexOf(QLatin1Char('/')) + 1;
  qsizetype Dot = Path.lastIndexOf(QLatin1Char('.'));
  if (Dot < NameStart)
    Dot = Path.size();
  return Path.left(Dot) + QLatin1Char('_') + QString::number(Number) + Path.mid(Dot);
}

}  // namespace TempFile
