#include "platform/Processes.h"
#include "platform/Registry.h"

#include "tests/support/TempEnvironment.h"
#include "tests/tools/ToolRun.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

using Registry::TRegistry;
using TestSupport::ReadAll;
using TestSupport::WriteAll;

namespace {

const QString SandboxIdeProgram = QStringLiteral(CORVANE_BIN_DIR "/sandbox-ide");
const QString Xe3Key = QStringLiteral("\\Software\\Embarcadero\\BDS\\10.0");
const QString D7Key = QStringLiteral("\\Software\\Borland\\Delphi\\7.0");

QString Value(const QString& Key, const QString& Name)
{
  TRegistry Store;
  return Store.OpenKeyReadOnly(Key) ? Store.ReadString(Name) : QStringLiteral("<no key>");
}

bool KeyExists(const QString& Key)
{
  TRegistry Store;
  return Store.KeyExists(Key);
}

class SandboxIde : public ::testing::Test {
protected:
  QString Root() const { return Env.Root() + QStringLiteral("/my ide"); }
  TestSupport::TTempEnvironment Env;
};

}  // namespace

TEST_F(SandboxIde, RegisterLaysOutTheIdeAndRecordsItAsThatIdeWould)
{
  const ToolRun::TRun Xe3 = ToolRun::Run(SandboxIdeProgram, {QStringLiteral("register"), QStringLiteral("RAD Studio XE3"), Root()});
  ASSERT_EQ(Xe3.Code, 0) << Xe3.Err.toStdString();
  const QString App = Root() + QStringLiteral("/Bin/bds.exe");
  EXPECT_TRUE(QFileInfo(App).isExecutable());
  EXPECT_EQ(ReadAll(App), ReadAll(SandboxIdeProgram));  // the program itself, not a script
  EXPECT_TRUE(QFileInfo(Root() + QStringLiteral("/Bin/dcc32.exe")).isExecutable());
  EXPECT_TRUE(QFileInfo::exists(Root() + QStringLiteral("/Bin/dcc32.cfg")));
  EXPECT_EQ(ReadAll(Root() + QStringLiteral("/Bin/dcc32.cfg")), QByteArray());
  const QString Jcl = Root() + QStringLiteral("/jcl/lib");
  EXPECT_TRUE(QFileInfo::exists(Jcl + QStringLiteral("/platform/Registry.h")));
  EXPECT_TRUE(QFileInfo::exists(Jcl + QStringLiteral("/hostfw/Application.h")));
  EXPECT_TRUE(QFileInfo::exists(Jcl + QStringLiteral("/libCorvanePlatform.so")));

  EXPECT_EQ(Value(Xe3Key, QStringLiteral("RootDir")), Root() + QLatin1Char('/'));
  EXPECT_EQ(Value(Xe3Key, QStringLiteral("App")), App);
  const QString SearchPath = QStringLiteral("$(BDS)/lib;%1;$(BDS)/Imports").arg(Jcl);
  EXPECT_EQ(Value(Xe3Key + QStringLiteral("\\Library"), QStringLiteral("Search Path")), SearchPath);
  EXPECT_EQ(Value(Xe3Key + QStringLiteral("\\Library\\Win32"), QStringLiteral("Search Path")), SearchPath);
  EXPECT_TRUE(KeyExists(Xe3Key + QStringLiteral("\\Known Packages")));
  EXPECT_TRUE(KeyExists(Xe3Key + QStringLiteral("\\Globals")));

  // The older IDEs: no trailing separator, their own executable, no Win32 key.
  const QString D7Root = Env.Root() + QStringLiteral("/d7");
  ASSERT_EQ(ToolRun::Run(SandboxIdeProgram, {QStringLiteral("register"), QStringLiteral("Delphi 7"), D7Root}).Code, 0);
  EXPECT_EQ(Value(D7Key, QStringLiteral("RootDir")), D7Root);
  EXPECT_EQ(Value(D7Key, QStringLiteral("App")), D7Root + QStringLiteral("/Bin/delphi32.exe"));
  EXPECT_FALSE(KeyExists(D7Key + QStringLiteral("\\Library\\Win32")));
}

