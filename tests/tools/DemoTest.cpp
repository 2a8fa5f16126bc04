#include "tests/tools/DemoRun.h"

#include "tests/support/ZipCheck.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
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

namespace {

// The report that each archive in Folder holds, by the archive's name.
QMap<QString, QByteArray> ArchivedReports(const QString& Folder)
{
  QMap<QString, QByteArray> Reports;
  for (const QString& Name : QDir(Folder).entryList({QStringLiteral("*.zip")}, QDir::Files)) {
    const QJsonObject Info = TestSupport::PythonZipInfo(Folder + QLatin1Char('/') + Name);
    for (const QJsonValue& Entry : Info[QStringLiteral("entries")].toArray())
      if (Entry.toObject()[QStringLiteral("name")].toString().endsWith(QStringLiteral("_halvern_leak_log.Hmld")))
        Reports[Name] = Entry.toObject()[QStringLiteral("data")].toString().toLatin1();
  }
  return Reports;
}

// The value of a report's line that starts with Key.
QByteArray ValueOf(const QByteArray& Report, const QByteArray& Key)
{
  const qsizetype Start = Report.indexOf(Key);
  if (Start < 0)
    return {};
  const qsizetype ValueStart = Start + Key.size();
  return Report.mid(ValueStart, Report.indexOf("\r\n", ValueStart) - ValueStart);
}

// Every archive of the data folder holds one report of one exception,
// which names that archive; each has its copy in "bugreport", byte for
// byte. The exception classes and messages of the reports, sorted.
QStringList CheckArchivesAndCopies(const TestSupport::TTempEnvironment& Env)
{
  const QMap<QString, QByteArray> Archives = ArchivedReports(Env.DataFolder());
  QList<QByteArray> CopyBytes;
  for (const QString& Copy : QDir(BugReportFolderOf(Env)).entryList(QDir::Files))
    CopyBytes << ReadAll(BugReportFolderOf(Env) + QLatin1Char('/') + Copy);
  EXPECT_EQ(CopyBytes.size(), Archives.size());
  QStringList Exceptions;
  for (auto Archive = Archives.cbegin(); Archive != Archives.cend(); ++Archive) {
    const QByteArray& Report = Archive.value();
    EXPECT_EQ(Report.count("Exception_Log_start"), 1) << Report.toStdString();
    EXPECT_EQ(Report.count("Process Information end"), 1);
    EXPECT_EQ(Report.count("Comments by the User :"), 1);
    const QString Path = Env.DataFolder() + QLatin1Char('/') + Archive.key();
    EXPECT_EQ(QString::fromUtf8(ValueOf(Report, "\r\nZip file path : ")), Path);
    EXPECT_EQ(CopyBytes.count(ReadAll(Path)), 1) << "no copy of " << Path.toStdString();
    Exceptions << QString::fromLatin1(ValueOf(Report, "Excep_sErrorclass :") + " " +
                                      ValueOf(Report, "Excep_sErrorType :"));
  }
  Exceptions.sort();
  return Exceptions;
}

}  // namespace

TEST(Demo, TwoExceptionsOfOneSecondKeepTwoArchivesAndTwoCopies)
{
  TestSupport::TTempEnvironment Env(QStringLiteral("data home with blanks"));
  const TDemoResult Run = RunDemo(Env, {"--raise", "first of two", "--raise-twice", "--unattended"},
                                  QStringLiteral("offscreen"));
  ASSERT_TRUE(Run.Finished);
  EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
  // The report file holds the second exception only.
  const QByteArray Report = ReadAll(ReportOf(Env));
  EXPECT_EQ(Report.count("Exception_Log_start"), 1);
  EXPECT_FALSE(Report.contains("first of two"));
  EXPECT_TRUE(Report.contains("Excep_sErrorclass :std::out_of_range;\r\n"));
  // Each exception keeps its picture, archive and copy.
  EXPECT_EQ(QDir(Env.DataFolder()).entryList({QStringLiteral("*.bmp")}, QDir::Files).size(), 2);
  const QStringList Exceptions = CheckArchivesAndCopies(Env);
  ASSERT_EQ(Exceptions.size(), 2);
  EXPECT_EQ(Exceptions[0], QStringLiteral("std::out_of_range;"
                                          " vector::_M_range_check: __n (which is 3) >= this->size() (which is 3);"));
  EXPECT_EQ(Exceptions[1], QStringLiteral("std::runtime_error; first of two;"));
}

TEST(Demo, AnExceptionDuringThePromptIsReportedAfterIt)
{
  TestSupport::TTempEnvironment Env(QStringLiteral("data home with blanks"));
  const TDemoResult Run = RunDemo(Env, {"--raise-during-prompt", "--unattended"}, QStringLiteral("offscreen"));
  ASSERT_TRUE(Run.Finished);
  EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
  EXPECT_EQ(CheckArchivesAndCopies(Env), (QStringList{QStringLiteral("std::runtime_error; inner exception;"),
                                                      QStringLiteral("std::runtime_error; outer exception;")}));
  // The inner one came last: the report file is its.
  EXPECT_TRUE(ReadAll(ReportOf(Env)).contains("Excep_sErrorType :inner exception;"));
}

TEST(Demo, TwoInstancesRaisingAtOnceNeverMixTheirReports)
{
  for (int Round = 0; Round < 2; ++Round) {
    TestSupport::TTempEnvironment Env;
    QProcess First;
    QProcess Second;
    StartDemo(First, Env, {"--raise", "from the first", "--unattended"}, QStringLiteral("offscreen"));
    StartDemo(Second, Env, {"--raise", "from the second", "--unattended"}, QStringLiteral("offscreen"));
    for (QProcess* Demo : {&First, &Second}) {
      const TDemoResult Run = FinishDemo(*Demo);
      ASSERT_TRUE(Run.Finished);
      EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
    }
    EXPECT_EQ(CheckArchivesAndCopies(Env), (QStringList{QStringLiteral("std::runtime_error; from the first;"),
                                                        QStringLiteral("std::runtime_error; from the second;")}))
      << "round " << Round;
  }
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
