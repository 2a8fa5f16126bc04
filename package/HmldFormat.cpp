#include "package/HmldFormat.h"

#include <algorithm>
#include <vector>

namespace HmldFormat {

namespace {
const QString CrLf = QStringLiteral("\r\n");

// Fields longer than their width are written whole, never cut.
QString PadRight(const QString& Text, int Width) { return Text.leftJustified(Width, QLatin1Char(' '), false); }
QString PadLeft(const QString& Text, int Width) { return Text.rightJustified(Width, QLatin1Char(' '), false); }

// ---- escaping values ----------------------------------------------------------

enum TEscapeFlag {
  efLineStart = 1,  // the value starts a line: no key at its start
  efFieldBars = 2,  // a field of a process row: no "|", which splits the fields
};

bool IsControl(char16_t C) { return C < 0x20 || (C >= 0x7F && C <= 0x9F); }

const std::array<QLatin1String, 7> MarkerTexts{ProcessStartText,   ProcessEndText, ExceptionStartText,
                                              ExceptionEndText,   StackStartText, StackEndText,
                                              ProcessHeaderProbe};

// Every text that counts as a key at the start of a line, for this writer's
// reader or any other.
const QStringList& LineKeys()
{
  static const QStringList Keys = [] {
    QStringList Result;
    for (const QLatin1String Key :
         {OSNameKey, VersionKey, BuildNumberKey, BuildTypeKey, CodeSetKey, CountryCodeKey, BitKey, SystemDirectoryKey,
          RamInUseKey, RamTotalKey, RamAvailKey, SystemNameKey, BootDeviceKey, VendorIdKey, CpuNameKey, IpAddressKey,
          MacAddressKey, VersionSizeKey, ExcepClassNameKey, ExcepApplicationNameKey, ExcepDateKey, ExcepErrorTypeKey,
          ExcepErrorClassKey, CommentsKey, ImagePathKey, ZipPathKey})
      Result << QString(Key);
    for (const TVersionKey& Key : VersionKeys)
      Result << Key.Label + QLatin1Char(':');
    return Result;
  }();
  return Keys;
}

bool StartsWithKey(const QString& Value)
{
  return std::any_of(LineKeys().begin(), LineKeys().end(), [&Value](const QString& Key) { return Value.startsWith(Key); });
}

void AppendEscaped(QString& Out, char32_t Code)
{
  Out += EscapeIntroducer;
  Out += QString::number(Code, 16).toUpper();
  Out += QLatin1Char('}');
}

QString Escaped(const QString& Value, int Flags)
{
  // Where the first character of a marker, a key or the introducer stands.
  std::vector<qsizetype> Starts;
  const auto FindAll = [&](QLatin1String Text) {
    for (qsizetype At = Value.indexOf(Text); At >= 0; At = Value.indexOf(Text, At + 1))
      Starts.push_back(At);
  };
  for (const QLatin1String Marker : MarkerTexts)
    FindAll(Marker);
  FindAll(EscapeIntroducer);
  if ((Flags & efLineStart) && StartsWithKey(Value))
    Starts.push_back(0);
  const bool Bars = Flags & efFieldBars;
  const auto Special = [Bars](char16_t C) { return IsControl(C) || (Bars && C == u'|'); };
  if (Starts.empty() && std::none_of(Value.cbegin(), Value.cend(), [&](QChar C) { return Special(C.unicode()); }))
    return Value;

  std::sort(Starts.begin(), Starts.end());
  QString Out;
  Out.reserve(Value.size() + 16);
  auto Next = Starts.cbegin();
  for (qsizetype I = 0; I < Value.size(); ++I) {
    const char16_t C = Value[I].unicode();
    bool Escape = Special(C);
    for (; Next != Starts.cend() && *Next <= I; ++Next)
      Escape = Escape || *Next == I;
    if (Escape)
      AppendEscaped(Out, C);
    else
      Out += QChar(C);
  }
  return Out;
}

// How the reader shows a character the writer had to escape.
void AppendVisible(QString& Out, char32_t Code)
{
  if (Code < 0x20)
    Out += QChar(char16_t(0x2400 + Code));  // the control pictures: NUL as U+2400, ...
  else if (Code == 0x7F)
    Out += QChar(char16_t(0x2421));
  else if (Code >= 0x80 && Code <= 0x9F)
    AppendEscaped(Out, Code);  // no pictures for these: their code
  else
    Out += QString::fromUcs4(&Code, 1);
}

// The code of an escape at Value[At] and the length of the escape; 0 when
// no escape of the writer's stands there.
qsizetype EscapeAt(const QString& Value, qsizetype At, char32_t& Code)
{
  if (!QStringView(Value).mid(At).startsWith(EscapeIntroducer))
    return 0;
  qsizetype I = At + EscapeIntroducer.size();
  Code = 0;
  int Digits = 0;
  for (; I < Value.size() && Digits <= 6; ++I, ++Digits) {
    const char16_t C = Value[I].unicode();
    int Digit;
    if (C >= u'0' && C <= u'9')
      Digit = C - u'0';
    else if (C >= u'A' && C <= u'F')
      Digit = C - u'A' + 10;
    else if (C >= u'a' && C <= u'f')
      Digit = C - u'a' + 10;
    else
      break;
    Code = Code * 16 + char32_t(Digit);
  }
  const bool Valid = Digits >= 1 && Digits <= 6 && I < Value.size() && Value[I] == QLatin1Char('}') &&
                     Code <= 0x10FFFF && !(Code >= 0xD800 && Code <= 0xDFFF);
  return Valid ? I + 1 - At : 0;
}
}  // namespace

QString WrittenValue(const QString& Value) { return Escaped(Value, 0); }

QString WrittenLineStart(const QString& Value) { return Escaped(Value, efLineStart); }

QString VisibleValue(const QString& Written)
{
  if (!Written.contains(EscapeIntroducer) &&
      std::none_of(Written.cbegin(), Written.cend(), [](QChar C) { return IsControl(C.unicode()); }))
    return Written;
  QString Out;
  Out.reserve(Written.size());
  for (qsizetype I = 0; I < Written.size();) {
    char32_t Code = 0;
    if (const qsizetype Length = EscapeAt(Written, I, Code)) {
      AppendVisible(Out, Code);
      I += Length;
    } else {
      const char16_t C = Written[I].unicode();
      if (IsControl(C))
        AppendVisible(Out, C);
      else
        Out += QChar(C);
      ++I;
    }
  }
  return Out;
}

QString KeyLine(QLatin1String Key, const QString& Value) { return Key + WrittenValue(Value) + Terminator; }

QString BitLine(bool Is64Bit) { return Is64Bit ? QString(Bit64Line) : QString(Bit32Line); }

QString RamInUseLine(const QString& Percent) { return RamInUseKey + WrittenValue(Percent) + RamInUseTerminator; }

QString IpAddressLine(const QStringList& Addresses)
{
  QString Line = IpAddressKey;
  for (const QString& Address : Addresses)
    Line += WrittenLineStart(Address) + CrLf;
  return Line + Terminator;
}

QString VersionSizeLine(std::uint32_t Size) { return KeyLine(VersionSizeKey, QString::number(Size)); }

QString VersionLine(QLatin1String Label, const QString& Value)
{
  return Label + QLatin1Char(':') + WrittenValue(Value) + Terminator;
}

QString BracketMarker(QLatin1String InnerText)
{
  return QLatin1Char('[') + QString(20, QLatin1Char('_')) + InnerText + QString(21, QLatin1Char('_')) +
         QLatin1Char(']');
}

QString StackMarker(QLatin1String InnerText)
{
  return QLatin1Char('|') + QString(14, QLatin1Char('*')) + InnerText + QString(14, QLatin1Char('*')) +
         QLatin1Char('|');
}

QString ProcessFields(const QString& Caption, const QString& ProcessId, const QString& UserField,
                      const QString& DomainField, const QString& WorkingSet)
{
  const QChar Blank(QLatin1Char(' '));
  return PadRight(Caption, 20) + Blank + PadLeft(ProcessId, 6) + Blank + PadLeft(UserField, 10) + Blank +
         PadLeft(DomainField, 10) + Blank + PadLeft(WorkingSet, 10);
}

QString ProcessHeader()
{
  return ProcessFields(QStringLiteral("| Name    |"), QStringLiteral("| PID |"), QStringLiteral("| User |"),
                       QStringLiteral("| Domain |"), QStringLiteral("| Working Set ( Kb Memory) |;"));
}

QString ProcessRow(const TProcessRow& Row)
{
  const QString Caption = Escaped(Row.Caption, efLineStart | efFieldBars) + QStringLiteral("   |   ");
  const QString User = Row.HasOwner ? QStringLiteral("|  ") + Escaped(Row.User, efFieldBars) : QString();
  const QString Domain =
    Row.HasOwner ? QLatin1Char('|') + Escaped(Row.Domain, efFieldBars) + QLatin1Char('|') : QString();
  return ProcessFields(Caption, Row.ProcessId, User, Domain, Row.WorkingSetKb) + QStringLiteral("|;");
}

QString ProcessStartMarker() { return BracketMarker(ProcessStartText); }
QString ProcessEndMarker() { return BracketMarker(ProcessEndText); }

QStringList ExceptionSectionLines(const TExceptionSection& Section)
{
  return {
    QString(),
    QString(),
    QString(),
    BracketMarker(ExceptionStartText),
    KeyLine(ExcepClassNameKey, Section.SenderClassName),
    KeyLine(ExcepApplicationNameKey, Section.ApplicationName),
    KeyLine(ExcepDateKey, Section.Date),
    KeyLine(ExcepErrorTypeKey, Section.Message),
    KeyLine(ExcepErrorClassKey, Section.ErrorClassName),
    BracketMarker(ExceptionEndText),
    QString(),
  };
}

QStringList StackSectionOpening(const QString& CaptureTime)
{
  return {QString(), QString(), StackMarker(StackStartText), WrittenLineStart(CaptureTime)};
}

QString FrameLine(const QString& Frame) { return WrittenLineStart(Frame); }

QString StackSectionClosing() { return StackMarker(StackEndText); }

QStringList CommentBlockLines(const QString& Comment, const QString& ImagePath, const QString& ZipPath)
{
  return {QString(), CommentsKey + WrittenValue(Comment), QString(), ImagePathKey + WrittenValue(ImagePath),
          QString(), ZipPathKey + WrittenValue(ZipPath)};
}

}  // namespace HmldFormat
