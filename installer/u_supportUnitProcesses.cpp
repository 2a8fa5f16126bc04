// Which programs run: by executable name, or by the exact executable file.

#include "installer/u_supportUnit.h"

#include "platform/Processes.h"

#include <QFileInfo>

namespace u_supportUnit {

namespace {
// Upper case for the letters A to Z only: "ä" and "Ä" stay different.
QString UpperAToZ(QString Text)
{
  for (QChar& C : Text) {
    if (C >= QLatin1Char('a') && C <= QLatin1Char('z'))
      C = QChar(C.unicode() - ('a' - 'A'));
  }
  return Text;
}

QString FileNamePart(const QString& Path) { return Path.mid(Path.lastIndexOf(QLatin1Char('/')) + 1); }

// The file itself, whatever links lead to it: the kernel names a process's
// executable by this path.
QString ResolvedPath(const QString& FileName)
{
  const QString Canonical = QFileInfo(FileName).canonicalFilePath();
  return Canonical.isEmpty() ? FileName : Canonical;
}
}  // namespace

bool processExists(const QString& exeFileName)
{
  // The snapshot holds the executable's path (or, for processes not ours to
  // look into, the name they were started under), never the kernel's short
  // name, which cuts names after 15 characters.
  const QString Wanted = UpperAToZ(exeFileName);
  for (const Processes::TProcessEntry& Entry : Processes::CreateToolhelp32Snapshot()) {
    if (UpperAToZ(FileNamePart(Entry.szExeFile)) == Wanted || UpperAToZ(Entry.szExeFile) == Wanted)
      return true;
  }
  return false;
}

QString ProcessFileName(quint32 dwProcessId) { return Processes::GetModuleFileNameEx(dwProcessId); }

bool IsAppRunning(const QString& FileName)
{
  if (FileName.isEmpty())
    return false;
  // Paths compare as the file system names files: exactly, after links.
  const QString Wanted = ResolvedPath(FileName);
  const QString WantedName = UpperAToZ(FileNamePart(Wanted));
  for (const Processes::TProcessEntry& Entry : Processes::CreateToolhelp32Snapshot()) {
    if (UpperAToZ(FileNamePart(Entry.szExeFile)) != WantedName)
      continue;
    if (ProcessFileName(Entry.th32ProcessID) == Wanted)
      return true;
  }
  return false;
}

}  // namespace u_supportUnit
