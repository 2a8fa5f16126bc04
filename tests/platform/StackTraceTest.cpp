#include "platform/StackTrace.h"

#include "platform/Registry.h"
#include "tests/platform/NoUnwindInfo.h"
#include "tests/support/TempEnvironment.h"

#include <QException>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

#include <unistd.h>

#include <barrier>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace StackTrace;

// Lines of the throws below, set by the functions themselves.
int ThrowLine = 0;
int CallLine = 0;

[[gnu::noinline]] void ThrowInExecutable()
{
  ThrowLine = __LINE__ + 1;
  throw std::runtime_error("thrown by the test program");
}

[[gnu::noinline]] void CallsTheThrower()
{
  CallLine = __LINE__ + 1;
  ThrowInExecutable();
  __asm__ volatile("" ::: "memory");
}

[[gnu::noinline]] void RaiseThroughQt()
{
  CallLine = __LINE__ + 1;
  QException().raise();
  __asm__ volatile("" ::: "memory");
}

[[gnu::noinline]] int ReadPastTheEnd(const std::vector<int>& Values)
{
  CallLine = __LINE__ + 1;
  return Values.at(Values.size());
}

template <int N>
[[gnu::noinline]] void ThrowFromThread()
{
  throw N;
}

namespace {

QStringList Rendered(bool Module = false, bool Offset = true, bool LineOffset = true, bool Address = false)
{
  QStringList Lines;
  JclLastExceptStackListToStrings(Lines, Module, Offset, LineOffset, Address);
  return Lines;
}

QString Joined(const QStringList& Lines) { return Lines.join(QLatin1Char('\n')); }

template <typename F>
void Caught(F&& Raise)
{
  try {
    Raise();
  } catch (...) {
  }
}

class StackTraceTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    JclStackTrackingOptions.SetBits(0);
    ASSERT_TRUE(JclStartExceptionTracking()) << "the throw hook is not first in the lookup order";
  }
  void TearDown() override
  {
    JclStopExceptionTracking();
    JclStackTrackingOptions.SetBits(0);
  }
};

}  // namespace

