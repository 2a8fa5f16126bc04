// A crash to its whole report, beside the demo's own start and quit, in the
// same run: BM_CrashToReport starts `vesparo-demo --crash segv --unattended`
// and waits until report, archive and copy exist; BM_StartAndQuit starts
// `vesparo-demo --quit-when-shown` and waits for its end; BM_RaiseToReport
// is the report of an exception. Offscreen, with a
// fresh data folder for each run. BM_InstallHandlers is what arming the
// crash handlers costs a program at load.

#include "platform/CrashHandler.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <chrono>

namespace {

using TClock = std::chrono::steady_clock;

// The demo runs from a copy, so that its "bugreport" folder is ours.
class TDemo {
public:
  TDemo()
  {
    QDir().mkpath(FDir.path() + QStringLiteral("/bin"));
    QFile::copy(QStringLiteral(CORVANE_BIN_DIR "/vesparo-demo"), Program());
  }

  QString Program() const { return FDir.path() + QStringLiteral("/bin/vesparo-demo"); }
  QString DataFolder(int Run) const { return FDir.path() + QStringLiteral("/data %1/Corvane 1.1").arg(Run); }
  QString CopyFolder() const { return FDir.path() + QStringLiteral("/bin/bugreport"); }

  // Starts the demo with a data folder of its own; returns at once.
  void Start(QProcess& Demo, int Run, const QStringList& Arguments) const
  {
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.insert(QStringLiteral("XDG_DATA_HOME"), FDir.path() + QStringLiteral("/data %1").arg(Run));
    Environment.insert(QStringLiteral("XDG_CONFIG_HOME"), FDir.path() + QStringLiteral("/config"));
    Environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    Demo.setProcessEnvironment(Environment);
    Demo.setProgram(Program());
    Demo.setArguments(Arguments);
    Demo.setStandardOutputFile(QProcess::nullDevice());
    Demo.setStandardErrorFile(QProcess::nullDevice());
    Demo.start();
  }

  // Report, archive and copy of run Run are all there. The copy, made
  // last, is looked for first: until it is there, a look costs one listing.
  bool Reported(int Run) const
  {
    const QString Folder = DataFolder(Run);
    return QDir(CopyFolder()).entryList({QStringLiteral("bugReport_*.zip")}, QDir::Files).size() >= Run &&
           QFile::exists(Folder + QStringLiteral("/vesparo-demo_halvern_leak_log.Hmld")) &&
           !QDir(Folder).entryList({QStringLiteral("bugReport*.zip")}, QDir::Files).isEmpty();
  }

private:
  QTemporaryDir FDir;
};

void BM_StartAndQuit(benchmark::State& State)
{
  TDemo Demo;
  int Run = 0;
  for (auto _ : State) {
    QProcess Process;
    Demo.Start(Process, ++Run, {QStringLiteral("--quit-when-shown")});
    if (!Process.waitForFinished(60000) || Process.exitCode() != 0) {
      State.SkipWithError("the demo did not quit");
      return;
    }
  }
}
BENCHMARK(BM_StartAndQuit)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// Starts the demo with Arguments and waits until report, archive and copy
// exist and the demo has ended, as Ending says it ends.
void StartToReport(benchmark::State& State, const QStringList& Arguments, QProcess::ExitStatus Ending)
{
  TDemo Demo;
  int Run = 0;
  for (auto _ : State) {
    QProcess Process;
    Demo.Start(Process, ++Run, Arguments);
    const TClock::time_point Deadline = TClock::now() + std::chrono::seconds(60);
    while (!Demo.Reported(Run) && TClock::now() < Deadline)
      QThread::msleep(2);
    Process.waitForFinished(60000);
    if (!Demo.Reported(Run) || Process.exitStatus() != Ending) {
      State.SkipWithError("no report");
      return;
    }
  }
}

void BM_CrashToReport(benchmark::State& State)
{
  StartToReport(State, {QStringLiteral("--crash"), QStringLiteral("segv"), QStringLiteral("--unattended")},
                QProcess::CrashExit);
}
BENCHMARK(BM_CrashToReport)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// The same report for an exception, inside the demo: what the helper's
// own start, unwinding and symbols add.
void BM_RaiseToReport(benchmark::State& State)
{
  StartToReport(State, {QStringLiteral("--raise"), QStringLiteral("bench"), QStringLiteral("--unattended")},
                QProcess::NormalExit);
}
BENCHMARK(BM_RaiseToReport)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

void BM_InstallHandlers(benchmark::State& State)
{
  for (auto _ : State) {
    const TClock::time_point Start = TClock::now();
    const bool Installed = CrashHandler::Install(QStringLiteral("/nonexistent/corvane-crash-helper"));
    const TClock::time_point End = TClock::now();
    CrashHandler::Uninstall();
    if (!Installed) {
      State.SkipWithError("the handlers could not be installed");
      return;
    }
    State.SetIterationTime(std::chrono::duration<double>(End - Start).count());
  }
}
BENCHMARK(BM_InstallHandlers)->Unit(benchmark::kMicrosecond)->UseManualTime();

}  // namespace

int main(int argc, char** argv)
{
  QCoreApplication App(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
