#include "tools/sandbox-ide/IdeRegistration.h"

#include "platform/Posix.h"
#include "platform/Registry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

using Registry::TRegistry;

namespace IdeRegistration {

namespace {

[[noreturn]] void Fail(const QString& Message) { throw ERegistration(Message); }

// Copies Source over Target so that Target is either the old or the new
// file, never a part; keeps the executable bits.
void CopyWhole(const QString& Source, const QString& Target)
{
  if (QFileInfo(Source).canonicalFilePath() == QFileInfo(Target).canonicalFilePath())
    return;  // registering again from the copy itself
  QFile In(Source);
  if (!In.open(QIODevice::ReadOnly))
    Fail(QStringLiteral("cannot read %1: %2").arg(Source, In.errorString()));
  QSaveFile Out(Target);
  if (!Out.open(QIODevice::WriteOnly))
    Fail(QStringLiteral("cannot write %1: %2").arg(Target, Out.errorString()));
  while (!In.atEnd()) {
    const QByteArray Block = In.read(1 << 20);
    if (Block.isEmpty() && In.error() != QFileDevice::NoError)
      Fail(QStringLiteral("cannot read %1: %2").arg(Source, In.errorString()));
    if (!Posix::WriteWhole(Out, Block))
      Fail(QStringLiteral("cannot write %1: %2").arg(Target, Out.errorString()));
  }
  if (!Out.setPermissions(In.permissions()) || !Out.commit())
    Fail(QStringLiteral("cannot write %1: %2").arg(Target, Out.errorString()));
}

void Link(const QString& Target, const QString& Link)
{
  QFile::remove(Link);
  if (!QFile::link(Target, Link))
    Fail(QStringLiteral("cannot link %1 to %2").arg(Link, Target));
}

// Headers and libraries of the lower layers: an installed prefix around
// this program, else the tree it was built from.
struct TLowerLayers {
  QString Headers;  // holds platform/ and hostfw/
  QString Libraries;
};

TLowerLayers LowerLayers()
{
  const QDir Prefix(QCoreApplication::applicationDirPath() + QStringLiteral("/.."));
  if (QFileInfo::exists(Prefix.filePath(QStringLiteral("include/corvane/platform/Registry.h"))))
    return {Prefix.absoluteFilePath(QStringLiteral("include/corvane")), Prefix.absoluteFilePath(QStringLiteral("lib"))};
  return {QStringLiteral(CORVANE_SOURCE_DIR), QStringLiteral(CORVANE_LIB_DIR)};
}

void LayOutJcl(const QString& Folder)
{
  if (!QDir().mkpath(Folder))
    Fail(QStringLiteral("cannot create %1").arg(Folder));
  const TLowerLayers Lower = LowerLayers();
  for (const QString& Layer : {QStringLiteral("platform"), QStringLiteral("hostfw")})
    Link(Lower.Headers + QLatin1Char('/') + Layer, Folder + QLatin1Char('/') + Layer);
  const QStringList Libraries = QDir(Lower.Libraries)
                                  .entryList({QStringLiteral("libCorvanePlatform.so*"), QStringLiteral("libCorvaneHostFw.so*")},
                                             QDir::Files | QDir::System);
  if (Libraries.isEmpty())
    Fail(QStringLiteral("no Corvane libraries in %1").arg(Lower.Libraries));
  for (const QString& Library : Libraries)
    Link(Lower.Libraries + QLatin1Char('/') + Library, Folder + QLatin1Char('/') + Library);
}

void OpenOrFail(TRegistry& Registry, const QString& Key)
{
  if (!Registry.OpenKey(Key, true))
    Fail(QStringLiteral("cannot open %1 in the registry store: %2").arg(Key, Registry.LastError()));
}

}  // namespace

QString JclFolder(const QString& Root) { return Root + QStringLiteral("/jcl/lib"); }

void Register(const IdeTable::TIde& Ide, const QString& RootText)
{
  if (RootText.trimmed().isEmpty())
    Fail(QStringLiteral("no root folder given"));
  const QString Root = QDir::cleanPath(QDir(RootText).absolutePath());
  // The root goes into the library search path, whose entries ";" separates.
  if (Root.contains(QLatin1Char(';')))
    Fail(QStringLiteral("the root folder %1 holds \";\", which the library search path cannot hold").arg(Root));
  const QString Bin = Root + QStringLiteral("/Bin");
  if (!QDir().mkpath(Bin))
    Fail(QStringLiteral("cannot create %1").arg(Bin));

  const QString Compiler = QCoreApplication::applicationDirPath() + QStringLiteral("/dcc32.exe");
  if (!QFileInfo::exists(Compiler))
    Fail(QStringLiteral("the compiler %1 is missing").arg(Compiler));
  CopyWhole(Compiler, Bin + QStringLiteral("/dcc32.exe"));
  const QString App = Bin + QLatin1Char('/') + Ide.Executable;
  CopyWhole(QCoreApplication::applicationFilePath(), App);
  QFile Config(Bin + QStringLiteral("/dcc32.cfg"));
  if (!Config.exists() && !Config.open(QIODevice::WriteOnly))
    Fail(QStringLiteral("cannot create %1: %2").arg(Config.fileName(), Config.errorString()));
  Config.close();
  LayOutJcl(JclFolder(Root));

  const QString SearchPath = QStringLiteral("$(BDS)/lib;%1;$(BDS)/Imports").arg(JclFolder(Root));
  TRegistry Store;
  OpenOrFail(Store, Ide.Key);
  Store.WriteString(QStringLiteral("RootDir"), Ide.Bds ? Root + QLatin1Char('/') : Root);
  Store.WriteString(QStringLiteral("App"), App);
  QStringList Libraries{Ide.Key + QStringLiteral("\\Library")};
  if (Ide.Win32Library)
    Libraries << Ide.Key + QStringLiteral("\\Library\\Win32");
  for (const QString& Library : Libraries) {
    OpenOrFail(Store, Library);
    if (!Store.ValueExists(QStringLiteral("Search Path")))
      Store.WriteString(QStringLiteral("Search Path"), SearchPath);
  }
  OpenOrFail(Store, Ide.Key + QStringLiteral("\\Known Packages"));
  OpenOrFail(Store, Ide.Key + QStringLiteral("\\Globals"));
  Store.CloseKey();
}

}  // namespace IdeRegistration
