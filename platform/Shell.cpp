#include "platform/Shell.h"

#include "platform/Processes.h"

#include <QFileInfo>
#include <QStringList>

namespace Shell {

int ShellExecute(const void* Owner, const QString& Operation, const QString& File, const QString& Parameters,
                 const QString& Directory, int ShowCmd)
{
  Q_UNUSED(Owner);
  Q_UNUSED(ShowCmd);
  if (!Operation.isEmpty() && Operation.compare(QLatin1String("open"), Qt::CaseInsensitive) != 0)
    return SE_ERR_NOASSOC;
  const QFileInfo Target(File);
  if (File.isEmpty() || !Target.exists())
    return SE_ERR_FNF;
  const QStringList Arguments = Parameters.isEmpty() ? QStringList() : QStringList{Parameters};

  bool Started = false;
  if (Target.suffix().compare(QLatin1String("bat"), Qt::CaseInsensitive) == 0)
    Started = Processes::StartDetached(QStringLiteral("/bin/sh"), QStringList{Target.absoluteFilePath()} + Arguments,
                                       Directory);
  else if (Target.isFile() && Target.isExecutable())
    Started = Processes::StartDetached(Target.absoluteFilePath(), Arguments, Directory);
  else
    Started = Processes::StartDetached(QStringLiteral("xdg-open"), QStringList{Target.absoluteFilePath()}, Directory);
  return Started ? SE_OK : SE_ERR_ACCESSDENIED;
}

}  // namespace Shell
