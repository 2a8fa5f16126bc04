#include "platform/Processes.h"

#include "platform/Posix.h"
#include "platform/ReplaceableSource.h"


#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace Processes {

namespace {
ReplaceableSource::TReplaceableSource<TSnapshotSource> Source;

// What the kernel appends to the link of an executable that was replaced.
const QString DeletedMark = QStringLiteral(" (deleted)");

QString WithoutDeletedMark(QString Exe)
{
  if (Exe.endsWith(DeletedMark))
    Exe.chop(DeletedMark.size());
  return Exe;
}

QString ExecutableText(const Posix::TProcessFolder& Folder)
{
  const QByteArray Exe = Folder.LinkTarget("exe");
  if (!Exe.isEmpty())
    return WithoutDeletedMark(QFile::decodeName(Exe));
  // Not ours to follow: the name the process was started under, else the
  // kernel's short name.
  const QByteArray First = Folder.Read("cmdline").left(4096).split('\0').value(0);
  if (!First.isEmpty())
    return QFileInfo(QString::fromLocal8Bit(First)).fileName();
  return QString::fromLocal8Bit(Folder.Read("comm").trimmed());
}

QList<TProcessEntry> WalkProc()
{
  QList<TProcessEntry> Entries;
  Posix::ForEachProcess(
    [&Entries](const Posix::TProcessFolder& Folder) { Entries.append({Folder.Pid(), ExecutableText(Folder)}); });
  return Entries;
}
}  // namespace

QList<TProcessEntry> CreateToolhelp32Snapshot()
{
  const TSnapshotSource Current = Source.Get();
  return Current ? Current() : WalkProc();
}

void SetSnapshotSource(TSnapshotSource NewSource)
{
  Source.Set(std::move(NewSource));
}

QString UpperAToZ(QString Text)
{
  for (QChar& C : Text) {
    if (C >= QLatin1Char('a') && C <= QLatin1Char('z'))
      C = QChar(C.unicode() - ('a' - 'A'));
  }
  return Text;
}

QString ExecutableName(const QString& ExeFile) { return ExeFile.mid(ExeFile.lastIndexOf(QLatin1Char('/')) + 1); }

bool ExecutableRuns(const QString& ExeFileName)
{
  const QString Wanted = UpperAToZ(ExeFileName);
  for (const TProcessEntry& Entry : CreateToolhelp32Snapshot()) {
    if (UpperAToZ(ExecutableName(Entry.szExeFile)) == Wanted || UpperAToZ(Entry.szExeFile) == Wanted)
      return true;
  }
  return false;
}

QString GetModuleFileNameEx(quint32 ProcessId)
{
  const std::optional<Posix::TProcessFolder> Folder = Posix::TProcessFolder::Of(ProcessId);
  return Folder ? WithoutDeletedMark(QFile::decodeName(Folder->LinkTarget("exe"))) : QString();
}

bool StartDetached(const QString& Program, const QStringList& Arguments, const QString& WorkingDirectory,
                   const QString& OutputFile)
{
  if (Program.isEmpty())
    return false;
  QProcess Process;
  Process.setProgram(Program);
  Process.setArguments(Arguments);
  if (!WorkingDirectory.isEmpty())
    Process.setWorkingDirectory(WorkingDirectory);
  Process.setStandardInputFile(QProcess::nullDevice());
  // Both appending, so that output and errors interleave instead of
  // overwriting each other.
  const QString Output = OutputFile.isEmpty() ? QProcess::nullDevice() : OutputFile;
  Process.setStandardOutputFile(Output, QIODevice::Append);
  Process.setStandardErrorFile(Output, QIODevice::Append);
  return Process.startDetached();
}

}  // namespace Processes
