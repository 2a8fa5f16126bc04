// Screenshot, comment block, archive and bug-report copy of a report, on a
// screen of canned pixels.

#include "package/Vesparoutil.h"

#include "hostfw/Exceptions.h"
#include "hostfw/FormatSettings.h"
#include "hostfw/TextFile.h"
#include "package/SynZip.h"
#include "package/halvernSynTaskDialog.h"
#include "platform/AnsiCodePage.h"
#include "platform/Screen.h"
#include "tests/support/ExpectedReport.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/ShownBoxes.h"
#include "tests/support/TempEnvironment.h"
#include "tests/support/ZipCheck.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace Vesparoutil;
using TestSupport::ReadAll;
using TestSupport::WriteAll;

namespace {

const QRgb CursorColour = qRgb(255, 0, 0);

QRgb DesktopPixel(int X, int Y) { return qRgb(X % 256, Y % 256, 100); }

// A 400 x 300 desktop whose every pixel tells its position, a window on it
// and a 3 x 3 red cursor with its hot spot in the middle.
struct TCannedScreen : Screen::TScreenSource {
  std::optional<QRect> Window = QRect(10, 20, 120, 90);
  QImage Desktop{400, 300, QImage::Format_RGB32};
  std::optional<Screen::TCursorInfo> Cursor;

  TCannedScreen()
  {
    for (int Y = 0; Y < Desktop.height(); ++Y)
      for (int X = 0; X < Desktop.width(); ++X)
        Desktop.setPixel(X, Y, DesktopPixel(X, Y));
    QImage Arrow(3, 3, QImage::Format_ARGB32_Premultiplied);
    Arrow.fill(CursorColour);
    Cursor = Screen::TCursorInfo{Arrow, QPoint(1, 1), QPoint(150, 120)};
    Screen::SetSource(this);
  }
  ~TCannedScreen() override { Screen::SetSource(nullptr); }

  std::optional<QRect> GetForegroundWindowRect() override { return Window; }
  QImage GrabDesktop(const QRect& Rect) override
  {
    QImage Image(Rect.size(), QImage::Format_RGB32);
    Image.fill(Qt::black);
    QPainter(&Image).drawImage(-Rect.topLeft(), Desktop);
    return Image;
  }
  std::optional<Screen::TCursorInfo> GetCursorInfo() override { return Cursor; }
};

int CursorPixels(const QImage& Image)
{
  int Count = 0;
  for (int Y = 0; Y < Image.height(); ++Y)
    for (int X = 0; X < Image.width(); ++X)
      Count += Image.pixel(X, Y) == CursorColour;
  return Count;
}

// The stamps of the next seconds, as the packaging will write them.
QStringList StampsFromNow(int Seconds)
{
  FormatSettings::SetDateSeparator(QLatin1Char('_'));
  FormatSettings::SetTimeSeparator(QLatin1Char('_'));
  QStringList Stamps;
  const QDateTime Now = QDateTime::currentDateTime();
  for (int I = 0; I < Seconds; ++I)
    Stamps << FormatSettings::DateLongTimeToStr(Now.addSecs(I));
  return Stamps;
}

class Packaging : public ::testing::Test {
protected:
  void SetUp() override
  {
    AnsiCodePage::SetACP(1252);
    TestSupport::UseReportFormats();
    sJpegFileName.clear();
    sZipFileName.clear();
    sZipFileNameForMailing.clear();
  }
  void TearDown() override
  {
    AnsiCodePage::SetACP(0);
    FormatSettings::Reset();
  }
  QString WriteReport(const QByteArray& Content)
  {
    QDir().mkpath(Env.DataFolder());
    WriteAll(FullHmldFilePath(), Content);
    return FullHmldFilePath();
  }

  TestSupport::TTempEnvironment Env{QStringLiteral("data home")};
  TCannedScreen Canned;
};

}  // namespace

