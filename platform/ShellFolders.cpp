#include "platform/ShellFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <pwd.h>
#include <unistd.h>

#include <vector>

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

QString HomeFolder()
{
  QString Home = Environment("HOME");
  // Without it (a service, a cron job, "env -i") the account still has a
  // home; the file-system root is no place for a user's files.
  if (Home.isEmpty() || !QDir::isAbsolutePath(Home)) {
    // The reentrant form: the registry store is read from worker threads too.
    passwd Entry {};
    passwd* User = nullptr;
    std::vector<char> Buffer(16384);
    Home.clear();
    if (::getpwuid_r(::geteuid(), &Entry, Buffer.data(), Buffer.size(), &User) == 0 && User && User->pw_dir)
      Home = QFile::decodeName(User->pw_dir);
    if (!QDir::isAbsolutePath(Home))
      return {};
  }
  return WithoutTrailingSeparator(Home);
}

QString SHGetFolderPathAppData()
{
  // A relative XDG_DATA_HOME is invalid by the XDG rules and is ignored.
  const QString Xdg = Environment("XDG_DATA_HOME");
  if (!Xdg.isEmpty() && QDir::isAbsolutePath(Xdg))
    return WithoutTrailingSeparator(Xdg);
  const QString Home = HomeFolder();
  if (Home.isEmpty())
    return {};
  return (Home == QLatin1String("/") ? QString() : Home) + QStringLiteral("/.local/share");
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
