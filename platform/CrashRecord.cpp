#include "platform/CrashRecord.h"

#include "platform/Posix.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <poll.h>
#include <signal.h>
#include <sys/ucontext.h>
#include <unistd.h>

namespace CrashRecord {

static_assert(RegisterCount == NGREG);

namespace {

void AppendField(QByteArray& Block, const QByteArray& Field)
{
  const std::uint64_t Size = std::uint64_t(Field.size());
  Block.append(reinterpret_cast<const char*>(&Size), sizeof Size);
  Block.append(Field);
}

// The next field of a prepared block; false when the block ends early.
bool TakeField(const QByteArray& Block, qsizetype& At, QByteArray& Field)
{
  std::uint64_t Size = 0;
  if (Block.size() - At < qsizetype(sizeof Size))
    return false;
  std::memcpy(&Size, Block.constData() + At, sizeof Size);
  At += qsizetype(sizeof Size);
  if (Size > std::uint64_t(Block.size() - At))
    return false;
  Field = Block.mid(At, qsizetype(Size));
  At += qsizetype(Size);
  return true;
}

using TClock = std::chrono::steady_clock;

// Reads exactly Size bytes before Deadline; false on an early end.
bool ReadExactly(int Fd, void* Buffer, std::size_t Size, TClock::time_point Deadline, QString& Error)
{
  auto* Out = static_cast<char*>(Buffer);
  while (Size > 0) {
    const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - TClock::now()).count();
    if (Left <= 0) {
      Error = QStringLiteral("the crashed process sent no more within the time limit");
      return false;
    }
    pollfd Wait{Fd, POLLIN, 0};
    const int Ready = ::poll(&Wait, 1, int(Left));
    if (Ready < 0 && errno != EINTR) {
      Error = QStringLiteral("poll: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
      return false;
    }
    if (Ready <= 0)
      continue;
    const ssize_t Got = Posix::ReadSome(Fd, Out, Size);
    if (Got < 0 && errno == EAGAIN)
      continue;
    if (Got <= 0) {
      Error = Got == 0 ? QStringLiteral("the record ends early")
                       : QStringLiteral("read: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
      return false;
    }
    Out += Got;
    Size -= std::size_t(Got);
  }
  return true;
}

bool ReadBytes(int Fd, QByteArray& Bytes, std::uint64_t Size, TClock::time_point Deadline, QString& Error)
{
  // A size no crashed process of ours would send is a broken record, not
  // a reason to run out of memory.
  constexpr std::uint64_t MaxField = std::uint64_t(1) << 31;
  if (Size > MaxField) {
    Error = QStringLiteral("a field of %1 bytes").arg(Size);
    return false;
  }
  Bytes.resize(qsizetype(Size));
  return ReadExactly(Fd, Bytes.data(), std::size_t(Size), Deadline, Error);
}

std::vector<std::uintptr_t> Frames(const std::uintptr_t* Frames, std::uint32_t Count)
{
  const std::size_t Kept = std::min<std::size_t>(Count, MaxFrames);
  return std::vector<std::uintptr_t>(Frames, Frames + Kept);
}

}  // namespace

QByteArray PreparedBlock(const TPrepared& Prepared)
{
  QByteArray Block;
  AppendField(Block, QFile::encodeName(Prepared.ExePath));
  AppendField(Block, QFile::encodeName(Prepared.LibraryPath));
  AppendField(Block, Prepared.Settings);
  return Block;
}

std::uint64_t TCrashRecord::Pc() const { return Header.Registers[REG_RIP]; }
std::uint64_t TCrashRecord::Sp() const { return Header.Registers[REG_RSP]; }
bool TCrashRecord::WriteFault() const { return (Header.Registers[REG_ERR] & 2) != 0; }

bool TCrashRecord::SelfSent() const
{
  return Header.Kind == TKind::Signal && Header.Code <= 0 && Header.SenderPid == Header.Pid;
}

bool TCrashRecord::InMachinery(std::uint64_t Address) const
{
  for (const TCodeRange& Range : Header.Machinery)
    if (Address >= Range.Start && Address < Range.End)
      return true;
  return false;
}

std::vector<std::uintptr_t> TCrashRecord::WalkFrames() const { return Frames(Header.Walk, Header.WalkCount); }
std::vector<std::uintptr_t> TCrashRecord::ThrowFrames() const { return Frames(Header.Throw, Header.ThrowCount); }

bool Read(int Fd, TCrashRecord& Record, int TimeoutMs, QString& Error)
{
  const TClock::time_point Deadline = TClock::now() + std::chrono::milliseconds(TimeoutMs);
  if (!ReadExactly(Fd, &Record.Header, sizeof Record.Header, Deadline, Error))
    return false;
  if (Record.Header.Magic != Magic || Record.Header.Size != sizeof(THeader)) {
    Error = QStringLiteral("the record comes from another build of Corvane");
    return false;
  }
  QByteArray Prepared;
  if (!ReadBytes(Fd, Record.TypeName, Record.Header.TypeNameSize, Deadline, Error) ||
      !ReadBytes(Fd, Record.Message, Record.Header.MessageSize, Deadline, Error) ||
      !ReadBytes(Fd, Prepared, Record.Header.PreparedSize, Deadline, Error))
    return false;
  qsizetype At = 0;
  QByteArray ExePath;
  QByteArray LibraryPath;
  if (!TakeField(Prepared, At, ExePath) || !TakeField(Prepared, At, LibraryPath) ||
      !TakeField(Prepared, At, Record.Prepared.Settings)) {
    Error = QStringLiteral("the prepared block is cut short");
    return false;
  }
  Record.Prepared.ExePath = QFile::decodeName(ExePath);
  Record.Prepared.LibraryPath = QFile::decodeName(LibraryPath);
  return true;
}

bool FromParent(const TCrashRecord& Record, QString& Error)
{
  const pid_t Parent = ::getppid();
  if (Record.Header.Pid == Parent)
    return true;
  Error = QStringLiteral("the record names process %1, but process %2 started the helper").arg(Record.Header.Pid).arg(Parent);
  return false;
}

void Answer(int Fd)
{
  const char Done = 1;
  Posix::WriteAll(Fd, &Done, 1);
}

}  // namespace CrashRecord
