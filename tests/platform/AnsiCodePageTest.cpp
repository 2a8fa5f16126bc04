#include "platform/AnsiCodePage.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace AnsiCodePage;

namespace {

class AnsiCodePageTest : public ::testing::Test {
protected:
  void TearDown() override { SetACP(0); }
};

QByteArray Bytes(std::initializer_list<int> Values)
{
  QByteArray Result;
  for (int V : Values)
    Result.append(static_cast<char>(V));
  return Result;
}

}  // namespace

TEST(AnsiCodePageChoice, LanguagesMapToTheirWindowsCodePage)
{
  const std::vector<std::pair<const char*, int>> Cases = {
    {"en_US.UTF-8", 1252}, {"en_GB", 1252}, {"fr_FR.UTF-8", 1252}, {"de_DE@euro", 1252}, {"es_ES", 1252},
    {"it_IT", 1252}, {"pt_BR.UTF-8", 1252}, {"nl_NL", 1252}, {"da_DK", 1252}, {"nb_NO", 1252}, {"nn_NO", 1252},
    {"sv_SE", 1252}, {"fi_FI", 1252}, {"is_IS", 1252}, {"ca_ES", 1252}, {"eu_ES", 1252}, {"ga_IE", 1252},
    {"id_ID", 1252}, {"sw_KE", 1252},
    {"cs_CZ.UTF-8", 1250}, {"sk_SK", 1250}, {"pl_PL", 1250}, {"hu_HU", 1250}, {"sl_SI", 1250}, {"hr_HR", 1250},
    {"ro_RO", 1250}, {"sq_AL", 1250}, {"bs_BA", 1250}, {"sr_RS@latin", 1250},
    {"ru_RU.UTF-8", 1251}, {"uk_UA", 1251}, {"be_BY", 1251}, {"bg_BG", 1251}, {"mk_MK", 1251}, {"sr_RS", 1251},
    {"kk_KZ", 1251}, {"ky_KG", 1251}, {"mn_MN", 1251}, {"tt_RU", 1251},
    {"el_GR.UTF-8", 1253}, {"tr_TR", 1254}, {"az_AZ", 1254}, {"he_IL", 1255}, {"ar_EG", 1256}, {"fa_IR", 1256},
    {"ur_PK", 1256}, {"et_EE", 1257}, {"lv_LV", 1257}, {"lt_LT", 1257}, {"vi_VN", 1258}, {"th_TH", 874},
    {"ja_JP.UTF-8", 932}, {"zh_CN.UTF-8", 936}, {"zh_SG", 936}, {"ko_KR.EUC-KR", 949},
    {"zh_TW.UTF-8", 950}, {"zh_HK", 950}, {"zh_MO", 950},
    {"C", 1252}, {"POSIX", 1252}, {"C.UTF-8", 1252}, {"", 1252}, {"xx_YY", 1252}, {"tlh", 1252},
    {"RU_ru", 1251}, {"de-AT", 1252}, {"pl", 1250},
  };
  for (const auto& [Name, CodePage] : Cases)
    EXPECT_EQ(CodePageForLocale(QString::fromLatin1(Name)), CodePage) << Name;
}

TEST_F(AnsiCodePageTest, SetACPOverridesAndZeroReturnsToTheLocale)
{
  const int FromLocale = GetACP();
  SetACP(1251);
  EXPECT_EQ(GetACP(), 1251);
  EXPECT_EQ(ToAnsi(QStringLiteral("ж")), Bytes({0xE6}));
  EXPECT_EQ(FromAnsi(Bytes({0xE6})), QStringLiteral("ж"));
  SetACP(0);
  EXPECT_EQ(GetACP(), FromLocale);
  SetACP(4242);  // no such code page: the default one is used
  EXPECT_EQ(GetACP(), 1252);
}

TEST_F(AnsiCodePageTest, WesternEuropeanTextTo1252)
{
  EXPECT_EQ(ToAnsi(QStringLiteral("é"), 1252), Bytes({0xE9}));
  EXPECT_EQ(ToAnsi(QStringLiteral("€"), 1252), Bytes({0x80}));
  EXPECT_EQ(ToAnsi(QStringLiteral("Größe: 5 €"), 1252), QByteArray("Gr\xF6\xDF" "e: 5 \x80"));
  EXPECT_EQ(ToAnsi(QString(), 1252), QByteArray());
}

TEST_F(AnsiCodePageTest, CharactersOutsideThePageBecomeOneQuestionMarkEach)
{
  EXPECT_EQ(ToAnsi(QStringLiteral("aжb"), 1252), QByteArray("a?b"));
  EXPECT_EQ(ToAnsi(QStringLiteral("é"), 1251), QByteArray("?"));
  EXPECT_EQ(ToAnsi(QStringLiteral("中文"), 1252), QByteArray("??"));
  // A character beyond the BMP is a surrogate pair in UTF-16 but one "?".
  EXPECT_EQ(ToAnsi(QStringLiteral("a\U0001F600b"), 1252), QByteArray("a?b"));
  EXPECT_EQ(ToAnsi(QStringLiteral("\U0001F600\U0001F600"), 932), QByteArray("??"));
  // A lone surrogate is no character of any page.
  QString Lone = QStringLiteral("x");
  Lone.append(QChar(0xD800));
  Lone.append(QLatin1Char('y'));
  EXPECT_EQ(ToAnsi(Lone, 1252), QByteArray("x?y"));
}

