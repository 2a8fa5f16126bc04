// The pieces of the environment block, each on a canned machine.

#include "package/VesparoEnvironment.h"

#include "hostfw/Exceptions.h"
#include "hostfw/FormatSettings.h"
#include "hostfw/TextFile.h"
#include "platform/AnsiCodePage.h"
#include "tests/package/CannedMachine.h"
#include "tests/support/TempEnvironment.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Vesparo;
using namespace EnvironmentTests;
using TestSupport::ReadAll;

namespace {

QString NameOf(TCannedMachine& Machine, std::uint32_t Platform, std::uint32_t Major, std::uint32_t Minor,
               std::uint16_t ServicePack = 0)
{
  Machine.Version.dwPlatformId = Platform;
  Machine.Version.dwMajorVersion = Major;
  Machine.Version.dwMinorVersion = Minor;
  Machine.Version.wServicePackMajor = ServicePack;
  ResetOperatingSystemClass();
  QString Name = QStringLiteral("untouched");
  GetOperatingSystemName(Name);
  return Name;
}

}  // namespace

TEST(OperatingSystem, ClassificationTableRowByRow)
{
  TCannedMachine Machine;
  constexpr std::uint32_t Nine = OsVersion::VER_PLATFORM_WIN32_WINDOWS, Nt = OsVersion::VER_PLATFORM_WIN32_NT;
  EXPECT_EQ(NameOf(Machine, Nine, 3, 51), QStringLiteral("Windows 95"));
  EXPECT_EQ(NameOf(Machine, Nine, 4, 0), QStringLiteral("Windows 95"));
  EXPECT_EQ(NameOf(Machine, Nine, 4, 10), QStringLiteral("Windows 98"));
  EXPECT_EQ(NameOf(Machine, Nine, 4, 90), QStringLiteral("Windows ME"));
  EXPECT_EQ(NameOf(Machine, Nine, 5, 0), QStringLiteral("Unknown"));
  EXPECT_EQ(NameOf(Machine, Nt, 5, 0), QStringLiteral("Windows 2000"));
  EXPECT_EQ(NameOf(Machine, Nt, 5, 1), QStringLiteral("Windows XP"));
  EXPECT_EQ(NameOf(Machine, Nt, 5, 2), QStringLiteral("Windows 2003"));
  EXPECT_EQ(NameOf(Machine, Nt, 5, 3), QStringLiteral("Unknown"));
  EXPECT_EQ(NameOf(Machine, Nt, 6, 0), QStringLiteral("Windows Vista"));
  EXPECT_EQ(NameOf(Machine, Nt, 6, 1), QStringLiteral("Windows 7"));
  EXPECT_EQ(GetOperatingSystemClass(), osWin7);
  EXPECT_EQ(NameOf(Machine, Nt, 4, 0), QStringLiteral("Unknown"));  // NT 4.0
  EXPECT_EQ(NameOf(Machine, Nt, 3, 51), QStringLiteral("Unknown"));
  EXPECT_EQ(NameOf(Machine, Nt, 10, 0), QStringLiteral("Unknown"));
  EXPECT_EQ(NameOf(Machine, OsVersion::VER_PLATFORM_WIN32s, 6, 18), QStringLiteral("Unknown"));
  EXPECT_EQ(NameOf(Machine, 3, 6, 1), QStringLiteral("Unknown"));
  // Windows 8 and later: no display name, the caller's text stays.
  EXPECT_EQ(NameOf(Machine, Nt, 6, 2), QStringLiteral("untouched"));
  EXPECT_EQ(GetOperatingSystemClass(), osHigher);
  EXPECT_EQ(NameOf(Machine, Nt, 6, 3, 1), QStringLiteral("untouched"));
}

