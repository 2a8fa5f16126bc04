#include "package/Vesparo.h"

#include "hostfw/Exceptions.h"
#include "hostfw/FormatSettings.h"
#include "platform/AnsiCodePage.h"
#include "tests/package/VesparoTestSupport.h"
#include "tests/support/ExpectedReport.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempEnvironment.h"
#include "tests/support/ZipCheck.h"

#include <QDate>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <stdexcept>

using namespace VesparoTests;
using TestSupport::ReadAll;

namespace {

class Pipeline : public ::testing::Test {
protected:
  void SetUp() override
  {
    AnsiCodePage::SetACP(1252);
    TestSupport::UseReportFormats();
    Vesparo::bShallOpen = false;
    Component.SetMLDActive(true);
    Component.LoadedNow();
  }
  void TearDown() override
  {
    App().SetOnException({});
    Vesparo::bShallOpen = false;  // no hand-off when the test program ends
    AnsiCodePage::SetACP(0);
    FormatSettings::Reset();
  }

  QString ReportPath() const { return Vesparoutil::FullHmldFilePath(); }

  TestSupport::TTempEnvironment Env{QStringLiteral("home with blanks")};
  TShownBoxes Shown;
  TRecordingVesparo Component;
};

// The exception section, the stack section and the comment block of a
// file, split off the environment line the recording component writes.
struct TReport {
  QByteArray Environment, Exception, Stack, Comments;
  explicit TReport(const QByteArray& File)
  {
    Exception = TestSupport::ExceptionSectionOf(File);
    const qsizetype ExceptionStart = File.indexOf(Exception);
    Environment = File.left(ExceptionStart);
    const qsizetype CommentStart = File.lastIndexOf("\r\nComments by the User :");
    Stack = File.mid(ExceptionStart + Exception.size(), CommentStart < 0 ? -1 : CommentStart - ExceptionStart - Exception.size());
    Comments = CommentStart < 0 ? QByteArray() : File.mid(CommentStart);
  }
};

// The comment block the hand-off appends: no comment, the screenshot's and
// the archive's paths.
QByteArray HandOffComments()
{
  return "\r\nComments by the User :\r\n\r\nImage path : " + Vesparoutil::sJpegFileName.toLatin1() +
         "\r\n\r\nZip file path : " + Vesparoutil::sZipFileName.toLatin1() + "\r\n";
}

}  // namespace

TEST_F(Pipeline, WritesTheExceptionSectionByteForByte)
{
  const int ThrowLine = __LINE__ + 1;
  TRaisingButton Button([] { throw std::runtime_error("some text"); });
  const QDate Before = QDate::currentDate();
  Button.Click();

  const TReport Report(ReadAll(ReportPath()));
  EXPECT_EQ(Report.Environment, "OSName:Test machine;\r\n");
  EXPECT_TRUE(TestSupport::IsExpectedExceptionSection(Report.Exception, "QPushButton", "test_package_vesparo",
                                                      "some text", "std::runtime_error", Before))
    << Report.Exception.toStdString();

  // Then the stack section: two empty lines, markers around the time of capture.
  ASSERT_TRUE(Report.Stack.startsWith("\r\n\r\n|**************Stack_trace_error_start**************|\r\n"));
  EXPECT_TRUE(Report.Stack.endsWith("|**************Stack_trace_error_end**************|\r\n"));
  const QList<QByteArray> StackLines = Report.Stack.split('\n');
  EXPECT_TRUE(QDateTime::fromString(QString::fromLatin1(StackLines[3]).trimmed(), QStringLiteral("dd/MM/yyyy HH:mm:ss"))
                .isValid())
    << StackLines[3].toStdString();
  // The frames of the throw in the clicked slot, innermost first, down
  // through Qt's signal to the application object's event dispatch.
  ASSERT_GT(StackLines.size(), 6);
  const QRegularExpression FirstFrame(
    QStringLiteral(R"re(^\[[0-9A-F]{8,}\] \S*operator\(\) \(Line %1, "PipelineTest.cpp"( \+ \d+)?\)\r$)re")
      .arg(ThrowLine));
  EXPECT_TRUE(FirstFrame.match(QString::fromLatin1(StackLines[4])).hasMatch())
    << Report.Stack.toStdString();
  const qsizetype Clicked = Report.Stack.indexOf("] QAbstractButton::clicked\r\n");
  const qsizetype Notify = Report.Stack.indexOf("] Application::TApplication::notify (Line ");
  EXPECT_TRUE(Clicked > 0 && Notify > Clicked) << Report.Stack.toStdString();
  for (qsizetype Line = 4; Line + 2 < StackLines.size(); ++Line)
    EXPECT_TRUE(StackLines[Line].startsWith('[') && StackLines[Line].endsWith('\r')) << StackLines[Line].toStdString();

  // The prompt completes the report.
  EXPECT_EQ(Report.Comments, HandOffComments());

  EXPECT_TRUE(Vesparo::bShallOpen);
  EXPECT_EQ(Component.Passes, 1);
  // The prompt shows the exception's message.
  EXPECT_EQ(Shown.Texts, QStringList{QStringLiteral("Details:\nsome text")});
  EXPECT_EQ(Shown.Captions, QStringList{QStringLiteral("Error message")});
}

