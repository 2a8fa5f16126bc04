// The raise hooks: our __cxa_throw, __cxa_rethrow, std::rethrow_exception
// and __cxa_init_primary_exception stand first in the process's symbol
// lookup order (the executables list this library before the C++ runtime),
// so every raise of every module passes here. They record the stack and
// forward to the runtime's own entries. Nothing on these paths locks or
// allocates: the records are fixed buffers (one per thread, a fixed table
// for the live exception objects), the scratch space lies on the stack, and
// the unwinder finds frames through the loader's lock-free lookup. (Only a
// raw stack scan without the static module list reads the loader's module
// list, under the loader's own lock.)
//
// An exception object keeps its record from its creation to its
// destruction: the hooks hand the runtime our destructor in place of the
// object's, which frees the record and then calls the object's own.

#include "platform/StackTraceRecord.h"

#include <dlfcn.h>
#include <link.h>
#include <pthread.h>
#include <unwind.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <type_traits>
#include <typeinfo>

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
thread_local TThreadRecord LastRecord;
}
TThreadRecord& ThreadRecord() { return LastRecord; }
}  // namespace Detail

namespace {

using TDestructor = void (*)(void*);
using TCxaThrow = void (*)(void*, void*, TDestructor);
using TCxaRethrow = void (*)();
// std::rethrow_exception takes its exception_ptr by reference to the
// caller's copy (a class with a destructor is passed so).
using TRethrowException = void (*)(void* const*);
using TInitPrimaryException = __cxxabiv1::__cxa_refcounted_exception* (*)(void*, std::type_info*, TDestructor);

std::atomic<TCxaThrow> RealCxaThrow{nullptr};
std::atomic<TCxaRethrow> RealCxaRethrow{nullptr};
std::atomic<TRethrowException> RealRethrowException{nullptr};
std::atomic<TInitPrimaryException> RealInitPrimaryException{nullptr};
std::atomic<bool> Tracking{false};
thread_local int Inspections = 0;

constexpr char RethrowExceptionName[] = "_ZSt17rethrow_exceptionNSt15__exception_ptr13exception_ptrE";
// An exception_ptr is the address of the thrown object and nothing else.
static_assert(sizeof(std::exception_ptr) == sizeof(void*));

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
void AddRawFrames(TWalk& Walk, const TCodeRanges& Ranges)
{
  // An outermost frame with unwind information is where the stack begins
  // (thread start): nothing lies beyond it but the thread's own data.
  TDwarfEhBases Bases;
  if (_Unwind_Find_FDE(reinterpret_cast<void*>(Walk.Ips[Walk.Count - 1] - 1), &Bases))
    return;
  const std::uintptr_t From = Walk.Slots[Walk.Count - 1] + sizeof(void*);
  const std::uintptr_t Top = StackTop(Walk.Slots[0]);
  std::size_t Count = Walk.Count;
  for (std::uintptr_t Slot = From; Slot + sizeof(void*) <= Top && Count < MaxRecordedFrames; Slot += sizeof(void*)) {
    const std::uintptr_t Value = *reinterpret_cast<const std::uintptr_t*>(Slot);
    const TCodeRange* Range = RangeOf(Ranges, Value);
    if (Range && FollowsCall(*Range, Value))
      Walk.Ips[Count++] = Value;
  }
  Walk.Count = Count;
}

// Inlined into the hooks, so that the unwinder has one frame less to step
// over before it reaches the raise. Fills Walk with the stack from the call
// that returns to Return outwards. Only where MayReadModules is the module
// list read for a raw scan (under the loader's lock).
[[gnu::always_inline]] inline void WalkStack(TWalk& Walk, std::uintptr_t Return, bool MayReadModules = true)
{
  Walk.ThrowReturn = Return;
  Walk.Started = false;
  Walk.Count = 0;
  _Unwind_Backtrace(CollectFrame, &Walk);
  if (Walk.Count == 0 || !JclStackTrackingOptions.Contains(tsoRawStackScan))
    return;
  const TCodeRanges* Static = JclStackTrackingOptions.Contains(tsoStaticModuleList) || !MayReadModules
                                ? StaticRangesReady.load(std::memory_order_acquire)
                                : nullptr;
  if (Static) {
    AddRawFrames(Walk, *Static);
  } else if (MayReadModules) {
    // Without the static list the module list is read for this raise.
    TCodeRanges Current;
    ReadCodeRanges(Current);
    AddRawFrames(Walk, Current);
  }
}

// ---- the records of live exception objects ----------------------------------
// Open addressing over a fixed table: an object's record lies within
// ProbeLimit slots of its home slot, so that finding it, or finding that
// there is none, costs a few loads. The objects' addresses, the keys, lie
// together, apart from the records, so that those few loads touch a cache
// line or two.

constexpr std::size_t ProbeLimit = 32;
static_assert((MaxExceptionRecords & (MaxExceptionRecords - 1)) == 0, "the table size is a power of two");
std::atomic<const void*> RecordObjects[MaxExceptionRecords];  // null while a record is free
Detail::TExceptionRecord ExceptionRecords[MaxExceptionRecords];

std::size_t HomeOf(const void* Object)
{
  const std::uint64_t Hash = (reinterpret_cast<std::uintptr_t>(Object) >> 4) * 0x9E3779B97F4A7C15ull;
  return std::size_t(Hash >> 32);
}

std::size_t IndexAt(std::size_t Home, std::size_t Probe) { return (Home + Probe) & (MaxExceptionRecords - 1); }

// The index of Object's record; MaxExceptionRecords when it has none.
std::size_t FindRecordIndex(const void* Object)
{
  const std::size_t Home = HomeOf(Object);
  for (std::size_t Probe = 0; Probe < ProbeLimit; ++Probe) {
    const std::size_t Index = IndexAt(Home, Probe);
    if (RecordObjects[Index].load(std::memory_order_acquire) == Object)
      return Index;
  }
  return MaxExceptionRecords;
}

Detail::TExceptionRecord* FindRecord(const void* Object)
{
  const std::size_t Index = FindRecordIndex(Object);
  return Index < MaxExceptionRecords ? &ExceptionRecords[Index] : nullptr;
}

void FreeRecord(std::size_t Index)
{
  ExceptionRecords[Index].Count.store(0, std::memory_order_relaxed);
  ExceptionRecords[Index].Destructor = nullptr;
  RecordObjects[Index].store(nullptr, std::memory_order_release);
}

// Our destructor of every object that has a record.
void DestroyTrackedException(void* Object)
{
  TDestructor Own = nullptr;
  const std::size_t Index = FindRecordIndex(Object);
  if (Index < MaxExceptionRecords) {
    Own = ExceptionRecords[Index].Destructor;
    FreeRecord(Index);
  }
  if (Own)
    Own(Object);
}

// A record for an object being created, its stack not yet known; null when
// the table has no room near the object's home slot. A record still under
// this address belongs to an object freed without its destructor (the
// runtime frees so an object that failed to be made): it is stale, and
// taken over where it comes first. A later stale one is never found, as a
// look-up stops at the first record of an address.
Detail::TExceptionRecord* ClaimRecord(const void* Object, TDestructor Own)
{
  const std::size_t Home = HomeOf(Object);
  for (std::size_t Probe = 0; Probe < ProbeLimit; ++Probe) {
    const std::size_t Index = IndexAt(Home, Probe);
    const void* Holder = RecordObjects[Index].load(std::memory_order_relaxed);
    if (Holder == Object ||
        (!Holder && RecordObjects[Index].compare_exchange_strong(Holder, Object, std::memory_order_acq_rel))) {
      Detail::TExceptionRecord& Record = ExceptionRecords[Index];
      Record.Count.store(0, std::memory_order_relaxed);
      Record.Destructor = Own;
      return &Record;
    }
  }
  return nullptr;
}

void Publish(Detail::TExceptionRecord& Record, const TWalk& Walk)
{
  std::memcpy(Record.Frames, Walk.Ips, Walk.Count * sizeof(std::uintptr_t));
  Record.Count.store(Walk.Count, std::memory_order_release);
}

void SetThreadRecord(const void* Object, const std::uintptr_t* Frames, std::size_t Count)
{
  Detail::TThreadRecord& Thread = Detail::ThreadRecord();
  std::memcpy(Thread.Frames, Frames, Count * sizeof(std::uintptr_t));
  Thread.Count = Count;
  Thread.Object = Object;
}

// A known object raised again: its own stack stays; only a record whose
// stack is still unknown takes the re-raise site.
[[gnu::always_inline]] inline void RecordReraise(const void* Object, std::uintptr_t Return)
{
  if (!Object || Inspections > 0)
    return;
  Detail::TExceptionRecord* Record = FindRecord(Object);
  if (Record) {
    const std::size_t Count = Record->Count.load(std::memory_order_acquire);
    if (Count != 0 && Count != Detail::FillingCount) {
      SetThreadRecord(Object, Record->Frames, Count);
      return;
    }
  }
  TWalk Walk;
  WalkStack(Walk, Return);
  SetThreadRecord(Object, Walk.Ips, Walk.Count);
  std::size_t Unknown = 0;
  if (Record && Walk.Count > 0 &&
      Record->Count.compare_exchange_strong(Unknown, Detail::FillingCount, std::memory_order_acq_rel))
    Publish(*Record, Walk);
}

template <typename T>
T ResolveNext(std::atomic<T>& Cache, const char* Name, std::type_identity_t<T> Own)
{
  auto Real = reinterpret_cast<T>(dlsym(RTLD_NEXT, Name));
  if (!Real || Real == Own)
    Real = reinterpret_cast<T>(dlsym(RTLD_DEFAULT, Name));
  if (Real == Own)
    Real = nullptr;
  Cache.store(Real, std::memory_order_relaxed);
  return Real;
}

template <typename T>
T Forward(std::atomic<T>& Cache, const char* Name, std::type_identity_t<T> Own)
{
  T Real = Cache.load(std::memory_order_relaxed);
  if (!Real)
    Real = ResolveNext(Cache, Name, Own);
  if (!Real)  // no C++ runtime to hand on to: nothing sensible can follow
    std::terminate();
  return Real;
}

}  // namespace
}  // namespace StackTrace

