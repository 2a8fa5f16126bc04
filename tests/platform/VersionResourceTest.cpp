#include "platform/VersionResource.h"
#include "tools/version-resource/VersionWriter.h"

#include "tests/support/TempEnvironment.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace VersionResource;

namespace {

// The text a query finds, without its NUL; nullopt when the query fails.
std::optional<QString> Query(const QByteArray& Block, const QString& SubBlock)
{
  const void* Value = nullptr;
  std::uint32_t Length = 0;
  if (!VerQueryValueW(Block.constData(), SubBlock, &Value, &Length))
    return std::nullopt;
  QString Text = QString::fromUtf16(static_cast<const char16_t*>(Value), Length);
  if (Text.endsWith(QChar(u'\0')))
    Text.chop(1);
  return Text;
}

QByteArray ReadBlock(const QString& FileName)
{
  std::uint32_t Handle = 7;
  const std::uint32_t Size = GetFileVersionInfoSizeW(FileName, &Handle);
  EXPECT_EQ(Handle, 0u);
  if (Size == 0)
    return {};
  QByteArray Block(static_cast<qsizetype>(Size), '\0');
  EXPECT_TRUE(GetFileVersionInfoW(FileName, Handle, Size, Block.data()));
  return Block;
}

TVersionDescription Sample()
{
  TVersionDescription D;
  D.Strings = {{QStringLiteral("CompanyName"), QStringLiteral("Corvane")},
               {QStringLiteral("FileVersion"), QStringLiteral("1.2.3.4")},
               {QStringLiteral("ProductVersion"), QStringLiteral("1.1")},
               {QStringLiteral("Comments"), QString()},
               {QStringLiteral("Odd"), QStringLiteral("abc")}};
  return D;
}

}  // namespace

