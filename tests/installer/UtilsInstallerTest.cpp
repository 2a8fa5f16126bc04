// Registry helpers, process checks and the running-IDE check, against the
// registry store of a private environment and real processes.

#include "installer/u_UtilsInstaller.h"
#include "installer/u_supportUnit.h"

#include "tests/installer/IdeRegistry.h"
#include "tests/support/TempEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace u_UtilsInstaller;
using namespace u_supportUnit;
using InstallerTest::PutString;
using InstallerTest::PutUserString;
using InstallerTest::UserKeyExists;
using InstallerTest::UserString;
using Registry::HKEY_CURRENT_USER;
using Registry::HKEY_LOCAL_MACHINE;

namespace {

const QString XE3Key = QStringLiteral("\\Software\\Embarcadero\\BDS\\10.0");

// A copy of a real program under a name of our choice, run until the test
// ends.
class TRunningCopy {
public:
  TRunningCopy(const QString& Folder, const QString& Name) : FPath(Folder + QLatin1Char('/') + Name)
  {
    QDir().mkpath(Folder);
    QFile::remove(FPath);
    EXPECT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), FPath));
  }
  ~TRunningCopy() { Stop(); }

  const QString& Path() const { return FPath; }

  void Start()
  {
    FProcess.start(FPath, {QStringLiteral("60")});
    ASSERT_TRUE(FProcess.waitForStarted()) << FPath.toStdString();
  }

  void Stop()
  {
    if (FProcess.state() == QProcess::NotRunning)
      return;
    FProcess.kill();
    FProcess.waitForFinished();
  }

private:
  QString FPath;
  QProcess FProcess;
};

TEST(UtilsInstallerRegistry, ReadsWritesAndTellsKeysApart)
{
  TestSupport::TTempEnvironment Env;
  EXPECT_FALSE(RegKeyExists(XE3Key, HKEY_CURRENT_USER));

  // Writing without may-create into a missing key is silent and writes
  // nothing; with it, the key comes into being.
  WriteValueToRegisTry(XE3Key + QStringLiteral("\\Known Packages"), false, QStringLiteral("/a.bpl"), QStringLiteral("x"));
  EXPECT_FALSE(UserKeyExists(XE3Key + QStringLiteral("\\Known Packages")));
  WriteValueToRegisTry(XE3Key, true, QStringLiteral("App"), QStringLiteral("/ide/bds"));
  EXPECT_TRUE(RegKeyExists(XE3Key, HKEY_CURRENT_USER));
  EXPECT_FALSE(RegKeyExists(XE3Key, HKEY_LOCAL_MACHINE));

  QString Value = QStringLiteral("unchanged");
  EXPECT_TRUE(RegReadStr(XE3Key, QStringLiteral("App"), Value, HKEY_CURRENT_USER));
  EXPECT_EQ(Value, QStringLiteral("/ide/bds"));
  // A missing value reads as empty.
  EXPECT_TRUE(RegReadStr(XE3Key, QStringLiteral("RootDir"), Value, HKEY_CURRENT_USER));
  EXPECT_EQ(Value, QString());

  // A value of another type is a failure and leaves the text alone.
  {
    Registry::TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey(XE3Key, false));
    Reg.WriteInteger(QStringLiteral("Number"), 7);
  }
  Value = QStringLiteral("unchanged");
  EXPECT_FALSE(RegReadStr(XE3Key, QStringLiteral("Number"), Value, HKEY_CURRENT_USER));
  EXPECT_EQ(Value, QStringLiteral("unchanged"));

  // A missing key is created, empty, and reads as empty.
  const QString Missing = QStringLiteral("\\Software\\Nobody\\Here");
  EXPECT_TRUE(RegReadStr(Missing, QStringLiteral("App"), Value, HKEY_CURRENT_USER));
  EXPECT_EQ(Value, QString());
  EXPECT_TRUE(RegKeyExists(Missing, HKEY_CURRENT_USER));

  // An expandable string (hex(2), as another tool may store "App" or
  // "RootDir") reads as its text, unexpanded.
  QByteArray Hex;
  for (const QChar C : QStringLiteral("%BDS%/bds.exe") + QChar(0))
    Hex += QByteArray::number(C.unicode(), 16).rightJustified(2, '0') + ",00,";
  Hex.chop(1);
  TestSupport::WriteAll(Registry::StoreFilePath(HKEY_CURRENT_USER),
                        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Embarcadero\\BDS\\10.0]\r\n"
                        "\"App\"=hex(2):" + Hex + "\r\n\r\n");
  EXPECT_TRUE(RegReadStr(XE3Key, QStringLiteral("App"), Value, HKEY_CURRENT_USER));
  EXPECT_EQ(Value, QStringLiteral("%BDS%/bds.exe"));
}

TEST(UtilsInstallerRegistry, MachineKeysFoundAfterTheUsers)
{
  TestSupport::TTempEnvironment Env;
  PutString(HKEY_LOCAL_MACHINE, XE3Key, QStringLiteral("App"), QStringLiteral("/machine/bds"));
  EXPECT_EQ(GetDelphiLocationExeName(XE3Key), QStringLiteral("/machine/bds"));
  // The current user's key comes first.
  PutUserString(XE3Key, QStringLiteral("App"), QStringLiteral("/user/bds"));
  EXPECT_EQ(GetDelphiLocationExeName(XE3Key), QStringLiteral("/user/bds"));
  EXPECT_EQ(GetDelphiLocationExeName(QStringLiteral("\\Software\\Nobody")), QString());
}

