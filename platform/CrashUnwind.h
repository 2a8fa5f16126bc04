#pragma once
// The crash helper's view of the crashed thread's stack: unwound from
// outside the process through libdw's process attach (ptrace) and its
// unwinder, while the crashed process waits in its signal handler.

#include <QString>

#include <cstdint>
#include <vector>

#include <sys/types.h>

namespace CrashUnwind {

// The failure when the system does not let us trace the crashed process
// (ptrace scope, a container).
inline constexpr QLatin1String TracingNotPermitted("tracing the process was not permitted");

// Attaches to thread Tid of process Pid, unwinds it and keeps the frames
// from the one at Pc, the interrupted instruction, outwards (the signal
// handler's own frames are left out). The frames come in the form the
// stack renderer takes, return addresses: the interrupted instruction as
// Pc + 1, so that the renderer's step back from a return address lands on
// it. Detaches before it returns. Empty, with Failure saying why, when
// tracing is not permitted or the unwinder does not reach Pc.
std::vector<std::uintptr_t> UnwindThread(pid_t Pid, pid_t Tid, std::uintptr_t Pc, QString& Failure);

}  // namespace CrashUnwind