TEST(OperatingSystem, ServicePacksRefineXpVistaAnd7Only)
{
  TCannedMachine Machine;
  constexpr std::uint32_t Nt = OsVersion::VER_PLATFORM_WIN32_NT;
  EXPECT_EQ(NameOf(Machine, Nt, 5, 1, 1), QStringLiteral("Windows XP service pack 1"));
  EXPECT_EQ(NameOf(Machine, Nt, 5, 1, 2), QStringLiteral("Windows XP service pack 2"));
  EXPECT_EQ(NameOf(Machine, Nt, 5, 1, 3), QStringLiteral("Windows XP service pack 3"));
  EXPECT_EQ(NameOf(Machine, Nt, 5, 1, 4), QStringLiteral("Windows XP service pack 3"));
  EXPECT_EQ(NameOf(Machine, Nt, 6, 0, 0), QStringLiteral("Windows Vista"));
  EXPECT_EQ(NameOf(Machine, Nt, 6, 0, 2), QStringLiteral("Windows Vista Service pack 2"));
  EXPECT_EQ(NameOf(Machine, Nt, 6, 0, 9), QStringLiteral("Windows Vista Service pack 3"));
  EXPECT_EQ(NameOf(Machine, Nt, 6, 1, 1), QStringLiteral("Windows 7 Service pack 1"));
  EXPECT_EQ(NameOf(Machine, Nt, 6, 1, 3), QStringLiteral("Windows 7 Service pack 3"));
  EXPECT_EQ(NameOf(Machine, Nt, 5, 0, 4), QStringLiteral("Windows 2000"));
  EXPECT_EQ(NameOf(Machine, Nt, 5, 2, 2), QStringLiteral("Windows 2003"));
  EXPECT_EQ(NameOf(Machine, Nt, 6, 2, 1), QStringLiteral("untouched"));

  // A system that knows only the plain record: no service-pack number.
  Machine.VersionFails = true;
  EXPECT_EQ(NameOf(Machine, Nt, 5, 1, 2), QStringLiteral("Windows XP"));
}

TEST(OperatingSystem, ClassIsComputedOncePerProcess)
{
  TCannedMachine Machine;
  EXPECT_EQ(GetOperatingSystemClass(), osWin7SP1);
  const int Queries = Machine.VersionQueries;
  EXPECT_EQ(Queries, 1);
  Machine.Version.dwMinorVersion = 0;  // what a second query would see
  EXPECT_EQ(GetOperatingSystemClass(), osWin7SP1);
  QString Name;
  GetOperatingSystemName(Name);
  EXPECT_EQ(Name, QStringLiteral("Windows 7 Service pack 1"));
  EXPECT_EQ(Machine.VersionQueries, Queries);

  // Both queries failing classify as unknown, and that is cached too.
  Machine.VersionFails = true;
  Machine.Version = {};
  ResetOperatingSystemClass();
  EXPECT_EQ(GetOperatingSystemClass(), osUnknown);
}

TEST(OperatingSystem, BitnessLineDescribesTheSystem)
{
  TCannedMachine Machine;
  TapplicationInformation Info;
  const auto Bit = [&] {
    GetApplicationInformation(Info);
    return Info.Bit;
  };
  // A 32-bit process: the WOW64 test decides.
  Machine.ProcessIs64Bit = false;
  Machine.Wow64 = std::pair{true, true};
  EXPECT_TRUE(IsWow64());
  EXPECT_EQ(Bit(), QStringLiteral("Bit:64 bits;"));
  Machine.Wow64 = std::pair{true, false};
  EXPECT_EQ(Bit(), QStringLiteral("Bit:32 bits;"));
  Machine.Wow64 = std::nullopt;  // no such entry point
  EXPECT_FALSE(IsWow64());
  EXPECT_EQ(Bit(), QStringLiteral("Bit:32 bits;"));
  Machine.Wow64 = std::pair{false, true};  // the call fails
  EXPECT_FALSE(IsWow64());
  EXPECT_EQ(Bit(), QStringLiteral("Bit:32 bits;"));
  // A 64-bit process is no WOW64 process, yet its system is 64-bit.
  Machine.ProcessIs64Bit = true;
  Machine.Wow64 = std::pair{true, false};
  EXPECT_FALSE(IsWow64());
  EXPECT_EQ(Bit(), QStringLiteral("Bit:64 bits;"));
}