TEST_F(AnsiCodePageTest, CyrillicUnder1251)
{
  EXPECT_EQ(ToAnsi(QStringLiteral("Привет"), 1251), Bytes({0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2}));
  EXPECT_EQ(FromAnsi(Bytes({0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2}), 1251), QStringLiteral("Привет"));
  EXPECT_EQ(ToAnsi(QStringLiteral("Ёё"), 1251), Bytes({0xA8, 0xB8}));
}

TEST_F(AnsiCodePageTest, EveryByteOfSingleBytePagesRoundTrips)
{
  // 1252 leaves 0x81, 0x8D, 0x8F, 0x90, 0x9D undefined; those stand for the
  // character with the same number, and go back to their byte.
  for (int CodePage : {1250, 1251, 1252, 1253, 1254, 1257}) {
    QByteArray All;
    for (int B = 0; B < 256; ++B)
      All.append(static_cast<char>(B));
    const QString Text = FromAnsi(All, CodePage);
    ASSERT_EQ(Text.size(), 256) << CodePage;
    EXPECT_EQ(ToAnsi(Text, CodePage), All) << CodePage;
  }
  EXPECT_EQ(FromAnsi(Bytes({0x81, 0x8D, 0x8F, 0x90, 0x9D}), 1252), QStringLiteral("\u0081\u008D\u008F\u0090\u009D"));
  EXPECT_EQ(FromAnsi(Bytes({0x80, 0x9F}), 1252), QStringLiteral("€Ÿ"));
  EXPECT_EQ(FromAnsi(Bytes({0x98}), 1251), QString(QChar(0x98)));
}

TEST_F(AnsiCodePageTest, DoubleBytePages)
{
  const QString Japanese = QStringLiteral("日本語のテキスト, ASCII too");
  const QByteArray Sjis = ToAnsi(Japanese, 932);
  EXPECT_EQ(Sjis.left(2), Bytes({0x93, 0xFA}));  // 日
  EXPECT_EQ(FromAnsi(Sjis, 932), Japanese);

  const QString Chinese = QStringLiteral("中文简体");
  const QByteArray Gbk = ToAnsi(Chinese, 936);
  EXPECT_EQ(Gbk.left(2), Bytes({0xD6, 0xD0}));  // 中
  EXPECT_EQ(FromAnsi(Gbk, 936), Chinese);

  EXPECT_EQ(FromAnsi(ToAnsi(QStringLiteral("한국어"), 949), 949), QStringLiteral("한국어"));
  EXPECT_EQ(FromAnsi(ToAnsi(QStringLiteral("繁體中文"), 950), 950), QStringLiteral("繁體中文"));
  EXPECT_EQ(ToAnsi(QStringLiteral("aжé"), 932), Bytes({'a', 0x84, 0x77, '?'}));  // "ж" exists in 932, "é" not

  // A lead byte cut off at the end still gives a character and loses
  // nothing before it.
  const QString Cut = FromAnsi(Sjis.left(3), 932);
  EXPECT_EQ(Cut, QStringLiteral("日") + QChar(0x96));
}

TEST_F(AnsiCodePageTest, VietnameseKeepsLettersHeldForToneMarks)
{
  // 1258 writes some letters as base letter plus tone mark; the decoder
  // holds a letter back until it knows no mark follows, also at the end.
  const QString Text = QStringLiteral("Tiếng Việt ê");
  const QByteArray Encoded = ToAnsi(Text, 1258);
  EXPECT_EQ(Encoded.right(1), Bytes({0xEA}));
  EXPECT_EQ(FromAnsi(Encoded, 1258), Text);
}

TEST_F(AnsiCodePageTest, UnknownCodePageConvertsAs1252)
{
  EXPECT_EQ(ToAnsi(QStringLiteral("é€ж"), 12345), Bytes({0xE9, 0x80, '?'}));
  EXPECT_EQ(FromAnsi(Bytes({0xE9, 0x80}), -1), QStringLiteral("é€"));
}

TEST_F(AnsiCodePageTest, LongTextWithManyRejectedCharacters)
{
  QString Text;
  QByteArray Expected;
  for (int I = 0; I < 200000; ++I) {
    Text += QStringLiteral("ä€ж\U0001F600x");
    Expected += QByteArray("\xE4\x80??x");
  }
  const QByteArray Encoded = ToAnsi(Text, 1252);
  ASSERT_EQ(Encoded.size(), Expected.size());
  EXPECT_EQ(Encoded, Expected);
  EXPECT_EQ(FromAnsi(Expected, 1252).size(), Expected.size());
}
