#include "package/halvernSynTaskDialogMeasureCache.h"

#include <QHashFunctions>

namespace halvernSynTaskDialog {

size_t qHash(const TMeasureCache::TKey& Key, size_t Seed) noexcept
{
  return qHashMulti(Seed, Key.Font, Key.Width, Key.Text);
}

std::optional<int> TMeasureCache::Find(const QFont& Font, int Width, const QString& Text) const
{
  // Finding an entry makes it the one used last.
  if (const int* Value = FEntries.object(TKey{Font, Width, Text}))
    return *Value;
  return std::nullopt;
}

void TMeasureCache::Add(const QFont& Font, int Width, const QString& Text, int Value)
{
  if (Text.size() > MaxTextLength)
    return;
  FEntries.insert(TKey{Font, Width, Text}, new int(Value));
}

}  // namespace halvernSynTaskDialog
