// Reports never lose or mix one another: an exception raised while a report
// is under way waits for it, reports of one second keep their own files,
// and a report file held by another writer is waited for, within bounds.

#include "package/Vesparo.h"

#include "hostfw/FormatSettings.h"
#include "platform/AnsiCodePage.h"
#include "platform/FileLock.h"
#include "tests/package/VesparoTestSupport.h"
#include "tests/support/ExpectedReport.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempEnvironment.h"
#include "tests/support/ZipCheck.h"

#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

#include <sys/stat.h>

using namespace VesparoTests;
using TestSupport::ReadAll;

namespace {

class OneReportAtATime : public ::testing::Test {
protected:
  void SetUp() override
  {
    AnsiCodePage::SetACP(1252);
    TestSupport::UseReportFormats();
    Component.SetMLDActive(true);
    Component.LoadedNow();
  }
  void TearDown() override
  {
    App().SetOnException({});
    App().SetModalHook({});
    Vesparo::bShallOpen = false;
    Vesparo::ReportLockWaitMs = SavedWait;
    AnsiCodePage::SetACP(0);
    FormatSettings::Reset();
  }

  QString ReportPath() const { return Vesparoutil::FullHmldFilePath(); }

  // Each prompt and box is recorded and answered with OK; Inside, when set,
  // runs first, while the prompt is open.
  void AnswerEveryBox()
  {
    App().SetModalHook([this](QDialog& Dialog) {
      Shown << TestSupport::ShownText(Dialog);
      if (Inside)
        std::exchange(Inside, {})();
      // After what Inside posted, as a user's click would come later.
      QTimer::singleShot(0, &Dialog, [Target = QPointer<QDialog>(&Dialog)] {
        if (Target)
          Application::PressOk(*Target);
      });
    });
  }

  // The archives of the data folder, oldest name first, each with the
  // report it holds and the names of its entries.
  struct TArchive {
    QString Path;
    QStringList Entries;
    QByteArray Report;
  };
  QList<TArchive> Archives() const
  {
    QList<TArchive> Result;
    const QDir Folder(Env.DataFolder());
    for (const QString& Name : Folder.entryList({QStringLiteral("bugReport*.zip")}, QDir::Files, QDir::Name)) {
      TArchive Archive{Folder.filePath(Name), {}, {}};
      for (const QJsonValue& Entry : TestSupport::PythonZipInfo(Archive.Path)[QStringLiteral("entries")].toArray()) {
        Archive.Entries << Entry.toObject()[QStringLiteral("name")].toString();
        if (Archive.Entries.back().endsWith(Vesparoutil::ReportFileSuffix))
          Archive.Report = Entry.toObject()[QStringLiteral("data")].toString().toLatin1();
      }
      Result << Archive;
    }
    return Result;
  }

  TestSupport::TTempEnvironment Env{QStringLiteral("home with blanks")};
  TRecordingVesparo Component;
  QStringList Shown;
  std::function<void()> Inside;
  const int SavedWait = Vesparo::ReportLockWaitMs;
};

// A mail step that runs a message loop of its own, as the mail's progress
// window does, and meets an exception there.
class TMailingVesparo : public TRecordingVesparo {
public:
  std::function<void()> WhileMailing;
  int Mails = 0;
  void EmailDoc(const QString&, const QString&, const QString&) override
  {
    ++Mails;
    QEventLoop Loop;
    if (WhileMailing)
      QTimer::singleShot(0, &Loop, std::exchange(WhileMailing, {}));
    QTimer::singleShot(50, &Loop, &QEventLoop::quit);
    Loop.exec();
  }
};

// The value of a "Key : value" line of the comment block.
QString CommentLine(const QByteArray& Report, const QByteArray& Key)
{
  const qsizetype Start = Report.lastIndexOf("\r\n" + Key);
  if (Start < 0)
    return {};
  const qsizetype ValueStart = Start + 2 + Key.size();
  return QString::fromLatin1(Report.mid(ValueStart, Report.indexOf("\r\n", ValueStart) - ValueStart));
}

}  // namespace

