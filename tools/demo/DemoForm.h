#pragma once
// The demo's main window: a form that carries the component, stored active,
// and buttons whose click handlers raise exceptions nobody handles.

#include "hostfw/Exceptions.h"

#include <QMainWindow>
#include <QString>

#include <memory>

namespace Ui {
class DemoForm;
}

namespace Vesparo {
class TCVVesparo;
}

// The demo's own exception class.
class EDemoError : public Exception {
public:
  using Exception::Exception;
};

class DemoForm : public QMainWindow {
  Q_OBJECT
public:
  explicit DemoForm(QWidget* Parent = nullptr);
  ~DemoForm() override;

  Vesparo::TCVVesparo* Component() const;
  void SetRequestedMessage(const QString& Message) { FRequestedMessage = Message; }

  // Clicks, as a user would: queued, so that each runs in its own event.
  void ClickRaiseRequested();
  void ClickOutOfRange();
  void ClickRaiseDuringPrompt();

  [[noreturn]] void RaiseRequestedException();
  // Raises "outer exception"; once a modal dialog (its prompt) is open, a
  // timer raises "inner exception" from inside that dialog's message loop.
  [[noreturn]] void RaiseDuringPrompt();

private:
  std::unique_ptr<Ui::DemoForm> FUi;
  QString FRequestedMessage;
};
