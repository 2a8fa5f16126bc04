#include "tools/demo/DemoForm.h"

#include "package/Vesparo.h"
#include "ui_DemoForm.h"

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QTimer>

#include <future>
#include <stdexcept>
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
