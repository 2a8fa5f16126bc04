#include "tests/tools/DemoRun.h"

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
  EXPECT_TRUE(Report.endsWith("|**************Stack_trace_error_end**************|\r\n"));
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
}

TEST(Demo, InactiveComponentWritesNoReport)
{
  TestSupport::TTempEnvironment Env;
  const TDemoResult Run = RunDemo(Env, {"--inactive", "--raise", "not reported", "--unattended"},
                                  QStringLiteral("offscreen"));
  ASSERT_TRUE(Run.Finished);
  EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
  EXPECT_FALSE(QFileInfo::exists(ReportOf(Env)));
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
}

TEST(Demo, WrongCommandLineIsRefused)
{
  TestSupport::TTempEnvironment Env;
  const TDemoResult Run = RunDemo(Env, {"--raise"}, QStringLiteral("offscreen"));
  EXPECT_EQ(Run.ExitCode, 2);
  EXPECT_TRUE(Run.Errors.contains("usage: vesparo-demo"));
}
