#pragma once
// Text measures of the task dialog, kept by font, wrap width and text. Each
// dialog measures its fixed captions again (the prompt's instruction, button
// captions, check box and footer) and asks for its font's height; laying a
// text out costs far more than finding it here.

#include <QCache>
#include <QFont>
#include <QString>

#include <optional>

namespace halvernSynTaskDialog {

class TMeasureCache {
public:
  // Widths that are no wrap widths: a text on one line, a font's height.
  static constexpr int NoWrap = -1;
  static constexpr int FontPixelSize = -2;
  static constexpr qsizetype MaxEntries = 64;
  // A longer text is rarely measured twice; it is not worth the memory.
  static constexpr qsizetype MaxTextLength = 512;

  std::optional<int> Find(const QFont& Font, int Width, const QString& Text) const;
  // The entry unused for longest makes room, so that texts seen once (an
  // exception's message) do not push the fixed ones out.
  void Add(const QFont& Font, int Width, const QString& Text, int Value);
  void Clear() { FEntries.clear(); }
  qsizetype Size() const { return FEntries.size(); }

  struct TKey {
    QFont Font;
    int Width;
    QString Text;
    bool operator==(const TKey&) const = default;
  };

private:
  QCache<TKey, int> FEntries{MaxEntries};
};

size_t qHash(const TMeasureCache::TKey& Key, size_t Seed = 0) noexcept;

}  // namespace halvernSynTaskDialog
