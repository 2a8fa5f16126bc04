// The registry store with a great many sibling keys, as a hand-written or
// long-grown store has them: open a store of N keys with one value each and
// read one value, beside reading the same bytes into memory; one write
// into such a store with its fsyncs; and one registry object reading every
// key's value, one key after the other; and a store of one long text with
// line breaks, which the file holds as hex digits.
// Goals: ten times the keys (or the text's characters) take at most 12
// times as long; 200,000 keys open within 20 times the baseline.

#include "package/Vesparoutil.h"
#include "platform/Registry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

namespace {

const QString Key = QStringLiteral("\\SOFTWARE\\Bench");

// A store file of Keys sibling keys in no particular order, each with one
// value, in its own configuration folder.
class TStore {
public:
  explicit TStore(int Keys)
  {
    std::vector<int> Order(std::size_t(Keys), 0);
    std::iota(Order.begin(), Order.end(), 0);
    std::shuffle(Order.begin(), Order.end(), std::mt19937(42));
    QByteArray Text = "Windows Registry Editor Version 5.00\r\n\r\n";
    for (const int I : Order)
      Text += "[HKEY_CURRENT_USER\\SOFTWARE\\Bench\\Key" + QByteArray::number(I) + "]\r\n\"Value\"=\"value " +
              QByteArray::number(I) + "\"\r\n\r\n";
    QDir(FDir.path()).mkpath(QStringLiteral("Corvane/registry"));
    QFile File(FileName());
    if (File.open(QIODevice::WriteOnly))
      File.write(Text);
  }

  // Leads the registry of this process to the store.
  void Use() const { qputenv("XDG_CONFIG_HOME", QFile::encodeName(FDir.path())); }
  QString FileName() const { return FDir.filePath(QStringLiteral("Corvane/registry/user.reg")); }

private:
  QTemporaryDir FDir;
};

const TStore& Store(int Keys)
{
  static std::map<int, std::unique_ptr<TStore>> Stores;
  std::unique_ptr<TStore>& Found = Stores[Keys];
  if (!Found)
    Found = std::make_unique<TStore>(Keys);
  Found->Use();
  return *Found;
}

// A store of one text of Characters characters, a line break among them.
void UseLongTextStore(int Characters)
{
  static std::map<int, std::unique_ptr<QTemporaryDir>> Stores;
  std::unique_ptr<QTemporaryDir>& Found = Stores[Characters];
  const bool Made = !Found;
  if (Made)
    Found = std::make_unique<QTemporaryDir>();
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(Found->path()));
  if (Made) {
    QString Text(Characters, QLatin1Char('t'));
    Text[0] = QLatin1Char('\n');
    Registry::TRegistry Reg;
    if (Reg.OpenKey(Key, true))
      Reg.WriteString(QStringLiteral("Text"), Text);
  }
}

void BM_OpenStore(benchmark::State& State)
{
  const int Keys = int(State.range(0));
  Store(Keys);
  const QString Wanted = Key + QStringLiteral("\\Key%1").arg(Keys / 2);
  const QString Expected = QStringLiteral("value %1").arg(Keys / 2);
  for (auto _ : State) {
    Registry::TRegistry Reg(Registry::KEY_READ);
    if (!Reg.OpenKey(Wanted, false) || Reg.ReadString(QStringLiteral("Value")) != Expected)
      State.SkipWithError("the value was not found");
  }
  State.SetItemsProcessed(State.iterations() * Keys);
}

void BM_ReadFileBaseline(benchmark::State& State)
{
  const TStore& Bytes = Store(200000);
  for (auto _ : State) {
    QFile File(Bytes.FileName());
    if (!File.open(QIODevice::ReadOnly))
      State.SkipWithError("cannot open");
    benchmark::DoNotOptimize(File.readAll());
  }
}

void BM_ReadEachKey(benchmark::State& State)
{
  const int Keys = int(State.range(0));
  Store(Keys);
  for (auto _ : State) {
    Registry::TRegistry Reg(Registry::KEY_READ);
    for (int I = 0; I < Keys; ++I)
      if (!Reg.OpenKey(Key + QStringLiteral("\\Key%1").arg(I), false) ||
          Reg.ReadString(QStringLiteral("Value")) != QStringLiteral("value %1").arg(I))
        State.SkipWithError("a value was not found");
  }
  State.SetItemsProcessed(State.iterations() * Keys);
}

void BM_ReadLongText(benchmark::State& State)
{
  const int Characters = int(State.range(0));
  UseLongTextStore(Characters);
  for (auto _ : State) {
    Registry::TRegistry Reg(Registry::KEY_READ);
    if (!Reg.OpenKey(Key, false) || Reg.ReadString(QStringLiteral("Text")).size() != Characters)
      State.SkipWithError("the text was not found");
  }
  State.SetItemsProcessed(State.iterations() * Characters);
}

void BM_SetValue(benchmark::State& State)
{
  const int Keys = int(State.range(0));
  Store(Keys);
  const QString Wanted = Key + QStringLiteral("\\Key%1").arg(Keys / 2);
  // A value of its own, so that the value the other benchmarks read stays.
  int Round = 0;
  for (auto _ : State)
    Vesparoutil::WriteValueToRegisTry(Wanted, false, QStringLiteral("Set"), QStringLiteral("round %1").arg(++Round));
}

}  // namespace

BENCHMARK(BM_OpenStore)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFileBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadEachKey)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadLongText)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetValue)->Arg(200000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
