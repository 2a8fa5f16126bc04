#pragma once
// The application object: a QApplication that catches every exception
// escaping an event handler and passes it, with the object whose event was
// being handled, to its OnException event. Without a handler the exception's
// message is shown in a modal message box and the application goes on; an
// exception that escapes the handler itself is shown the same way.

#include <QApplication>
#include <QPointer>
#include <QString>

#include <exception>
#include <functional>

class QDialog;
class QWidget;

namespace Application {

// Message-box flags and results, with the values the system uses.
enum : int {
  MB_OK = 0x0,
  MB_OKCANCEL = 0x1,
  MB_YESNO = 0x4,
  MB_ICONERROR = 0x10,
  MB_ICONQUESTION = 0x20,
  MB_ICONWARNING = 0x30,
  MB_ICONINFORMATION = 0x40,
};
enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

using TExceptionEvent = std::function<void(QObject* Sender, const std::exception_ptr& E)>;

// Called with every dialog that the framework runs modally, once it is on
// screen; it may answer the dialog (unattended runs, tests).
using TModalHook = std::function<void(QDialog& Dialog)>;

class TApplication : public QApplication {
  Q_OBJECT
public:
  TApplication(int& argc, char** argv);
  ~TApplication() override;

  bool notify(QObject* Receiver, QEvent* Event) override;

  // The one unhandled-exception handler. Owner identifies who installed it,
  // so that an owner going away can take back only its own handler.
  void SetOnException(TExceptionEvent Handler, const QObject* Owner = nullptr);
  const QObject* OnExceptionOwner() const { return FOnExceptionOwner; }
  bool HasOnException() const { return static_cast<bool>(FOnException); }

  // What notify does with an exception that escaped an event handler.
  void HandleException(QObject* Sender, const std::exception_ptr& E);
  // The default presentation: the message in a modal error box.
  void ShowException(const std::exception_ptr& E);

  QString ExeName() const;
  QString Title() const;
  void SetTitle(const QString& Title);
  QWidget* MainForm() const;
  void SetMainForm(QWidget* Form);
  // The window that owns the application's dialogs: the main form, if any.
  QWidget* Handle() const;

  // A modal message box with the given flags; returns IDOK, IDCANCEL, ...
  int MessageBox(const QString& Text, const QString& Caption, int Flags = MB_OK);

  // Runs a dialog modally, through the modal hook when one is set.
  int ExecModal(QDialog& Dialog);
  void SetModalHook(TModalHook Hook);

signals:
  // An exception that escaped an event handler has been dealt with: its
  // handler (or the default presentation) has returned.
  void ExceptionHandled();

private:
  TExceptionEvent FOnException;
  const QObject* FOnExceptionOwner = nullptr;
  QString FTitle;
  QPointer<QWidget> FMainForm;
  TModalHook FModalHook;
};

// The running application object, or nullptr when the process's
// QCoreApplication is not a TApplication (a tool such as the form designer).
TApplication* Instance();

// Presses OK of a box, else its default button, as a user would, so that
// the button's click handler runs; a dialog without either is accepted.
// For whatever answers boxes unattended.
void PressOk(QDialog& Dialog);

}  // namespace Application
