#include "tools/corvane-reg/ValueText.h"

namespace ValueText {

using namespace RegistryFile;

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

}  // namespace ValueText
