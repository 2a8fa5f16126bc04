// The stack-trace section of the report: its bytes, with and without a
// recorded stack, and the tracking that the package starts when it loads.

#include "package/Vesparo.h"

#include "hostfw/Exceptions.h"
#include "hostfw/FormatSettings.h"
#include "platform/StackTrace.h"
#include "tests/support/ExpectedReport.h"
#include "tests/support/TempEnvironment.h"

#include <QDateTime>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

using TestSupport::ReadAll;

int PackageThrowLine = 0;

[[gnu::noinline]] void ThrowForTheReport()
{
  PackageThrowLine = __LINE__ + 1;
  throw std::runtime_error("for the stack section");
}

namespace {

const QByteArray Start = "|**************Stack_trace_error_start**************|";
const QByteArray End = "|**************Stack_trace_error_end**************|";

class StackSection : public ::testing::Test {
protected:
  void SetUp() override
  {
    TestSupport::UseReportFormats();
    TestSupport::WriteAll(Report(), "before\r\n");
  }
  void TearDown() override { FormatSettings::Reset(); }

  QString Report() const { return Env.Root() + QStringLiteral("/report.Hmld"); }

  // The section as it must be, for either second the capture may have
  // taken place in.
  bool IsSection(const QByteArray& Written, const QByteArray& Frames, const QDateTime& Before) const
  {
    for (const QDateTime& Time : {Before, QDateTime::currentDateTime()}) {
      const QByteArray Expected = "before\r\n\r\n\r\n" + Start + "\r\n" +
                                  Time.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")).toLatin1() + "\r\n" + Frames +
                                  End + "\r\n";
      if (Written == Expected)
        return true;
    }
    return false;
  }

  TestSupport::TTempEnvironment Env;
  Vesparo::TCVVesparo Component;
};

}  // namespace

TEST_F(StackSection, TheFramesOfTheLastThrowByteForByte)
{
  try {
    ThrowForTheReport();
  } catch (const std::exception&) {
  }
  QStringList Frames;
  ASSERT_TRUE(StackTrace::JclLastExceptStackListToStrings(Frames, false, true, true, false));
  ASSERT_GE(Frames.size(), 2);
  const QRegularExpression FirstFrame(
    QStringLiteral(R"re(^\[[0-9A-F]{8,}\] ThrowForTheReport \(Line %1, "StackSectionTest.cpp" \+ 3\)$)re")
      .arg(PackageThrowLine));
  EXPECT_TRUE(FirstFrame.match(Frames[0]).hasMatch())
    << Frames[0].toStdString();

  const QDateTime Before = QDateTime::currentDateTime();
  QString TraceText = QStringLiteral("left over");
  Component.LogTheStackTraceIncaseOfError(Report(), TraceText);
  const QByteArray FrameLines = (Frames.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toLatin1();
  EXPECT_TRUE(IsSection(ReadAll(Report()), FrameLines, Before))
    << ReadAll(Report()).toStdString();
  EXPECT_EQ(TraceText, QStringLiteral("\r\n") + Frames.join(QStringLiteral("\r\n")));
}

TEST_F(StackSection, NoRecordedStackLeavesMarkersAndTimeOnly)
{
  // A thread that never threw has no record.
  const QDateTime Before = QDateTime::currentDateTime();
  QString TraceText = QStringLiteral("left over");
  std::thread([&] { Component.LogTheStackTraceIncaseOfError(Report(), TraceText); }).join();
  EXPECT_TRUE(IsSection(ReadAll(Report()), "", Before)) << ReadAll(Report()).toStdString();
  EXPECT_EQ(TraceText, QString());
}

TEST_F(StackSection, AMissingReportFileIsAnInputOutputErrorRaisedInThePackage)
{
  QString TraceText;
  EXPECT_THROW(Component.LogTheStackTraceIncaseOfError(Env.Root() + QStringLiteral("/missing/report.Hmld"), TraceText),
               EInOutError);
  // That raise was recorded too: the text file's open, called from the
  // package's own code.
  QStringList Frames;
  StackTrace::JclLastExceptStackListToStrings(Frames, false, true, true, false);
  const QString Trace = Frames.join(QLatin1Char('\n'));
  const qsizetype Open = Trace.indexOf(QStringLiteral("] TextFile::TTextFile::"));
  const qsizetype Package = Trace.indexOf(QRegularExpression(
    QStringLiteral(R"re(\] Vesparo::TCVVesparo::LogTheStackTraceIncaseOfError \(Line \d+, "Vesparo.cpp" \+ \d+\))re")));
  EXPECT_TRUE(Open >= 0 && Package > Open) << Trace.toStdString();
}

TEST(PackageLoad, StartsTrackingWithRawScanningAndTheStaticModuleList)
{
  EXPECT_TRUE(StackTrace::JclExceptionTrackingActive());
  EXPECT_TRUE(StackTrace::JclStackTrackingOptions.Contains(StackTrace::tsoRawStackScan));
  EXPECT_TRUE(StackTrace::JclStackTrackingOptions.Contains(StackTrace::tsoStaticModuleList));
  EXPECT_EQ(StackTrace::JclStackTrackingOptions.Bits() & 20u, 20u);
}
