// Registry and process helpers of the utility unit, offered to the host
// application.

#include "package/Vesparoutil.h"

#include "platform/Processes.h"
#include "platform/Registry.h"

#include <QProcess>

namespace Vesparoutil {

bool ReadRegistryValuesBoolean(const QString& Key, bool CanCreate, const QString& Name, bool CurrentUser)
{
  Registry::TRegistry Reg(Registry::KEY_ALL_ACCESS);
  Reg.SetRootKey(CurrentUser ? Registry::HKEY_CURRENT_USER : Registry::HKEY_LOCAL_MACHINE);
  if (!Reg.OpenKey(Key, CanCreate))
    return false;
  return Reg.ReadBool(Name);
}

void WriteValueToRegisTry(const QString& Key, bool CanCreate, const QString& Name, const QString& Value)
{
  Registry::TRegistry Reg(Registry::KEY_ALL_ACCESS);
  Reg.SetRootKey(Registry::HKEY_CURRENT_USER);
  if (Reg.OpenKey(Key, CanCreate))
    Reg.WriteString(Name, Value);
}

bool processExists(const QString& ExeFileName) { return Processes::ExecutableRuns(ExeFileName); }

bool CheckTargetApplRunning(const QString& ApplicationName, const QString& TargetName)
{
  if (ApplicationName == TargetName)
    return false;
  return processExists(TargetName);
}

void ExecNewProcess(const QString& CommandLine)
{
  const QStringList Parts = QProcess::splitCommand(CommandLine);
  if (Parts.isEmpty())
    return;
  Processes::StartDetached(Parts.first(), Parts.mid(1));
}

}  // namespace Vesparoutil
