#pragma once
// The one shape of every test seam of the platform layer: a source of data
// that a test may replace from any thread (an empty one means the real
// machine). Get copies the source under the lock and the caller calls the
// copy outside it, so that a slow source holds up no one, a source may use
// the seam itself, and a source replaced meanwhile lives on until its call
// ends.

#include <mutex>
#include <utility>

namespace ReplaceableSource {

template <typename TSource>
class TReplaceableSource {
public:
  TSource Get() const
  {
    const std::lock_guard Lock(FLock);
    return FSource;
  }

  void Set(TSource Source)
  {
    {
      const std::lock_guard Lock(FLock);
      std::swap(FSource, Source);
    }
    // The old source goes here, outside the lock: its captures may take
    // locks of their own.
  }

private:
  mutable std::mutex FLock;
  TSource FSource{};
};

}  // namespace ReplaceableSource
