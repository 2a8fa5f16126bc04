#include "package/HmldFormat.h"

#include <gtest/gtest.h>

using namespace HmldFormat;

TEST(HmldFormat, MarkersCarryTheirDecorationAroundTheInnerText)
{
  EXPECT_EQ(BracketMarker(ExceptionStartText),
            QStringLiteral("[____________________Exception_Log_start_____________________]"));
  EXPECT_EQ(BracketMarker(ExceptionEndText), QStringLiteral("[____________________Exception_Log_end_____________________]"));
  EXPECT_EQ(ProcessStartMarker(),
            QStringLiteral("[____________________Process Information start_____________________]"));
  EXPECT_EQ(ProcessEndMarker(), QStringLiteral("[____________________Process Information end_____________________]"));
  EXPECT_EQ(StackMarker(StackStartText), QStringLiteral("|**************Stack_trace_error_start**************|"));
  EXPECT_EQ(StackSectionClosing(), QStringLiteral("|**************Stack_trace_error_end**************|"));
}

TEST(HmldFormat, ProcessHeaderIsTheRowLayoutOfTheFiveTitles)
{
  const QString Header = ProcessHeader();
  EXPECT_EQ(Header, QStringLiteral("| Name    |          | PID |   | User | | Domain | | Working Set ( Kb Memory) |;"));
  EXPECT_EQ(Header.size(), 80);
  EXPECT_TRUE(Header.startsWith(ProcessHeaderProbe));
}

TEST(HmldFormat, ProcessRowsPadToTheirWidthsAndNeverCut)
{
  const auto Sp = [](int N) { return QString(N, QLatin1Char(' ')); };
  TProcessRow Row{QStringLiteral("bash"), QStringLiteral("42"), QStringLiteral("anna"), QStringLiteral("HOST"), true,
                  QStringLiteral("3584")};
  EXPECT_EQ(ProcessRow(Row), QStringLiteral("bash   |   ") + Sp(9) + " " + Sp(4) + "42" + " " + Sp(3) + "|  anna" + " " +
                               Sp(4) + "|HOST|" + " " + Sp(6) + "3584|;");

  // No owner: only blanks, 23 or more, between identifier and working set.
  Row.HasOwner = false;
  const QString NoOwner = ProcessRow(Row);
  EXPECT_EQ(NoOwner, QStringLiteral("bash   |   ") + Sp(9) + " " + Sp(4) + "42" + Sp(29) + "3584|;");

  // A long caption, identifier, user and domain push the fields right.
  const TProcessRow Long{QStringLiteral("a-very-long-process-name"), QStringLiteral("1234567"),
                         QStringLiteral("longusername"), QStringLiteral("somedomain"), true, QStringLiteral("12.5")};
  EXPECT_EQ(ProcessRow(Long), QStringLiteral("a-very-long-process-name   |    1234567 |  longusername |somedomain| ") +
                                Sp(6) + "12.5|;");
}

TEST(HmldFormat, EnvironmentLineRules)
{
  EXPECT_EQ(KeyLine(OSNameKey, QStringLiteral("Unknown")), QStringLiteral("OSName:Unknown;"));
  EXPECT_EQ(RamInUseLine(QStringLiteral("37")), QStringLiteral("RAMINUSE:37 %;"));
  EXPECT_EQ(BitLine(true), QStringLiteral("Bit:64 bits;"));
  EXPECT_EQ(BitLine(false), QStringLiteral("Bit:32 bits;"));
  EXPECT_EQ(IpAddressLine({}), QStringLiteral("IPAddres:;"));
  EXPECT_EQ(IpAddressLine({QStringLiteral("10.0.0.2"), QStringLiteral("192.168.1.7")}),
            QStringLiteral("IPAddres:10.0.0.2\r\n192.168.1.7\r\n;"));
  EXPECT_EQ(VersionSizeLine(1964), QStringLiteral("Size :1964;"));
  EXPECT_EQ(VersionLine(VersionKeys[2].Label, QStringLiteral("1.1.0.0")), QStringLiteral("File Version:1.1.0.0;"));
  EXPECT_EQ(VersionKeys.front().Key, QLatin1String("CompanyName"));
  EXPECT_EQ(VersionKeys.back().Label, QLatin1String("Author"));
}

TEST(HmldFormat, ExceptionSectionLines)
{
  const QStringList Lines = ExceptionSectionLines(
    {QStringLiteral("QPushButton"), QStringLiteral("app.bin"), QStringLiteral("07/12/2026"),
     QStringLiteral("two\r\nlines"), QStringLiteral("std::runtime_error")});
  const QStringList Expected{
    QString(),
    QString(),
    QString(),
    QStringLiteral("[____________________Exception_Log_start_____________________]"),
    QStringLiteral("Excep_ClassName :QPushButton;"),
    QStringLiteral("Excep_ApplicationName :app.bin;"),
    QStringLiteral("Excep_date :07/12/2026;"),
    QStringLiteral("Excep_sErrorType :two\r\nlines;"),
    QStringLiteral("Excep_sErrorclass :std::runtime_error;"),
    QStringLiteral("[____________________Exception_Log_end_____________________]"),
    QString(),
  };
  EXPECT_EQ(Lines, Expected);
}

TEST(HmldFormat, StackAndCommentBlocks)
{
  EXPECT_EQ(StackSectionOpening(QStringLiteral("07/12/2026 10:11:12")),
            (QStringList{QString(), QString(), QStringLiteral("|**************Stack_trace_error_start**************|"),
                         QStringLiteral("07/12/2026 10:11:12")}));
  EXPECT_EQ(CommentBlockLines(QStringLiteral("it broke"), QStringLiteral("/d/a.bmp"), QStringLiteral("/d/b.zip")),
            (QStringList{QString(), QStringLiteral("Comments by the User :it broke"), QString(),
                         QStringLiteral("Image path : /d/a.bmp"), QString(), QStringLiteral("Zip file path : /d/b.zip")}));
}