extern "C" [[noreturn]] void __cxa_throw(void* Object, void* Type, void (*Destructor)(void*))
{
  using namespace StackTrace;
  if (Tracking.load(std::memory_order_relaxed)) {
    TWalk Walk;
    WalkStack(Walk, reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)));
    SetThreadRecord(Object, Walk.Ips, Walk.Count);
    if (Detail::TExceptionRecord* Record = ClaimRecord(Object, Destructor)) {
      Publish(*Record, Walk);
      Destructor = &DestroyTrackedException;
    }
  }
  Forward(RealCxaThrow, "__cxa_throw", &__cxa_throw)(Object, Type, Destructor);
  __builtin_unreachable();
}

// Every primary exception object passes here once it is made: from the
// runtime's __cxa_throw, and from std::make_exception_ptr, which makes one
// without a throw. The latter gets a record without a stack, so that a
// later re-raise can give it one.
extern "C" __cxxabiv1::__cxa_refcounted_exception* __cxa_init_primary_exception(void* Object, std::type_info* Type,
                                                                             void (*Destructor)(void*)) noexcept
{
  using namespace StackTrace;
  if (Destructor != &DestroyTrackedException && Tracking.load(std::memory_order_relaxed)) {
    if (ClaimRecord(Object, Destructor))
      Destructor = &DestroyTrackedException;
    else if (Detail::ThreadRecord().Object == Object)
      Detail::ThreadRecord().Object = nullptr;  // an earlier object at this address
  }
  return Forward(RealInitPrimaryException, "__cxa_init_primary_exception", &__cxa_init_primary_exception)(
    Object, Type, Destructor);
}

