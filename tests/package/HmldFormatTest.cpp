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
    QStringLiteral("Excep_sErrorType :two\\u{D}\\u{A}lines;"),
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
  // A comment or a folder name cannot add a line of its own.
  EXPECT_EQ(CommentBlockLines(QStringLiteral("x\r\nZip file path : /e.zip"), QStringLiteral("/d\n/a.bmp"),
                              QStringLiteral("/d/b.zip")),
            (QStringList{QString(), QStringLiteral("Comments by the User :x\\u{D}\\u{A}Zip file path : /e.zip"), QString(),
                         QStringLiteral("Image path : /d\\u{A}/a.bmp"), QString(),
                         QStringLiteral("Zip file path : /d/b.zip")}));
  EXPECT_EQ(StackSectionOpening(QStringLiteral("07/12/2026\n10:11:12")).last(), QStringLiteral("07/12/2026\\u{A}10:11:12"));
  EXPECT_EQ(FrameLine(QStringLiteral("[0001] f (Line 1, \"Stack_trace_error_end.cpp\")")),
            QStringLiteral("[0001] f (Line 1, \"\\u{53}tack_trace_error_end.cpp\")"));
}

TEST(HmldFormat, ValuesWithoutStructureAreWrittenAsTheyAre)
{
  // Nothing a reader could take for structure: the very same text, shared.
  for (const QString& Value :
       {QString(), QStringLiteral("Intel(R) Core(TM) i7 CPU @ 2.80GHz"), QStringLiteral("C:\\new\\table; 100% | done"),
        QStringLiteral("\\u41 \\u \\x0A u{A} \\{u}"), QStringLiteral("Exception_Log-end, Process information end"),
        QStringLiteral("\u00e9t\u00e9 \u20ac \U0001F600")}) {
    EXPECT_EQ(WrittenValue(Value), Value);
    EXPECT_EQ(VisibleValue(WrittenValue(Value)), Value);
    EXPECT_EQ(KeyLine(ExcepErrorTypeKey, Value), ExcepErrorTypeKey + Value + Terminator);
  }
  EXPECT_EQ(WrittenLineStart(QStringLiteral("a OSName: in the middle")), QStringLiteral("a OSName: in the middle"));
}

TEST(HmldFormat, ControlCharactersMarkersAndTheIntroducerAreEscaped)
{
  EXPECT_EQ(WrittenValue(QStringLiteral("a\r\nExcep_sErrorclass :Forged;\r\n")),
            QStringLiteral("a\\u{D}\\u{A}Excep_sErrorclass :Forged;\\u{D}\\u{A}"));
  EXPECT_EQ(WrittenValue(QString(QChar(u'\0')) + QChar(u'\t') + QChar(u'\x7f') + QChar(u'\x85')),
            QStringLiteral("\\u{0}\\u{9}\\u{7F}\\u{85}"));
  // Markers count anywhere in a line: their first character is escaped.
  EXPECT_EQ(WrittenValue(QStringLiteral("x[___Exception_Log_end___] Stack_trace_error_startProcess Information end")),
            QStringLiteral("x[___\\u{45}xception_Log_end___] \\u{53}tack_trace_error_start\\u{50}rocess Information end"));
  EXPECT_EQ(WrittenValue(QStringLiteral("| Name    | and Process Information start")),
            QStringLiteral("\\u{7C} Name    | and \\u{50}rocess Information start"));
  // The introducer itself, so that it reads back as it was.
  EXPECT_EQ(WrittenValue(QStringLiteral("\\u{41}")), QStringLiteral("\\u{5C}u{41}"));
  // Keys count at the start of a line only.
  EXPECT_EQ(WrittenLineStart(QStringLiteral("OSName:Hacked")), QStringLiteral("\\u{4F}SName:Hacked"));
  EXPECT_EQ(WrittenLineStart(QStringLiteral("Excep_sErrorclass :X;")), QStringLiteral("\\u{45}xcep_sErrorclass :X;"));
  EXPECT_EQ(WrittenLineStart(QStringLiteral("Company Name:x")), QStringLiteral("\\u{43}ompany Name:x"));
  EXPECT_EQ(WrittenValue(QStringLiteral("OSName:Hacked")), QStringLiteral("OSName:Hacked"));
}

TEST(HmldFormat, ProcessRowsKeepTheirFieldsAndLineWhateverTheNames)
{
  TProcessRow Row{QStringLiteral("OSName:x   |   1 |  root|\nfake"), QStringLiteral("7"), QStringLiteral("a|b"),
                  QStringLiteral("h|st"), true, QStringLiteral("1")};
  const QString Line = ProcessRow(Row);
  EXPECT_TRUE(Line.startsWith(QStringLiteral("\\u{4F}SName:x   \\u{7C}   1 \\u{7C}  root\\u{7C}\\u{A}fake   |   ")))
    << Line.toStdString();
  EXPECT_EQ(Line.count(QLatin1Char('|')), 5);  // the caption's end, the user's, the domain's two, the row's end
  EXPECT_TRUE(Line.contains(QStringLiteral("|  a\\u{7C}b |h\\u{7C}st|")));
  EXPECT_FALSE(Line.contains(QLatin1Char('\n')));
}

TEST(HmldFormat, TheReaderGetsEveryValueBackWithControlsMadeVisible)
{
  const QString Hostile = QStringLiteral("a\r\nb\tc") + QChar(u'\0') + QStringLiteral("\\u{41}Exception_Log_end|") +
                          QChar(u'\x7f') + QChar(u'\x90');
  const QString Shown = QStringLiteral("a\u240D\u240Ab\u2409c\u2400\\u{41}Exception_Log_end|\u2421\\u{90}");
  EXPECT_EQ(VisibleValue(WrittenValue(Hostile)), Shown);
  EXPECT_EQ(VisibleValue(WrittenLineStart(Hostile)), Shown);
  // Raw control characters of earlier reports show the same way; text that
  // is no escape of the writer's stays as it is.
  EXPECT_EQ(VisibleValue(QStringLiteral("cpu") + QString(3, QChar(u'\0'))), QStringLiteral("cpu\u2400\u2400\u2400"));
  for (const QString& Text : {QStringLiteral("\\u{}"), QStringLiteral("\\u{1234567}"), QStringLiteral("\\u{D800}"),
                              QStringLiteral("\\u{110000}"), QStringLiteral("\\u{4G}"), QStringLiteral("\\u{41"),
                              QStringLiteral("\\u")})
    EXPECT_EQ(VisibleValue(Text), Text);
  EXPECT_EQ(VisibleValue(QStringLiteral("\\u{1F600}\\u{e9}")), QStringLiteral("\U0001F600\u00e9"));
}
