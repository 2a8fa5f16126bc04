#include "tests/tools/DemoRun.h"

#include "tests/support/ZipCheck.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace DemoTests;
using TestSupport::ReadAll;

TEST(Demo, RaisedExceptionIsReportedUnattended)
{
  TestSupport::TTempEnvironment Env(QStringLiteral("data home with blanks"));
  const QDate Before = QDate::currentDate();
  const TDemoResult Run = RunDemo(Env, {"--raise", "some text", "--unattended"}, QStringLiteral("offscreen"));
  ASSERT_TRUE(Run.Finished);
  EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();

  const QByteArray Report = ReadAll(ReportOf(Env));
  ASSERT_FALSE(Report.isEmpty()) << "no report at " << ReportOf(Env).toStdString();
  const QByteArray Section = TestSupport::ExceptionSectionOf(Report);
  EXPECT_TRUE(TestSupport::IsExpectedExceptionSection(Section, "QPushButton", "vesparo-demo", "some text",
                                                      "std::runtime_error", Before))
    << Section.toStdString();
  EXPECT_TRUE(Run.Output.contains(ReportOf(Env).toUtf8()));

  // The stack section: markers, time of capture, then the frames, the
  // throwing slot of the form first.
  const QList<QByteArray> Stack = Report.mid(Report.indexOf("\r\n|**************Stack_trace_error_start")).split('\n');
  ASSERT_GT(Stack.size(), 5) << Report.toStdString();
  EXPECT_TRUE(QRegularExpression(QStringLiteral(R"re(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\r$)re"))
                .match(QString::fromLatin1(Stack[2]))
                .hasMatch())
    << Stack[2].toStdString();
  const QRegularExpression FirstFrame(QStringLiteral(
    R"re(^\[[0-9A-F]{8,}\] DemoForm::RaiseRequestedException \(Line \d+, "DemoForm.cpp" \+ \d+\)\r$)re"));
  EXPECT_TRUE(FirstFrame.match(QString::fromLatin1(Stack[3])).hasMatch())
    << Stack[3].toStdString();
  EXPECT_TRUE(Report.contains("] main (Line ")) << Report.toStdString();
  // The data folder: the report, the screenshot and the archive of one stamp.
  const QStringList Pictures = QDir(Env.DataFolder()).entryList({QStringLiteral("*.bmp")}, QDir::Files);
  ASSERT_EQ(Pictures.size(), 1);
  const QString Stamp = QFileInfo(Pictures[0]).completeBaseName();
  const QString Picture = Env.DataFolder() + QLatin1Char('/') + Pictures[0];
  const QString Archive = Env.DataFolder() + QStringLiteral("/bugReport") + Stamp + QStringLiteral(".zip");
  EXPECT_EQ(QDir(Env.DataFolder()).entryList(QDir::Files),
            (QStringList{Pictures[0], QStringLiteral("bugReport") + Stamp + QStringLiteral(".zip"),
                         QStringLiteral("vesparo-demo_halvern_leak_log.Hmld")}));
  EXPECT_EQ(TestSupport::PythonBitmapSize(Picture).size(), 3);

  // The report ends with the comment block naming both.
  EXPECT_TRUE(Report.endsWith("|**************Stack_trace_error_end**************|\r\n"
                              "\r\nComments by the User :\r\n\r\nImage path : " + Picture.toUtf8() +
                              "\r\n\r\nZip file path : " + Archive.toUtf8() + "\r\n"))
    << Report.right(300).toStdString();

  // Picture first, report second, deflated, no folders.
  const QJsonArray Entries = TestSupport::PythonZipInfo(Archive)[QStringLiteral("entries")].toArray();
  ASSERT_EQ(Entries.size(), 2);
  EXPECT_EQ(Entries[0].toObject()[QStringLiteral("name")].toString(), Pictures[0]);
  EXPECT_EQ(Entries[1].toObject()[QStringLiteral("name")].toString(), QStringLiteral("vesparo-demo_halvern_leak_log.Hmld"));
  EXPECT_EQ(Entries[1].toObject()[QStringLiteral("data")].toString().toLatin1(), Report);
  for (const QJsonValue& Entry : Entries)
    EXPECT_EQ(Entry.toObject()[QStringLiteral("method")].toInt(), 8);

  // The copy beside the program, stamped when it was made.
  const QStringList Copies = QDir(BugReportFolderOf(Env)).entryList(QDir::Files);
  ASSERT_EQ(Copies.size(), 1);
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^bugReport_\\d\\d_\\d\\d_\\d{4} \\d\\d_\\d\\d_\\d\\d\\.zip$"))
                .match(Copies[0])
                .hasMatch())
    << Copies[0].toStdString();
  const QString Copy = BugReportFolderOf(Env) + QLatin1Char('/') + Copies[0];
  EXPECT_EQ(ReadAll(Copy), ReadAll(Archive));
  const TestSupport::TUnzipResult Unzip = TestSupport::UnzipTest(Copy);
  EXPECT_EQ(Unzip.ExitCode, 0) << Unzip.Output.toStdString();
}

