#include "package/Vesparoutil.h"

#include "platform/Registry.h"
#include "tests/support/TempEnvironment.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

using namespace Vesparoutil;

TEST(Vesparoutil, BaseNameDropsOnlyTheLastExtension)
{
  EXPECT_EQ(BaseNameOf(QStringLiteral("/opt/app/vesparo-demo")), QStringLiteral("vesparo-demo"));
  EXPECT_EQ(BaseNameOf(QStringLiteral("/opt/app/demo.exe")), QStringLiteral("demo"));
  EXPECT_EQ(BaseNameOf(QStringLiteral("/opt/app/my.tool.bin")), QStringLiteral("my.tool"));
  // A dot in a folder name is no extension of the file.
  EXPECT_EQ(BaseNameOf(QStringLiteral("/opt/app.d/tool")), QStringLiteral("tool"));
  EXPECT_EQ(ExtractFileName(QStringLiteral("/opt/app.d/tool.x")), QStringLiteral("tool.x"));
  EXPECT_EQ(ExtractFilePath(QStringLiteral("/opt/app.d/tool.x")), QStringLiteral("/opt/app.d/"));
}

TEST(Vesparoutil, ReportPathsFollowTheApplicationDataFolder)
{
  TestSupport::TTempEnvironment Env(QStringLiteral("data with blanks"));
  EXPECT_EQ(getUserAppDataDirectOryPath(), Env.DataHome());
  EXPECT_EQ(DataFolderPath(), Env.DataFolder());
  EXPECT_EQ(ReportFilePathFor(QStringLiteral("/x/my.tool.bin")),
            Env.DataFolder() + QStringLiteral("/my.tool_halvern_leak_log.Hmld"));
  EXPECT_EQ(GetThePath(nullptr), Env.DataHome());

  // Two applications of the same name in different folders share one file.
  EXPECT_EQ(ReportFilePathFor(QStringLiteral("/a/tool")), ReportFilePathFor(QStringLiteral("/b/tool")));

  // Without HOME the account still has its home: never the root.
  Env.Set("XDG_DATA_HOME", std::nullopt);
  Env.Set("HOME", std::nullopt);
  const QString Home = QDir::cleanPath(QFile::decodeName(::getpwuid(::geteuid())->pw_dir));
  EXPECT_EQ(getUserAppDataDirectOryPath(), QDir::cleanPath(Home + QStringLiteral("/.local/share")));
  EXPECT_EQ(DataFolderPath(), QDir::cleanPath(Home + QStringLiteral("/.local/share/Corvane 1.1")));
}

TEST(Vesparoutil, ForceDataFolderCreatesEveryMissingParent)
{
  TestSupport::TTempEnvironment Env;
  const QString Folder = Env.Root() + QStringLiteral("/a/b c/Corvane 1.1");
  ForceDataFolder(Folder);
  EXPECT_TRUE(QDir(Folder).exists());
  ForceDataFolder(Folder);  // existing: nothing happens
  EXPECT_TRUE(QDir(Folder).exists());
}

TEST(Vesparoutil, MyDocumentsFallsBackToTheFixedFolder)
{
  TestSupport::TTempEnvironment Env;
  EXPECT_EQ(GetMyDocuments(), QStringLiteral("/Documents and Settings/All Users/Documents"));
  QDir().mkpath(Env.Root() + QStringLiteral("/common documents"));
  EXPECT_EQ(GetMyDocuments(), Env.Root() + QStringLiteral("/common documents"));
}

TEST(Vesparoutil, ReadRegistryValuesByKind)
{
  TestSupport::TTempEnvironment Env;
  {
    Registry::TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\SOFTWARE\\Corvane"), true));
    Reg.WriteString(QStringLiteral("Installation_path"), QStringLiteral("/opt/corvane/CorvaneViewer"));
    Reg.WriteInteger(QStringLiteral("Count"), -7);
  }
  const QString Key = QStringLiteral("\\SOFTWARE\\Corvane");
  EXPECT_EQ(ReadRegistryValues(Key, false, QStringLiteral("Installation_path"), 1, true),
            QStringLiteral("/opt/corvane/CorvaneViewer"));
  EXPECT_EQ(ReadRegistryValues(Key, false, QStringLiteral("Count"), 2, true), QStringLiteral("-7"));
  EXPECT_EQ(ReadRegistryValues(Key, false, QStringLiteral("Installation_path"), 3, true), QString());
  EXPECT_EQ(ReadRegistryValues(Key, false, QStringLiteral("Missing"), 1, true), QString());
  EXPECT_EQ(ReadRegistryValues(QStringLiteral("\\SOFTWARE\\Nobody"), false, QStringLiteral("X"), 1, true), QString());
  // A value of another type is the registry object's failure, not ours.
  EXPECT_THROW(ReadRegistryValues(Key, false, QStringLiteral("Count"), 1, true), ERegistryException);
}
