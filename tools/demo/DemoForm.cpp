#include "tools/demo/DemoForm.h"

#include "package/Vesparo.h"
#include "ui_DemoForm.h"

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QTimer>

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

void DemoForm::RaiseRequestedException()
{
  throw std::runtime_error(FRequestedMessage.toStdString());
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