TEST_F(OneReportAtATime, AnExceptionDuringThePromptIsReportedAfterItWithItsOwnFiles)
{
  const int InnerLine = __LINE__ + 1;
  TRaisingButton Inner([] { throw std::logic_error("inner"); });
  TRaisingButton Outer([] { throw std::runtime_error("outer"); });
  AnswerEveryBox();
  Inside = [&Inner] { QMetaObject::invokeMethod(&Inner.Button, &QPushButton::click, Qt::QueuedConnection); };
  Outer.Click();

  // The outer prompt was completed first, then the inner one was shown.
  EXPECT_EQ(Shown, (QStringList{QStringLiteral("Details:\nouter"), QStringLiteral("Details:\ninner")}));
  EXPECT_EQ(Component.Passes, 2);

  // Each report in an archive of its own, with its own picture, one
  // exception and one comment block each.
  const QList<TArchive> Found = Archives();
  ASSERT_EQ(Found.size(), 2);
  for (int I = 0; I < 2; ++I) {
    const QByteArray& Report = Found[I].Report;
    EXPECT_EQ(Report.count("Exception_Log_start"), 1) << Report.toStdString();
    EXPECT_EQ(Report.count("Stack_trace_error_start"), 1);
    EXPECT_EQ(Report.count("Comments by the User :"), 1);
    EXPECT_EQ(CommentLine(Report, "Zip file path : "), Found[I].Path);
    ASSERT_EQ(Found[I].Entries.size(), 2);
    EXPECT_EQ(QFileInfo(CommentLine(Report, "Image path : ")).fileName(), Found[I].Entries[0]);
    EXPECT_TRUE(QFileInfo(CommentLine(Report, "Image path : ")).isFile());
  }
  const QByteArray& First = Found[0].Report;
  const QByteArray& Second = Found[1].Report;
  EXPECT_TRUE(First.contains("Excep_sErrorType :outer;\r\nExcep_sErrorclass :std::runtime_error;"));
  EXPECT_FALSE(First.contains("inner"));
  EXPECT_TRUE(Second.contains("Excep_ClassName :QPushButton;"));
  // Dated as it arrived: before the outer prompt's picture set "_" as the
  // process's date separator.
  EXPECT_TRUE(QRegularExpression(QStringLiteral("Excep_date :\\d\\d/\\d\\d/\\d{4};"))
                .match(QString::fromLatin1(Second))
                .hasMatch());
  EXPECT_TRUE(Second.contains("Excep_sErrorType :inner;\r\nExcep_sErrorclass :std::logic_error;"));
  EXPECT_FALSE(Second.contains("outer"));
  // Its stack is that of its own throw, taken when it arrived.
  // Its lines: start marker, time of capture, then the frames.
  const QList<QByteArray> Stack = Second.mid(Second.indexOf("|**************Stack_trace_error_start")).split('\n');
  ASSERT_GT(Stack.size(), 2);
  const QString FirstFrame = QString::fromLatin1(Stack[2].trimmed());
  EXPECT_TRUE(QRegularExpression(QStringLiteral(R"re(operator\(\) \(Line %1, "OneReportAtATimeTest.cpp")re")
                                   .arg(InnerLine))
                .match(FirstFrame)
                .hasMatch())
    << FirstFrame.toStdString();
  // The report file is the last report's.
  EXPECT_EQ(ReadAll(ReportPath()), Second);
}

