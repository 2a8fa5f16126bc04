// Opening a compressed debug file for its first question (the line table of
// the unit of an address in its first unit with code): inflated by us
// (libdeflate, two threads, location lists left out) beside libdw inflating
// the same file itself, and cut after that unit, as for a crash helper's
// frame there. The file is this build's platform library's debug
// information, split off and compressed by objcopy when the program starts
// (several megabytes, as the C library's debug file is).

#include "platform/DebugInfo.h"
#include "tests/support/FirstUnitWithCode.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <elfutils/libdw.h>

#include <fcntl.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

QByteArray DebugFile;

// The first question a renderer asks: the unit that holds Address, and its
// line table.
void Ask(Dwarf* Debug, Dwarf_Addr Address, benchmark::State& State)
{
  Dwarf_Die Unit;
  if (!Debug || !dwarf_addrdie(Debug, Address, &Unit)) {
    State.SkipWithError("libdw finds no unit there");
    return;
  }
  Dwarf_Lines* Lines = nullptr;
  std::size_t Count = 0;
  dwarf_getsrclines(&Unit, &Lines, &Count);
  benchmark::DoNotOptimize(Count);
}

Dwarf_Addr FirstUnitAddress()
{
  const Posix::TFd File = DebugInfo::Inflated(Posix::Open(DebugFile, O_RDONLY));
  Dwarf* Debug = dwarf_begin(File.Get(), DWARF_C_READ);
  const Dwarf_Addr Address = Debug ? TestSupport::FirstUnitWithCode(Debug).first : 0;
  if (Debug)
    dwarf_end(Debug);
  return Address;
}

// Opens the debug file as Open hands it over, and asks libdw about Address.
template <typename TOpen>
void OpenAndAsk(benchmark::State& State, TOpen Open)
{
  const Dwarf_Addr Address = FirstUnitAddress();
  for (auto _ : State) {
    const Posix::TFd File = Open(Address);
    Dwarf* Debug = dwarf_begin(File.Get(), DWARF_C_READ);
    Ask(Debug, Address, State);
    dwarf_end(Debug);
  }
}

void BM_OpenByLibdw(benchmark::State& State)
{
  OpenAndAsk(State, [](Dwarf_Addr) { return Posix::Open(DebugFile, O_RDONLY); });
}
BENCHMARK(BM_OpenByLibdw)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenInflated(benchmark::State& State)
{
  OpenAndAsk(State, [](Dwarf_Addr) { return DebugInfo::Inflated(Posix::Open(DebugFile, O_RDONLY)); });
}
BENCHMARK(BM_OpenInflated)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenCutToTheFirstUnit(benchmark::State& State)
{
  OpenAndAsk(State, [](Dwarf_Addr Address) {
    return DebugInfo::Inflated(Posix::Open(DebugFile, O_RDONLY), nullptr, {Address});
  });
}
BENCHMARK(BM_OpenCutToTheFirstUnit)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
  QTemporaryDir Dir;
  DebugFile = QFile::encodeName(Dir.path() + QStringLiteral("/platform.debug"));
  QProcess Split;
  Split.start(QStringLiteral("objcopy"), {QStringLiteral("--only-keep-debug"),
                                          QStringLiteral("--compress-debug-sections=zlib"),
                                          QStringLiteral(CORVANE_PLATFORM_LIBRARY), QFile::decodeName(DebugFile)});
  if (!Split.waitForFinished(120000) || Split.exitCode() != 0) {
    std::fprintf(stderr, "objcopy could not split the debug information off\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
