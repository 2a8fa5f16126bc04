#pragma once
// What corvane-record-arguments wrote: one list of arguments per start.

#include "tests/support/TempEnvironment.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QProcess>
#include <QStringList>
#include <QThread>

#include <gtest/gtest.h>

#include <ostream>

// Readable texts in the failure messages of gtest.
inline void PrintTo(const QString& Text, std::ostream* Out) { *Out << '"' << Text.toStdString() << '"'; }

namespace RecordedStarts {

inline const QString Recorder = QStringLiteral(CORVANE_BIN_DIR "/corvane-record-arguments");

// Registers Program as the viewer, as an installation would: through the
// registry tool.
inline void RegisterViewer(const QString& Program, const QString& Type = QStringLiteral("REG_SZ"))
{
  QProcess Reg;
  Reg.start(QStringLiteral(CORVANE_BIN_DIR "/corvane-reg"),
            {QStringLiteral("add"), QStringLiteral("HKCU\\SOFTWARE\\Corvane"), QStringLiteral("/v"),
             QStringLiteral("Installation_path"), QStringLiteral("/t"), Type, QStringLiteral("/d"), Program,
             QStringLiteral("/f")});
  ASSERT_TRUE(Reg.waitForFinished(30000));
  ASSERT_EQ(Reg.exitCode(), 0) << Reg.readAllStandardError().toStdString();
}

// The one argument the viewer gets for the report at ReportPath.
inline QString ViewerArgument(const QString& ReportPath)
{
  return QString(ReportPath).replace(QLatin1Char(' '), QLatin1Char('^'));
}

// Starts in the order they were recorded; a start that does not match the
// record layout shows up as a single "<broken record>" argument.
inline QList<QStringList> StartsIn(const QString& RecordFile)
{
  QList<QStringList> Starts;
  for (const QByteArray& Record : TestSupport::ReadAll(RecordFile).split('\n')) {
    if (Record.isEmpty())
      continue;
    const QList<QByteArray> Fields = Record.split('\0');
    QStringList Arguments;
    for (qsizetype I = 1; I < Fields.size(); ++I)
      Arguments << QString::fromLocal8Bit(Fields[I]);
    if (Fields[0].toInt() != Arguments.size())
      Arguments = QStringList{QStringLiteral("<broken record>")};
    Starts << Arguments;
  }
  return Starts;
}

// A started program runs on its own: waits until Count starts are recorded
// (or 20 s pass), then a little longer so that a start too many shows.
inline QList<QStringList> WaitForStarts(const QString& RecordFile, int Count)
{
  QElapsedTimer Timer;
  Timer.start();
  while (StartsIn(RecordFile).size() < Count && Timer.elapsed() < 20000)
    QThread::msleep(20);
  QThread::msleep(Count == 0 ? 1500 : 500);
  return StartsIn(RecordFile);
}

}  // namespace RecordedStarts
