#include "platform/RegistryFile.h"
#include "platform/RegistryFileParser.h"

#include <QHash>

#include <bit>
#include <cstring>

#include <algorithm>
#include <optional>

namespace RegistryFile {

// The tree ------------------------------------------------------------------

namespace {

char32_t Folded(char32_t C)
{
  if (C < 0x80)
    return C >= 'A' && C <= 'Z' ? C + ('a' - 'A') : C;
  return QChar::toCaseFolded(C);
}

// The characters of a name one by one, a surrogate pair as one.
template <typename Visit>
void ForEachCharacter(QStringView Name, Visit&& Do)
{
  for (qsizetype I = 0; I < Name.size(); ++I) {
    char32_t C = Name[I].unicode();
    if (QChar::isHighSurrogate(C) && I + 1 < Name.size() && Name[I + 1].isLowSurrogate())
      C = QChar::surrogateToUcs4(char16_t(C), Name[++I].unicode());
    Do(C);
  }
}

// A name as an index key: hashed once by its folded characters, compared
// by them, sharing the text of the name itself.
struct TIndexName {
  QString Name;
  size_t Hash = 14695981039346656037ULL;

  explicit TIndexName(const QString& Text) : Name(Text)
  {
    for (const QChar C : Name) {
      // Nearly every name is ASCII; a surrogate pair folds as one character.
      if (C.unicode() >= 0x80) {
        Hash = 14695981039346656037ULL;
        ForEachCharacter(Name, [this](char32_t Each) { Add(Folded(Each)); });
        return;
      }
      Add(Folded(C.unicode()));
    }
  }
  void Add(char32_t C) { Hash = (Hash ^ C) * 1099511628211ULL; }
  bool operator==(const TIndexName& Other) const { return Hash == Other.Hash && SameName(Name, Other.Name); }
};

size_t qHash(const TIndexName& Key, size_t Seed) noexcept { return Key.Hash ^ Seed; }

// Up to this many entries a look-up compares them one by one.
constexpr std::size_t IndexFrom = 8;

}  // namespace

// Maps each name to its place in the entries, plus one: a new name's slot
// reads 0, so finding and adding take one look-up.
struct TNameIndex {
  QHash<TIndexName, std::size_t> Places;
};

namespace {

constexpr std::size_t NotFound = std::size_t(-1);

// Where the entry of that name is in Items, through the index when there is
// one.
template <typename T>
std::size_t PlaceOf(const std::vector<T>& Items, const std::unique_ptr<TNameIndex>& Index, const QString& Name)
{
  if (Index)
    return Index->Places.value(TIndexName(Name), 0) - 1;
  for (std::size_t I = 0; I < Items.size(); ++I)
    if (SameName(Items[I].Name, Name))
      return I;
  return NotFound;
}

// The place of the entry of that name in Items, after adding one made by
// Make when there is none; makes the index once there are enough entries
// for it to pay.
template <typename T, typename TMake>
std::size_t PlaceOrAdd(std::vector<T>& Items, std::unique_ptr<TNameIndex>& Index, const QString& Name, TMake&& Make)
{
  if (Index) {
    std::size_t& Slot = Index->Places[TIndexName(Name)];
    if (Slot == 0) {
      Items.push_back(Make());
      Slot = Items.size();
    }
    return Slot - 1;
  }
  const std::size_t At = PlaceOf(Items, Index, Name);
  if (At != NotFound)
    return At;
  Items.push_back(Make());
  if (Items.size() > IndexFrom) {
    Index = std::make_unique<TNameIndex>();
    Index->Places.reserve(qsizetype(Items.size()) * 2);
    for (std::size_t I = 0; I < Items.size(); ++I)
      Index->Places.insert(TIndexName(Items[I].Name), I + 1);
  }
  return Items.size() - 1;
}

template <typename T>
bool Remove(std::vector<T>& Items, std::unique_ptr<TNameIndex>& Index, const QString& Name)
{
  const std::size_t At = PlaceOf(Items, Index, Name);
  if (At == NotFound)
    return false;
  if (Index) {
    Index->Places.remove(TIndexName(Items[At].Name));
    // The later entries move down by one.
    for (auto It = Index->Places.begin(); It != Index->Places.end(); ++It)
      if (It.value() > At + 1)
        --It.value();
  }
  Items.erase(Items.begin() + std::ptrdiff_t(At));
  return true;
}

}  // namespace

bool SameName(QStringView A, QStringView B)
{
  std::vector<char32_t> Left;
  qsizetype I = 0;
  qsizetype J = 0;
  // ASCII first, character by character, as nearly every name is.
  while (I < A.size() && J < B.size() && A[I].unicode() < 0x80 && B[J].unicode() < 0x80) {
    if (Folded(A[I].unicode()) != Folded(B[J].unicode()))
      return false;
    ++I;
    ++J;
  }
  if (I == A.size() || J == B.size())
    return I == A.size() && J == B.size();
  ForEachCharacter(A.sliced(I), [&Left](char32_t C) { Left.push_back(Folded(C)); });
  std::size_t K = 0;
  bool Same = true;
  ForEachCharacter(B.sliced(J), [&](char32_t C) { Same = Same && K < Left.size() && Left[K++] == Folded(C); });
  return Same && K == Left.size();
}

TKey::TKey() = default;
TKey::~TKey() = default;
TKey::TKey(TKey&&) noexcept = default;
TKey& TKey::operator=(TKey&&) noexcept = default;

namespace {

// Whether a name as a file spells it is Name; without decoding it while
// both are ASCII, as nearly every name is.
bool SameName(QByteArrayView Utf8, QStringView Name)
{
  const qsizetype Common = std::min(Utf8.size(), Name.size());
  for (qsizetype I = 0; I < Common; ++I) {
    const uchar Byte = uchar(Utf8[I]);
    const char16_t C = Name[I].unicode();
    if (Byte >= 0x80 || C >= 0x80)
      return RegistryFile::SameName(QString::fromUtf8(Utf8), Name);
    if (Folded(Byte) != Folded(C))
      return false;
  }
  // One character is one byte so far: anything left over on either side
  // is a character more.
  return Utf8.size() == Name.size();
}

// Tells whether a section path starts with a name, and how long that name
// is spelled there; in one pass over the path while the name is ASCII.
class TFirstNameMatch {
public:
  explicit TFirstNameMatch(const QString& Name) : FName(Name)
  {
    for (const QChar C : Name) {
      if (C.unicode() >= 0x80) {
        FAscii.clear();
        return;
      }
      FAscii += char(Folded(C.unicode()));
    }
  }

