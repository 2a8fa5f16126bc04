#include "platform/RegistryFile.h"

#include <QHash>

#include <bit>
#include <cstring>

#include <algorithm>
#include <optional>

namespace RegistryFile {

namespace {

// Hex digits only: QString::toUInt would also take blanks, signs and "0x".
bool ParseHex(QByteArrayView Digits, qsizetype MaxDigits, std::uint32_t& Number)
{
  if (Digits.isEmpty() || Digits.size() > MaxDigits)
    return false;
  Number = 0;
  for (const char U : Digits) {
    std::uint32_t Digit = 0;
    if (U >= '0' && U <= '9')
      Digit = U - '0';
    else if (U >= 'a' && U <= 'f')
      Digit = U - 'a' + 10;
    else if (U >= 'A' && U <= 'F')
      Digit = U - 'A' + 10;
    else
      return false;
    Number = Number << 4 | Digit;
  }
  return true;
}

bool HasLoneSurrogate(const QString& Text)
{
  for (qsizetype I = 0; I < Text.size(); ++I) {
    const QChar C = Text[I];
    if (C.isHighSurrogate() && I + 1 < Text.size() && Text[I + 1].isLowSurrogate())
      ++I;
    else if (C.isSurrogate())
      return true;
  }
  return false;
}

// A quoted string cannot hold these, nor can UTF-8 carry a lone surrogate.
bool NeedsHexString(const QString& Text)
{
  for (const QChar C : Text)
    if (C.unicode() < 0x20 || C.unicode() == 0x7f)
      return true;
  return HasLoneSurrogate(Text);
}

QString Quoted(const QString& Text)
{
  QString Result = QStringLiteral("\"");
  for (const QChar C : Text) {
    if (C == QLatin1Char('\\') || C == QLatin1Char('"'))
      Result += QLatin1Char('\\');
    Result += C;
  }
  return Result + QLatin1Char('"');
}

QByteArray Utf16Le(const QString& Text)
{
  QByteArray Bytes;
  for (const QChar C : Text) {
    Bytes += char(C.unicode() & 0xff);
    Bytes += char(C.unicode() >> 8);
  }
  return Bytes;
}

QString FromUtf16Le(const QByteArray& Bytes)
{
  QString Text;
  for (qsizetype I = 0; I + 1 < Bytes.size(); I += 2)
    Text += QChar(char16_t(quint8(Bytes[I]) | quint8(Bytes[I + 1]) << 8));
  return Text;
}

// "xx,xx,..." wrapped the way an export wraps it: lines of at most 80
// characters, continued with "\" and indented by two blanks.
QByteArray HexLines(const QByteArray& Prefix, const QByteArray& Bytes)
{
  static constexpr char Digits[] = "0123456789abcdef";
  QByteArray Result = Prefix;
  Result.reserve(Prefix.size() + Bytes.size() * 3 + Bytes.size() / 8 + 8);
  qsizetype Line = Prefix.size();  // characters on the current line
  for (qsizetype I = 0; I < Bytes.size(); ++I) {
    if (Line + 3 > 79) {
      Result += "\\\r\n  ";
      Line = 2;
    }
    Result += Digits[quint8(Bytes[I]) >> 4];
    Result += Digits[quint8(Bytes[I]) & 0xf];
    Line += 2;
    if (I + 1 < Bytes.size()) {
      Result += ',';
      ++Line;
    }
  }
  return Result;
}

QByteArray ValueLine(const TValue& Value)
{
  QByteArray Line = Value.Name.isEmpty() ? QByteArray("@") : Quoted(Value.Name).toUtf8();
  Line += '=';
  switch (Value.Kind) {
  case TValue::TKind::String:
    if (!NeedsHexString(Value.Text))
      return Line + Quoted(Value.Text).toUtf8();
    return HexLines(Line + "hex(1):", Utf16Le(Value.Text) + QByteArray(2, '\0'));
  case TValue::TKind::Integer:
    return Line + "dword:" + QByteArray::number(Value.Number, 16).rightJustified(8, '0');
  case TValue::TKind::Other:
    break;
  }
  const QByteArray Type =
    Value.Type == REG_BINARY ? QByteArray("hex:") : "hex(" + QByteArray::number(Value.Type, 16) + "):";
  return HexLines(Line + Type, Value.Bytes);
}

void SerializeKey(const TKey& Key, QByteArray& Path, bool IsRoot, QByteArray& Out)
{
  if (!IsRoot || !Key.Values().empty()) {
    Out += '[' + Path + "]\r\n";
    // The default value comes first, as in an export.
    for (const TValue& Value : Key.Values())
      if (Value.Name.isEmpty())
        Out += ValueLine(Value) + "\r\n";
    for (const TValue& Value : Key.Values())
      if (!Value.Name.isEmpty())
        Out += ValueLine(Value) + "\r\n";
    Out += "\r\n";
  }
  const qsizetype Length = Path.size();
  for (const TKey* Child : Key.SortedKeys()) {
    Path += '\\' + Child->Name.toUtf8();
    SerializeKey(*Child, Path, false, Out);
    Path.truncate(Length);
  }
}

// Reading -------------------------------------------------------------------

// The parser works on the UTF-8 bytes: every character of the syntax is
// ASCII, and only names and texts need to become QStrings.

bool IsBlank(char C) { return C == ' ' || C == '\t'; }

// Where C is in Text from From on, or -1: memchr without the detours of
// the general search, for the many short searches of a large file.
qsizetype IndexOf(QByteArrayView Text, char C, qsizetype From = 0)
{
  if (From >= Text.size())
    return -1;
  const void* Found = std::memchr(Text.data() + From, C, std::size_t(Text.size() - From));
  return Found ? static_cast<const char*>(Found) - Text.data() : -1;
}

// Where the line from From ends ("\n"), or -1. Lines are short, shorter
// than memchr needs to pay for itself: eight bytes at a time in place.
qsizetype LineEnd(QByteArrayView Text, qsizetype From)
{
  constexpr std::uint64_t Ones = 0x0101010101010101ULL;
  const char* const Begin = Text.data();
  const char* P = Begin + From;
  const char* const End = Begin + Text.size();
  while (End - P >= 8) {
    std::uint64_t Word;
    std::memcpy(&Word, P, sizeof Word);
    const std::uint64_t Blend = Word ^ (Ones * '\n');  // a line feed is a zero byte now
    const std::uint64_t Zero = (Blend - Ones) & ~Blend & (Ones << 7);
    if (Zero)
      return (P - Begin) + std::countr_zero(Zero) / 8;  // the lowest mark is the first zero
    P += 8;
  }
  for (; P < End; ++P)
    if (*P == '\n')
      return P - Begin;
  return -1;
}

QByteArrayView TrimmedBlanks(QByteArrayView Text)
{
  qsizetype Begin = 0;
  qsizetype End = Text.size();
  while (Begin < End && IsBlank(Text[Begin]))
    ++Begin;
  while (End > Begin && IsBlank(Text[End - 1]))
    --End;
  return Text.sliced(Begin, End - Begin);
}

// The start of a text for a message.
QString Shown(QByteArrayView Text, qsizetype Length = 40)
{
  return QString::fromUtf8(Text.first(std::min(Text.size(), Length)));
}

QString Unquoted(QByteArrayView Raw, bool Escaped)
{
  if (!Escaped)
    return QString::fromUtf8(Raw);
  QByteArray Text;
  Text.reserve(Raw.size());
  for (qsizetype I = 0; I < Raw.size(); ++I)
    Text += Raw[Raw[I] == '\\' ? ++I : I];
  return QString::fromUtf8(Text);
}

// Reads a whole file, checking every line; its sections and value lines are
// left to the keys to make into keys and values when they are wanted. Or
// reads the value lines a key left, into values.
class TParser {
public:
  TParser(const QByteArray& Bytes, const QString& RootName);
  explicit TParser(QByteArrayView ValueLines);
  TKey Run();
  std::vector<TValue> Values();

private:
  [[noreturn]] void Fail(const QString& Message) const { throw TParseError{FLine + 1, Message}; }
  bool NextLine();
  void CheckUtf8();
  void Section(QByteArrayView Line);
  void EndOfSection();
  void Value(QByteArrayView Line);
  QByteArrayView QuotedAt(QByteArrayView Line, qsizetype& Pos, bool& Escaped) const;
  void Data(QByteArrayView Line, qsizetype Pos, TValue& Value);
  QByteArray HexBytes(QByteArrayView First);

