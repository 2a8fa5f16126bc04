// Built without unwind tables: a frame the unwinder cannot step over, as
// code from a foreign compiler or hand-written assembly may leave.

#include "tests/platform/NoUnwindInfo.h"

extern "C" void CallWithoutUnwindInfo(void (*Callee)())
{
  Callee();
  // Keeps the call a call, not a jump that would leave no frame.
  __asm__ volatile("" ::: "memory");
}
