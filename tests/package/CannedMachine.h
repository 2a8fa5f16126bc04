#pragma once
// A machine made of canned data behind every stand-in the environment block
// reads; the real machine comes back when the object goes.

#include "package/VesparoEnvironment.h"
#include "platform/Cpuid.h"
#include "platform/MemoryStatus.h"
#include "platform/Network.h"
#include "platform/OsVersion.h"
#include "platform/SystemInfo.h"
#include "platform/Wmi.h"

#include <QByteArray>

#include <cstring>
#include <map>
#include <memory>
#include <vector>

namespace EnvironmentTests {

// The 48 brand characters as the three leaves give them.
inline std::map<std::uint32_t, Cpuid::TCpuidRegisters> BrandLeaves(const QByteArray& Brand48)
{
  std::map<std::uint32_t, Cpuid::TCpuidRegisters> Leaves;
  for (std::uint32_t I = 0; I < 3; ++I) {
    Cpuid::TCpuidRegisters R;
    std::memcpy(&R.Eax, Brand48.constData() + I * 16, 4);
    std::memcpy(&R.Ebx, Brand48.constData() + I * 16 + 4, 4);
    std::memcpy(&R.Ecx, Brand48.constData() + I * 16 + 8, 4);
    std::memcpy(&R.Edx, Brand48.constData() + I * 16 + 12, 4);
    Leaves[0x80000002 + I] = R;
  }
  return Leaves;
}

inline Wmi::TInstance Process(const QString& Caption, uint Pid, qulonglong WorkingSet,
                              std::optional<Wmi::TOwner> Owner)
{
  Wmi::TInstance P;
  P.Properties.insert(QStringLiteral("Caption"), Caption);
  P.Properties.insert(QStringLiteral("ProcessId"), Pid);
  P.Properties.insert(QStringLiteral("WorkingSetSize"), WorkingSet);
  P.Owner = Owner ? Owner : Wmi::TOwner{2, {}, {}};
  return P;
}

struct TCannedMachine {
  OsVersion::OSVERSIONINFOEXW Version{};
  bool VersionFails = false;
  std::optional<std::pair<bool, bool>> Wow64 = std::pair{true, false};
  bool ProcessIs64Bit = false;
  QByteArray Meminfo = "MemTotal: 8388608 kB\nMemAvailable: 3145728 kB\n";
  QString HostName = QStringLiteral("testhost");
  std::map<std::uint32_t, Cpuid::TCpuidRegisters> Leaves;
  std::optional<std::vector<Network::TIPv4Address>> Addresses =
    std::vector<Network::TIPv4Address>{{10, 0, 0, 2}, {192, 168, 1, 7}};
  std::vector<Network::TAdapter> Adapters{{{0, 0, 0, 0, 0, 0}}, {{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}}};
  std::shared_ptr<Wmi::TServices> Services = std::make_shared<Wmi::TServices>();
  Wmi::HRESULT BindResult = Wmi::S_OK;
  std::vector<Wmi::TInstance> Systems;
  std::vector<Wmi::TInstance> Processes;
  int VersionQueries = 0;
  QString ResolvedName;  // the host name last given to the resolver

  TCannedMachine()
  {
    Version.dwPlatformId = OsVersion::VER_PLATFORM_WIN32_NT;
    Version.dwMajorVersion = 6;
    Version.dwMinorVersion = 1;
    Version.wServicePackMajor = 1;
    Leaves[0] = {0x0D, 0x756E6547, 0x6C65746E, 0x49656E69};  // "GenuineIntel"
    Leaves[0x80000000] = {0x80000008, 0, 0, 0};
    const auto Brand = BrandLeaves(QByteArray("       Test(R) CPU @ 1.00GHz") + QByteArray(20, '\0'));
    Leaves.insert(Brand.begin(), Brand.end());

    Wmi::TInstance System;
    System.Properties.insert(QStringLiteral("Version"), QStringLiteral("6.1.7601"));
    System.Properties.insert(QStringLiteral("BuildNumber"), QStringLiteral("7601"));
    System.Properties.insert(QStringLiteral("BuildType"), QStringLiteral("Multiprocessor Free"));
    System.Properties.insert(QStringLiteral("CodeSet"), QStringLiteral("1252"));
    System.Properties.insert(QStringLiteral("CountryCode"), QStringLiteral("49"));
    System.Properties.insert(QStringLiteral("BootDevice"), QStringLiteral("\\Device\\HarddiskVolume1"));
    Systems = {System};
    Processes = {Process(QStringLiteral("svchost.exe"), 1234, 5242880,
                         Wmi::TOwner{0, QStringLiteral("SYSTEM"), QStringLiteral("NT AUTHORITY")}),
                 Process(QStringLiteral("System"), 4, 5000, std::nullopt)};
    Services->AddClass(QStringLiteral("Win32_OperatingSystem"), [this] { return Systems; });
    Services->AddClass(QStringLiteral("Win32_Process"), [this] { return Processes; });

    OsVersion::TSource Os;
    Os.Version = [this](OsVersion::OSVERSIONINFOEXW& Info) {
      ++VersionQueries;
      if (VersionFails && Info.dwOSVersionInfoSize == OsVersion::OsVersionInfoExSize)
        return false;
      const std::uint32_t Size = Info.dwOSVersionInfoSize;
      Info = Version;
      Info.dwOSVersionInfoSize = Size;
      return true;
    };
    Os.Wow64 = [this] { return Wow64; };
    Os.ProcessIs64Bit = [this] { return ProcessIs64Bit; };
    OsVersion::SetSource(Os);
    MemoryStatus::SetSource([this]() -> std::optional<QByteArray> {
      if (Meminfo.isEmpty())
        return std::nullopt;
      return Meminfo;
    });
    SystemInfo::SetHostNameSource([this] { return HostName; });
    Cpuid::SetSource([this](std::uint32_t Leaf) {
      const auto Found = Leaves.find(Leaf);
      return Found == Leaves.end() ? Cpuid::TCpuidRegisters{} : Found->second;
    });
    Network::TSource Net;
    Net.HostName = [this] { return HostName; };
    Net.Resolve = [this](const QString& Name) {
      ResolvedName = Name;
      return Addresses;
    };
    Net.Adapters = [this] { return Adapters; };
    Network::SetSource(Net);
    Wmi::SetServiceProvider([this](const QString&, std::shared_ptr<Wmi::IDispatch>& S) {
      S = Services;
      return BindResult;
    });
    Vesparo::ResetOperatingSystemClass();
  }

  ~TCannedMachine()
  {
    OsVersion::SetSource({});
    MemoryStatus::SetSource({});
    SystemInfo::SetHostNameSource({});
    Cpuid::SetSource({});
    Network::SetSource({});
    Wmi::SetServiceProvider({});
    Vesparo::ResetOperatingSystemClass();
  }

  TCannedMachine(const TCannedMachine&) = delete;
  TCannedMachine& operator=(const TCannedMachine&) = delete;
};

}  // namespace EnvironmentTests
