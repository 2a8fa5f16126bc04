// The crash handlers. Everything from a signal's arrival to the chaining on
// uses only async-signal-safe calls on memory prepared at installation: no
// lock, no allocation, no at-fork handler (clone + execve, as posix_spawn
// does it).

#include "platform/CrashHandler.h"

#include "platform/CrashRecord.h"
#include "platform/Posix.h"
#include "platform/StackTraceRecord.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iterator>
#include <mutex>
#include <typeinfo>

#include <fcntl.h>
#include <link.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace CrashHandler {
namespace {

constexpr int Signals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP};
constexpr std::size_t SignalCount = std::size(Signals);
constexpr std::size_t SignalStackSize = 128 * 1024;
constexpr std::size_t ChildStackSize = 64 * 1024;
constexpr std::size_t MaxPath = 4096;
// How long a thread that crashes while another one's crash is reported
// waits for that report to end the process.
constexpr int OtherReportWaitMs = HelperAnswerMs + 2000;

// ---- prepared at installation --------------------------------------------

struct sigaction PreviousActions[SignalCount];
std::terminate_handler PreviousTerminate = nullptr;
std::atomic<bool> IsInstalled{false};
std::atomic<bool> IsEnabled{true};
// Installers and settings writers; never taken on the crash path.
std::mutex InstallLock;

char HelperPath[MaxPath];
char RecordFdOption[] = "--record-fd";
// The number of the helper's end, written at installation.
char RecordFdValue[16];
char* HelperArguments[] = {HelperPath, RecordFdOption, RecordFdValue, nullptr};
// The socket pair's ends. Made and closed under InstallLock; the crash path
// only reads their numbers, and closes the helper's end once the helper
// holds it (a plain close(2)). Never destroyed: a crash in a later static
// destructor must not find closed numbers another file may have taken.
Posix::TFd& HandlerEnd = *new Posix::TFd;
Posix::TFd& HelperEnd = *new Posix::TFd;
// The process that made them.
pid_t PairOwner = 0;

struct TPreparedBlock {
  std::size_t Size;
  char Bytes[1];
};
std::atomic<TPreparedBlock*> Prepared{nullptr};

void* GuiSignalStack = nullptr;
alignas(64) char ChildStack[ChildStackSize];

// ---- filled by the one crash reported ------------------------------------

// The thread whose crash is being reported; 0 while none is.
std::atomic<pid_t> CrashingThread{0};
CrashRecord::THeader Record;

std::int64_t MonotonicMs()
{
  timespec Now;
  ::clock_gettime(CLOCK_MONOTONIC, &Now);
  return std::int64_t(Now.tv_sec) * 1000 + Now.tv_nsec / 1000000;
}

int LeftMs(std::int64_t Deadline) { return int(std::max<std::int64_t>(Deadline - MonotonicMs(), 0)); }

