// The report viewer program, run as the component and scripts start it.

#include "package/HmldFormat.h"
#include "platform/VersionResource.h"
#include "tests/support/TempEnvironment.h"
#include "tests/tools/ViewerRun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using TestSupport::WriteAll;
using namespace ViewerTests;

namespace {

// A report as a Windows machine would have left it: an operating-system
// query without result, no processor name, two addresses, version lines
// after "Version:", process rows with and without owner, a message over two
// lines, keys inside later lines, and the user's comment block.
const QByteArray HandWrittenReport =
  "\r\n"
  "Version:10.0.19045;\r\n"
  "BuildNumber:19045;\r\n"
  "BuildType:Multiprocessor Free;\r\n"
  "CodeSet:1252;\r\n"
  "CountryCode:49;\r\n"
  "Bit:32 bits;\r\n"
  "System Directory:C:\\Windows\\system32;\r\n"
  "RAMINUSE:41 %;\r\n"
  "RAMTOTAL:8 GB;\r\n"
  "RAMAVAIL:4 GB;\r\n"
  "SYSTEMNAME:DESKTOP-1;\r\n"
  "\r\n"
  "VendorID:GenuineIntel;\r\n"
  "\r\n"
  "IPAddres:192.168.0.2\r\n"
  "192.168.0.3\r\n"
  ";\r\n"
  "MAC Addres:00-11-22-33-44-55;\r\n"
  "Size :2048000;\r\n"
  "Company Name:Corvane \xC4rger Ltd;\r\n"
  "Description:Demo;\r\n"
  "File Version:2.0.0.1;\r\n"
  "Product Name:Demo App;\r\n"
  "Product Version:2.0;\r\n"
  "Comments:Version: 99;\r\n"
  "[____________________Process Information start_____________________]\r\n"
  "| Name    |          | PID |   | User | | Domain | | Working Set ( Kb Memory) |;\r\n"
  "System Idle Process   |         0                                8|;\r\n"
  "Google Chrome   |      1234    |  jane |DESKTOP-1|    20480.5|;\r\n"
  "svchost.exe   |         804 |  administrator |NT AUTHORITY|      12.25|;\r\n"
  "[____________________Process Information end_____________________]\r\n"
  "\r\n\r\n\r\n"
  "[____________________Exception_Log_start_____________________]\r\n"
  "Excep_ClassName :TButton;\r\n"
  "Excep_ApplicationName :Demo.exe;\r\n"
  "Excep_date :08_12_2026;\r\n"
  "Excep_sErrorType :Line one\r\n"
  "line two;\r\n"
  "Excep_sErrorclass :EAccessViolation;\r\n"
  "[____________________Exception_Log_end_____________________]\r\n"
  "\r\n"
  "\r\n\r\n"
  "|**************Stack_trace_error_start**************|\r\n"
  "08_12_2026 00_10_00\r\n"
  "[004A1B2C] Unit1.Button1Click (Line 42, \"Unit1.pas\") OSName:not this\r\n"
  "|**************Stack_trace_error_end**************|\r\n"
  "\r\n"
  "Comments by the User :Version:not this either\r\n"
  "\r\n"
  "Image path : C:\\data\\08_12_2026 00_10_01.bmp\r\n"
  "\r\n"
  "Zip file path : C:\\data\\bugReport08_12_2026 00_10_01.zip\r\n";

const QByteArray ExpectedPages =
  "[Application and system information]\n"
  "Application information\n"
  "-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.\n"
  "Product name    :-Demo App;\n"
  "Company name    :-Corvane \xC3\x84rger Ltd;\n"
  "Product version :-2.0;\n"
  "Executable path :-\n"
  "File version    :-2.0.0.1;\n"
  "Executable size :-2048000;\n"
  "\n"
  "\n"
  "Operating system details\n"
  "-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.\n"
  "Operating system name             :-\n"
  "Operating system version          :-10.0.19045\n"
  "Operating system build number     :-19045\n"
  "Operating system build type       :-Multiprocessor Free\n"
  "Operating system code set         :-1252\n"
  "Operating system country code     :-49\n"
  "Operating system Boot device      :-\n"
  "Operating system bits             :-32 bits\n"
  "Operating system system directory :-C:\\Windows\\system32\n"
  "system name                       :-DESKTOP-1\n"
  "\n"
  "\n"
  "RAM details\n"
  "-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.\n"
  "Memory in use :-41 %\n"
  "Total RAM     :-8 GB\n"
  "RAM available :-4 GB\n"
  "\n"
  "\n"
  "CPU details\n"
  "-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.\n"
  "CPU vendor :-GenuineIntel\n"
  "CPU name   :-\n"
  "\n"
  "\n"
  "Network details\n"
  "-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.-.\n"
  "IP Address :-192.168.0.2\n"
  "MAC Address :-00-11-22-33-44-55\n"
  "[Process information]\n"
  "ID\tProcess Name\tUser\tDomain\tMemory (KB)\n"
  "0\tSystemIdleProcess\t\t\t8\n"
  "1234\tGoogleChrome\tjane\tDESKTOP-1\t20480.5\n"
  "804\tsvchost.exe\tadministrator\tNTAUTHORITY\t12.25\n"
  "[Exception Details]\n"
  "ClassName\tApplication Name\tdate/time\tError Type\tError Class\n"
  "TButton\tDemo.exe\t08_12_2026\tLine one\xE2\x90\x8Aline two\tEAccessViolation\n"
  "[Error call stack]\n"
  "|**************Stack_trace_error_start**************|\n"
  "08_12_2026 00_10_00\n"
  "[004A1B2C] Unit1.Button1Click (Line 42, \"Unit1.pas\") OSName:not this\n"
  "|**************Stack_trace_error_end**************|\n";

}  // namespace

