// The environment step of the component: the whole block in its order, its
// version lines, its failures, and the real machine.

#include "package/Vesparo.h"

#include "hostfw/TextFile.h"
#include "package/Vesparoutil.h"
#include "platform/AnsiCodePage.h"
#include "platform/VersionResource.h"
#include "tests/package/CannedMachine.h"
#include "tests/support/TempEnvironment.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace EnvironmentTests;
using TestSupport::ReadAll;

namespace {

class VersionInformation : public ::testing::Test {
protected:
  void SetUp() override { AnsiCodePage::SetACP(1252); }
  void TearDown() override { AnsiCodePage::SetACP(0); }
  QByteArray Report() const { return ReadAll(Vesparoutil::FullHmldFilePath()); }

  TestSupport::TTempEnvironment Env;
  Vesparo::TCVVesparo Component;
};

const QByteArray CannedSystemLines = "OSName:Windows 7 Service pack 1;\r\n"
                                     "Version:6.1.7601;\r\n"
                                     "BuildNumber:7601;\r\n"
                                     "BuildType:Multiprocessor Free;\r\n"
                                     "CodeSet:1252;\r\n"
                                     "CountryCode:49;\r\n"
                                     "Bit:32 bits;\r\n"
                                     "System Directory:/usr/lib;\r\n"
                                     "RAMINUSE:63 %;\r\n"
                                     "RAMTOTAL:8 GB;\r\n"
                                     "RAMAVAIL:3 GB;\r\n"
                                     "SYSTEMNAME:testhost;\r\n"
                                     "BootDevice:\\Device\\HarddiskVolume1;\r\n";

const QByteArray CannedProcessSection =
  "[____________________Process Information start_____________________]\r\n"
  "| Name    |          | PID |   | User | | Domain | | Working Set ( Kb Memory) |;\r\n"
  "svchost.exe   |        1234  |  SYSTEM |NT AUTHORITY|       5120|;\r\n"
  "System   |                4                        4.8828125|;\r\n"
  "[____________________Process Information end_____________________]\r\n";

// The version lines of a file, as the block writes them.
QByteArray VersionLinesOf(const QString& ExePath)
{
  QTemporaryDir Dir;
  const QString File = Dir.filePath(QStringLiteral("lines"));
  TextFile::TTextFile Lines(File);
  Lines.Rewrite();
  Vesparo::WriteVersionResourceLines(Lines, ExePath);
  Lines.Close();
  return ReadAll(File);
}

}  // namespace

TEST_F(VersionInformation, WritesTheWholeBlockInItsOrder)
{
  TCannedMachine Machine;
  Vesparoutil::ForceDataFolder(Env.DataFolder());
  TestSupport::WriteAll(Vesparoutil::FullHmldFilePath(), "an older report\r\n");
  ASSERT_TRUE(Component.VersionInformation());
  // The test program has no version resource.
  EXPECT_EQ(Report(), CannedSystemLines +
                        "VendorID:GenuineIntel;\r\n"
                        "CPUname:       Test(R) CPU @ 1.00GHz;\r\n"
                        "IPAddres:10.0.0.2\r\n"
                        "192.168.1.7\r\n"
                        ";\r\n"
                        "MAC Addres:00-1A-2B-3C-4D-5E;\r\n"
                        "No FileVersionInfo found;\r\n" +
                        CannedProcessSection);

  // Without an operating-system object its lines are there, empty; without
  // a brand string the processor name line is empty.
  Machine.Systems.clear();
  Machine.Leaves[0x80000000] = {0x80000000, 0, 0, 0};
  Machine.Addresses = std::nullopt;
  ASSERT_TRUE(Component.VersionInformation());
  EXPECT_TRUE(Report().startsWith("\r\n\r\n\r\n\r\n\r\n\r\nBit:32 bits;\r\n"));
  EXPECT_TRUE(Report().contains("SYSTEMNAME:testhost;\r\n\r\nVendorID:GenuineIntel;\r\n\r\nIPAddres:;\r\nMAC Addres:"));
}

TEST_F(VersionInformation, FailingManagementServiceLeavesAnEmptyBlock)
{
  TCannedMachine Machine;
  Machine.BindResult = Wmi::WBEM_E_FAILED;
  EXPECT_FALSE(Component.VersionInformation());
  EXPECT_TRUE(QFileInfo::exists(Vesparoutil::FullHmldFilePath()));
  EXPECT_EQ(Report(), QByteArray());

  // The step can run again once the service answers.
  Machine.BindResult = Wmi::S_OK;
  EXPECT_TRUE(Component.VersionInformation());
  EXPECT_TRUE(Report().endsWith(CannedProcessSection));
}

TEST_F(VersionInformation, FailingProcessListKeepsTheLinesWritten)
{
  TCannedMachine Machine;
  Wmi::TInstance Broken = Process(QStringLiteral("broken"), 9, 0, std::nullopt);
  Broken.Properties.remove(QStringLiteral("Caption"));
  Machine.Processes.push_back(Broken);
  EXPECT_FALSE(Component.VersionInformation());
  const QByteArray Written = Report();
  EXPECT_TRUE(Written.startsWith(CannedSystemLines));
  EXPECT_TRUE(Written.endsWith("System   |                4                        4.8828125|;\r\n"));
  EXPECT_FALSE(Written.contains("Process Information end"));
  // The file was closed: the pipeline can append to it.
  TextFile::TTextFile After(Vesparoutil::FullHmldFilePath());
  After.Append();
  After.WriteLn(QStringLiteral("next"));
  After.Close();
  EXPECT_TRUE(Report().endsWith("|;\r\nnext\r\n"));
}

