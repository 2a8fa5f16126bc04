#include "hostfw/FormatSettings.h"

#include "tests/support/TempEnvironment.h"

#include <gtest/gtest.h>

using namespace FormatSettings;

namespace {

class FormatSettingsTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    FSaved = Current();
    SetCurrent({QStringLiteral("dd/mm/yyyy"), QStringLiteral("hh:nn:ss"), QLatin1Char('/'), QLatin1Char(':'),
                QLatin1Char('.')});
  }
  void TearDown() override { SetCurrent(FSaved); }

  static QString F(const char* Format, const QDateTime& Value)
  {
    return FormatDateTime(QString::fromUtf8(Format), Value);
  }

  // Monday, 7 December 2026
  const QDateTime Morning{QDate(2026, 12, 7), QTime(9, 5, 3, 45)};
  const QDateTime Afternoon{QDate(2026, 12, 7), QTime(13, 5, 3)};
  const QDateTime Midnight{QDate(2026, 1, 2), QTime(0, 30, 0)};

private:
  TFormatSettings FSaved;
};

}  // namespace

TEST_F(FormatSettingsTest, DateAndTimeParts)
{
  EXPECT_EQ(F("dd/mm/yyyy hh:nn:ss", Morning), QStringLiteral("07/12/2026 09:05:03"));
  EXPECT_EQ(F("d/m/yy h:n:s", Morning), QStringLiteral("7/12/26 9:5:3"));
  EXPECT_EQ(F("d/m/yy", Midnight), QStringLiteral("2/1/26"));
  EXPECT_EQ(F("yyyy-mm-dd", Midnight), QStringLiteral("2026-01-02"));
  EXPECT_EQ(F("ddd dddd mmm mmmm", Morning), QStringLiteral("Mon Monday Dec December"));
  EXPECT_EQ(F("ss.zzz|s.z", Morning), QStringLiteral("03.045|3.45"));
  EXPECT_EQ(F("YYYY MM DD HH NN SS", Morning), QStringLiteral("2026 12 07 09 05 03"));
  EXPECT_EQ(FormatDateTime(QStringLiteral("yyyy"), QDateTime(QDate(33, 3, 3), QTime(0, 0))), QStringLiteral("0033"));
}

TEST_F(FormatSettingsTest, SeparatorsComeFromTheSettingsAtRunTime)
{
  SetDateSeparator(QLatin1Char('_'));
  EXPECT_EQ(F("dd/mm/yyyy", Morning), QStringLiteral("07_12_2026"));
  SetTimeSeparator(QLatin1Char('.'));
  EXPECT_EQ(F("hh:nn:ss", Morning), QStringLiteral("09.05.03"));
  EXPECT_EQ(DateLongTimeToStr(Morning), QStringLiteral("07_12_2026 09.05.03"));
  // Quoted separators are text.
  EXPECT_EQ(F("dd'/'mm\":\"", Morning), QStringLiteral("07/12:"));

  TFormatSettings Other = Current();
  Other.DateSeparator = QLatin1Char('-');
  EXPECT_EQ(FormatDateTime(QStringLiteral("dd/mm"), Morning, Other), QStringLiteral("07-12"));
  EXPECT_EQ(DateSeparator(), QLatin1Char('_')) << "explicit settings leave the current ones alone";
}

TEST_F(FormatSettingsTest, MAfterAnHourMeansMinutes)
{
  EXPECT_EQ(F("hh:mm", Morning), QStringLiteral("09:05"));
  EXPECT_EQ(F("h mm", Morning), QStringLiteral("9 05"));
  EXPECT_EQ(F("h'h'm", Morning), QStringLiteral("9h5"));
  EXPECT_EQ(F("mm", Morning), QStringLiteral("12"));
  EXPECT_EQ(F("mm:ss", Morning), QStringLiteral("12:03"));
  EXPECT_EQ(F("hh:mm dd/mm", Morning), QStringLiteral("09:05 07/12"));
  EXPECT_EQ(F("hh dd mm", Morning), QStringLiteral("09 07 12"));
}

TEST_F(FormatSettingsTest, TwelveHourClock)
{
  EXPECT_EQ(F("h:nn am/pm", Midnight), QStringLiteral("12:30 am"));
  EXPECT_EQ(F("hh:nn AM/PM", Afternoon), QStringLiteral("01:05 PM"));
  EXPECT_EQ(F("h:nn Am/pM", Afternoon), QStringLiteral("1:05 pM"));
  EXPECT_EQ(F("h a/p", Afternoon), QStringLiteral("1 p"));
  EXPECT_EQ(F("h A/P", Morning), QStringLiteral("9 A"));
  EXPECT_EQ(F("h:nn ampm", Afternoon), QStringLiteral("1:05 PM"));
  EXPECT_EQ(F("h:nn ampm", Morning), QStringLiteral("9:05 AM"));
  EXPECT_EQ(F("hh:nn", Afternoon), QStringLiteral("13:05"));
  // The marker decides only for the hour before it, and not when quoted.
  EXPECT_EQ(F("h \"am/pm\"", Afternoon), QStringLiteral("13 am/pm"));
  EXPECT_EQ(F("h h am/pm", Afternoon), QStringLiteral("13 1 pm"));
  EXPECT_EQ(F("h:nn ax", Afternoon), QStringLiteral("13:05 ax"));
}

