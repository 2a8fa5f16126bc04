#include "hostfw/Application.h"

#include "hostfw/Exceptions.h"

#include <QDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>

namespace Application {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
  FTitle = QFileInfo(applicationFilePath()).completeBaseName();
}

TApplication::~TApplication() = default;

bool TApplication::notify(QObject* Receiver, QEvent* Event)
{
  try {
    return QApplication::notify(Receiver, Event);
  } catch (...) {
    if (QThread::currentThread() != thread()) {
      // Only the GUI thread may show anything; elsewhere the exception is
      // reported on the console and the thread's event loop goes on.
      const std::exception_ptr E = std::current_exception();
      qWarning("Exception %s in a worker thread: %s", qUtf8Printable(Exceptions::ClassNameOf(E)),
               qUtf8Printable(Exceptions::MessageOf(E)));
      return false;
    }
    HandleException(Receiver, std::current_exception());
    emit ExceptionHandled();
    return false;
  }
}

void TApplication::SetOnException(TExceptionEvent Handler, const QObject* Owner)
{
  FOnException = std::move(Handler);
  FOnExceptionOwner = FOnException ? Owner : nullptr;
}

void TApplication::HandleException(QObject* Sender, const std::exception_ptr& E)
{
  // Keep the handler alive while it runs, even if it replaces itself.
  const TExceptionEvent Handler = FOnException;
  try {
    if (Handler)
      Handler(Sender, E);
    else
      ShowException(E);
  } catch (...) {
    // A handler that fails (a report folder that cannot be written) must not
    // end the application: show its failure as any other exception.
    try {
      ShowException(std::current_exception());
    } catch (...) {
      qWarning("An exception could not be shown: %s", qUtf8Printable(Exceptions::MessageOf(E)));
    }
  }
}

void TApplication::ShowException(const std::exception_ptr& E)
{
  QString Message = Exceptions::MessageOf(E);
  if (Message.isEmpty())
    Message = Exceptions::ClassNameOf(E);
  MessageBox(Message, Title(), MB_OK | MB_ICONERROR);
}

QString TApplication::ExeName() const { return applicationFilePath(); }

QString TApplication::Title() const { return FTitle; }

void TApplication::SetTitle(const QString& Title) { FTitle = Title; }

QWidget* TApplication::MainForm() const { return FMainForm; }

void TApplication::SetMainForm(QWidget* Form) { FMainForm = Form; }

QWidget* TApplication::Handle() const { return FMainForm; }

int TApplication::MessageBox(const QString& Text, const QString& Caption, int Flags)
{
  QMessageBox Box(Handle());
  Box.setWindowTitle(Caption);
  Box.setText(Text);
  switch (Flags & 0xF0) {
    case MB_ICONERROR: Box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: Box.setIcon(QMessageBox::Question); break;
    case MB_ICONWARNING: Box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: Box.setIcon(QMessageBox::Information); break;
    default: break;
  }
  switch (Flags & 0x0F) {
    case MB_OKCANCEL:
      Box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      Box.setDefaultButton(QMessageBox::Ok);
      break;
    case MB_YESNO:
      Box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      Box.setDefaultButton(QMessageBox::Yes);
      break;
    default:
      Box.setStandardButtons(QMessageBox::Ok);
      Box.setDefaultButton(QMessageBox::Ok);
      break;
  }
  ExecModal(Box);
  switch (Box.standardButton(Box.clickedButton())) {
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    case QMessageBox::Cancel: return IDCANCEL;
    case QMessageBox::Ok: return IDOK;
    default: return (Flags & 0x0F) == MB_OK ? IDOK : IDCANCEL;
  }
}

int TApplication::ExecModal(QDialog& Dialog)
{
  if (FModalHook) {
    // Deliver the dialog to the hook from inside its own modal loop, when it
    // is on screen, exactly as a user would meet it.
    QPointer<QDialog> Target(&Dialog);
    QTimer::singleShot(0, &Dialog, [this, Target] {
      if (Target && FModalHook)
        FModalHook(*Target);
    });
  }
  return Dialog.exec();
}

void TApplication::SetModalHook(TModalHook Hook) { FModalHook = std::move(Hook); }

TApplication* Instance() { return qobject_cast<TApplication*>(QCoreApplication::instance()); }

void PressOk(QDialog& Dialog)
{
  QAbstractButton* Ok = nullptr;
  if (auto* Box = qobject_cast<QMessageBox*>(&Dialog))
    Ok = Box->button(QMessageBox::Ok) ? Box->button(QMessageBox::Ok) : Box->defaultButton();
  for (QPushButton* Button : Dialog.findChildren<QPushButton*>())
    if (!Ok && Button->isDefault())
      Ok = Button;
  if (Ok)
    Ok->click();
  else
    Dialog.accept();
}

}  // namespace Application
