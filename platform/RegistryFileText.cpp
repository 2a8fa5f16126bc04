#include "platform/RegistryFile.h"

namespace RegistryFile {

namespace {

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

}  // namespace

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

}  // namespace RegistryFile
