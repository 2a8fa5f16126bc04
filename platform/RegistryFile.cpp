#include "platform/RegistryFile.h"

#include <QStringDecoder>

#include <algorithm>
#include <optional>

namespace RegistryFile {

namespace {

bool SameName(const QString& A, const QString& B) { return A.compare(B, Qt::CaseInsensitive) == 0; }

// Hex digits only: QString::toUInt would also take blanks, signs and "0x".
bool ParseHex(const QString& Digits, qsizetype MaxDigits, std::uint32_t& Number)
{
  if (Digits.isEmpty() || Digits.size() > MaxDigits)
    return false;
  Number = 0;
  for (const QChar C : Digits) {
    const char16_t U = C.unicode();
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
  QByteArray Result;
  QByteArray Line = Prefix;
  for (qsizetype I = 0; I < Bytes.size(); ++I) {
    if (Line.size() + 3 > 79) {
      Result += Line + "\\\r\n";
      Line = "  ";
    }
    Line += QByteArray::number(quint8(Bytes[I]), 16).rightJustified(2, '0');
    if (I + 1 < Bytes.size())
      Line += ',';
  }
  return Result + Line;
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

void SerializeKey(const TKey& Key, const QString& Path, bool IsRoot, QByteArray& Out)
{
  if (!IsRoot || !Key.Values.empty()) {
    Out += "[" + Path.toUtf8() + "]\r\n";
    // The default value comes first, as in an export.
    for (const TValue& Value : Key.Values)
      if (Value.Name.isEmpty())
        Out += ValueLine(Value) + "\r\n";
    for (const TValue& Value : Key.Values)
      if (!Value.Name.isEmpty())
        Out += ValueLine(Value) + "\r\n";
    Out += "\r\n";
  }
  for (const TKey& Child : Key.Keys)
    SerializeKey(Child, Path + QLatin1Char('\\') + Child.Name, false, Out);
}

// Reading -------------------------------------------------------------------

class TParser {
public:
  TParser(const QByteArray& Bytes, const QString& RootName);
  TKey Run();

private:
  [[noreturn]] void Fail(const QString& Message) const { throw TParseError{FLine + 1, Message}; }
  QString Trimmed(int Index) const;
  void Section(const QString& Line);
  TValue ValueOf(const QString& Line);
  QString QuotedAt(const QString& Line, qsizetype& Pos) const;
  void Data(const QString& Line, qsizetype Pos, TValue& Value);
  QByteArray HexBytes(QString Text);

  QString FRootName;
  QStringList FLines;
  std::optional<int> FBadUtf8Line;
  int FLine = 0;
  TKey FRoot;
  QStringList FKeyPath;
  bool FInSection = false;
};

TParser::TParser(const QByteArray& Bytes, const QString& RootName) : FRootName(RootName)
{
  QByteArray Text = Bytes;
  if (Text.startsWith("\xef\xbb\xbf"))
    Text.remove(0, 3);
  const QList<QByteArray> Lines = Text.split('\n');
  for (int I = 0; I < Lines.size(); ++I) {
    QByteArray Line = Lines[I];
    if (Line.endsWith('\r'))
      Line.chop(1);
    // Invalid UTF-8 would come back as replacement characters and be lost
    // on the next write.
    QStringDecoder Decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    FLines += Decoder.decode(Line);
    if (Decoder.hasError() && !FBadUtf8Line)
      FBadUtf8Line = I;
  }
  FRoot.Name = RootName;
}

QString TParser::Trimmed(int Index) const
{
  QString Line = FLines[Index];
  qsizetype Begin = 0;
  qsizetype End = Line.size();
  while (Begin < End && (Line[Begin] == QLatin1Char(' ') || Line[Begin] == QLatin1Char('\t')))
    ++Begin;
  while (End > Begin && (Line[End - 1] == QLatin1Char(' ') || Line[End - 1] == QLatin1Char('\t')))
    --End;
  return Line.mid(Begin, End - Begin);
}

TKey TParser::Run()
{
  if (Trimmed(0) != QLatin1String(Header)) {
    FLine = 0;
    Fail(QStringLiteral("the first line is not \"%1\"").arg(QLatin1String(Header)));
  }
  for (FLine = 1; FLine < FLines.size(); ++FLine) {
    if (FBadUtf8Line && *FBadUtf8Line <= FLine)
      break;
    const QString Line = Trimmed(FLine);
    if (Line.isEmpty() || Line.startsWith(QLatin1Char(';')))
      continue;
    if (Line.startsWith(QLatin1Char('[')))
      Section(Line);
    else if (Line.startsWith(QLatin1Char('@')) || Line.startsWith(QLatin1Char('"')))
      FRoot.Make(FKeyPath).SetValue(ValueOf(Line));
    else
      Fail(QStringLiteral("unexpected text \"%1\"").arg(Line.left(40)));
  }
  if (FBadUtf8Line) {
    FLine = *FBadUtf8Line;
    Fail(QStringLiteral("invalid UTF-8"));
  }
  return std::move(FRoot);
}

void TParser::Section(const QString& Line)
{
  if (!Line.endsWith(QLatin1Char(']')))
    Fail(QStringLiteral("unterminated key section"));
  const QString Path = Line.mid(1, Line.size() - 2);
  if (Path.startsWith(QLatin1Char('-')))
    Fail(QStringLiteral("a key deletion does not belong in a registry store"));
  QStringList Parts = Path.split(QLatin1Char('\\'));
  if (!SameName(Parts.first(), FRootName))
    Fail(QStringLiteral("key \"%1\" is outside %2").arg(Path, FRootName));
  Parts.removeFirst();
  for (const QString& Part : Parts)
    if (Part.isEmpty())
      Fail(QStringLiteral("empty key name in \"%1\"").arg(Path));
  FRoot.Make(Parts);
  FKeyPath = Parts;
  FInSection = true;
}

QString TParser::QuotedAt(const QString& Line, qsizetype& Pos) const
{
  QString Text;
  for (++Pos; Pos < Line.size(); ++Pos) {
    const QChar C = Line[Pos];
    if (C == QLatin1Char('"')) {
      ++Pos;
      return Text;
    }
    if (C == QLatin1Char('\\')) {
      if (Pos + 1 >= Line.size() || (Line[Pos + 1] != QLatin1Char('\\') && Line[Pos + 1] != QLatin1Char('"')))
        Fail(QStringLiteral("invalid escape sequence in a quoted string"));
      ++Pos;
    }
    Text += Line[Pos];
  }
  Fail(QStringLiteral("unterminated quoted string"));
}

TValue TParser::ValueOf(const QString& Line)
{
  if (!FInSection)
    Fail(QStringLiteral("value before the first key section"));
  TValue Value;
  qsizetype Pos = 0;
  if (Line[0] == QLatin1Char('@'))
    Pos = 1;
  else
    Value.Name = QuotedAt(Line, Pos);
  while (Pos < Line.size() && (Line[Pos] == QLatin1Char(' ') || Line[Pos] == QLatin1Char('\t')))
    ++Pos;
  if (Pos >= Line.size() || Line[Pos] != QLatin1Char('='))
    Fail(QStringLiteral("\"=\" expected after the value name"));
  ++Pos;
  while (Pos < Line.size() && (Line[Pos] == QLatin1Char(' ') || Line[Pos] == QLatin1Char('\t')))
    ++Pos;
  Data(Line, Pos, Value);
  return Value;
}

void TParser::Data(const QString& Line, qsizetype Pos, TValue& Value)
{
  const QString Rest = Line.mid(Pos);
  if (Rest.startsWith(QLatin1Char('"'))) {
    Value.Kind = TValue::TKind::String;
    Value.Text = QuotedAt(Line, Pos);
    if (Pos != Line.size())
      Fail(QStringLiteral("unexpected text after the quoted string"));
    return;
  }
  if (Rest.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive)) {
    const QString Digits = Rest.mid(6);
    Value.Kind = TValue::TKind::Integer;
    if (!ParseHex(Digits, 8, Value.Number))
      Fail(QStringLiteral("invalid dword \"%1\" (1 to 8 hex digits)").arg(Digits));
    return;
  }
  if (Rest.startsWith(QLatin1String("hex"), Qt::CaseInsensitive)) {
    const qsizetype Colon = Rest.indexOf(QLatin1Char(':'));
    const QString Type = Rest.left(Colon).toLower();
    bool Ok = Colon > 0;
    if (Type == QLatin1String("hex"))
      Value.Type = REG_BINARY;
    else if (Ok && Type.startsWith(QLatin1String("hex(")) && Type.endsWith(QLatin1Char(')')))
      Ok = ParseHex(Type.mid(4, Type.size() - 5), 8, Value.Type);
    else
      Ok = false;
    if (!Ok)
      Fail(QStringLiteral("invalid value type \"%1\"").arg(Rest.left(Colon < 0 ? 10 : Colon)));
    Value.Kind = TValue::TKind::Other;
    Value.Bytes = HexBytes(Rest.mid(Colon + 1));
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
  if (Rest == QLatin1String("-"))
    Fail(QStringLiteral("a value deletion does not belong in a registry store"));
  Fail(QStringLiteral("invalid value data \"%1\"").arg(Rest.left(40)));
}

QByteArray TParser::HexBytes(QString Text)
{
  const int First = FLine;
  while (Text.endsWith(QLatin1Char('\\'))) {
    Text.chop(1);
    if (++FLine >= FLines.size() || Trimmed(FLine).isEmpty()) {
      FLine = First;
      Fail(QStringLiteral("the value is continued on a line that is missing or blank"));
    }
    Text += Trimmed(FLine);
  }
  QByteArray Bytes;
  QStringList Items = Text.split(QLatin1Char(','));
  if (Items.last().trimmed().isEmpty())
    Items.removeLast();  // no bytes at all, or a trailing comma
  for (const QString& Item : Items) {
    const QString Digits = Item.trimmed();
    std::uint32_t Byte = 0;
    if (Digits.size() != 2 || !ParseHex(Digits, 2, Byte)) {
      FLine = First;
      Fail(QStringLiteral("invalid hex byte \"%1\"").arg(Digits.left(10)));
    }
    Bytes += char(Byte);
  }
  return Bytes;
}

}  // namespace

// The tree ------------------------------------------------------------------

TKey* TKey::FindKey(const QString& KeyName)
{
  for (TKey& Child : Keys)
    if (SameName(Child.Name, KeyName))
      return &Child;
  return nullptr;
}

TKey* TKey::Find(const QStringList& Path)
{
  TKey* Key = this;
  for (const QString& Part : Path)
    if (!(Key = Key->FindKey(Part)))
      return nullptr;
  return Key;
}

const TKey* TKey::Find(const QStringList& Path) const { return const_cast<TKey*>(this)->Find(Path); }

TKey& TKey::Make(const QStringList& Path)
{
  TKey* Key = this;
  for (const QString& Part : Path) {
    TKey* Child = Key->FindKey(Part);
    if (!Child) {
      const auto Where = std::lower_bound(Key->Keys.begin(), Key->Keys.end(), Part, [](const TKey& K, const QString& N) {
        return K.Name.compare(N, Qt::CaseInsensitive) < 0;
      });
      TKey NewKey;
      NewKey.Name = Part;
      Child = &*Key->Keys.insert(Where, std::move(NewKey));
    }
    Key = Child;
  }
  return *Key;
}

bool TKey::RemoveKey(const QString& KeyName)
{
  const auto It = std::find_if(Keys.begin(), Keys.end(), [&](const TKey& K) { return SameName(K.Name, KeyName); });
  if (It == Keys.end())
    return false;
  Keys.erase(It);
  return true;
}

TValue* TKey::FindValue(const QString& ValueName)
{
  for (TValue& Value : Values)
    if (SameName(Value.Name, ValueName))
      return &Value;
  return nullptr;
}

const TValue* TKey::FindValue(const QString& ValueName) const { return const_cast<TKey*>(this)->FindValue(ValueName); }

void TKey::SetValue(const TValue& Value)
{
  if (TValue* Old = FindValue(Value.Name)) {
    const QString Name = Old->Name;
    *Old = Value;
    Old->Name = Name;
  } else {
    Values.push_back(Value);
  }
}

bool TKey::RemoveValue(const QString& ValueName)
{
  const auto It = std::find_if(Values.begin(), Values.end(), [&](const TValue& V) { return SameName(V.Name, ValueName); });
  if (It == Values.end())
    return false;
  Values.erase(It);
  return true;
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
  SerializeKey(Root, Root.Name, true, Out);
  return Out;
}

bool IsValidValueName(const QString& Name)
{
  return !Name.contains(QLatin1Char('\r')) && !Name.contains(QLatin1Char('\n')) && !HasLoneSurrogate(Name);
}

bool IsValidKeyName(const QString& Name)
{
  return !Name.isEmpty() && !Name.contains(QLatin1Char('\\')) && IsValidValueName(Name);
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