TEST(VersionLines, WrittenFromTheResourceOfTheFile)
{
  AnsiCodePage::SetACP(1252);
  std::uint32_t Handle = 0;
  const std::uint32_t Size = VersionResource::GetFileVersionInfoSizeW(QStringLiteral(VERSION_FIXTURE_US), &Handle);
  ASSERT_GT(Size, 0u);
  // Blanks around a value go; a value of blanks only writes no line; keys
  // without a value write nothing; texts pass into the ANSI code page.
  EXPECT_EQ(VersionLinesOf(QStringLiteral(VERSION_FIXTURE_US)),
            "Size :" + QByteArray::number(Size) + ";\r\n"
            "Company Name:Corvane;\r\n"
            "Description:Padded description;\r\n"
            "File Version:2.3.4.5;\r\n"
            "Internal Name:version_fixture_us;\r\n"
            "Copyright:Copyright (C) 2026 Corvane;\r\n"
            "Original File Name:libversion_fixture_us.so;\r\n"
            "Product Name:Corvane;\r\n"
            "Product Version:6.7;\r\n"
            "Author:\xDCn\xEF" "code Auth\xF6r;\r\n");

  // Only another translation: the size, no key lines.
  const std::uint32_t OtherSize =
    VersionResource::GetFileVersionInfoSizeW(QStringLiteral(VERSION_FIXTURE_OTHER), &Handle);
  ASSERT_GT(OtherSize, 0u);
  EXPECT_EQ(VersionLinesOf(QStringLiteral(VERSION_FIXTURE_OTHER)), "Size :" + QByteArray::number(OtherSize) + ";\r\n");

  EXPECT_EQ(VersionLinesOf(QStringLiteral("/nonexistent/program")), "No FileVersionInfo found;\r\n");
  AnsiCodePage::SetACP(0);
}

TEST_F(VersionInformation, DescribesTheRealMachine)
{
  ASSERT_TRUE(Component.VersionInformation());
  const QList<QByteArray> Lines = Report().split('\n');
  // Lines in block order: each key where it belongs, each line ending CR.
  const QStringList Expected{
    QStringLiteral("^OSName:[^;]*;$"),         QStringLiteral("^Version:[^;]+;$"),
    QStringLiteral("^BuildNumber:[^;]*;$"),    QStringLiteral("^BuildType:[^;]*;$"),
    QStringLiteral("^CodeSet:1252;$"),         QStringLiteral("^CountryCode:\\d*;$"),
    QStringLiteral("^Bit:64 bits;$"),          QStringLiteral("^System Directory:/usr/lib;$"),
    QStringLiteral("^RAMINUSE:\\d{1,3} %;$"),  QStringLiteral("^RAMTOTAL:\\d+(\\.\\d{1,2})? (GB|MB|KB|bytes);$"),
    QStringLiteral("^RAMAVAIL:\\d+(\\.\\d{1,2})? (GB|MB|KB|bytes);$"),
    QStringLiteral("^SYSTEMNAME:[^;]{1,15};$"), QStringLiteral("^BootDevice:[^;]*;$"),
    QStringLiteral("^VendorID:[\\x20-\\x7E]{12};$"),
    QStringLiteral("^(CPUname:[^;]*;)?$"),
  };
  ASSERT_GT(Lines.size(), Expected.size());
  for (qsizetype I = 0; I < Expected.size(); ++I) {
    ASSERT_TRUE(Lines[I].endsWith('\r')) << I;
    const QString Line = QString::fromLatin1(Lines[I].chopped(1));
    EXPECT_TRUE(QRegularExpression(Expected[I]).match(Line).hasMatch()) << Line.toStdString();
  }
  // The address lines, then the version line, then the process section.
  qsizetype I = Expected.size();
  ASSERT_TRUE(Lines[I].startsWith("IPAddres:"));
  while (!Lines[I].endsWith(";\r"))
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^(IPAddres:)?\\d+\\.\\d+\\.\\d+\\.\\d+\\r$"))
                  .match(QString::fromLatin1(Lines[I++]))
                  .hasMatch());
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^MAC Addres:([0-9A-F]{2}(-[0-9A-F]{2}){5})?;\\r$"))
                .match(QString::fromLatin1(Lines[++I]))
                .hasMatch());
  EXPECT_EQ(Lines[++I], "No FileVersionInfo found;\r");
  EXPECT_EQ(Lines[++I], "[____________________Process Information start_____________________]\r");
  EXPECT_EQ(Lines[++I], "| Name    |          | PID |   | User | | Domain | | Working Set ( Kb Memory) |;\r");
  EXPECT_EQ(Lines[Lines.size() - 2], "[____________________Process Information end_____________________]\r");

  // This very process has its row, under its whole name and its owner.
  const QString Self = QFileInfo(Vesparoutil::ApplicationExeName()).fileName();
  const QRegularExpression OwnRow(QStringLiteral("^%1   \\|   *%2  *\\|  \\S+ *\\|[^|]+\\| *\\d+(\\.\\d+)?\\|;\\r$")
                                    .arg(QRegularExpression::escape(Self))
                                    .arg(::getpid()));
  EXPECT_EQ(std::count_if(Lines.begin(), Lines.end(),
                          [&](const QByteArray& L) { return OwnRow.match(QString::fromLatin1(L)).hasMatch(); }),
            1);
}
