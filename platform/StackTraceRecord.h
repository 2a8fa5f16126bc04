#pragma once
// Inside the stack-trace facility: the per-thread record that the throw hook
// fills and the renderer reads.

#include "platform/StackTrace.h"

#include <cstddef>
#include <cstdint>

namespace StackTrace::Detail {

struct TRecord {
  std::size_t Count = 0;
  std::uintptr_t Frames[MaxRecordedFrames] = {};  // return addresses, innermost first
};

// The calling thread's record of its last throw.
TRecord& ThreadRecord();

}  // namespace StackTrace::Detail
