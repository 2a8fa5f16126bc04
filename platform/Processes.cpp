#include "platform/Processes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <mutex>

namespace Processes {

namespace {
std::mutex SourceLock;
TSnapshotSource Source;

// What the kernel appends to the link of an executable that was replaced.
const QString DeletedMark = QStringLiteral(" (deleted)");

QString ExecutableText(const QString& ProcFolder)
{
  QString Exe = QFile::symLinkTarget(ProcFolder + QStringLiteral("/exe"));
  if (!Exe.isEmpty()) {
    if (Exe.endsWith(DeletedMark))
      Exe.chop(DeletedMark.size());
    return Exe;
  }
  // Not ours to follow: the name the process was started under, else the
  // kernel's short name.
  QFile CommandLine(ProcFolder + QStringLiteral("/cmdline"));
  if (CommandLine.open(QIODevice::ReadOnly)) {
    const QByteArray First = CommandLine.read(4096).split('\0').value(0);
    if (!First.isEmpty())
      return QFileInfo(QString::fromLocal8Bit(First)).fileName();
  }
  QFile Comm(ProcFolder + QStringLiteral("/comm"));
  if (Comm.open(QIODevice::ReadOnly))
    return QString::fromLocal8Bit(Comm.readAll().trimmed());
  return {};
}

QList<TProcessEntry> WalkProc()
{
  QList<TProcessEntry> Entries;
  const QDir Proc(QStringLiteral("/proc"));
  for (const QString& Name : Proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    bool IsNumber = false;
    const quint32 Pid = Name.toUInt(&IsNumber);
    if (!IsNumber)
      continue;
    const QString Folder = Proc.filePath(Name);
    if (!QFileInfo::exists(Folder))  // ended meanwhile
      continue;
    Entries.append({Pid, ExecutableText(Folder)});
  }
  return Entries;
}
}  // namespace

QList<TProcessEntry> CreateToolhelp32Snapshot()
{
  TSnapshotSource Current;
  {
    const std::lock_guard<std::mutex> Guard(SourceLock);
    Current = Source;
  }
  return Current ? Current() : WalkProc();
}

void SetSnapshotSource(TSnapshotSource NewSource)
{
  const std::lock_guard<std::mutex> Guard(SourceLock);
  Source = std::move(NewSource);
}

QString GetModuleFileNameEx(quint32 ProcessId)
{
  QString Exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(ProcessId));
  if (Exe.endsWith(DeletedMark))
    Exe.chop(DeletedMark.size());
  return Exe;
}

bool StartDetached(const QString& Program, const QStringList& Arguments, const QString& WorkingDirectory)
{
  if (Program.isEmpty())
    return false;
  QProcess Process;
  Process.setProgram(Program);
  Process.setArguments(Arguments);
  if (!WorkingDirectory.isEmpty())
    Process.setWorkingDirectory(WorkingDirectory);
  Process.setStandardInputFile(QProcess::nullDevice());
  Process.setStandardOutputFile(QProcess::nullDevice());
  Process.setStandardErrorFile(QProcess::nullDevice());
  return Process.startDetached();
}

}  // namespace Processes
