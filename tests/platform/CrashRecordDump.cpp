// corvane-crash-record-dump: a crash helper for tests. Reads the crash
// record at --record-fd, writes its fields as NAME=VALUE lines to the file
// named by CORVANE_CRASH_DUMP (appending: two starts show as two records),
// and answers.

#include "platform/CrashRecord.h"

#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
  const char* DumpFile = std::getenv("CORVANE_CRASH_DUMP");
  if (argc != 3 || std::strcmp(argv[1], "--record-fd") != 0 || !DumpFile)
    return 2;
  const int Fd = std::atoi(argv[2]);
  CrashRecord::TCrashRecord Record;
  QString Error;
  const bool Read = CrashRecord::Read(Fd, Record, 5000, Error);
  QFile Dump(QFile::decodeName(DumpFile));
  if (!Dump.open(QIODevice::Append))
    return 1;
  const CrashRecord::THeader& H = Record.Header;
  QByteArray Text = "Read=" + QByteArray(Read ? "yes" : qPrintable(Error)) + "\n";
  Text += "Kind=" + QByteArray::number(int(H.Kind)) + "\nSignal=" + QByteArray::number(H.Signal) +
          "\nCode=" + QByteArray::number(H.Code) + "\nFault=" + QByteArray::number(qulonglong(H.FaultAddress)) +
          "\nSelfSent=" + QByteArray::number(int(Record.SelfSent())) + "\nHasException=" +
          QByteArray::number(H.HasException) + "\nThrowCount=" + QByteArray::number(H.ThrowCount) +
          "\nWalkCount=" + QByteArray::number(H.WalkCount) + "\nType=" + Record.TypeName + "\nMessage=" +
          Record.Message + "\nExe=" + Record.Prepared.ExePath.toUtf8() + "\nLibrary=" +
          Record.Prepared.LibraryPath.toUtf8() + "\nSettings=" + Record.Prepared.Settings + "\n";
  Dump.write(Text);
  Dump.close();
  CrashRecord::Answer(Fd);
  return 0;
}
