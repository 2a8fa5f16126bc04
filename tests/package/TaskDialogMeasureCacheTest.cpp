#include "package/halvernSynTaskDialogMeasureCache.h"

#include <gtest/gtest.h>

using halvernSynTaskDialog::TMeasureCache;

TEST(TaskDialogMeasureCache, FindsByFontWidthAndText)
{
  TMeasureCache Cache;
  const QFont Small(QStringLiteral("Arial"), 9), Bold(QStringLiteral("Arial"), 9, QFont::Bold);
  const QString Text = QStringLiteral("OK");
  EXPECT_FALSE(Cache.Find(Small, TMeasureCache::NoWrap, Text));
  Cache.Add(Small, TMeasureCache::NoWrap, Text, 17);
  Cache.Add(Small, 300, Text, 15);
  EXPECT_EQ(Cache.Find(Small, TMeasureCache::NoWrap, Text), 17);
  EXPECT_EQ(Cache.Find(QFont(QStringLiteral("Arial"), 9), 300, Text), 15);
  EXPECT_FALSE(Cache.Find(Bold, TMeasureCache::NoWrap, Text));
  EXPECT_FALSE(Cache.Find(Small, 301, Text));
  EXPECT_FALSE(Cache.Find(Small, TMeasureCache::NoWrap, QStringLiteral("Ok")));
  // A font's height is kept under the empty text.
  Cache.Add(Small, TMeasureCache::FontPixelSize, QString(), -12);
  EXPECT_EQ(Cache.Find(Small, TMeasureCache::FontPixelSize, QString()), -12);
  EXPECT_FALSE(Cache.Find(Small, TMeasureCache::NoWrap, QString()));

  Cache.Clear();
  EXPECT_EQ(Cache.Size(), 0);
  EXPECT_FALSE(Cache.Find(Small, 300, Text));
}

TEST(TaskDialogMeasureCache, TheEntryUnusedForLongestMakesRoomAndLongTextsAreNotKept)
{
  TMeasureCache Cache;
  const QFont Font(QStringLiteral("Arial"), 9);
  auto Text = [](int I) { return QStringLiteral("caption %1").arg(I); };
  for (int I = 0; I < TMeasureCache::MaxEntries; ++I)
    Cache.Add(Font, TMeasureCache::NoWrap, Text(I), I);
  ASSERT_EQ(Cache.Size(), TMeasureCache::MaxEntries);
  // Asked for again, the oldest is the one used last: the next oldest goes.
  EXPECT_EQ(Cache.Find(Font, TMeasureCache::NoWrap, Text(0)), 0);
  Cache.Add(Font, TMeasureCache::NoWrap, QStringLiteral("message"), 99);
  EXPECT_EQ(Cache.Size(), TMeasureCache::MaxEntries);
  EXPECT_EQ(Cache.Find(Font, TMeasureCache::NoWrap, Text(0)), 0);
  EXPECT_FALSE(Cache.Find(Font, TMeasureCache::NoWrap, Text(1)));
  EXPECT_EQ(Cache.Find(Font, TMeasureCache::NoWrap, Text(2)), 2);
  EXPECT_EQ(Cache.Find(Font, TMeasureCache::NoWrap, QStringLiteral("message")), 99);

  // Texts up to the limit are kept, longer ones pass by without evicting.
  const QString Longest(TMeasureCache::MaxTextLength, QLatin1Char('x'));
  Cache.Add(Font, TMeasureCache::NoWrap, Longest + QLatin1Char('x'), 1);
  EXPECT_FALSE(Cache.Find(Font, TMeasureCache::NoWrap, Longest + QLatin1Char('x')));
  EXPECT_EQ(Cache.Find(Font, TMeasureCache::NoWrap, Text(2)), 2);
  EXPECT_EQ(Cache.Find(Font, TMeasureCache::NoWrap, Text(3)), 3);
  Cache.Add(Font, TMeasureCache::NoWrap, Longest, 1);
  EXPECT_EQ(Cache.Find(Font, TMeasureCache::NoWrap, Longest), 1);
}
