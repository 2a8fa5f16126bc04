#pragma once
// Runs one of the built programs to its end, in the test's environment.

#include <QProcess>
#include <QString>
#include <QStringList>

namespace ToolRun {

struct TRun {
  int Code = -1;  // -1: crashed or did not end in time
  QString Out;
  QString Err;
};

inline TRun Run(const QString& Program, const QStringList& Arguments, int TimeoutMs = 60000,
                const QString& Folder = {})
{
  QProcess Process;
  Process.setStandardInputFile(QProcess::nullDevice());
  if (!Folder.isEmpty())
    Process.setWorkingDirectory(Folder);
  Process.start(Program, Arguments);
  TRun Result;
  if (!Process.waitForFinished(TimeoutMs)) {
    Process.kill();
    Process.waitForFinished();
  } else if (Process.exitStatus() == QProcess::NormalExit) {
    Result.Code = Process.exitCode();
  }
  Result.Out = QString::fromLocal8Bit(Process.readAllStandardOutput());
  Result.Err = QString::fromLocal8Bit(Process.readAllStandardError());
  return Result;
}

}  // namespace ToolRun
