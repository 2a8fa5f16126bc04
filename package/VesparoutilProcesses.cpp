// Registry and process helpers of the utility unit, offered to the host
// application.

#include "package/Vesparoutil.h"

#include "platform/Processes.h"
#include "platform/Registry.h"

#include <QProcess>

namespace Vesparoutil {

namespace {
// Upper case for the letters A to Z only, as the comparison of executable
// names has it: "ä" and "Ä" stay different.
QString UpperAToZ(QString Text)
{
  for (QChar& C : Text) {
    if (C >= QLatin1Char('a') && C <= QLatin1Char('z'))
      C = QChar(C.unicode() - ('a' - 'A'));
  }
  return Text;
}
}  // namespace

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

bool processExists(const QString& ExeFileName)
{
  const QString Wanted = UpperAToZ(ExeFileName);
  bool Found = false;
  for (const Processes::TProcessEntry& Entry : Processes::CreateToolhelp32Snapshot()) {
    if (UpperAToZ(ExtractFileName(Entry.szExeFile)) == Wanted || UpperAToZ(Entry.szExeFile) == Wanted)
      Found = true;
  }
  return Found;
}

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
