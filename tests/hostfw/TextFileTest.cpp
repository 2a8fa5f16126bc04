#include "hostfw/TextFile.h"

#include "hostfw/Exceptions.h"
#include "platform/AnsiCodePage.h"
#include "tests/support/TempEnvironment.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

using TextFile::TTextFile;

namespace {

class TextFileTest : public ::testing::Test {
protected:
  void SetUp() override { AnsiCodePage::SetACP(1252); }
  void TearDown() override { AnsiCodePage::SetACP(0); }

  QString Path(const QString& Name) const { return Env.Root() + QLatin1Char('/') + Name; }

  TestSupport::TTempEnvironment Env;
};

// The errno carried by the EInOutError that Action raises; -1 when it
// raises nothing.
int ErrorCodeOf(const std::function<void()>& Action)
{
  try {
    Action();
  } catch (const EInOutError& E) {
    return E.ErrorCode;
  }
  return -1;
}

QStringList ReadLines(const QString& FileName)
{
  TTextFile F(FileName);
  F.Reset();
  QStringList Lines;
  while (!F.Eof())
    Lines << F.ReadLn();
  F.Close();
  return Lines;
}

}  // namespace

TEST_F(TextFileTest, RewriteWritesAnsiBytesWithCrLf)
{
  const QString Name = Path(QStringLiteral("out.txt"));
  TestSupport::WriteAll(Name, QByteArray("old content that must go away"));
  TTextFile F(Name);
  F.Rewrite();
  EXPECT_TRUE(F.IsOpen());
  F.Write(QStringLiteral("Prix: "));
  F.WriteLn(QStringLiteral("5 € café"));
  F.WriteLn();
  F.WriteLn(QStringLiteral("жx"));
  F.Close();
  EXPECT_FALSE(F.IsOpen());
  EXPECT_EQ(TestSupport::ReadAll(Name), QByteArray("Prix: 5 \x80 caf\xE9\r\n\r\n?x\r\n"));
}

TEST_F(TextFileTest, WrittenTextFollowsTheProcessCodePage)
{
  AnsiCodePage::SetACP(1251);
  const QString Name = Path(QStringLiteral("ru.txt"));
  TTextFile F(Name);
  F.Rewrite();
  F.WriteLn(QStringLiteral("Да é"));
  F.Close();
  EXPECT_EQ(TestSupport::ReadAll(Name), QByteArray("\xC4\xE0 ?\r\n"));
  EXPECT_EQ(ReadLines(Name), QStringList{QStringLiteral("Да ?")});
}

TEST_F(TextFileTest, AppendAddsAtTheEndOfAnExistingFile)
{
  const QString Name = Path(QStringLiteral("log.txt"));
  TestSupport::WriteAll(Name, QByteArray("first\r\n"));
  TTextFile F(Name);
  F.Append();
  F.WriteLn(QStringLiteral("second"));
  F.Close();
  EXPECT_EQ(TestSupport::ReadAll(Name), QByteArray("first\r\nsecond\r\n"));
}

TEST_F(TextFileTest, OpenFailuresCarryTheSystemErrorCode)
{
  const QString Missing = Path(QStringLiteral("missing.txt"));
  TTextFile F(Missing);
  EXPECT_EQ(ErrorCodeOf([&] { F.Append(); }), ENOENT);
  EXPECT_FALSE(F.IsOpen());
  EXPECT_FALSE(QFileInfo::exists(Missing)) << "Append must not create the file";
  EXPECT_EQ(ErrorCodeOf([&] { F.Reset(); }), ENOENT);

  TTextFile InMissingFolder(Path(QStringLiteral("no such folder/out.txt")));
  EXPECT_EQ(ErrorCodeOf([&] { InMissingFolder.Rewrite(); }), ENOENT);
  EXPECT_FALSE(InMissingFolder.IsOpen());

  TTextFile Folder(Env.Root());
  EXPECT_EQ(ErrorCodeOf([&] { Folder.Rewrite(); }), EISDIR);
}

TEST_F(TextFileTest, FullDeviceFailsAtCloseAndReleasesTheHandle)
{
  if (!QFileInfo::exists(QStringLiteral("/dev/full")))
    GTEST_SKIP() << "no /dev/full here";
  TTextFile F(QStringLiteral("/dev/full"));
  F.Rewrite();
  F.WriteLn(QStringLiteral("this cannot be stored"));
  EXPECT_EQ(ErrorCodeOf([&] { F.Close(); }), ENOSPC);
  EXPECT_FALSE(F.IsOpen());
  EXPECT_NO_THROW(F.Close());
}

