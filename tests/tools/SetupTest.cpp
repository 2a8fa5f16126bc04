#include "tools/setup/SetupInstall.h"

#include "platform/Registry.h"

#include "tests/support/TempEnvironment.h"
#include "tests/tools/ToolRun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

using Registry::TRegistry;
using SetupInstall::ParseCommandLine;

namespace {

const QString SetupProgram = QStringLiteral(CORVANE_BIN_DIR "/Corvane/Corvane_setup.exe");
const QString Key = QStringLiteral("\\SOFTWARE\\Corvane");

QString InstallationPath()
{
  TRegistry Store;
  return Store.OpenKeyReadOnly(Key) && Store.ValueExists(QStringLiteral("Installation_path"))
           ? Store.ReadString(QStringLiteral("Installation_path"))
           : QStringLiteral("<none>");
}

void SetInstallationPath(const QString& Path)
{
  TRegistry Store;
  ASSERT_TRUE(Store.OpenKey(Key, true));
  Store.WriteString(QStringLiteral("Installation_path"), Path);
}

}  // namespace

TEST(SetupCommandLine, TakesSilentAndTheTargetToTheEndOfTheLine)
{
  // as the installer hands it over: one text
  const SetupInstall::TOptions One = ParseCommandLine({QStringLiteral("/S /D=/home/a b/Corvane ")});
  EXPECT_TRUE(One.Silent);
  EXPECT_EQ(One.Target, QStringLiteral("/home/a b/Corvane"));
  EXPECT_TRUE(One.Error.isEmpty());
  const SetupInstall::TOptions Split = ParseCommandLine({QStringLiteral("/S"), QStringLiteral("/D=/x /S")});
  EXPECT_EQ(Split.Target, QStringLiteral("/x /S"));
  EXPECT_FALSE(ParseCommandLine({QStringLiteral("/D=/x")}).Silent);
  EXPECT_EQ(ParseCommandLine({QStringLiteral("/S")}).Target, QString());
  EXPECT_FALSE(ParseCommandLine({QStringLiteral("/s"), QStringLiteral("/D=/x")}).Error.isEmpty());
  EXPECT_FALSE(ParseCommandLine({QStringLiteral("/S/D=/x")}).Error.isEmpty());
}

TEST(Setup, InstallsTheViewerSoThatItRunsFromThereAndRecordsIt)
{
  TestSupport::TTempEnvironment Env;
  const QString Target = Env.Root() + QStringLiteral("/my comp/Corvane");
  const ToolRun::TRun Installed = ToolRun::Run(SetupProgram, {QStringLiteral("/S /D=") + Target});
  ASSERT_EQ(Installed.Code, 0) << Installed.Err.toStdString();
  const QString Viewer = Target + QStringLiteral("/CorvaneViewer");
  EXPECT_EQ(InstallationPath(), Viewer);
  EXPECT_EQ(QDir(Target).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            (QStringList{QStringLiteral("CorvaneViewer"), QStringLiteral("lib")}));

  // Our libraries come from the installed folder, not from the build.
  QProcess Trace;
  QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
  Environment.insert(QStringLiteral("LD_TRACE_LOADED_OBJECTS"), QStringLiteral("1"));
  Trace.setProcessEnvironment(Environment);
  Trace.start(Viewer, {});
  ASSERT_TRUE(Trace.waitForFinished(30000));
  const QString Loaded = QString::fromLocal8Bit(Trace.readAllStandardOutput());
  for (const char* Library : {"libCVVesparoDXE3.so.1", "libCorvaneHostFw.so.1", "libCorvanePlatform.so.1"})
    EXPECT_TRUE(Loaded.contains(QStringLiteral("%1 => %2/lib/%1").arg(QLatin1String(Library), Target)))
      << Library << "\n" << Loaded.toStdString();
  EXPECT_FALSE(Loaded.contains(QStringLiteral("not found"))) << Loaded.toStdString();
  // and it runs
  const ToolRun::TRun Viewed = ToolRun::Run(Viewer, {QStringLiteral("--print=") + Env.Root() + QStringLiteral("/none.Hmld")});
  EXPECT_EQ(Viewed.Code, 1);
  EXPECT_TRUE(Viewed.Err.contains(QStringLiteral("no such report file"))) << Viewed.Err.toStdString();

  // Installing again over it works as well.
  EXPECT_EQ(ToolRun::Run(SetupProgram, {QStringLiteral("/S"), QStringLiteral("/D=") + Target}).Code, 0);
  EXPECT_EQ(InstallationPath(), Viewer);
}

