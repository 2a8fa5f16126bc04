#include "platform/FileLock.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace FileLock {

TFileLock::~TFileLock() { Release(); }

TFileLock::TFileLock(TFileLock&& Other) noexcept : FHandle(std::exchange(Other.FHandle, -1)) {}

TFileLock& TFileLock::operator=(TFileLock&& Other) noexcept
{
  if (this != &Other) {
    Release();
    FHandle = std::exchange(Other.FHandle, -1);
  }
  return *this;
}

TLockResult TFileLock::Acquire(const QString& Path, int TimeoutMs)
{
  Release();
  // flock, not fcntl: a record lock would go with the first close of any
  // other descriptor of the file in this process.
  const int Handle = ::open(QFile::encodeName(Path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (Handle < 0)
    return TLockResult::Unavailable;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point Deadline = Clock::now() + std::chrono::milliseconds(std::max(TimeoutMs, 0));
  // Short naps first, so that a lock let go soon is taken soon.
  auto Nap = std::chrono::milliseconds(1);
  for (;;) {
    if (::flock(Handle, LOCK_EX | LOCK_NB) == 0) {
      FHandle = Handle;
      return TLockResult::Locked;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      ::close(Handle);
      return TLockResult::Unavailable;
    }
    const Clock::time_point Now = Clock::now();
    if (Now >= Deadline) {
      ::close(Handle);
      return TLockResult::Busy;
    }
    std::this_thread::sleep_for(std::min<Clock::duration>(Nap, Deadline - Now));
    Nap = std::min(Nap * 2, std::chrono::milliseconds(50));
  }
}

void TFileLock::Release()
{
  // Closing the only descriptor of the open file description lets go.
  if (FHandle >= 0)
    ::close(std::exchange(FHandle, -1));
}

}  // namespace FileLock