TEST_F(SandboxIde, RegisteringAgainKeepsWhatTheIdeGatheredAndUnknownIdesAreRefused)
{
  ASSERT_EQ(ToolRun::Run(SandboxIdeProgram, {QStringLiteral("register"), QStringLiteral("RAD Studio XE3"), Root()}).Code, 0);
  {
    TRegistry Store;
    ASSERT_TRUE(Store.OpenKey(Xe3Key + QStringLiteral("\\Known Packages"), false));
    Store.WriteString(QStringLiteral("/x/CVVesparoDXE3.bpl"), QStringLiteral("Delphi XE3 Corvane Bpl File"));
    ASSERT_TRUE(Store.OpenKey(Xe3Key + QStringLiteral("\\Library"), false));
    Store.WriteString(QStringLiteral("Search Path"), QStringLiteral("a;b"));
  }
  WriteAll(Root() + QStringLiteral("/Bin/dcc32.cfg"), "-u\"x\"\r\n");
  // again, this time from the IDE's own copy
  const ToolRun::TRun Again =
    ToolRun::Run(Root() + QStringLiteral("/Bin/bds.exe"), {QStringLiteral("register"), QStringLiteral("RAD Studio XE3"), Root()});
  ASSERT_EQ(Again.Code, 0) << Again.Err.toStdString();
  EXPECT_EQ(Value(Xe3Key + QStringLiteral("\\Known Packages"), QStringLiteral("/x/CVVesparoDXE3.bpl")),
            QStringLiteral("Delphi XE3 Corvane Bpl File"));
  EXPECT_EQ(Value(Xe3Key + QStringLiteral("\\Library"), QStringLiteral("Search Path")), QStringLiteral("a;b"));
  EXPECT_EQ(ReadAll(Root() + QStringLiteral("/Bin/dcc32.cfg")), QByteArray("-u\"x\"\r\n"));

  for (const QString& Name : {QStringLiteral("RAD Studio XE4"), QStringLiteral("rad studio xe3"), QString()}) {
    const ToolRun::TRun Unknown = ToolRun::Run(SandboxIdeProgram, {QStringLiteral("register"), Name, Env.Root() + QStringLiteral("/other")});
    EXPECT_EQ(Unknown.Code, 1);
    EXPECT_TRUE(Unknown.Err.contains(QStringLiteral("unknown IDE"))) << Unknown.Err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(Env.Root() + QStringLiteral("/other")));
  }
  EXPECT_EQ(ToolRun::Run(SandboxIdeProgram, {QStringLiteral("register"), QStringLiteral("Delphi 6")}).Code, 1);
  EXPECT_FALSE(KeyExists(QStringLiteral("\\Software\\Borland\\Delphi\\6.0")));
}

// A root that the registry store or the search path would hold under
// another name is refused, and nothing is laid out or recorded.
TEST_F(SandboxIde, RootsThatCannotBeNamedAsTheyAreAreRefused)
{
  QProcess NotText;
  NotText.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exec \"$0\" register \"RAD Studio XE3\" \"$1$(printf '\\377')\""),
                                            SandboxIdeProgram, Env.Root() + QStringLiteral("/ide")});
  ASSERT_TRUE(NotText.waitForFinished(60000));
  EXPECT_NE(NotText.exitCode(), 0);
  EXPECT_TRUE(NotText.readAllStandardError().contains("not UTF-8 text"));

  const ToolRun::TRun Split =
    ToolRun::Run(SandboxIdeProgram, {QStringLiteral("register"), QStringLiteral("RAD Studio XE3"), Env.Root() + QStringLiteral("/a;b")});
  EXPECT_EQ(Split.Code, 1);
  EXPECT_TRUE(Split.Err.contains(QStringLiteral("\";\""))) << Split.Err.toStdString();

  EXPECT_EQ(QDir(Env.Root()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).filter(QStringLiteral("ide")), QStringList());
  EXPECT_FALSE(QFileInfo::exists(Env.Root() + QStringLiteral("/a;b")));
  EXPECT_FALSE(QFileInfo::exists(Registry::StoreFilePath(Registry::HKEY_CURRENT_USER)));
}