  // The length of the path's first name when it is the name, else -1.
  qsizetype operator()(QByteArrayView Path) const
  {
    if (FAscii.isEmpty())
      return Slowly(Path);
    const qsizetype Length = FAscii.size();
    if (Path.size() < Length)
      return -1;
    for (qsizetype I = 0; I < Length; ++I) {
      const char Byte = Path[I];
      if (Byte == FAscii[I])
        continue;
      if (uchar(Byte) >= 0x80)
        return Slowly(Path);
      if (Byte < 'A' || Byte > 'Z' || Byte + ('a' - 'A') != FAscii[I])
        return -1;  // a "\\" too: the first name is shorter
    }
    return Length == Path.size() || Path[Length] == '\\' ? Length : -1;
  }

private:
  qsizetype Slowly(QByteArrayView Path) const
  {
    qsizetype End = 0;
    while (End < Path.size() && Path[End] != '\\')
      ++End;
    return SameName(Path.first(End), FName) ? End : -1;
  }

  QString FName;
  QByteArray FAscii;  // folded, when the name is ASCII
};

}  // namespace

TKey* TKey::FindKey(const QString& KeyName)
{
  const std::size_t At = PlaceOf(FKeys, FKeyIndex, KeyName);
  if (At != NotFound)
    return &FKeys[At];
  return FSections.empty() ? nullptr : MakeFromSections(KeyName);
}

const TKey* TKey::FindKey(const QString& KeyName) const { return const_cast<TKey*>(this)->FindKey(KeyName); }

TKey* TKey::Find(const QStringList& Path)
{
  TKey* Key = this;
  for (const QString& Part : Path)
    if (!(Key = Key->FindKey(Part)))
      return nullptr;
  return Key;
}

const TKey* TKey::Find(const QStringList& Path) const { return const_cast<TKey*>(this)->Find(Path); }

TKey& TKey::MakeKey(const QString& KeyName)
{
  if (TKey* Found = FindKey(KeyName))
    return *Found;
  return FKeys[PlaceOrAdd(FKeys, FKeyIndex, KeyName, [&KeyName] {
    TKey Key;
    Key.Name = KeyName;
    return Key;
  })];
}

TKey& TKey::Make(const QStringList& Path)
{
  TKey* Key = this;
  for (const QString& Part : Path)
    Key = &Key->MakeKey(Part);
  return *Key;
}

bool TKey::RemoveKey(const QString& KeyName) { return FindKey(KeyName) && Remove(FKeys, FKeyIndex, KeyName); }

std::vector<const TKey*> TKey::SortedKeys() const
{
  MakeAllFromSections();
  // The folded names side by side in one text, which the many comparisons
  // of a large key then read in place.
  QString Names;
  struct TEntry {
    qsizetype At;
    qsizetype Length;
    const TKey* Key;
  };
  std::vector<TEntry> Order;
  Order.reserve(FKeys.size());
  for (const TKey& Key : FKeys) {
    const qsizetype At = Names.size();
    ForEachCharacter(Key.Name, [&Names](char32_t C) { Names += QChar::fromUcs4(Folded(C)); });
    Order.push_back({At, Names.size() - At, &Key});
  }
  const QStringView All = Names;
  std::sort(Order.begin(), Order.end(), [All](const TEntry& A, const TEntry& B) {
    return All.sliced(A.At, A.Length) < All.sliced(B.At, B.Length);
  });
  std::vector<const TKey*> Sorted;
  Sorted.reserve(Order.size());
  for (const TEntry& Entry : Order)
    Sorted.push_back(Entry.Key);
  return Sorted;
}

void TKey::HoldFile(const QByteArray& File)
{
  FFile = File;
  // A section takes some 60 bytes at the least; growing the list costs more.
  FSections.reserve(std::size_t(File.size() / 64));
}

void TKey::AddSection(QByteArrayView Path, QByteArrayView ValueLines)
{
  // Keeps count of the bytes all paths start with (a key just made or a
  // root: no bytes are skipped).
  if (FSections.empty()) {
    FShared = Path.size();
  } else {
    const QByteArrayView First = FSections.front().Path;
    if (Path.size() < FShared || std::memcmp(First.data(), Path.data(), std::size_t(FShared)) != 0) {
      const qsizetype Most = std::min(FShared, Path.size());
      qsizetype Same = 0;
      while (Same < Most && First[Same] == Path[Same])
        ++Same;
      FShared = Same;
    }
  }
  FSections.push_back({Path, ValueLines});
}

void TKey::AddValueLines(QByteArrayView Lines) { FValueLines.push_back(Lines); }

TKey& TKey::MadeFromSections(QByteArrayView Spelling) const
{
  const QString Name = QString::fromUtf8(Spelling);
  return FKeys[PlaceOrAdd(FKeys, FKeyIndex, Name, [&Name] {
    TKey Key;
    Key.Name = Name;
    return Key;
  })];
}

TKey* TKey::MakeFromSections(const QString& KeyName) const
{
  // Sections that all lie below one key, as in a store where every key is
  // below "SOFTWARE", move down to it whole, without a look at each.
  const QByteArrayView First = FSections.front().Path.sliced(FSkip);
  qsizetype Length = 0;
  while (Length < First.size() && First[Length] != '\\')
    ++Length;
  if (Length < FShared) {
    if (!SameName(First.first(Length), KeyName))
      return nullptr;
    TKey& Made = MadeFromSections(First.first(Length));
    Made.FSections = std::exchange(FSections, {});
    Made.FSkip = FSkip + Length + 1;
    Made.FShared = FShared - Length - 1;
    FSkip = FShared = 0;
    return &Made;
  }
  // Looked through once already: rather than once more for every name
  // asked for, all become keys, found through the index from now on.
  if (FSectionsSearched) {
    MakeAllFromSections();
    const std::size_t At = PlaceOf(FKeys, FKeyIndex, KeyName);
    return At == NotFound ? nullptr : &FKeys[At];
  }
  FSectionsSearched = true;
  // Every section of that name goes to the key, in file order; the others
  // stay, in file order too.
  const TFirstNameMatch Match(KeyName);
  TKey* Made = nullptr;
  std::size_t Kept = 0;
  for (const TSection& Section : FSections) {
    const QByteArrayView Path = Section.Path.sliced(FSkip);
    Length = Match(Path);
    if (Length < 0) {
      FSections[Kept++] = Section;
      continue;
    }
    if (!Made)
      Made = &MadeFromSections(Path.first(Length));  // as the file first spells it
    if (Length < Path.size())
      Made->AddSection(Path.sliced(Length + 1), Section.ValueLines);
    else if (!Section.ValueLines.isNull())
      Made->AddValueLines(Section.ValueLines);
  }
  FSections.resize(Kept);
  return Made;
}

void TKey::MakeAllFromSections() const
{
  for (const TSection& Section : std::exchange(FSections, {})) {
    const QByteArrayView Path = Section.Path.sliced(FSkip);
    qsizetype Length = 0;
    while (Length < Path.size() && Path[Length] != '\\')
      ++Length;
    TKey& Made = MadeFromSections(Path.first(Length));
    if (Length < Path.size())
      Made.AddSection(Path.sliced(Length + 1), Section.ValueLines);
    else if (!Section.ValueLines.isNull())
      Made.AddValueLines(Section.ValueLines);
  }
  FSkip = FShared = 0;
}

void TKey::ReadValueLines() const
{
  for (const QByteArrayView Lines : std::exchange(FValueLines, {}))
    for (TValue& Value : ParseValueLines(Lines))
      PutValue(std::move(Value));
}

void TKey::PutValue(TValue Value) const
{
  std::size_t At = NotFound;
  const QString Name = Value.Name;
  const std::size_t Place = PlaceOrAdd(FValues, FValueIndex, Name, [&] {
    At = FValues.size();
    return std::move(Value);
  });
  if (Place != At) {
    // There already: the data changes, the name keeps its case.
    Value.Name = FValues[Place].Name;
    FValues[Place] = std::move(Value);
  }
}

const std::vector<TValue>& TKey::Values() const
{
  ReadValueLines();
  return FValues;
}

TValue* TKey::FindValue(const QString& ValueName)
{
  ReadValueLines();
  const std::size_t At = PlaceOf(FValues, FValueIndex, ValueName);
  return At == NotFound ? nullptr : &FValues[At];
}

const TValue* TKey::FindValue(const QString& ValueName) const
{
  return const_cast<TKey*>(this)->FindValue(ValueName);
}

void TKey::SetValue(TValue Value)
{
  ReadValueLines();
  PutValue(std::move(Value));
}

bool TKey::RemoveValue(const QString& ValueName)
{
  ReadValueLines();
  return Remove(FValues, FValueIndex, ValueName);
}

}  // namespace RegistryFile
