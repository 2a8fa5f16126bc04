#include "platform/RegistryFileParser.h"

#include <QHash>

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

QString FromUtf16Le(const QByteArray& Bytes)
{
  QString Text;
  for (qsizetype I = 0; I + 1 < Bytes.size(); I += 2)
    Text += QChar(char16_t(quint8(Bytes[I]) | quint8(Bytes[I + 1]) << 8));
  return Text;
}

TKey Parse(const QByteArray& Bytes, const QString& RootName)
{
  if (Bytes.isEmpty()) {
    TKey Root;
    Root.Name = RootName;
    return Root;
  }
  return TParser(Bytes, RootName).Run();
}

std::vector<TValue> ParseValueLines(QByteArrayView ValueLines) { return TParser(ValueLines).Values(); }

}  // namespace RegistryFile