TEST_F(SandboxIde, ListShowsEachKnownPackageWhetherItLoadsAndItsComponents)
{
  ASSERT_EQ(ToolRun::Run(SandboxIdeProgram, {QStringLiteral("register"), QStringLiteral("RAD Studio XE3"), Root()}).Code, 0);
  const QString Plugin = QStringLiteral(CORVANE_LIB_DIR "/designer/libCorvaneDesignerPlugin.so");
  const QString Text = Env.Root() + QStringLiteral("/not a library.bpl");
  WriteAll(Text, "package\n");
  const QString Missing = Env.Root() + QStringLiteral("/gone.bpl");
  {
    TRegistry Store;
    ASSERT_TRUE(Store.OpenKey(Xe3Key + QStringLiteral("\\Known Packages"), false));
    Store.WriteString(Plugin, QStringLiteral("Corvane\tcomponents"));
    Store.WriteString(Text, QStringLiteral("text"));
    Store.WriteString(Missing, QStringLiteral("gone"));
  }
  const ToolRun::TRun List = ToolRun::Run(Root() + QStringLiteral("/Bin/bds.exe"), {QStringLiteral("--list")});
  ASSERT_EQ(List.Code, 0) << List.Err.toStdString();
  const QStringList Lines = List.Out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_EQ(Lines.size(), 3) << List.Out.toStdString();
  EXPECT_TRUE(Lines.contains(Plugin + QStringLiteral("\tCorvane\\tcomponents\texists\tloads\tTCVVesparo")))
    << List.Out.toStdString();
  EXPECT_TRUE(Lines.contains(Missing + QStringLiteral("\tgone\tmissing\tdoes not load: no such file\t")));
  const QStringList Broken = Lines.filter(Text);
  ASSERT_EQ(Broken.size(), 1);
  EXPECT_TRUE(Broken[0].startsWith(Text + QStringLiteral("\ttext\texists\tdoes not load: "))) << Broken[0].toStdString();

  // Not started as an IDE: nothing to list.
  const ToolRun::TRun NoIde = ToolRun::Run(SandboxIdeProgram, {QStringLiteral("--list")});
  EXPECT_EQ(NoIde.Code, 1);
  EXPECT_TRUE(NoIde.Err.contains(QStringLiteral("not started as a registered IDE")));
}

TEST_F(SandboxIde, TheRunningIdeIsSeenAtItsAppPath)
{
  ASSERT_EQ(ToolRun::Run(SandboxIdeProgram, {QStringLiteral("register"), QStringLiteral("RAD Studio XE3"), Root()}).Code, 0);
  const QString App = Value(Xe3Key, QStringLiteral("App"));
  QProcess Ide;
  QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
  Environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  Ide.setProcessEnvironment(Environment);
  Ide.start(App, {});
  ASSERT_TRUE(Ide.waitForStarted());
  const auto Seen = [&] {
    for (const Processes::TProcessEntry& Entry : Processes::CreateToolhelp32Snapshot())
      if (Entry.th32ProcessID == static_cast<quint32>(Ide.processId()))
        return Entry.szExeFile == App && Processes::GetModuleFileNameEx(Entry.th32ProcessID) == App;
    return false;
  };
  bool Found = false;
  for (int Try = 0; Try < 100 && !Found; ++Try) {
    Found = Seen();
    if (!Found)
      QThread::msleep(50);
  }
  EXPECT_TRUE(Found);
  EXPECT_EQ(Ide.state(), QProcess::Running) << Ide.readAllStandardError().toStdString();  // the window stays up
  Ide.kill();
  Ide.waitForFinished();
}
