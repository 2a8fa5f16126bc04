// The throw hook: our __cxa_throw stands first in the process's symbol lookup
// order (the executables list this library before the C++ runtime), so every
// throw of every module passes here. It records the stack and forwards to the
// runtime's own __cxa_throw. Nothing on this path locks or allocates: the
// record is a fixed per-thread buffer, the scratch space lies on the stack,
// and the unwinder finds frames through the loader's lock-free lookup. (Only
// a raw stack scan without the static module list reads the loader's module
// list, under the loader's own lock.)

#include "platform/StackTraceRecord.h"

#include <dlfcn.h>
#include <link.h>
#include <pthread.h>
#include <unwind.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>

// Top of the main thread's stack, kept by the C library.
extern "C" void* __libc_stack_end;

// The unwinder's own lookup of a frame's unwind information (lock-free with
// the loader's object lookup).
struct TDwarfEhBases {
  void* tbase;
  void* dbase;
  void* func;
};
extern "C" const void* _Unwind_Find_FDE(void* Pc, TDwarfEhBases* Bases);

namespace StackTrace {

TJclStackTrackingOptions JclStackTrackingOptions;

namespace Detail {
namespace {
thread_local TRecord LastRecord;
}
TRecord& ThreadRecord() { return LastRecord; }
}  // namespace Detail

namespace {

using TCxaThrow = void (*)(void*, void*, void (*)(void*));

std::atomic<TCxaThrow> RealCxaThrow{nullptr};
std::atomic<bool> Tracking{false};

// Executable segments of the loaded modules: what a return address found on
// the raw stack must point into.
struct TCodeRange {
  std::uintptr_t Start;
  std::uintptr_t End;
};
constexpr std::size_t MaxCodeRanges = 512;

struct TCodeRanges {
  std::size_t Count = 0;
  TCodeRange Ranges[MaxCodeRanges];
};

// The static module list, read when tracking starts. Published by
// StaticRangesReady; a restart rereads it into the other buffer.
TCodeRanges StaticRanges[2];
std::atomic<const TCodeRanges*> StaticRangesReady{nullptr};

int CollectCodeRange(dl_phdr_info* Info, std::size_t, void* Data)
{
  auto& Out = *static_cast<TCodeRanges*>(Data);
  for (int I = 0; I < Info->dlpi_phnum; ++I) {
    const ElfW(Phdr)& Header = Info->dlpi_phdr[I];
    if (Header.p_type != PT_LOAD || !(Header.p_flags & PF_X))
      continue;
    if (Out.Count == MaxCodeRanges)
      return 1;
    const std::uintptr_t Start = Info->dlpi_addr + Header.p_vaddr;
    Out.Ranges[Out.Count++] = {Start, Start + Header.p_memsz};
  }
  return 0;
}

void ReadCodeRanges(TCodeRanges& Out)
{
  Out.Count = 0;
  dl_iterate_phdr(CollectCodeRange, &Out);
  std::sort(Out.Ranges, Out.Ranges + Out.Count,
            [](const TCodeRange& A, const TCodeRange& B) { return A.Start < B.Start; });
}

const TCodeRange* RangeOf(const TCodeRanges& Ranges, std::uintptr_t Address)
{
  const TCodeRange* End = Ranges.Ranges + Ranges.Count;
  const TCodeRange* It =
    std::upper_bound(Ranges.Ranges, End, Address, [](std::uintptr_t A, const TCodeRange& R) { return A < R.Start; });
  if (It == Ranges.Ranges)
    return nullptr;
  --It;
  return Address < It->End ? It : nullptr;
}

// Whether the bytes before Address end with a call instruction: a return
// address always follows one. Covers the x86-64 call forms compilers emit.
bool FollowsCall(const TCodeRange& Range, std::uintptr_t Address)
{
  if (Address < Range.Start + 7)
    return false;
  const auto* P = reinterpret_cast<const unsigned char*>(Address);
  if (P[-5] == 0xE8)  // call rel32
    return true;
  const auto IsCallModRm = [](unsigned char ModRm, unsigned Mod) {
    return ((ModRm >> 3) & 7) == 2 && (ModRm >> 6) == Mod;
  };
  if (P[-2] == 0xFF && IsCallModRm(P[-1], 3))  // call reg
    return true;
  if (P[-3] == 0xFF && IsCallModRm(P[-2], 1))  // call [reg + disp8]
    return true;
  if (P[-4] == 0xFF && IsCallModRm(P[-3], 1))  // call [reg + index + disp8]
    return true;
  if (P[-6] == 0xFF && (IsCallModRm(P[-5], 2) || P[-5] == 0x15))  // call [reg + disp32], call [rip + disp32]
    return true;
  if (P[-7] == 0xFF && IsCallModRm(P[-6], 2))  // call [reg + index + disp32]
    return true;
  if (P[-3] == 0xFF && IsCallModRm(P[-2], 0))  // call [reg + index]
    return true;
  return P[-2] == 0xFF && IsCallModRm(P[-1], 0);  // call [reg]
}

// Highest address of the calling thread's stack that may be read, given an
// address on it; 0 when it cannot be told. A thread's descriptor sits right above its stack (with
// its static TLS in between, readable as well); the main thread's stack ends
// at the C library's mark.
std::uintptr_t StackTop(std::uintptr_t Sp)
{
  constexpr std::uintptr_t MaxStack = std::uintptr_t(64) << 20;
  const auto Self = reinterpret_cast<std::uintptr_t>(pthread_self());
  if (Self > Sp && Self - Sp < MaxStack)
    return Self;
  const auto MainEnd = reinterpret_cast<std::uintptr_t>(__libc_stack_end);
  if (MainEnd > Sp && MainEnd - Sp < MaxStack)
    return MainEnd;
  return 0;
}

struct TWalk {
  std::uintptr_t ThrowReturn;
  bool Started;
  std::size_t Count;
  std::uintptr_t Ips[MaxRecordedFrames];
  std::uintptr_t Slots[MaxRecordedFrames];  // where each return address lies on the stack
};

_Unwind_Reason_Code CollectFrame(_Unwind_Context* Context, void* Data)
{
  auto& Walk = *static_cast<TWalk*>(Data);
  int IsSignalFrame = 0;
  const std::uintptr_t Ip = _Unwind_GetIPInfo(Context, &IsSignalFrame);
  if (Ip == 0)
    return _URC_END_OF_STACK;
  // Our own frames (this hook and the unwinder) end at the throw's call site.
  if (!Walk.Started) {
    if (Ip != Walk.ThrowReturn)
      return _URC_NO_REASON;
    Walk.Started = true;
  }
  if (Walk.Count == MaxRecordedFrames)
    return _URC_END_OF_STACK;
  Walk.Ips[Walk.Count] = Ip;
  Walk.Slots[Walk.Count] = _Unwind_GetCFA(Context) - sizeof(void*);
  ++Walk.Count;
  return _URC_NO_REASON;
}

// The unwinder's chain of frames is exact as far as it reaches: return
// addresses left between its frames are stale. Where it stops early (a frame
// without unwind information), the raw stack above the last frame it found
// is scanned for return addresses, so that the callers further out still
// show.
void AddRawFrames(const TWalk& Walk, Detail::TRecord& Record, const TCodeRanges& Ranges)
{
  // An outermost frame with unwind information is where the stack begins
  // (thread start): nothing lies beyond it but the thread's own data.
  TDwarfEhBases Bases;
  if (_Unwind_Find_FDE(reinterpret_cast<void*>(Walk.Ips[Walk.Count - 1] - 1), &Bases))
    return;
  const std::uintptr_t From = Walk.Slots[Walk.Count - 1] + sizeof(void*);
  const std::uintptr_t Top = StackTop(Walk.Slots[0]);
  std::size_t Count = Record.Count;
  for (std::uintptr_t Slot = From; Slot + sizeof(void*) <= Top && Count < MaxRecordedFrames; Slot += sizeof(void*)) {
    const std::uintptr_t Value = *reinterpret_cast<const std::uintptr_t*>(Slot);
    const TCodeRange* Range = RangeOf(Ranges, Value);
    if (Range && FollowsCall(*Range, Value))
      Record.Frames[Count++] = Value;
  }
  Record.Count = Count;
}

// Inlined into the hook, so that the unwinder has one frame less to step
// over before it reaches the throw.
[[gnu::always_inline]] inline void RecordThrow(std::uintptr_t ThrowReturn)
{
  TWalk Walk;
  Walk.ThrowReturn = ThrowReturn;
  Walk.Started = false;
  Walk.Count = 0;
  _Unwind_Backtrace(CollectFrame, &Walk);

  Detail::TRecord& Record = Detail::ThreadRecord();
  std::memcpy(Record.Frames, Walk.Ips, Walk.Count * sizeof(std::uintptr_t));
  Record.Count = Walk.Count;
  if (Walk.Count == 0 || !JclStackTrackingOptions.Contains(tsoRawStackScan))
    return;
  const TCodeRanges* Static = JclStackTrackingOptions.Contains(tsoStaticModuleList)
                                ? StaticRangesReady.load(std::memory_order_acquire)
                                : nullptr;
  if (Static) {
    AddRawFrames(Walk, Record, *Static);
  } else {
    // Without the static list the module list is read for this throw.
    TCodeRanges Current;
    ReadCodeRanges(Current);
    AddRawFrames(Walk, Record, Current);
  }
}

TCxaThrow ResolveRealCxaThrow();

}  // namespace
}  // namespace StackTrace

