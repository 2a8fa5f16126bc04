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

// Key + value + terminator. The value is written exactly as obtained: a line
// break in it continues the line on the next line of the file.
QString KeyLine(QLatin1String Key, const QString& Value);

// Block 1: environment lines.
inline constexpr QLatin1String OSNameKey("OSName:");
inline constexpr QLatin1String VersionKey("Version:");
inline constexpr QLatin1String BuildNumberKey("BuildNumber:");
inline constexpr QLatin1String BuildTypeKey("BuildType:");
inline constexpr QLatin1String CodeSetKey("CodeSet:");
inline constexpr QLatin1String CountryCodeKey("CountryCode:");
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
QString StackSectionClosing();

// Block 5: comment block (no terminators, no markers).
inline constexpr QLatin1String CommentsKey("Comments by the User :");
inline constexpr QLatin1String ImagePathKey("Image path : ");
inline constexpr QLatin1String ZipPathKey("Zip file path : ");
QStringList CommentBlockLines(const QString& Comment, const QString& ImagePath, const QString& ZipPath);

}  // namespace HmldFormat
