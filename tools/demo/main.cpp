// vesparo-demo: a small host application with the component on its form.

#include "hostfw/Application.h"
#include "package/Vesparo.h"
#include "package/Vesparoutil.h"
#include "tools/demo/DemoForm.h"
#include "tools/demo/DemoOptions.h"

#include <QDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

namespace {
const QString DefaultRequestedMessage = QStringLiteral("Requested exception");

// Types the comment at the end of the prompt's comment field, as keys would.
void TypeComment(QDialog& Dialog, const QString& Comment)
{
  auto* Field = Dialog.findChild<QLineEdit*>();
  if (!Field || Comment.isEmpty())
    return;
  Field->setFocus();
  QKeyEvent End(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
  QCoreApplication::sendEvent(Field, &End);
  QKeyEvent Typed(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, Comment);
  QCoreApplication::sendEvent(Field, &Typed);
}

// The component's mail settings from the command line, over the stored ones.
void ApplyMailOptions(const TDemoOptions& Options, Vesparo::TCVVesparo& Component)
{
  if (Options.MailTo) {
    Component.setMailrecipient(*Options.MailTo);
    Component.setMailsendreport(true);
  }
  if (Options.MailSubject)
    Component.setMailsubject(*Options.MailSubject);
  if (Options.MailMessage)
    Component.setMailMessage(*Options.MailMessage);
  if (Options.MailAttach)
    Component.setMailsendAttachment(true);
}
// Answers a dialog once it has been painted on screen.
class TUnattendedAnswer : public QObject {
public:
  TUnattendedAnswer(QDialog& Dialog, QString Comment) : QObject(&Dialog), FDialog(Dialog), FComment(std::move(Comment))
  {
    Dialog.installEventFilter(this);
    // It may have been painted before it reached us: one more paint tells.
    Dialog.update();
    // Should no paint ever come, the dialog is answered all the same.
    constexpr int PaintAwaitedMs = 3000;
    QTimer::singleShot(PaintAwaitedMs, this, &TUnattendedAnswer::Answer);
  }

protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override
  {
    if (Watched == &FDialog && Event->type() == QEvent::Paint)
      QTimer::singleShot(0, this, &TUnattendedAnswer::Answer);
    return false;
  }

private:
  void Answer()
  {
    if (FAnswered)
      return;
    FAnswered = true;
    FDialog.removeEventFilter(this);
    // What a user would have read, for whoever runs the demo unattended.
    if (const auto* Box = qobject_cast<QMessageBox*>(&FDialog)) {
      std::printf("Box \"%s\": %s\n", qUtf8Printable(Box->windowTitle()), qUtf8Printable(Box->text()));
      std::fflush(stdout);
    }
    TypeComment(FDialog, FComment);
    // Pressing OK photographs the prompt.
    Application::PressOk(FDialog);
  }
  QDialog& FDialog;
  QString FComment;
  bool FAnswered = false;
};
}  // namespace

int main(int argc, char** argv)
{
  Application::TApplication App(argc, argv);
  const TDemoOptions Options = ParseDemoOptions(App.arguments());
  if (!Options.Error.isEmpty()) {
    std::fprintf(stderr, "vesparo-demo: %s\n%s", qUtf8Printable(Options.Error), DemoUsage);
    return 2;
  }

  DemoForm Form;
  App.SetMainForm(&Form);
  Form.SetRequestedMessage(Options.RaiseMessage.value_or(Options.RaiseInWorker.value_or(DefaultRequestedMessage)));
  if (Options.RaiseRepeated)
    Form.SetRequestedMessage(Options.RaiseRepeated->Text, Options.RaiseRepeated->Count);
  // The form stored the component active; overriding the stored value here,
  // before the component has finished loading, is what --inactive is about.
  if (Options.Inactive)
    Form.Component()->SetMLDActive(false);
  ApplyMailOptions(Options, *Form.Component());

  if (Options.Unattended)
    App.SetModalHook([Comment = Options.Comment.value_or(QString())](QDialog& Dialog) {
      new TUnattendedAnswer(Dialog, Comment);
    });

  const int Requested = Options.RequestedRaises();
  int Handled = 0;
  QObject::connect(&App, &Application::TApplication::ExceptionHandled, &App, [&] {
    ++Handled;
    // One exception after the other: the second is raised only once the
    // first has been reported completely.
    if (Handled == 1 && Options.RaiseTwice)
      Form.ClickOutOfRange();
    else if (Options.Unattended && Handled >= Requested)
      QTimer::singleShot(0, &App, &QCoreApplication::quit);
  });

  Form.show();
  if (Options.RaiseDuringPrompt)
    Form.ClickRaiseDuringPrompt();
  else if (Options.RaiseInWorker)
    Form.ClickRaiseInWorker();
  else if (Requested > 0)
    Form.ClickRaiseRequested();
  else if (Options.Unattended)
    QTimer::singleShot(0, &App, &QCoreApplication::quit);

  const int Result = App.exec();
  if (Options.Unattended) {
    const QString Report = Vesparoutil::FullHmldFilePath();
    if (QFileInfo::exists(Report))
      std::printf("Report: %s\n", qUtf8Printable(Report));
  }
  return Result;
}