TEST_F(Packaging, TheCaptureHoldsTheRectangleWithTheCursorWhereItLies)
{
  QImage Bitmap;
  CaptureScreenRect(Bitmap, QRect(100, 100, 80, 60), true);
  ASSERT_EQ(Bitmap.size(), QSize(80, 60));
  EXPECT_EQ(Bitmap.pixel(0, 0), DesktopPixel(100, 100));
  EXPECT_EQ(Bitmap.pixel(79, 59), DesktopPixel(179, 159));
  // Hot spot (1, 1) at (150, 120): the image starts at (149, 119).
  EXPECT_EQ(Bitmap.pixel(49, 19), CursorColour);
  EXPECT_EQ(Bitmap.pixel(51, 21), CursorColour);
  EXPECT_EQ(Bitmap.pixel(48, 18), DesktopPixel(148, 118));
  EXPECT_EQ(CursorPixels(Bitmap), 9);

  CaptureScreenRect(Bitmap, QRect(100, 100, 80, 60), false);
  EXPECT_EQ(CursorPixels(Bitmap), 0);

  // A cursor outside the rectangle does not show; a hidden one neither.
  Canned.Cursor->Position = QPoint(300, 250);
  CaptureScreenRect(Bitmap, QRect(100, 100, 80, 60), true);
  EXPECT_EQ(CursorPixels(Bitmap), 0);
  Canned.Cursor.reset();
  CaptureScreenRect(Bitmap, QRect(100, 100, 80, 60), true);
  EXPECT_EQ(Bitmap.pixel(49, 19), DesktopPixel(149, 119));

  // A maximised window's frame reaching beyond the screen keeps its size.
  CaptureScreenRect(Bitmap, QRect(-4, -4, 408, 308), true);
  EXPECT_EQ(Bitmap.size(), QSize(408, 308));
  EXPECT_EQ(Bitmap.pixel(4, 4), DesktopPixel(0, 0));

  CaptureForegroundWindow(Bitmap, true);
  EXPECT_EQ(Bitmap.size(), QSize(120, 90));
  EXPECT_EQ(Bitmap.pixel(0, 0), DesktopPixel(10, 20));
  Canned.Window.reset();
  CaptureForegroundWindow(Bitmap, true);
  EXPECT_TRUE(Bitmap.isNull());
}

TEST(RealScreenWithoutCursorImage, DrawsNoCursor)
{
  // The offscreen platform has no X server to read the cursor from: the
  // picture gets no cursor at all rather than one made up.
  Screen::TRealScreen Real;
  EXPECT_FALSE(Real.GetCursorInfo());
}

TEST_F(Packaging, TheScreenshotSetsTheThreeNamesFromOneStampAndTheSeparatorsForGood)
{
  ASSERT_FALSE(QFileInfo::exists(Env.DataFolder()));
  TakeScreenShotAndSaveInapplicationFolder();

  const QRegularExpression Picture(QRegularExpression::escape(Env.DataFolder()) +
                                   QStringLiteral("/(\\d\\d_\\d\\d_\\d{4} \\d\\d_\\d\\d_\\d\\d)\\.bmp"));
  const QRegularExpressionMatch Match = Picture.match(sJpegFileName);
  ASSERT_TRUE(Match.hasMatch() && Match.capturedLength() == sJpegFileName.size()) << sJpegFileName.toStdString();
  EXPECT_EQ(sZipFileName, Env.DataFolder() + QStringLiteral("/bugReport") + Match.captured(1) + QStringLiteral(".zip"));
  EXPECT_EQ(sZipFileNameForMailing, sZipFileName);

  // Python reads a bitmap of the window's size.
  const QList<int> Size = TestSupport::PythonBitmapSize(sJpegFileName);
  ASSERT_EQ(Size.size(), 3) << "no bitmap at " << sJpegFileName.toStdString();
  EXPECT_EQ(Size[0], 120);
  EXPECT_EQ(Size[1], 90);
  EXPECT_GE(Size[2], 24);

  // Every later date of the process reads with "_".
  EXPECT_EQ(FormatSettings::DateToStr(QDate(2026, 12, 7)), QStringLiteral("07_12_2026"));
  EXPECT_EQ(FormatSettings::DateLongTimeToStr(QDateTime(QDate(2026, 12, 7), QTime(3, 14, 56))),
            QStringLiteral("07_12_2026 03_14_56"));
}