  QString FRootName;
  QByteArray FRootNameUtf8;
  QByteArrayView FText;
  qsizetype FNext = 0;    // where the next line starts in FText
  qsizetype FStart = 0;   // where the current line starts
  int FLine = -1;         // the current line, from 0
  QByteArrayView FTrimmed;  // the current line without line end and outer blanks
  // Invalid UTF-8 would come back as replacement characters and be lost on
  // the next write: a file is checked up to FChecked, and reading stops at
  // its first bad line.
  bool FCheckUtf8 = false;
  qsizetype FChecked = 0;
  std::optional<int> FBadUtf8Line;
  bool FKeep = false;     // values are made, not only checked
  std::vector<TValue> FValues;
  TKey FRoot;
  bool FInSection = false;
  QByteArrayView FSectionPath;  // of the section being read, below the root
  qsizetype FSectionBody = 0;   // where its value lines start
  bool FSectionHasValues = false;
};

TParser::TParser(QByteArrayView ValueLines) : FText(ValueLines), FKeep(true), FInSection(true) {}

std::vector<TValue> TParser::Values()
{
  while (NextLine())
    if (!FTrimmed.isEmpty() && !FTrimmed.startsWith(';'))
      Value(FTrimmed);
  return std::move(FValues);
}

TParser::TParser(const QByteArray& Bytes, const QString& RootName)
  : FRootName(RootName), FRootNameUtf8(RootName.toUtf8()), FText(Bytes)
{
  FRoot.Name = RootName;
  FRoot.HoldFile(Bytes);
  if (FText.startsWith("\xef\xbb\xbf"))
    FText = FText.sliced(3);
  FCheckUtf8 = true;
}

void TParser::CheckUtf8()
{
  // A block at a time, just ahead of the lines read, while it is in the
  // cache. A "\n" byte is never part of a sequence, so blocks end at one
  // and the lines of the bytes are the lines of the text.
  qsizetype End = IndexOf(FText, '\n', std::min(FChecked + 65536, FText.size()));
  End = End < 0 ? FText.size() : End + 1;
  if (FText.sliced(FChecked, End - FChecked).isValidUtf8()) {
    FChecked = End;
    return;
  }
  // The block starts with the line about to be read: which is the first bad?
  int Line = FLine + 1;
  for (qsizetype Begin = FChecked;; ++Line) {
    qsizetype LineEnd = IndexOf(FText, '\n', Begin);
    if (LineEnd < 0)
      LineEnd = FText.size();
    if (!FText.sliced(Begin, LineEnd - Begin).isValidUtf8())
      break;
    Begin = LineEnd + 1;
  }
  FBadUtf8Line = Line;
  FChecked = FText.size();
}

bool TParser::NextLine()
{
  if (FNext > FText.size())
    return false;
  qsizetype End = LineEnd(FText, FNext);
  if (End < 0)
    End = FText.size();
  if (FCheckUtf8 && End >= FChecked && !FBadUtf8Line)
    CheckUtf8();
  if (FBadUtf8Line && FLine + 1 >= *FBadUtf8Line)
    return false;
  QByteArrayView Line = FText.sliced(FNext, End - FNext);
  if (Line.endsWith('\r'))
    Line.chop(1);
  FTrimmed = TrimmedBlanks(Line);
  FStart = FNext;
  FNext = End + 1;
  ++FLine;
  return true;
}

TKey TParser::Run()
{
  if (!NextLine() || FTrimmed != QByteArrayView(Header)) {
    FLine = 0;
    Fail(QStringLiteral("the first line is not \"%1\"").arg(QLatin1String(Header)));
  }
  while (NextLine()) {
    const QByteArrayView Line = FTrimmed;
    if (Line.isEmpty() || Line.startsWith(';'))
      continue;
    if (Line.startsWith('['))
      Section(Line);
    else if (Line.startsWith('@') || Line.startsWith('"'))
      Value(Line);
    else
      Fail(QStringLiteral("unexpected text \"%1\"").arg(Shown(Line)));
  }
  FStart = FText.size();
  EndOfSection();
  if (FBadUtf8Line) {
    FLine = *FBadUtf8Line;
    Fail(QStringLiteral("invalid UTF-8"));
  }
  return std::move(FRoot);
}

void TParser::EndOfSection()
{
  if (!FInSection)
    return;
  const QByteArrayView Lines =
    FSectionHasValues ? FText.sliced(FSectionBody, FStart - FSectionBody) : QByteArrayView();
  if (FSectionPath.isEmpty()) {
    if (FSectionHasValues)
      FRoot.AddValueLines(Lines);
  } else {
    FRoot.AddSection(FSectionPath, Lines);
  }
  FSectionHasValues = false;
}

void TParser::Section(QByteArrayView Line)
{
  EndOfSection();
  if (!Line.endsWith(']'))
    Fail(QStringLiteral("unterminated key section"));
  const QByteArrayView Path = Line.sliced(1, Line.size() - 2);
  if (Path.startsWith('-'))
    Fail(QStringLiteral("a key deletion does not belong in a registry store"));
  const auto Invalid = [&](const QString& Why) {
    Fail(QStringLiteral("key \"%1\": %2").arg(Shortened(QString::fromUtf8(Path)), Why));
  };
  qsizetype End = IndexOf(Path, '\\');
  if (End < 0)
    End = Path.size();
  const QByteArrayView Root = Path.first(End);
  if (Root != FRootNameUtf8 && Root.compare(FRootNameUtf8, Qt::CaseInsensitive) != 0)
    Fail(QStringLiteral("key \"%1\" is outside %2").arg(Shortened(QString::fromUtf8(Path)), FRootName));
  FSectionPath = End == Path.size() ? QByteArrayView() : Path.sliced(End + 1);
  // Each name below the root: not empty, not too long, not too deep.
  qsizetype Depth = 0;
  for (qsizetype Begin = End + 1; Begin <= Path.size(); Begin = End + 1) {
    End = Begin;
    while (End < Path.size() && Path[End] != '\\')
      ++End;
    const QByteArrayView Part = Path.sliced(Begin, End - Begin);
    if (Part.isEmpty())
      Fail(QStringLiteral("empty key name in \"%1\"").arg(Shortened(QString::fromUtf8(Path))));
    // A name of no more bytes has no more characters either.
    if (Part.size() > MaxKeyNameLength) {
      const QString Name = QString::fromUtf8(Part);
      if (Name.size() > MaxKeyNameLength)
        Invalid(KeyNameError(Name));
    }
    if (++Depth > MaxKeyDepth)
      Invalid(KeyDepthError(std::count(Path.begin(), Path.end(), '\\')));
  }
  FInSection = true;
  FSectionBody = FNext;
}

void TParser::Value(QByteArrayView Line)
{
  if (!FInSection)
    Fail(QStringLiteral("value before the first key section"));
  TValue Value;
  qsizetype Pos = 0;
  if (Line[0] == '@') {
    Pos = 1;
  } else {
    bool Escaped = false;
    const QByteArrayView Name = QuotedAt(Line, Pos, Escaped);
    // A name of no more bytes has no more characters either.
    if (FKeep || Name.size() > MaxValueNameLength)
      Value.Name = Unquoted(Name, Escaped);
    if (Value.Name.size() > MaxValueNameLength)
      Fail(ValueNameError(Value.Name));
  }
  while (Pos < Line.size() && IsBlank(Line[Pos]))
    ++Pos;
  if (Pos >= Line.size() || Line[Pos] != '=')
    Fail(QStringLiteral("\"=\" expected after the value name"));
  ++Pos;
  while (Pos < Line.size() && IsBlank(Line[Pos]))
    ++Pos;
  Data(Line, Pos, Value);
  FSectionHasValues = true;
  if (FKeep)
    FValues.push_back(std::move(Value));
}

QByteArrayView TParser::QuotedAt(QByteArrayView Line, qsizetype& Pos, bool& Escaped) const
{
  const qsizetype Begin = ++Pos;
  // Most texts hold no escape: up to the next quote, if no "\\" comes first.
  const qsizetype Quote = IndexOf(Line, '"', Begin);
  if (Quote >= 0 && !std::memchr(Line.data() + Begin, '\\', std::size_t(Quote - Begin))) {
    Pos = Quote + 1;
    return Line.sliced(Begin, Quote - Begin);
  }
  for (; Pos < Line.size(); ++Pos) {
    if (Line[Pos] == '"')
      return Line.sliced(Begin, Pos++ - Begin);
    if (Line[Pos] == '\\') {
      if (Pos + 1 >= Line.size() || (Line[Pos + 1] != '\\' && Line[Pos + 1] != '"'))
        Fail(QStringLiteral("invalid escape sequence in a quoted string"));
      ++Pos;
      Escaped = true;
    }
  }
  Fail(QStringLiteral("unterminated quoted string"));
}

void TParser::Data(QByteArrayView Line, qsizetype Pos, TValue& Value)
{
  const QByteArrayView Rest = Line.sliced(Pos);
  const auto StartsWith = [&Rest](QByteArrayView Prefix) {
    return Rest.size() >= Prefix.size() && Rest.first(Prefix.size()).compare(Prefix, Qt::CaseInsensitive) == 0;
  };
  if (Rest.startsWith('"')) {
    Value.Kind = TValue::TKind::String;
    bool Escaped = false;
    const QByteArrayView Text = QuotedAt(Line, Pos, Escaped);
    if (FKeep)
      Value.Text = Unquoted(Text, Escaped);
    if (Pos != Line.size())
      Fail(QStringLiteral("unexpected text after the quoted string"));
    return;
  }
  if (StartsWith("dword:")) {
    const QByteArrayView Digits = Rest.sliced(6);
    Value.Kind = TValue::TKind::Integer;
    if (!ParseHex(Digits, 8, Value.Number))
      Fail(QStringLiteral("invalid dword \"%1\" (1 to 8 hex digits)").arg(Shown(Digits)));
    return;
  }
  if (StartsWith("hex")) {
    const qsizetype Colon = Rest.indexOf(':');
    const QByteArray Type = Rest.first(std::max<qsizetype>(Colon, 0)).toByteArray().toLower();
    bool Ok = Colon > 0;
    if (Type == "hex")
      Value.Type = REG_BINARY;
    else if (Ok && Type.startsWith("hex(") && Type.endsWith(')'))
      Ok = ParseHex(QByteArrayView(Type).sliced(4, Type.size() - 5), 8, Value.Type);
    else
      Ok = false;
    if (!Ok)
      Fail(QStringLiteral("invalid value type \"%1\"").arg(Shown(Rest, Colon < 0 ? 10 : Colon)));
    Value.Kind = TValue::TKind::Other;
    Value.Bytes = HexBytes(Rest.sliced(Colon + 1));
    // A string arrives as hex(1) when it holds characters a quoted string
    // cannot carry; odd bytes are no string and stay as they are.
    if (Value.Type == REG_SZ && Value.Bytes.size() % 2 == 0) {
      Value.Kind = TValue::TKind::String;
      Value.Text = FromUtf16Le(Value.Bytes);
      if (Value.Text.endsWith(QChar(0)))
        Value.Text.chop(1);
      Value.Bytes.clear();
      Value.Type = REG_NONE;
    }
    return;
  }
  if (Rest == "-")
    Fail(QStringLiteral("a value deletion does not belong in a registry store"));
  Fail(QStringLiteral("invalid value data \"%1\"").arg(Shown(Rest)));
}

QByteArray TParser::HexBytes(QByteArrayView First)
{
  const int FirstLine = FLine;
  QByteArray Text = First.toByteArray();
  while (Text.endsWith('\\')) {
    Text.chop(1);
    if (!NextLine() || FTrimmed.isEmpty()) {
      FLine = FirstLine;
      Fail(QStringLiteral("the value is continued on a line that is missing or blank"));
    }
    Text += FTrimmed;
  }
  // Item by item in place: a list of the items would take some twenty
  // times the bytes of a large value.
  QByteArray Bytes;
  Bytes.reserve(Text.size() / 3 + 1);
  const QByteArrayView Items = Text;
  for (qsizetype Begin = 0;;) {
    const qsizetype Comma = IndexOf(Items, ',', Begin);
    const qsizetype End = Comma < 0 ? Items.size() : Comma;
    const QByteArrayView Digits = Items.sliced(Begin, End - Begin).trimmed();
    // No bytes at all, or a trailing comma.
    if (Digits.isEmpty() && Comma < 0)
      break;
    std::uint32_t Byte = 0;
    if (Digits.size() != 2 || !ParseHex(Digits, 2, Byte)) {
      FLine = FirstLine;
      Fail(QStringLiteral("invalid hex byte \"%1\"").arg(Shown(Digits, 10)));
    }
    Bytes += char(Byte);
    if (Comma < 0)
      break;
    Begin = Comma + 1;
  }
  return Bytes;
}

}  // namespace

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
    for (TValue& Value : TParser(Lines).Values())
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

// Text ----------------------------------------------------------------------

TKey Parse(const QByteArray& Bytes, const QString& RootName)
{
  if (Bytes.isEmpty()) {
    TKey Root;
    Root.Name = RootName;
    return Root;
  }
  return TParser(Bytes, RootName).Run();
}

QByteArray Serialize(const TKey& Root)
{
  QByteArray Out = QByteArray(Header) + "\r\n\r\n";
  QByteArray Path = Root.Name.toUtf8();
  SerializeKey(Root, Path, true, Out);
  return Out;
}

QString Shortened(const QString& Name)
{
  constexpr qsizetype Shown = 60;
  return Name.size() <= Shown ? Name : Name.left(Shown) + QStringLiteral("...");
}

QString ValueNameError(const QString& Name)
{
  if (Name.size() > MaxValueNameLength)
    return QStringLiteral("the value name \"%1\" has %2 characters, at most %3 are allowed")
      .arg(Shortened(Name))
      .arg(Name.size())
      .arg(MaxValueNameLength);
  if (Name.contains(QLatin1Char('\r')) || Name.contains(QLatin1Char('\n')))
    return QStringLiteral("a name cannot hold a line break");
  if (HasLoneSurrogate(Name))
    return QStringLiteral("a name cannot hold a lone UTF-16 surrogate");
  return {};
}

QString KeyNameError(const QString& Name)
{
  if (Name.isEmpty())
    return QStringLiteral("a key name cannot be empty");
  if (Name.contains(QLatin1Char('\\')))
    return QStringLiteral("a key name cannot hold \"\\\"");
  if (Name.size() > MaxKeyNameLength)
    return QStringLiteral("the key name \"%1\" has %2 characters, at most %3 are allowed")
      .arg(Shortened(Name))
      .arg(Name.size())
      .arg(MaxKeyNameLength);
  return ValueNameError(Name);
}

QString KeyDepthError(qsizetype Depth)
{
  if (Depth <= MaxKeyDepth)
    return {};
  return QStringLiteral("the key lies %1 levels below the root, at most %2 are allowed").arg(Depth).arg(MaxKeyDepth);
}

QString TypeName(const TValue& Value)
{
  switch (Value.Kind) {
  case TValue::TKind::String:
    return QStringLiteral("REG_SZ");
  case TValue::TKind::Integer:
    return QStringLiteral("REG_DWORD");
  case TValue::TKind::Other:
    break;
  }
  switch (Value.Type) {
  case REG_NONE: return QStringLiteral("REG_NONE");
  case REG_SZ: return QStringLiteral("REG_SZ");
  case REG_EXPAND_SZ: return QStringLiteral("REG_EXPAND_SZ");
  case REG_BINARY: return QStringLiteral("REG_BINARY");
  case REG_DWORD: return QStringLiteral("REG_DWORD");
  case REG_DWORD_BIG_ENDIAN: return QStringLiteral("REG_DWORD_BIG_ENDIAN");
  case REG_MULTI_SZ: return QStringLiteral("REG_MULTI_SZ");
  case REG_QWORD: return QStringLiteral("REG_QWORD");
  default: return QStringLiteral("REG_UNKNOWN(%1)").arg(Value.Type);
  }
}

QString DisplayText(const TValue& Value)
{
  switch (Value.Kind) {
  case TValue::TKind::String:
    return Value.Text;
  case TValue::TKind::Integer:
    return QStringLiteral("0x%1").arg(Value.Number, 0, 16);
  case TValue::TKind::Other:
    break;
  }
  const QByteArray& B = Value.Bytes;
  if (Value.Type == REG_EXPAND_SZ && B.size() % 2 == 0) {
    QString Text = FromUtf16Le(B);
    if (Text.endsWith(QChar(0)))
      Text.chop(1);
    return Text;
  }
  if (Value.Type == REG_MULTI_SZ && B.size() % 2 == 0) {
    QString Text = FromUtf16Le(B);
    while (Text.endsWith(QChar(0)))
      Text.chop(1);
    return Text.replace(QChar(0), QStringLiteral("\\0"));
  }
  if ((Value.Type == REG_DWORD && B.size() == 4) || (Value.Type == REG_QWORD && B.size() == 8)) {
    quint64 Number = 0;
    for (qsizetype I = B.size(); I-- > 0;)
      Number = Number << 8 | quint8(B[I]);
    return QStringLiteral("0x%1").arg(Number, 0, 16);
  }
  return QString::fromLatin1(B.toHex().toUpper());
}

}  // namespace RegistryFile
