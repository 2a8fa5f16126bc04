#pragma once
// The text form of one registry root, in the registry-export format:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\SOFTWARE\Corvane]
//   "Name"="text"
//   "Count"=dword:0000000a
//   @="default value"
//
// Strings holding a character a quoted string cannot carry (line breaks,
// NUL, other control characters) are written as hex(1): UTF-16LE bytes.
// Values of every other type are kept as their bytes and written back with
// the same meaning. Only this model lives here; the files and their locking
// are the store's business (Registry.cpp).

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace RegistryFile {

// Type numbers as the registry has them; "hex(N):" in a file names N.
enum : std::uint32_t {
  REG_NONE = 0,
  REG_SZ = 1,
  REG_EXPAND_SZ = 2,
  REG_BINARY = 3,
  REG_DWORD = 4,
  REG_DWORD_BIG_ENDIAN = 5,
  REG_MULTI_SZ = 7,
  REG_QWORD = 11,
};

struct TValue {
  enum class TKind { String, Integer, Other };
  QString Name;  // "" is the default value, "@" in the file
  TKind Kind = TKind::String;
  QString Text;              // String
  std::uint32_t Number = 0;  // Integer
  std::uint32_t Type = REG_NONE;  // Other: its type number and bytes as found
  QByteArray Bytes;
};

// The limits of the registry this store stands in for, in UTF-16 code
// units; a deeper or longer name gets a clear error instead of a store that
// grows without bound.
inline constexpr qsizetype MaxKeyNameLength = 255;
inline constexpr qsizetype MaxValueNameLength = 16383;
inline constexpr qsizetype MaxKeyDepth = 512;  // levels below the root

// Names of keys and values compare without regard to case (each character
// case-folded); the case they were created with is kept. A key with more
// than a few subkeys or values finds them through an index on those folded
// names, so that one with a great many costs no more per look-up than a
// small one.
//
// A tree read from a file is made as it is used: the file's sections below
// a key become keys when one of them is looked for, its value lines become
// values when the key's values are wanted. A large store is mostly never
// looked at; what a file holds was checked when it was read. The keys of
// such a tree refer to the file's bytes, which the root holds: they live
// and die with their root.
struct TNameIndex;

class TKey {
public:
  QString Name;

  TKey();
  ~TKey();
  TKey(TKey&&) noexcept;
  TKey& operator=(TKey&&) noexcept;

  TKey* FindKey(const QString& KeyName);
  const TKey* FindKey(const QString& KeyName) const;
  TKey* Find(const QStringList& Path);
  const TKey* Find(const QStringList& Path) const;
  TKey& Make(const QStringList& Path);  // creates what is missing
  TKey& MakeKey(const QString& KeyName);
  bool RemoveKey(const QString& KeyName);
  // The subkeys sorted by name without regard to case, as a file lists them.
  std::vector<const TKey*> SortedKeys() const;

  TValue* FindValue(const QString& ValueName);
  const TValue* FindValue(const QString& ValueName) const;
  void SetValue(TValue Value);  // an existing value keeps its name's case
  bool RemoveValue(const QString& ValueName);
  const std::vector<TValue>& Values() const;  // in the order they were created

  // For the parser, on a root before anything else is done with it: the
  // file, a section below the root (its path below it and its value lines,
  // checked already) and value lines of the root itself, in file order.
  void HoldFile(const QByteArray& File);
  // The bytes of the file a root was read from ("" for any other key).
  const QByteArray& File() const { return FFile; }
  void AddSection(QByteArrayView Path, QByteArrayView ValueLines);
  void AddValueLines(QByteArrayView Lines);

private:
  struct TSection {
    QByteArrayView Path;  // below this key, never empty
    QByteArrayView ValueLines;
  };
  TKey* MakeFromSections(const QString& KeyName) const;
  TKey& MadeFromSections(QByteArrayView Spelling) const;
  void MakeAllFromSections() const;
  void ReadValueLines() const;
  void PutValue(TValue Value) const;

  QByteArray FFile;  // a root read from a file: its bytes
  mutable std::vector<TValue> FValues;
  mutable std::vector<TKey> FKeys;  // in the order they were made
  mutable std::unique_ptr<TNameIndex> FValueIndex;  // name -> place in FValues, once there are many
  mutable std::unique_ptr<TNameIndex> FKeyIndex;    // name -> place in FKeys, once there are many
  mutable std::vector<TSection> FSections;          // below this key, not made keys yet
  mutable qsizetype FSkip = 0;    // bytes at the start of each section's path that lie above this key
  mutable qsizetype FShared = 0;  // bytes after those that every section's path starts with
  mutable bool FSectionsSearched = false;  // for a name, once
  mutable std::vector<QByteArrayView> FValueLines;  // not read yet
};

// Whether two names are the same name: equal once every character is
// case-folded.
bool SameName(QStringView A, QStringView B);

// Why a text is not a registry file, and on which line (1-based).
struct TParseError {
  int Line;
  QString Message;
};

inline constexpr char Header[] = "Windows Registry Editor Version 5.00";

// Reads the text of a root whose name (HKEY_CURRENT_USER...) every section
// must start with. Accepts CR LF or LF line ends and a UTF-8 byte-order
// mark; no bytes at all is an empty root. Throws TParseError.
TKey Parse(const QByteArray& Bytes, const QString& RootName);

// UTF-8 without byte-order mark, CR LF line ends, every key as its own
// section below the root (the root itself only when it holds values).
QByteArray Serialize(const TKey& Root);

// Why Name cannot be written as a key or value name, or "" when it can: a
// line break, a lone UTF-16 surrogate, more characters than the limit, and
// for keys a "\" or no character at all.
QString KeyNameError(const QString& Name);
QString ValueNameError(const QString& Name);
// A name as messages show it: a long one is cut short.
QString Shortened(const QString& Name);
// Why a key at this depth below the root cannot exist, or "".
QString KeyDepthError(qsizetype Depth);

// The text of UTF-16LE bytes, as string values of other types hold it; a
// last odd byte is left out.
QString FromUtf16Le(const QByteArray& Bytes);

}  // namespace RegistryFile