TEST(VersionResource, BuiltBlockHasTheBinaryLayout)
{
  const QByteArray Block = BuildVersionInfo(Sample());
  // Root: its length, a 52-byte value, binary type, the key, then the fixed
  // information on a 32-bit boundary.
  const auto Word = [&](int At) { return static_cast<int>(static_cast<quint8>(Block[At]) | static_cast<quint8>(Block[At + 1]) << 8); };
  EXPECT_EQ(Word(0), Block.size());
  EXPECT_EQ(Word(2), 52);
  EXPECT_EQ(Word(4), 0);
  EXPECT_EQ(QString::fromUtf16(reinterpret_cast<const char16_t*>(Block.constData() + 6), 15),
            QStringLiteral("VS_VERSION_INFO"));
  EXPECT_EQ(Block.size() % 4, 0);

  const void* Value = nullptr;
  std::uint32_t Length = 0;
  ASSERT_TRUE(VerQueryValueW(Block.constData(), QStringLiteral("\\"), &Value, &Length));
  ASSERT_EQ(Length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(static_cast<const char*>(Value) - Block.constData(), 40);  // 6 + 32 key bytes, aligned
  VS_FIXEDFILEINFO Fixed;
  std::memcpy(&Fixed, Value, sizeof Fixed);
  EXPECT_EQ(Fixed.dwSignature, VS_FFI_SIGNATURE);
  EXPECT_EQ(Fixed.dwFileVersionMS, 0x00010002u);
  EXPECT_EQ(Fixed.dwFileVersionLS, 0x00030004u);
  EXPECT_EQ(Fixed.dwProductVersionMS, 0x00010001u);
  EXPECT_EQ(Fixed.dwProductVersionLS, 0u);
  EXPECT_EQ(Fixed.dwFileType, 1u);

  ASSERT_TRUE(VerQueryValueW(Block.constData(), QStringLiteral("\\VarFileInfo\\Translation"), &Value, &Length));
  ASSERT_EQ(Length, 4u);
  EXPECT_EQ(QByteArray(static_cast<const char*>(Value), 4), QByteArray("\x09\x04\xE4\x04", 4));
}

TEST(VersionResource, QueriesFindTextsByPathWithoutRegardToCase)
{
  const QByteArray Block = BuildVersionInfo(Sample());
  EXPECT_EQ(Query(Block, QStringLiteral("StringFileInfo\\040904E4\\CompanyName")), QStringLiteral("Corvane"));
  EXPECT_EQ(Query(Block, QStringLiteral("\\stringfileinfo\\040904e4\\odd")), QStringLiteral("abc"));
  EXPECT_EQ(Query(Block, QStringLiteral("StringFileInfo\\040904E4\\Comments")), QString());
  EXPECT_EQ(Query(Block, QStringLiteral("StringFileInfo\\040904E4\\Author")), std::nullopt);
  EXPECT_EQ(Query(Block, QStringLiteral("StringFileInfo\\040904B0\\CompanyName")), std::nullopt);
  EXPECT_EQ(Query(Block, QStringLiteral("StringFileInfo\\040904E4\\CompanyName\\Deeper")), std::nullopt);
}

TEST(VersionResource, DamagedBlocksAreRefusedNotOverrun)
{
  const QByteArray Good = BuildVersionInfo(Sample());
  const QString Key = QStringLiteral("StringFileInfo\\040904E4\\Odd");
  ASSERT_TRUE(Query(Good, Key));
  // Every cut of the root length: the query finds the text or nothing, and
  // reads only inside the stated length (the bytes after it are garbage).
  for (int Cut = 0; Cut < Good.size(); ++Cut) {
    QByteArray Damaged = Good;
    Damaged[0] = static_cast<char>(Cut & 0xFF);
    Damaged[1] = static_cast<char>(Cut >> 8);
    std::memset(Damaged.data() + Cut, 0xFF, static_cast<std::size_t>(Good.size() - Cut));
    const auto Found = Query(Damaged, Key);
    EXPECT_TRUE(!Found || *Found == QStringLiteral("abc")) << Cut;
  }
  // A child claiming more room than its parent has.
  QByteArray Overlong = Good;
  const qsizetype StringFileInfo = Overlong.indexOf(QByteArray("S\0t\0r\0i\0n\0g\0F", 13)) - 6;
  ASSERT_GT(StringFileInfo, 0);
  Overlong[StringFileInfo] = '\xFF';
  Overlong[StringFileInfo + 1] = '\x7F';
  EXPECT_EQ(Query(Overlong, Key), std::nullopt);
  // Not a version block at all.
  QByteArray Other = Good;
  Other[6] = 'X';
  EXPECT_EQ(Query(Other, Key), std::nullopt);
}

TEST(VersionResource, ElfFilesCarryTheBlockOfTheirDescription)
{
  const QByteArray Us = ReadBlock(QStringLiteral(VERSION_FIXTURE_US));
  ASSERT_FALSE(Us.isEmpty());
  const QString Table = QStringLiteral("StringFileInfo\\040904E4\\");
  EXPECT_EQ(Query(Us, Table + "CompanyName"), QStringLiteral("Corvane"));
  EXPECT_EQ(Query(Us, Table + "FileDescription"), QStringLiteral("  Padded description  "));
  EXPECT_EQ(Query(Us, Table + "Comments"), QStringLiteral("     "));
  EXPECT_EQ(Query(Us, Table + "Author"), QStringLiteral("Ünïcode Authör"));
  EXPECT_EQ(Query(Us, Table + "InternalName"), QStringLiteral("version_fixture_us"));
  EXPECT_EQ(Query(Us, Table + "OriginalFilename"), QStringLiteral("libversion_fixture_us.so"));
  EXPECT_EQ(Query(Us, Table + "FileVersion"), QStringLiteral("2.3.4.5"));
  const void* Value = nullptr;
  std::uint32_t Length = 0;
  ASSERT_TRUE(VerQueryValueW(Us.constData(), QStringLiteral("\\"), &Value, &Length));
  VS_FIXEDFILEINFO Fixed;
  std::memcpy(&Fixed, Value, sizeof Fixed);
  EXPECT_EQ(Fixed.dwFileVersionMS, 0x00020003u);
  EXPECT_EQ(Fixed.dwProductVersionMS, 0x00060007u);
  EXPECT_EQ(Fixed.dwFileType, 2u);  // a library

  const QByteArray Other = ReadBlock(QStringLiteral(VERSION_FIXTURE_OTHER));
  ASSERT_FALSE(Other.isEmpty());
  EXPECT_EQ(Query(Other, QStringLiteral("StringFileInfo\\040704B0\\CompanyName")), QStringLiteral("Andere Firma"));
  EXPECT_EQ(Query(Other, Table + "CompanyName"), std::nullopt);
}

TEST(VersionResource, FilesWithoutAValidBlockHaveSizeZero)
{
  std::uint32_t Handle = 0;
  EXPECT_EQ(GetFileVersionInfoSizeW(QStringLiteral(PLAIN_LIBRARY), &Handle), 0u);
  EXPECT_EQ(GetFileVersionInfoSizeW(QStringLiteral("/nonexistent/file"), &Handle), 0u);
  char Buffer[16];
  EXPECT_FALSE(GetFileVersionInfoW(QStringLiteral("/nonexistent/file"), 0, sizeof Buffer, Buffer));

  QTemporaryDir Dir;
  const QString Text = Dir.filePath(QStringLiteral("text"));
  TestSupport::WriteAll(Text, "not an executable at all\n");
  EXPECT_EQ(GetFileVersionInfoSizeW(Text, &Handle), 0u);

  // Every cut of a real file: nothing found or the whole block, never more.
  const QByteArray Whole = TestSupport::ReadAll(QStringLiteral(VERSION_FIXTURE_US));
  const std::uint32_t Size = GetFileVersionInfoSizeW(QStringLiteral(VERSION_FIXTURE_US), &Handle);
  ASSERT_GT(Size, 0u);
  const QString Cut = Dir.filePath(QStringLiteral("cut.so"));
  for (qsizetype Length : {qsizetype(0), qsizetype(10), qsizetype(64), Whole.size() / 4, Whole.size() / 2,
                           Whole.size() - 200, Whole.size() - 1}) {
    TestSupport::WriteAll(Cut, Whole.left(Length));
    const std::uint32_t Found = GetFileVersionInfoSizeW(Cut, &Handle);
    EXPECT_TRUE(Found == 0 || Found == Size) << Length;
  }
  // Damaged section headers: an absurd section count and offset.
  QByteArray Bad = Whole;
  Bad[0x3C] = '\xFF';  // e_shnum low byte
  Bad[0x3D] = '\xFF';
  TestSupport::WriteAll(Cut, Bad);
  EXPECT_EQ(GetFileVersionInfoSizeW(Cut, &Handle), 0u);
}

TEST(VersionResource, CutBufferNeverLetsAQueryReadPastIt)
{
  const QString File = QStringLiteral(VERSION_FIXTURE_US);
  std::uint32_t Handle = 0;
  const std::uint32_t Size = GetFileVersionInfoSizeW(File, &Handle);
  ASSERT_GT(Size, 100u);
  std::vector<char> Short(100, '\x55');
  ASSERT_TRUE(GetFileVersionInfoW(File, Handle, 100, Short.data()));
  const void* Value = nullptr;
  std::uint32_t Length = 0;
  EXPECT_FALSE(VerQueryValueW(Short.data(), QStringLiteral("StringFileInfo\\040904E4\\Author"), &Value, &Length));
}
