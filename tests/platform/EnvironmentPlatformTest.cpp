// The stand-ins for the machine's environment: what they read from this
// machine, and the rules of their calls.

#include "platform/AnsiCodePage.h"
#include "platform/MemoryStatus.h"
#include "platform/Network.h"
#include "platform/OsVersion.h"
#include "platform/SystemInfo.h"
#include "platform/Wmi.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

TEST(OsVersion, RecordDescribesTheKernelAndRespectsItsSize)
{
  utsname Name{};
  ASSERT_EQ(::uname(&Name), 0);
  unsigned Major = 0, Minor = 0;
  ASSERT_EQ(std::sscanf(Name.release, "%u.%u", &Major, &Minor), 2);

  OsVersion::OSVERSIONINFOEXW Info{};
  Info.dwOSVersionInfoSize = OsVersion::OsVersionInfoExSize;
  ASSERT_TRUE(OsVersion::GetVersionExW(&Info));
  EXPECT_EQ(Info.dwPlatformId, OsVersion::VER_PLATFORM_WIN32s);
  EXPECT_EQ(Info.dwMajorVersion, Major);
  EXPECT_EQ(Info.dwMinorVersion, Minor);

  // A plain record is filled only as far as it reaches.
  OsVersion::TSource Canned;
  Canned.Version = [](OsVersion::OSVERSIONINFOEXW& R) {
    R.dwMajorVersion = 5;
    R.wServicePackMajor = 2;
    return true;
  };
  OsVersion::SetSource(Canned);
  OsVersion::OSVERSIONINFOEXW Plain{};
  Plain.dwOSVersionInfoSize = OsVersion::OsVersionInfoSize;
  Plain.wServicePackMajor = 77;
  ASSERT_TRUE(OsVersion::GetVersionExW(&Plain));
  EXPECT_EQ(Plain.dwMajorVersion, 5u);
  EXPECT_EQ(Plain.wServicePackMajor, 77);
  OsVersion::SetSource({});

  OsVersion::OSVERSIONINFOEXW Wrong{};
  Wrong.dwOSVersionInfoSize = 100;
  EXPECT_FALSE(OsVersion::GetVersionExW(&Wrong));
  EXPECT_EQ(Wrong.dwMajorVersion, 0u);

  // This 64-bit test process is no WOW64 process.
  ASSERT_TRUE(OsVersion::ProcessIs64Bit());
  const auto Entry = OsVersion::GetIsWow64ProcessEntry();
  ASSERT_NE(Entry, nullptr);
  bool Wow64 = true;
  EXPECT_TRUE(Entry(&Wow64));
  EXPECT_FALSE(Wow64);
}

TEST(MemoryStatus, FiguresAre64BitByteCounts)
{
  // 48 GiB, a quarter of it available: counts past 4 GiB come out whole.
  const auto Status = MemoryStatus::FromMeminfo("MemTotal:       50331648 kB\n"
                                                "MemFree:         1000000 kB\n"
                                                "MemAvailable:   12582912 kB\n");
  ASSERT_TRUE(Status);
  EXPECT_EQ(Status->ullTotalPhys, 51539607552ull);
  EXPECT_EQ(Status->ullAvailPhys, 12884901888ull);
  EXPECT_EQ(Status->dwMemoryLoad, 75u);

  // Old kernels without MemAvailable: the free memory; load rounded.
  const auto Old = MemoryStatus::FromMeminfo("MemTotal: 3000 kB\nMemFree: 1000 kB\n");
  ASSERT_TRUE(Old);
  EXPECT_EQ(Old->ullAvailPhys, 1024000u);
  EXPECT_EQ(Old->dwMemoryLoad, 67u);

  EXPECT_FALSE(MemoryStatus::FromMeminfo("MemFree: 1000 kB\n"));
  EXPECT_FALSE(MemoryStatus::FromMeminfo("MemTotal: 0 kB\n"));
  EXPECT_FALSE(MemoryStatus::FromMeminfo("MemTotal: lots kB\n"));

  // The real machine.
  MemoryStatus::MEMORYSTATUSEX Real{};
  Real.dwLength = sizeof Real;
  ASSERT_TRUE(MemoryStatus::GlobalMemoryStatusEx(&Real));
  EXPECT_GT(Real.ullTotalPhys, 0u);
  EXPECT_LE(Real.ullAvailPhys, Real.ullTotalPhys);
  EXPECT_LE(Real.dwMemoryLoad, 100u);
  MemoryStatus::MEMORYSTATUSEX WrongLength{};
  WrongLength.dwLength = 32;
  EXPECT_FALSE(MemoryStatus::GlobalMemoryStatusEx(&WrongLength));
}