bool SendAll(int Fd, const void* Data, std::size_t Size, std::int64_t Deadline)
{
  const auto* Next = static_cast<const char*>(Data);
  while (Size > 0) {
    const ssize_t Sent = ::send(Fd, Next, Size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (Sent > 0) {
      Next += Sent;
      Size -= std::size_t(Sent);
      continue;
    }
    if (Sent < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
      return false;  // the helper is gone
    const int Left = LeftMs(Deadline);
    if (Left == 0)
      return false;
    pollfd Wait{Fd, POLLOUT, 0};
    ::poll(&Wait, 1, Left);
  }
  return true;
}

// Until the helper answers, goes away (end of file) or the time is up.
void WaitForAnswer(int Fd, std::int64_t Deadline)
{
  for (;;) {
    const int Left = LeftMs(Deadline);
    if (Left == 0)
      return;
    pollfd Wait{Fd, POLLIN, 0};
    const int Ready = ::poll(&Wait, 1, Left);
    if (Ready < 0 && errno == EINTR)
      continue;  // the helper's tracing stops us for a moment
    if (Ready <= 0)
      return;
    char Answer;
    const ssize_t Got = ::read(Fd, &Answer, 1);
    if (Got < 0 && (errno == EINTR || errno == EAGAIN))
      continue;
    return;
  }
}

// The helper's side of the clone, on its own stack, sharing our memory
// until execve. Every signal is blocked here (the helper unblocks them):
// no handler of ours may run in this half-made process.
int StartHelper(void*)
{
  const unsigned End = unsigned(HelperEnd.Get());
  ::fcntl(int(End), F_SETFD, 0);
  // None of the application's other descriptors goes to the helper (a
  // report file's lock least of all); standard input, output and error stay.
  if (End > 3)
    ::syscall(SYS_close_range, 3U, End - 1, 0);
  ::syscall(SYS_close_range, End + 1, ~0U, 0);
  ::execve(HelperPath, HelperArguments, environ);
  ::_exit(127);
}

// A child forked after installation shares the pair with its parent: it
// takes one of its own, on the same numbers, so that neither reads the
// other's record or answer, and a helper that fails is seen at once (the
// parent no longer holds the helper's end open).
bool OwnPair()
{
  if (::getpid() == PairOwner)
    return true;
  int Fresh[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, Fresh) != 0)
    return false;
  const bool Moved = ::dup3(Fresh[0], HandlerEnd.Get(), O_CLOEXEC) >= 0 && ::dup3(Fresh[1], HelperEnd.Get(), O_CLOEXEC) >= 0;
  ::close(Fresh[0]);
  ::close(Fresh[1]);
  ::fcntl(HandlerEnd.Get(), F_SETFL, O_NONBLOCK);
  return Moved;
}

void RunHelper(const char* TypeName, const char* Message)
{
  const std::int64_t Deadline = MonotonicMs() + HelperAnswerMs;
  const int Own = HandlerEnd.Get();
  if (Own < 0 || !HelperEnd.IsOpen() || HelperPath[0] == '\0' || !OwnPair())
    return;
  sigset_t All;
  sigset_t Before;
  ::sigfillset(&All);
  ::pthread_sigmask(SIG_SETMASK, &All, &Before);
  const pid_t Helper = ::clone(StartHelper, ChildStack + ChildStackSize, CLONE_VM | CLONE_VFORK | SIGCHLD, nullptr);
  ::pthread_sigmask(SIG_SETMASK, &Before, nullptr);
  if (Helper < 0)
    return;
  // Under a ptrace scope of 1 only an ancestor may trace us, unless we say so.
  ::prctl(PR_SET_PTRACER, Helper, 0, 0, 0);
  // Only the helper holds its end now: its end of file is ours.
  HelperEnd.Close();

  const TPreparedBlock* Block = Prepared.load();
  Record.TypeNameSize = TypeName ? std::strlen(TypeName) : 0;
  Record.MessageSize = Message ? std::strlen(Message) : 0;
  Record.PreparedSize = Block ? Block->Size : 0;
  if (SendAll(Own, &Record, sizeof Record, Deadline) && SendAll(Own, TypeName, Record.TypeNameSize, Deadline) &&
      SendAll(Own, Message, Record.MessageSize, Deadline) &&
      SendAll(Own, Block ? Block->Bytes : nullptr, Record.PreparedSize, Deadline))
    WaitForAnswer(Own, Deadline);
}

void FillCommon(CrashRecord::TKind Kind, pid_t Self)
{
  Record.Magic = CrashRecord::Magic;
  Record.Size = sizeof(CrashRecord::THeader);
  Record.Kind = Kind;
  Record.Pid = ::getpid();
  Record.Tid = Self;
  ::prctl(PR_GET_NAME, Record.ThreadName, 0, 0, 0);
  Record.ThreadName[CrashRecord::ThreadNameSize - 1] = '\0';
}

void FillSignal(int Signal, const siginfo_t* Info, const ucontext_t* Context, pid_t Self)
{
  FillCommon(CrashRecord::TKind::Signal, Self);
  Record.Signal = Signal;
  Record.Code = Info->si_code;
  Record.SenderPid = Info->si_code <= 0 ? Info->si_pid : 0;
  Record.FaultAddress = reinterpret_cast<std::uintptr_t>(Info->si_addr);
  static_assert(sizeof Record.Registers == sizeof Context->uc_mcontext.gregs);
  std::memcpy(Record.Registers, Context->uc_mcontext.gregs, sizeof Record.Registers);
  Record.WalkCount = std::uint32_t(StackTrace::Detail::WalkFrom(std::uintptr_t(Record.Registers[REG_RIP]),
                                                                std::uintptr_t(Record.Registers[REG_RSP]),
                                                                Record.Walk, CrashRecord::MaxFrames));
}

// The active exception's stack, as its throw recorded it.
void FillThrowSite(const void* Object)
{
  if (const StackTrace::Detail::TExceptionRecord* Own = StackTrace::Detail::RecordOf(Object)) {
    const std::size_t Count = Own->Count.load(std::memory_order_acquire);
    if (Count != StackTrace::Detail::FillingCount && Count > 0) {
      Record.ThrowCount = std::uint32_t(std::min(Count, CrashRecord::MaxFrames));
      std::memcpy(Record.Throw, Own->Frames, Record.ThrowCount * sizeof(std::uintptr_t));
      return;
    }
  }
  const StackTrace::Detail::TThreadRecord& Thread = StackTrace::Detail::ThreadRecord();
  if (Thread.Object == Object) {
    Record.ThrowCount = std::uint32_t(std::min(Thread.Count, CrashRecord::MaxFrames));
    std::memcpy(Record.Throw, Thread.Frames, Record.ThrowCount * sizeof(std::uintptr_t));
  }
}

enum class TClaim { Reporting, Reentered, Other };

TClaim Claim(pid_t Self)
{
  pid_t Expected = 0;
  if (CrashingThread.compare_exchange_strong(Expected, Self))
    return TClaim::Reporting;
  return Expected == Self ? TClaim::Reentered : TClaim::Other;
}

// Another thread's crash is being reported, and that report ends the
// process; should it not, this thread ends it after a while.
void WaitForOtherReport()
{
  const std::int64_t Deadline = MonotonicMs() + OtherReportWaitMs;
  const timespec Nap{0, 50 * 1000 * 1000};
  while (MonotonicMs() < Deadline)
    ::nanosleep(&Nap, nullptr);
}

std::size_t IndexOf(int Signal)
{
  return std::size_t(std::find(std::begin(Signals), std::end(Signals), Signal) - std::begin(Signals));
}

// The handler that was there before ours takes over, and the signal comes
// again: a fault by re-running the faulting instruction (with its own
// details), anything else raised anew with the siginfo it had.
void ChainOn(int Signal, siginfo_t* Info)
{
  const std::size_t Index = IndexOf(Signal);
  if (Index < SignalCount)
    ::sigaction(Signal, &PreviousActions[Index], nullptr);
  const bool Refaults =
    (Signal == SIGSEGV || Signal == SIGBUS || Signal == SIGILL || Signal == SIGFPE) && Info && Info->si_code > 0;
  if (Refaults)
    return;
  if (!Info || ::syscall(SYS_rt_tgsigqueueinfo, ::getpid(), ::gettid(), Signal, Info) != 0)
    ::syscall(SYS_tgkill, ::getpid(), ::gettid(), Signal);
}

bool Reporting() { return IsInstalled.load() && IsEnabled.load(); }

void OnSignal(int Signal, siginfo_t* Info, void* Context)
{
  const int SavedErrno = errno;
  if (Reporting() && Info && Context) {
    const pid_t Self = ::gettid();
    switch (Claim(Self)) {
      case TClaim::Reporting:
        FillSignal(Signal, Info, static_cast<const ucontext_t*>(Context), Self);
        RunHelper(nullptr, nullptr);
        break;
      case TClaim::Other: WaitForOtherReport(); break;
      case TClaim::Reentered: break;  // a crash inside the report, or std::terminate's abort
    }
  }
  ChainOn(Signal, Info);
  errno = SavedErrno;
}

[[noreturn]] void OnTerminate()
{
  const auto Start = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  if (Reporting()) {
    const pid_t Self = ::gettid();
    const TClaim Claimed = Claim(Self);
    if (Claimed == TClaim::Reporting) {
      // Only looked at: no copy of the exception is made (that would allocate).
      const std::exception_ptr Current = std::current_exception();
      FillCommon(CrashRecord::TKind::Terminate, Self);
      Record.Signal = SIGABRT;
      Record.WalkCount =
        std::uint32_t(StackTrace::Detail::WalkFrom(Start, 0, Record.Walk, CrashRecord::MaxFrames));
      const char* TypeName = nullptr;
      const char* Message = nullptr;
      if (Current) {
        const void* Object = *reinterpret_cast<void* const*>(&Current);
        Record.HasException = 1;
        FillThrowSite(Object);
        const std::type_info* Type = Current.__cxa_exception_type();
        TypeName = Type ? Type->name() : nullptr;
        // The runtime's own test of a catch clause: is it a std::exception?
        void* Adjusted = const_cast<void*>(Object);
        if (Type && typeid(std::exception).__do_catch(Type, &Adjusted, 1))
          Message = static_cast<const std::exception*>(Adjusted)->what();
      }
      RunHelper(TypeName, Message);
    } else if (Claimed == TClaim::Other) {
      WaitForOtherReport();
    }
  }
  if (PreviousTerminate)
    PreviousTerminate();
  std::abort();
}

// ---- installation ---------------------------------------------------------

struct TRangeSearch {
  std::uintptr_t Address;
  CrashRecord::TCodeRange Range;
};

int FindCodeRange(dl_phdr_info* Info, std::size_t, void* Data)
{
  auto& Search = *static_cast<TRangeSearch*>(Data);
  for (int I = 0; I < Info->dlpi_phnum; ++I) {
    const ElfW(Phdr)& Header = Info->dlpi_phdr[I];
    if (Header.p_type != PT_LOAD || !(Header.p_flags & PF_X))
      continue;
    const std::uintptr_t Start = Info->dlpi_addr + Header.p_vaddr;
    if (Search.Address >= Start && Search.Address < Start + Header.p_memsz) {
      Search.Range = {Start, Start + Header.p_memsz};
      return 1;
    }
  }
  return 0;
}

CrashRecord::TCodeRange CodeRangeOf(const void* Address)
{
  TRangeSearch Search{reinterpret_cast<std::uintptr_t>(Address), {}};
  dl_iterate_phdr(FindCodeRange, &Search);
  return Search.Range;
}

void* MapSignalStack()
{
  const std::size_t Guard = std::size_t(::sysconf(_SC_PAGESIZE));
  void* Mapping = ::mmap(nullptr, Guard + SignalStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (Mapping == MAP_FAILED)
    return nullptr;
  // A handler that outgrows the stack faults instead of writing over memory.
  ::mprotect(Mapping, Guard, PROT_NONE);
  return Mapping;
}

void UnmapSignalStack(void* Mapping)
{
  ::munmap(Mapping, std::size_t(::sysconf(_SC_PAGESIZE)) + SignalStackSize);
}

// An alternate signal stack for the calling thread, unless it has one.
void* GiveSignalStack()
{
  stack_t Current{};
  if (::sigaltstack(nullptr, &Current) != 0 || !(Current.ss_flags & SS_DISABLE))
    return nullptr;
  void* Mapping = MapSignalStack();
  if (!Mapping)
    return nullptr;
  stack_t Stack{};
  Stack.ss_sp = static_cast<char*>(Mapping) + ::sysconf(_SC_PAGESIZE);
  Stack.ss_size = SignalStackSize;
  if (::sigaltstack(&Stack, nullptr) != 0) {
    UnmapSignalStack(Mapping);
    return nullptr;
  }
  return Mapping;
}

bool IsOurs(const struct sigaction& Action)
{
  return (Action.sa_flags & SA_SIGINFO) && Action.sa_sigaction == &OnSignal;
}

}  // namespace

bool Install(const QString& Path)
{
  const std::lock_guard<std::mutex> Guard(InstallLock);
  const QByteArray Encoded = QFile::encodeName(Path);
  if (Encoded.size() >= qsizetype(MaxPath))
    return false;
  if (Encoded != HelperPath) {
    std::memset(HelperPath, 0, MaxPath);
    std::memcpy(HelperPath, Encoded.constData(), std::size_t(Encoded.size()));
  }
  if (IsInstalled.load())
    return true;

  int Ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, Ends) != 0)
    return false;
  HandlerEnd = Posix::TFd(Ends[0]);
  HelperEnd = Posix::TFd(Ends[1]);
  PairOwner = ::getpid();
  ::fcntl(HandlerEnd.Get(), F_SETFL, O_NONBLOCK);
  std::snprintf(RecordFdValue, sizeof RecordFdValue, "%d", HelperEnd.Get());
  if (!GuiSignalStack)
    GuiSignalStack = GiveSignalStack();

  Record.Machinery[0] = CodeRangeOf(reinterpret_cast<const void*>(&::abort));
  Record.Machinery[1] = CodeRangeOf(reinterpret_cast<const void*>(static_cast<void (*)()>(&std::terminate)));
  Record.Machinery[2] = CodeRangeOf(reinterpret_cast<const void*>(&OnSignal));
  // The unwinder sets itself up on its first walk (under a once-lock):
  // that must not be in the crash path.
  std::uintptr_t Warm[4];
  StackTrace::Detail::WalkFrom(reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)), 0, Warm, 4);

  struct sigaction Ours{};
  Ours.sa_sigaction = &OnSignal;
  Ours.sa_flags = SA_SIGINFO | SA_ONSTACK;
  ::sigemptyset(&Ours.sa_mask);
  for (std::size_t I = 0; I < SignalCount; ++I) {
    struct sigaction Before{};
    ::sigaction(Signals[I], &Ours, &Before);
    if (!IsOurs(Before))
      PreviousActions[I] = Before;
  }
  const std::terminate_handler Before = std::set_terminate(&OnTerminate);
  if (Before != &OnTerminate)
    PreviousTerminate = Before;
  IsInstalled.store(true);
  return true;
}

