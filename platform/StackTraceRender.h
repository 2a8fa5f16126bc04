#pragma once
// The renderer of stacks, shared by the stacks of this process's throws
// (StackTrace.cpp) and those of another process (a crash helper, which
// takes this unit without the rest of the library): return addresses
// resolved through libdw against a process's modules, with inlined calls
// shown as frames of their own, innermost first, as a debugger does.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <elfutils/libdwfl.h>
#include <sys/types.h>

#include <cstdint>
#include <vector>

namespace StackTrace::Render {

// What is known of one source position of a frame.
struct TProcedure {
  QString Name;
  QString File;  // file name without folder; empty without line information
  int Line = 0;
  int StartLine = 0;  // 0 when unknown
};

struct TResolved {
  bool HasModule = false;
  QString ModuleName;
  std::uintptr_t Offset = 0;
  QList<TProcedure> Procedures;  // innermost inlined call first
  // The lines last rendered for this frame, and the options they were
  // rendered with: a report asks for the same options every time.
  int LinesOptions = -1;
  QStringList Lines;
};

// The modules of one process as libdw reads them from /proc, and the
// frames resolved against them so far. Pid 0 is this process, whatever its
// number (a forked child renders its own frames).
struct TSession {
  pid_t Pid = 0;
  Dwfl* Modules = nullptr;
  QHash<std::uintptr_t, TResolved> Resolved;

  explicit TSession(pid_t Process) : Pid(Process) {}
  ~TSession() { Close(); }
  TSession(const TSession&) = delete;
  TSession& operator=(const TSession&) = delete;

  void Close();
  void Open();
  Dwfl_Module* ModuleAt(Dwarf_Addr Pc);
};

// Renders Frames (return addresses) as lines, resolving what Session has
// not resolved yet. False when there are no frames.
bool RenderFrames(TSession& Session, const std::vector<std::uintptr_t>& Frames, QStringList& Strings,
                  bool IncludeModuleName, bool IncludeAddressOffset, bool IncludeStartProcLineOffset,
                  bool IncludeVAddress);

}  // namespace StackTrace::Render