TEST_F(Pipeline, EveryValueIsWrittenAsItIsInTheAnsiCodePageOnItsOwnLine)
{
  // A message over several lines stays on its key's line, its breaks
  // escaped, so that none of its lines can pass for a key or a marker.
  // Characters outside the code page become "?".
  TRaisingButton Button([] {
    throw Exception(QStringLiteral("Größe\r\nExcep_sErrorclass :Forged;\r\n[__Exception_Log_end__] ж"));
  });
  Button.Click();
  const TReport Report(ReadAll(ReportPath()));
  EXPECT_TRUE(Report.Exception.contains("\r\nExcep_sErrorType :Gr\xF6\xDF" "e\\u{D}\\u{A}Excep_sErrorclass :Forged;"
                                        "\\u{D}\\u{A}[__\\u{45}xception_Log_end__] ?;\r\n"))
    << Report.Exception.toStdString();
  EXPECT_TRUE(Report.Exception.contains("\r\nExcep_sErrorclass :Exception;\r\n"));
  EXPECT_EQ(Report.Exception.count("Exception_Log_end"), 1);
}

namespace {
[[gnu::noinline]] void RaiseTheReportedOne() { throw std::runtime_error("the reported one"); }

// An environment step that raises and handles an exception of its own, as
// a failing query of the machine does.
class TRaisingEnvironment : public TRecordingVesparo {
public:
  bool VersionInformation() override
  {
    try {
      throw std::logic_error("inside the environment step");
    } catch (const std::logic_error&) {
    }
    return TRecordingVesparo::VersionInformation();
  }
};
}  // namespace

TEST_F(Pipeline, TheStackIsTheReportedExceptionsWhateverWasRaisedSince)
{
  App().SetOnException({});
  TRaisingEnvironment Raising;
  Raising.SetMLDActive(true);
  Raising.LoadedNow();
  TRaisingButton Button([] { RaiseTheReportedOne(); });
  Button.Click();
  const TReport Report(ReadAll(ReportPath()));
  const QList<QByteArray> StackLines = Report.Stack.split('\n');
  ASSERT_GT(StackLines.size(), 5) << Report.Stack.toStdString();
  EXPECT_TRUE(StackLines[4].contains("::RaiseTheReportedOne (Line ")) << Report.Stack.toStdString();
  EXPECT_FALSE(Report.Stack.contains("VersionInformation")) << Report.Stack.toStdString();
}

TEST_F(Pipeline, AThrownValueThatIsNoStdExceptionStillReachesTheReport)
{
  TRaisingButton Button([] { throw 42; });
  Button.Click();
  const TReport Report(ReadAll(ReportPath()));
  EXPECT_TRUE(Report.Exception.contains("Excep_sErrorType :;\r\nExcep_sErrorclass :int;\r\n"));
}

TEST_F(Pipeline, TheNextExceptionRewritesTheReport)
{
  TRaisingButton First([] { throw std::runtime_error("first"); });
  TRaisingButton Second([] { throw std::logic_error("second"); });
  First.Click();
  Second.Click();
  const QByteArray File = ReadAll(ReportPath());
  EXPECT_TRUE(File.startsWith("OSName:Test machine;\r\n\r\n\r\n\r\n[____"));
  EXPECT_EQ(File.count("Exception_Log_start"), 1);
  EXPECT_EQ(File.count("Stack_trace_error_start"), 1);
  EXPECT_TRUE(File.contains("Excep_sErrorType :second;"));
  EXPECT_FALSE(File.contains("first"));
  EXPECT_EQ(Component.Passes, 2);
}

