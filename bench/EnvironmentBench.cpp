// The environment step of a report (operating system, memory, processor,
// network, version resource and the process table, into a fresh report
// file) beside what a user of this platform runs for the same table:
// ps -eo comm,pid,user,rss into /dev/null. Both are timed by the wall clock:
// the baseline spends its time in a child process.

#include "hostfw/Application.h"
#include "package/Vesparo.h"
#include "package/Vesparoutil.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

void BM_VersionInformation(benchmark::State& State)
{
  Vesparo::TCVVesparo Component;
  for (auto _ : State) {
    if (!Component.VersionInformation()) {
      State.SkipWithError("the environment step failed");
      break;
    }
  }
}

void BM_PsBaseline(benchmark::State& State)
{
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_addopen(&Actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  char Ps[] = "ps", Options[] = "-eo", Columns[] = "comm,pid,user,rss";
  char* Arguments[] = {Ps, Options, Columns, nullptr};
  for (auto _ : State) {
    pid_t Child = 0;
    int Status = 0;
    if (posix_spawnp(&Child, "ps", &Actions, nullptr, Arguments, environ) != 0 ||
        waitpid(Child, &Status, 0) != Child || !WIFEXITED(Status) || WEXITSTATUS(Status) != 0) {
      State.SkipWithError("ps failed");
      break;
    }
  }
  posix_spawn_file_actions_destroy(&Actions);
}

}  // namespace

BENCHMARK(BM_VersionInformation)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PsBaseline)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
  // The component needs the application object; no window is shown.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Reports go to a folder of our own, not into the user's data folder.
  QTemporaryDir DataHome;
  setenv("XDG_DATA_HOME", qPrintable(DataHome.path()), 1);
  Application::TApplication App(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
