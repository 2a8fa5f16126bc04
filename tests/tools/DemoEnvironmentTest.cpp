// The environment block of a report that the demo writes on this machine,
// checked against what the machine says through other means.

#include "tests/tools/DemoRun.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cpuid.h>
#include <map>
#include <netdb.h>
#include <pwd.h>
#include <unistd.h>

using namespace DemoTests;

namespace {

QByteArray Vendor()
{
  unsigned Eax = 0, Ebx = 0, Ecx = 0, Edx = 0;
  __get_cpuid(0, &Eax, &Ebx, &Ecx, &Edx);
  QByteArray Text;
  for (unsigned R : {Ebx, Edx, Ecx})
    Text.append(reinterpret_cast<const char*>(&R), 4);
  return Text;
}

// The processor's name as the kernel shows it (blanks at the ends removed).
QByteArray ModelName()
{
  QFile Info(QStringLiteral("/proc/cpuinfo"));
  if (!Info.open(QIODevice::ReadOnly))
    return {};
  for (const QByteArray& Line : Info.readAll().split('\n'))
    if (Line.startsWith("model name"))
      return Line.mid(Line.indexOf(':') + 1).trimmed();
  return {};
}

QList<QByteArray> HostAddresses()
{
  char Host[256] = {};
  ::gethostname(Host, sizeof Host - 1);
  addrinfo Hints{};
  Hints.ai_family = AF_INET;
  Hints.ai_socktype = SOCK_DGRAM;
  addrinfo* Result = nullptr;
  QList<QByteArray> Addresses;
  if (::getaddrinfo(Host, nullptr, &Hints, &Result) != 0)
    return Addresses;
  for (const addrinfo* A = Result; A; A = A->ai_next) {
    char Text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(A->ai_addr)->sin_addr, Text, sizeof Text);
    if (!Addresses.contains(Text))
      Addresses << Text;
  }
  ::freeaddrinfo(Result);
  return Addresses;
}

// The first hardware address that is not all zero, by interface index.
QByteArray FirstHardwareAddress()
{
  std::map<int, QByteArray> ByIndex;
  const QDir Net(QStringLiteral("/sys/class/net"));
  for (const QString& Name : Net.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    QFile Index(Net.filePath(Name + QStringLiteral("/ifindex")));
    QFile Address(Net.filePath(Name + QStringLiteral("/address")));
    if (Index.open(QIODevice::ReadOnly) && Address.open(QIODevice::ReadOnly))
      ByIndex[Index.readAll().trimmed().toInt()] = Address.readAll().trimmed().toUpper().replace(':', '-');
  }
  for (const auto& [Index, Address] : ByIndex)
    if (Address.size() == 17 && Address != "00-00-00-00-00-00")
      return Address;
  return "00-00-00-00-00-00";
}

}  // namespace

TEST(DemoEnvironment, ReportStartsWithTheBlockOfThisMachine)
{
  TestSupport::TTempEnvironment Env;
  const TDemoResult Run = RunDemo(Env, {"--raise", "TEXT", "--unattended"}, QStringLiteral("offscreen"));
  ASSERT_TRUE(Run.Finished);
  ASSERT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
  const QByteArray Report = TestSupport::ReadAll(ReportOf(Env));
  const QList<QByteArray> Lines = Report.split('\n');
  ASSERT_GT(Lines.size(), 40);
  const auto Line = [&](qsizetype I) { return Lines[I].chopped(1); };  // without CR

  const QList<QByteArray> Keys{"OSName:", "Version:", "BuildNumber:", "BuildType:", "CodeSet:", "CountryCode:"};
  for (qsizetype I = 0; I < Keys.size(); ++I) {
    EXPECT_TRUE(Line(I).startsWith(Keys[I])) << Line(I).toStdString();
    EXPECT_TRUE(Line(I).endsWith(';'));
  }
  EXPECT_EQ(Line(0), "OSName:Unknown;");
  EXPECT_EQ(Line(6), "Bit:64 bits;");
  EXPECT_EQ(Line(7), "System Directory:/usr/lib;");
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^RAMINUSE:\\d+ %;$")).match(QString::fromLatin1(Line(8))).hasMatch());
  EXPECT_TRUE(Line(9).startsWith("RAMTOTAL:"));
  EXPECT_TRUE(Line(10).startsWith("RAMAVAIL:"));
  EXPECT_TRUE(Line(11).startsWith("SYSTEMNAME:"));
  EXPECT_TRUE(Line(12).startsWith("BootDevice:"));
  EXPECT_EQ(Line(13), "VendorID:" + Vendor() + ";");
  const QByteArray Model = ModelName();
  if (!Model.isEmpty()) {
    EXPECT_TRUE(Line(14).startsWith("CPUname:"));
    EXPECT_TRUE(Line(14).contains(Model)) << Line(14).toStdString();
  }

  qsizetype I = 15;
  const QList<QByteArray> Addresses = HostAddresses();
  ASSERT_FALSE(Addresses.isEmpty());
  EXPECT_EQ(Line(I++), "IPAddres:" + Addresses[0]);
  for (qsizetype A = 1; A < Addresses.size(); ++A)
    EXPECT_EQ(Line(I++), Addresses[A]);
  EXPECT_EQ(Line(I++), ";");
  EXPECT_EQ(Line(I++), "MAC Addres:" + FirstHardwareAddress() + ";");

  EXPECT_TRUE(QRegularExpression(QStringLiteral("^Size :\\d+;$")).match(QString::fromLatin1(Line(I++))).hasMatch());
  const QList<QByteArray> Version{"Company Name:Corvane;",
                                  "Description:Corvane demonstration host application;",
                                  "File Version:" CORVANE_VERSION ";",
                                  "Internal Name:vesparo-demo;",
                                  "Copyright:Copyright (C) 2026 Corvane;",
                                  "TradeMarks:Corvane is a trademark of Corvane;",
                                  "Original File Name:vesparo-demo;",
                                  "Product Name:Corvane;",
                                  "Product Version:" CORVANE_VERSION ";",
                                  "Comments:Raises exceptions on request so that they are reported;",
                                  "Author:Corvane developers;"};
  for (const QByteArray& Expected : Version)
    EXPECT_EQ(Line(I++), Expected);

  EXPECT_EQ(Line(I++), "[____________________Process Information start_____________________]");
  EXPECT_EQ(Line(I++), "| Name    |          | PID |   | User | | Domain | | Working Set ( Kb Memory) |;");
  const QByteArray User = ::getpwuid(::getuid())->pw_name;
  const QRegularExpression DemoRow(
    QStringLiteral("^vesparo-demo   \\|    *\\d+ +\\|  %1 +\\|[^|]+\\| +\\d+(\\.\\d+)?\\|;$").arg(QString::fromLatin1(User)));
  qsizetype Rows = 0;
  for (; I < Lines.size() && !Lines[I].contains("Process Information end"); ++I)
    Rows += DemoRow.match(QString::fromLatin1(Line(I))).hasMatch() ? 1 : 0;
  EXPECT_GE(Rows, 1);
  ASSERT_LT(I, Lines.size());
  EXPECT_EQ(Line(I), "[____________________Process Information end_____________________]");
}
