// sandbox-ide: an IDE for the installer to serve.
//
//   sandbox-ide register "<display name>" ROOT   set up and register an IDE
//   <App of a registered IDE>                    its window: Known Packages
//   <App of a registered IDE> --list             the same list for scripts

#include "tools/sandbox-ide/IdeRegistration.h"
#include "tools/sandbox-ide/IdeWindow.h"
#include "tools/sandbox-ide/KnownPackages.h"

#include "platform/Posix.h"
#include "platform/Registry.h"

#include <QApplication>
#include <QStringList>

#include <cstdio>
#include <exception>
#include <optional>

namespace {

void Write(std::FILE* Stream, const QString& Text)
{
  const QByteArray Bytes = Text.toUtf8();
  std::fwrite(Bytes.constData(), 1, static_cast<size_t>(Bytes.size()), Stream);
  std::fflush(Stream);
}

int Error(const QString& Message)
{
  Write(stderr, QStringLiteral("sandbox-ide: %1\n").arg(Message));
  return 1;
}

const QString Usage = QStringLiteral(
  "usage: sandbox-ide register \"<display name>\" ROOT\n"
  "       <App of a registered IDE> [--list]\n");

QString KnownNames()
{
  QStringList Names;
  for (const IdeTable::TIde& Ide : IdeTable::All())
    Names << QLatin1Char('"') + Ide.Name + QLatin1Char('"');
  return Names.join(QStringLiteral(", "));
}

int Register(const QStringList& Arguments)
{
  if (Arguments.size() != 4)
    return Error(QStringLiteral("register takes a display name and a root folder\n") + Usage);
  const std::optional<IdeTable::TIde> Ide = IdeTable::ByName(Arguments[2]);
  if (!Ide)
    return Error(QStringLiteral("unknown IDE \"%1\"; known are %2").arg(Arguments[2], KnownNames()));
  try {
    IdeRegistration::Register(*Ide, Arguments[3]);
  } catch (const std::exception& Failure) {
    return Error(QString::fromStdString(Failure.what()));
  }
  return 0;
}

}  // namespace

int main(int argc, char* argv[])
{
  // A root named by bytes that are not text would be registered, and laid
  // out, under another name.
  int Bad = 0;
  const std::optional<QStringList> Text = Posix::TextArguments(argc, argv, Bad);
  if (!Text)
    return Error(QStringLiteral("argument %1 holds bytes that are not UTF-8 text: \"%2\"")
                   .arg(Bad)
                   .arg(QString::fromLocal8Bit(argv[Bad])));
  const QStringList& Arguments = *Text;
  const bool Listing = Arguments.size() == 2 && Arguments[1] == QLatin1String("--list");
  if (Arguments.size() > 1 && Arguments[1] == QLatin1String("register")) {
    QCoreApplication App(argc, argv);
    return Register(Arguments);
  }
  if (Arguments.size() > 1 && !Listing) {
    Write(Arguments[1] == QLatin1String("--help") ? stdout : stderr, Usage);
    return Arguments[1] == QLatin1String("--help") ? 0 : 1;
  }

  if (Listing) {
    QCoreApplication App(argc, argv);
    const std::optional<IdeTable::TIde> Ide = KnownPackages::IdeOfExecutable(QCoreApplication::applicationFilePath());
    if (!Ide)
      return Error(QStringLiteral("not started as a registered IDE (its \"App\")"));
    Write(stdout, KnownPackages::ListText(KnownPackages::Read(*Ide)));
    return 0;
  }
  QApplication App(argc, argv);
  const std::optional<IdeTable::TIde> Ide = KnownPackages::IdeOfExecutable(QCoreApplication::applicationFilePath());
  if (!Ide)
    return Error(QStringLiteral("not started as a registered IDE (its \"App\"); register one first\n") + Usage);
  TIdeWindow Window(*Ide);
  Window.show();
  return App.exec();
}
