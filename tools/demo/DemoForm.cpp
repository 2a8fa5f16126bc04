#include "tools/demo/DemoForm.h"

#include "package/Vesparo.h"
#include "ui_DemoForm.h"

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <climits>
#include <cstdlib>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {
// A nested call that ends in the library's range check.
int ElementAfterLast(const std::vector<int>& Values) { return Values.at(Values.size()); }
int SumWithOneTooMany(const std::vector<int>& Values) { return ElementAfterLast(Values) + 1; }
}  // namespace

DemoForm::DemoForm(QWidget* Parent) : QMainWindow(Parent), FUi(std::make_unique<Ui::DemoForm>())
{
  FUi->setupUi(this);
  connect(FUi->ButtonRuntimeError, &QPushButton::clicked, this,
          [] { throw std::runtime_error("The runtime error button was pressed"); });
  connect(FUi->ButtonOutOfRange, &QPushButton::clicked, this, [] {
    const std::vector<int> Values{1, 2, 3};
    SumWithOneTooMany(Values);
  });
  connect(FUi->ButtonDemoError, &QPushButton::clicked, this,
          [] { throw EDemoError(QStringLiteral("The demo's own error class was raised")); });
  connect(FUi->ButtonMultiLine, &QPushButton::clicked, this, [] {
    throw std::runtime_error("First line of the message\nSecond line of the message\nThird line");
  });
  connect(FUi->ButtonRaiseRequested, &QPushButton::clicked, this, &DemoForm::RaiseRequestedException);
  connect(FUi->ButtonRaiseDuringPrompt, &QPushButton::clicked, this, &DemoForm::RaiseDuringPrompt);
  connect(FUi->ButtonRaiseInWorker, &QPushButton::clicked, this, &DemoForm::RaiseFromWorker);
  connect(FUi->ButtonCrash, &QPushButton::clicked, this, &DemoForm::Crash);
}

void DemoForm::SetRequestedMessage(const QString& Text, qint64 Count)
{
  const std::string Piece = Text.toStdString();
  FRequestedMessage.clear();
  FRequestedMessage.reserve(Piece.size() * std::size_t(Count));
  for (qint64 I = 0; I < Count; ++I)
    FRequestedMessage += Piece;
}

DemoForm::~DemoForm() = default;

Vesparo::TCVVesparo* DemoForm::Component() const { return FUi->CVVesparo1; }

void DemoForm::ClickRaiseRequested()
{
  QMetaObject::invokeMethod(FUi->ButtonRaiseRequested, &QPushButton::click, Qt::QueuedConnection);
}

void DemoForm::ClickOutOfRange()
{
  QMetaObject::invokeMethod(FUi->ButtonOutOfRange, &QPushButton::click, Qt::QueuedConnection);
}

void DemoForm::ClickRaiseInWorker()
{
  QMetaObject::invokeMethod(FUi->ButtonRaiseInWorker, &QPushButton::click, Qt::QueuedConnection);
}

void DemoForm::RaiseRequestedException()
{
  throw std::runtime_error(FRequestedMessage);
}

[[gnu::noinline]] void RaiseInWorker(const std::string& Message)
{
  throw std::runtime_error(Message);
}

void DemoForm::RaiseFromWorker()
{
  try {
    throw std::logic_error("Handled before the worker's exception");
  } catch (const std::logic_error&) {
  }
  const std::string Message = FRequestedMessage;
  std::async(std::launch::async, [Message] { RaiseInWorker(Message); }).get();
}

void DemoForm::ClickRaiseDuringPrompt()
{
  QMetaObject::invokeMethod(FUi->ButtonRaiseDuringPrompt, &QPushButton::click, Qt::QueuedConnection);
}

void DemoForm::RaiseDuringPrompt()
{
  // Looks at every turn of the event loop; the first turn inside the
  // prompt's loop comes before anything there can answer the prompt.
  auto* Timer = new QTimer(this);
  connect(Timer, &QTimer::timeout, this, [Timer] {
    if (!qobject_cast<QDialog*>(QApplication::activeModalWidget()))
      return;
    Timer->stop();
    Timer->deleteLater();
    throw std::runtime_error("inner exception");
  });
  Timer->start(0);
  throw std::runtime_error("outer exception");
}

// ---- crashes ------------------------------------------------------------

namespace {
volatile int Sink;
// Read at run time, so that the compiler cannot see the recursion never end.
volatile int StackOverflowDepthLimit = INT_MAX;

class TCrashingThread : public QThread {
protected:
  void run() override { CrashByQThread(); }
};
}  // namespace

[[gnu::noinline]] void CrashBySegv()
{
  // Through a pointer the compiler cannot follow, so that it reads for real.
  volatile int* volatile Nowhere = reinterpret_cast<volatile int*>(16);
  Sink = *Nowhere;
}

[[gnu::noinline]] void CrashByAbort()
{
  std::abort();
}

[[gnu::noinline]] void CrashByFpe()
{
  // Both read at run time: 1 / x is a comparison to the compiler.
  volatile int One = 1;
  volatile int Zero = 0;
  Sink = One / Zero;
}

[[gnu::noinline]] int CrashByStackOverflow(int Depth)
{
  volatile char Frame[1024];
  Frame[0] = char(Depth);
  if (Depth >= StackOverflowDepthLimit)
    return Frame[0];
  return CrashByStackOverflow(Depth + 1) + Frame[0];
}

[[gnu::noinline]] void CrashByTerminate()
{
  throw std::runtime_error("worker failed");
}

[[gnu::noinline]] void CrashByQThread()
{
  throw std::runtime_error("QThread::run failed");
}

void DemoForm::ClickCrash(const QString& Kind)
{
  FCrashKind = Kind;
  QMetaObject::invokeMethod(FUi->ButtonCrash, &QPushButton::click, Qt::QueuedConnection);
}

void DemoForm::Crash()
{
  if (FCrashKind == QLatin1String("segv"))
    CrashBySegv();
  else if (FCrashKind == QLatin1String("abort"))
    CrashByAbort();
  else if (FCrashKind == QLatin1String("fpe"))
    CrashByFpe();
  else if (FCrashKind == QLatin1String("stack-overflow"))
    Sink = CrashByStackOverflow(0);
  else if (FCrashKind == QLatin1String("terminate"))
    std::thread(CrashByTerminate).detach();
  else if (FCrashKind == QLatin1String("qthread"))
    (new TCrashingThread)->start();
  // "external": the event loop runs on until another process sends a signal.
}
