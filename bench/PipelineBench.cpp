// From the throw to the error prompt's first show event (the real
// environment step included), beside the environment step alone, in the
// same run. Offscreen; each prompt is answered with OK, which photographs,
// packs and copies the report as a user's click would, outside the timing.

#include "hostfw/Application.h"
#include "package/Vesparo.h"
#include "package/Vesparoutil.h"

#include <QDialog>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>

namespace {

using TClock = std::chrono::steady_clock;

// The component as a host form holds it: active and loaded.
class THostComponent : public Vesparo::TCVVesparo {
public:
  THostComponent()
  {
    SetMLDActive(true);
    Loaded();
  }
};

// Notes when the prompt is shown for the first time, then answers it with
// its default button from inside its modal loop, as a user would. (A modal
// hook would add its own timer to the timed path; a user's application has
// none.)
class TShowWatch : public QObject {
public:
  std::optional<TClock::time_point> Shown;

protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override
  {
    if (!Shown && Event->type() == QEvent::Show && Watched->objectName() == QLatin1String("TaskDialogForm")) {
      Shown = TClock::now();
      if (auto* Dialog = qobject_cast<QDialog*>(Watched))
        QMetaObject::invokeMethod(Dialog, [Dialog] { PressDefault(*Dialog); }, Qt::QueuedConnection);
    }
    return false;
  }

private:
  static void PressDefault(QDialog& Dialog)
  {
    for (QPushButton* Button : Dialog.findChildren<QPushButton*>())
      if (Button->isDefault()) {
        Button->click();
        return;
      }
    Dialog.accept();
  }
};

void BM_ExceptionToPrompt(benchmark::State& State)
{
  auto& App = *Application::Instance();
  THostComponent Component;
  TShowWatch Watch;
  App.installEventFilter(&Watch);
  TClock::time_point Thrown;
  QPushButton Raiser;
  // Each exception has a message of its own, as in real use: nothing that
  // depends on the message may be kept from one prompt to the next.
  int Raised = 0;
  QObject::connect(&Raiser, &QPushButton::clicked, &Raiser, [&Thrown, &Raised] {
    const std::string Message = "timed exception " + std::to_string(++Raised);
    Thrown = TClock::now();
    throw std::runtime_error(Message);
  });
  for (auto _ : State) {
    Watch.Shown.reset();
    QMetaObject::invokeMethod(&Raiser, &QPushButton::click, Qt::QueuedConnection);
    QCoreApplication::processEvents();
    if (!Watch.Shown) {
      State.SkipWithError("the prompt was not shown");
      break;
    }
    State.SetIterationTime(std::chrono::duration<double>(*Watch.Shown - Thrown).count());
  }
  App.removeEventFilter(&Watch);
  App.SetOnException({});
}

void BM_EnvironmentStep(benchmark::State& State)
{
  Vesparo::TCVVesparo Component;
  for (auto _ : State) {
    if (!Component.VersionInformation()) {
      State.SkipWithError("the environment step failed");
      break;
    }
  }
}

}  // namespace

BENCHMARK(BM_ExceptionToPrompt)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_EnvironmentStep)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Reports go to a folder of our own, not into the user's data folder.
  QTemporaryDir DataHome;
  setenv("XDG_DATA_HOME", qPrintable(DataHome.path()), 1);
  Application::TApplication App(argc, argv);
  // Each prompt leaves a copy of its archive beside the program; the copies
  // of this run are removed again.
  const QDir Copies(Vesparoutil::ExtractFilePath(Vesparoutil::ApplicationExeName()) + QStringLiteral("bugreport"));
  const QStringList Before = Copies.entryList(QDir::Files);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const QString& Name : Copies.entryList(QDir::Files))
    if (!Before.contains(Name))
      QFile::remove(Copies.filePath(Name));
  return 0;
}
