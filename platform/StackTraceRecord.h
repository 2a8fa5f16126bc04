#pragma once
// Inside the stack-trace facility: the records that the hooks fill and the
// renderer reads. Everything here is reached without a lock and without
// allocating, so that it may be read where neither is allowed (a signal
// handler looking at the exception that is ending the process).

#include "platform/StackTrace.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace StackTrace::Detail {

struct TRecord {
  std::size_t Count = 0;
  std::uintptr_t Frames[MaxRecordedFrames] = {};  // return addresses, innermost first
};

// The calling thread's last raise (throw or re-raise): the stack of the
// exception object raised, and that object.
struct TThreadRecord : TRecord {
  const void* Object = nullptr;
};
TThreadRecord& ThreadRecord();

// The stack that travels with one live exception object: where it was
// thrown, or, when that was not seen, where it was first raised again. Kept
// from the object's creation until the runtime destroys it.
struct TExceptionRecord {
  void (*Destructor)(void*) = nullptr;  // the object's own destructor, called by ours
  // Published after the frames; FillingCount while a re-raise writes them.
  std::atomic<std::size_t> Count{0};
  std::uintptr_t Frames[MaxRecordedFrames];
};
inline constexpr std::size_t FillingCount = ~std::size_t(0);

// The record of a live exception object (the thrown object's address, as an
// exception_ptr holds it); null when none was kept for it.
const TExceptionRecord* RecordOf(const void* Object);

// Walks the calling thread's stack from the frame whose instruction pointer
// is Start outwards, into Frames (at most Max): Start first, then return
// addresses, with the raw stack scan where tracking asks for it. For a
// signal handler, Start is the interrupted instruction and Sp its stack
// pointer: when the unwinder cannot step out of the handler to it, the
// stack above Sp is scanned. Neither locks nor allocates; the raw scan is
// left out unless the static module list is at hand.
std::size_t WalkFrom(std::uintptr_t Start, std::uintptr_t Sp, std::uintptr_t* Frames, std::size_t Max);

}  // namespace StackTrace::Detail
