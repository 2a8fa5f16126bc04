// CorvaneInstaller: installs the component package into a Delphi IDE of
// this machine. Without options it opens its window; with --unattended it
// drives that window from the command line.

#include "hostfw/Application.h"
#include "installer/Unattended.h"
#include "installer/u_packInstaller.h"
#include "platform/Posix.h"

#include <QCommandLineParser>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <optional>

namespace {

struct TCommand {
  bool Unattended = false;
  Unattended::TOptions Options;
};

// The options, or an error text; --unattended needs --ide and --target.
bool ParseCommand(const QStringList& Arguments, TCommand& Command, QString& Error)
{
  QCommandLineParser Parser;
  const QCommandLineOption UnattendedOption(QStringLiteral("unattended"));
  const QCommandLineOption IdeOption(QStringLiteral("ide"), QString(), QStringLiteral("display name"));
  const QCommandLineOption TargetOption(QStringLiteral("target"), QString(), QStringLiteral("folder"));
  const QCommandLineOption NoSetupOption(QStringLiteral("no-setup"));
  Parser.addOptions({UnattendedOption, IdeOption, TargetOption, NoSetupOption});
  if (!Parser.parse(Arguments)) {
    Error = Parser.errorText();
    return false;
  }
  if (!Parser.positionalArguments().isEmpty()) {
    Error = QStringLiteral("unexpected argument: %1").arg(Parser.positionalArguments().first());
    return false;
  }
  Command.Unattended = Parser.isSet(UnattendedOption);
  Command.Options = {Parser.value(IdeOption), Parser.value(TargetOption), Parser.isSet(NoSetupOption)};
  const bool ScriptOnly = Parser.isSet(IdeOption) || Parser.isSet(TargetOption) || Command.Options.NoSetup;
  if (Command.Unattended ? !Parser.isSet(IdeOption) || !Parser.isSet(TargetOption) : ScriptOnly) {
    Error = QStringLiteral("--unattended goes with --ide and --target");
    return false;
  }
  return true;
}

constexpr const char* Usage =
  "usage: CorvaneInstaller [--unattended --ide \"<display name>\" --target DIR [--no-setup]]\n";

}  // namespace

int main(int argc, char** argv)
{
  // Past a file-size limit a write must fail and be undone (dcc32.cfg is
  // cut back to its old length), not kill the installer half-way.
  std::signal(SIGXFSZ, SIG_IGN);
  // A folder named by bytes that are not text would be installed into
  // under another name: refused before anything happens.
  int Bad = 0;
  const std::optional<QStringList> Arguments = Posix::TextArguments(argc, argv, Bad);
  TCommand Command;
  QString Error = Arguments ? QString()
                            : QStringLiteral("argument %1 holds bytes that are not UTF-8 text: \"%2\"")
                                .arg(Bad)
                                .arg(QString::fromLocal8Bit(argv[Bad]));
  if (!Arguments || !ParseCommand(*Arguments, Command, Error)) {
    std::fprintf(stderr, "CorvaneInstaller: %s\n%s", Error.toLocal8Bit().constData(), Usage);
    return 2;
  }

  // A scripted run needs no display.
  if (Command.Unattended && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");

  int AppArgc = 1;
  Application::TApplication App(AppArgc, argv);
  App.SetTitle(u_packInstaller::ApplicationTitle);
  if (!Command.Unattended) {
    u_packInstaller::TfrmMain frmMain;
    App.SetMainForm(&frmMain);
    frmMain.show();
    return App.exec();
  }
  // The start-up's message boxes are answered too: the run answers from
  // before the window is made.
  Unattended::TUnattendedRun Run(stdout);
  u_packInstaller::TfrmMain frmMain;
  App.SetMainForm(&frmMain);
  frmMain.show();
  int ExitCode = 1;
  QTimer::singleShot(0, &frmMain, [&] {
    ExitCode = Run.Drive(frmMain, Command.Options);
    App.quit();
  });
  App.exec();
  return ExitCode;
}
