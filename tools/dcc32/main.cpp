// dcc32.exe: the command-line compiler of a sandbox IDE.
//
//   dcc32.exe -b PROJECT.dpk
//
// builds the package project with the units in PROJECT's folder into
// <package>.bpl beside it, searching headers and libraries in the folders
// that the -u/-i/-r/-o lines of dcc32.cfg beside this program name.
// Exit code 0 when the package was built; else the errors and 1.

#include "tools/dcc32/PackageBuild.h"
#include "tools/dcc32/PackageProject.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace {

int Fatal(const QString& Text)
{
  const QByteArray Bytes = QStringLiteral("Fatal: %1\n").arg(Text).toLocal8Bit();
  std::fwrite(Bytes.constData(), 1, static_cast<size_t>(Bytes.size()), stdout);
  return 1;
}

// The 8-bit texts of the IDE's files: UTF-8 where valid, else Latin-1.
QString Decoded(const QByteArray& Bytes)
{
  const QString Text = QString::fromUtf8(Bytes);
  return Text.toUtf8() == Bytes ? Text : QString::fromLatin1(Bytes);
}

}  // namespace

int main(int argc, char* argv[])
{
  QCoreApplication App(argc, argv);
  QStringList Arguments = QCoreApplication::arguments().mid(1);
  Arguments.removeIf([](const QString& Argument) { return Argument.compare(QLatin1String("-b"), Qt::CaseInsensitive) == 0; });
  if (Arguments.size() != 1 || Arguments[0].startsWith(QLatin1Char('-')))
    return Fatal(QStringLiteral("usage: dcc32.exe -b PROJECT.dpk"));
  const QString ProjectFile = QFileInfo(Arguments[0]).absoluteFilePath();

  QFile Project(ProjectFile);
  if (!Project.open(QIODevice::ReadOnly))
    return Fatal(QStringLiteral("F1026 File not found: '%1'").arg(Arguments[0]));
  PackageProject::TPackageProject Package;
  try {
    Package = PackageProject::Parse(Decoded(Project.readAll()));
  } catch (const PackageProject::EProjectError& Error) {
    const QByteArray Bytes =
      QStringLiteral("%1(%2) Error: %3\n").arg(ProjectFile).arg(Error.Line()).arg(QString::fromStdString(Error.what())).toLocal8Bit();
    std::fwrite(Bytes.constData(), 1, static_cast<size_t>(Bytes.size()), stdout);
    return Fatal(QStringLiteral("Could not compile package '%1'").arg(QFileInfo(ProjectFile).fileName()));
  }

  PackageProject::TSearchFolders Search;
  QFile Configuration(QCoreApplication::applicationDirPath() + QStringLiteral("/dcc32.cfg"));
  if (Configuration.open(QIODevice::ReadOnly))
    Search = PackageProject::ReadConfiguration(Decoded(Configuration.readAll()), QCoreApplication::applicationDirPath());
  return PackageBuild::Build(Package, ProjectFile, Search);
}
