#pragma once
// Runs vesparo-demo as a user would start it, in a private environment.

#include "tests/support/ExpectedReport.h"
#include "tests/support/TempEnvironment.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

namespace DemoTests {

inline const QString DemoProgram = QStringLiteral(CORVANE_BIN_DIR "/vesparo-demo");

// The demo runs from a copy in the test's own folder, so that the
// "bugreport" folder beside it is the test's alone.
inline QString DemoCopyFolder(const TestSupport::TTempEnvironment& Env) { return Env.Root() + QStringLiteral("/bin/"); }
inline QString BugReportFolderOf(const TestSupport::TTempEnvironment& Env)
{
  return DemoCopyFolder(Env) + QStringLiteral("bugreport");
}

struct TDemoResult {
  int ExitCode = -1;
  bool Finished = false;
  QByteArray Output;
  QByteArray Errors;
};

// Starts the demo in Demo. Platform "offscreen" or "xcb"; the locale is
// pinned so that the dates of the report have the fixed form dd/mm/yyyy.
inline void StartDemo(QProcess& Demo, const TestSupport::TTempEnvironment& Env, const QStringList& Arguments,
                      const QString& Platform)
{
  QDir().mkpath(DemoCopyFolder(Env));
  const QString Program = DemoCopyFolder(Env) + QStringLiteral("vesparo-demo");
  if (!QFileInfo::exists(Program))
    QFile::copy(DemoProgram, Program);
  QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
  Environment.insert(QStringLiteral("XDG_DATA_HOME"), Env.DataHome());
  Environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Env.ConfigHome());
  Environment.insert(QStringLiteral("QT_QPA_PLATFORM"), Platform);
  Environment.insert(QStringLiteral("LANG"), QStringLiteral("C"));
  Environment.remove(QStringLiteral("LC_ALL"));
  Environment.remove(QStringLiteral("LC_TIME"));
  Environment.remove(QStringLiteral("LC_CTYPE"));
  Demo.setProcessEnvironment(Environment);
  Demo.start(Program, Arguments);
}

// Waits for a demo that StartDemo started.
inline TDemoResult FinishDemo(QProcess& Demo)
{
  TDemoResult Result;
  Result.Finished = Demo.waitForFinished(120000);
  if (!Result.Finished)
    Demo.kill();
  Demo.waitForFinished();
  Result.ExitCode = Demo.exitStatus() == QProcess::NormalExit ? Demo.exitCode() : -1;
  Result.Output = Demo.readAllStandardOutput();
  Result.Errors = Demo.readAllStandardError();
  return Result;
}

inline TDemoResult RunDemo(const TestSupport::TTempEnvironment& Env, const QStringList& Arguments,
                           const QString& Platform)
{
  QProcess Demo;
  StartDemo(Demo, Env, Arguments, Platform);
  return FinishDemo(Demo);
}

inline QString ReportOf(const TestSupport::TTempEnvironment& Env)
{
  return Env.DataFolder() + QStringLiteral("/vesparo-demo_halvern_leak_log.Hmld");
}

}  // namespace DemoTests
