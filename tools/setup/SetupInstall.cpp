#include "tools/setup/SetupInstall.h"

#include "platform/Posix.h"
#include "platform/Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <sys/stat.h>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace SetupInstall {

namespace {

struct TPlacedFile {
  QString Temporary;
  QString Final;
};

// Copies Source to a hidden name of its own beside Placed.Final (set into
// Placed.Temporary): setups running at the same time into one folder each
// write their own; empty text on success.
QString CopyToTemporary(const QString& Source, TPlacedFile& Placed)
{
  QFile In(Source);
  if (!In.open(QIODevice::ReadOnly))
    return QStringLiteral("cannot read %1: %2").arg(Source, In.errorString());
  const QFileInfo Final(Placed.Final);
  QTemporaryFile Out(Final.absolutePath() + QStringLiteral("/.") + Final.fileName() + QStringLiteral(".XXXXXX.part"));
  Out.setAutoRemove(false);
  if (!Out.open())
    return QStringLiteral("cannot write a temporary file beside %1: %2").arg(Placed.Final, Out.errorString());
  Placed.Temporary = Out.fileName();
  while (!In.atEnd()) {
    const QByteArray Block = In.read(1 << 20);
    if (Block.isEmpty() && In.error() != QFileDevice::NoError)
      return QStringLiteral("cannot read %1: %2").arg(Source, In.errorString());
    if (!Posix::WriteWhole(Out, Block))
      return QStringLiteral("cannot write %1: %2").arg(Placed.Temporary, Out.errorString());
  }
  if (!Out.flush() || !Out.setPermissions(In.permissions()))
    return QStringLiteral("cannot write %1: %2").arg(Placed.Temporary, Out.errorString());
  Out.close();
  if (Out.error() != QFileDevice::NoError)
    return QStringLiteral("cannot write %1: %2").arg(Placed.Temporary, Out.errorString());
  return {};
}

// A file can be renamed over an existing file or link, not over a folder.
QString CheckReplaceable(const QString& Final)
{
  struct stat Info {};
  if (::lstat(QFile::encodeName(Final).constData(), &Info) == 0 && S_ISDIR(Info.st_mode))
    return QStringLiteral("cannot move %1 into place: %2").arg(Final, QString::fromLocal8Bit(std::strerror(EISDIR)));
  return {};
}

QString MoveIntoPlace(const QString& Final, const QString& Temporary)
{
  if (::rename(QFile::encodeName(Temporary).constData(), QFile::encodeName(Final).constData()) != 0)
    return QStringLiteral("cannot move %1 into place: %2").arg(Final, QString::fromLocal8Bit(std::strerror(errno)));
  return {};
}

}  // namespace

TOptions ParseCommandLine(const QStringList& Arguments)
{
  // The installer hands its parameters over as one text; split it as the
  // setup program's own command line would be.
  TOptions Options;
  const QString Line = Arguments.join(QLatin1Char(' ')).trimmed();
  const qsizetype Target = Line.indexOf(QLatin1String("/D="));
  const bool TargetStartsWord = Target == 0 || (Target > 0 && Line[Target - 1] == QLatin1Char(' '));
  const QString Switches = Target >= 0 && TargetStartsWord ? Line.left(Target) : Line;
  if (Target >= 0 && TargetStartsWord)
    Options.Target = Line.mid(Target + 3).trimmed();
  for (const QString& Word : Switches.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
    if (Word == QLatin1String("/S"))
      Options.Silent = true;
    else if (Options.Error.isEmpty())
      Options.Error = QStringLiteral("unknown option %1").arg(Word);
  }
  return Options;
}

QString PayloadFolder(const QString& SetupFolder) { return SetupFolder + QStringLiteral("/Payload"); }

QString Install(const QString& Payload, const QString& TargetText)
{
  if (TargetText.isEmpty())
    return QStringLiteral("no target folder given (/D=DIR)");
  if (!QDir::isAbsolutePath(TargetText))
    return QStringLiteral("the target folder must be a full path: %1").arg(TargetText);
  const QString Target = QDir::cleanPath(TargetText);
  const QString Viewer = Payload + QLatin1Char('/') + QLatin1String(ViewerName);
  if (!QFileInfo(Viewer).isFile())
    return QStringLiteral("the viewer is missing from %1").arg(Payload);
  if (!QDir().mkpath(Target + QStringLiteral("/lib")))
    return QStringLiteral("cannot create %1: %2")
      .arg(Target + QStringLiteral("/lib"), QString::fromLocal8Bit(std::strerror(errno)));

  std::vector<std::pair<QString, TPlacedFile>> Files;
  const QDir Libraries(Payload + QStringLiteral("/lib"));
  for (const QString& Library : Libraries.entryList(QDir::Files, QDir::Name)) {
    const QString Final = Target + QStringLiteral("/lib/") + Library;
    Files.push_back({Libraries.filePath(Library), {QString(), Final}});
  }
  const QString FinalViewer = Target + QLatin1Char('/') + QLatin1String(ViewerName);
  Files.push_back({Viewer, {QString(), FinalViewer}});  // last: the viewer runs once it is there

  QString Error;
  for (auto& [Source, Placed] : Files)
    if (Error.isEmpty())
      Error = CopyToTemporary(Source, Placed);
  // Every place is checked before anything moves, so that a failure leaves
  // the earlier installation whole rather than half updated.
  for (const auto& [Source, Placed] : Files)
    if (Error.isEmpty())
      Error = CheckReplaceable(Placed.Final);
  for (auto& [Source, Placed] : Files) {
    if (Error.isEmpty())
      Error = MoveIntoPlace(Placed.Final, Placed.Temporary);
    if (Error.isEmpty())
      Placed.Temporary.clear();  // its name is free for others again
  }
  for (const auto& [Source, Placed] : Files)
    if (!Placed.Temporary.isEmpty())
      QFile::remove(Placed.Temporary);
  if (!Error.isEmpty())
    return Error;

  try {
    Registry::TRegistry Store;
    if (!Store.OpenKey(QStringLiteral("\\SOFTWARE\\Corvane"), true))
      return QStringLiteral("cannot open HKEY_CURRENT_USER\\SOFTWARE\\Corvane: %1").arg(Store.LastError());
    Store.WriteString(QStringLiteral("Installation_path"), FinalViewer);
  } catch (const ERegistryException& Failure) {
    return Failure.Message();
  }
  return {};
}

}  // namespace SetupInstall
