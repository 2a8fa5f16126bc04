// Adding a 64 MiB screenshot-like file to an archive with the ZIP writer,
// beside the least that costs: zlib's raw deflate at level 6 of the same
// bytes, memory to memory. Info-ZIP's "zip -6" on the same file runs as a
// further comparison. All three are timed by the wall clock (files and a
// child process take part).
//
// The machine is shared: compare with the runs interleaved, e.g.
//   bench_zip --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
//
// BM_AddDeflatedFileMemory/16 and /64 add a file of 16 or 64 MiB in a child
// process and report how far its peak resident set grew while doing so:
// the writer streams through fixed buffers, so the growth must not follow
// the file's size.

#include "package/SynZip.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <zlib.h>

#include <fstream>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// Rows of a 1920 pixel wide 32-bit desktop: flat window backgrounds, title
// bar gradients, text-like dots and a photo-like area, in tiles.
QByteArray ScreenshotLikeData(qint64 Size)
{
  constexpr int Width = 1920;
  QByteArray Data(Size, Qt::Uninitialized);
  auto* Pixels = reinterpret_cast<unsigned char*>(Data.data());
  std::uint32_t Noise = 12345;
  for (qint64 I = 0; I + 4 <= Size; I += 4) {
    const int Pixel = int(I / 4);
    const int X = Pixel % Width;
    const int Y = Pixel / Width;
    const int Tile = ((X / 240) * 7 + (Y / 180) * 13) % 4;
    unsigned char B = 0xF0, G = 0xF0, R = 0xF0;
    Noise = Noise * 1103515245u + 12345u;
    switch (Tile) {
      case 0: B = 0xE8, G = 0xE0, R = 0xD8; break;
      case 1: B = (unsigned char)(X % 240), G = 0x60, R = (unsigned char)(255 - X % 240); break;
      case 2:
        if (Y % 14 < 9 && (Noise >> 24) < 40)
          B = G = R = 0x20;
        break;
      default: {
        const int Base = (X * 3 + Y * 5) % 256;
        B = (unsigned char)(Base + (Noise >> 29));
        G = (unsigned char)(Base / 2 + (Noise >> 28));
        R = (unsigned char)(255 - Base);
      }
    }
    Pixels[I] = B;
    Pixels[I + 1] = G;
    Pixels[I + 2] = R;
    Pixels[I + 3] = 0xFF;
  }
  return Data;
}

struct TBenchFiles {
  QTemporaryDir Dir;
  QString Source(int MiB)
  {
    const QString Path = Dir.filePath(QStringLiteral("screen%1.bmp").arg(MiB));
    if (!QFile::exists(Path)) {
      QFile File(Path);
      if (File.open(QIODevice::WriteOnly))
        File.write(ScreenshotLikeData(qint64(MiB) << 20));
    }
    return Path;
  }
  QString Archive() const { return Dir.filePath(QStringLiteral("bench.zip")); }
};

TBenchFiles& Files()
{
  static TBenchFiles Instance;
  return Instance;
}

void BM_RawDeflate(benchmark::State& State)
{
  QFile File(Files().Source(64));
  File.open(QIODevice::ReadOnly);
  const QByteArray Input = File.readAll();
  std::vector<Bytef> Output;
  qint64 Produced = 0;
  for (auto _ : State) {
    z_stream Strm{};
    deflateInit2(&Strm, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    Output.resize(deflateBound(&Strm, uLong(Input.size())));
    Strm.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Input.constData()));
    Strm.avail_in = uInt(Input.size());
    Strm.next_out = Output.data();
    Strm.avail_out = uInt(Output.size());
    if (deflate(&Strm, Z_FINISH) != Z_STREAM_END)
      State.SkipWithError("deflate did not finish");
    Produced = qint64(Strm.total_out);
    deflateEnd(&Strm);
    benchmark::DoNotOptimize(Output.data());
  }
  State.SetBytesProcessed(State.iterations() * Input.size());
  State.counters["CompressedMiB"] = double(Produced) / (1 << 20);
}

void BM_AddDeflatedFile(benchmark::State& State)
{
  const QString Source = Files().Source(64);
  for (auto _ : State) {
    // As the packaging does: the old archive is deleted, not overwritten.
    State.PauseTiming();
    QFile::remove(Files().Archive());
    State.ResumeTiming();
    SynZip::TZipWrite Zip(Files().Archive());
    Zip.AddDeflated(Source, true, 6);
  }
  State.SetBytesProcessed(State.iterations() * (qint64(64) << 20));
  State.counters["ArchiveMiB"] = double(QFileInfo(Files().Archive()).size()) / (1 << 20);
}

void BM_InfoZipCommand(benchmark::State& State)
{
  const QString Source = Files().Source(64);
  const QString Archive = Files().Dir.filePath(QStringLiteral("infozip.zip"));
  for (auto _ : State) {
    QFile::remove(Archive);
    QProcess Zip;
    Zip.start(QStringLiteral("zip"), {QStringLiteral("-q"), QStringLiteral("-6"), QStringLiteral("-j"), Archive, Source});
    if (!Zip.waitForFinished(-1) || Zip.exitCode() != 0)
      State.SkipWithError("zip failed");
  }
  State.SetBytesProcessed(State.iterations() * (qint64(64) << 20));
  State.counters["ArchiveMiB"] = double(QFileInfo(Archive).size()) / (1 << 20);
}

long StatusKiB(const char* Field)
{
  std::ifstream Status("/proc/self/status");
  std::string Line;
  while (std::getline(Status, Line))
    if (Line.rfind(Field, 0) == 0)
      return std::stol(Line.substr(std::string(Field).size()));
  return -1;
}

// Peak resident growth, in KiB, of adding the file in a child process:
// the child resets its peak mark, adds the file, and reports the peak over
// its resident set before the add.
long AddInChild(const QString& Source, const QString& Archive)
{
  int Pipe[2];
  if (::pipe(Pipe) != 0)
    return -1;
  const pid_t Child = ::fork();
  if (Child == 0) {
    ::close(Pipe[0]);
    long Growth = -1;
    {
      std::ofstream("/proc/self/clear_refs") << "5";
      const long Before = StatusKiB("VmRSS:");
      {
        SynZip::TZipWrite Zip(Archive);
        Zip.AddDeflated(Source, true, 6);
      }
      Growth = StatusKiB("VmHWM:") - Before;
    }
    if (::write(Pipe[1], &Growth, sizeof Growth) != sizeof Growth)
      ::_exit(1);
    ::_exit(0);
  }
  ::close(Pipe[1]);
  long Growth = -1;
  if (::read(Pipe[0], &Growth, sizeof Growth) != sizeof Growth)
    Growth = -1;
  ::close(Pipe[0]);
  ::waitpid(Child, nullptr, 0);
  return Growth;
}

void BM_AddDeflatedFileMemory(benchmark::State& State)
{
  const int MiB = int(State.range(0));
  const QString Source = Files().Source(MiB);
  long Growth = 0;
  for (auto _ : State)
    Growth = AddInChild(Source, Files().Archive());
  if (Growth < 0)
    State.SkipWithError("cannot measure the child's resident set");
  State.counters["PeakRssGrowthKiB"] = double(Growth);
}

}  // namespace

BENCHMARK(BM_RawDeflate)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_AddDeflatedFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_InfoZipCommand)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_AddDeflatedFileMemory)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK_MAIN();
