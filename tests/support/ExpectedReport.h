#pragma once
// The exception section a report must hold, and where to find it in a file.

#include "hostfw/FormatSettings.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>

namespace TestSupport {

// The process-wide formats the expected texts are written in: dd/mm/yyyy
// dates and hh:nn:ss times, as a screenshot has not yet changed them.
inline void UseReportFormats()
{
  FormatSettings::TFormatSettings Settings = FormatSettings::Current();
  Settings.ShortDateFormat = QStringLiteral("dd/mm/yyyy");
  Settings.LongTimeFormat = QStringLiteral("hh:nn:ss");
  Settings.DateSeparator = QLatin1Char('/');
  Settings.TimeSeparator = QLatin1Char(':');
  FormatSettings::SetCurrent(Settings);
}

inline QByteArray ExpectedExceptionSection(const QByteArray& Sender, const QByteArray& ApplicationName,
                                           const QByteArray& Message, const QByteArray& ClassName, const QDate& Date)
{
  return "\r\n\r\n\r\n"
         "[____________________Exception_Log_start_____________________]\r\n"
         "Excep_ClassName :" + Sender + ";\r\n"
         "Excep_ApplicationName :" + ApplicationName + ";\r\n"
         "Excep_date :" + Date.toString(QStringLiteral("dd/MM/yyyy")).toLatin1() + ";\r\n"
         "Excep_sErrorType :" + Message + ";\r\n"
         "Excep_sErrorclass :" + ClassName + ";\r\n"
         "[____________________Exception_Log_end_____________________]\r\n"
         "\r\n";
}

// Whether Section is the expected one, dated the day the raise began (Before)
// or today: a run may cross midnight. Dates in dd/mm/yyyy.
inline bool IsExpectedExceptionSection(const QByteArray& Section, const QByteArray& Sender,
                                       const QByteArray& ApplicationName, const QByteArray& Message,
                                       const QByteArray& ClassName, const QDate& Before)
{
  return Section == ExpectedExceptionSection(Sender, ApplicationName, Message, ClassName, Before) ||
         Section == ExpectedExceptionSection(Sender, ApplicationName, Message, ClassName, QDate::currentDate());
}

// From the three empty lines before the exception section's start marker to
// the stack section; empty when the file has no such section.
inline QByteArray ExceptionSectionOf(const QByteArray& Report)
{
  const qsizetype Start = Report.indexOf("\r\n\r\n\r\n[____________________Exception_Log_start");
  const qsizetype End = Report.indexOf("\r\n\r\n|**************Stack_trace_error_start");
  if (Start < 0 || End < Start)
    return {};
  return Report.mid(Start, End - Start);
}

}  // namespace TestSupport
