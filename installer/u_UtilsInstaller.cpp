#include "installer/u_UtilsInstaller.h"

#include "installer/InstallerLog.h"

namespace u_UtilsInstaller {

void WriteValueToRegisTry(const QString& sTheKeyPath, bool bCanCreate, const QString& sTheKeyName,
                          const QString& sTheValueTowrite)
{
  Registry::TRegistry Reg(Registry::KEY_ALL_ACCESS);
  Reg.SetRootKey(Registry::HKEY_CURRENT_USER);
  if (Reg.OpenKey(sTheKeyPath, bCanCreate))
    Reg.WriteString(sTheKeyName, sTheValueTowrite);
}

bool RegKeyExists(const QString& RegPath, HKEY RootKey)
{
  try {
    Registry::TRegistry Reg(Registry::KEY_READ);
    Reg.SetRootKey(RootKey);
    return Reg.KeyExists(RegPath);
  } catch (const std::exception& E) {
    qCWarning(Logging::Installer) << "key" << RegPath << "taken as missing:" << E.what();
    return false;
  }
}

bool RegReadStr(const QString& RegPath, const QString& RegValue, QString& Str, HKEY RootKey)
{
  try {
    Registry::TRegistry Reg(Registry::KEY_ALL_ACCESS);
    Reg.SetRootKey(RootKey);
    // An existing key is only read, so that the machine's keys can be read
    // without the right to write them; a missing one is created as before.
    const bool Opened = Reg.KeyExists(RegPath) ? Reg.OpenKeyReadOnly(RegPath) : Reg.OpenKey(RegPath, true);
    if (!Opened)
      return false;
    Str = Reg.ReadString(RegValue);
    return true;
  } catch (const std::exception& E) {
    qCWarning(Logging::Installer) << "value" << RegValue << "of" << RegPath << "unreadable:" << E.what();
    return false;
  }
}

QString RegStoreError(HKEY RootKey)
{
  Registry::TRegistry Reg(Registry::KEY_READ);
  Reg.SetRootKey(RootKey);
  if (Reg.OpenKeyReadOnly(QStringLiteral("\\")))
    return {};
  return QStringLiteral("The registry store %1 cannot be read: %2")
    .arg(Registry::StoreFilePath(RootKey), Reg.LastError());
}

}  // namespace u_UtilsInstaller
