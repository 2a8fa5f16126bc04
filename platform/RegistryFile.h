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
#include <QString>
#include <QStringList>

#include <cstdint>
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

// Names of keys and values compare without regard to case; the case they
// were created with is kept.
struct TKey {
  QString Name;
  std::vector<TValue> Values;  // in the order they were created
  std::vector<TKey> Keys;      // sorted by name without regard to case

  TKey* FindKey(const QString& KeyName);
  TKey* Find(const QStringList& Path);
  const TKey* Find(const QStringList& Path) const;
  TKey& Make(const QStringList& Path);  // creates what is missing
  bool RemoveKey(const QString& KeyName);

  TValue* FindValue(const QString& ValueName);
  const TValue* FindValue(const QString& ValueName) const;
  void SetValue(const TValue& Value);  // an existing value keeps its name's case
  bool RemoveValue(const QString& ValueName);
};

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

// True when Name can be written as a key or value name: no line break and
// no lone UTF-16 surrogate, and for keys no "\" and not empty.
bool IsValidKeyName(const QString& Name);
bool IsValidValueName(const QString& Name);

// How corvane-reg lists a value: "REG_SZ", "REG_DWORD", "REG_BINARY"..., and its
// data as text ("0x1f" for numbers, hex digits for binary data).
QString TypeName(const TValue& Value);
QString DisplayText(const TValue& Value);

}  // namespace RegistryFile