TEST(SystemDetails, FormatMemorySizeAtAndAroundEveryThreshold)
{
  const auto Format = [](std::uint64_t Size) {
    QString Text;
    FormatMemorySize(Size, Text);
    return Text;
  };
  constexpr std::uint64_t KB = 1024, MB = 1048576, GB = 1073741824;
  EXPECT_EQ(Format(0), QStringLiteral("0 bytes"));
  EXPECT_EQ(Format(1000), QStringLiteral("1000 bytes"));
  EXPECT_EQ(Format(KB), QStringLiteral("1024 bytes"));
  EXPECT_EQ(Format(KB + 1), QStringLiteral("1 KB"));
  EXPECT_EQ(Format(1536), QStringLiteral("1.5 KB"));
  EXPECT_EQ(Format(1100), QStringLiteral("1.07 KB"));
  EXPECT_EQ(Format(MB), QStringLiteral("1024 KB"));
  EXPECT_EQ(Format(MB + 1), QStringLiteral("1 MB"));
  EXPECT_EQ(Format(MB + MB / 4), QStringLiteral("1.25 MB"));
  EXPECT_EQ(Format(GB), QStringLiteral("1024 MB"));
  EXPECT_EQ(Format(GB + 1), QStringLiteral("1 GB"));
  EXPECT_EQ(Format(GB + GB / 2), QStringLiteral("1.5 GB"));
  EXPECT_EQ(Format(2 * GB), QStringLiteral("2 GB"));
  EXPECT_EQ(Format(3 * GB), QStringLiteral("3 GB"));
  EXPECT_EQ(Format(GB * 999 / 100), QStringLiteral("9.99 GB"));
  EXPECT_EQ(Format(GB * 9999 / 1000), QStringLiteral("10 GB"));  // rounds up over the decimal
  // Byte counts past 4 GiB are not cut to 32 bits.
  EXPECT_EQ(Format(5 * GB), QStringLiteral("5 GB"));
  EXPECT_EQ(Format(64 * GB + GB / 4), QStringLiteral("64.25 GB"));
  EXPECT_EQ(Format(1ull << 50), QStringLiteral("1048576 GB"));

  FormatSettings::SetDecimalSeparator(QLatin1Char(','));
  EXPECT_EQ(Format(1536), QStringLiteral("1,5 KB"));
  FormatSettings::Reset();
}

TEST(SystemDetails, MemoryLinesFromA64BitMachine)
{
  TCannedMachine Machine;
  // 48 GiB, 20 GiB of it available: 58.33 percent in use.
  Machine.Meminfo = "MemTotal: 50331648 kB\nMemAvailable: 20971520 kB\n";
  TapplicationInformation Info;
  GetApplicationInformation(Info);
  EXPECT_EQ(Info.RamInUse, QStringLiteral("RAMINUSE:58 %;"));
  EXPECT_EQ(Info.RamTotal, QStringLiteral("RAMTOTAL:48 GB;"));
  EXPECT_EQ(Info.RamAvail, QStringLiteral("RAMAVAIL:20 GB;"));

  Machine.Meminfo = "MemTotal: 1000 kB\nMemAvailable: 590 kB\n";
  GetApplicationInformation(Info);
  EXPECT_EQ(Info.RamInUse, QStringLiteral("RAMINUSE:41 %;"));

  // Figures that cannot be read leave the values empty.
  Machine.Meminfo.clear();
  GetApplicationInformation(Info);
  EXPECT_EQ(Info.RamInUse, QStringLiteral("RAMINUSE: %;"));
  EXPECT_EQ(Info.RamTotal, QStringLiteral("RAMTOTAL:;"));
  EXPECT_EQ(Info.RamAvail, QStringLiteral("RAMAVAIL:;"));
}