TEST_F(OneReportAtATime, AnExceptionWhileTheMailGoesIsReportedAfterIt)
{
  TMailingVesparo Mailing;
  Mailing.setMailsendreport(true);
  Mailing.SetMLDActive(true);
  Mailing.LoadedNow();
  TRaisingButton Inner([] { throw std::logic_error("inner"); });
  TRaisingButton Outer([] { throw std::runtime_error("outer"); });
  Mailing.WhileMailing = [&Inner] {
    QMetaObject::invokeMethod(&Inner.Button, &QPushButton::click, Qt::QueuedConnection);
  };
  AnswerEveryBox();
  Outer.Click();

  EXPECT_EQ(Shown, (QStringList{QStringLiteral("Details:\nouter"), QStringLiteral("Details:\ninner")}));
  EXPECT_EQ(Mailing.Passes, 2);
  EXPECT_EQ(Mailing.Mails, 2);
  const QList<TArchive> Found = Archives();
  ASSERT_EQ(Found.size(), 2);
  EXPECT_TRUE(Found[0].Report.contains("Excep_sErrorType :outer;"));
  EXPECT_TRUE(Found[1].Report.contains("Excep_sErrorType :inner;"));
}

TEST_F(OneReportAtATime, AFormFreedWhileItsPromptIsOpenTakesNeitherTheReportNorTheWaitingOneWithIt)
{
  // The main form carries the component that reports; an event run by the
  // prompt frees the form, after another exception has come to wait.
  auto* Form = new QWidget;
  App().SetMainForm(Form);
  auto* OnForm = new TRecordingVesparo(Form);
  OnForm->SetMLDActive(true);
  OnForm->LoadedNow();
  Form->show();
  TRaisingButton Inner([] { throw std::logic_error("inner"); });
  TRaisingButton Outer([] { throw std::runtime_error("outer"); });
  AnswerEveryBox();
  Inside = [&Inner, Form] {
    QMetaObject::invokeMethod(&Inner.Button, &QPushButton::click, Qt::QueuedConnection);
    Form->deleteLater();
  };
  const QPointer<QWidget> Watched(Form);
  Outer.Click();
  App().SetMainForm(nullptr);

  EXPECT_TRUE(Watched.isNull());
  // The outer report was completed; the waiting one was handed to the
  // application, which has no handler left, and shown there.
  ASSERT_EQ(Shown.size(), 2);
  EXPECT_EQ(Shown[0], QStringLiteral("Details:\nouter"));
  EXPECT_EQ(Shown[1], QStringLiteral("inner"));
  const QList<TArchive> Found = Archives();
  ASSERT_EQ(Found.size(), 1);
  EXPECT_TRUE(Found[0].Report.contains("Excep_sErrorType :outer;"));
  EXPECT_EQ(CommentLine(Found[0].Report, "Zip file path : "), Found[0].Path);
}

TEST_F(OneReportAtATime, AnExceptionForAComponentLoadedDuringThePromptWaitsAsWell)
{
  // Were it not to wait, it would wait for the report file's lock, held by
  // this very process, and end in the plain message.
  Vesparo::ReportLockWaitMs = 300;
  std::unique_ptr<TRecordingVesparo> Later;
  TRaisingButton Inner([] { throw std::logic_error("inner"); });
  TRaisingButton Outer([] { throw std::runtime_error("outer"); });
  AnswerEveryBox();
  Inside = [&Inner, &Later] {
    Later = std::make_unique<TRecordingVesparo>();
    Later->SetMLDActive(true);
    Later->LoadedNow();
    QMetaObject::invokeMethod(&Inner.Button, &QPushButton::click, Qt::QueuedConnection);
  };
  Outer.Click();
  EXPECT_EQ(Later->Passes, 0);

  EXPECT_EQ(Shown, (QStringList{QStringLiteral("Details:\nouter"), QStringLiteral("Details:\ninner")}));
  const QList<TArchive> Found = Archives();
  ASSERT_EQ(Found.size(), 2);
  EXPECT_TRUE(Found[0].Report.contains("Excep_sErrorType :outer;"));
  EXPECT_TRUE(Found[1].Report.contains("Excep_sErrorType :inner;"));
}

