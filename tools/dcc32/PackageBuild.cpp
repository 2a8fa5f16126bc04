#include "tools/dcc32/PackageBuild.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace PackageBuild {

namespace {

// A text as a CMake bracket argument, whatever it holds.
QString Bracket(const QString& Text)
{
  QString Equals;
  while (Text.contains(QStringLiteral("]") + Equals + QStringLiteral("]")))
    Equals += QLatin1Char('=');
  return QStringLiteral("[%1[%2]%1]").arg(Equals, Text);
}

QString Brackets(const QStringList& Texts)
{
  QStringList Quoted;
  for (const QString& Text : Texts)
    Quoted << Bracket(Text);
  return Quoted.join(QLatin1Char(' '));
}

// The headers beside the units: moc needs those that declare Qt objects,
// also where no source of the same name exists.
QStringList HeadersOf(const PackageProject::TPackageProject& Project, const QString& ProjectFolder)
{
  QStringList Headers;
  QStringList Folders;
  for (const PackageProject::TUnit& Unit : Project.Contains) {
    const QString Folder = QFileInfo(QDir(ProjectFolder).filePath(Unit.File)).absolutePath();
    if (!Folders.contains(Folder))
      Folders << Folder;
  }
  for (const QString& Folder : Folders)
    for (const QString& Header : QDir(Folder).entryList({QStringLiteral("*.h")}, QDir::Files, QDir::Name))
      Headers << QDir(Folder).filePath(Header);
  return Headers;
}

void Say(const QString& Text)
{
  const QByteArray Bytes = Text.toLocal8Bit() + '\n';
  std::fwrite(Bytes.constData(), 1, static_cast<size_t>(Bytes.size()), stdout);
  std::fflush(stdout);
}

// Runs a step of the build; its messages, errors included, go to standard
// output as they come, where the compiler's own go.
int Run(const QString& Program, const QStringList& Arguments)
{
  QProcess Process;
  Process.setProcessChannelMode(QProcess::MergedChannels);
  Process.setStandardInputFile(QProcess::nullDevice());
  Process.start(Program, Arguments);
  if (!Process.waitForStarted()) {
    Say(QStringLiteral("Fatal: cannot start %1: %2").arg(Program, Process.errorString()));
    return 1;
  }
  const auto Pass = [&Process] {
    const QByteArray Bytes = Process.readAll();
    std::fwrite(Bytes.constData(), 1, static_cast<size_t>(Bytes.size()), stdout);
    std::fflush(stdout);
  };
  while (Process.state() != QProcess::NotRunning) {
    Process.waitForReadyRead(-1);
    Pass();
  }
  Pass();
  return Process.exitStatus() == QProcess::NormalExit ? Process.exitCode() : 1;
}

// How long a build waits for another one in the same folder: a whole
// package build, with room to spare.
constexpr auto BuildLockWait = std::chrono::minutes(20);

// The lock on a project folder's builds: two at once would make and build
// the same work folder under each other. Held until the process ends.
class TBuildLock {
public:
  // Empty text when held, else why not.
  QString Acquire(const QString& ProjectFolder)
  {
    const QString Path = ProjectFolder + QStringLiteral("/.dcc32.lock");
    FFd = ::open(QFile::encodeName(Path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (FFd < 0)
      return QStringLiteral("cannot open %1: %2").arg(Path, QString::fromLocal8Bit(std::strerror(errno)));
    const auto Deadline = std::chrono::steady_clock::now() + BuildLockWait;
    bool Told = false;
    while (::flock(FFd, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR)
        return QStringLiteral("cannot lock %1: %2").arg(Path, QString::fromLocal8Bit(std::strerror(errno)));
      if (std::chrono::steady_clock::now() >= Deadline)
        return QStringLiteral("another build in %1 has not ended within %2 minutes (%3 is locked)")
          .arg(ProjectFolder)
          .arg(std::chrono::duration_cast<std::chrono::minutes>(BuildLockWait).count())
          .arg(Path);
      if (!Told)
        Say(QStringLiteral("Waiting for another build in %1 to end").arg(ProjectFolder));
      Told = true;
      QThread::msleep(100);
    }
    return {};
  }
  ~TBuildLock()
  {
    if (FFd >= 0)
      ::close(FFd);
  }

private:
  int FFd = -1;
};

}  // namespace

QString CMakeText(const PackageProject::TPackageProject& Project, const QString& ProjectFolder,
                  const QString& IncludeFolder, const PackageProject::TSearchFolders& Search)
{
  QStringList Sources;
  for (const PackageProject::TUnit& Unit : Project.Contains)
    Sources << QDir(ProjectFolder).filePath(Unit.File);
  Sources += HeadersOf(Project, ProjectFolder);
  QStringList QtModules;
  QStringList Libraries;
  for (const QString& Required : Project.Requires)
    (Required.startsWith(QLatin1String("Qt6")) ? QtModules : Libraries) << Required;

  QString Text;
  Text += QStringLiteral("# Made by dcc32 from %1.dpk; made again on every build.\n").arg(Project.Name);
  Text += QStringLiteral("cmake_minimum_required(VERSION 3.25)\nproject(%1 LANGUAGES CXX)\n").arg(Project.Name);
  Text += QStringLiteral("set(CMAKE_CXX_STANDARD 20)\nset(CMAKE_CXX_STANDARD_REQUIRED ON)\n"
                         "set(CMAKE_AUTOMOC ON)\nset(CMAKE_AUTOUIC ON)\nset(CMAKE_POSITION_INDEPENDENT_CODE ON)\n");
  if (!QtModules.isEmpty()) {
    QStringList Components;
    for (const QString& Module : QtModules)
      Components << Module.mid(3);
    Text += QStringLiteral("find_package(Qt6 REQUIRED COMPONENTS %1)\n").arg(Components.join(QLatin1Char(' ')));
  }
  Text += QStringLiteral("add_library(package SHARED %1)\n").arg(Brackets(Sources));
  Text += QStringLiteral("target_include_directories(package PRIVATE %1)\n").arg(Brackets(QStringList{IncludeFolder} + Search.Headers));
  if (!Project.Defines.isEmpty())
    Text += QStringLiteral("target_compile_definitions(package PRIVATE %1)\n").arg(Project.Defines.join(QLatin1Char(' ')));
  for (const QString& Module : QtModules)
    Text += QStringLiteral("target_link_libraries(package PRIVATE Qt6::%1)\n").arg(Module.mid(3));
  for (const QString& Library : Libraries) {
    Text += QStringLiteral("find_library(required_%1 NAMES %1 HINTS %2)\n").arg(Library, Brackets(Search.Libraries));
    Text += QStringLiteral("if(NOT required_%1)\n  message(FATAL_ERROR \"Fatal: Required package '%1' not found\")\nendif()\n")
              .arg(Library);
    Text += QStringLiteral("target_link_libraries(package PRIVATE ${required_%1})\n").arg(Library);
  }
  Text += QStringLiteral("set_target_properties(package PROPERTIES OUTPUT_NAME %1 PREFIX \"\" SUFFIX \".bpl\"\n"
                         "  LIBRARY_OUTPUT_DIRECTORY %2)\n")
            .arg(Project.Name, Bracket(ProjectFolder));
  return Text;
}

int Build(const PackageProject::TPackageProject& Project, const QString& ProjectFile,
          const PackageProject::TSearchFolders& Search)
{
  const QString ProjectFolder = QFileInfo(ProjectFile).absolutePath();
  TBuildLock Lock;
  if (const QString Error = Lock.Acquire(ProjectFolder); !Error.isEmpty()) {
    Say(QStringLiteral("Fatal: %1").arg(Error));
    return 1;
  }
  const QString Work = ProjectFolder + QStringLiteral("/.dcc32/") + Project.Name;
  const QString Include = Work + QStringLiteral("/include");
  const QString Source = Work + QStringLiteral("/src");
  // The units include each other as "package/<unit>.h".
  QFile::remove(Include + QStringLiteral("/package"));
  if (!QDir().mkpath(Include) || !QDir().mkpath(Source) ||
      !QFile::link(ProjectFolder, Include + QStringLiteral("/package"))) {
    Say(QStringLiteral("Fatal: cannot create %1").arg(Work));
    return 1;
  }
  QSaveFile Lists(Source + QStringLiteral("/CMakeLists.txt"));
  const QByteArray Text = CMakeText(Project, ProjectFolder, Include, Search).toUtf8();
  if (!Lists.open(QIODevice::WriteOnly) || Lists.write(Text) != Text.size() || !Lists.commit()) {
    Say(QStringLiteral("Fatal: cannot write %1: %2").arg(Lists.fileName(), Lists.errorString()));
    return 1;
  }

  const QString Binary = Work + QStringLiteral("/build");
  QStringList Configure{QStringLiteral("-S"), Source, QStringLiteral("-B"), Binary,
                        QStringLiteral("-DCMAKE_BUILD_TYPE=RelWithDebInfo")};
  if (!QFileInfo::exists(Binary + QStringLiteral("/CMakeCache.txt")) &&
      !QStandardPaths::findExecutable(QStringLiteral("ninja")).isEmpty())
    Configure << QStringLiteral("-G") << QStringLiteral("Ninja");
  const QString Output = ProjectFolder + QLatin1Char('/') + Project.Name + QStringLiteral(".bpl");
  if (Run(QStringLiteral("cmake"), Configure) != 0 ||
      Run(QStringLiteral("cmake"), {QStringLiteral("--build"), Binary}) != 0) {
    Say(QStringLiteral("Fatal: %1 was not built").arg(Project.Name));
    return 1;
  }
  if (!QFileInfo::exists(Output)) {
    Say(QStringLiteral("Fatal: %1 was not made").arg(Output));
    return 1;
  }
  Say(QStringLiteral("%1 built").arg(Output));
  return 0;
}

}  // namespace PackageBuild
