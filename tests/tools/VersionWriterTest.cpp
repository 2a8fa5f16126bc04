#include "tools/version-resource/VersionWriter.h"

#include <gtest/gtest.h>

using namespace VersionResource;

TEST(VersionResource, DescriptionFiles)
{
  QString Error;
  const auto D = ParseDescription("@Language=0407\r\n@CodePage=04B0\n@FileType=DLL\nCompanyName=A=B\n\nComments=\n",
                                  &Error);
  ASSERT_TRUE(D) << Error.toStdString();
  EXPECT_EQ(D->Language, 0x0407);
  EXPECT_EQ(D->CodePage, 0x04B0);
  EXPECT_TRUE(D->IsLibrary);
  ASSERT_EQ(D->Strings.size(), 2u);
  EXPECT_EQ(D->Strings[0], std::make_pair(QStringLiteral("CompanyName"), QStringLiteral("A=B")));
  EXPECT_EQ(D->Strings[1], std::make_pair(QStringLiteral("Comments"), QString()));

  EXPECT_FALSE(ParseDescription("no equals sign\n", &Error));
  EXPECT_TRUE(Error.contains(QStringLiteral("line 1")));
  EXPECT_FALSE(ParseDescription("@Language=zz\n", &Error));
  EXPECT_FALSE(ParseDescription("@FileType=EXE\n", &Error));
  EXPECT_FALSE(ParseDescription("@Unknown=1\n", &Error));
  EXPECT_FALSE(ParseDescription("Comments=" + QByteArray(40000, 'x') + "\n", &Error));

  EXPECT_EQ(VersionNumbers(QStringLiteral("1.1.0")), (std::array<std::uint16_t, 4>{1, 1, 0, 0}));
  EXPECT_EQ(VersionNumbers(QStringLiteral("7.x.9.10.11")), (std::array<std::uint16_t, 4>{7, 0, 9, 10}));
}
