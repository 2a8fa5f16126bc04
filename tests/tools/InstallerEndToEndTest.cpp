// The installer against a sandbox IDE, as a user would run it: a scripted
// install, the package really built by the IDE's compiler and loadable in
// the IDE, the viewer installed and recorded, and a report of the demo
// opened in that viewer when the demo ends.

#include "platform/Posix.h"
#include "platform/Processes.h"
#include "platform/Registry.h"

#include "tests/support/TempEnvironment.h"
#include "tests/tools/DemoRun.h"
#include "tests/tools/ToolRun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <optional>

using Registry::TRegistry;
using TestSupport::ReadAll;

namespace {

const QString Bin = QStringLiteral(CORVANE_BIN_DIR);
const QString Xe3Key = QStringLiteral("\\Software\\Embarcadero\\BDS\\10.0");

QString Value(const QString& Key, const QString& Name)
{
  TRegistry Store;
  return Store.OpenKeyReadOnly(Key) && Store.ValueExists(Name) ? Store.ReadString(Name) : QStringLiteral("<none>");
}

// The processes that run Executable.
QList<quint32> Running(const QString& Executable)
{
  QList<quint32> Found;
  for (const Processes::TProcessEntry& Entry : Processes::CreateToolhelp32Snapshot())
    if (Entry.szExeFile == Executable)
      Found << Entry.th32ProcessID;
  return Found;
}

// Waits up to TimeoutMs for Done, looking every half second.
template <typename TDone>
bool WaitFor(TDone Done, qint64 TimeoutMs)
{
  QElapsedTimer Timer;
  Timer.start();
  while (!Done()) {
    if (Timer.elapsed() > TimeoutMs)
      return false;
    QThread::msleep(500);
  }
  return true;
}

}  // namespace

TEST(InstallerEndToEnd, ASandboxIdeGetsThePackageAndReportsOpenInTheInstalledViewer)
{
  TestSupport::TTempEnvironment Env;
  const QString T = Env.Root();
  const QString Ide = T + QStringLiteral("/ide");
  const QString Dcu = T + QStringLiteral("/comp/CVVesparo/DXE3/DCU");
  const QString Bpl = Dcu + QStringLiteral("/CVVesparoDXE3.bpl");
  const QString Jcl = Ide + QStringLiteral("/jcl/lib");

  const ToolRun::TRun Registered =
    ToolRun::Run(Bin + QStringLiteral("/sandbox-ide"), {QStringLiteral("register"), QStringLiteral("RAD Studio XE3"), Ide});
  ASSERT_EQ(Registered.Code, 0) << Registered.Err.toStdString();

  const ToolRun::TRun Install = ToolRun::Run(
    Bin + QStringLiteral("/CorvaneInstaller"),
    {QStringLiteral("--unattended"), QStringLiteral("--ide"), QStringLiteral("RAD Studio XE3"), QStringLiteral("--target"),
     T + QStringLiteral("/comp")},
    240000);
  ASSERT_EQ(Install.Code, 0) << Install.Out.toStdString() << Install.Err.toStdString();
  EXPECT_TRUE(Install.Out.contains(QStringLiteral("Corvane installation | Complete | Installation succesful")))
    << Install.Out.toStdString();

  EXPECT_EQ(ReadAll(Dcu + QStringLiteral("/Vesparo.bat")),
            ("\"" + Ide + "/Bin/dcc32.exe\" -b \"" + Dcu + "/CVVesparoDXE3.dpk\"\r\n").toLocal8Bit());
  const QByteArray Entry = "\"" + Jcl.toLocal8Bit() + "\"";
  EXPECT_EQ(ReadAll(Ide + QStringLiteral("/Bin/dcc32.cfg")),
            "-u" + Entry + "\r\n-i" + Entry + "\r\n-r" + Entry + "\r\n-o" + Entry + "\r\n\r\n\r\n");
  EXPECT_EQ(Value(Xe3Key + QStringLiteral("\\Known Packages"), Bpl), QStringLiteral("Delphi XE3 Corvane Bpl File"));
  EXPECT_EQ(Value(Xe3Key + QStringLiteral("\\Library"), QStringLiteral("Search Path")),
            QStringLiteral("$(BDS)/lib;%1;$(BDS)/Imports;%2").arg(Jcl, Dcu));
  EXPECT_EQ(Value(Xe3Key + QStringLiteral("\\Globals"), QStringLiteral("ForceEnvOptionsUpdate")), QStringLiteral("1"));

  // The setup program ran to its end before the installer finished.
  const QString Viewer = T + QStringLiteral("/comp/Corvane/CorvaneViewer");
  EXPECT_TRUE(QFileInfo(Viewer).isExecutable());
  EXPECT_EQ(Value(QStringLiteral("\\SOFTWARE\\Corvane"), QStringLiteral("Installation_path")), Viewer);

  // The build that Vesparo.bat started goes on without the installer.
  const QString Compiler = Ide + QStringLiteral("/Bin/dcc32.exe");
  EXPECT_TRUE(WaitFor([&] { return QFileInfo::exists(Bpl) && Running(Compiler).isEmpty(); }, 20 * 60 * 1000))
    << "no package after 20 minutes";
  // What the build said is kept beside its batch.
  EXPECT_TRUE(ReadAll(Dcu + QStringLiteral("/Vesparo.log")).contains((Bpl + QStringLiteral(" built")).toLocal8Bit()));
  const ToolRun::TRun List = ToolRun::Run(Ide + QStringLiteral("/Bin/bds.exe"), {QStringLiteral("--list")});
  EXPECT_EQ(List.Code, 0) << List.Err.toStdString();
  EXPECT_EQ(List.Out, Bpl + QStringLiteral("\tDelphi XE3 Corvane Bpl File\texists\tloads\tTCVVesparo\n"));

  // A report of the demo opens in the installed viewer when the demo ends.
  const DemoTests::TDemoResult Demo =
    DemoTests::RunDemo(Env, {QStringLiteral("--raise"), QStringLiteral("end to end"), QStringLiteral("--unattended")},
                       QStringLiteral("xcb"));
  EXPECT_EQ(Demo.ExitCode, 0) << Demo.Errors.toStdString();
  std::optional<quint32> Started;
  EXPECT_TRUE(WaitFor(
    [&] {
      const QList<quint32> Viewers = Running(Viewer);
      if (!Viewers.isEmpty())
        Started = Viewers.first();
      return Started.has_value();
    },
    30000));
  if (!Started)
    return;
  const std::optional<Posix::TProcessFolder> Process = Posix::TProcessFolder::Of(*Started);
  ASSERT_TRUE(Process);
  const QList<QByteArray> CommandLine = Process->Read("cmdline").split('\0');
  ASSERT_GE(CommandLine.size(), 2);
  EXPECT_EQ(QString::fromLocal8Bit(CommandLine[1]), QString(DemoTests::ReportOf(Env)).replace(QLatin1Char(' '), QLatin1Char('^')));
  // Seen as soon as it runs, the viewer may not have loaded its libraries yet.
  const QByteArray InstalledLibrary = (T + QStringLiteral("/comp/Corvane/lib/libCorvanePlatform.so.1")).toLocal8Bit();
  EXPECT_TRUE(WaitFor([&] { return Process->Read("maps").contains(InstalledLibrary); }, 30000))
    << "the viewer does not run on the installed libraries";
  ::kill(static_cast<pid_t>(*Started), SIGTERM);
}