// throw; in a handler.
extern "C" [[noreturn]] void __cxa_rethrow()
{
  using namespace StackTrace;
  if (Tracking.load(std::memory_order_relaxed)) {
    const void* Object;
    {
      const std::exception_ptr Current = std::current_exception();
      Object = *reinterpret_cast<void* const*>(&Current);
    }
    RecordReraise(Object, reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)));
  }
  Forward(RealCxaRethrow, "__cxa_rethrow", &__cxa_rethrow)();
  __builtin_unreachable();
}

// std::rethrow_exception, under its mangled name.
extern "C" [[noreturn]] void CorvaneRethrowException(void* const* Pointer) __asm__(
  "_ZSt17rethrow_exceptionNSt15__exception_ptr13exception_ptrE");
extern "C" [[noreturn]] void CorvaneRethrowException(void* const* Pointer)
{
  using namespace StackTrace;
  if (Tracking.load(std::memory_order_relaxed))
    RecordReraise(*Pointer, reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)));
  Forward(RealRethrowException, RethrowExceptionName, &CorvaneRethrowException)(Pointer);
  __builtin_unreachable();
}

namespace StackTrace {
namespace {

void ResolveAll()
{
  ResolveNext(RealCxaThrow, "__cxa_throw", &__cxa_throw);
  ResolveNext(RealCxaRethrow, "__cxa_rethrow", &__cxa_rethrow);
  ResolveNext(RealRethrowException, RethrowExceptionName, &CorvaneRethrowException);
  ResolveNext(RealInitPrimaryException, "__cxa_init_primary_exception", &__cxa_init_primary_exception);
}

// A raise may come before tracking ever starts: know the runtime's entries
// from load on.
[[gnu::constructor]] void ResolveAtLoad() { ResolveAll(); }

}  // namespace

namespace Detail {
const TExceptionRecord* RecordOf(const void* Object) { return Object ? FindRecord(Object) : nullptr; }

std::size_t WalkFrom(std::uintptr_t Start, std::uintptr_t Sp, std::uintptr_t* Frames, std::size_t Max)
{
  TWalk Walk;
  WalkStack(Walk, Start, false);
  if (Walk.Count == 0 && Sp != 0) {
    // The unwinder found no way out to Start (a jump to nowhere, code
    // without unwind information): Start, and what the stack above Sp holds.
    Walk.Ips[0] = Start;
    Walk.Slots[0] = Sp - sizeof(void*);
    Walk.Count = 1;
    if (const TCodeRanges* Static = StaticRangesReady.load(std::memory_order_acquire))
      AddRawFrames(Walk, *Static);
  }
  const std::size_t Count = std::min(Walk.Count, Max);
  std::memcpy(Frames, Walk.Ips, Count * sizeof(std::uintptr_t));
  return Count;
}
}  // namespace Detail

TInspection::TInspection() { ++Inspections; }
TInspection::~TInspection() { --Inspections; }

bool JclStartExceptionTracking()
{
  ResolveAll();
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