TEST_F(OneReportAtATime, AReportThatFailsIsShownAndTheWaitingOneStillFollows)
{
  TRaisingButton Inner([] { throw std::logic_error("inner"); });
  TRaisingButton Outer([] { throw std::runtime_error("outer"); });
  AnswerEveryBox();
  Inside = [&Inner] { QMetaObject::invokeMethod(&Inner.Button, &QPushButton::click, Qt::QueuedConnection); };
  {
    // No picture can be saved: each report fails after its hand-on.
    const TestSupport::TFileSizeLimit NoRoomForPictures(16 * 1024);
    Outer.Click();
  }
  ASSERT_EQ(Shown.size(), 4) << Shown.join(QLatin1Char('|')).toStdString();
  EXPECT_EQ(Shown[0], QStringLiteral("Details:\nouter"));
  EXPECT_TRUE(Shown[1].startsWith(QStringLiteral("I/O error"))) << Shown[1].toStdString();
  EXPECT_EQ(Shown[2], QStringLiteral("Details:\ninner"));
  EXPECT_TRUE(Shown[3].startsWith(QStringLiteral("I/O error"))) << Shown[3].toStdString();
  EXPECT_EQ(Archives().size(), 2);
}

TEST_F(OneReportAtATime, ReportsOfOneSecondKeepTheirOwnPictureArchiveAndNames)
{
  // Pictures of this and the next seconds exist already, from another
  // program: each report must take a number, and leave them alone.
  FormatSettings::SetDateSeparator(QLatin1Char('_'));
  FormatSettings::SetTimeSeparator(QLatin1Char('_'));
  QDir().mkpath(Env.DataFolder());
  QStringList Foreign;
  for (int I = 0; I < 4; ++I) {
    Foreign << Env.DataFolder() + QLatin1Char('/') +
                 FormatSettings::DateLongTimeToStr(QDateTime::currentDateTime().addSecs(I)) + QStringLiteral(".bmp");
    TestSupport::WriteAll(Foreign.back(), "another program's picture");
  }
  AnswerEveryBox();
  TRaisingButton First([] { throw std::runtime_error("one"); });
  TRaisingButton Second([] { throw std::runtime_error("two"); });
  TRaisingButton Third([] { throw std::runtime_error("three"); });
  for (TRaisingButton* Button : {&First, &Second, &Third})
    Button->Click();

  for (const QString& Picture : Foreign)
    EXPECT_EQ(ReadAll(Picture), "another program's picture");
  const QList<TArchive> Found = Archives();
  ASSERT_EQ(Found.size(), 3);
  QStringList Messages;
  for (const TArchive& Archive : Found) {
    const QRegularExpressionMatch Match =
      QRegularExpression(QStringLiteral(R"re(/bugReport(\d\d_\d\d_\d{4} \d\d_\d\d_\d\d)_(\d+)\.zip$)re"))
        .match(Archive.Path);
    ASSERT_TRUE(Match.hasMatch()) << Archive.Path.toStdString();
    // Picture and archive share stamp and number; the comment block names both.
    const QString Picture = Match.captured(1) + QLatin1Char('_') + Match.captured(2) + QStringLiteral(".bmp");
    EXPECT_EQ(Archive.Entries, (QStringList{Picture, QFileInfo(ReportPath()).fileName()}));
    EXPECT_EQ(CommentLine(Archive.Report, "Image path : "), Env.DataFolder() + QLatin1Char('/') + Picture);
    EXPECT_EQ(CommentLine(Archive.Report, "Zip file path : "), Archive.Path);
    const QRegularExpressionMatch Message =
      QRegularExpression(QStringLiteral("Excep_sErrorType :(\\w+);")).match(QString::fromLatin1(Archive.Report));
    Messages << Message.captured(1);
  }
  Messages.sort();
  EXPECT_EQ(Messages, (QStringList{QStringLiteral("one"), QStringLiteral("three"), QStringLiteral("two")}));
}

