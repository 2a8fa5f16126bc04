#pragma once
// An exclusive advisory lock on a file, shared by every process that takes
// it through this unit (or flock(1)): a writer that holds it is the file's
// only writer. The lock belongs to the open file description, so the
// holder may open, rewrite and close the file by name as often as it likes
// meanwhile. It goes when the object goes or the process ends, killed
// included.

#include "platform/Posix.h"

#include <QString>

namespace FileLock {

enum class TLockResult {
  Locked,       // the lock is ours
  Busy,         // another holder kept it for the whole wait
  Unavailable,  // the file cannot be opened or locked at all
};

class TFileLock {
public:
  TFileLock() = default;

  // Locks the file, creating it empty when missing and never truncating
  // it; waits at most TimeoutMs for another holder to let go.
  TLockResult Acquire(const QString& Path, int TimeoutMs);
  bool Locked() const { return FHandle.IsOpen(); }
  void Release();

private:
  // Closing the only descriptor of the open file description lets go.
  Posix::TFd FHandle;
};

}  // namespace FileLock
