#include "platform/ShellFolders.h"

#include "tests/support/TempEnvironment.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace ShellFolders;

TEST(ShellFolders, ApplicationDataFolderFromTheEnvironment)
{
  TestSupport::TTempEnvironment Env;
  Env.Set("XDG_DATA_HOME", QStringLiteral("/srv/data/"));
  EXPECT_EQ(SHGetFolderPathAppData(), QStringLiteral("/srv/data"));

  // Relative XDG_DATA_HOME is ignored; the home folder's default is taken.
  Env.Set("XDG_DATA_HOME", QStringLiteral("relative/data"));
  Env.Set("HOME", QStringLiteral("/home/anna"));
  EXPECT_EQ(SHGetFolderPathAppData(), QStringLiteral("/home/anna/.local/share"));

  Env.Set("XDG_DATA_HOME", std::nullopt);
  EXPECT_EQ(SHGetFolderPathAppData(), QStringLiteral("/home/anna/.local/share"));

  Env.Set("HOME", std::nullopt);
  EXPECT_EQ(SHGetFolderPathAppData(), QString());
}

TEST(ShellFolders, CommonDocumentsOnlyWhenTheFolderExists)
{
  TestSupport::TTempEnvironment Env;
  const QString Folder = Env.Root() + QStringLiteral("/common documents");
  EXPECT_EQ(SHGetSpecialFolderPathCommonDocuments(), QString());
  ASSERT_TRUE(QDir().mkpath(Folder));
  EXPECT_EQ(SHGetSpecialFolderPathCommonDocuments(), Folder);
}
