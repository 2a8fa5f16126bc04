// Screenshot and packaging of a report: the picture of the prompt, the
// archive of picture and report, and its copy beside the executable.

#include "package/Vesparoutil.h"

#include "hostfw/Exceptions.h"
#include "hostfw/FormatSettings.h"
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
#include <filesystem>
#include <system_error>

namespace Vesparoutil {

namespace {
const QLatin1Char Underscore('_');
const QString BitmapExtension = QStringLiteral(".bmp");
const QString ZipExtension = QStringLiteral(".zip");
const QString ArchivePrefix = QStringLiteral("bugReport");
const QString BugReportFolder = QStringLiteral("bugreport");
const QString BugReportCopyPrefix = QStringLiteral("/bugReport_");

void SaveBitmap(const QImage& Bitmap, const QString& FileName)
{
  QFile File(FileName);
  errno = 0;
  if (!File.open(QIODevice::WriteOnly | QIODevice::Truncate))
    throw EInOutError::FromErrno(QStringLiteral("Rewrite"), FileName, errno ? errno : EIO);
  if (!Bitmap.save(&File, "BMP") || !File.flush())
    throw EInOutError::FromErrno(QStringLiteral("Write"), FileName, errno ? errno : EIO);
  File.close();
  if (File.error() != QFileDevice::NoError)
    throw EInOutError::FromErrno(QStringLiteral("Close"), FileName, errno ? errno : EIO);
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
  sJpegFileName = Folder + QLatin1Char('/') + Stamp + BitmapExtension;
  sZipFileName = Folder + QLatin1Char('/') + ArchivePrefix + Stamp + ZipExtension;
  sZipFileNameForMailing = sZipFileName;
  // No foreground window, nothing to show: the report goes without picture.
  if (!Bitmap.isNull())
    SaveBitmap(Bitmap, sJpegFileName);
}

void SynZipZipper(const QString& ZipPath, const QString& FirstFile)
{
  if (QFileInfo::exists(ZipPath))
    QFile::remove(ZipPath);
  SynZip::TZipWrite Zip(ZipPath);
  // Each file under its own guard: a missing picture must not keep the
  // report out of the archive.
  for (const QString& File : {FirstFile, FullHmldFilePath()}) {
    try {
      Zip.AddDeflated(File, true, 6);
    } catch (...) {
    }
  }
}

void CopybugReportToFolder(const QString& ExeFolder, const QString& ZipPath)
{
  FormatSettings::SetDateSeparator(Underscore);
  const QString Stamp = FormatSettings::DateLongTimeToStr(QDateTime::currentDateTime());
  const QString Folder = ExeFolder + BugReportFolder;
  const QString Target = Folder + BugReportCopyPrefix + Stamp + ZipExtension;
  if (!QFileInfo(Folder).isDir())
    QDir().mkpath(Folder);
  // Never over an existing copy; a copy that fails is not reported.
  std::error_code Ignored;
  std::filesystem::copy_file(std::filesystem::path(QFile::encodeName(ZipPath).toStdString()),
                             std::filesystem::path(QFile::encodeName(Target).toStdString()),
                             std::filesystem::copy_options::none, Ignored);
}

void CopybugReportToDirectory(const QString& ZipPath)
{
  CopybugReportToFolder(ExtractFilePath(ApplicationExeName()), ZipPath);
}

}  // namespace Vesparoutil
