// The demo on a real X server: the form and the error box are real windows
// of the window system, mapped on screen and answered there.

#include "tests/tools/DemoRun.h"

#include "tests/support/ZipCheck.h"

#include <QDir>
#include <QFileInfo>

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

  // The box photographed on the X server, packed, and copied.
  const QStringList Pictures = QDir(Env.DataFolder()).entryList({QStringLiteral("*.bmp")}, QDir::Files);
  ASSERT_EQ(Pictures.size(), 1);
  const QList<int> Size = TestSupport::PythonBitmapSize(Env.DataFolder() + QLatin1Char('/') + Pictures[0]);
  ASSERT_EQ(Size.size(), 3);
  EXPECT_GT(Size[0], 50);
  EXPECT_GT(Size[1], 30);
  const QString Archive = Env.DataFolder() + QStringLiteral("/bugReport") + QFileInfo(Pictures[0]).completeBaseName() +
                          QStringLiteral(".zip");
  EXPECT_EQ(TestSupport::PythonZipInfo(Archive)[QStringLiteral("entries")].toArray().size(), 2);
  const QStringList Copies = QDir(BugReportFolderOf(Env)).entryList(QDir::Files);
  ASSERT_EQ(Copies.size(), 1);
  EXPECT_EQ(TestSupport::UnzipTest(BugReportFolderOf(Env) + QLatin1Char('/') + Copies[0]).ExitCode, 0);
}
