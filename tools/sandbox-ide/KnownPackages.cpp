#include "tools/sandbox-ide/KnownPackages.h"

#include "platform/Registry.h"

#include <QFileInfo>
#include <QPluginLoader>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

#include <dlfcn.h>

using Registry::TRegistry;

namespace KnownPackages {

namespace {

QString ClassName(const QString& QualifiedName) { return QualifiedName.section(QStringLiteral("::"), -1); }

QStringList ComponentsOf(QObject* Plugin)
{
  QStringList Names;
  if (auto* Collection = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(Plugin))
    for (QDesignerCustomWidgetInterface* Widget : Collection->customWidgets())
      Names << ClassName(Widget->name());
  else if (auto* Widget = qobject_cast<QDesignerCustomWidgetInterface*>(Plugin))
    Names << ClassName(Widget->name());
  return Names;
}

void LookAt(TKnownPackage& Package)
{
  const QFileInfo File(Package.Path);
  Package.Exists = File.isFile();
  if (!Package.Exists) {
    Package.LoadError = QStringLiteral("no such file");
    return;
  }
  // dlopen says best why a library does not load; the plugin loader then
  // finds what it registers with the designer.
  void* Handle = dlopen(File.absoluteFilePath().toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
  if (!Handle) {
    const char* Error = dlerror();
    Package.LoadError = Error ? QString::fromLocal8Bit(Error) : QStringLiteral("unknown error");
    return;
  }
  Package.Loads = true;
  QPluginLoader Loader(File.absoluteFilePath());
  if (QObject* Plugin = Loader.instance())
    Package.Components = ComponentsOf(Plugin);
  dlclose(Handle);
}

QString Field(QString Text)
{
  Text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
  Text.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
  Text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
  Text.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
  return Text;
}

}  // namespace

std::optional<IdeTable::TIde> IdeOfExecutable(const QString& Executable)
{
  const QString Self = QFileInfo(Executable).canonicalFilePath();
  TRegistry Store;
  for (const IdeTable::TIde& Ide : IdeTable::All()) {
    if (!Store.OpenKeyReadOnly(Ide.Key))
      continue;
    try {
      const QString App = Store.ReadString(QStringLiteral("App"));
      if (!App.isEmpty() && QFileInfo(App).canonicalFilePath() == Self)
        return Ide;
    } catch (const ERegistryException&) {
      // an "App" of another type is no IDE of ours
    }
  }
  return std::nullopt;
}

QList<TKnownPackage> Read(const IdeTable::TIde& Ide)
{
  QList<TKnownPackage> Packages;
  TRegistry Store;
  if (!Store.OpenKeyReadOnly(Ide.Key + QStringLiteral("\\Known Packages")))
    return Packages;
  for (const QString& Name : Store.GetValueNames()) {
    TKnownPackage Package;
    Package.Path = Name;
    try {
      Package.Description = Store.ReadString(Name);
    } catch (const ERegistryException&) {
      Package.Description = QStringLiteral("(not a text)");
    }
    LookAt(Package);
    Packages << Package;
  }
  return Packages;
}

QString ListText(const QList<TKnownPackage>& Packages)
{
  QString Text;
  for (const TKnownPackage& Package : Packages) {
    const QStringList Fields{Field(Package.Path), Field(Package.Description),
                             Package.Exists ? QStringLiteral("exists") : QStringLiteral("missing"),
                             Package.Loads ? QStringLiteral("loads") : QStringLiteral("does not load: ") + Field(Package.LoadError),
                             Field(Package.Components.join(QLatin1Char(',')))};
    Text += Fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
  }
  return Text;
}

}  // namespace KnownPackages