TEST(SystemDetails, OperatingSystemLinesComeFromTheFirstObjectOnly)
{
  TCannedMachine Machine;
  Wmi::TInstance Second = Machine.Systems[0];
  Second.Properties.insert(QStringLiteral("Version"), QStringLiteral("second"));
  Machine.Systems.push_back(Second);
  Machine.Systems[0].Properties.insert(QStringLiteral("BuildType"), QVariant());  // null
  TapplicationInformation Info;
  GetApplicationInformation(Info);
  EXPECT_EQ(Info.OSName, QStringLiteral("OSName:Windows 7 Service pack 1;"));
  EXPECT_EQ(Info.Version, QStringLiteral("Version:6.1.7601;"));
  EXPECT_EQ(Info.BuildNumber, QStringLiteral("BuildNumber:7601;"));
  EXPECT_EQ(Info.BuildType, QStringLiteral("BuildType:;"));
  EXPECT_EQ(Info.CodeSet, QStringLiteral("CodeSet:1252;"));
  EXPECT_EQ(Info.CountryCode, QStringLiteral("CountryCode:49;"));
  EXPECT_EQ(Info.BootDevice, QStringLiteral("BootDevice:\\Device\\HarddiskVolume1;"));
  EXPECT_EQ(Info.SystemDirectory, QStringLiteral("System Directory:/usr/lib;"));
  EXPECT_EQ(Info.SystemName, QStringLiteral("SYSTEMNAME:testhost;"));

  // No object at all: the seven lines stay empty, the others are there.
  Machine.Systems.clear();
  GetApplicationInformation(Info);
  for (const QString* Line : {&Info.OSName, &Info.Version, &Info.BuildNumber, &Info.BuildType, &Info.CodeSet,
                              &Info.CountryCode, &Info.BootDevice})
    EXPECT_TRUE(Line->isEmpty());
  EXPECT_EQ(Info.SystemName, QStringLiteral("SYSTEMNAME:testhost;"));

  // A host name longer than a computer name holds is cut, never overflows.
  Machine.HostName = QStringLiteral("a-rather-long-host-name");
  GetApplicationInformation(Info);
  EXPECT_EQ(Info.SystemName, QStringLiteral("SYSTEMNAME:a-rather-long-h;"));

  Machine.BindResult = Wmi::WBEM_E_FAILED;
  try {
    GetApplicationInformation(Info);
    ADD_FAILURE() << "no error raised";
  } catch (const EOleError& E) {
    EXPECT_EQ(E.ErrorCode, Wmi::WBEM_E_FAILED);
  }
}

TEST(SystemDetails, BrandStringFromTheRegisters)
{
  TCannedMachine Machine;
  TCPUInformation Info;
  GetCPUInformation(Info);
  EXPECT_EQ(Info.VendorID, QStringLiteral("VendorID:GenuineIntel;"));
  // Leading blanks stay; the name ends at its first NUL, the padding after
  // it is no part of it (a line of NULs would be no name a reader can use).
  EXPECT_EQ(Info.CPUname, QStringLiteral("CPUname:       Test(R) CPU @ 1.00GHz;"));
  Machine.Leaves[0x80000002].Eax = 0x00003041;  // "A0" and a NUL early on
  GetCPUInformation(Info);
  EXPECT_EQ(Info.CPUname, QStringLiteral("CPUname:A0;"));
  Machine.Leaves[0x80000002].Eax = 0;
  GetCPUInformation(Info);
  EXPECT_EQ(Info.CPUname, QStringLiteral("CPUname:;"));

  // All 48 characters used: nothing removed.
  const QByteArray Full = QByteArray("Full brand string of forty-eight characters long").left(48);
  ASSERT_EQ(Full.size(), 48);
  for (const auto& [Leaf, R] : BrandLeaves(Full))
    Machine.Leaves[Leaf] = R;
  GetCPUInformation(Info);
  EXPECT_EQ(Info.CPUname, QStringLiteral("CPUname:") + QString::fromLatin1(Full) + QStringLiteral(";"));

  // No extended leaves: the whole line is empty.
  Machine.Leaves[0x80000000] = {0x80000000, 0, 0, 0};
  GetCPUInformation(Info);
  EXPECT_EQ(Info.CPUname, QString());
  EXPECT_EQ(Info.VendorID, QStringLiteral("VendorID:GenuineIntel;"));
  Machine.Leaves[0x80000000] = {0x7FFFFFFF, 0, 0, 0};
  GetCPUInformation(Info);
  EXPECT_EQ(Info.CPUname, QString());
}