TEST(SystemInfo, ComputerNameAndSystemDirectory)
{
  EXPECT_EQ(SystemInfo::ComputerNameFor(QStringLiteral("build-host.example.org")), QStringLiteral("build-host"));
  EXPECT_EQ(SystemInfo::ComputerNameFor(QStringLiteral("a-very-long-host-name")), QStringLiteral("a-very-long-hos"));

  char Host[256] = {};
  ASSERT_EQ(::gethostname(Host, sizeof Host - 1), 0);
  char16_t Buffer[16] = {};
  std::uint32_t Size = 16;
  ASSERT_TRUE(SystemInfo::GetComputerNameW(Buffer, &Size));
  EXPECT_EQ(QString::fromUtf16(Buffer), SystemInfo::ComputerNameFor(QString::fromLocal8Bit(Host)));
  EXPECT_EQ(Size, static_cast<std::uint32_t>(QString::fromUtf16(Buffer).size()));

  SystemInfo::SetHostNameSource([] { return QStringLiteral("fifteen-chars-x.lan"); });
  char16_t Small[8] = {u'k', u'e', u'e', u'p', 0};
  Size = 8;
  EXPECT_FALSE(SystemInfo::GetComputerNameW(Small, &Size));
  EXPECT_EQ(Size, 16u);
  EXPECT_EQ(QString::fromUtf16(Small), QStringLiteral("keep"));
  SystemInfo::SetHostNameSource([] { return QString(); });
  Size = 16;
  EXPECT_FALSE(SystemInfo::GetComputerNameW(Buffer, &Size));
  SystemInfo::SetHostNameSource({});

  char16_t Directory[260] = {};
  EXPECT_EQ(SystemInfo::GetSystemDirectoryW(Directory, 260), 8u);
  EXPECT_EQ(QString::fromUtf16(Directory), QStringLiteral("/usr/lib"));
  EXPECT_TRUE(QFileInfo(QStringLiteral("/usr/lib")).isDir());
  char16_t Tiny[4] = {};
  EXPECT_EQ(SystemInfo::GetSystemDirectoryW(Tiny, 4), 9u);
  EXPECT_EQ(Tiny[0], u'\0');
}

