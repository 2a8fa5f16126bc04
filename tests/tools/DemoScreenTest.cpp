// The demo on a real X server: the form and the error box are real windows
// of the window system, mapped on screen and answered there.

#include "tests/tools/DemoRun.h"

#include <gtest/gtest.h>

using namespace DemoTests;

TEST(DemoOnScreen, RaisedExceptionIsReportedUnattended)
{
  ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "screen tests run under xvfb-run";
  TestSupport::TTempEnvironment Env(QStringLiteral("data home with blanks"));
  const QDate Before = QDate::currentDate();
  const TDemoResult Run = RunDemo(Env, {"--raise", "on screen", "--unattended"}, QStringLiteral("xcb"));
  ASSERT_TRUE(Run.Finished);
  EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
  const QByteArray Section = TestSupport::ExceptionSectionOf(TestSupport::ReadAll(ReportOf(Env)));
  EXPECT_TRUE(TestSupport::IsExpectedExceptionSection(Section, "QPushButton", "vesparo-demo", "on screen",
                                                      "std::runtime_error", Before))
    << Section.toStdString();
}