TEST_F(Pipeline, ReadBackStartsWithALineBreakAndEndsWithTheLastLine)
{
  TRaisingButton Button([] { throw std::runtime_error("read me back"); });
  Button.Click();
  QString Text;
  Component.ReadApplicationinfoFromFile(ReportPath(), Text);
  EXPECT_TRUE(Text.startsWith(QStringLiteral("\r\nOSName:Test machine;\r\n\r\n\r\n\r\n[____")));
  // Read after the prompt: the comment block is the last text.
  EXPECT_TRUE(Text.endsWith(QStringLiteral("\r\nZip file path : ") + Vesparoutil::sZipFileName));
  EXPECT_EQ(Text.toLatin1(), ReadAll(ReportPath()).prepend("\r\n").chopped(2));

  Component.ReadApplicationinfoFromFile(Env.Root() + QStringLiteral("/missing.Hmld"), Text);
  EXPECT_EQ(Text, QString());
}

TEST_F(Pipeline, SwitchedOffAfterLoadingTheHandlerSwallowsExceptions)
{
  Component.SetMLDActive(false);
  TRaisingButton Button([] { throw std::runtime_error("vanishes"); });
  Button.Click();
  EXPECT_FALSE(QFileInfo::exists(ReportPath()));
  EXPECT_TRUE(Shown.Texts.isEmpty());
  EXPECT_FALSE(Vesparo::bShallOpen);
  EXPECT_EQ(Component.Passes, 0);
}

TEST_F(Pipeline, AnUnwritableDataFolderIsShownAndTheApplicationGoesOn)
{
  // The application-data folder lies below a plain file: nothing can be
  // created there, not even by root.
  TestSupport::WriteAll(Env.Root() + QStringLiteral("/plain file"), "x");
  Env.Set("XDG_DATA_HOME", Env.Root() + QStringLiteral("/plain file/data"));
  Vesparo::TCVVesparo Real;  // the real environment step, which absorbs its failure
  Real.SetMLDActive(true);
  Real.LoadedNow();
  TRaisingButton Button([] { throw std::runtime_error("cannot be reported"); });
  Button.Click();
  ASSERT_EQ(Shown.Texts.size(), 1);
  EXPECT_TRUE(Shown.Texts[0].startsWith(QStringLiteral("I/O error"))) << Shown.Texts[0].toStdString();
  EXPECT_FALSE(Vesparo::bShallOpen);

  // The application goes on and reports the next exception once it can.
  Env.Set("XDG_DATA_HOME", Env.DataHome());
  Button.Click();
  EXPECT_EQ(Shown.Texts.size(), 2);
  EXPECT_EQ(Shown.Texts[1], QStringLiteral("Details:\ncannot be reported"));
  EXPECT_TRUE(Vesparo::bShallOpen);
  // The real environment step writes its block first, the exception section
  // follows the process table.
  const QByteArray Report = ReadAll(ReportPath());
  EXPECT_TRUE(Report.startsWith("OSName:"));
  EXPECT_TRUE(Report.contains("[____________________Process Information end_____________________]\r\n"
                              "\r\n\r\n\r\n[____________________Exception_Log_start"));
}

TEST_F(Pipeline, EnvironmentStepCreatesOrTruncatesTheReport)
{
  Vesparo::TCVVesparo Real;
  EXPECT_TRUE(Real.VersionInformation());
  EXPECT_TRUE(QFileInfo(ReportPath()).isFile());
  TestSupport::WriteAll(ReportPath(), "old content\r\n");
  EXPECT_TRUE(Real.VersionInformation());
  EXPECT_FALSE(ReadAll(ReportPath()).contains("old content"));

  Env.Set("XDG_DATA_HOME", Env.Root() + QStringLiteral("/plain file/data"));
  TestSupport::WriteAll(Env.Root() + QStringLiteral("/plain file"), "x");
  EXPECT_FALSE(Real.VersionInformation());
}

