// Which programs run: by executable name, or by the exact executable file.

#include "installer/u_supportUnit.h"

#include "platform/Processes.h"

#include <QFileInfo>

namespace u_supportUnit {

namespace {
// The file itself, whatever links lead to it: the kernel names a process's
// executable by this path.
QString ResolvedPath(const QString& FileName)
{
  const QString Canonical = QFileInfo(FileName).canonicalFilePath();
  return Canonical.isEmpty() ? FileName : Canonical;
}
}  // namespace

bool processExists(const QString& exeFileName) { return Processes::ExecutableRuns(exeFileName); }

QString ProcessFileName(quint32 dwProcessId) { return Processes::GetModuleFileNameEx(dwProcessId); }

bool IsAppRunning(const QString& FileName)
{
  if (FileName.isEmpty())
    return false;
  // Paths compare as the file system names files: exactly, after links.
  const QString Wanted = ResolvedPath(FileName);
  const QString WantedName = Processes::UpperAToZ(Processes::ExecutableName(Wanted));
  for (const Processes::TProcessEntry& Entry : Processes::CreateToolhelp32Snapshot()) {
    if (Processes::UpperAToZ(Processes::ExecutableName(Entry.szExeFile)) != WantedName)
      continue;
    if (ProcessFileName(Entry.th32ProcessID) == Wanted)
      return true;
  }
  return false;
}

}  // namespace u_supportUnit