TEST_F(OneReportAtATime, AReportFileHeldByAnotherWriterIsWaitedFor)
{
  Vesparo::ReportLockWaitMs = 60000;
  QDir().mkpath(Env.DataFolder());
  FileLock::TFileLock Other;
  ASSERT_EQ(Vesparoutil::LockReportFile(Other, ReportPath(), 0), FileLock::TLockResult::Locked);
  // The other writer finishes a while after the exception.
  std::thread Finishing([&Other] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Other.Release();
  });
  AnswerEveryBox();
  TRaisingButton Button([] { throw std::runtime_error("after the other"); });
  Button.Click();
  Finishing.join();

  EXPECT_EQ(Shown, QStringList{QStringLiteral("Details:\nafter the other")});
  const QByteArray Report = ReadAll(ReportPath());
  EXPECT_EQ(Report.count("Exception_Log_start"), 1);
  EXPECT_TRUE(Report.startsWith(KnownEnvironmentLine.toLatin1()));
  EXPECT_TRUE(Vesparo::bShallOpen);
}

TEST_F(OneReportAtATime, AReportFileKeptByAnotherWriterGivesThePlainMessageAndIsLeftAlone)
{
  Vesparo::ReportLockWaitMs = 200;
  QDir().mkpath(Env.DataFolder());
  TestSupport::WriteAll(ReportPath(), "the other instance's report\r\n");
  FileLock::TFileLock Other;
  ASSERT_EQ(Vesparoutil::LockReportFile(Other, ReportPath(), 0), FileLock::TLockResult::Locked);
  TShownBoxes Boxes;
  TRaisingButton Button([] { throw std::runtime_error("while it is kept"); });
  Button.Click();

  // The application's own box, as without a handler; no prompt, no report.
  EXPECT_EQ(Boxes.Texts, QStringList{QStringLiteral("while it is kept")});
  EXPECT_EQ(Boxes.Captions, QStringList{App().Title()});
  EXPECT_EQ(ReadAll(ReportPath()), "the other instance's report\r\n");
  EXPECT_EQ(Component.Passes, 0);
  EXPECT_FALSE(Vesparo::bShallOpen);

  // Once it is let go, the next exception is reported.
  Other.Release();
  Button.Click();
  EXPECT_EQ(Boxes.Texts.size(), 2);
  EXPECT_EQ(Boxes.Texts.back(), QStringLiteral("Details:\nwhile it is kept"));
  EXPECT_EQ(Component.Passes, 1);
}

// The report is rewritten in place, by name: a link in its place, dangling
// or not, or a FIFO is refused with a clear error, and nothing behind it is
// written, created or waited for.
TEST_F(OneReportAtATime, AReportFileThatIsNoRegularFileIsRefusedAndLeftAsItIs)
{
  QDir().mkpath(Env.DataFolder());
  const QString Target = Env.Root() + QStringLiteral("/someone else's file");
  TestSupport::WriteAll(Target, "kept whole\n");
  ASSERT_TRUE(QFile::link(Target, ReportPath()));
  TShownBoxes Boxes;
  TRaisingButton Button([] { throw std::runtime_error("behind a link"); });
  Button.Click();
  EXPECT_EQ(ReadAll(Target), "kept whole\n");
  EXPECT_TRUE(QFileInfo(ReportPath()).isSymLink());
  ASSERT_EQ(Boxes.Texts.size(), 1);
  EXPECT_TRUE(Boxes.Texts[0].contains(QStringLiteral("\"%1\" is a symbolic link").arg(ReportPath())))
    << Boxes.Texts[0].toStdString();

  // Dangling: its target is not made.
  QFile::remove(Target);
  Button.Click();
  EXPECT_FALSE(QFileInfo::exists(Target));

  QFile::remove(ReportPath());
  ASSERT_EQ(mkfifo(QFile::encodeName(ReportPath()).constData(), 0600), 0);
  Button.Click();
  ASSERT_EQ(Boxes.Texts.size(), 3);
  EXPECT_TRUE(Boxes.Texts[2].contains(QStringLiteral("is no regular file"))) << Boxes.Texts[2].toStdString();

  EXPECT_EQ(Component.Passes, 0);
  EXPECT_TRUE(Archives().isEmpty());
  EXPECT_FALSE(Vesparo::bShallOpen);
}
