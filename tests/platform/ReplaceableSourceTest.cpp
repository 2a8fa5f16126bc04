// The shape every seam shares: a source is called outside the seam's lock,
// so that it may replace itself, and one replaced meanwhile finishes its call.

#include "platform/MemoryStatus.h"
#include "platform/ReplaceableSource.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

TEST(ReplaceableSource, ASourceMayReplaceItselfAndLivesOnUntilItsCallEnds)
{
  ReplaceableSource::TReplaceableSource<std::function<int()>> Seam;
  EXPECT_FALSE(Seam.Get());
  auto Alive = std::make_shared<int>(7);
  std::weak_ptr<int> Watch = Alive;
  Seam.Set([&Seam, Alive = std::move(Alive)] {
    Seam.Set([] { return 2; });
    // Its own captures are still there though it was replaced.
    return *Alive;
  });
  EXPECT_EQ(Seam.Get()(), 7);
  EXPECT_TRUE(Watch.expired());
  EXPECT_EQ(Seam.Get()(), 2);
}

TEST(ReplaceableSource, TheMemorySeamCallsItsSourceOutsideItsLock)
{
  // Under the lock this would wait on itself for ever.
  MemoryStatus::SetSource([]() -> std::optional<QByteArray> {
    MemoryStatus::SetSource({});
    return QByteArray("MemTotal: 100 kB\nMemAvailable: 25 kB\n");
  });
  MemoryStatus::MEMORYSTATUSEX Status{};
  Status.dwLength = sizeof Status;
  ASSERT_TRUE(MemoryStatus::GlobalMemoryStatusEx(&Status));
  EXPECT_EQ(Status.dwMemoryLoad, 75u);
  MemoryStatus::SetSource({});
}