TEST(Network, AdapterLoop)
{
  TCannedMachine Machine;
  using A = Network::TAdapter;
  const A Zero{};
  const A Real{{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}};
  const A Other{{0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};
  const A Failing{{0x11, 0x11, 0x11, 0x11, 0x11, 0x11}, 0x34};

  Machine.Adapters = {Zero, Real, Other};
  EXPECT_EQ(GetMACAddress(), QStringLiteral("00-1A-2B-3C-4D-5E"));
  Machine.Adapters = {Other, Real};
  EXPECT_EQ(GetMACAddress(), QStringLiteral("AA-BB-CC-DD-EE-FF"));
  Machine.Adapters = {Failing, Real};
  EXPECT_EQ(GetMACAddress(), QString());
  Machine.Adapters = {Zero, Zero};
  EXPECT_EQ(GetMACAddress(), QStringLiteral("00-00-00-00-00-00"));
  // A failing adapter after a zero one keeps the zero text and goes on.
  Machine.Adapters = {Zero, Failing, Real};
  EXPECT_EQ(GetMACAddress(), QStringLiteral("00-1A-2B-3C-4D-5E"));
  // Later adapters are reached too, not only the first few.
  Machine.Adapters = {Zero, Zero, Zero, Zero, Zero, Other};
  EXPECT_EQ(GetMACAddress(), QStringLiteral("AA-BB-CC-DD-EE-FF"));
  // No adapter at all: LANA 0 is asked and does not answer.
  Machine.Adapters = {};
  EXPECT_EQ(GetMACAddress(), QString());

  TNetworkInfo Info;
  Machine.Adapters = {Failing};
  GetNetworkInfo(Info);
  EXPECT_EQ(Info.MACAddress, QStringLiteral("MAC Addres:;"));
}

TEST(Network, IpLineWithZeroOneAndTwoAddresses)
{
  TCannedMachine Machine;
  TNetworkInfo Info;
  GetNetworkInfo(Info);
  EXPECT_EQ(Info.IPAddress, QStringLiteral("IPAddres:10.0.0.2\r\n192.168.1.7\r\n;"));
  EXPECT_EQ(Info.MACAddress, QStringLiteral("MAC Addres:00-1A-2B-3C-4D-5E;"));
  Machine.Addresses = std::vector<Network::TIPv4Address>{{172, 16, 0, 1}};
  GetNetworkInfo(Info);
  EXPECT_EQ(Info.IPAddress, QStringLiteral("IPAddres:172.16.0.1\r\n;"));
  Machine.Addresses = std::vector<Network::TIPv4Address>{};
  GetNetworkInfo(Info);
  EXPECT_EQ(Info.IPAddress, QStringLiteral("IPAddres:;"));
  Machine.Addresses = std::nullopt;  // the name does not resolve
  GetNetworkInfo(Info);
  EXPECT_EQ(Info.IPAddress, QStringLiteral("IPAddres:;"));
  // The host name goes to the resolver whole; one too long for the 64-byte
  // buffer is never cut short into another name.
  GetIPAddressList();
  EXPECT_EQ(Machine.ResolvedName, QStringLiteral("testhost"));
  Machine.HostName = QString(63, QLatin1Char('h'));
  GetIPAddressList();
  EXPECT_EQ(Machine.ResolvedName, Machine.HostName);
  Machine.HostName = QString(64, QLatin1Char('h'));
  GetIPAddressList();
  EXPECT_EQ(Machine.ResolvedName, QString());
}

TEST(ProcessList, RowsOfTheTable)
{
  TCannedMachine Machine;
  AnsiCodePage::SetACP(1252);
  Machine.Processes.push_back(Process(QStringLiteral("a-very-long-caption.exe"), 77, 1024, Wmi::TOwner{
    0, QStringLiteral("anna"), QStringLiteral("HOST")}));
  QTemporaryDir Dir;
  const QString File = Dir.filePath(QStringLiteral("report.Hmld"));
  TestSupport::WriteAll(File, "before\r\n");
  WriteProcessInformation(File);
  const QByteArray Sp10(10, ' ');
  const QByteArray Expected =
            "before\r\n"
            "[____________________Process Information start_____________________]\r\n"
            "| Name    |          | PID |   | User | | Domain | | Working Set ( Kb Memory) |;\r\n"
            "svchost.exe   |        1234  |  SYSTEM |NT AUTHORITY|       5120|;\r\n"
            "System   |                4 " + Sp10 + " " + Sp10 + "  4.8828125|;\r\n"
            "a-very-long-caption.exe   |        77    |  anna     |HOST|          1|;\r\n"
            "[____________________Process Information end_____________________]\r\n";
  EXPECT_EQ(ReadAll(File).toStdString(), Expected.toStdString());

  FormatSettings::SetDecimalSeparator(QLatin1Char(','));
  EXPECT_EQ(FormatWorkingSet(5000), QStringLiteral("4,8828125"));
  FormatSettings::Reset();
  EXPECT_EQ(FormatWorkingSet(0), QStringLiteral("0"));
  EXPECT_EQ(FormatWorkingSet(1536), QStringLiteral("1.5"));
  EXPECT_EQ(FormatWorkingSet(123456789012.0), QStringLiteral("120563270.519531"));
  AnsiCodePage::SetACP(0);
}

TEST(ProcessList, FailuresKeepWhatWasWrittenAndRaise)
{
  TCannedMachine Machine;
  QTemporaryDir Dir;
  const QString File = Dir.filePath(QStringLiteral("report.Hmld"));

  // The file must exist.
  EXPECT_THROW(WriteProcessInformation(File), EInOutError);
  EXPECT_FALSE(QFileInfo::exists(File));

  // A process whose working set cannot be read, in the middle of the list.
  Wmi::TInstance Broken = Process(QStringLiteral("broken"), 9, 0, std::nullopt);
  Broken.Properties.remove(QStringLiteral("WorkingSetSize"));
  Machine.Processes.insert(Machine.Processes.begin() + 1, Broken);
  TestSupport::WriteAll(File, "");
  try {
    WriteProcessInformation(File);
    ADD_FAILURE() << "no error raised";
  } catch (const EOleError& E) {
    EXPECT_EQ(E.ErrorCode, Wmi::DISP_E_UNKNOWNNAME);
  }
  const QByteArray Written = ReadAll(File);
  EXPECT_TRUE(Written.endsWith("svchost.exe   |        1234  |  SYSTEM |NT AUTHORITY|       5120|;\r\n"));
  EXPECT_FALSE(Written.contains("Process Information end"));

  // The service cannot be reached: nothing is written.
  Machine.BindResult = Wmi::WBEM_E_FAILED;
  TestSupport::WriteAll(File, "");
  EXPECT_THROW(WriteProcessInformation(File), EOleError);
  EXPECT_EQ(ReadAll(File), QByteArray());
  // A query the service does not know.
  Machine.BindResult = Wmi::S_OK;
  Machine.Services = std::make_shared<Wmi::TServices>();
  EXPECT_THROW(WriteProcessInformation(File), EOleError);
}