TEST(Network, ControlBlockCommands)
{
  using namespace Network;
  TSource Canned;
  Canned.Adapters = [] {
    return std::vector<TAdapter>{{{0, 0, 0, 0, 0, 0}}, {{0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}}, {{}, 0x34}};
  };
  SetSource(Canned);
  NCB Block{};
  LANA_ENUM Lanas{};
  Block.ncb_command = NCBENUM;
  Block.ncb_buffer = reinterpret_cast<std::uint8_t*>(&Lanas);
  Block.ncb_length = sizeof Lanas;
  EXPECT_EQ(Netbios(&Block), NRC_GOODRET);
  EXPECT_EQ(Lanas.length, 3);
  EXPECT_EQ(Lanas.lana[2], 2);
  // A buffer too short for every LANA number says so.
  LANA_ENUM Short{};
  Block.ncb_buffer = reinterpret_cast<std::uint8_t*>(&Short);
  Block.ncb_length = 2;
  EXPECT_EQ(Netbios(&Block), NRC_INCOMP);
  EXPECT_EQ(Short.length, 3);
  EXPECT_EQ(Short.lana[1], 0);

  std::uint8_t Status[60];
  Block = {};
  Block.ncb_command = NCBASTAT;
  Block.ncb_lana_num = 1;
  Block.ncb_buffer = Status;
  Block.ncb_length = sizeof Status;
  EXPECT_EQ(Netbios(&Block), NRC_GOODRET);
  EXPECT_EQ(Block.ncb_retcode, NRC_GOODRET);
  EXPECT_EQ(QByteArray(reinterpret_cast<char*>(Status), 6), QByteArray("\x02\x1A\x2B\x3C\x4D\x5E", 6));
  Block.ncb_length = 20;
  EXPECT_EQ(Netbios(&Block), NRC_INCOMP);
  Block.ncb_lana_num = 2;
  EXPECT_EQ(Netbios(&Block), 0x34);
  Block.ncb_lana_num = 3;
  EXPECT_EQ(Netbios(&Block), NRC_BRIDGE);
  Block = {};
  Block.ncb_command = NCBRESET;
  Block.ncb_lana_num = 2;
  EXPECT_EQ(Netbios(&Block), NRC_GOODRET);
  Block.ncb_command = 0x99;
  EXPECT_EQ(Netbios(&Block), NRC_ILLCMD);
  SetSource({});

  // The real machine has at least the loopback interface, whose address is
  // all zero.
  const std::vector<TAdapter> Real = Adapters();
  ASSERT_FALSE(Real.empty());
  EXPECT_EQ(Real[0].Address, (std::array<std::uint8_t, 6>{}));
}

TEST(Network, HostNameAndAddresses)
{
  using namespace Network;
  char Name[64] = {};
  ASSERT_EQ(Network::gethostname(Name, sizeof Name), 0);
  char Host[256] = {};
  ::gethostname(Host, sizeof Host - 1);
  EXPECT_STREQ(Name, Host);
  char Tiny[2] = {};
  EXPECT_EQ(Network::gethostname(Tiny, sizeof Tiny), -1);

  EXPECT_EQ(inet_ntoa({192, 168, 0, 254}), QStringLiteral("192.168.0.254"));
  // Resolving gives each address once, IPv4 only.
  const auto Local = Network::gethostbyname("localhost");
  ASSERT_TRUE(Local);
  ASSERT_FALSE(Local->empty());
  EXPECT_EQ(inet_ntoa(Local->front()), QStringLiteral("127.0.0.1"));
  EXPECT_EQ(std::count(Local->begin(), Local->end(), Local->front()), 1);
  EXPECT_FALSE(Network::gethostbyname("no-such-host.invalid"));
}

namespace {

std::shared_ptr<Wmi::IDispatch> Bind(const QString& Moniker, Wmi::HRESULT* Result)
{
  std::shared_ptr<Wmi::IBindCtx> Context;
  EXPECT_EQ(Wmi::CreateBindCtx(0, Context), Wmi::S_OK);
  std::shared_ptr<Wmi::IMoniker> Parsed;
  *Result = Wmi::MkParseDisplayName(Context.get(), Moniker, nullptr, Parsed);
  if (Wmi::Failed(*Result))
    return nullptr;
  std::shared_ptr<Wmi::IUnknown> Object;
  *Result = Parsed->BindToObject(Context.get(), nullptr, Object);
  return std::dynamic_pointer_cast<Wmi::IDispatch>(Object);
}

std::vector<std::shared_ptr<Wmi::IDispatch>> All(Wmi::IDispatch& Services, const QString& Query,
                                                 Wmi::HRESULT* Result = nullptr)
{
  QVariantList Args{Query, QStringLiteral("WQL"), 0};
  QVariant Set;
  const Wmi::HRESULT Code = Services.Invoke(QStringLiteral("ExecQuery"), Args, Set);
  if (Result)
    *Result = Code;
  std::vector<std::shared_ptr<Wmi::IDispatch>> Objects;
  if (Wmi::Failed(Code))
    return Objects;
  QVariant Enum;
  EXPECT_EQ(std::dynamic_pointer_cast<Wmi::IDispatch>(Wmi::ObjectOf(Set))->GetProperty(QStringLiteral("_NewEnum"), Enum),
            Wmi::S_OK);
  auto Enumerator = std::dynamic_pointer_cast<Wmi::IEnumVARIANT>(Wmi::ObjectOf(Enum));
  QVariant Item;
  std::uint32_t Fetched = 0;
  while (Enumerator->Next(1, &Item, &Fetched) == Wmi::S_OK)
    Objects.push_back(std::dynamic_pointer_cast<Wmi::IDispatch>(Wmi::ObjectOf(Item)));
  EXPECT_EQ(Fetched, 0u);
  return Objects;
}

QVariant Get(Wmi::IDispatch& Object, const char* Name)
{
  QVariant Value;
  EXPECT_EQ(Object.GetProperty(QString::fromLatin1(Name), Value), Wmi::S_OK) << Name;
  return Value;
}

}  // namespace

