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

  // Clicks the crash button, whose handler crashes the program in the way
  // Kind names (one of CrashKinds of DemoOptions.h), or starts the thread
  // that does.
  void ClickCrash(const QString& Kind);
  void Crash();

private:
  std::unique_ptr<Ui::DemoForm> FUi;
  std::string FRequestedMessage;
  QString FCrashKind;
};

// The functions that crash the program in the ways --crash names (DemoOptions.h):
// CrashBySegv reads address 16, CrashByAbort aborts, CrashByFpe divides by
// zero, CrashByStackOverflow recurses without end, and CrashByTerminate, a
// std::thread's function, and CrashByQThread, called by a QThread's run,
// throw what nobody catches.
void CrashBySegv();
[[noreturn]] void CrashByAbort();
void CrashByFpe();
int CrashByStackOverflow(int Depth);
[[noreturn]] void CrashByTerminate();
[[noreturn]] void CrashByQThread();

// The worker task's raise of the requested exception.
[[noreturn]] void RaiseInWorker(const std::string& Message);
