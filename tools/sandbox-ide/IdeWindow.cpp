#include "tools/sandbox-ide/IdeWindow.h"

#include "platform/Registry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

TIdeWindow::TIdeWindow(const IdeTable::TIde& Ide, QWidget* Parent)
  : QWidget(Parent), FIde(Ide), FPackages(KnownPackages::Read(Ide)), FList(new QTreeWidget(this)),
    FDesigner(new QPushButton(QStringLiteral("Open Qt Designer"), this))
{
  setWindowTitle(Ide.Name);
  auto* Layout = new QVBoxLayout(this);
  Layout->addWidget(new QLabel(QStringLiteral("Known Packages"), this));
  FList->setHeaderLabels({QStringLiteral("Package"), QStringLiteral("Description"), QStringLiteral("File"),
                          QStringLiteral("Loads"), QStringLiteral("Components")});
  FList->setRootIsDecorated(false);
  for (const KnownPackages::TKnownPackage& Package : FPackages)
    new QTreeWidgetItem(FList, {Package.Path, Package.Description,
                                Package.Exists ? QStringLiteral("exists") : QStringLiteral("missing"),
                                Package.Loads ? QStringLiteral("yes") : Package.LoadError,
                                Package.Components.join(QStringLiteral(", "))});
  FList->header()->resizeSections(QHeaderView::ResizeToContents);
  Layout->addWidget(FList);
  Layout->addWidget(FDesigner, 0, Qt::AlignRight);
  connect(FDesigner, &QPushButton::clicked, this, [this] {
    if (!OpenDesigner())
      QMessageBox::warning(this, FIde.Name, QStringLiteral("Qt Designer could not be started."));
  });
  resize(900, 360);
}

QString TIdeWindow::PrepareDesignerPlugins() const
{
  // Beside the IDE's executable, so that each IDE has its own.
  QString App;
  Registry::TRegistry Store;
  try {
    if (Store.OpenKeyReadOnly(FIde.Key))
      App = Store.ReadString(QStringLiteral("App"));
  } catch (const ERegistryException&) {
  }
  if (App.isEmpty())
    return {};
  const QString Root = QFileInfo(App).absolutePath() + QStringLiteral("/DesignerPlugins");
  QDir Folder(Root + QStringLiteral("/designer"));
  if (!Folder.removeRecursively() || !QDir().mkpath(Folder.path()))
    return {};
  for (const KnownPackages::TKnownPackage& Package : FPackages) {
    if (Package.Components.isEmpty())
      continue;
    // A copy: the designer follows links and takes only files named .so.
    const QString Name = QFileInfo(Package.Path).completeBaseName() + QStringLiteral(".so");
    if (!QFile::copy(QFileInfo(Package.Path).absoluteFilePath(), Folder.filePath(Name)))
      return {};
  }
  return Root;
}

bool TIdeWindow::OpenDesigner()
{
  const QString Plugins = PrepareDesignerPlugins();
  if (Plugins.isEmpty())
    return false;
  QString Program = qEnvironmentVariable("CORVANE_DESIGNER");
  if (Program.isEmpty())
    Program = QLibraryInfo::path(QLibraryInfo::BinariesPath) + QStringLiteral("/designer");
  QProcess Designer;
  Designer.setProgram(Program);
  QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
  const QString Existing = Environment.value(QStringLiteral("QT_PLUGIN_PATH"));
  Environment.insert(QStringLiteral("QT_PLUGIN_PATH"), Existing.isEmpty() ? Plugins : Plugins + QLatin1Char(':') + Existing);
  Designer.setProcessEnvironment(Environment);
  Designer.setStandardInputFile(QProcess::nullDevice());
  return Designer.startDetached();
}