TEST_F(TextFileTest, UsingAFileInTheWrongModeRaises)
{
  const QString Name = Path(QStringLiteral("mode.txt"));
  TTextFile F(Name);
  EXPECT_EQ(ErrorCodeOf([&] { F.WriteLn(QStringLiteral("x")); }), EBADF);
  EXPECT_EQ(ErrorCodeOf([&] { F.ReadLn(); }), EBADF);
  F.Rewrite();
  EXPECT_EQ(ErrorCodeOf([&] { F.ReadLn(); }), EBADF);
  F.Close();
  F.Reset();
  EXPECT_EQ(ErrorCodeOf([&] { F.Write(QStringLiteral("x")); }), EBADF);
}

TEST_F(TextFileTest, ReopeningAndDestructionStoreWhatWasWritten)
{
  const QString Name = Path(QStringLiteral("reopen.txt"));
  {
    TTextFile F(Name);
    F.Rewrite();
    F.WriteLn(QStringLiteral("kept"));
    F.Reset();  // closes the written file first
    EXPECT_EQ(F.ReadLn(), QStringLiteral("kept"));
    EXPECT_TRUE(F.Eof());
    F.Append();
    F.Write(QStringLiteral("unclosed"));
  }
  EXPECT_EQ(TestSupport::ReadAll(Name), QByteArray("kept\r\nunclosed"));
}

TEST_F(TextFileTest, ReadsEveryKindOfLineEnd)
{
  const QString Name = Path(QStringLiteral("mixed.txt"));
  TestSupport::WriteAll(Name, QByteArray("dos\r\nunix\nmac\rafter\r\n\r\n\n\xE9t\xE9 \x80\r\nlast"));
  EXPECT_EQ(ReadLines(Name), (QStringList{QStringLiteral("dos"), QStringLiteral("unix"), QStringLiteral("mac"),
                                          QStringLiteral("after"), QString(), QString(), QStringLiteral("été €"),
                                          QStringLiteral("last")}));

  TestSupport::WriteAll(Name, QByteArray("ends with cr\r"));
  EXPECT_EQ(ReadLines(Name), QStringList{QStringLiteral("ends with cr")});
}

TEST_F(TextFileTest, EmptyFileIsAtEndAtOnce)
{
  const QString Name = Path(QStringLiteral("empty.txt"));
  TestSupport::WriteAll(Name, QByteArray());
  TTextFile F(Name);
  F.Reset();
  EXPECT_TRUE(F.Eof());
  EXPECT_EQ(F.ReadLn(), QString());
  EXPECT_TRUE(F.Eof());
}

TEST_F(TextFileTest, CrLfSplitAcrossReadChunksIsOneLineEnd)
{
  const QString Name = Path(QStringLiteral("split.txt"));
  // Lengths around 64 KiB put the CR and the LF into different reads.
  for (int Length : {65535, 65536, 65534, 131071}) {
    const QByteArray Long(Length, 'x');
    TestSupport::WriteAll(Name, Long + "\r\nnext\r\n");
    const QStringList Lines = ReadLines(Name);
    ASSERT_EQ(Lines.size(), 2) << Length;
    EXPECT_EQ(Lines[0].size(), Length);
    EXPECT_EQ(Lines[1], QStringLiteral("next"));
  }
}

TEST_F(TextFileTest, LargeFileRoundTrip)
{
  const QString Name = Path(QStringLiteral("large.txt"));
  QStringList Written;
  qint64 ExpectedSize = 0;
  TTextFile F(Name);
  F.Rewrite();
  for (int I = 0; I < 120000; ++I) {
    const QString Line = QStringLiteral("Zeile %1 – äöü € ").arg(I) + QString(I % 97, QLatin1Char('#'));
    F.WriteLn(Line);
    Written << Line;
    ExpectedSize += Line.size() + 2;
  }
  F.Close();
  EXPECT_EQ(QFileInfo(Name).size(), ExpectedSize);
  EXPECT_GT(ExpectedSize, 5 * 1000 * 1000);
  EXPECT_EQ(ReadLines(Name), Written);
}

TEST_F(TextFileTest, CharacterSplitBetweenWritesStaysOneCharacter)
{
  const QString Name = Path(QStringLiteral("pair.txt"));
  const QString Smiley = QStringLiteral("\U0001F600");
  TTextFile F(Name);
  F.Rewrite();
  // Large enough to make the file convert after the first half.
  F.Write(QString(70000, QLatin1Char('a')) + Smiley[0]);
  F.Write(QString(Smiley[1]) + QStringLiteral("b"));
  F.Close();
  EXPECT_EQ(TestSupport::ReadAll(Name), QByteArray(70000, 'a') + "?b");
}