TEST(Setup, AFailureLeavesNeitherAViewerNorAValue)
{
  TestSupport::TTempEnvironment Env;
  SetInstallationPath(QStringLiteral("/earlier/CorvaneViewer"));
  const QString File = Env.Root() + QStringLiteral("/a file");
  TestSupport::WriteAll(File, "x");
  const QString Relative = QStringLiteral("relative/Corvane");

  // A setup without its payload.
  const QString Lonely = Env.Root() + QStringLiteral("/lonely/Corvane_setup.exe");
  QDir().mkpath(Env.Root() + QStringLiteral("/lonely"));
  ASSERT_TRUE(QFile::copy(SetupProgram, Lonely));
  const ToolRun::TRun NoPayload = ToolRun::Run(Lonely, {QStringLiteral("/S /D=") + Env.Root() + QStringLiteral("/t")});
  EXPECT_EQ(NoPayload.Code, 2);
  EXPECT_TRUE(NoPayload.Err.contains(QStringLiteral("viewer is missing")));

  for (const QString& Arguments : {QStringLiteral("/S /D=") + File + QStringLiteral("/Corvane"),
                                   QStringLiteral("/S /D=") + Relative, QStringLiteral("/S"), QStringLiteral("/S /X")}) {
    const ToolRun::TRun Failed = ToolRun::Run(SetupProgram, {Arguments}, 60000, Env.Root());
    EXPECT_EQ(Failed.Code, 2) << Arguments.toStdString();
    EXPECT_FALSE(Failed.Err.isEmpty());
  }
  EXPECT_EQ(InstallationPath(), QStringLiteral("/earlier/CorvaneViewer"));
  EXPECT_FALSE(QFileInfo::exists(Env.Root() + QStringLiteral("/t/CorvaneViewer")));
  EXPECT_FALSE(QFileInfo::exists(Env.Root() + QStringLiteral("/relative")));

  // A place taken by a folder: found before anything moves, so the earlier
  // libraries stay as they were and no temporary file is left.
  const QString Blocked = Env.Root() + QStringLiteral("/blocked");
  QDir().mkpath(Blocked + QStringLiteral("/CorvaneViewer"));
  QDir().mkpath(Blocked + QStringLiteral("/lib"));
  const QStringList Libraries =
    QDir(QFileInfo(SetupProgram).path() + QStringLiteral("/Payload/lib")).entryList(QDir::Files);
  ASSERT_FALSE(Libraries.isEmpty());
  for (const QString& Library : Libraries)
    TestSupport::WriteAll(Blocked + QStringLiteral("/lib/") + Library, "earlier");
  const ToolRun::TRun InTheWay = ToolRun::Run(SetupProgram, {QStringLiteral("/S /D=") + Blocked});
  EXPECT_EQ(InTheWay.Code, 2);
  EXPECT_TRUE(InTheWay.Err.contains(QStringLiteral("CorvaneViewer into place"))) << InTheWay.Err.toStdString();
  for (const QString& Library : Libraries)
    EXPECT_EQ(TestSupport::ReadAll(Blocked + QStringLiteral("/lib/") + Library), QByteArray("earlier"));
  EXPECT_EQ(QDir(Blocked + QStringLiteral("/lib")).entryList(QDir::Files | QDir::Hidden), Libraries);
  EXPECT_EQ(InstallationPath(), QStringLiteral("/earlier/CorvaneViewer"));

  // A disk that takes no more (a limit on file sizes stands in for it):
  // the system's reason, and nothing left behind.
  const ToolRun::TRun Full = ToolRun::Run(
    QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("trap '' XFSZ; ulimit -f 64; exec \"$0\" \"$1\""),
                                SetupProgram, QStringLiteral("/S /D=") + Env.Root() + QStringLiteral("/full")});
  EXPECT_EQ(Full.Code, 2);
  EXPECT_TRUE(Full.Err.contains(QString::fromLocal8Bit(std::strerror(EFBIG)))) << Full.Err.toStdString();
  EXPECT_EQ(QDir(Env.Root() + QStringLiteral("/full/lib")).entryList(QDir::Files | QDir::Hidden), QStringList());
  EXPECT_EQ(InstallationPath(), QStringLiteral("/earlier/CorvaneViewer"));
}

// Setups running at the same time into one folder each write their own
// temporary files; the installation ends whole, and the value names it.
TEST(Setup, ConcurrentRunsIntoOneFolderAllSucceed)
{
  TestSupport::TTempEnvironment Env;
  const QString Target = Env.Root() + QStringLiteral("/comp/Corvane");
  std::vector<std::unique_ptr<QProcess>> Runs;
  for (int I = 0; I < 4; ++I) {
    Runs.push_back(std::make_unique<QProcess>());
    Runs.back()->start(SetupProgram, {QStringLiteral("/S /D=") + Target});
  }
  for (const auto& Run : Runs) {
    ASSERT_TRUE(Run->waitForFinished(60000));
    EXPECT_EQ(Run->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(Run->exitCode(), 0) << Run->readAllStandardError().toStdString();
  }
  EXPECT_EQ(InstallationPath(), Target + QStringLiteral("/CorvaneViewer"));
  EXPECT_EQ(TestSupport::ReadAll(Target + QStringLiteral("/CorvaneViewer")),
            TestSupport::ReadAll(QStringLiteral(CORVANE_BIN_DIR "/Corvane/Payload/CorvaneViewer")));
  // No temporary file is left behind.
  EXPECT_EQ(QDir(Target).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            (QStringList{QStringLiteral("CorvaneViewer"), QStringLiteral("lib")}));
  EXPECT_EQ(QDir(Target + QStringLiteral("/lib")).entryList(QDir::Hidden | QDir::Files).filter(QStringLiteral(".part")),
            QStringList());
}
