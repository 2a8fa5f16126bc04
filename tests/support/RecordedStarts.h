#pragma once
// What corvane-record-arguments wrote: one list of arguments per start.

#include "tests/support/TempEnvironment.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QStringList>
#include <QThread>

#include <ostream>

// Readable texts in the failure messages of gtest.
inline void PrintTo(const QString& Text, std::ostream* Out) { *Out << '"' << Text.toStdString() << '"'; }

namespace RecordedStarts {

inline const QString Recorder = QStringLiteral(CORVANE_BIN_DIR "/corvane-record-arguments");

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