TEST_F(Pipeline, OkPhotographsThePromptThenTheReportIsPackedAndCopied)
{
  TRaisingButton Button([] { throw std::runtime_error("pack me"); });
  Button.Click();

  // The screenshot named the picture and the archive in the data folder.
  const QString Picture = Vesparoutil::sJpegFileName;
  const QString Archive = Vesparoutil::sZipFileName;
  ASSERT_TRUE(Picture.startsWith(Env.DataFolder() + QLatin1Char('/')) && Picture.endsWith(QStringLiteral(".bmp")))
    << Picture.toStdString();
  const QString Stamp = QFileInfo(Picture).completeBaseName();
  EXPECT_EQ(Archive, Env.DataFolder() + QStringLiteral("/bugReport") + Stamp + QStringLiteral(".zip"));
  EXPECT_EQ(Vesparoutil::sZipFileNameForMailing, Archive);
  EXPECT_EQ(TestSupport::PythonBitmapSize(Picture).size(), 3) << "no bitmap at " << Picture.toStdString();

  // The archive: picture, then the completed report, both deflated.
  const QJsonObject Info = TestSupport::PythonZipInfo(Archive);
  const QJsonArray Entries = Info[QStringLiteral("entries")].toArray();
  ASSERT_EQ(Entries.size(), 2) << QJsonDocument(Info).toJson().toStdString();
  EXPECT_EQ(Entries[0].toObject()[QStringLiteral("name")].toString(), Stamp + QStringLiteral(".bmp"));
  EXPECT_EQ(Entries[1].toObject()[QStringLiteral("name")].toString(), QFileInfo(ReportPath()).fileName());
  EXPECT_EQ(Entries[1].toObject()[QStringLiteral("data")].toString().toLatin1(), ReadAll(ReportPath()));
  EXPECT_TRUE(ReadAll(ReportPath()).endsWith(HandOffComments()));
  for (const QJsonValue& Entry : Entries)
    EXPECT_EQ(Entry.toObject()[QStringLiteral("method")].toInt(), 8);

  // The copy beside the program is checked by the demo tests, which run the
  // program from a folder of their own.
}

TEST_F(Pipeline, APictureThatCannotBeSavedIsShownAfterTheReportWasHandedOn)
{
  TRaisingButton Button([] { throw std::runtime_error("no picture"); });
  {
    const TestSupport::TFileSizeLimit NoRoomForPictures(16 * 1024);
    Button.Click();
  }

  // The prompt closed, then the failure was shown once: no second report.
  ASSERT_EQ(Shown.Texts.size(), 2) << Shown.Texts.join(QLatin1Char('|')).toStdString();
  EXPECT_EQ(Shown.Texts[0], QStringLiteral("Details:\nno picture"));
  EXPECT_TRUE(Shown.Texts[1].startsWith(QStringLiteral("I/O error"))) << Shown.Texts[1].toStdString();
  EXPECT_EQ(Component.Passes, 1);
  // No cut-off picture is left; the report was completed and packed all
  // the same.
  EXPECT_EQ(QDir(Env.DataFolder()).entryList({QStringLiteral("*.bmp*")}, QDir::Files | QDir::Hidden), QStringList());
  EXPECT_TRUE(ReadAll(ReportPath()).endsWith(HandOffComments()));
  const QJsonArray Entries = TestSupport::PythonZipInfo(Vesparoutil::sZipFileName)[QStringLiteral("entries")].toArray();
  ASSERT_EQ(Entries.size(), 1);
  EXPECT_EQ(Entries[0].toObject()[QStringLiteral("name")].toString(), QFileInfo(ReportPath()).fileName());
}

TEST_F(Pipeline, EscapeClosesThePromptLikeOkScreenshotIncluded)
{
  int Prompts = 0;
  App().SetModalHook([&Prompts](QDialog& Dialog) {
    ++Prompts;
    QKeyEvent Escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&Dialog, &Escape);
  });
  TRaisingButton Button([] { throw std::runtime_error("escaped"); });
  Button.Click();
  for (QElapsedTimer Waited; Prompts == 0 || (Vesparoutil::sZipFileName.isEmpty() && Waited.elapsed() < 5000);)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_EQ(Prompts, 1);
  EXPECT_TRUE(QFileInfo(Vesparoutil::sJpegFileName).isFile()) << Vesparoutil::sJpegFileName.toStdString();
  EXPECT_EQ(TestSupport::PythonZipInfo(Vesparoutil::sZipFileName)[QStringLiteral("entries")].toArray().size(), 2);
}
