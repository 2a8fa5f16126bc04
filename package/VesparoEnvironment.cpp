#include "package/VesparoEnvironment.h"

#include "hostfw/Exceptions.h"
#include "hostfw/FormatSettings.h"
#include "hostfw/TextFile.h"
#include "package/HmldFormat.h"
#include "platform/Cpuid.h"
#include "platform/MemoryStatus.h"
#include "platform/Network.h"
#include "platform/OsVersion.h"
#include "platform/SystemInfo.h"
#include "platform/VersionResource.h"
#include "platform/Wmi.h"

#include <QVariant>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <vector>

namespace Vesparo {

using namespace HmldFormat;

namespace {

// ---- operating system -------------------------------------------------------

std::atomic<std::uint8_t> OperatingSystemClass{osUntested};

QString DisplayName(TOperatingSystemClass Class)
{
  switch (Class) {
  case osUntested: return QStringLiteral("un Tested");
  case osUnknown: return QStringLiteral("Unknown");
  case osWin95: return QStringLiteral("Windows 95");
  case osWin98: return QStringLiteral("Windows 98");
  case osWinME: return QStringLiteral("Windows ME");
  case osWinNT: return QStringLiteral("Windows NT");
  case osWin2000: return QStringLiteral("Windows 2000");
  case osWinXP: return QStringLiteral("Windows XP");
  case osWinXPSP1: return QStringLiteral("Windows XP service pack 1");
  case osWinXPSP2: return QStringLiteral("Windows XP service pack 2");
  case osWinXPSP3: return QStringLiteral("Windows XP service pack 3");
  case osWin2003: return QStringLiteral("Windows 2003");
  case osWinVista: return QStringLiteral("Windows Vista");
  case osWinVistaSP1: return QStringLiteral("Windows Vista Service pack 1");
  case osWinVistaSP2: return QStringLiteral("Windows Vista Service pack 2");
  case osWinVistaSP3: return QStringLiteral("Windows Vista Service pack 3");
  case osWin7: return QStringLiteral("Windows 7");
  case osWin7SP1: return QStringLiteral("Windows 7 Service pack 1");
  case osWin7SP2: return QStringLiteral("Windows 7 Service pack 2");
  case osWin7SP3: return QStringLiteral("Windows 7 Service pack 3");
  case osHigher: break;
  }
  return {};
}

TOperatingSystemClass Classify(const OsVersion::OSVERSIONINFOEXW& Info)
{
  const std::uint32_t Major = Info.dwMajorVersion;
  const std::uint32_t Minor = Info.dwMinorVersion;
  switch (Info.dwPlatformId) {
  case OsVersion::VER_PLATFORM_WIN32_WINDOWS:
    if (Major == 3)
      return osWin95;
    if (Major == 4)
      return Minor == 0 ? osWin95 : Minor == 10 ? osWin98 : osWinME;
    return osUnknown;
  case OsVersion::VER_PLATFORM_WIN32_NT:
    if (Major == 5)
      return Minor == 0 ? osWin2000 : Minor == 1 ? osWinXP : Minor == 2 ? osWin2003 : osUnknown;
    if (Major == 6)
      return Minor == 0 ? osWinVista : Minor == 1 ? osWin7 : osHigher;
    return osUnknown;
  default:
    return osUnknown;
  }
}

// ---- late binding -----------------------------------------------------------

[[noreturn]] void RaiseOle(Wmi::HRESULT Code, const QString& What)
{
  throw EOleError(QStringLiteral("%1 failed with status 0x%2").arg(What).arg(static_cast<quint32>(Code), 8, 16,
                                                                                QLatin1Char('0')),
                  Code);
}

void OleCheck(Wmi::HRESULT Code, const QString& What)
{
  if (Wmi::Failed(Code))
    RaiseOle(Code, What);
}

std::shared_ptr<Wmi::IDispatch> DispatchOf(const QVariant& Value, const QString& What)
{
  auto Object = std::dynamic_pointer_cast<Wmi::IDispatch>(Wmi::ObjectOf(Value));
  if (!Object)
    RaiseOle(Wmi::E_NOINTERFACE, What);
  return Object;
}

QVariant Get(Wmi::IDispatch& Object, const QString& Name)
{
  QVariant Value;
  OleCheck(Object.GetProperty(Name, Value), Name);
  return Value;
}

QVariant Call(Wmi::IDispatch& Object, const QString& Name, QVariantList& Args)
{
  QVariant Result;
  OleCheck(Object.Invoke(Name, Args, Result), Name);
  return Result;
}

// The instances of a class, as an enumerator of the query's result.
std::shared_ptr<Wmi::IEnumVARIANT> QueryAll(Wmi::IDispatch& Services, const QString& Query)
{
  QVariantList Args{Query, QStringLiteral("WQL"), 0};
  const auto Set = DispatchOf(Call(Services, QStringLiteral("ExecQuery"), Args), QStringLiteral("ExecQuery"));
  auto Enumerator = std::dynamic_pointer_cast<Wmi::IEnumVARIANT>(Wmi::ObjectOf(Get(*Set, QStringLiteral("_NewEnum"))));
  if (!Enumerator)
    RaiseOle(Wmi::E_NOINTERFACE, QStringLiteral("_NewEnum"));
  return Enumerator;
}

// A property value as report text; a null value gives "".
QString Text(const QVariant& Value) { return Value.isNull() ? QString() : Value.toString(); }

// ---- processor --------------------------------------------------------------

// The register's bytes, lowest first, each one character of the same code.
QString RegisterText(std::uint32_t Value)
{
  QString Text;
  for (int Shift = 0; Shift < 32; Shift += 8)
    Text.append(QChar(static_cast<char16_t>((Value >> Shift) & 0xFF)));
  return Text;
}

// Leading and trailing characters up to the blank go.
QString TrimControls(const QString& Text)
{
  qsizetype Begin = 0, End = Text.size();
  while (Begin < End && Text[Begin].unicode() <= 32)
    ++Begin;
  while (End > Begin && Text[End - 1].unicode() <= 32)
    --End;
  return Text.mid(Begin, End - Begin);
}

}  // namespace

// ---- operating system ---------------------------------------------------------

TOperatingSystemClass GetOperatingSystemClass()
{
  const auto Cached = static_cast<TOperatingSystemClass>(OperatingSystemClass.load(std::memory_order_relaxed));
  if (Cached != osUntested)
    return Cached;
  OsVersion::OSVERSIONINFOEXW Info{};
  Info.dwOSVersionInfoSize = OsVersion::OsVersionInfoExSize;
  if (!OsVersion::GetVersionExW(&Info)) {
    // An older system knows only the plain record; a failure here leaves
    // zeros, which classify as unknown.
    Info = {};
    Info.dwOSVersionInfoSize = OsVersion::OsVersionInfoSize;
    OsVersion::GetVersionExW(&Info);
  }
  TOperatingSystemClass Class = Classify(Info);
  if ((Class == osWinXP || Class == osWinVista || Class == osWin7) && Info.wServicePackMajor > 0)
    Class = static_cast<TOperatingSystemClass>(Class + std::min<int>(Info.wServicePackMajor, 3));
  OperatingSystemClass.store(Class, std::memory_order_relaxed);
  return Class;
}

void GetOperatingSystemName(QString& Name)
{
  const TOperatingSystemClass Class = GetOperatingSystemClass();
  if (Class != osHigher)
    Name = DisplayName(Class);
}

bool IsWow64()
{
  const OsVersion::TIsWow64Process Entry = OsVersion::GetIsWow64ProcessEntry();
  if (!Entry)
    return false;
  bool Wow64 = false;
  return Entry(&Wow64) && Wow64;
}

bool IsOperatingSystem64Bit() { return OsVersion::ProcessIs64Bit() || IsWow64(); }

void ResetOperatingSystemClass() { OperatingSystemClass.store(osUntested, std::memory_order_relaxed); }

// ---- system details -----------------------------------------------------------

std::shared_ptr<Wmi::IDispatch> ConnectWmi(const QString& Moniker)
{
  std::shared_ptr<Wmi::IBindCtx> Context;
  OleCheck(Wmi::CreateBindCtx(0, Context), QStringLiteral("CreateBindCtx"));
  std::shared_ptr<Wmi::IMoniker> Parsed;
  std::uint32_t Eaten = 0;
  OleCheck(Wmi::MkParseDisplayName(Context.get(), Moniker, &Eaten, Parsed), QStringLiteral("MkParseDisplayName"));
  std::shared_ptr<Wmi::IUnknown> Object;
  OleCheck(Parsed->BindToObject(Context.get(), nullptr, Object), QStringLiteral("BindToObject"));
  auto Services = std::dynamic_pointer_cast<Wmi::IDispatch>(Object);
  if (!Services)
    RaiseOle(Wmi::E_NOINTERFACE, QStringLiteral("BindToObject"));
  return Services;
}

void GetApplicationInformation(TapplicationInformation& Info)
{
  Info = {};
  const auto Services = ConnectWmi(WmiMoniker);
  const auto Enumerator = QueryAll(*Services, QStringLiteral("SELECT * FROM Win32_OperatingSystem"));
  QVariant Item;
  std::uint32_t Fetched = 0;
  // Only the first object counts; none leaves the lines empty.
  if (Enumerator->Next(1, &Item, &Fetched) == Wmi::S_OK) {
    const auto System = DispatchOf(Item, QStringLiteral("Win32_OperatingSystem"));
    QString Name;
    GetOperatingSystemName(Name);
    Info.OSName = KeyLine(OSNameKey, Name);
    Info.Version = KeyLine(VersionKey, Text(Get(*System, QStringLiteral("Version"))));
    Info.BuildNumber = KeyLine(BuildNumberKey, Text(Get(*System, QStringLiteral("BuildNumber"))));
    Info.BuildType = KeyLine(BuildTypeKey, Text(Get(*System, QStringLiteral("BuildType"))));
    Info.CodeSet = KeyLine(CodeSetKey, Text(Get(*System, QStringLiteral("CodeSet"))));
    Info.CountryCode = KeyLine(CountryCodeKey, Text(Get(*System, QStringLiteral("CountryCode"))));
    Info.BootDevice = KeyLine(BootDeviceKey, Text(Get(*System, QStringLiteral("BootDevice"))));
  }

  // The line describes the system, so a 64-bit process says 64 bits too.
  Info.Bit = BitLine(IsOperatingSystem64Bit());

  std::array<char16_t, 260> Directory{};
  SystemInfo::GetSystemDirectoryW(Directory.data(), Directory.size());
  Info.SystemDirectory = KeyLine(SystemDirectoryKey, QString::fromUtf16(Directory.data()));

  TramInformation Ram;
  GetRamInformation(Ram);
  Info.RamInUse = RamInUseLine(Ram.MemoryLoad);
  Info.RamTotal = KeyLine(RamTotalKey, Ram.TotalPhys);
  Info.RamAvail = KeyLine(RamAvailKey, Ram.AvailPhys);

  std::array<char16_t, 16> ComputerName{};
  std::uint32_t Size = ComputerName.size();
  SystemInfo::GetComputerNameW(ComputerName.data(), &Size);
  Info.SystemName = KeyLine(SystemNameKey, QString::fromUtf16(ComputerName.data()));
}

void GetRamInformation(TramInformation& Info)
{
  Info = {};
  MemoryStatus::MEMORYSTATUSEX Status{};
  Status.dwLength = sizeof Status;
  if (!MemoryStatus::GlobalMemoryStatusEx(&Status))
    return;
  Info.MemoryLoad = QString::number(Status.dwMemoryLoad);
  FormatMemorySize(Status.ullTotalPhys, Info.TotalPhys);
  FormatMemorySize(Status.ullAvailPhys, Info.AvailPhys);
}

void FormatMemorySize(std::uint64_t Size, QString& Text)
{
  constexpr std::uint64_t KB = 1024, MB = KB * 1024, GB = MB * 1024;
  double Value = static_cast<double>(Size);
  QLatin1String Unit(" bytes");
  if (Size > GB) {
    Value /= GB;
    Unit = QLatin1String(" GB");
  } else if (Size > MB) {
    Value /= MB;
    Unit = QLatin1String(" MB");
  } else if (Size > KB) {
    Value /= KB;
    Unit = QLatin1String(" KB");
  }
  // At most two decimals, rounded; zeros at their end and a bare separator
  // go. Zero bytes still show their digit.
  QString Number = QString::number(Value, 'f', 2);
  while (Number.endsWith(QLatin1Char('0')) && Number.contains(QLatin1Char('.')))
    Number.chop(1);
  if (Number.endsWith(QLatin1Char('.')))
    Number.chop(1);
  Number.replace(QLatin1Char('.'), FormatSettings::DecimalSeparator());
  Text = Number + Unit;
}

void GetCPUInformation(TCPUInformation& Info)
{
  Info = {};
  const Cpuid::TCpuidRegisters Vendor = Cpuid::Cpuid(0);
  Info.VendorID = KeyLine(VendorIdKey, RegisterText(Vendor.Ebx) + RegisterText(Vendor.Edx) + RegisterText(Vendor.Ecx));

  if (Cpuid::Cpuid(0x80000000).Eax <= 0x80000000)
    return;
  QString Brand;
  for (std::uint32_t Leaf = 0x80000002; Leaf <= 0x80000004; ++Leaf) {
    const Cpuid::TCpuidRegisters R = Cpuid::Cpuid(Leaf);
    Brand += RegisterText(R.Eax) + RegisterText(R.Ebx) + RegisterText(R.Ecx) + RegisterText(R.Edx);
  }
  // The name is a C string in a 48-byte field: the NULs padding it to the
  // end are no part of it.
  const qsizetype Nul = Brand.indexOf(QChar(u'\0'));
  if (Nul >= 0)
    Brand.truncate(Nul);
  Info.CPUname = KeyLine(CpuNameKey, Brand);
}

// ---- network --------------------------------------------------------------------

void GetNetworkInfo(TNetworkInfo& Info)
{
  Info.IPAddress = IpAddressLine(GetIPAddressList());
  Info.MACAddress = KeyLine(MacAddressKey, GetMACAddress());
}

QStringList GetIPAddressList()
{
  char HostName[64] = {};
  Network::gethostname(HostName, sizeof HostName);
  QStringList Addresses;
  if (const auto Entry = Network::gethostbyname(HostName))
    for (const Network::TIPv4Address& Address : *Entry)
      Addresses << Network::inet_ntoa(Address);
  return Addresses;
}

QString GetMACAddress()
{
  static const QString AllZero = QStringLiteral("00-00-00-00-00-00");
  Network::NCB Block{};
  Network::LANA_ENUM Lanas{};
  std::array<std::uint8_t, Network::AdapterStatusSize> Status{};

  Block.ncb_command = Network::NCBENUM;
  Block.ncb_buffer = reinterpret_cast<std::uint8_t*>(&Lanas);
  // The whole enumeration buffer: a shorter length would leave the LANA
  // numbers of later adapters unset, and they would all read as LANA 0.
  Block.ncb_length = sizeof Lanas;
  Network::Netbios(&Block);

  QString Result;
  std::size_t Index = 0;
  do {
    const std::uint8_t Lana = Lanas.lana[Index];
    Block = {};
    Block.ncb_command = Network::NCBRESET;
    Block.ncb_lana_num = Lana;
    Network::Netbios(&Block);

    Block = {};
    Block.ncb_command = Network::NCBASTAT;
    Block.ncb_lana_num = Lana;
    std::memset(Block.ncb_callname, ' ', Network::NCBNAMSZ);
    Block.ncb_callname[0] = '*';
    Block.ncb_buffer = Status.data();
    Block.ncb_length = Status.size();
    const std::uint8_t Code = Network::Netbios(&Block);
    // A 60-byte buffer is too short for the name table that follows the
    // status: "incomplete" still carries the address.
    if (Code == Network::NRC_GOODRET || Code == Network::NRC_INCOMP) {
      QStringList Bytes;
      for (int I = 0; I < 6; ++I)
        Bytes << QStringLiteral("%1").arg(Status[static_cast<std::size_t>(I)], 2, 16, QLatin1Char('0')).toUpper();
      Result = Bytes.join(QLatin1Char('-'));
    }
    ++Index;
  } while (Index < Lanas.length && Result == AllZero);
  return Result;
}

// ---- process list -----------------------------------------------------------------

QString FormatWorkingSet(double Bytes)
{
  QString Text = QString::number(Bytes / 1024, 'g', 15);
  Text.replace(QLatin1Char('.'), FormatSettings::DecimalSeparator());
  return Text;
}

void WriteProcessInformation(const QString& FileName)
{
  const auto Services = ConnectWmi(WmiMoniker);
  const auto Enumerator = QueryAll(*Services, QStringLiteral("SELECT * FROM Win32_Process"));
  // Closed on every path by its destructor; what was written stays.
  TextFile::TTextFile Report(FileName);
  Report.Append();
  Report.WriteLn(ProcessStartMarker());
  Report.WriteLn(ProcessHeader());
  QVariant Item;
  std::uint32_t Fetched = 0;
  while (Enumerator->Next(1, &Item, &Fetched) == Wmi::S_OK) {
    const auto Process = DispatchOf(Item, QStringLiteral("Win32_Process"));
    QVariantList Owner{QString(), QString()};
    const QVariant Status = Call(*Process, QStringLiteral("GetOwner"), Owner);
    TProcessRow Row;
    Row.Caption = Text(Get(*Process, QStringLiteral("Caption")));
    Row.ProcessId = Text(Get(*Process, QStringLiteral("ProcessId")));
    Row.WorkingSetKb = FormatWorkingSet(Get(*Process, QStringLiteral("WorkingSetSize")).toDouble());
    bool Ok = false;
    Row.HasOwner = Status.toLongLong(&Ok) == 0 && Ok;
    if (Row.HasOwner) {
      Row.User = Text(Owner.value(0));
      Row.Domain = Text(Owner.value(1));
    }
    Report.WriteLn(ProcessRow(Row));
  }
  Report.WriteLn(ProcessEndMarker());
  Report.Close();
}

// ---- the block --------------------------------------------------------------------

void WriteEnvironmentLines(TextFile::TTextFile& Report, const QString& ExePath)
{
  TapplicationInformation System;
  GetApplicationInformation(System);
  // The boot device is gathered with the other system values but written
  // after the computer name.
  for (const QString* Line : {&System.OSName, &System.Version, &System.BuildNumber, &System.BuildType, &System.CodeSet,
                              &System.CountryCode, &System.Bit, &System.SystemDirectory, &System.RamInUse,
                              &System.RamTotal, &System.RamAvail, &System.SystemName, &System.BootDevice})
    Report.WriteLn(*Line);

  TCPUInformation Cpu;
  GetCPUInformation(Cpu);
  Report.WriteLn(Cpu.VendorID);
  Report.WriteLn(Cpu.CPUname);

  TNetworkInfo Net;
  GetNetworkInfo(Net);
  Report.WriteLn(Net.IPAddress);
  Report.WriteLn(Net.MACAddress);

  WriteVersionResourceLines(Report, ExePath);
}

void WriteVersionResourceLines(TextFile::TTextFile& Report, const QString& ExePath)
{
  std::uint32_t Handle = 0;
  const std::uint32_t Size = VersionResource::GetFileVersionInfoSizeW(ExePath, &Handle);
  if (Size == 0) {
    Report.WriteLn(NoVersionInfoLine);
    return;
  }
  std::vector<std::uint8_t> Block(Size);
  Report.WriteLn(VersionSizeLine(Size));
  // The file may have changed since its size was read: then there is
  // nothing to query.
  if (!VersionResource::GetFileVersionInfoW(ExePath, Handle, Size, Block.data()))
    return;
  for (const TVersionKey& Key : VersionKeys) {
    const void* Value = nullptr;
    std::uint32_t Length = 0;
    if (!VersionResource::VerQueryValueW(Block.data(), QStringLiteral("StringFileInfo\\040904E4\\") + Key.Key, &Value,
                                         &Length))
      continue;
    QString Text = QString::fromUtf16(static_cast<const char16_t*>(Value), Length);
    Text.truncate(Text.indexOf(QChar(u'\0')) < 0 ? Text.size() : Text.indexOf(QChar(u'\0')));
    Text = TrimControls(Text);
    if (!Text.isEmpty())
      Report.WriteLn(VersionLine(Key.Label, Text));
  }
}

}  // namespace Vesparo