TEST(Wmi, MonikersAndQueries)
{
  Wmi::HRESULT Result = 0;
  EXPECT_TRUE(Bind(QStringLiteral("winmgmts:\\\\localhost\\root\\cimv2"), &Result));
  EXPECT_TRUE(Bind(QStringLiteral("WINMGMTS:{impersonationLevel=impersonate}!//./root/CIMV2"), &Result));
  EXPECT_TRUE(Bind(QStringLiteral("winmgmts:"), &Result));
  EXPECT_FALSE(Bind(QStringLiteral("notwmi:\\\\localhost\\root\\cimv2"), &Result));
  EXPECT_EQ(Result, Wmi::MK_E_SYNTAX);
  EXPECT_FALSE(Bind(QStringLiteral("winmgmts:\\\\localhost\\root\\other"), &Result));
  EXPECT_EQ(Result, Wmi::WBEM_E_INVALID_NAMESPACE);
  EXPECT_FALSE(Bind(QStringLiteral("winmgmts:\\\\elsewhere.invalid\\root\\cimv2"), &Result));
  EXPECT_EQ(Result, Wmi::WBEM_E_TRANSPORT_FAILURE);

  auto Services = Bind(QStringLiteral("winmgmts:\\\\localhost\\root\\cimv2"), &Result);
  ASSERT_TRUE(Services);
  All(*Services, QStringLiteral("SELECT * FROM Win32_Nothing"), &Result);
  EXPECT_EQ(Result, Wmi::WBEM_E_INVALID_CLASS);
  All(*Services, QStringLiteral("SELECT Name FROM Win32_Process WHERE x"), &Result);
  EXPECT_EQ(Result, Wmi::WBEM_E_INVALID_QUERY);
  QVariantList Args{QStringLiteral("SELECT * FROM Win32_Process"), QStringLiteral("SQL"), 0};
  QVariant Set;
  EXPECT_EQ(Services->Invoke(QStringLiteral("ExecQuery"), Args, Set), Wmi::WBEM_E_INVALID_QUERY_TYPE);

  // A provider standing in for the machine, and a failing one.
  auto Canned = std::make_shared<Wmi::TServices>();
  Canned->AddClass(QStringLiteral("Win32_Process"), [] {
    Wmi::TInstance A;
    A.Properties.insert(QStringLiteral("Caption"), QStringLiteral("a.exe"));
    A.Owner = Wmi::TOwner{0, QStringLiteral("anna"), QStringLiteral("HOST")};
    Wmi::TInstance B;
    B.Owner = Wmi::TOwner{2, {}, {}};
    return std::vector<Wmi::TInstance>{A, B};
  });
  Wmi::SetServiceProvider([Canned](const QString&, std::shared_ptr<Wmi::IDispatch>& S) {
    S = Canned;
    return Wmi::S_OK;
  });
  Services = Bind(QStringLiteral("winmgmts:\\\\localhost\\root\\cimv2"), &Result);
  ASSERT_TRUE(Services);
  const auto Objects = All(*Services, QStringLiteral("select * from win32_process"));
  ASSERT_EQ(Objects.size(), 2u);
  EXPECT_EQ(Get(*Objects[0], "caption").toString(), QStringLiteral("a.exe"));
  QVariant Missing;
  EXPECT_EQ(Objects[1]->GetProperty(QStringLiteral("Caption"), Missing), Wmi::DISP_E_UNKNOWNNAME);
  QVariantList Owner{QString(), QString()};
  QVariant Status;
  ASSERT_EQ(Objects[0]->Invoke(QStringLiteral("GetOwner"), Owner, Status), Wmi::S_OK);
  EXPECT_EQ(Status.toUInt(), 0u);
  EXPECT_EQ(Owner, (QVariantList{QStringLiteral("anna"), QStringLiteral("HOST")}));
  Owner = {QString(), QString()};
  ASSERT_EQ(Objects[1]->Invoke(QStringLiteral("GetOwner"), Owner, Status), Wmi::S_OK);
  EXPECT_EQ(Status.toUInt(), 2u);
  EXPECT_EQ(Owner, (QVariantList{QString(), QString()}));
  QVariantList One{QString()};
  EXPECT_EQ(Objects[0]->Invoke(QStringLiteral("GetOwner"), One, Status), Wmi::DISP_E_BADPARAMCOUNT);

  Wmi::SetServiceProvider([](const QString&, std::shared_ptr<Wmi::IDispatch>&) { return Wmi::WBEM_E_FAILED; });
  EXPECT_FALSE(Bind(QStringLiteral("winmgmts:\\\\localhost\\root\\cimv2"), &Result));
  EXPECT_EQ(Result, Wmi::WBEM_E_FAILED);
  Wmi::SetServiceProvider({});
}