TEST(Demo, InactiveComponentWritesNoReport)
{
  TestSupport::TTempEnvironment Env;
  const TDemoResult Run = RunDemo(Env, {"--inactive", "--raise", "not reported", "--unattended"},
                                  QStringLiteral("offscreen"));
  ASSERT_TRUE(Run.Finished);
  EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
  EXPECT_FALSE(QFileInfo::exists(ReportOf(Env)));
  EXPECT_FALSE(QFileInfo::exists(BugReportFolderOf(Env)));
}

TEST(Demo, SecondExceptionReplacesTheFirstReport)
{
  TestSupport::TTempEnvironment Env;
  const TDemoResult Run = RunDemo(Env, {"--raise", "the first", "--raise-twice", "--unattended"},
                                  QStringLiteral("offscreen"));
  ASSERT_TRUE(Run.Finished);
  EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
  const QByteArray Report = ReadAll(ReportOf(Env));
  EXPECT_EQ(Report.count("Exception_Log_start"), 1);
  EXPECT_FALSE(Report.contains("the first"));
  EXPECT_TRUE(Report.contains("Excep_sErrorclass :std::out_of_range;\r\n"));
  // Each report was packed; the archive of the second holds the second.
  const QStringList Archives = QDir(Env.DataFolder()).entryList({QStringLiteral("bugReport*.zip")}, QDir::Files,
                                                                 QDir::Time);
  ASSERT_FALSE(Archives.isEmpty());
  const QJsonArray Entries =
    TestSupport::PythonZipInfo(Env.DataFolder() + QLatin1Char('/') + Archives[0])[QStringLiteral("entries")].toArray();
  ASSERT_EQ(Entries.size(), 2);
  EXPECT_EQ(Entries[1].toObject()[QStringLiteral("data")].toString().toLatin1(), Report);
}

TEST(Demo, CommentIsTypedIntoThePrompt)
{
  TestSupport::TTempEnvironment Env;
  const TDemoResult Run = RunDemo(Env, {"--raise", "typed", "--unattended", "--comment", "it broke"},
                                  QStringLiteral("offscreen"));
  ASSERT_TRUE(Run.Finished);
  EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
  const QByteArray Report = ReadAll(ReportOf(Env));
  const QStringList Pictures = QDir(Env.DataFolder()).entryList({QStringLiteral("*.bmp")}, QDir::Files);
  ASSERT_EQ(Pictures.size(), 1);
  const QByteArray Stamp = QFileInfo(Pictures[0]).completeBaseName().toUtf8();
  const QByteArray Folder = Env.DataFolder().toUtf8();
  EXPECT_TRUE(Report.endsWith("\r\nComments by the User :it broke\r\n\r\nImage path : " + Folder + "/" + Stamp +
                              ".bmp\r\n\r\nZip file path : " + Folder + "/bugReport" + Stamp + ".zip\r\n"))
    << Report.right(300).toStdString();
}

TEST(Demo, WrongCommandLineIsRefused)
{
  TestSupport::TTempEnvironment Env;
  for (const QStringList& Arguments : {QStringList{"--raise"}, QStringList{"--unattended", "--comment"}}) {
    const TDemoResult Run = RunDemo(Env, Arguments, QStringLiteral("offscreen"));
    EXPECT_EQ(Run.ExitCode, 2);
    EXPECT_TRUE(Run.Errors.contains("usage: vesparo-demo"));
  }
}