extern "C" [[noreturn]] void __cxa_throw(void* Object, void* Type, void (*Destructor)(void*))
{
  using namespace StackTrace;
  if (Tracking.load(std::memory_order_relaxed))
    RecordThrow(reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)));
  TCxaThrow Real = RealCxaThrow.load(std::memory_order_relaxed);
  if (!Real)
    Real = ResolveRealCxaThrow();
  if (!Real)  // no C++ runtime to throw with: nothing sensible can follow
    std::terminate();
  Real(Object, Type, Destructor);
  __builtin_unreachable();
}

namespace StackTrace {
namespace {

TCxaThrow ResolveRealCxaThrow()
{
  auto Real = reinterpret_cast<TCxaThrow>(dlsym(RTLD_NEXT, "__cxa_throw"));
  if (!Real || Real == &__cxa_throw)
    Real = reinterpret_cast<TCxaThrow>(dlsym(RTLD_DEFAULT, "__cxa_throw"));
  if (Real == &__cxa_throw)
    Real = nullptr;
  RealCxaThrow.store(Real, std::memory_order_relaxed);
  return Real;
}

// A throw may come before tracking ever starts: know the runtime's entry
// from load on.
[[gnu::constructor]] void ResolveAtLoad() { ResolveRealCxaThrow(); }

}  // namespace

bool JclStartExceptionTracking()
{
  if (!RealCxaThrow.load())
    ResolveRealCxaThrow();
  if (JclStackTrackingOptions.Contains(tsoStaticModuleList)) {
    const TCodeRanges* Current = StaticRangesReady.load();
    TCodeRanges& Fresh = Current == &StaticRanges[0] ? StaticRanges[1] : StaticRanges[0];
    ReadCodeRanges(Fresh);
    StaticRangesReady.store(&Fresh, std::memory_order_release);
  }
  const bool HookIsFirst = dlsym(RTLD_DEFAULT, "__cxa_throw") == reinterpret_cast<void*>(&__cxa_throw);
  Tracking.store(HookIsFirst);
  return HookIsFirst;
}

void JclStopExceptionTracking() { Tracking.store(false); }

bool JclExceptionTrackingActive() { return Tracking.load(); }

}  // namespace StackTrace
