// Screenshot and packaging of a report: the picture of the prompt, the
// archive of picture and report, and its copy beside the executable.

#include "package/Vesparoutil.h"

#include "hostfw/Exceptions.h"
#include "hostfw/FormatSettings.h"
#include "hostfw/TempFile.h"
#include "package/PackageLog.h"
#include "package/SynZip.h"
#include "platform/Screen.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QRect>

#include <cerrno>
#include <optional>

namespace Vesparoutil {

namespace {
const QLatin1Char Underscore('_');
const QString BitmapExtension = QStringLiteral(".bmp");
const QString ZipExtension = QStringLiteral(".zip");
const QString ArchivePrefix = QStringLiteral("bugReport");
const QString BugReportFolder = QStringLiteral("bugreport");
const QString BugReportCopyPrefix = QStringLiteral("/bugReport_");
constexpr qint64 CopyChunk = 1 << 16;

QString PictureName(const QString& Folder, const QString& Stamp, int Number)
{
  return TempFile::NumberedName(Folder + QLatin1Char('/') + Stamp + BitmapExtension, Number);
}

QString ArchiveName(const QString& Folder, const QString& Stamp, int Number)
{
  return TempFile::NumberedName(Folder + QLatin1Char('/') + ArchivePrefix + Stamp + ZipExtension, Number);
}

// The picture and the archive of one report share their number: the first
// from From on under which neither exists, left by an earlier report of
// the same second or by another program.
int FreePairNumber(const QString& Folder, const QString& Stamp, int From)
{
  int Number = From;
  while (QFileInfo::exists(PictureName(Folder, Stamp, Number)) ||
         QFileInfo::exists(ArchiveName(Folder, Stamp, Number))) {
    if (++Number > TempFile::MaxNumber)
      throw EInOutError::FromErrno(QStringLiteral("Rewrite"), PictureName(Folder, Stamp, 1), EEXIST);
  }
  return Number;
}

void SetReportNames(const QString& Folder, const QString& Stamp, int Number)
{
  sJpegFileName = PictureName(Folder, Stamp, Number);
  sZipFileName = ArchiveName(Folder, Stamp, Number);
  sZipFileNameForMailing = sZipFileName;
}

[[noreturn]] void RaiseWrite(const QString& FileName, int Error)
{
  throw EInOutError::FromErrno(QStringLiteral("Write"), FileName, Error ? Error : EIO);
}
}  // namespace
void CaptureScreenRect(QImage& Bitmap, const QRect& Rect, bool DrawCursor)
{
  Screen::TScreenSource& Source = Screen::Source();
  Bitmap = Source.GrabDesktop(Rect);
  if (!DrawCursor || Bitmap.isNull())
    return;
  // A cursor that cannot be read leaves the picture without one; one
  // outside the rectangle is drawn outside the bitmap, so it does not show.
  const std::optional<Screen::TCursorInfo> Cursor = Source.GetCursorInfo();
  if (!Cursor || Cursor->Image.isNull())
    return;
  QPainter Painter(&Bitmap);
  Painter.drawImage(Cursor->Position - Cursor->HotSpot - Rect.topLeft(), Cursor->Image);
}

void CaptureForegroundWindow(QImage& Bitmap, bool DrawCursor)
{
  const std::optional<QRect> Rect = Screen::Source().GetForegroundWindowRect();
  if (!Rect) {
    Bitmap = QImage();
    return;
  }
  CaptureScreenRect(Bitmap, *Rect, DrawCursor);
}

void TakeScreenShotAndSaveInapplicationFolder()
{
  // For good: file names must hold no "/" or ":".
  FormatSettings::SetDateSeparator(Underscore);
  FormatSettings::SetTimeSeparator(Underscore);
  const QString Stamp = FormatSettings::DateLongTimeToStr(QDateTime::currentDateTime());

  QImage Bitmap;
  CaptureForegroundWindow(Bitmap, true);

  const QString Folder = DataFolderPath();
  ForceDataFolder(Folder);
  if (!QFileInfo(Folder).isDir())
    return;
  int Number = FreePairNumber(Folder, Stamp, 1);
  SetReportNames(Folder, Stamp, Number);
  // No foreground window, nothing to show: the report goes without picture.
  if (Bitmap.isNull())
    return;
  // Whole or not at all: a full disk leaves no cut-off picture behind.
  TempFile::TTempFile Picture(Folder, QFileInfo(sJpegFileName).fileName());
  errno = 0;
  if (!Bitmap.save(&Picture.File(), "BMP"))
    RaiseWrite(sJpegFileName, errno);
  // Another program may take the name meanwhile; never over its picture.
  while (!Picture.PlaceNew(sJpegFileName)) {
    Number = FreePairNumber(Folder, Stamp, Number + 1);
    SetReportNames(Folder, Stamp, Number);
  }
}

QString SynZipZipper(const QString& ZipPath, const QString& FirstFile)
{
  // No screenshot named the archive: there is nothing to name it by.
  if (ZipPath.isEmpty())
    return {};
  const QFileInfo Target(ZipPath);
  TempFile::TTempFile Archive(Target.absolutePath(), Target.fileName());
  {
    SynZip::TZipWrite Zip(Archive.Path());
    if (!Zip.HasHandle())
      throw EInOutError::FromErrno(QStringLiteral("Rewrite"), ZipPath, errno ? errno : EIO);
    // Each file under its own guard: a missing picture must not keep the
    // report out of the archive. A failed write to the archive, though,
    // leaves an archive short of what it was given: it is not kept.
    for (const QString& File : {FirstFile, FullHmldFilePath()}) {
      try {
        Zip.AddDeflated(File, true, 6);
      } catch (...) {
        qCWarning(PackageLog).noquote() << QStringLiteral("%1 is not in the archive %2:").arg(File, ZipPath)
                                        << Exceptions::MessageOf(std::current_exception());
        if (Zip.WriteFailed())
          break;
      }
    }
    try {
      Zip.Close();
    } catch (const EInOutError& Error) {
      RaiseWrite(ZipPath, Error.ErrorCode);
    }
  }
  return Archive.PlaceNumbered(ZipPath);
}

QString CopybugReportToFolder(const QString& ExeFolder, const QString& ZipPath)
{
  FormatSettings::SetDateSeparator(Underscore);
  const QString Stamp = FormatSettings::DateLongTimeToStr(QDateTime::currentDateTime());
  const QString Folder = ExeFolder + BugReportFolder;
  const QString Target = Folder + BugReportCopyPrefix + Stamp + ZipExtension;
  if (!QFileInfo(Folder).isDir())
    QDir().mkpath(Folder);
  // Only a whole archive is copied; none, or an empty file, gives no copy.
  QFile Source(ZipPath);
  if (ZipPath.isEmpty())
    return {};
  if (!Source.open(QIODevice::ReadOnly)) {
    qCWarning(PackageLog).noquote() << QStringLiteral("no copy of %1:").arg(ZipPath) << Source.errorString();
    return {};
  }
  if (Source.size() == 0)
    return {};
  // A folder the user may not write in (an installed program's) gives no
  // copy and no complaint; a copy that fails half-way is removed and told.
  std::optional<TempFile::TTempFile> Copy;
  try {
    Copy.emplace(Folder, QFileInfo(Target).fileName());
  } catch (const EInOutError& Error) {
    qCWarning(PackageLog).noquote() << QStringLiteral("no copy of %1 in %2:").arg(ZipPath, Folder) << Error.Message();
    return {};
  }
  QByteArray Chunk;
  while (!(Chunk = Source.read(CopyChunk)).isEmpty()) {
    errno = 0;
    if (Copy->File().write(Chunk) != Chunk.size())
      RaiseWrite(Target, errno);
  }
  if (Source.error() != QFileDevice::NoError)
    throw EInOutError::FromErrno(QStringLiteral("Read"), ZipPath, EIO);
  // A copy of the same second is never replaced: this one takes a number.
  return Copy->PlaceNumbered(Target);
}

QString CopybugReportToDirectory(const QString& ZipPath)
{
  return CopybugReportToFolder(ExtractFilePath(ApplicationExeName()), ZipPath);
}

}  // namespace Vesparoutil