TEST(UtilsInstallerRegistry, MachineKeysReadWithoutWriteRight)
{
  if (::geteuid() != 0)
    GTEST_SKIP() << "another user's view of the machine store needs a switch to uid 65534, which needs root";
  TestSupport::TTempEnvironment Env;
  PutString(HKEY_LOCAL_MACHINE, XE3Key, QStringLiteral("App"), QStringLiteral("/machine/bds"));
  const QString Machine = Registry::StoreFilePath(HKEY_LOCAL_MACHINE);
  for (const QString& Path : {Env.Root(), QFileInfo(Machine).absolutePath(), Machine})
    ASSERT_EQ(::chmod(QFile::encodeName(Path).constData(), Path == Machine ? 0644 : 0755), 0);

  const pid_t Child = ::fork();
  if (Child == 0) {
    int Code = 0;
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
      Code = 10;
    QString Value;
    if (Code == 0 && (!RegReadStr(XE3Key, QStringLiteral("App"), Value, HKEY_LOCAL_MACHINE) ||
                      Value != QStringLiteral("/machine/bds")))
      Code = 11;
    // A missing key cannot be created there: a failure, nothing raised.
    if (Code == 0 && RegReadStr(QStringLiteral("\\Software\\Nobody"), QStringLiteral("App"), Value, HKEY_LOCAL_MACHINE))
      Code = 12;
    ::_exit(Code);
  }
  int Status = -1;
  ::waitpid(Child, &Status, 0);
  EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0) << Status;
}

TEST(UtilsInstallerProcesses, LongNamesFoundByNameAndPath)
{
  QTemporaryDir Dir;
  // Longer than the 15 characters the kernel keeps as a process's name.
  const QString Name = QStringLiteral("Corvane_setup_long_name.exe");
  TRunningCopy Program(Dir.path(), Name);
  EXPECT_FALSE(processExists(Name));
  Program.Start();

  EXPECT_TRUE(processExists(Name));
  EXPECT_TRUE(processExists(QStringLiteral("CORVANE_SETUP_LONG_NAME.EXE")));
  EXPECT_TRUE(processExists(Program.Path()));
  EXPECT_FALSE(processExists(Name.left(15)));
  EXPECT_FALSE(processExists(QStringLiteral("Corvane_setup_long_name")));
  EXPECT_GT(ProcessFileName(quint32(QCoreApplication::applicationPid())).size(), 0);
  EXPECT_EQ(ProcessFileName(0xFFFFFFF0u), QString());

  Program.Stop();
  EXPECT_FALSE(processExists(Name));
}

TEST(UtilsInstallerProcesses, AppRunningOnlyForItsOwnPath)
{
  QTemporaryDir Dir;
  const QString Name = QStringLiteral("bds_sandbox_ide_program");
  TRunningCopy Started(Dir.path() + QStringLiteral("/one"), Name);
  TRunningCopy Copy(Dir.path() + QStringLiteral("/two"), Name);
  Started.Start();

  EXPECT_TRUE(IsAppRunning(Started.Path()));
  EXPECT_FALSE(IsAppRunning(Copy.Path()));
  // The same file through a link to its folder.
  ASSERT_TRUE(QFile::link(Dir.path() + QStringLiteral("/one"), Dir.path() + QStringLiteral("/link")));
  EXPECT_TRUE(IsAppRunning(Dir.path() + QStringLiteral("/link/") + Name));
  // Another spelling is another file here.
  EXPECT_FALSE(IsAppRunning(Dir.path() + QStringLiteral("/ONE/") + Name));
  EXPECT_FALSE(IsAppRunning(QString()));
}

TEST(UtilsInstallerProcesses, RunningIdeCountedWhileItRunsOnly)
{
  TestSupport::TTempEnvironment Env;
  const QString Name = QStringLiteral("bds");
  TRunningCopy Ide(Env.Root() + QStringLiteral("/xe3/Bin"), Name);
  TRunningCopy Other(Env.Root() + QStringLiteral("/elsewhere"), Name);
  PutUserString(XE3Key, QStringLiteral("App"), Ide.Path());
  EXPECT_FALSE(IsIDErunning());

  // A copy of the IDE at another path is not the IDE.
  Other.Start();
  EXPECT_FALSE(IsIDErunning());
  Ide.Start();
  EXPECT_TRUE(IsIDErunning());
  EXPECT_EQ(iRunningCOunter, 1);
  Ide.Stop();
  EXPECT_FALSE(IsIDErunning());
  EXPECT_EQ(iRunningCOunter, 0);

  // Known only to the machine: not an IDE of this user.
  const QString D7Key = QStringLiteral("\\Software\\Borland\\Delphi\\7.0");
  TRunningCopy Machine(Env.Root() + QStringLiteral("/d7/Bin"), QStringLiteral("delphi32"));
  PutString(HKEY_LOCAL_MACHINE, D7Key, QStringLiteral("App"), Machine.Path());
  Machine.Start();
  EXPECT_FALSE(IsIDErunning());
}

}  // namespace
