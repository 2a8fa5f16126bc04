// Writing a report-sized text file line by line: our text file (ANSI
// conversion, CR LF, checked writes) beside a plain QFile writing the same
// lines as Latin-1, the least a writer of such a file can do.

#include "hostfw/TextFile.h"
#include "platform/AnsiCodePage.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// About the size of a report with a few hundred processes.
QStringList ReportLines(int Count)
{
  QStringList Lines;
  for (int I = 0; I < Count; ++I)
    Lines << QStringLiteral("some-process-%1   |   %2                             %3|;").arg(I).arg(1000 + I).arg(I * 3.5);
  return Lines;
}

void TextFileWriteLn(benchmark::State& State)
{
  AnsiCodePage::SetACP(1252);
  QTemporaryDir Dir;
  const QStringList Lines = ReportLines(static_cast<int>(State.range(0)));
  for (auto _ : State) {
    TextFile::TTextFile File(Dir.filePath(QStringLiteral("report.Hmld")));
    File.Rewrite();
    for (const QString& Line : Lines)
      File.WriteLn(Line);
    File.Close();
  }
  State.SetItemsProcessed(State.iterations() * Lines.size());
}

void QFileLatin1Baseline(benchmark::State& State)
{
  QTemporaryDir Dir;
  const QStringList Lines = ReportLines(static_cast<int>(State.range(0)));
  for (auto _ : State) {
    QFile File(Dir.filePath(QStringLiteral("report.Hmld")));
    if (!File.open(QIODevice::WriteOnly | QIODevice::Truncate))
      State.SkipWithError("cannot open");
    for (const QString& Line : Lines) {
      File.write(Line.toLatin1());
      File.write("\r\n", 2);
    }
    File.close();
  }
  State.SetItemsProcessed(State.iterations() * Lines.size());
}

}  // namespace

BENCHMARK(TextFileWriteLn)->Arg(300)->Arg(30000);
BENCHMARK(QFileLatin1Baseline)->Arg(300)->Arg(30000);
BENCHMARK_MAIN();