TEST(Viewer, PrintsWhatTheWindowShows)
{
  TestSupport::TTempEnvironment Env;
  const QString Report = Env.Root() + QStringLiteral("/Demo_halvern_leak_log.Hmld");
  WriteAll(Report, HandWrittenReport);
  const TViewerRun Run = RunViewer({QStringLiteral("--print"), Report});
  EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
  EXPECT_EQ(Run.Output.toStdString(), ExpectedPages.toStdString());
}

TEST(Viewer, OpensTheOneFileACaretEncodedPathStandsFor)
{
  TestSupport::TTempEnvironment Env;
  // Blanks turned into "^", beside carets the path had of its own, as in a
  // data folder whose path holds a "^".
  const QString Folder = Env.Root() + QStringLiteral("/it's a^b/Corvane 1.1");
  QDir().mkpath(Folder);
  const QString Report = Folder + QStringLiteral("/my app_halvern_leak_log.Hmld");
  WriteAll(Report, HandWrittenReport);
  // Near misses: neither is what the parameter stands for.
  WriteAll(Folder + QStringLiteral("/my app_halvern_leak_log.Hmld.bak"), "Product Name:decoy;\r\n");
  QDir().mkpath(Env.Root() + QStringLiteral("/it's a b/Corvane 1.1"));

  QString Parameter = Report;
  Parameter.replace(QLatin1Char(' '), QLatin1Char('^'));
  const TViewerRun Run = RunViewer({Parameter}, true);
  EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
  EXPECT_EQ(Run.Output.toStdString(), ExpectedPages.toStdString());
}

TEST(Viewer, AParameterThatStandsForTwoReportsShowsNeither)
{
  TestSupport::TTempEnvironment Env;
  const QString Report = Env.Root() + QStringLiteral("/Corvane 1.1/my reports/my app_halvern_leak_log.Hmld");
  const QString Other = Env.Root() + QStringLiteral("/Corvane^1.1/my^reports/my^app_halvern_leak_log.Hmld");
  for (const QString& File : {Report, Other}) {
    QDir().mkpath(QFileInfo(File).absolutePath());
    WriteAll(File, File == Report ? HandWrittenReport : QByteArray("Product Name:another program;\r\n"));
  }
  QString Parameter = Report;
  Parameter.replace(QLatin1Char(' '), QLatin1Char('^'));
  TViewerRun Run = RunViewer({Parameter}, true);
  EXPECT_EQ(Run.ExitCode, 1);
  EXPECT_TRUE(Run.Output.isEmpty()) << Run.Output.toStdString();
  for (const QString& File : {Report, Other})
    EXPECT_TRUE(Run.Errors.contains(File.toUtf8())) << Run.Errors.toStdString();

  // Once only one of them is there, it is shown.
  ASSERT_TRUE(QFile::remove(Other));
  Run = RunViewer({Parameter}, true);
  EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
  EXPECT_EQ(Run.Output.toStdString(), ExpectedPages.toStdString());
}

TEST(Viewer, MissingFilesAndWrongCommandLines)
{
  TestSupport::TTempEnvironment Env;
  const QString Missing = Env.Root() + QStringLiteral("/none.Hmld");
  TViewerRun Run = RunViewer({QStringLiteral("--print"), Missing});
  EXPECT_EQ(Run.ExitCode, 1);
  EXPECT_TRUE(Run.Output.isEmpty());
  EXPECT_TRUE(Run.Errors.contains("CorvaneViewer: no such report file: " + Missing.toUtf8())) << Run.Errors.toStdString();

  // The window on a missing file shows empty pages.
  Run = RunViewer({Missing}, true);
  EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
  EXPECT_EQ(Run.Output.toStdString(),
            "[Application and system information]\n\n[Process information]\n\t\t\t\t\n\t\t\t\t\n"
            "[Exception Details]\n\t\t\t\t\n\t\t\t\t\n[Error call stack]\n");

  for (const QStringList& Arguments : {QStringList{}, QStringList{"--print"}, QStringList{"--print", "a", "b"}}) {
    Run = RunViewer(Arguments);
    EXPECT_EQ(Run.ExitCode, 2) << Arguments.join(' ').toStdString();
    EXPECT_TRUE(Run.Errors.contains("usage: CorvaneViewer"));
  }
}

// The viewer names itself in reports like any watched program: every key of
// the table the report writes is filled.
TEST(ViewerProgram, CarriesAFilledVersionResource)
{
  std::uint32_t Handle = 0;
  const std::uint32_t Size = VersionResource::GetFileVersionInfoSizeW(ViewerProgram, &Handle);
  ASSERT_GT(Size, 0u);
  std::vector<std::uint8_t> Block(Size);
  ASSERT_TRUE(VersionResource::GetFileVersionInfoW(ViewerProgram, Handle, Size, Block.data()));
  for (const HmldFormat::TVersionKey& Key : HmldFormat::VersionKeys) {
    const void* Value = nullptr;
    std::uint32_t Length = 0;
    ASSERT_TRUE(VersionResource::VerQueryValueW(Block.data(), QStringLiteral("\\StringFileInfo\\040904E4\\") + Key.Key,
                                                &Value, &Length))
      << Key.Key.data();
    const QString Text = QString::fromUtf16(static_cast<const char16_t*>(Value), Length).remove(QChar(u'\0'));
    EXPECT_FALSE(Text.trimmed().isEmpty()) << Key.Key.data();
    if (Key.Key == QLatin1String("CompanyName")) {
      EXPECT_EQ(Text, QStringLiteral("Corvane"));
    }
  }
}
