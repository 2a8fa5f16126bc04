// hello-corvane [--raise MESSAGE] [--unattended]
//
// Shows a window whose button throws std::runtime_error; the component on
// the window reports it. --raise MESSAGE clicks the button once with that
// message; --unattended answers the error prompt with OK and quits once the
// report is complete.

#include "HelloWindow.h"

#include "hostfw/Application.h"

#include <QCommandLineParser>
#include <QDialog>
#include <QPushButton>
#include <QTimer>

namespace {
// Presses the prompt's default button (OK) as a user would.
void PressDefaultButton(QDialog& Dialog)
{
  for (QPushButton* Button : Dialog.findChildren<QPushButton*>())
    if (Button->isDefault()) {
      Button->click();
      return;
    }
  Dialog.accept();
}
}  // namespace

int main(int argc, char** argv)
{
  // The application object catches what escapes an event handler and hands
  // it to the component: it has to be a TApplication, not a QApplication.
  Application::TApplication App(argc, argv);

  QCommandLineParser Parser;
  Parser.setApplicationDescription(QStringLiteral("A window whose button throws; Corvane reports it."));
  Parser.addHelpOption();
  const QCommandLineOption Raise(QStringLiteral("raise"),
                                 QStringLiteral("Click the button once, throwing std::runtime_error(MESSAGE)."),
                                 QStringLiteral("MESSAGE"));
  const QCommandLineOption Unattended(QStringLiteral("unattended"),
                                      QStringLiteral("Answer the error prompt with OK; quit once it is reported."));
  Parser.addOptions({Raise, Unattended});
  Parser.process(App);

  HelloWindow Window;
  App.SetMainForm(&Window);

  if (Parser.isSet(Unattended)) {
    // The hook sees every dialog the framework runs modally, once it is on screen.
    App.SetModalHook([](QDialog& Dialog) {
      QTimer::singleShot(0, &Dialog, [&Dialog] { PressDefaultButton(Dialog); });
    });
    QObject::connect(&App, &Application::TApplication::ExceptionHandled, &App, &QCoreApplication::quit,
                     Qt::QueuedConnection);
  }

  Window.show();
  if (Parser.isSet(Raise)) {
    Window.SetMessage(Parser.value(Raise));
    Window.ClickThrow();
  } else if (Parser.isSet(Unattended)) {
    QTimer::singleShot(0, &App, &QCoreApplication::quit);
  }
  return App.exec();
}
