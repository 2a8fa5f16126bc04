#include "hostfw/FormatSettings.h"

#include <QLocale>

#include <cstdlib>
#include <mutex>
#include <optional>

namespace FormatSettings {

namespace {

TFormatSettings Fallback()
{
  return {QStringLiteral("dd/mm/yyyy"), QStringLiteral("hh:nn:ss"), QLatin1Char('/'), QLatin1Char(':'),
          QLatin1Char('.')};
}

bool IsAsciiLetter(QChar C)
{
  const char16_t U = C.unicode();
  return (U >= 'a' && U <= 'z') || (U >= 'A' && U <= 'Z');
}

// Length of the run of the same character starting at I.
qsizetype RunLength(const QString& S, qsizetype I)
{
  qsizetype N = 1;
  while (I + N < S.size() && S[I + N] == S[I])
    ++N;
  return N;
}

// Qt's quoted literal ('...', '' for an apostrophe) starting at I; I ends
// after it.
QString QtLiteral(const QString& Format, qsizetype& I)
{
  QString Text;
  ++I;
  while (I < Format.size()) {
    if (Format[I] == QLatin1Char('\'')) {
      if (I + 1 < Format.size() && Format[I + 1] == QLatin1Char('\'')) {
        Text += QLatin1Char('\'');
        I += 2;
        continue;
      }
      ++I;
      break;
    }
    Text += Format[I++];
  }
  return Text;
}

QString QuotedLiteral(const QString& Text)
{
  const QChar Quote = Text.contains(QLatin1Char('"')) ? QLatin1Char('\'') : QLatin1Char('"');
  return Quote + Text + Quote;
}

// The first separator of a Qt format outside quoted text: a punctuation
// mark or symbol; blanks and invisible direction marks are not separators.
std::optional<QChar> FirstSeparator(const QString& QtFormat)
{
  for (qsizetype I = 0; I < QtFormat.size();) {
    const QChar C = QtFormat[I];
    if (C == QLatin1Char('\'')) {
      QtLiteral(QtFormat, I);
      continue;
    }
    if (!C.isLetter() && (C.isPunct() || C.isSymbol()))
      return C;
    ++I;
  }
  return std::nullopt;
}

// Translates a Qt date/time format into ours. Separator, when given, is
// written as Placeholder so that it follows the separator settings.
QString TranslateQtFormat(const QString& QtFormat, std::optional<QChar> Separator, QChar Placeholder)
{
  QString Out;
  for (qsizetype I = 0; I < QtFormat.size();) {
    const QChar C = QtFormat[I];
    if (C == QLatin1Char('\'')) {
      const QString Text = QtLiteral(QtFormat, I);
      if (!Text.isEmpty())
        Out += QuotedLiteral(Text);
      continue;
    }
    if (!IsAsciiLetter(C)) {
      if (Separator && C == *Separator)
        Out += Placeholder;
      else if (C == QLatin1Char('/') || C == QLatin1Char(':') || C == QLatin1Char('"'))
        Out += QuotedLiteral(C);  // would otherwise mean a separator here
      else
        Out += C;
      ++I;
      continue;
    }
    const qsizetype N = RunLength(QtFormat, I);
    const QString Run = QtFormat.mid(I, N);
    switch (C.unicode()) {
    case 'd': Out += QString(std::min<qsizetype>(N, 4), QLatin1Char('d')); break;
    case 'M': Out += QString(std::min<qsizetype>(N, 4), QLatin1Char('m')); break;
    case 'y': Out += N <= 2 ? QStringLiteral("yy") : QStringLiteral("yyyy"); break;
    case 'H':
    case 'h': Out += N >= 2 ? QStringLiteral("hh") : QStringLiteral("h"); break;
    case 'm': Out += N >= 2 ? QStringLiteral("nn") : QStringLiteral("n"); break;
    case 's': Out += N >= 2 ? QStringLiteral("ss") : QStringLiteral("s"); break;
    case 'z': Out += N >= 2 ? QStringLiteral("zzz") : QStringLiteral("z"); break;
    case 't': break;  // time zone: not part of the runtime's time formats
    case 'A':
    case 'a':
      // "AP"/"ap", or the single-letter form of newer Qt versions.
      Out += QStringLiteral("AMPM");
      if (I + 1 < QtFormat.size() && (QtFormat[I + 1] == QLatin1Char('P') || QtFormat[I + 1] == QLatin1Char('p')))
        ++I;
      I += 1;
      continue;
    default: Out += QuotedLiteral(Run); break;
    }
    I += N;
  }
  return Out.trimmed();
}

bool IsNeutralLocale(const QString& Name)
{
  return Name.isEmpty() || Name == QLatin1String("C") || Name == QLatin1String("POSIX")
         || Name.startsWith(QLatin1String("C.")) || Name.startsWith(QLatin1String("POSIX."));
}

TFormatSettings FromEnvironment()
{
  QString Name;
  for (const char* Variable : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* Value = std::getenv(Variable);
    if (Value && *Value) {
      Name = QString::fromLocal8Bit(Value);
      break;
    }
  }
  if (IsNeutralLocale(Name))
    return Fallback();
  // "de_DE.UTF-8@euro" -> "de_DE".
  for (QChar Stop : {QLatin1Char('.'), QLatin1Char('@')})
    if (const qsizetype Cut = Name.indexOf(Stop); Cut >= 0)
      Name.truncate(Cut);
  const QLocale Locale(Name);
  if (Locale.language() == QLocale::C)
    return Fallback();  // a name Qt does not know

  TFormatSettings S = Fallback();
  const QString QtDate = Locale.dateFormat(QLocale::ShortFormat);
  const QString QtTime = Locale.timeFormat(QLocale::LongFormat);
  const std::optional<QChar> DateSep = FirstSeparator(QtDate);
  const std::optional<QChar> TimeSep = FirstSeparator(QtTime);
  S.ShortDateFormat = TranslateQtFormat(QtDate, DateSep, QLatin1Char('/'));
  S.LongTimeFormat = TranslateQtFormat(QtTime, TimeSep, QLatin1Char(':'));
  if (DateSep)
    S.DateSeparator = *DateSep;
  if (TimeSep)
    S.TimeSeparator = *TimeSep;
  const QString Decimal = Locale.decimalPoint();
  if (!Decimal.isEmpty())
    S.DecimalSeparator = Decimal[0];
  return S;
}

std::mutex Mutex;
std::optional<TFormatSettings> Settings;

// Call with Mutex held.
TFormatSettings& Locked()
{
  if (!Settings)
    Settings = FromEnvironment();
  return *Settings;
}

// Formats Value in Format into Out; Depth stops "c" in a date format from
// expanding itself without end.
void Append(QString& Out, const QString& Format, const QDateTime& Value, const TFormatSettings& S, int Depth)
{
  if (Depth > 2)
    return;
  const QDate Date = Value.date();
  const QTime Time = Value.time();
  const QLocale Names = QLocale::c();
  auto Number = [&Out](int N, int Digits) { Out += QString::number(N).rightJustified(Digits, QLatin1Char('0')); };
  auto StartsWithNoCase = [&Format](qsizetype I, QLatin1String Word) {
    return Format.mid(I, Word.size()).compare(Word, Qt::CaseInsensitive) == 0;
  };

  char16_t LastToken = 0;  // upper-case letter of the last letter token
  for (qsizetype I = 0; I < Format.size();) {
    const QChar C = Format[I];
    char16_t Token = IsAsciiLetter(C) ? C.toUpper().unicode() : C.unicode();
    if (IsAsciiLetter(C)) {
      if (Token == u'M' && LastToken == u'H')
        Token = u'N';
      LastToken = Token;
    }
    const qsizetype N = RunLength(Format, I);

    switch (Token) {
    case u'Y':
      if (N <= 2)
        Number(Date.year() % 100, 2);
      else
        Number(Date.year(), 4);
      I += N;
      break;
    case u'M':
      if (N <= 2)
        Number(Date.month(), static_cast<int>(N));
      else
        Out += Names.monthName(Date.month(), N == 3 ? QLocale::ShortFormat : QLocale::LongFormat);
      I += N;
      break;
    case u'D':
      if (N <= 2)
        Number(Date.day(), static_cast<int>(N));
      else if (N <= 4)
        Out += Names.dayName(Date.dayOfWeek(), N == 3 ? QLocale::ShortFormat : QLocale::LongFormat);
      else
        Append(Out, S.ShortDateFormat, Value, S, Depth + 1);
      I += N;
      break;
    case u'H': {
      // Twelve-hour clock when an am/pm marker follows before the next hour.
      bool TwelveHour = false;
      QChar Quote;
      for (qsizetype P = I + N; P < Format.size(); ++P) {
        const QChar Q = Format[P];
        if (!Quote.isNull()) {
          if (Q == Quote)
            Quote = QChar();
          continue;
        }
        if (Q == QLatin1Char('"') || Q == QLatin1Char('\'')) {
          Quote = Q;
        } else if (Q == QLatin1Char('a') || Q == QLatin1Char('A')) {
          TwelveHour = StartsWithNoCase(P, QLatin1String("am/pm")) || StartsWithNoCase(P, QLatin1String("a/p"))
                       || StartsWithNoCase(P, QLatin1String("ampm"));
          break;
        } else if (Q == QLatin1Char('h') || Q == QLatin1Char('H')) {
          break;
        }
      }
      int Hour = Time.hour();
      if (TwelveHour)
        Hour = Hour == 0 ? 12 : Hour > 12 ? Hour - 12 : Hour;
      Number(Hour, N >= 2 ? 2 : 1);
      I += N;
      break;
    }
    case u'N':
      Number(Time.minute(), N >= 2 ? 2 : 1);
      I += N;
      break;
    case u'S':
      Number(Time.second(), N >= 2 ? 2 : 1);
      I += N;
      break;
    case u'Z':
      Number(Time.msec(), N >= 3 ? 3 : static_cast<int>(N));
      I += N;
      break;
    case u'A': {
      const bool Pm = Time.hour() >= 12;
      if (StartsWithNoCase(I, QLatin1String("am/pm"))) {
        Out += Format.mid(Pm ? I + 3 : I, 2);  // in the letter case of the format
        I += 5;
      } else if (StartsWithNoCase(I, QLatin1String("a/p"))) {
        Out += Format[Pm ? I + 2 : I];
        I += 3;
      } else if (StartsWithNoCase(I, QLatin1String("ampm"))) {
        Out += Pm ? QStringLiteral("PM") : QStringLiteral("AM");
        I += 4;
      } else {
        Out += C;
        ++I;
      }
      break;
    }
    case u'C':
      Append(Out, S.ShortDateFormat, Value, S, Depth + 1);
      Out += QLatin1Char(' ');
      Append(Out, S.LongTimeFormat, Value, S, Depth + 1);
      I += N;
      break;
    case u'/':
      if (!S.DateSeparator.isNull())
        Out += S.DateSeparator;
      ++I;
      break;
    case u':':
      if (!S.TimeSeparator.isNull())
        Out += S.TimeSeparator;
      ++I;
      break;
    case u'"':
    case u'\'': {
      // Literal up to the closing quote; an unclosed one runs to the end.
      const qsizetype Close = Format.indexOf(C, I + 1);
      const qsizetype End = Close < 0 ? Format.size() : Close;
      Out += Format.mid(I + 1, End - I - 1);
      I = Close < 0 ? End : End + 1;
      break;
    }
    default:
      Out += C;
      ++I;
      break;
    }
  }
}

}  // namespace

TFormatSettings Current()
{
  std::lock_guard Lock(Mutex);
  return Locked();
}

void SetCurrent(const TFormatSettings& Value)
{
  std::lock_guard Lock(Mutex);
  Settings = Value;
}

void Reset()
{
  TFormatSettings Fresh = FromEnvironment();
  std::lock_guard Lock(Mutex);
  Settings = std::move(Fresh);
}

QString ShortDateFormat() { return Current().ShortDateFormat; }
QString LongTimeFormat() { return Current().LongTimeFormat; }
QChar DateSeparator() { return Current().DateSeparator; }
QChar TimeSeparator() { return Current().TimeSeparator; }
QChar DecimalSeparator() { return Current().DecimalSeparator; }

void SetShortDateFormat(const QString& Format)
{
  std::lock_guard Lock(Mutex);
  Locked().ShortDateFormat = Format;
}

void SetLongTimeFormat(const QString& Format)
{
  std::lock_guard Lock(Mutex);
  Locked().LongTimeFormat = Format;
}

void SetDateSeparator(QChar Separator)
{
  std::lock_guard Lock(Mutex);
  Locked().DateSeparator = Separator;
}

void SetTimeSeparator(QChar Separator)
{
  std::lock_guard Lock(Mutex);
  Locked().TimeSeparator = Separator;
}

void SetDecimalSeparator(QChar Separator)
{
  std::lock_guard Lock(Mutex);
  Locked().DecimalSeparator = Separator;
}

QString FormatDateTime(const QString& Format, const QDateTime& Value, const TFormatSettings& Settings)
{
  // An invalid value counts as the runtime's zero date, 30 Dec 1899 00:00.
  const QDateTime Effective = Value.isValid() ? Value : QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC);
  QString Out;
  Append(Out, Format, Effective, Settings, 0);
  return Out;
}

QString FormatDateTime(const QString& Format, const QDateTime& Value)
{
  return FormatDateTime(Format, Value, Current());
}

QString DateToStr(const QDate& Value)
{
  const TFormatSettings S = Current();
  return FormatDateTime(S.ShortDateFormat, QDateTime(Value, QTime(0, 0), Qt::UTC), S);
}

QString DateLongTimeToStr(const QDateTime& Value)
{
  // Formatted apart, so that neither format can run into the other.
  const TFormatSettings S = Current();
  return FormatDateTime(S.ShortDateFormat, Value, S) + QLatin1Char(' ') + FormatDateTime(S.LongTimeFormat, Value, S);
}

}  // namespace FormatSettings
