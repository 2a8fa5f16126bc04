#pragma once
// The environment block of the report: operating system, machine, memory,
// processor, network, the application's version resource and the running
// processes. Each piece comes back as finished report lines; the component's
// VersionInformation writes them.

#include <QLatin1String>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

namespace TextFile {
class TTextFile;
}
namespace Wmi {
class IDispatch;
}

namespace Vesparo {

// ---- operating system -------------------------------------------------------

enum TOperatingSystemClass : std::uint8_t {
  osUntested,
  osUnknown,
  osWin95,
  osWin98,
  osWinME,
  osWinNT,
  osWin2000,
  osWinXP,
  osWinXPSP1,
  osWinXPSP2,
  osWinXPSP3,
  osWin2003,
  osWinVista,
  osWinVistaSP1,
  osWinVistaSP2,
  osWinVistaSP3,
  osWin7,
  osWin7SP1,
  osWin7SP2,
  osWin7SP3,
  osHigher,
};

// Classifies the running system once per process; later calls return the
// cached class.
TOperatingSystemClass GetOperatingSystemClass();
// Assigns the display name of the current class; a class without one
// (osHigher) leaves Name as it was.
void GetOperatingSystemName(QString& Name);
// A 32-bit process on a 64-bit system.
bool IsWow64();
// The system is 64-bit: a 64-bit process, or a 32-bit one under WOW64.
bool IsOperatingSystem64Bit();
// Forgets the cached class, so that the next call classifies anew (tests).
void ResetOperatingSystemClass();

// ---- system details -----------------------------------------------------------

inline constexpr QLatin1String WmiMoniker("winmgmts:\\\\localhost\\root\\cimv2");

// The services object of a moniker; raises EOleError with the failing status.
std::shared_ptr<Wmi::IDispatch> ConnectWmi(const QString& Moniker);

// Finished lines (key, value, ";"); a line not produced stays empty.
struct TapplicationInformation {
  QString OSName;
  QString Version;
  QString BuildNumber;
  QString BuildType;
  QString CodeSet;
  QString CountryCode;
  QString BootDevice;
  QString Bit;
  QString SystemDirectory;
  QString RamInUse;
  QString RamTotal;
  QString RamAvail;
  QString SystemName;
};

// Values without keys.
struct TramInformation {
  QString MemoryLoad;
  QString TotalPhys;
  QString AvailPhys;
};

struct TCPUInformation {
  QString VendorID;
  QString CPUname;  // the whole line empty without a brand string
};

struct TNetworkInfo {
  QString IPAddress;
  QString MACAddress;
};

// Raises EOleError when the management service fails.
void GetApplicationInformation(TapplicationInformation& Info);
// Empty values when the memory status cannot be read.
void GetRamInformation(TramInformation& Info);
// "#.## GB", "#.## MB", "#.## KB" or "#.## bytes", each threshold strict.
void FormatMemorySize(std::uint64_t Size, QString& Text);
void GetCPUInformation(TCPUInformation& Info);

// ---- network ------------------------------------------------------------------

void GetNetworkInfo(TNetworkInfo& Info);
// IPv4 addresses of the host name, in the resolver's order.
QStringList GetIPAddressList();
// The first adapter address that is not all zero, "00-00-00-00-00-00" when
// every adapter has that, "" when the first adapter does not answer.
QString GetMACAddress();

// ---- process list ---------------------------------------------------------------

// Appends the process section to an existing report file. Raises EOleError
// on a management-service failure and EInOutError on a file failure; the
// file is closed on every path and keeps the lines written.
void WriteProcessInformation(const QString& FileName);
// A working set in kilobytes, in the shortest decimal form.
QString FormatWorkingSet(double Bytes);

// ---- the block ------------------------------------------------------------------

// Writes the environment lines of block 1, in report order, for the
// executable at ExePath. Raises what the steps raise.
void WriteEnvironmentLines(TextFile::TTextFile& Report, const QString& ExePath);
// Writes "Size :" and the version lines of the executable, or
// "No FileVersionInfo found;".
void WriteVersionResourceLines(TextFile::TTextFile& Report, const QString& ExePath);

}  // namespace Vesparo
