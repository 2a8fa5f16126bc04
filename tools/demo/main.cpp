// vesparo-demo: a small host application with the component on its form.

#include "hostfw/Application.h"
#include "hostfw/UnattendedAnswer.h"
#include "package/Vesparo.h"
#include "package/Vesparoutil.h"
#include "tools/demo/DemoForm.h"
#include "tools/demo/DemoOptions.h"

#include <QDialog>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

namespace {
const QString DefaultRequestedMessage = QStringLiteral("Requested exception");

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

  if (Options.Unattended) {
    const QString Comment = Options.Comment.value_or(QString());
    App.SetModalHook([Comment](QDialog& Dialog) { UnattendedAnswer::AnswerWhenShown(Dialog, Comment); });
    // The crash helper answers the prompt of a crash report the same way.
    Form.Component()->SetCrashPromptUnattended(true, Comment);
  }

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
  if (Options.QuitWhenShown)
    QMetaObject::invokeMethod(&App, &QCoreApplication::quit, Qt::QueuedConnection);
  else if (Options.Crash)
    Form.ClickCrash(*Options.Crash);
  else if (Options.RaiseDuringPrompt)
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
