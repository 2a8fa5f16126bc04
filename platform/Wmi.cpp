#include "platform/Wmi.h"

#include "platform/AnsiCodePage.h"
#include "platform/Posix.h"
#include "platform/ReplaceableSource.h"
#include "platform/SystemInfo.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <utility>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace Wmi {

IUnknown::~IUnknown() = default;

namespace {

ReplaceableSource::TReplaceableSource<TServiceProvider> CurrentProvider;

// ---- the moniker ---------------------------------------------------------

class TBindCtx : public IBindCtx {};

bool IsLocalServer(const QString& Server)
{
  if (Server == QLatin1String(".") || Server.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
    return true;
  const QString Host = SystemInfo::HostName();
  if (Host.isEmpty())
    return false;
  return Server.compare(Host, Qt::CaseInsensitive) == 0 ||
         Server.compare(SystemInfo::ComputerNameFor(Host), Qt::CaseInsensitive) == 0;
}

class TWmiMoniker : public IMoniker {
public:
  TWmiMoniker(QString Server, QString Namespace) : FServer(std::move(Server)), FNamespace(std::move(Namespace)) {}

  HRESULT BindToObject(IBindCtx* Context, IMoniker* Left, std::shared_ptr<IUnknown>& Object) override
  {
    Object.reset();
    if (!Context || Left)
      return E_INVALIDARG;
    // Other machines are out of reach: there is no transport to them.
    if (!IsLocalServer(FServer))
      return WBEM_E_TRANSPORT_FAILURE;
    const TServiceProvider Provider = CurrentProvider.Get();
    std::shared_ptr<IDispatch> Services;
    HRESULT Result;
    if (Provider) {
      Result = Provider(FNamespace, Services);
    } else if (FNamespace.compare(QLatin1String("root\\cimv2"), Qt::CaseInsensitive) == 0) {
      Services = MachineServices();
      Result = S_OK;
    } else {
      Result = WBEM_E_INVALID_NAMESPACE;
    }
    if (Failed(Result))
      return Result;
    if (!Services)
      return WBEM_E_FAILED;
    Object = Services;
    return S_OK;
  }

private:
  QString FServer, FNamespace;
};

// ---- objects of the service ----------------------------------------------

std::optional<QVariant> Lookup(const QVariantMap& Properties, const QString& Name)
{
  for (auto It = Properties.begin(); It != Properties.end(); ++It)
    if (It.key().compare(Name, Qt::CaseInsensitive) == 0)
      return It.value();
  return std::nullopt;
}

class TObject : public IDispatch {
public:
  explicit TObject(TInstance Instance) : FInstance(std::move(Instance)) {}

  HRESULT GetProperty(const QString& Name, QVariant& Value) override
  {
    const auto Found = Lookup(FInstance.Properties, Name);
    if (!Found)
      return DISP_E_UNKNOWNNAME;
    Value = *Found;
    return S_OK;
  }

  HRESULT Invoke(const QString& Name, QVariantList& Args, QVariant& Result) override
  {
    if (Name.compare(QLatin1String("GetOwner"), Qt::CaseInsensitive) != 0 || !FInstance.Owner)
      return DISP_E_MEMBERNOTFOUND;
    if (Args.size() != 2)
      return DISP_E_BADPARAMCOUNT;
    const TOwner& Owner = *FInstance.Owner;
    // Out parameters are set only when the owner was found.
    if (Owner.Status == 0) {
      Args[0] = Owner.User;
      Args[1] = Owner.Domain;
    }
    Result = QVariant::fromValue(Owner.Status);
    return S_OK;
  }

private:
  TInstance FInstance;
};

class TEnumerator : public IEnumVARIANT {
public:
  explicit TEnumerator(std::shared_ptr<const std::vector<TInstance>> Instances) : FInstances(std::move(Instances)) {}

  HRESULT Next(std::uint32_t Count, QVariant* Items, std::uint32_t* Fetched) override
  {
    if (Count > 0 && !Items)
      return E_INVALIDARG;
    std::uint32_t Done = 0;
    while (Done < Count && FPosition < FInstances->size())
      Items[Done++] = VariantOf(std::make_shared<TObject>((*FInstances)[FPosition++]));
    if (Fetched)
      *Fetched = Done;
    return Done == Count ? S_OK : S_FALSE;
  }

private:
  std::shared_ptr<const std::vector<TInstance>> FInstances;
  std::size_t FPosition = 0;
};

class TObjectSet : public IDispatch {
public:
  explicit TObjectSet(std::vector<TInstance> Instances)
    : FInstances(std::make_shared<const std::vector<TInstance>>(std::move(Instances)))
  {
  }

  HRESULT GetProperty(const QString& Name, QVariant& Value) override
  {
    if (Name.compare(QLatin1String("_NewEnum"), Qt::CaseInsensitive) == 0) {
      Value = VariantOf(std::make_shared<TEnumerator>(FInstances));
      return S_OK;
    }
    if (Name.compare(QLatin1String("Count"), Qt::CaseInsensitive) == 0) {
      Value = static_cast<int>(FInstances->size());
      return S_OK;
    }
    return DISP_E_UNKNOWNNAME;
  }

  HRESULT Invoke(const QString&, QVariantList&, QVariant&) override { return DISP_E_MEMBERNOTFOUND; }

private:
  std::shared_ptr<const std::vector<TInstance>> FInstances;
};

// ---- the machine's classes -----------------------------------------------

enum class TUnameField { SysName, Release, Version };

QString Uname(TUnameField Field)
{
  utsname Name{};
  if (::uname(&Name) != 0)
    return {};
  switch (Field) {
  case TUnameField::SysName: return QString::fromLocal8Bit(Name.sysname);
  case TUnameField::Release: return QString::fromLocal8Bit(Name.release);
  case TUnameField::Version: return QString::fromLocal8Bit(Name.version);
  }
  return {};
}

// The device mounted at "/" (the last mount there wins: it hides the others).
QString RootDevice()
{
  QString Device;
  for (const QByteArray& Line : Posix::ReadFileAt(AT_FDCWD, "/proc/self/mounts").value_or(QByteArray()).split('\n')) {
    const QList<QByteArray> Fields = Line.split(' ');
    if (Fields.size() >= 2 && Fields[1] == "/")
      Device = QFile::decodeName(Fields[0]);
  }
  return Device;
}

QString LocaleNameOfTelephone()
{
  for (const char* Name : {"LC_ALL", "LC_TELEPHONE", "LANG"}) {
    const char* Value = std::getenv(Name);
    if (Value && *Value)
      return QString::fromLocal8Bit(Value);
  }
  return QStringLiteral("C");
}

QString HostComputerName()
{
  const QString Host = SystemInfo::HostName();
  return Host.isEmpty() ? QString() : SystemInfo::ComputerNameFor(Host);
}

// User names by uid, looked up once per query.
class TUserNames {
public:
  QString NameOf(uid_t Uid)
  {
    const auto Found = FNames.find(Uid);
    if (Found != FNames.end())
      return Found->second;
    passwd Entry{};
    passwd* Result = nullptr;
    std::vector<char> Buffer(4096);
    int Error;
    while ((Error = ::getpwuid_r(Uid, &Entry, Buffer.data(), Buffer.size(), &Result)) == ERANGE &&
           Buffer.size() < 1 << 20)
      Buffer.resize(Buffer.size() * 2);
    // An account without a name shows as its number, as process tools do.
    const QString Name = Error == 0 && Result ? QString::fromLocal8Bit(Entry.pw_name) : QString::number(Uid);
    FNames.emplace(Uid, Name);
    return Name;
  }

private:
  std::map<uid_t, QString> FNames;
};

// One process from its folder in /proc; nullopt when it went away.
std::optional<TInstance> ProcessInstance(const Posix::TProcessFolder& Folder, TUserNames& Users,
                                         const QString& Domain, long PageSize)
{
  const QByteArray Stat = Folder.Read("stat");
  // "pid (comm) state ..." where comm may itself hold blanks and parentheses.
  const qsizetype Open = Stat.indexOf('(');
  const qsizetype Close = Stat.lastIndexOf(')');
  if (Open < 0 || Close < Open)
    return std::nullopt;
  QString Caption = QString::fromLocal8Bit(Stat.mid(Open + 1, Close - Open - 1));
  const QList<QByteArray> Fields = Stat.mid(Close + 2).split(' ');
  // The kernel cuts the command name to 15 characters; the program's own
  // name in its command line is the whole of it.
  if (Caption.size() == 15) {
    const QByteArray CommandLine = Folder.Read("cmdline");
    const QByteArray Program = CommandLine.left(CommandLine.indexOf('\0'));
    const QString Whole = QFile::decodeName(Program.mid(Program.lastIndexOf('/') + 1));
    if (Whole.startsWith(Caption))
      Caption = Whole;
  }
  TOwner Owner;
  struct stat Info {};
  if (::fstat(Folder.Fd(), &Info) == 0) {
    Owner.User = Users.NameOf(Info.st_uid);
    Owner.Domain = Domain;
  } else {
    Owner.Status = errno == EACCES ? 2 : 8;
  }

  TInstance Instance;
  Instance.Properties.insert(QStringLiteral("Caption"), Caption);
  Instance.Properties.insert(QStringLiteral("Name"), Caption);
  Instance.Properties.insert(QStringLiteral("ProcessId"), static_cast<uint>(Folder.Pid()));
  // Resident pages are field 24 of the line, the 22nd after the name.
  const qulonglong Pages = Fields.size() > 21 ? Fields[21].toULongLong() : 0;
  Instance.Properties.insert(QStringLiteral("WorkingSetSize"), Pages * static_cast<qulonglong>(PageSize));
  Instance.Owner = Owner;
  return Instance;
}

}  // namespace

QVariant VariantOf(std::shared_ptr<IUnknown> Object) { return QVariant::fromValue(std::move(Object)); }

std::shared_ptr<IUnknown> ObjectOf(const QVariant& Value)
{
  if (!Value.canConvert<std::shared_ptr<IUnknown>>())
    return nullptr;
  return Value.value<std::shared_ptr<IUnknown>>();
}

HRESULT CreateBindCtx(std::uint32_t Reserved, std::shared_ptr<IBindCtx>& Context)
{
  Context.reset();
  if (Reserved != 0)
    return E_INVALIDARG;
  Context = std::make_shared<TBindCtx>();
  return S_OK;
}

HRESULT MkParseDisplayName(IBindCtx* Context, const QString& DisplayName, std::uint32_t* Eaten,
                           std::shared_ptr<IMoniker>& Moniker)
{
  Moniker.reset();
  if (Eaten)
    *Eaten = 0;
  if (!Context)
    return E_INVALIDARG;
  // winmgmts:[{settings}!]\\server\namespace, with "/" allowed for "\".
  static const QRegularExpression Pattern(
    QStringLiteral(R"(^winmgmts:(?:\{[^}]*\}!?)?(?:[\\/]{2}([^\\/]+)(?:[\\/](.+))?)?$)"),
    QRegularExpression::CaseInsensitiveOption);
  const QRegularExpressionMatch Match = Pattern.match(DisplayName);
  if (!Match.hasMatch())
    return MK_E_SYNTAX;
  const QString Server = Match.captured(1).isEmpty() ? QStringLiteral(".") : Match.captured(1);
  QString Namespace = Match.captured(2).isEmpty() ? QStringLiteral("root\\cimv2") : Match.captured(2);
  Namespace.replace(QLatin1Char('/'), QLatin1Char('\\'));
  Moniker = std::make_shared<TWmiMoniker>(Server, Namespace);
  if (Eaten)
    *Eaten = static_cast<std::uint32_t>(DisplayName.size());
  return S_OK;
}

void TServices::AddClass(const QString& ClassName, TClassEnumerator Enumerator)
{
  FClasses.emplace_back(ClassName, std::move(Enumerator));
}

HRESULT TServices::GetProperty(const QString&, QVariant&) { return DISP_E_UNKNOWNNAME; }

HRESULT TServices::Invoke(const QString& Name, QVariantList& Args, QVariant& Result)
{
  if (Name.compare(QLatin1String("ExecQuery"), Qt::CaseInsensitive) != 0)
    return DISP_E_MEMBERNOTFOUND;
  if (Args.isEmpty() || Args.size() > 3)
    return DISP_E_BADPARAMCOUNT;
  if (Args.size() >= 2 && Args[1].toString().compare(QLatin1String("WQL"), Qt::CaseInsensitive) != 0)
    return WBEM_E_INVALID_QUERY_TYPE;
  // The one query form the service answers: every instance of one class.
  static const QRegularExpression Query(QStringLiteral(R"(^\s*SELECT\s+\*\s+FROM\s+(\w+)\s*$)"),
                                        QRegularExpression::CaseInsensitiveOption);
  const QRegularExpressionMatch Match = Query.match(Args[0].toString());
  if (!Match.hasMatch())
    return WBEM_E_INVALID_QUERY;
  for (const auto& [ClassName, Enumerator] : FClasses) {
    if (ClassName.compare(Match.captured(1), Qt::CaseInsensitive) == 0) {
      Result = VariantOf(std::make_shared<TObjectSet>(Enumerator()));
      return S_OK;
    }
  }
  return WBEM_E_INVALID_CLASS;
}

std::vector<TInstance> OperatingSystemInstances()
{
  const QString Release = Uname(TUnameField::Release);
  const QString KernelVersion = Uname(TUnameField::Version);
  // "#1 SMP PREEMPT_DYNAMIC Debian ...": the build count after "#", and the
  // upper-case configuration words that follow it.
  static const QRegularExpression Build(QStringLiteral(R"(^#(\d+)((?:\s+[A-Z][A-Z0-9_]*)*)\b)"));
  const QRegularExpressionMatch Match = Build.match(KernelVersion);
  TInstance Os;
  Os.Properties.insert(QStringLiteral("Caption"), Uname(TUnameField::SysName));
  Os.Properties.insert(QStringLiteral("Version"), Release);
  Os.Properties.insert(QStringLiteral("BuildNumber"), Match.hasMatch() ? Match.captured(1) : KernelVersion);
  Os.Properties.insert(QStringLiteral("BuildType"), Match.hasMatch() ? Match.captured(2).simplified() : QString());
  Os.Properties.insert(QStringLiteral("CodeSet"), QString::number(AnsiCodePage::GetACP()));
  Os.Properties.insert(QStringLiteral("CountryCode"), CountryCodeForLocale(LocaleNameOfTelephone()));
  Os.Properties.insert(QStringLiteral("BootDevice"), RootDevice());
  Os.Properties.insert(QStringLiteral("CSName"), HostComputerName());
  return {Os};
}

std::vector<TInstance> ProcessInstances()
{
  std::vector<TInstance> Instances;
  TUserNames Users;
  const QString Domain = HostComputerName();
  const long PageSize = ::sysconf(_SC_PAGESIZE);
  Posix::ForEachProcess([&](const Posix::TProcessFolder& Folder) {
    if (auto Instance = ProcessInstance(Folder, Users, Domain, PageSize))
      Instances.push_back(std::move(*Instance));
  });
  return Instances;
}

std::shared_ptr<TServices> MachineServices()
{
  auto Services = std::make_shared<TServices>();
  Services->AddClass(QStringLiteral("Win32_OperatingSystem"), &OperatingSystemInstances);
  Services->AddClass(QStringLiteral("Win32_Process"), &ProcessInstances);
  return Services;
}

void SetServiceProvider(TServiceProvider Provider)
{
  CurrentProvider.Set(std::move(Provider));
}

QString CountryCodeForLocale(const QString& LocaleName)
{
  const QString Name = LocaleName.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);
  if (Name.isEmpty() || Name == QLatin1String("C") || Name == QLatin1String("POSIX"))
    return QStringLiteral("1");
  // The calling codes of the territories a locale names.
  static const std::map<QLocale::Territory, int> Codes{
    {QLocale::UnitedStates, 1},   {QLocale::Canada, 1},          {QLocale::Russia, 7},
    {QLocale::Kazakhstan, 7},     {QLocale::Egypt, 20},          {QLocale::SouthAfrica, 27},
    {QLocale::Greece, 30},        {QLocale::Netherlands, 31},    {QLocale::Belgium, 32},
    {QLocale::France, 33},        {QLocale::Spain, 34},          {QLocale::Hungary, 36},
    {QLocale::Italy, 39},         {QLocale::Romania, 40},        {QLocale::Switzerland, 41},
    {QLocale::Austria, 43},       {QLocale::UnitedKingdom, 44},  {QLocale::Denmark, 45},
    {QLocale::Sweden, 46},        {QLocale::Norway, 47},         {QLocale::Poland, 48},
    {QLocale::Germany, 49},       {QLocale::Peru, 51},           {QLocale::Mexico, 52},
    {QLocale::Cuba, 53},          {QLocale::Argentina, 54},      {QLocale::Brazil, 55},
    {QLocale::Chile, 56},         {QLocale::Colombia, 57},       {QLocale::Venezuela, 58},
    {QLocale::Malaysia, 60},      {QLocale::Australia, 61},      {QLocale::Indonesia, 62},
    {QLocale::Philippines, 63},   {QLocale::NewZealand, 64},     {QLocale::Singapore, 65},
    {QLocale::Thailand, 66},      {QLocale::Japan, 81},          {QLocale::SouthKorea, 82},
    {QLocale::Vietnam, 84},       {QLocale::China, 86},          {QLocale::Turkey, 90},
    {QLocale::India, 91},         {QLocale::Pakistan, 92},       {QLocale::Iran, 98},
    {QLocale::Morocco, 212},      {QLocale::Algeria, 213},       {QLocale::Tunisia, 216},
    {QLocale::Nigeria, 234},      {QLocale::Kenya, 254},         {QLocale::Portugal, 351},
    {QLocale::Luxembourg, 352},   {QLocale::Ireland, 353},       {QLocale::Iceland, 354},
    {QLocale::Albania, 355},      {QLocale::Malta, 356},         {QLocale::Cyprus, 357},
    {QLocale::Finland, 358},      {QLocale::Bulgaria, 359},      {QLocale::Lithuania, 370},
    {QLocale::Latvia, 371},       {QLocale::Estonia, 372},       {QLocale::Belarus, 375},
    {QLocale::Ukraine, 380},      {QLocale::Serbia, 381},        {QLocale::Croatia, 385},
    {QLocale::Slovenia, 386},     {QLocale::CzechRepublic, 420}, {QLocale::Slovakia, 421},
    {QLocale::HongKong, 852},     {QLocale::Taiwan, 886},        {QLocale::Lebanon, 961},
    {QLocale::SaudiArabia, 966},  {QLocale::UnitedArabEmirates, 971}, {QLocale::Israel, 972},
  };
  const QLocale Locale(Name);
  // QLocale falls back to "C" for names it does not know.
  if (Locale.language() == QLocale::C)
    return {};
  const auto Found = Codes.find(Locale.territory());
  return Found == Codes.end() ? QString() : QString::number(Found->second);
}

}  // namespace Wmi