TEST_F(Packaging, WithoutWindowOrFolderTheScreenshotSavesNoPicture)
{
  // No foreground window: names, but no picture.
  Canned.Window.reset();
  TakeScreenShotAndSaveInapplicationFolder();
  EXPECT_FALSE(sJpegFileName.isEmpty());
  EXPECT_FALSE(sZipFileName.isEmpty());
  EXPECT_FALSE(QFileInfo::exists(sJpegFileName));

  // No data folder can be made: the names stay as they were, silently.
  Canned.Window = QRect(0, 0, 10, 10);
  sJpegFileName = QStringLiteral("earlier.bmp");
  sZipFileName = sZipFileNameForMailing = QStringLiteral("earlier.zip");
  WriteAll(Env.Root() + QStringLiteral("/plain file"), "x");
  Env.Set("XDG_DATA_HOME", Env.Root() + QStringLiteral("/plain file/data"));
  TakeScreenShotAndSaveInapplicationFolder();
  EXPECT_EQ(sJpegFileName, QStringLiteral("earlier.bmp"));
  EXPECT_EQ(sZipFileName, QStringLiteral("earlier.zip"));
  EXPECT_EQ(sZipFileNameForMailing, QStringLiteral("earlier.zip"));
}

TEST_F(Packaging, APictureThatCannotBeSavedRaisesWithTheNamesAlreadySetAndLeavesNoPart)
{
  {
    const TestSupport::TFileSizeLimit NoRoom(4096);
    EXPECT_THROW(TakeScreenShotAndSaveInapplicationFolder(), EInOutError);
  }
  EXPECT_TRUE(sJpegFileName.startsWith(Env.DataFolder()));
  EXPECT_TRUE(sZipFileName.startsWith(Env.DataFolder() + QStringLiteral("/bugReport")));
  EXPECT_EQ(QDir(Env.DataFolder()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(Packaging, APictureOrArchiveOfTheSameStampGivesThePairTheNextFreeNumber)
{
  // Of each of the next seconds: a picture, and an archive numbered 2
  // whose report had no picture.
  QDir().mkpath(Env.DataFolder());
  QStringList Older;
  for (const QString& Stamp : StampsFromNow(4)) {
    Older << Env.DataFolder() + QLatin1Char('/') + Stamp + QStringLiteral(".bmp")
          << Env.DataFolder() + QStringLiteral("/bugReport") + Stamp + QStringLiteral("_2.zip");
    for (const QString& File : Older.mid(Older.size() - 2))
      WriteAll(File, "older");
  }
  TakeScreenShotAndSaveInapplicationFolder();
  const QRegularExpressionMatch Match =
    QRegularExpression(QRegularExpression::escape(Env.DataFolder()) +
                       QStringLiteral("/(\\d\\d_\\d\\d_\\d{4} \\d\\d_\\d\\d_\\d\\d)_3\\.bmp$"))
      .match(sJpegFileName);
  ASSERT_TRUE(Match.hasMatch()) << sJpegFileName.toStdString();
  EXPECT_EQ(sZipFileName, Env.DataFolder() + QStringLiteral("/bugReport") + Match.captured(1) + QStringLiteral("_3.zip"));
  EXPECT_EQ(sZipFileNameForMailing, sZipFileName);
  EXPECT_EQ(TestSupport::PythonBitmapSize(sJpegFileName).mid(0, 2), (QList<int>{120, 90}));
  for (const QString& File : Older)
    EXPECT_EQ(ReadAll(File), "older") << File.toStdString();
}

TEST_F(Packaging, TheCommentBlockEndsTheReport)
{
  const QString Report = WriteReport("|**************Stack_trace_error_end**************|\r\n");
  halvernSynTaskDialog::TTaskDialog::WriteCommentsZipAndImageNameToFile(
    QStringLiteral("It crashed é"), QStringLiteral("/d/07_12_2026 03_14_56.bmp"),
    QStringLiteral("/d/bugReport07_12_2026 03_14_56.zip"));
  EXPECT_EQ(ReadAll(Report), QByteArray("|**************Stack_trace_error_end**************|\r\n"
                                        "\r\n"
                                        "Comments by the User :It crashed \xE9\r\n"
                                        "\r\n"
                                        "Image path : /d/07_12_2026 03_14_56.bmp\r\n"
                                        "\r\n"
                                        "Zip file path : /d/bugReport07_12_2026 03_14_56.zip\r\n"));

  // No report to complete: an I/O error, after the data folder was made.
  QFile::remove(Report);
  QDir(Env.DataFolder()).removeRecursively();
  EXPECT_THROW(halvernSynTaskDialog::TTaskDialog::WriteCommentsZipAndImageNameToFile({}, {}, {}), EInOutError);
  EXPECT_TRUE(QFileInfo(Env.DataFolder()).isDir());
  EXPECT_FALSE(QFileInfo::exists(Report));
}

TEST_F(Packaging, TheArchiveHoldsPictureThenReportAndNeverReplacesAnother)
{
  const QByteArray ReportText = "OSName:Test machine;\r\n\r\nZip file path : x\r\n";
  const QString Report = WriteReport(ReportText);
  const QString Picture = Env.DataFolder() + QStringLiteral("/07_12_2026 03_14_56.bmp");
  WriteAll(Picture, QByteArray(3000, 'p'));
  const QString Archive = Env.DataFolder() + QStringLiteral("/bugReport07_12_2026 03_14_56.zip");

  EXPECT_EQ(SynZipZipper(Archive, Picture), Archive);
  QJsonArray Entries = TestSupport::PythonZipInfo(Archive)[QStringLiteral("entries")].toArray();
  ASSERT_EQ(Entries.size(), 2);
  EXPECT_EQ(Entries[0].toObject()[QStringLiteral("name")].toString(), QStringLiteral("07_12_2026 03_14_56.bmp"));
  EXPECT_EQ(Entries[0].toObject()[QStringLiteral("data")].toString(), QString(3000, QLatin1Char('p')));
  EXPECT_EQ(Entries[1].toObject()[QStringLiteral("name")].toString(), QFileInfo(Report).fileName());
  EXPECT_EQ(Entries[1].toObject()[QStringLiteral("data")].toString().toLatin1(), ReportText);
  for (const QJsonValue& Entry : Entries) {
    EXPECT_EQ(Entry.toObject()[QStringLiteral("method")].toInt(), 8);
    EXPECT_TRUE(Entry.toObject()[QStringLiteral("raw_is_zlib")].toBool());
  }
  EXPECT_EQ(TestSupport::UnzipTest(Archive).ExitCode, 0);

  // The same name again (a report of the same second, or another
  // program's): the first archive stays, the new one takes a number.
  // Without its picture it still carries the report.
  const QByteArray FirstArchive = ReadAll(Archive);
  QFile::remove(Picture);
  const QString Second = Env.DataFolder() + QStringLiteral("/bugReport07_12_2026 03_14_56_2.zip");
  EXPECT_EQ(SynZipZipper(Archive, Picture), Second);
  EXPECT_EQ(ReadAll(Archive), FirstArchive);
  Entries = TestSupport::PythonZipInfo(Second)[QStringLiteral("entries")].toArray();
  ASSERT_EQ(Entries.size(), 1);
  EXPECT_EQ(Entries[0].toObject()[QStringLiteral("name")].toString(), QFileInfo(Report).fileName());

  // No screenshot ever taken: no names, no archive, no error. Nothing
  // half-written is left anywhere.
  EXPECT_EQ(SynZipZipper(QString(), QString()), QString());
  EXPECT_EQ(QDir(Env.DataFolder()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

TEST_F(Packaging, TheCopyIsNamedByTheTimeOfCopyingAndNeverOverwritten)
{
  const QString Archive = Env.Root() + QStringLiteral("/archive.zip");
  WriteAll(Archive, "archive bytes");
  const QString AppFolder = Env.Root() + QStringLiteral("/app with blanks/");
  const QString Before = StampsFromNow(1).first();
  FormatSettings::SetDateSeparator(QLatin1Char('/'));
  const QString Copy = CopybugReportToFolder(AppFolder, Archive);
  EXPECT_EQ(FormatSettings::DateSeparator(), QLatin1Char('_'));
  const QStringList Copies = QDir(AppFolder + QStringLiteral("bugreport")).entryList(QDir::Files | QDir::Hidden);
  ASSERT_EQ(Copies.size(), 1);
  const QStringList Expected{QStringLiteral("bugReport_") + Before + QStringLiteral(".zip"),
                             QStringLiteral("bugReport_") + StampsFromNow(1).first() + QStringLiteral(".zip")};
  EXPECT_TRUE(Expected.contains(Copies[0])) << Copies[0].toStdString();
  EXPECT_EQ(Copy, AppFolder + QStringLiteral("bugreport/") + Copies[0]);
  EXPECT_EQ(ReadAll(Copy), "archive bytes");

  // Copies of the next seconds exist already: none is replaced, the new
  // one takes a number.
  const QString Other = Env.Root() + QStringLiteral("/other/");
  QDir().mkpath(Other + QStringLiteral("bugreport"));
  for (const QString& Stamp : StampsFromNow(4))
    WriteAll(Other + QStringLiteral("bugreport/bugReport_") + Stamp + QStringLiteral(".zip"), "older copy");
  const QString Numbered = CopybugReportToFolder(Other, Archive);
  EXPECT_TRUE(Numbered.endsWith(QStringLiteral("_2.zip"))) << Numbered.toStdString();
  EXPECT_EQ(ReadAll(Numbered), "archive bytes");
  const QStringList Olders = QDir(Other + QStringLiteral("bugreport")).entryList(QDir::Files | QDir::Hidden);
  EXPECT_EQ(Olders.size(), 5);
  for (const QString& Name : Olders) {
    if (Other + QStringLiteral("bugreport/") + Name != Numbered) {
      EXPECT_EQ(ReadAll(Other + QStringLiteral("bugreport/") + Name), "older copy");
    }
  }

  // No archive name, no archive, or an empty one: the folder, no copy, no
  // error.
  const QString Empty = Env.Root() + QStringLiteral("/empty/");
  const QString ZeroBytes = Env.Root() + QStringLiteral("/zero.zip");
  WriteAll(ZeroBytes, QByteArray());
  for (const QString& Missing : {QString(), Env.Root() + QStringLiteral("/missing.zip"), ZeroBytes})
    EXPECT_EQ(CopybugReportToFolder(Empty, Missing), QString());
  EXPECT_TRUE(QFileInfo(Empty + QStringLiteral("bugreport")).isDir());
  EXPECT_TRUE(QDir(Empty + QStringLiteral("bugreport")).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(Packaging, AZlibStatusTheWriterDoesNotExpectIsShownThenRaised)
{
  TestSupport::TShownBoxes Shown;
  const QString Source = Env.Root() + QStringLiteral("/source.txt");
  WriteAll(Source, "text");
  SynZip::TZipWrite Zip(Env.Root() + QStringLiteral("/status.zip"));
  try {
    Zip.AddDeflated(Source, true, 42);  // a level zlib refuses
    ADD_FAILURE() << "no error";
  } catch (const Exception& Error) {
    EXPECT_EQ(Error.Message(), QStringLiteral("ZCompress"));
  }
  EXPECT_EQ(Shown.Texts, QStringList{QString::number(Z_STREAM_ERROR)});
  EXPECT_EQ(Shown.Captions, QStringList{QStringLiteral("SynZip")});
  EXPECT_EQ(Zip.Count(), 0);
}
