// Files written whole under a temporary name and placed without replacing.

#include "hostfw/TempFile.h"

#include "hostfw/Exceptions.h"
#include "tests/support/TempEnvironment.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

using TempFile::NumberedName;
using TempFile::TTempFile;

namespace {
QStringList FilesIn(const QString& Folder) { return QDir(Folder).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
}  // namespace

TEST(TempFile, PlacedWholeNeverOverAnotherAndGoneWhenNotPlaced)
{
  TestSupport::TTempEnvironment Env;
  const QString Folder = Env.Root() + QStringLiteral("/folder with blanks");
  QDir().mkpath(Folder);
  const QString Target = Folder + QStringLiteral("/bugReport07_12_2026 03_14_56.zip");
  TestSupport::WriteAll(Target, "an earlier archive");

  const mode_t Saved = ::umask(022);
  {
    TTempFile File(Folder, QFileInfo(Target).fileName());
    // Hidden until placed: nobody takes a half file for the real one.
    EXPECT_TRUE(QFileInfo(File.Path()).fileName().startsWith(QStringLiteral(".bugReport07_12_2026 03_14_56.zip.")));
    ASSERT_EQ(File.File().write("new archive"), 11);
    EXPECT_FALSE(File.PlaceNew(Target));
    EXPECT_EQ(TestSupport::ReadAll(Target), "an earlier archive");
    const QString Placed = File.PlaceNumbered(Target);
    EXPECT_EQ(Placed, Folder + QStringLiteral("/bugReport07_12_2026 03_14_56_2.zip"));
    EXPECT_EQ(File.Path(), Placed);
    EXPECT_EQ(TestSupport::ReadAll(Placed), "new archive");
    // With the permissions any new file of the user gets.
    struct stat Status {};
    ASSERT_EQ(::stat(QFile::encodeName(Placed).constData(), &Status), 0);
    EXPECT_EQ(Status.st_mode & 07777, 0644u);
  }
  ::umask(Saved);
  EXPECT_EQ(FilesIn(Folder), (QStringList{QStringLiteral("bugReport07_12_2026 03_14_56.zip"),
                                          QStringLiteral("bugReport07_12_2026 03_14_56_2.zip")}));

  // Given up before it was placed: it leaves nothing behind.
  {
    TTempFile File(Folder, QStringLiteral("picture.bmp"));
    File.File().write("half");
  }
  EXPECT_EQ(FilesIn(Folder).size(), 2);

  // A folder that is not there: the error names the file meant.
  try {
    TTempFile File(Folder + QStringLiteral("/missing"), QStringLiteral("picture.bmp"));
    ADD_FAILURE() << "no error";
  } catch (const EInOutError& Error) {
    EXPECT_EQ(Error.ErrorCode, ENOENT);
    EXPECT_TRUE(Error.Message().contains(Folder + QStringLiteral("/missing/picture.bmp")));
  }
}

TEST(TempFile, NumberedNamesKeepFolderAndExtension)
{
  EXPECT_EQ(NumberedName(QStringLiteral("/d/07_12_2026 03_14_56.bmp"), 1), QStringLiteral("/d/07_12_2026 03_14_56.bmp"));
  EXPECT_EQ(NumberedName(QStringLiteral("/d/07_12_2026 03_14_56.bmp"), 12),
            QStringLiteral("/d/07_12_2026 03_14_56_12.bmp"));
  EXPECT_EQ(NumberedName(QStringLiteral("/a.b/name.tar.gz"), 2), QStringLiteral("/a.b/name.tar_2.gz"));
  EXPECT_EQ(NumberedName(QStringLiteral("/a.b/name"), 2), QStringLiteral("/a.b/name_2"));
}
