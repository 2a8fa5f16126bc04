#pragma once
// The stack-trace facility. While tracking runs, every C++ throw in the
// process (from the executable, from our libraries, from Qt or the C++
// runtime) passes our __cxa_throw, which records the throwing thread's call
// stack before it hands the exception to the runtime: with the exception
// object, so that the stack goes wherever the object goes (into an
// exception_ptr, to another thread, to a report made later), and as the
// thread's last raise. The re-raise paths (throw;, std::rethrow_exception,
// as std::future and QFuture use it) pass our hooks as well: they keep the
// object's stack, and record the re-raise site only for an object whose
// throw was not seen. The raise paths take no lock and allocate nothing;
// rendering a record into text (libdw) is done later, outside the raise.

#include <QStringList>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <vector>

#include <sys/types.h>

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

// Renders the stack recorded for the calling thread's last raise into
// Strings, one line per frame, innermost first:
//   [VA] {module} [offset] procedure (Line n, "file" + k)
// with the virtual address, the module name, the offset of the frame within
// its module and the line offset from the start of the procedure included
// by their switches. Source file and line appear where debug information has
// them. False when nothing is recorded for the thread.
bool JclLastExceptStackListToStrings(QStringList& Strings, bool IncludeModuleName, bool IncludeAddressOffset,
                                     bool IncludeStartProcLineOffset, bool IncludeVAddress);

// The raw record of the calling thread's last raise: return addresses,
// innermost first. For tools and tests.
std::vector<std::uintptr_t> LastExceptStackAddresses();

// Renders the stack of Exception, in the lines and with the switches of
// JclLastExceptStackListToStrings: where it was thrown; where it was raised
// again when its throw was not seen; for a QUnhandledException (how a
// QtConcurrent task hands on what it threw) the stack of the exception it
// wraps. Never another exception's stack: false, with Strings empty, when
// nothing is known of this one.
bool ExceptionStackListToStrings(const std::exception_ptr& Exception, QStringList& Strings, bool IncludeModuleName,
                                 bool IncludeAddressOffset, bool IncludeStartProcLineOffset, bool IncludeVAddress);
std::vector<std::uintptr_t> ExceptionStackAddresses(const std::exception_ptr& Exception);

// Renders return addresses of another process, in the lines and with the
// switches of JclLastExceptStackListToStrings, against the modules it has
// loaded (read from /proc while it lives). For a crash helper.
bool ProcessStackListToStrings(pid_t Pid, const std::vector<std::uintptr_t>& Frames, QStringList& Strings,
                               bool IncludeModuleName, bool IncludeAddressOffset, bool IncludeStartProcLineOffset,
                               bool IncludeVAddress);

// While one lives in a thread, a re-raise there records nothing: for code
// that raises an exception again only to look at it (its message), which is
// no re-raise site of the application's.
class TInspection {
public:
  TInspection();
  ~TInspection();
  TInspection(const TInspection&) = delete;
  TInspection& operator=(const TInspection&) = delete;
};

// Most frames kept per raise; deeper stacks keep their innermost frames.
inline constexpr std::size_t MaxRecordedFrames = 256;
// Most exception objects alive at once that keep a stack of their own; an
// object beyond them is known only as its thread's last raise.
inline constexpr std::size_t MaxExceptionRecords = 1024;

// Forgets the debug information read so far, so that the next rendering
// reads it afresh (measurements of a first rendering).
void ResetDebugInfoCache();

}  // namespace StackTrace
