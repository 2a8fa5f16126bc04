#pragma once
// Process-wide regional settings for dates, times and numbers, changeable at
// run time, and date formatting in the runtime's format language:
//   d dd ddd dddd  m mm mmm mmmm  yy yyyy  h hh  n nn  s ss  z zzz
//   am/pm a/p ampm   /  (date separator)  :  (time separator)
//   "..." '...' literal text; any other character stands for itself.
// In formats, "m" directly after "h"/"hh" means minutes, as in the runtime.

#include <QChar>
#include <QDateTime>
#include <QString>

namespace FormatSettings {

struct TFormatSettings {
  QString ShortDateFormat;
  QString LongTimeFormat;
  QChar DateSeparator;
  QChar TimeSeparator;
  QChar DecimalSeparator;
};

// Defaults: from the locale of LC_ALL / LC_TIME / LANG where it says how
// dates are written, else "dd/mm/yyyy", "hh:nn:ss", "/", ":", ".".
TFormatSettings Current();
void SetCurrent(const TFormatSettings& Settings);
void Reset();  // back to the defaults of the locale

QString ShortDateFormat();
QString LongTimeFormat();
QChar DateSeparator();
QChar TimeSeparator();
QChar DecimalSeparator();
void SetShortDateFormat(const QString& Format);
void SetLongTimeFormat(const QString& Format);
void SetDateSeparator(QChar Separator);
void SetTimeSeparator(QChar Separator);
void SetDecimalSeparator(QChar Separator);

QString FormatDateTime(const QString& Format, const QDateTime& Value);
QString FormatDateTime(const QString& Format, const QDateTime& Value, const TFormatSettings& Settings);

// Date only, short date format.
QString DateToStr(const QDate& Value);
// Short date format, a blank, long time format (always both parts).
QString DateLongTimeToStr(const QDateTime& Value);

}  // namespace FormatSettings
