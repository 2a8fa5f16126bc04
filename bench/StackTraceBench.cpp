// The cost of recording stacks at every throw: the same throw and catch
// through ten nested calls with tracking off and on (with the options the
// package sets), and rendering a recorded stack the first time and again.

#include "platform/StackTrace.h"

#include <benchmark/benchmark.h>

#include <stdexcept>

namespace {

[[gnu::noinline]] void Nested(int Depth)
{
  if (Depth == 0)
    throw std::runtime_error("bench");
  Nested(Depth - 1);
  benchmark::ClobberMemory();
}

void ThrowAndCatch(int Depth)
{
  try {
    Nested(Depth);
  } catch (const std::exception& E) {
    benchmark::DoNotOptimize(E.what());
  }
}

void PackageOptions()
{
  StackTrace::JclStackTrackingOptions.SetBits(0);
  StackTrace::JclStackTrackingOptions += StackTrace::tsoRawStackScan;
  StackTrace::JclStackTrackingOptions += StackTrace::tsoStaticModuleList;
}

void BM_ThrowCatchUntracked(benchmark::State& State)
{
  StackTrace::JclStopExceptionTracking();
  for (auto _ : State)
    ThrowAndCatch(10);
}
BENCHMARK(BM_ThrowCatchUntracked);

void BM_ThrowCatchTracked(benchmark::State& State)
{
  PackageOptions();
  if (!StackTrace::JclStartExceptionTracking())
    State.SkipWithError("the throw hook is not in effect");
  for (auto _ : State)
    ThrowAndCatch(10);
  StackTrace::JclStopExceptionTracking();
}
BENCHMARK(BM_ThrowCatchTracked);

// Tracking without raw stack scanning: what the unwinder's walk costs alone.
void BM_ThrowCatchTrackedUnwindOnly(benchmark::State& State)
{
  StackTrace::JclStackTrackingOptions.SetBits(0);
  if (!StackTrace::JclStartExceptionTracking())
    State.SkipWithError("the throw hook is not in effect");
  for (auto _ : State)
    ThrowAndCatch(10);
  StackTrace::JclStopExceptionTracking();
}
BENCHMARK(BM_ThrowCatchTrackedUnwindOnly);

// Records a stack of exactly Frames frames: nests as deep as it takes.
bool RecordStackOf(std::size_t Frames)
{
  ThrowAndCatch(0);
  const std::size_t Base = StackTrace::LastExceptStackAddresses().size();
  if (Base > Frames)
    return false;
  ThrowAndCatch(int(Frames - Base));
  return StackTrace::LastExceptStackAddresses().size() == Frames;
}

// Arg 0: the first rendering (debug information read afresh); 1: warm.
void BM_RenderLastStack(benchmark::State& State)
{
  const bool Warm = State.range(0) == 1;
  StackTrace::JclStackTrackingOptions.SetBits(0);
  StackTrace::JclStartExceptionTracking();
  if (!RecordStackOf(30))
    State.SkipWithError("could not record a stack of 30 frames");
  StackTrace::JclStopExceptionTracking();
  QStringList Lines;
  StackTrace::JclLastExceptStackListToStrings(Lines, false, true, true, false);
  for (auto _ : State) {
    if (!Warm) {
      State.PauseTiming();
      StackTrace::ResetDebugInfoCache();
      State.ResumeTiming();
    }
    StackTrace::JclLastExceptStackListToStrings(Lines, false, true, true, false);
    benchmark::DoNotOptimize(Lines);
  }
  State.counters["lines"] = double(Lines.size());
  State.SetLabel(Warm ? "warm" : "first");
}
BENCHMARK(BM_RenderLastStack)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
