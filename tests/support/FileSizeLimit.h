#pragma once
// A disk that fills up, for one process: while the object lives, no file of
// this process may grow beyond a number of bytes (writes beyond fail with
// EFBIG, as they fail with ENOSPC on a full disk), and every file written
// before is left alone. A report fits below the limit a test chooses, the
// picture of a prompt does not.

#include <csignal>

#include <sys/resource.h>

namespace TestSupport {

class TFileSizeLimit {
public:
  explicit TFileSizeLimit(rlim_t Bytes)
  {
    ::getrlimit(RLIMIT_FSIZE, &FSaved);
    // The signal would end the process; the failed write is what we want.
    FSavedHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit Limit = FSaved;
    Limit.rlim_cur = Bytes;
    ::setrlimit(RLIMIT_FSIZE, &Limit);
  }
  ~TFileSizeLimit()
  {
    ::setrlimit(RLIMIT_FSIZE, &FSaved);
    std::signal(SIGXFSZ, FSavedHandler);
  }
  TFileSizeLimit(const TFileSizeLimit&) = delete;
  TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
  rlimit FSaved{};
  void (*FSavedHandler)(int) = SIG_DFL;
};

}  // namespace TestSupport