void Uninstall()
{
  const std::lock_guard<std::mutex> Guard(InstallLock);
  if (!IsInstalled.load())
    return;
  for (std::size_t I = 0; I < SignalCount; ++I) {
    struct sigaction Current{};
    if (::sigaction(Signals[I], nullptr, &Current) == 0 && IsOurs(Current))
      ::sigaction(Signals[I], &PreviousActions[I], nullptr);
  }
  if (std::get_terminate() == &OnTerminate)
    std::set_terminate(PreviousTerminate);
  IsInstalled.store(false);
  HandlerEnd.Close();
  HelperEnd.Close();
}

bool Installed() { return IsInstalled.load(); }

void SetEnabled(bool Enabled) { IsEnabled.store(Enabled); }

void SetPrepared(const QByteArray& Block)
{
  const std::lock_guard<std::mutex> Guard(InstallLock);
  auto* Fresh = static_cast<TPreparedBlock*>(std::malloc(sizeof(TPreparedBlock) + std::size_t(Block.size())));
  if (!Fresh)
    return;
  Fresh->Size = std::size_t(Block.size());
  std::memcpy(Fresh->Bytes, Block.constData(), Fresh->Size);
  TPreparedBlock* Old = Prepared.exchange(Fresh);
  // A crash that began meanwhile may be reading the old block: it stays.
  // (A crash beginning after the exchange reads the new one.)
  if (CrashingThread.load() == 0)
    std::free(Old);
}

TThreadSignalStack::TThreadSignalStack() : FStack(GiveSignalStack()) {}

TThreadSignalStack::~TThreadSignalStack()
{
  if (!FStack)
    return;
  stack_t Off{};
  Off.ss_flags = SS_DISABLE;
  ::sigaltstack(&Off, nullptr);
  UnmapSignalStack(FStack);
}

}  // namespace CrashHandler
