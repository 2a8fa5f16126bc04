#pragma once
// Runs CorvaneViewer as the component and scripts start it.

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace ViewerTests {

inline const QString ViewerProgram = QStringLiteral(CORVANE_BIN_DIR "/CorvaneViewer");

struct TViewerRun {
  int ExitCode = -1;
  QByteArray Output;
  QByteArray Errors;
};

inline TViewerRun RunViewer(const QStringList& Arguments, bool PrintAndQuit = false)
{
  QProcess Viewer;
  QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
  Environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  Environment.insert(QStringLiteral("LANG"), QStringLiteral("C"));
  Environment.remove(QStringLiteral("LC_ALL"));
  Environment.remove(QStringLiteral("LC_CTYPE"));
  if (PrintAndQuit)
    Environment.insert(QStringLiteral("CORVANE_VIEWER_PRINT_AND_QUIT"), QStringLiteral("1"));
  Viewer.setProcessEnvironment(Environment);
  Viewer.start(ViewerProgram, Arguments);
  TViewerRun Run;
  if (!Viewer.waitForFinished(60000)) {
    Viewer.kill();
    Viewer.waitForFinished();
    return Run;
  }
  Run.ExitCode = Viewer.exitStatus() == QProcess::NormalExit ? Viewer.exitCode() : -1;
  Run.Output = Viewer.readAllStandardOutput();
  Run.Errors = Viewer.readAllStandardError();
  return Run;
}

}  // namespace ViewerTests
