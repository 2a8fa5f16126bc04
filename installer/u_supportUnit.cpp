// The table of IDE versions, those installed and those running.

#include "installer/u_supportUnit.h"

#include "hostfw/ListView.h"
#include "installer/InstallerLog.h"
#include "installer/u_UtilsInstaller.h"

#include <QFileIconProvider>
#include <QFileInfo>

namespace u_supportUnit {

const std::array<QString, DelphiVersionsCount> DelphiVersionsNames = {
  QStringLiteral("Delphi 4"),
  QStringLiteral("Delphi 5"),
  QStringLiteral("Delphi 6"),
  QStringLiteral("Delphi 7"),
  QStringLiteral("Delphi 8"),
  QStringLiteral("BDS 2005"),
  QStringLiteral("BDS 2006"),
  QStringLiteral("RAD Studio 2007"),
  QStringLiteral("RAD Studio 2009"),
  QStringLiteral("RAD Studio 2010"),
  QStringLiteral("RAD Studio XE"),
  QStringLiteral("RAD Studio XE2"),
  QStringLiteral("RAD Studio XE3"),
};

const std::array<QString, DelphiVersionsCount> DelphiRegPaths = {
  QStringLiteral("\\Software\\Borland\\Delphi\\4.0"),
  QStringLiteral("\\Software\\Borland\\Delphi\\5.0"),
  QStringLiteral("\\Software\\Borland\\Delphi\\6.0"),
  QStringLiteral("\\Software\\Borland\\Delphi\\7.0"),
  QStringLiteral("\\Software\\Borland\\BDS\\2.0"),
  QStringLiteral("\\Software\\Borland\\BDS\\3.0"),
  QStringLiteral("\\Software\\Borland\\BDS\\4.0"),
  QStringLiteral("\\Software\\Borland\\BDS\\5.0"),
  QStringLiteral("\\Software\\CodeGear\\BDS\\6.0"),
  QStringLiteral("\\Software\\CodeGear\\BDS\\7.0"),
  QStringLiteral("\\Software\\Embarcadero\\BDS\\8.0"),
  QStringLiteral("\\Software\\Embarcadero\\BDS\\9.0"),
  QStringLiteral("\\Software\\Embarcadero\\BDS\\10.0"),
};

int iRunningCOunter = 0;

namespace {
const QString AppValue = QStringLiteral("App");

// An IDE counts as installed for the current user when its key and "App"
// value are there and name an existing file.
bool InstalledApp(int Ordinal, QString& App)
{
  const QString& Key = DelphiRegPaths[Ordinal];
  if (!u_UtilsInstaller::RegKeyExists(Key, Registry::HKEY_CURRENT_USER))
    return false;
  QString Path;
  if (!u_UtilsInstaller::RegReadStr(Key, AppValue, Path, Registry::HKEY_CURRENT_USER))
    return false;
  const QFileInfo Info(Path);
  if (Path.isEmpty() || !Info.exists() || Info.isDir())
    return false;
  App = Path;
  return true;
}
}  // namespace

std::optional<TDelphiVersions> VersionNamed(const QString& DisplayName)
{
  for (int Ordinal = 0; Ordinal < DelphiVersionsCount; ++Ordinal)
    if (DelphiVersionsNames[size_t(Ordinal)] == DisplayName)
      return TDelphiVersions(Ordinal);
  return std::nullopt;
}

void LoadInstalledVersions(ListView::TListView* ListViewIDEs, ListView::TImageList* ImageList1)
{
  for (int Ordinal = 0; Ordinal < DelphiVersionsCount; ++Ordinal) {
    QString App;
    if (!InstalledApp(Ordinal, App))
      continue;
    ListView::TListItem* Item = ListViewIDEs->AddItem();
    Item->SetCaption(DelphiVersionsNames[Ordinal]);
    Item->AddSubItem(App);
    ExtractIconFileToImageList(ImageList1, App);
    Item->SetImageIndex(ImageList1->Count() - 1);
  }
}

void ExtractIconFileToImageList(ListView::TImageList* ImageList, const QString& Filename)
{
  const QFileInfo Info(Filename);
  if (Filename.isEmpty() || !Info.exists())
    return;
  const QIcon Icon = QFileIconProvider().icon(Info);
  if (Icon.isNull())
    return;
  // The small icon only, as the list shows it.
  const int Edge = ImageList->Width();
  QIcon Small(Icon.pixmap(Edge, Edge));
  ImageList->ReplaceIcon(-1, Small.isNull() ? Icon : Small);
}

QString GetDelphiLocationExeName(const QString& regPath)
{
  for (const Registry::HKEY Root : {Registry::HKEY_CURRENT_USER, Registry::HKEY_LOCAL_MACHINE}) {
    if (u_UtilsInstaller::RegKeyExists(regPath, Root)) {
      QString App;
      u_UtilsInstaller::RegReadStr(regPath, AppValue, App, Root);
      return App;
    }
  }
  return QString();
}

bool IsIDErunning()
{
  iRunningCOunter = 0;
  try {
    for (int Ordinal = 0; Ordinal < DelphiVersionsCount; ++Ordinal) {
      QString Installed;
      if (!InstalledApp(Ordinal, Installed))
        continue;
      const QString App = GetDelphiLocationExeName(DelphiRegPaths[Ordinal]);
      if (!App.isEmpty() && IsAppRunning(App))
        ++iRunningCOunter;
    }
  } catch (const std::exception& E) {
    qCWarning(Logging::Installer) << "running IDEs not known:" << E.what();
    return false;
  }
  return iRunningCOunter > 0;
}

}  // namespace u_supportUnit