TEST_F(FormatSettingsTest, LiteralsAndCompositeFormats)
{
  EXPECT_EQ(F("\"Day\" d 'of' mmmm", Morning), QStringLiteral("Day 7 of December"));
  EXPECT_EQ(F("'it''s' d", Morning), QStringLiteral("its 7"));
  EXPECT_EQ(F("d 'unclosed mm", Morning), QStringLiteral("7 unclosed mm"));
  EXPECT_EQ(F("[d] #!", Morning), QStringLiteral("[7] #!"));
  EXPECT_EQ(F("c", Afternoon), QStringLiteral("07/12/2026 13:05:03"));
  EXPECT_EQ(F("ddddd", Afternoon), QStringLiteral("07/12/2026"));
}

TEST_F(FormatSettingsTest, DateToStrAndDateLongTimeToStrFollowTheFormats)
{
  EXPECT_EQ(DateToStr(QDate(2026, 12, 7)), QStringLiteral("07/12/2026"));
  EXPECT_EQ(DateLongTimeToStr(Midnight), QStringLiteral("02/01/2026 00:30:00"));

  SetShortDateFormat(QStringLiteral("yyyy/mm/dd"));
  SetLongTimeFormat(QStringLiteral("h:nn:ss ampm"));
  SetDateSeparator(QLatin1Char('-'));
  EXPECT_EQ(DateToStr(QDate(2026, 12, 7)), QStringLiteral("2026-12-07"));
  EXPECT_EQ(DateLongTimeToStr(Afternoon), QStringLiteral("2026-12-07 1:05:03 PM"));
  // The short date can end in an open quote without eating the time.
  SetShortDateFormat(QStringLiteral("dd/mm 'x"));
  EXPECT_EQ(DateLongTimeToStr(Afternoon), QStringLiteral("07-12 x 1:05:03 PM"));
}

TEST_F(FormatSettingsTest, SettersAndGettersShareOneState)
{
  SetDecimalSeparator(QLatin1Char(','));
  SetShortDateFormat(QStringLiteral("d.m.yy"));
  const TFormatSettings S = Current();
  EXPECT_EQ(S.DecimalSeparator, QLatin1Char(','));
  EXPECT_EQ(DecimalSeparator(), QLatin1Char(','));
  EXPECT_EQ(S.ShortDateFormat, QStringLiteral("d.m.yy"));
  EXPECT_EQ(ShortDateFormat(), QStringLiteral("d.m.yy"));
  EXPECT_EQ(LongTimeFormat(), QStringLiteral("hh:nn:ss"));
}

TEST_F(FormatSettingsTest, DefaultsComeFromTheLocale)
{
  TestSupport::TTempEnvironment Env;
  Env.Set("LC_ALL", QStringLiteral("de_DE.UTF-8"));
  Reset();
  EXPECT_EQ(ShortDateFormat(), QStringLiteral("dd/mm/yy"));
  EXPECT_EQ(DateSeparator(), QLatin1Char('.'));
  EXPECT_EQ(LongTimeFormat(), QStringLiteral("hh:nn:ss"));
  EXPECT_EQ(TimeSeparator(), QLatin1Char(':'));
  EXPECT_EQ(DecimalSeparator(), QLatin1Char(','));
  EXPECT_EQ(DateLongTimeToStr(Morning), QStringLiteral("07.12.26 09:05:03"));

  Env.Set("LC_ALL", QStringLiteral("en_US.UTF-8"));
  Reset();
  EXPECT_EQ(ShortDateFormat(), QStringLiteral("m/d/yy"));
  EXPECT_EQ(DateLongTimeToStr(Afternoon), QStringLiteral("12/7/26 1:05:03 PM"));

  // LC_ALL wins over LC_TIME, which wins over LANG.
  Env.Set("LC_ALL", std::nullopt);
  Env.Set("LC_TIME", QStringLiteral("fi_FI.UTF-8"));
  Env.Set("LANG", QStringLiteral("en_US.UTF-8"));
  Reset();
  EXPECT_EQ(DateSeparator(), QLatin1Char('.'));
  EXPECT_EQ(TimeSeparator(), QLatin1Char('.'));
  EXPECT_EQ(DateLongTimeToStr(Morning), QStringLiteral("7.12.2026 9.05.03"));

  for (const char* Neutral : {"C", "POSIX", "C.UTF-8", "xx_YY"}) {
    Env.Set("LC_ALL", QString::fromLatin1(Neutral));
    Reset();
    const TFormatSettings S = Current();
    EXPECT_EQ(S.ShortDateFormat, QStringLiteral("dd/mm/yyyy")) << Neutral;
    EXPECT_EQ(S.LongTimeFormat, QStringLiteral("hh:nn:ss")) << Neutral;
    EXPECT_EQ(S.DateSeparator, QLatin1Char('/')) << Neutral;
    EXPECT_EQ(S.TimeSeparator, QLatin1Char(':')) << Neutral;
    EXPECT_EQ(S.DecimalSeparator, QLatin1Char('.')) << Neutral;
  }
}
