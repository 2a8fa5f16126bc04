#pragma once
// The management service: objects reached by late binding, as a scripting
// client sees them. A moniker ("winmgmts:\\localhost\root\cimv2") binds to
// the services object; its ExecQuery method ("SELECT * FROM <class>", "WQL",
// flags) gives an object set whose _NewEnum property is an enumerator of the
// class's instances; instances have named properties and, for processes,
// the GetOwner method.
//
// Every call answers with a status code, as automation calls do; the caller
// decides what a failure means. The classes served from the real machine are
// Win32_OperatingSystem (kernel, locale, root device) and Win32_Process (the
// processes of /proc).

#include "platform/ComStatus.h"

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace Wmi {

using ComStatus::E_FAIL;
using ComStatus::E_INVALIDARG;
using ComStatus::Failed;
using ComStatus::HRESULT;
using ComStatus::S_FALSE;
using ComStatus::S_OK;
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000E);
inline constexpr HRESULT MK_E_SYNTAX = static_cast<HRESULT>(0x800401E4);
inline constexpr HRESULT WBEM_E_FAILED = static_cast<HRESULT>(0x80041001);
inline constexpr HRESULT WBEM_E_INVALID_NAMESPACE = static_cast<HRESULT>(0x8004100E);
inline constexpr HRESULT WBEM_E_INVALID_CLASS = static_cast<HRESULT>(0x80041010);
inline constexpr HRESULT WBEM_E_TRANSPORT_FAILURE = static_cast<HRESULT>(0x80041015);
inline constexpr HRESULT WBEM_E_INVALID_QUERY = static_cast<HRESULT>(0x80041017);
inline constexpr HRESULT WBEM_E_INVALID_QUERY_TYPE = static_cast<HRESULT>(0x80041018);

class IUnknown : public std::enable_shared_from_this<IUnknown> {
public:
  virtual ~IUnknown();
};

// Late binding by name.
class IDispatch : public IUnknown {
public:
  virtual HRESULT GetProperty(const QString& Name, QVariant& Value) = 0;
  // Arguments passed by reference come back changed in Args.
  virtual HRESULT Invoke(const QString& Name, QVariantList& Args, QVariant& Result) = 0;
};

class IEnumVARIANT : public IUnknown {
public:
  // S_OK when Count items were fetched, S_FALSE when fewer were left.
  virtual HRESULT Next(std::uint32_t Count, QVariant* Items, std::uint32_t* Fetched) = 0;
};

class IBindCtx : public IUnknown {};

class IMoniker : public IUnknown {
public:
  virtual HRESULT BindToObject(IBindCtx* Context, IMoniker* Left, std::shared_ptr<IUnknown>& Object) = 0;
};

HRESULT CreateBindCtx(std::uint32_t Reserved, std::shared_ptr<IBindCtx>& Context);
HRESULT MkParseDisplayName(IBindCtx* Context, const QString& DisplayName, std::uint32_t* Eaten,
                           std::shared_ptr<IMoniker>& Moniker);

// An object in a variant, and back (null when the variant holds none).
QVariant VariantOf(std::shared_ptr<IUnknown> Object);
std::shared_ptr<IUnknown> ObjectOf(const QVariant& Value);

// One instance of a class: its properties (names compared without regard to
// case) and, for classes that have it, the answer of GetOwner.
struct TOwner {
  std::uint32_t Status = 0;  // 0: User and Domain are valid
  QString User;
  QString Domain;
};
struct TInstance {
  QVariantMap Properties;
  std::optional<TOwner> Owner;
};
using TClassEnumerator = std::function<std::vector<TInstance>()>;

// A services object serving the classes it was given.
class TServices : public IDispatch {
public:
  void AddClass(const QString& ClassName, TClassEnumerator Enumerator);
  HRESULT GetProperty(const QString& Name, QVariant& Value) override;
  HRESULT Invoke(const QString& Name, QVariantList& Args, QVariant& Result) override;

private:
  std::vector<std::pair<QString, TClassEnumerator>> FClasses;
};

// The services of the real machine.
std::shared_ptr<TServices> MachineServices();
// The instances the real machine gives for the two classes.
std::vector<TInstance> OperatingSystemInstances();
std::vector<TInstance> ProcessInstances();

// What a bound moniker turns into: the services object for a namespace, or
// a failure. Replaceable by a test (an empty function restores the machine).
using TServiceProvider = std::function<HRESULT(const QString& Namespace, std::shared_ptr<IDispatch>& Services)>;
void SetServiceProvider(TServiceProvider Provider);

// The country calling code of a locale name ("de_DE.UTF-8" gives "49"); the
// C and POSIX locales give "1"; "" for a territory without a known code.
QString CountryCodeForLocale(const QString& LocaleName);

}  // namespace Wmi

Q_DECLARE_METATYPE(std::shared_ptr<Wmi::IUnknown>)
