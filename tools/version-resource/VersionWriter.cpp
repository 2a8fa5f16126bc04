#include "tools/version-resource/VersionWriter.h"

#include <QStringList>

namespace VersionResource {

namespace {

using namespace Layout;

void PutWord(QByteArray& Out, std::uint16_t Value)
{
  Out.append(static_cast<char>(Value & 0xFF));
  Out.append(static_cast<char>(Value >> 8));
}
void PutDword(QByteArray& Out, std::uint32_t Value)
{
  PutWord(Out, static_cast<std::uint16_t>(Value & 0xFFFF));
  PutWord(Out, static_cast<std::uint16_t>(Value >> 16));
}
void PutText(QByteArray& Out, const QString& Text)
{
  for (const QChar C : Text)
    PutWord(Out, C.unicode());
  PutWord(Out, 0);
}
void Pad(QByteArray& Out) { Out.append(QByteArray(static_cast<qsizetype>(Align4(Out.size()) - Out.size()), '\0')); }

// One node: header, key, value, children (each aligned); the length field
// covers everything up to the end of the last child.
QByteArray Node(const QString& Key, std::uint16_t Type, const QByteArray& Value, std::uint16_t ValueLength,
                const std::vector<QByteArray>& Children)
{
  QByteArray Out;
  PutWord(Out, 0);
  PutWord(Out, ValueLength);
  PutWord(Out, Type);
  PutText(Out, Key);
  Pad(Out);
  Out.append(Value);
  for (const QByteArray& Child : Children) {
    Pad(Out);
    Out.append(Child);
  }
  const auto Length = static_cast<std::uint16_t>(Out.size());
  Out[0] = static_cast<char>(Length & 0xFF);
  Out[1] = static_cast<char>(Length >> 8);
  return Out;
}

QString ValueOf(const TVersionDescription& Description, const char* Key)
{
  for (const auto& [Name, Value] : Description.Strings)
    if (Name.compare(QLatin1String(Key), Qt::CaseInsensitive) == 0)
      return Value;
  return {};
}

std::uint32_t High(const std::array<std::uint16_t, 4>& V) { return std::uint32_t(V[0]) << 16 | V[1]; }
std::uint32_t Low(const std::array<std::uint16_t, 4>& V) { return std::uint32_t(V[2]) << 16 | V[3]; }

}  // namespace

std::array<std::uint16_t, 4> VersionNumbers(const QString& Text)
{
  std::array<std::uint16_t, 4> Numbers{};
  const QStringList Parts = Text.trimmed().split(QLatin1Char('.'));
  for (qsizetype I = 0; I < Parts.size() && I < 4; ++I)
    Numbers[static_cast<std::size_t>(I)] = Parts[I].toUShort();
  return Numbers;
}

QByteArray BuildVersionInfo(const TVersionDescription& Description)
{
  const auto FileVersion = VersionNumbers(ValueOf(Description, "FileVersion"));
  const auto ProductVersion = VersionNumbers(ValueOf(Description, "ProductVersion"));
  QByteArray Fixed;
  PutDword(Fixed, VS_FFI_SIGNATURE);
  PutDword(Fixed, 0x00010000);
  PutDword(Fixed, High(FileVersion));
  PutDword(Fixed, Low(FileVersion));
  PutDword(Fixed, High(ProductVersion));
  PutDword(Fixed, Low(ProductVersion));
  PutDword(Fixed, 0x3F);                            // all flags defined
  PutDword(Fixed, 0);                               // none set
  PutDword(Fixed, 0x00040004);                      // 32-bit Windows NT
  PutDword(Fixed, Description.IsLibrary ? 2 : 1);   // library or application
  PutDword(Fixed, 0);
  PutDword(Fixed, 0);
  PutDword(Fixed, 0);

  std::vector<QByteArray> Strings;
  for (const auto& [Key, Value] : Description.Strings) {
    QByteArray Text;
    PutText(Text, Value);
    Strings.push_back(Node(Key, TextType, Text, static_cast<std::uint16_t>(Value.size() + 1), {}));
  }
  const QString TableKey = QStringLiteral("%1%2")
                             .arg(Description.Language, 4, 16, QLatin1Char('0'))
                             .arg(Description.CodePage, 4, 16, QLatin1Char('0'))
                             .toUpper();
  const QByteArray Table = Node(TableKey, TextType, {}, 0, Strings);
  const QByteArray StringFileInfo = Node(QStringLiteral("StringFileInfo"), TextType, {}, 0, {Table});
  QByteArray Translation;
  PutWord(Translation, Description.Language);
  PutWord(Translation, Description.CodePage);
  const QByteArray Var = Node(QStringLiteral("Translation"), BinaryType, Translation, 4, {});
  const QByteArray VarFileInfo = Node(QStringLiteral("VarFileInfo"), TextType, {}, 0, {Var});
  return Node(QStringLiteral("VS_VERSION_INFO"), BinaryType, Fixed, sizeof(VS_FIXEDFILEINFO),
              {StringFileInfo, VarFileInfo});
}

std::optional<TVersionDescription> ParseDescription(const QByteArray& Text, QString* Error)
{
  TVersionDescription Description;
  const auto Fail = [Error](const QString& Message) -> std::optional<TVersionDescription> {
    if (Error)
      *Error = Message;
    return std::nullopt;
  };
  const QStringList Lines = QString::fromUtf8(Text).split(QLatin1Char('\n'));
  std::size_t Size = 0;
  for (qsizetype I = 0; I < Lines.size(); ++I) {
    QString Line = Lines[I];
    if (Line.endsWith(QLatin1Char('\r')))
      Line.chop(1);
    if (Line.isEmpty())
      continue;
    const qsizetype Equals = Line.indexOf(QLatin1Char('='));
    if (Equals <= 0)
      return Fail(QStringLiteral("line %1: no \"Key=Value\"").arg(I + 1));
    const QString Key = Line.left(Equals);
    const QString Value = Line.mid(Equals + 1);
    bool Ok = true;
    if (Key == QLatin1String("@Language"))
      Description.Language = Value.toUShort(&Ok, 16);
    else if (Key == QLatin1String("@CodePage"))
      Description.CodePage = Value.toUShort(&Ok, 16);
    else if (Key == QLatin1String("@FileType")) {
      Description.IsLibrary = Value == QLatin1String("DLL");
      Ok = Description.IsLibrary || Value == QLatin1String("APP");
    }
    else if (Key.startsWith(QLatin1Char('@')))
      Ok = false;
    else
      Description.Strings.emplace_back(Key, Value);
    if (!Ok)
      return Fail(QStringLiteral("line %1: bad value for %2").arg(I + 1).arg(Key));
    // Every node's length field has 16 bits: keep well below that.
    Size += static_cast<std::size_t>(Line.size()) * 2 + 16;
    if (Size > MaxBlockSize - 1024)
      return Fail(QStringLiteral("the texts are too long for a version block"));
  }
  return Description;
}

}  // namespace VersionResource
