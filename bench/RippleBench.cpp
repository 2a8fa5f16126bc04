// One step of the installer's ripple banner with its display into the
// 256 x 256 picture, beside copying that picture's 256 KiB once. The timer
// fires every 5 ms; goal: a step within 100 us and within ten copies.

#include "hostfw/Image.h"
#include "installer/u_rippleEffect.h"


#include <benchmark/benchmark.h>

#include <cstring>

namespace {

using namespace u_rippleEffect;

void BM_ProcessWater(benchmark::State& State)
{
  Image::TImage Banner;
  Banner.resize(771, 103);
  CreatOr(&Banner, Colors::clWhite);
  for (int x = 20; x < 256; x += 40)
    for (int y = 20; y < 256; y += 40)
      MakeDrip(x, y, 16);
  for (auto _ : State) {
    ProcessWater(&Banner, Colors::clWhite);
    benchmark::DoNotOptimize(Banner.Picture().constBits());
  }
  DestrOyer();
  State.SetBytesProcessed(State.iterations() * GridSize * GridSize * 4);
}
BENCHMARK(BM_ProcessWater)->Unit(benchmark::kMicrosecond);

void BM_CopyImage(benchmark::State& State)
{
  QImage Source(GridSize, GridSize, QImage::Format_RGB32);
  Source.fill(0xFF336699u);
  QImage Target(GridSize, GridSize, QImage::Format_RGB32);
  const auto Size = static_cast<std::size_t>(Source.sizeInBytes());
  for (auto _ : State) {
    std::memcpy(Target.bits(), Source.constBits(), Size);
    benchmark::ClobberMemory();
  }
  State.SetBytesProcessed(State.iterations() * static_cast<std::int64_t>(Size));
}
BENCHMARK(BM_CopyImage)->Unit(benchmark::kMicrosecond);

}  // namespace
