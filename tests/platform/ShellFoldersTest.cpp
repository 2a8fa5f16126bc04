#include "platform/ShellFolders.h"

#include "tests/support/TempEnvironment.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

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

  // Without a usable HOME, the account's home from the password database,
  // never the file-system root.
  const QString AccountHome = QFile::decodeName(::getpwuid(::geteuid())->pw_dir);
  ASSERT_TRUE(AccountHome.startsWith(QLatin1Char('/')));
  for (const std::optional<QString>& Home : {std::optional<QString>(), std::optional<QString>(QString()),
                                             std::optional<QString>(QStringLiteral("relative/home"))}) {
    Env.Set("HOME", Home);
    EXPECT_EQ(QDir::cleanPath(HomeFolder()), QDir::cleanPath(AccountHome));
    EXPECT_EQ(SHGetFolderPathAppData(), QDir::cleanPath(AccountHome + QStringLiteral("/.local/share")));
  }
}

TEST(ShellFolders, CommonDocumentsOnlyWhenTheFolderExists)
{
  TestSupport::TTempEnvironment Env;
  const QString Folder = Env.Root() + QStringLiteral("/common documents");
  EXPECT_EQ(SHGetSpecialFolderPathCommonDocuments(), QString());
  ASSERT_TRUE(QDir().mkpath(Folder));
  EXPECT_EQ(SHGetSpecialFolderPathCommonDocuments(), Folder);
}
