#pragma once
// The demo's main window: a form that carries the component, stored active,
// and buttons whose click handlers raise exceptions nobody handles.

#include "hostfw/Exceptions.h"

#include <QMainWindow>
#include <QString>

#include <memory>
#include <string>

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
  void SetRequestedMessage(const QString& Message) { FRequestedMessage = Message.toStdString(); }
  // Text, Count times: a message of any size, built without a copy as text.
  void SetRequestedMessage(const QString& Text, qint64 Count);

  // Clicks, as a user would: queued, so that each runs in its own event.
  void ClickRaiseRequested();
  void ClickOutOfRange();
  void ClickRaiseDuringPrompt();
  void ClickRaiseInWorker();

  [[noreturn]] void RaiseRequestedException();
  // Raises "outer exception"; once a modal dialog (its prompt) is open, a
  // timer raises "inner exception" from inside that dialog's message loop.
  [[noreturn]] void RaiseDuringPrompt();
  // After an unrelated exception thrown and handled here, waits for a task
  // that raises the requested exception in a worker thread, which get()
  // raises again here.
  void RaiseFromWorker();

private:
  std::unique_ptr<Ui::DemoForm> FUi;
  std::string FRequestedMessage;
};

// The worker task's raise of the requested exception.
[[noreturn]] void RaiseInWorker(const std::string& Message);
