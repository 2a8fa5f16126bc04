#include "platform/CrashUnwind.h"

#include "platform/DebugInfo.h"
#include "platform/StackTrace.h"

#include <elfutils/libdwfl.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

namespace CrashUnwind {

namespace {

struct TUnwind {
  std::uintptr_t Pc = 0;
  bool Initial = true;
  bool Reached = false;
  std::vector<std::uintptr_t> Frames;
};

int TakeFrame(Dwfl_Frame* Frame, void* Data)
{
  auto& Unwind = *static_cast<TUnwind*>(Data);
  Dwarf_Addr Address = 0;
  bool Activation = false;
  if (!dwfl_frame_pc(Frame, &Address, &Activation))
    return DWARF_CB_ABORT;
  // Our handler's frames and the signal trampoline come first; the frame
  // the signal interrupted is an activation at the recorded instruction.
  // Never the initial one, where the handler waits: a thread that a signal
  // found in poll() has its handler waiting in poll() too, at the same
  // instruction.
  const bool Initial = std::exchange(Unwind.Initial, false);
  if (!Unwind.Reached) {
    if (Initial || !Activation || Address != Unwind.Pc)
      return DWARF_CB_OK;
    Unwind.Reached = true;
  }
  Unwind.Frames.push_back(Activation ? Address + 1 : Address);
  return Unwind.Frames.size() < StackTrace::MaxRecordedFrames ? DWARF_CB_OK : DWARF_CB_ABORT;
}

QString LastError() { return QString::fromUtf8(dwfl_errmsg(-1)); }

}  // namespace

std::vector<std::uintptr_t> UnwindThread(pid_t Pid, pid_t Tid, std::uintptr_t Pc, QString& Failure)
{
  const std::unique_ptr<Dwfl, decltype(&dwfl_end)> Session(dwfl_begin(&DebugInfo::ProcessCallbacks), &dwfl_end);
  if (!Session) {
    Failure = LastError();
    return {};
  }
  dwfl_report_begin(Session.get());
  if (dwfl_linux_proc_report(Session.get(), Pid) != 0 || dwfl_report_end(Session.get(), nullptr, nullptr) != 0) {
    Failure = QStringLiteral("the modules of process %1 cannot be read").arg(Pid);
    return {};
  }
  const int Attached = dwfl_linux_proc_attach(Session.get(), Pid, false);
  if (Attached != 0) {
    Failure = Attached > 0 ? QString::fromLocal8Bit(std::strerror(Attached)) : LastError();
    return {};
  }
  // Attaching to the thread (ptrace) happens here, and detaching on return.
  TUnwind Unwind;
  Unwind.Pc = Pc;
  errno = 0;
  const int Walked = dwfl_getthread_frames(Session.get(), Tid, TakeFrame, &Unwind);
  if (!Unwind.Reached) {
    if (errno == EPERM)
      Failure = TracingNotPermitted;
    else
      Failure = Walked != 0 ? LastError() : QStringLiteral("the unwinder did not reach the crashed instruction");
    return {};
  }
  return Unwind.Frames;
}

}  // namespace CrashUnwind
