#pragma once
// The report file's lines: every marker, key and line rule of the
// "_halvern_leak_log.Hmld" file, in one place. Writers take their lines from
// here and write each with WriteLn (CR LF, ANSI code page); readers find
// sections by the inner texts of the markers.
//
// Blocks, in file order: environment lines, process section, exception
// section, stack-trace section, comment block.

#include <QLatin1String>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

namespace HmldFormat {

// Every key line ends with this; nothing stands between value and terminator.
inline constexpr QLatin1String Terminator(";");

// Values from outside (the machine, the exception, the user) are written as
// obtained, unless they hold something a reader would take for the file's
// own structure: a control character (a line break above all), the text of
// a marker, or, where the value starts a line, a key. Then just those
// characters (of a marker or key its first one) are written as
// EscapeIntroducer, the character's code in hexadecimal, "}": "a\r\nb"
// becomes "a\u{D}\u{A}b". The introducer in a value is written so too
// ("\u{5C}u{"), so that every value reads back whole. A value without any
// of these is written byte for byte as before; in particular a message with
// line breaks stays on its key's line, its breaks escaped, so that no later
// line of it can pass for a key or a marker.
inline constexpr QLatin1String EscapeIntroducer("\\u{");
// A value within a line.
QString WrittenValue(const QString& Value);
// A value that starts a line: a key at its start is escaped as well.
QString WrittenLineStart(const QString& Value);
// The reader's side: the value as obtained, with control characters shown
// by visible symbols (line feed as U+240A, and so on). Text that is no
// escape of the writer's stays as it is, so values of earlier reports show
// as they always did.
QString VisibleValue(const QString& Written);

// Key + value + terminator.
QString KeyLine(QLatin1String Key, const QString& Value);

// Block 1: environment lines.
inline constexpr QLatin1String OSNameKey("OSName:");
inline constexpr QLatin1String VersionKey("Version:");
inline constexpr QLatin1String BuildNumberKey("BuildNumber:");
inline constexpr QLatin1String BuildTypeKey("BuildType:");
inline constexpr QLatin1String CodeSetKey("CodeSet:");
inline constexpr QLatin1String CountryCodeKey("CountryCode:");
inline constexpr QLatin1String BitKey("Bit:");
inline constexpr QLatin1String Bit64Line("Bit:64 bits;");
inline constexpr QLatin1String Bit32Line("Bit:32 bits;");
inline constexpr QLatin1String SystemDirectoryKey("System Directory:");
inline constexpr QLatin1String RamInUseKey("RAMINUSE:");
inline constexpr QLatin1String RamInUseTerminator(" %;");
inline constexpr QLatin1String RamTotalKey("RAMTOTAL:");
inline constexpr QLatin1String RamAvailKey("RAMAVAIL:");
inline constexpr QLatin1String SystemNameKey("SYSTEMNAME:");
inline constexpr QLatin1String BootDeviceKey("BootDevice:");
inline constexpr QLatin1String VendorIdKey("VendorID:");
inline constexpr QLatin1String CpuNameKey("CPUname:");
inline constexpr QLatin1String IpAddressKey("IPAddres:");
inline constexpr QLatin1String MacAddressKey("MAC Addres:");
inline constexpr QLatin1String VersionSizeKey("Size :");
inline constexpr QLatin1String NoVersionInfoLine("No FileVersionInfo found;");

QString BitLine(bool Is64Bit);
// "RAMINUSE:" value " %;".
QString RamInUseLine(const QString& Percent);
// "IPAddres:", each address followed by CR LF, then ";".
QString IpAddressLine(const QStringList& Addresses);
QString VersionSizeLine(std::uint32_t Size);

// The version keys queried, with the label each one is written under, in
// the order the lines are written.
struct TVersionKey {
  QLatin1String Key;
  QLatin1String Label;
};
inline constexpr std::array<TVersionKey, 11> VersionKeys{{
  {QLatin1String("CompanyName"), QLatin1String("Company Name")},
  {QLatin1String("FileDescription"), QLatin1String("Description")},
  {QLatin1String("FileVersion"), QLatin1String("File Version")},
  {QLatin1String("InternalName"), QLatin1String("Internal Name")},
  {QLatin1String("LegalCopyright"), QLatin1String("Copyright")},
  {QLatin1String("LegalTradeMarks"), QLatin1String("TradeMarks")},
  {QLatin1String("OriginalFilename"), QLatin1String("Original File Name")},
  {QLatin1String("ProductName"), QLatin1String("Product Name")},
  {QLatin1String("ProductVersion"), QLatin1String("Product Version")},
  {QLatin1String("Comments"), QLatin1String("Comments")},
  {QLatin1String("Author"), QLatin1String("Author")},
}};
// Label + ":" + value + ";".
QString VersionLine(QLatin1String Label, const QString& Value);

// Inner texts of the section markers: what a reader looks for.
inline constexpr QLatin1String ProcessStartText("Process Information start");
inline constexpr QLatin1String ProcessEndText("Process Information end");
inline constexpr QLatin1String ExceptionStartText("Exception_Log_start");
inline constexpr QLatin1String ExceptionEndText("Exception_Log_end");
inline constexpr QLatin1String StackStartText("Stack_trace_error_start");
inline constexpr QLatin1String StackEndText("Stack_trace_error_end");
// What identifies the process table's header line.
inline constexpr QLatin1String ProcessHeaderProbe("| Name    |");

// "[" 20 underscores, inner text, 21 underscores "]".
QString BracketMarker(QLatin1String InnerText);
// "|" 14 asterisks, inner text, 14 asterisks "|".
QString StackMarker(QLatin1String InnerText);

// Block 2: process section.
struct TProcessRow {
  QString Caption;
  QString ProcessId;   // decimal
  QString User;        // empty when the owner is not known
  QString Domain;      // empty when the owner is not known
  bool HasOwner = false;
  QString WorkingSetKb;
};
// The five padded fields separated by one blank, without the row terminator.
QString ProcessFields(const QString& Caption, const QString& ProcessId, const QString& UserField,
                      const QString& DomainField, const QString& WorkingSet);
QString ProcessHeader();
QString ProcessRow(const TProcessRow& Row);
QString ProcessStartMarker();
QString ProcessEndMarker();

// Block 3: exception section.
inline constexpr QLatin1String ExcepClassNameKey("Excep_ClassName :");
inline constexpr QLatin1String ExcepApplicationNameKey("Excep_ApplicationName :");
inline constexpr QLatin1String ExcepDateKey("Excep_date :");
inline constexpr QLatin1String ExcepErrorTypeKey("Excep_sErrorType :");
inline constexpr QLatin1String ExcepErrorClassKey("Excep_sErrorclass :");

struct TExceptionSection {
  QString SenderClassName;
  QString ApplicationName;  // executable file name with extension
  QString Date;             // short date
  QString Message;
  QString ErrorClassName;
};
QStringList ExceptionSectionLines(const TExceptionSection& Section);

// Block 4: stack-trace section.
QStringList StackSectionOpening(const QString& CaptureTime);
// One frame, as the stack-trace facility rendered it.
QString FrameLine(const QString& Frame);
QString StackSectionClosing();

// Block 5: comment block (no terminators, no markers).
inline constexpr QLatin1String CommentsKey("Comments by the User :");
inline constexpr QLatin1String ImagePathKey("Image path : ");
inline constexpr QLatin1String ZipPathKey("Zip file path : ");
QStringList CommentBlockLines(const QString& Comment, const QString& ImagePath, const QString& ZipPath);

}  // namespace HmldFormat
