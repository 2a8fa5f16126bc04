#pragma once
// What a crashed process hands the crash helper: one record, sent over a
// socket by the crash handler (CrashHandler.h) from memory prepared before
// the crash, and read here by the helper. The fixed part goes as it lies in
// memory: both ends come from the same build, which the header's size and
// magic number check.
//
// On the socket: THeader, then the exception's type name, its message and
// the prepared block (TypeNameSize, MessageSize and PreparedSize bytes). The
// prepared block holds three fields, each a 64-bit size and its bytes: the
// reported program's path, the package library's path and the component's
// settings. The helper answers with one byte once it has read what it needs
// of the crashed process; the process ends as soon as the answer comes.

#include "platform/StackTrace.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace CrashRecord {

enum class TKind : std::uint32_t {
  Signal = 1,     // a fatal signal: fault, abort, trap
  Terminate = 2,  // std::terminate (the process then aborts)
};

inline constexpr std::uint32_t Magic = 0x48535243;  // "CRSH"
inline constexpr std::size_t MaxFrames = StackTrace::MaxRecordedFrames;
inline constexpr std::size_t ThreadNameSize = 16;
inline constexpr std::size_t RegisterCount = 23;  // the general registers of x86-64 (NGREG)
// Code of the raise machinery (the C library, the C++ runtime, our own
// platform library): leading frames inside it say nothing about the crash.
inline constexpr std::size_t MaxMachineryRanges = 3;

struct TCodeRange {
  std::uint64_t Start = 0;
  std::uint64_t End = 0;
};

struct THeader {
  std::uint32_t Magic = 0;
  std::uint32_t Size = 0;  // sizeof(THeader)
  TKind Kind = TKind::Signal;
  std::int32_t Pid = 0;
  std::int32_t Tid = 0;
  std::int32_t Signal = 0;
  std::int32_t Code = 0;       // si_code
  std::int32_t SenderPid = 0;  // si_pid of a signal a process sent; 0 for one the processor raised
  std::uint64_t FaultAddress = 0;
  std::uint64_t Registers[RegisterCount] = {};  // the interrupted context (gregs)
  char ThreadName[ThreadNameSize] = {};
  // The crashed thread's stack as the handler walked it itself: for a
  // signal the interrupted instruction first, then return addresses.
  std::uint32_t WalkCount = 0;
  std::uintptr_t Walk[MaxFrames] = {};
  // Terminate with an active exception: where that exception was thrown
  // (return addresses), as the stack-trace facility recorded it.
  std::uint32_t HasException = 0;
  std::uint32_t ThrowCount = 0;
  std::uintptr_t Throw[MaxFrames] = {};
  TCodeRange Machinery[MaxMachineryRanges] = {};
  std::uint64_t TypeNameSize = 0;  // mangled, as type_info names it
  std::uint64_t MessageSize = 0;   // what() of a std::exception
  std::uint64_t PreparedSize = 0;
};

// The fields of the prepared block.
struct TPrepared {
  QString ExePath;
  QString LibraryPath;
  QByteArray Settings;
};
QByteArray PreparedBlock(const TPrepared& Prepared);

// A record as the helper reads it.
struct TCrashRecord {
  THeader Header;
  QByteArray TypeName;
  QByteArray Message;
  TPrepared Prepared;

  std::uint64_t Pc() const;
  std::uint64_t Sp() const;
  // A page fault that was a write (the processor's error code says so).
  bool WriteFault() const;
  // The process sent the signal to itself (abort, raise).
  bool SelfSent() const;
  bool InMachinery(std::uint64_t Address) const;
  // The handler's walk and the throw site, as lists.
  std::vector<std::uintptr_t> WalkFrames() const;
  std::vector<std::uintptr_t> ThrowFrames() const;
};

// Reads one record from Fd, waiting at most TimeoutMs for its bytes. False,
// with Error saying why, for a record cut short or of another build.
bool Read(int Fd, TCrashRecord& Record, int TimeoutMs, QString& Error);

// Whether Record came from the process it names: the crashed process
// starts the helper itself, so that process is the helper's parent. (A
// forked child that crashes starts its own helper, so that holds for it
// too.) A record naming any other process is forged: the helper must not
// trace that process, report for it or load a library it names.
bool FromParent(const TCrashRecord& Record, QString& Error);

// The helper's answer: it has read what it needs; the process may end.
void Answer(int Fd);

}  // namespace CrashRecord
