#pragma once
// The in-process part of crash reports. Once installed, a fatal signal
// (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP) in any thread, and
// std::terminate, start the crash helper program, which reports the crash
// from outside the process; then the process ends as it would have without
// us: the handlers installed before ours run, the signal is raised again
// and the process ends by it (with a core dump where the system makes one).
//
// The crash path neither locks nor allocates: the handler runs on an
// alternate signal stack, writes what it knows (signal, fault address,
// thread, registers, its own walk of the stack, the active exception of a
// std::terminate) from memory prepared at installation, starts the helper
// with clone + execve, lets it trace the process (PR_SET_PTRACER) and waits
// at most HelperAnswerMs for its answer. One crash is reported per process:
// a second one, in another thread meanwhile or inside the report, ends the
// process without another report. While nothing crashes the cost is a
// socket pair and two small mappings: no thread, no process, no file.

#include <QByteArray>
#include <QString>

namespace CrashHandler {

// How long the crashed process waits for the helper's answer.
inline constexpr int HelperAnswerMs = 10000;

// Prepares what a crash needs and installs the handlers, keeping the
// previous ones to chain to; the calling thread (the GUI thread) gets an
// alternate signal stack, so that its stack overflowing is reported too.
// Installing again only takes the new helper path. False, with nothing
// installed, when the socket pair cannot be made.
bool Install(const QString& HelperPath);
// Restores the previous handlers where ours are still in place (a handler
// installed after ours that chains to ours still works: ours then only
// chains on).
void Uninstall();
bool Installed();

// Whether a crash is reported; while off, the handlers only chain on.
void SetEnabled(bool Enabled);

// The bytes handed to the helper with each crash (CrashRecord.h: the
// reported program, the package library, the component's settings). Made
// whenever they change, never in the crash path.
void SetPrepared(const QByteArray& Block);

// Gives the calling thread an alternate signal stack for as long as the
// object lives, so that its stack overflowing is reported as well. (Other
// crashes of any thread are reported without one; a stack overflow of a
// thread without one ends the process unreported, as the kernel cannot run
// a handler on the exhausted stack.)
class TThreadSignalStack {
public:
  TThreadSignalStack();
  ~TThreadSignalStack();
  TThreadSignalStack(const TThreadSignalStack&) = delete;
  TThreadSignalStack& operator=(const TThreadSignalStack&) = delete;

private:
  void* FStack = nullptr;
};

}  // namespace CrashHandler
