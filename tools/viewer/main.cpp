// CorvaneViewer: the report viewer program. The component starts it at
// shutdown with the report path, blanks turned into "^", as its one
// parameter; it shows the report in the viewer window. A parameter that
// stands for several existing files shows none of them.

#include "hostfw/Application.h"
#include "hostfw/Exceptions.h"
#include "package/u_errorFileReader.h"
#include "tools/viewer/ViewerPages.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <exception>

using u_errorFileReader::TFrmErroReader;
using namespace ViewerPages;

namespace {

void WriteOut(const QString& Text)
{
  const QByteArray Bytes = Text.toUtf8();
  std::fwrite(Bytes.constData(), 1, static_cast<size_t>(Bytes.size()), stdout);
  std::fflush(stdout);
}

void WriteError(const QString& Text)
{
  const QByteArray Bytes = QStringLiteral("CorvaneViewer: %1\n").arg(Text).toUtf8();
  std::fwrite(Bytes.constData(), 1, static_cast<size_t>(Bytes.size()), stderr);
}

int Print(const QString& FileName)
{
  const QFileInfo Info(FileName);
  if (!Info.exists() || Info.isDir()) {
    WriteError(QStringLiteral("no such report file: %1").arg(FileName));
    return 1;
  }
  try {
    const TFrmErroReader Form(nullptr, FileName);
    WriteOut(PagesText(Form));
    return 0;
  } catch (...) {
    WriteError(Exceptions::MessageOf(std::current_exception()));
    return 1;
  }
}

int Show(Application::TApplication& App, const QString& Parameter)
{
  const bool PrintAndQuit = qEnvironmentVariableIntValue("CORVANE_VIEWER_PRINT_AND_QUIT") == 1;
  TFrmErroReader* Form = nullptr;
  try {
    Form = new TFrmErroReader(nullptr, ReportPathFromParameter(Parameter));  // frees itself when closed
  } catch (...) {
    WriteError(Exceptions::MessageOf(std::current_exception()));
    if (!PrintAndQuit)
      App.ShowException(std::current_exception());
    return 1;
  }
  Form->show();
  if (PrintAndQuit) {
    QTimer::singleShot(0, Form, [Form, &App] {
      WriteOut(PagesText(*Form));
      Form->close();
      App.quit();
    });
  }
  return App.exec();
}

}  // namespace

int main(int argc, char** argv)
{
  // The parameter is taken before the framework removes its own options.
  QStringList Arguments;
  for (int I = 1; I < argc; ++I)
    Arguments << QFile::decodeName(argv[I]);
  const TViewerCommand Command = ParseViewerCommand(Arguments);
  if (Command.Kind == TViewerCommand::Usage) {
    std::fputs(ViewerUsage, stderr);
    return 2;
  }
  // Printing needs no display.
  if (Command.Kind == TViewerCommand::Print && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");

  int AppArgc = 1;
  Application::TApplication App(AppArgc, argv);
  if (Command.Kind == TViewerCommand::Print)
    return Print(Command.FileName);
  return Show(App, Command.FileName);
}
