#include "package/HmldFormat.h"

namespace HmldFormat {

namespace {
const QString CrLf = QStringLiteral("\r\n");

// Fields longer than their width are written whole, never cut.
QString PadRight(const QString& Text, int Width) { return Text.leftJustified(Width, QLatin1Char(' '), false); }
QString PadLeft(const QString& Text, int Width) { return Text.rightJustified(Width, QLatin1Char(' '), false); }
}  // namespace

QString KeyLine(QLatin1String Key, const QString& Value) { return Key + Value + Terminator; }

QString BitLine(bool Is64Bit) { return Is64Bit ? QString(Bit64Line) : QString(Bit32Line); }

QString RamInUseLine(const QString& Percent) { return RamInUseKey + Percent + RamInUseTerminator; }

QString IpAddressLine(const QStringList& Addresses)
{
  QString Line = IpAddressKey;
  for (const QString& Address : Addresses)
    Line += Address + CrLf;
  return Line + Terminator;
}

QString VersionSizeLine(std::uint32_t Size) { return KeyLine(VersionSizeKey, QString::number(Size)); }

QString VersionLine(QLatin1String Label, const QString& Value)
{
  return Label + QLatin1Char(':') + Value + Terminator;
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
  const QString Caption = Row.Caption + QStringLiteral("   |   ");
  const QString User = Row.HasOwner ? QStringLiteral("|  ") + Row.User : QString();
  const QString Domain = Row.HasOwner ? QLatin1Char('|') + Row.Domain + QLatin1Char('|') : QString();
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
  return {QString(), QString(), StackMarker(StackStartText), CaptureTime};
}

QString StackSectionClosing() { return StackMarker(StackEndText); }

QStringList CommentBlockLines(const QString& Comment, const QString& ImagePath, const QString& ZipPath)
{
  return {QString(), CommentsKey + Comment, QString(), ImagePathKey + ImagePath, QString(), ZipPathKey + ZipPath};
}

}  // namespace HmldFormat