TEST_F(StackTraceTest, FramesNameFunctionFileAndLineInnermostFirst)
{
  Caught([] { CallsTheThrower(); });
  const QStringList Lines = Rendered();
  ASSERT_GE(Lines.size(), 3) << Joined(Lines).toStdString();
  const QRegularExpression Frame(
    QStringLiteral(R"re(^\[[0-9A-F]{8,}\] (\S.*) \(Line (\d+), "([^"]+)" \+ (-?\d+)\)$)re"));
  const auto First = Frame.match(Lines[0]);
  ASSERT_TRUE(First.hasMatch()) << Lines[0].toStdString();
  EXPECT_EQ(First.captured(1), QStringLiteral("ThrowInExecutable"));
  EXPECT_EQ(First.captured(2).toInt(), ThrowLine);
  EXPECT_EQ(First.captured(3), QStringLiteral("StackTraceTest.cpp"));
  EXPECT_EQ(First.captured(4).toInt(), 3);  // three lines below the function's name
  const auto Second = Frame.match(Lines[1]);
  ASSERT_TRUE(Second.hasMatch()) << Lines[1].toStdString();
  EXPECT_EQ(Second.captured(1), QStringLiteral("CallsTheThrower"));
  EXPECT_EQ(Second.captured(2).toInt(), CallLine);
  // Further out, the test body that called it (through inlined calls).
  const qsizetype Body = Lines.indexOf(QRegularExpression(
    QStringLiteral(R"re(^\[[0-9A-F]{8,}\] StackTraceTest_FramesNameFunctionFileAndLineInnermostFirst_Test::TestBody )re"
                   R"re(\(Line \d+, "StackTraceTest.cpp" \+ \d+\)$)re")));
  EXPECT_GT(Body, 1) << Joined(Lines).toStdString();

  // Neither the hook nor the unwinder shows, and without the switches no
  // module name and no absolute address either.
  for (const QString& Line : Lines) {
    EXPECT_FALSE(Line.contains(QStringLiteral("__cxa_throw")) || Line.contains(QStringLiteral("Unwind")) ||
                 Line.contains(QStringLiteral("StackTrace::")))
      << Line.toStdString();
    EXPECT_FALSE(Line.contains(QLatin1Char('{')) || Line.startsWith(QLatin1Char('('))) << Line.toStdString();
  }
}

TEST_F(StackTraceTest, SwitchesAddModuleAndAddressAndDropOffsets)
{
  Caught([] { CallsTheThrower(); });
  const QStringList All = Rendered(true, true, true, true);
  ASSERT_FALSE(All.isEmpty());
  const QRegularExpression Everything(
    QStringLiteral(R"re(^\([0-9A-F]{16}\) \{test_platform_stacktrace\} \[[0-9A-F]{8,}\] ThrowInExecutable )re"
                   R"re(\(Line \d+, "StackTraceTest.cpp" \+ 3\)$)re"));
  EXPECT_TRUE(Everything.match(All[0]).hasMatch())
    << All[0].toStdString();
  const QStringList Bare = Rendered(false, false, false, false);
  ASSERT_FALSE(Bare.isEmpty());
  EXPECT_EQ(Bare[0], QStringLiteral("ThrowInExecutable (Line %1, \"StackTraceTest.cpp\")").arg(ThrowLine));
}

TEST_F(StackTraceTest, ThrowsInsideQtTheRuntimeAndOurLibrariesAreRecorded)
{
  // Qt's own throw statement, in a library without debug information here:
  // its frame still gets a line with its name.
  Caught([] { RaiseThroughQt(); });
  QStringList Lines = Rendered();
  ASSERT_GE(Lines.size(), 2) << Joined(Lines).toStdString();
  EXPECT_TRUE(Lines[0].contains(QStringLiteral("QException::raise"))) << Lines[0].toStdString();
  EXPECT_TRUE(Lines[1].contains(QStringLiteral("RaiseThroughQt (Line %1, \"StackTraceTest.cpp\"").arg(CallLine)))
    << Lines[1].toStdString();

  // The C++ runtime's range check.
  Caught([] { ReadPastTheEnd({1, 2}); });
  Lines = Rendered();
  EXPECT_TRUE(Joined(Lines).contains(QStringLiteral("ReadPastTheEnd (Line %1, \"StackTraceTest.cpp\"").arg(CallLine)))
    << Joined(Lines).toStdString();
  EXPECT_FALSE(Lines.value(0).contains(QStringLiteral("ReadPastTheEnd")));

  // One of our libraries: the registry object raises on a missing integer.
  TestSupport::TTempEnvironment Env;
  Caught([] {
    Registry::TRegistry Reg;
    Reg.OpenKey(QStringLiteral("\\SOFTWARE\\Corvane"), true);
    Reg.ReadInteger(QStringLiteral("Missing"));
  });
  EXPECT_TRUE(Joined(Rendered()).contains(QStringLiteral("Registry::TRegistry::ReadInteger (Line ")))
    << Joined(Rendered()).toStdString();
}

TEST_F(StackTraceTest, AnotherProcessesFramesRenderAsItsOwnWhateverTheirModules)
{
  // Frames of several modules (Qt, the C++ runtime, the C library, this
  // program), each module's resolved on a thread of its own: the lines of
  // the in-process renderer, in the frames' order.
  Caught([] { RaiseThroughQt(); });
  std::vector<std::uintptr_t> Frames = LastExceptStackAddresses();
  const QStringList Expected = Rendered(true, true, true, true);
  QStringList Lines;
  ASSERT_TRUE(ProcessStackListToStrings(getpid(), Frames, Lines, true, true, true, true));
  EXPECT_EQ(Joined(Lines), Joined(Expected));
  QSet<QString> Modules;
  for (const QString& Line : Lines)
    Modules.insert(Line.section(QLatin1Char('}'), 0, 0));
  EXPECT_GE(Modules.size(), 3) << Joined(Lines).toStdString();

  // A frame again and again (a recursion) and one in no module: each as
  // it renders alone, in place.
  Frames.insert(Frames.begin() + 1, 50, Frames[1]);
  Frames.insert(Frames.begin() + 2, std::uintptr_t(0x11));
  ASSERT_TRUE(ProcessStackListToStrings(getpid(), Frames, Lines, true, true, true, true));
  QStringList OneByOne;
  for (const std::uintptr_t Frame : Frames) {
    QStringList One;
    ProcessStackListToStrings(getpid(), {Frame}, One, true, true, true, true);
    OneByOne += One;
  }
  EXPECT_EQ(Joined(Lines), Joined(OneByOne));
  EXPECT_EQ(Lines.size(), Expected.size() + 50);
}

TEST_F(StackTraceTest, TrackingStoppedRecordsNothing)
{
  Caught([] { CallsTheThrower(); });
  const std::vector<std::uintptr_t> Before = LastExceptStackAddresses();
  ASSERT_FALSE(Before.empty());
  JclStopExceptionTracking();
  EXPECT_FALSE(JclExceptionTrackingActive());
  Caught([] { RaiseThroughQt(); });
  EXPECT_EQ(LastExceptStackAddresses(), Before);

  ASSERT_TRUE(JclStartExceptionTracking());
  Caught([] { RaiseThroughQt(); });
  EXPECT_NE(LastExceptStackAddresses(), Before);
}

TEST_F(StackTraceTest, AThreadThatNeverThrewRendersNothing)
{
  std::thread([] {
    QStringList Lines{QStringLiteral("left over")};
    EXPECT_FALSE(JclLastExceptStackListToStrings(Lines, false, true, true, false));
    EXPECT_TRUE(Lines.isEmpty());
  }).join();
}

TEST_F(StackTraceTest, EightThreadsThrowingAtOnceKeepTheirOwnRecords)
{
  constexpr int Threads = 8;
  std::barrier Start(Threads);
  std::vector<QString> Failures(Threads);
  const auto Run = [&](int Index, void (*Throw)(), const QString& Expected) {
    Start.arrive_and_wait();
    std::vector<std::uintptr_t> Own;
    for (int Round = 0; Round < 300; ++Round) {
      Caught(Throw);
      const std::vector<std::uintptr_t> Now = LastExceptStackAddresses();
      if (Round == 0)
        Own = Now;
      else if (Now != Own) {
        Failures[Index] = QStringLiteral("record changed in round %1").arg(Round);
        return;
      }
    }
    const QStringList Lines = Rendered();
    if (Lines.isEmpty() || !Lines[0].startsWith(QLatin1Char('[')) || !Lines[0].contains(Expected))
      Failures[Index] = Joined(Lines);
  };
  std::vector<std::thread> Workers;
  void (*const Throwers[Threads])() = {ThrowFromThread<0>, ThrowFromThread<1>, ThrowFromThread<2>, ThrowFromThread<3>,
                                       ThrowFromThread<4>, ThrowFromThread<5>, ThrowFromThread<6>, ThrowFromThread<7>};
  for (int I = 0; I < Threads; ++I)
    Workers.emplace_back(Run, I, Throwers[I], QStringLiteral("] ThrowFromThread<%1> (Line ").arg(I));
  for (std::thread& Worker : Workers)
    Worker.join();
  for (int I = 0; I < Threads; ++I)
    EXPECT_TRUE(Failures[I].isEmpty()) << "thread " << I << ": " << Failures[I].toStdString();
}

TEST_F(StackTraceTest, OptionSetKeepsItsBitValuesAndOtherMembers)
{
  JclStackTrackingOptions.SetBits(1u << 1);  // a member we do not touch
  JclStackTrackingOptions += tsoRawStackScan;
  JclStackTrackingOptions += tsoStaticModuleList;
  EXPECT_EQ(JclStackTrackingOptions.Bits(), 2u | 4u | 16u);
  EXPECT_TRUE(JclStackTrackingOptions.Contains(tsoRawStackScan));
  JclStackTrackingOptions -= tsoRawStackScan;
  EXPECT_EQ(JclStackTrackingOptions.Bits(), 2u | 16u);
  EXPECT_FALSE(JclStackTrackingOptions.Contains(tsoRawStackScan));
}

[[gnu::noinline]] std::vector<std::uintptr_t> StackOfAThrow()
{
  Caught([] { CallsTheThrower(); });
  return LastExceptStackAddresses();
}

TEST_F(StackTraceTest, RawStackScanAddsNothingWhereTheUnwinderReachesTheStart)
{
  // Return addresses left on the stack between live frames are stale, and
  // beyond the first frame of a thread lies no caller.
  for (const bool InThread : {false, true}) {
    std::vector<std::uintptr_t> Stacks[2];  // unwound only, then with the raw scan
    const auto Run = [&] {
      JclStackTrackingOptions.SetBits(0);
      for (int Pass = 0; Pass < 2; ++Pass) {
        if (Pass == 1) {
          JclStackTrackingOptions += tsoRawStackScan;
          JclStackTrackingOptions += tsoStaticModuleList;
          JclStartExceptionTracking();
        }
        Stacks[Pass] = StackOfAThrow();
      }
    };
    if (InThread)
      std::thread(Run).join();
    else
      Run();
    EXPECT_GT(Stacks[0].size(), 3u);
    EXPECT_EQ(Stacks[1], Stacks[0]) << "in a thread: " << InThread;
  }
}

namespace {
QStringList CaughtBelowAFrameWithoutUnwindInfo;

void CatchesTheInnerThrow()
{
  try {
    CallsTheThrower();
  } catch (...) {
    CaughtBelowAFrameWithoutUnwindInfo = Rendered();
  }
}
}  // namespace

[[gnu::noinline]] void AboveTheFrameWithoutUnwindInfo()
{
  CallWithoutUnwindInfo(&CatchesTheInnerThrow);
  __asm__ volatile("" ::: "memory");
}

TEST_F(StackTraceTest, RawStackScanFindsFramesTheUnwinderCannotReach)
{
  // The unwinder stops at the frame without unwind information.
  AboveTheFrameWithoutUnwindInfo();
  QString Trace = Joined(CaughtBelowAFrameWithoutUnwindInfo);
  EXPECT_TRUE(Trace.contains(QStringLiteral("] CallWithoutUnwindInfo"))) << Trace.toStdString();
  EXPECT_FALSE(Trace.contains(QStringLiteral("AboveTheFrameWithoutUnwindInfo"))) << Trace.toStdString();
  const qsizetype Unwound = CaughtBelowAFrameWithoutUnwindInfo.size();

  // Scanning the raw stack finds the return addresses beyond it, with the
  // module list read per throw and with the static one alike.
  for (const bool Static : {false, true}) {
    JclStackTrackingOptions += tsoRawStackScan;
    if (Static)
      JclStackTrackingOptions += tsoStaticModuleList;
    ASSERT_TRUE(JclStartExceptionTracking());
    AboveTheFrameWithoutUnwindInfo();
    Trace = Joined(CaughtBelowAFrameWithoutUnwindInfo);
    const qsizetype Below = Trace.indexOf(QStringLiteral("] CallWithoutUnwindInfo"));
    const qsizetype Above = Trace.indexOf(QStringLiteral("] AboveTheFrameWithoutUnwindInfo (Line "));
    EXPECT_TRUE(Below > 0 && Above > Below) << "static " << Static << ":\n" << Trace.toStdString();
    EXPECT_GT(CaughtBelowAFrameWithoutUnwindInfo.size(), Unwound);
    // The throw itself is still the first frame.
    EXPECT_TRUE(CaughtBelowAFrameWithoutUnwindInfo.value(0).contains(QStringLiteral("] ThrowInExecutable (Line ")));
  }
}
