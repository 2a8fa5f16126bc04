#pragma once
// The stack-trace facility. While tracking runs, every C++ throw in the
// process (from the executable, from our libraries, from Qt or the C++
// runtime) passes our __cxa_throw, which records the throwing thread's call
// stack into a fixed per-thread buffer before it hands the exception to the
// runtime. The throw path takes no lock and allocates nothing; rendering the
// record into text (libdw) is done later, outside the throw.

#include <QStringList>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace StackTrace {

// Members of the tracking option set; the set holds bit 1 << member.
enum TJclStackTrackingOption : unsigned {
  // Also record return addresses found by scanning the raw stack, beyond
  // what the frame unwinder finds (frames without unwind information).
  tsoRawStackScan = 2,
  // Read the module list once, when tracking starts, instead of at every
  // raw stack scan.
  tsoStaticModuleList = 4,
};

class TJclStackTrackingOptions {
public:
  bool Contains(TJclStackTrackingOption Option) const { return (Bits() & BitOf(Option)) != 0; }
  TJclStackTrackingOptions& operator+=(TJclStackTrackingOption Option)
  {
    FBits.fetch_or(BitOf(Option));
    return *this;
  }
  TJclStackTrackingOptions& operator-=(TJclStackTrackingOption Option)
  {
    FBits.fetch_and(~BitOf(Option));
    return *this;
  }
  unsigned Bits() const { return FBits.load(std::memory_order_relaxed); }
  void SetBits(unsigned Bits) { FBits.store(Bits); }
  static constexpr unsigned BitOf(TJclStackTrackingOption Option) { return 1u << Option; }

private:
  std::atomic<unsigned> FBits{0};
};

// The process's tracking options; read at every recorded throw.
extern TJclStackTrackingOptions JclStackTrackingOptions;

// Starts recording the stacks of throws, for every thread. True when our
// throw hook is the one the process calls (it is first in symbol lookup
// order); false when it is not and nothing can be recorded.
bool JclStartExceptionTracking();
void JclStopExceptionTracking();
bool JclExceptionTrackingActive();

// Renders the stack recorded for the calling thread's last throw into
// Strings, one line per frame, innermost first:
//   [VA] {module} [offset] procedure (Line n, "file" + k)
// with the virtual address, the module name, the offset of the frame within
// its module and the line offset from the start of the procedure included
// by their switches. Source file and line appear where debug information has
// them. False when nothing is recorded for the thread.
bool JclLastExceptStackListToStrings(QStringList& Strings, bool IncludeModuleName, bool IncludeAddressOffset,
                                     bool IncludeStartProcLineOffset, bool IncludeVAddress);

// The raw record of the calling thread's last throw: return addresses,
// innermost first. For tools and tests.
std::vector<std::uintptr_t> LastExceptStackAddresses();

// Most frames kept per throw; deeper stacks keep their innermost frames.
inline constexpr std::size_t MaxRecordedFrames = 256;

// Forgets the debug information read so far, so that the next rendering
// reads it afresh (measurements of a first rendering).
void ResetDebugInfoCache();

}  // namespace StackTrace
