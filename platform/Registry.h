#pragma once
// The registry store: keys with string and 32-bit integer values under the
// roots HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE, kept in one text file per
// root in the registry-export format. TRegistry works like the runtime's
// registry object: a root, one open key at a time, reads that raise on a
// value of the wrong type.
//
//   current user:  $XDG_CONFIG_HOME/Corvane/registry/user.reg
//                  ($HOME/.config when XDG_CONFIG_HOME is unset or relative)
//   local machine: $CORVANE_MACHINE_REGISTRY, else /etc/Corvane/registry/system.reg
//
// Every change is a transaction on the file: under an advisory lock the file
// is read again, changed, written to a temporary file, flushed and renamed
// over the old one. Concurrent processes lose nothing and a crash leaves the
// old or the new file. A file that cannot be parsed is reported and never
// overwritten.

#include "platform/RegistryFile.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <stdexcept>

// Raised by the registry object: wrong value type, a missing value read as an
// integer or Boolean, a store that cannot be read or written.
class ERegistryException : public std::runtime_error {
public:
  explicit ERegistryException(const QString& Message);
  QString Message() const;
};

namespace Registry {

enum class HKEY { HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE };
inline constexpr HKEY HKEY_CURRENT_USER = HKEY::HKEY_CURRENT_USER;
inline constexpr HKEY HKEY_LOCAL_MACHINE = HKEY::HKEY_LOCAL_MACHINE;

// Access asked for when keys are opened.
enum TRegAccess : unsigned { KEY_READ = 1, KEY_WRITE = 2, KEY_ALL_ACCESS = KEY_READ | KEY_WRITE };

enum class TRegDataType { rdUnknown, rdString, rdInteger };

// The file that holds a root.
QString StoreFilePath(HKEY Root);

class TRegistry {
public:
  explicit TRegistry(unsigned Access = KEY_ALL_ACCESS);
  ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  HKEY RootKey() const;
  void SetRootKey(HKEY Root);  // closes an open key
  QString CurrentPath() const;  // path of the open key below the root, "" = none

  // Key paths use "\"; a leading "\" starts at the root, any other path is
  // relative to the open key. Names compare without regard to case.
  // OpenKey fails (false) when the key is missing and CanCreate is false,
  // when write access was asked for and the root's file cannot be written by
  // this user, or when the store cannot be read (LastError says why).
  bool OpenKey(const QString& Key, bool CanCreate);
  bool OpenKeyReadOnly(const QString& Key);
  void CloseKey();
  bool KeyExists(const QString& Key);
  bool ValueExists(const QString& Name);
  TRegDataType GetDataType(const QString& Name);
  QStringList GetKeyNames();
  QStringList GetValueNames();

  // A missing value reads as "" for ReadString and raises for ReadInteger
  // and ReadBool; a value of another type raises. ReadString takes an
  // expandable string (REG_EXPAND_SZ) too, its text unexpanded.
  QString ReadString(const QString& Name);
  std::int32_t ReadInteger(const QString& Name);
  bool ReadBool(const QString& Name);

  void WriteString(const QString& Name, const QString& Value);
  void WriteInteger(const QString& Name, std::int32_t Value);
  void WriteBool(const QString& Name, bool Value);
  bool DeleteValue(const QString& Name);
  bool DeleteKey(const QString& Key);  // with everything below it

  // A value of any type as it is stored, for tools that show values they
  // cannot read. Raises when the value is missing.
  RegistryFile::TValue ReadValue(const QString& Name);

  QString LastError() const;

private:
  struct TData;
  std::unique_ptr<TData> D;
};

}  // namespace Registry
