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

TLockResult TFileLock::Acquire(const QString& Path, int TimeoutMs)
{
  Release();
  // flock, not fcntl: a record lock would go with the first close of any
  // other descriptor of the file in this process. A link is not followed:
  // a dangling one would have its target created.
  Posix::TFd Handle = Posix::Open(QFile::encodeName(Path), O_RDWR | O_CREAT | O_NOFOLLOW, 0666);
  if (!Handle.IsOpen())
    return TLockResult::Unavailable;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point Deadline = Clock::now() + std::chrono::milliseconds(std::max(TimeoutMs, 0));
  // Short naps first, so that a lock let go soon is taken soon.
  auto Nap = std::chrono::milliseconds(1);
  for (;;) {
    if (::flock(Handle.Get(), LOCK_EX | LOCK_NB) == 0) {
      FHandle = std::move(Handle);
      return TLockResult::Locked;
    }
    if (errno != EWOULDBLOCK && errno != EINTR)
      return TLockResult::Unavailable;
    const Clock::time_point Now = Clock::now();
    if (Now >= Deadline)
      return TLockResult::Busy;
    std::this_thread::sleep_for(std::min<Clock::duration>(Nap, Deadline - Now));
    Nap = std::min(Nap * 2, std::chrono::milliseconds(50));
  }
}

void TFileLock::Release() { FHandle.Close(); }

}  // namespace FileLock
