// Opening a report in the viewer window: parse the file and fill the grids,
// the details and the call stack, for reports with many process rows. Beside
// it, the least any reader of such a file does: read its lines with QFile.
// Goal: twice the rows cost at most 2.2 times the time.

#include "hostfw/StringGrid.h"
#include "package/HmldFormat.h"
#include "package/u_errorFileReader.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// A report as the component writes it, with Rows process rows.
QByteArray Report(int Rows)
{
  QStringList Lines{QStringLiteral("OSName:Debian;"), QStringLiteral("Version:6.1;"), QStringLiteral("Bit:64 bits;"),
                    QStringLiteral("RAMINUSE:12 %;"), QStringLiteral("Size :4096;"),
                    QStringLiteral("Product Name:Bench;"), HmldFormat::ProcessStartMarker(),
                    HmldFormat::ProcessHeader()};
  for (int I = 0; I < Rows; ++I) {
    HmldFormat::TProcessRow Row;
    Row.Caption = QStringLiteral("process-%1").arg(I);
    Row.ProcessId = QString::number(1000 + I);
    Row.HasOwner = (I % 7) != 0;
    Row.User = QStringLiteral("user");
    Row.Domain = QStringLiteral("host");
    Row.WorkingSetKb = QString::number(I * 3.5);
    Lines << HmldFormat::ProcessRow(Row);
  }
  Lines << HmldFormat::ProcessEndMarker();
  HmldFormat::TExceptionSection Section{QStringLiteral("QPushButton"), QStringLiteral("bench"),
                                        QStringLiteral("08/12/2026"), QStringLiteral("message"),
                                        QStringLiteral("std::runtime_error")};
  Lines << HmldFormat::ExceptionSectionLines(Section);
  Lines << HmldFormat::StackSectionOpening(QStringLiteral("08/12/2026 00:00:00"));
  Lines << QStringLiteral("[00401000] main.cpp Line 12") << HmldFormat::StackSectionClosing();
  return (Lines.join(QLatin1String("\r\n")) + QLatin1String("\r\n")).toLatin1();
}

struct TReportFile {
  QTemporaryDir Dir;
  QString Name;
  explicit TReportFile(int Rows) : Name(Dir.filePath(QStringLiteral("bench_halvern_leak_log.Hmld")))
  {
    QFile File(Name);
    if (File.open(QIODevice::WriteOnly))
      File.write(Report(Rows));
  }
};

void BM_OpenReport(benchmark::State& State)
{
  const int Rows = static_cast<int>(State.range(0));
  const TReportFile File(Rows);
  for (auto _ : State) {
    u_errorFileReader::TFrmErroReader Form(nullptr, File.Name);
    if (Form.StringGridProcessList()->RowCount() != Rows + 1)
      State.SkipWithError("wrong number of rows");
  }
  State.SetItemsProcessed(State.iterations() * Rows);
}

void BM_ReadLinesBaseline(benchmark::State& State)
{
  const int Rows = static_cast<int>(State.range(0));
  const TReportFile File(Rows);
  for (auto _ : State) {
    QFile In(File.Name);
    if (!In.open(QIODevice::ReadOnly))
      State.SkipWithError("cannot open");
    qsizetype Count = 0;
    while (!In.atEnd())
      Count += QString::fromLatin1(In.readLine()).size();
    benchmark::DoNotOptimize(Count);
  }
  State.SetItemsProcessed(State.iterations() * Rows);
}

}  // namespace

BENCHMARK(BM_OpenReport)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadLinesBaseline)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);
