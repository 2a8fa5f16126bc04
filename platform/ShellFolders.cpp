#include "platform/ShellFolders.h"

#include <QDir>
#include <QFileInfo>

namespace ShellFolders {

namespace {
const char* const DefaultCommonDocuments = "/usr/local/share/Corvane/Documents";

QString Environment(const char* Name) { return qEnvironmentVariable(Name); }

QString WithoutTrailingSeparator(QString Path)
{
  while (Path.size() > 1 && Path.endsWith(QLatin1Char('/')))
    Path.chop(1);
  return Path;
}
}  // namespace

QString SHGetFolderPathAppData()
{
  // A relative XDG_DATA_HOME is invalid by the XDG rules and is ignored.
  const QString Xdg = Environment("XDG_DATA_HOME");
  if (!Xdg.isEmpty() && QDir::isAbsolutePath(Xdg))
    return WithoutTrailingSeparator(Xdg);
  const QString Home = Environment("HOME");
  if (Home.isEmpty() || !QDir::isAbsolutePath(Home))
    return {};
  return WithoutTrailingSeparator(Home) + QStringLiteral("/.local/share");
}

QString SHGetSpecialFolderPathCommonDocuments()
{
  QString Folder = Environment("CORVANE_COMMON_DOCUMENTS");
  if (Folder.isEmpty())
    Folder = QString::fromLatin1(DefaultCommonDocuments);
  Folder = WithoutTrailingSeparator(Folder);
  return QFileInfo(Folder).isDir() ? Folder : QString();
}

}  // namespace ShellFolders
