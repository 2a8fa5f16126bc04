#pragma once
// Processes of the machine: a snapshot of the running processes with their
// executable texts, the executable file of one process, and starting a
// program as a process of its own.

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace Processes {

struct TProcessEntry {
  quint32 th32ProcessID = 0;
  // The executable's full path where it can be read; else the name the
  // process runs under (kernel threads, processes of other users).
  QString szExeFile;
};

// Every process of the system, from /proc. Empty when /proc cannot be read.
QList<TProcessEntry> CreateToolhelp32Snapshot();

// The seam for tests: what CreateToolhelp32Snapshot delivers; an empty
// function restores the real walk.
using TSnapshotSource = std::function<QList<TProcessEntry>()>;
void SetSnapshotSource(TSnapshotSource Source);

// Upper case for the letters A to Z only, as executable names compare:
// "ä" and "Ä" stay different.
QString UpperAToZ(QString Text);
// The file-name part of an executable text of the snapshot.
QString ExecutableName(const QString& ExeFile);
// Whether a process of the snapshot has an executable of this file name, or
// of this whole path; the letters A to Z compare without regard to case.
// Names longer than the kernel's short process name are found too: the
// snapshot never holds that short name where more can be read.
bool ExecutableRuns(const QString& ExeFileName);

// Full path of the executable of a process; empty when it is gone or not
// ours to look at.
QString GetModuleFileNameEx(quint32 ProcessId);

// Starts Program with exactly these arguments, directly (never through a
// shell), detached so that it outlives the caller, with standard input on
// the null device and its output and errors appended to OutputFile (the
// null device when empty). WorkingDirectory empty = the caller's. False
// when the program could not be started.
bool StartDetached(const QString& Program, const QStringList& Arguments, const QString& WorkingDirectory = {},
                   const QString& OutputFile = {});

}  // namespace Processes
