// Opening a compressed debug file for its first question: inflated by us
// (libdeflate, two threads, location lists left out) beside libdw inflating
// the same file itself, and cut to the first unit for a crash helper's
// frame there. The file is this build's platform library's debug
// information, split off and compressed by objcopy when the program starts
// (several megabytes, as the C library's debug file is).

#include "platform/DebugInfo.h"

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

// The first question a renderer asks: the unit of the first address that
// one has, and its line.
void Ask(Dwarf* Debug, benchmark::State& State)
{
  if (!Debug) {
    State.SkipWithError("libdw cannot read the file");
    return;
  }
  Dwarf_Off Offset = 0;
  Dwarf_Off Next = 0;
  std::size_t HeaderSize = 0;
  Dwarf_Die Unit;
  if (dwarf_nextcu(Debug, Offset, &Next, &HeaderSize, nullptr, nullptr, nullptr) != 0 ||
      !dwarf_offdie(Debug, Offset + HeaderSize, &Unit)) {
    State.SkipWithError("no unit");
    return;
  }
  Dwarf_Lines* Lines = nullptr;
  std::size_t Count = 0;
  dwarf_getsrclines(&Unit, &Lines, &Count);
  benchmark::DoNotOptimize(Count);
}

// The address of code in the first unit that has some at an address of its
// own, and that unit's offset: where a cut keeps least.
std::pair<Dwarf_Addr, Dwarf_Off> FirstUnitWithCode(Dwarf* Debug)
{
  Dwarf_Aranges* Ranges = nullptr;
  std::size_t Count = 0;
  std::pair<Dwarf_Addr, Dwarf_Off> First{0, ~Dwarf_Off(0)};
  if (dwarf_getaranges(Debug, &Ranges, &Count) != 0)
    return First;
  for (std::size_t I = 0; I < Count; ++I) {
    Dwarf_Addr Address = 0;
    Dwarf_Word Length = 0;
    Dwarf_Off Unit = 0;
    if (dwarf_getarangeinfo(dwarf_onearange(Ranges, I), &Address, &Length, &Unit) == 0 && Address != 0 &&
        Length > 0 && Unit < First.second)
      First = {Address, Unit};
  }
  return First;
}

Dwarf_Addr FirstUnitAddress()
{
  const Posix::TFd File = DebugInfo::Inflated(Posix::Open(DebugFile, O_RDONLY));
  Dwarf* Debug = dwarf_begin(File.Get(), DWARF_C_READ);
  const Dwarf_Addr Address = Debug ? FirstUnitWithCode(Debug).first : 0;
  if (Debug)
    dwarf_end(Debug);
  return Address;
}

void BM_OpenByLibdw(benchmark::State& State)
{
  for (auto _ : State) {
    const Posix::TFd File = Posix::Open(DebugFile, O_RDONLY);
    Dwarf* Debug = dwarf_begin(File.Get(), DWARF_C_READ);
    Ask(Debug, State);
    dwarf_end(Debug);
  }
}
BENCHMARK(BM_OpenByLibdw)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenInflated(benchmark::State& State)
{
  for (auto _ : State) {
    const Posix::TFd File = DebugInfo::Inflated(Posix::Open(DebugFile, O_RDONLY));
    Dwarf* Debug = dwarf_begin(File.Get(), DWARF_C_READ);
    Ask(Debug, State);
    dwarf_end(Debug);
  }
}
BENCHMARK(BM_OpenInflated)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenCutToTheFirstUnit(benchmark::State& State)
{
  const Dwarf_Addr Address = FirstUnitAddress();
  for (auto _ : State) {
    const Posix::TFd File = DebugInfo::Inflated(Posix::Open(DebugFile, O_RDONLY), nullptr, {Address});
    Dwarf* Debug = dwarf_begin(File.Get(), DWARF_C_READ);
    Ask(Debug, State);
    dwarf_end(Debug);
  }
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