TEST(Wmi, MachineClassesDescribeThisMachine)
{
  const auto Systems = Wmi::OperatingSystemInstances();
  ASSERT_EQ(Systems.size(), 1u);
  utsname Name{};
  ::uname(&Name);
  const QVariantMap& Os = Systems[0].Properties;
  EXPECT_EQ(Os.value(QStringLiteral("Version")).toString(), QString::fromLatin1(Name.release));
  EXPECT_EQ(Os.value(QStringLiteral("CodeSet")).toString(), QString::number(AnsiCodePage::GetACP()));
  EXPECT_TRUE(Os.value(QStringLiteral("BootDevice")).toString().size() > 0);
  EXPECT_FALSE(Os.value(QStringLiteral("BuildNumber")).toString().isEmpty());

  // This process, under its whole name (longer than the kernel's 15
  // characters), owned by this user.
  const QString Self = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).fileName();
  ASSERT_GT(Self.size(), 15);
  const auto Processes = Wmi::ProcessInstances();
  const auto Own = std::find_if(Processes.begin(), Processes.end(), [](const Wmi::TInstance& P) {
    return P.Properties.value(QStringLiteral("ProcessId")).toUInt() == static_cast<uint>(::getpid());
  });
  ASSERT_NE(Own, Processes.end());
  EXPECT_EQ(Own->Properties.value(QStringLiteral("Caption")).toString(), Self);
  EXPECT_GT(Own->Properties.value(QStringLiteral("WorkingSetSize")).toULongLong(), 1024u * 1024u);
  ASSERT_TRUE(Own->Owner);
  EXPECT_EQ(Own->Owner->Status, 0u);
  EXPECT_EQ(Own->Owner->User, QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name));
  EXPECT_GT(Processes.size(), 1u);
}

TEST(Wmi, CountryCodesOfLocales)
{
  EXPECT_EQ(Wmi::CountryCodeForLocale(QStringLiteral("de_DE.UTF-8")), QStringLiteral("49"));
  EXPECT_EQ(Wmi::CountryCodeForLocale(QStringLiteral("en_GB")), QStringLiteral("44"));
  EXPECT_EQ(Wmi::CountryCodeForLocale(QStringLiteral("fr_CA.UTF-8@euro")), QStringLiteral("1"));
  EXPECT_EQ(Wmi::CountryCodeForLocale(QStringLiteral("C")), QStringLiteral("1"));
  EXPECT_EQ(Wmi::CountryCodeForLocale(QStringLiteral("POSIX")), QStringLiteral("1"));
  EXPECT_EQ(Wmi::CountryCodeForLocale(QStringLiteral("xx_QQ")), QString());
}
