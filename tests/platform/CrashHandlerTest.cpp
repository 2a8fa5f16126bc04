// The crash handlers in a process of their own (death tests): what the
// helper receives, that the process then ends by its signal, that handlers
// installed before ours still run, and that std::terminate's abort starts
// no second report. (The throw site of std::terminate's exception needs
// the tracking of the package, and is tested with the demo.) The crash record's reader against broken records.

#include "platform/CrashHandler.h"
#include "platform/CrashRecord.h"

#include "tests/support/TempEnvironment.h"

#include <QElapsedTimer>
#include <QMap>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString DumpHelper = QStringLiteral(CORVANE_BIN_DIR "/corvane-crash-record-dump");
const QString NoHelper = QStringLiteral("/nonexistent/corvane-crash-helper");

volatile int Sink;

[[gnu::noinline]] void ReadAddress16()
{
  volatile int* volatile Nowhere = reinterpret_cast<volatile int*>(16);
  Sink = *Nowhere;
}

volatile bool Always = true;

[[gnu::noinline]] void Throw()
{
  if (Always)
    throw std::runtime_error("worker failed");
}

volatile int OverflowDepthLimit = 1 << 30;

[[gnu::noinline]] int Overflow(int Depth)
{
  volatile char Frame[1024];
  Frame[0] = char(Depth);
  if (Depth >= OverflowDepthLimit)
    return Frame[0];
  return Overflow(Depth + 1) + Frame[0];
}

// An exception escaping a noexcept function ends in std::terminate.
[[gnu::noinline]] void ThrowThroughNoexcept() noexcept { Throw(); }

class CrashHandlerTest : public ::testing::Test {
protected:
  CrashHandlerTest() { Env.Set("CORVANE_CRASH_DUMP", DumpFile()); }

  QString DumpFile() const { return Env.Root() + QStringLiteral("/dump.txt"); }

  // The records the helper wrote, each as its fields.
  QList<QMap<QByteArray, QByteArray>> Dumps() const
  {
    QList<QMap<QByteArray, QByteArray>> Records;
    for (const QByteArray& Line : TestSupport::ReadAll(DumpFile()).split('\n')) {
      const qsizetype Equals = Line.indexOf('=');
      if (Equals < 0)
        continue;
      if (Line.startsWith("Read="))
        Records.append(QMap<QByteArray, QByteArray>());
      Records.last()[Line.left(Equals)] = Line.mid(Equals + 1);
    }
    return Records;
  }

  // The helper read one whole record, of Signal.
  void ExpectOneRecordOf(int Signal) const
  {
    const auto Records = Dumps();
    ASSERT_EQ(Records.size(), 1);
    EXPECT_EQ(Records[0]["Read"], "yes");
    EXPECT_EQ(Records[0]["Signal"], QByteArray::number(Signal));
  }

  static void Arm(const QString& Helper)
  {
    CrashHandler::Install(Helper);
    CrashHandler::SetPrepared(
      CrashRecord::PreparedBlock({QStringLiteral("/opt/my app/prog"), QStringLiteral("/opt/lib/libX.so"), QByteArray("s\ne\0t", 5)}));
  }

  TestSupport::TTempEnvironment Env;
};

[[noreturn]] void ExitWith42(int) { _exit(42); }

}  // namespace

TEST_F(CrashHandlerTest, AFaultReachesTheHelperThenEndsTheProcessByItsSignal)
{
  EXPECT_EXIT(
    {
      Arm(DumpHelper);
      ReadAddress16();
    },
    ::testing::KilledBySignal(SIGSEGV), "");
  const auto Records = Dumps();
  ASSERT_EQ(Records.size(), 1);
  const auto& R = Records[0];
  EXPECT_EQ(R["Read"], "yes");
  EXPECT_EQ(R["Kind"], QByteArray::number(int(CrashRecord::TKind::Signal)));
  EXPECT_EQ(R["Signal"], QByteArray::number(SIGSEGV));
  EXPECT_EQ(R["Code"], QByteArray::number(SEGV_MAPERR));
  EXPECT_EQ(R["Fault"], "16");
  EXPECT_EQ(R["SelfSent"], "0");
  EXPECT_NE(R["WalkCount"], "0");
  EXPECT_EQ(R["Exe"], "/opt/my app/prog");
  EXPECT_EQ(R["Library"], "/opt/lib/libX.so");
  // The settings travel as bytes: a line feed and a zero byte are kept.
  EXPECT_EQ(TestSupport::ReadAll(DumpFile()).count(QByteArray("Settings=s\ne\0t\n", 14)), 1);
}

TEST_F(CrashHandlerTest, TerminateHandsOnTheActiveExceptionAndItsAbortStartsNoSecondReport)
{
  EXPECT_EXIT(
    {
      Arm(DumpHelper);
      ThrowThroughNoexcept();
    },
    ::testing::KilledBySignal(SIGABRT), "");
  const auto Records = Dumps();
  ASSERT_EQ(Records.size(), 1);
  const auto& R = Records[0];
  EXPECT_EQ(R["Read"], "yes");
  EXPECT_EQ(R["Kind"], QByteArray::number(int(CrashRecord::TKind::Terminate)));
  EXPECT_EQ(R["HasException"], "1");
  EXPECT_EQ(R["Type"], typeid(std::runtime_error).name());
  EXPECT_EQ(R["Message"], "worker failed");
}

TEST_F(CrashHandlerTest, AnAbortIsSentByTheProcessItself)
{
  EXPECT_EXIT(
    {
      Arm(DumpHelper);
      std::abort();
    },
    ::testing::KilledBySignal(SIGABRT), "");
  const auto Records = Dumps();
  ASSERT_EQ(Records.size(), 1);
  EXPECT_EQ(Records[0]["Signal"], QByteArray::number(SIGABRT));
  EXPECT_EQ(Records[0]["SelfSent"], "1");
}

TEST_F(CrashHandlerTest, AWorkerThreadWithASignalStackHasItsStackOverflowReported)
{
  EXPECT_EXIT(
    {
      Arm(DumpHelper);
      std::thread([] {
        const CrashHandler::TThreadSignalStack Stack;
        Sink = Overflow(0);
      }).join();
    },
    ::testing::KilledBySignal(SIGSEGV), "");
  const auto Records = Dumps();
  ASSERT_EQ(Records.size(), 1);
  EXPECT_EQ(Records[0]["Signal"], QByteArray::number(SIGSEGV));
}

// Threads that fault at the same moment, while others keep malloc's locks
// busy: one report, no deadlock, and the process ends by the signal.
TEST_F(CrashHandlerTest, ThreadsCrashingAtOnceGiveOneReport)
{
  EXPECT_EXIT(
    {
      Arm(DumpHelper);
      std::atomic<bool> Go{false};
      std::vector<std::thread> Threads;
      for (int I = 0; I < 2; ++I)
        Threads.emplace_back([&Go] {
          while (true) {
            void* volatile Block = std::malloc(std::size_t(1) << (4 + std::rand() % 16));
            std::free(Block);
            Go.store(true);
          }
        });
      for (int I = 0; I < 4; ++I)
        Threads.emplace_back([&Go] {
          while (!Go.load()) {
          }
          ReadAddress16();
        });
      for (std::thread& Thread : Threads)
        Thread.join();
    },
    ::testing::KilledBySignal(SIGSEGV), "");
  ExpectOneRecordOf(SIGSEGV);
}

// A child forked after installation crashes on a pair of its own: its
// helper failing is seen at once, and what it sent never reaches the
// parent's helper later.
TEST_F(CrashHandlerTest, AForkedChildsCrashLeavesTheParentsPairAlone)
{
  EXPECT_EXIT(
    {
      Arm(NoHelper);
      const pid_t Child = fork();
      if (Child == 0)
        std::abort();
      QElapsedTimer Timer;
      Timer.start();
      int Status = 0;
      waitpid(Child, &Status, 0);
      if (!WIFSIGNALED(Status) || WTERMSIG(Status) != SIGABRT || Timer.elapsed() > 5000)
        _exit(1);
      Arm(DumpHelper);
      ReadAddress16();
    },
    ::testing::KilledBySignal(SIGSEGV), "");
  ExpectOneRecordOf(SIGSEGV);
}

TEST_F(CrashHandlerTest, HandlersInstalledBeforeOursStillRunWithoutAHelper)
{
  EXPECT_EXIT(
    {
      std::signal(SIGSEGV, ExitWith42);
      Arm(NoHelper);
      ReadAddress16();
    },
    ::testing::ExitedWithCode(42), "");
  EXPECT_EXIT(
    {
      std::set_terminate([] { _exit(43); });
      Arm(NoHelper);
      ThrowThroughNoexcept();
    },
    ::testing::ExitedWithCode(43), "");
  EXPECT_EXIT(
    {
      Arm(NoHelper);
      std::abort();
    },
    ::testing::KilledBySignal(SIGABRT), "");
}

TEST_F(CrashHandlerTest, DisabledTheHandlersOnlyChainOn)
{
  EXPECT_EXIT(
    {
      Arm(DumpHelper);
      CrashHandler::SetEnabled(false);
      ReadAddress16();
    },
    ::testing::KilledBySignal(SIGSEGV), "");
  EXPECT_TRUE(Dumps().isEmpty());
}

TEST_F(CrashHandlerTest, UninstallPutsBackWhatWasThere)
{
  struct sigaction Mine{};
  Mine.sa_handler = ExitWith42;
  struct sigaction Before{};
  ASSERT_EQ(sigaction(SIGBUS, &Mine, &Before), 0);
  const std::terminate_handler Terminate = std::get_terminate();

  ASSERT_TRUE(CrashHandler::Install(NoHelper));
  EXPECT_TRUE(CrashHandler::Installed());
  EXPECT_NE(std::get_terminate(), Terminate);
  CrashHandler::Install(NoHelper);  // again: still one set of handlers to undo
  CrashHandler::Uninstall();
  EXPECT_FALSE(CrashHandler::Installed());

  struct sigaction After{};
  sigaction(SIGBUS, nullptr, &After);
  EXPECT_EQ(After.sa_handler, &ExitWith42);
  EXPECT_EQ(std::get_terminate(), Terminate);
  sigaction(SIGBUS, &Before, nullptr);
}

TEST(CrashRecordRead, BrokenOrSilentRecordsAreRefusedInTime)
{
  const auto ReadFrom = [](const QByteArray& Bytes, QString& Error) {
    int Ends[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, Ends), 0);
    EXPECT_EQ(write(Ends[0], Bytes.constData(), std::size_t(Bytes.size())), Bytes.size());
    CrashRecord::TCrashRecord Record;
    const bool Read = CrashRecord::Read(Ends[1], Record, 300, Error);
    close(Ends[0]);
    close(Ends[1]);
    return Read;
  };
  CrashRecord::THeader Header;
  Header.Magic = CrashRecord::Magic;
  Header.Size = sizeof Header;
  const QByteArray Whole(reinterpret_cast<const char*>(&Header), sizeof Header);
  const QByteArray Block = CrashRecord::PreparedBlock({QStringLiteral("/p"), QStringLiteral("/l"), "x"});
  QString Error;

  CrashRecord::THeader Good = Header;
  Good.PreparedSize = std::uint64_t(Block.size());
  EXPECT_TRUE(ReadFrom(QByteArray(reinterpret_cast<const char*>(&Good), sizeof Good) + Block, Error)) << qPrintable(Error);

  CrashRecord::THeader Other = Header;
  Other.Magic ^= 1;
  EXPECT_FALSE(ReadFrom(QByteArray(reinterpret_cast<const char*>(&Other), sizeof Other), Error));
  EXPECT_TRUE(Error.contains(QStringLiteral("another build")));

  // Promised bytes that never come: refused within the time limit.
  QElapsedTimer Timer;
  Timer.start();
  EXPECT_FALSE(ReadFrom(Whole.left(100), Error));
  CrashRecord::THeader Promising = Header;
  Promising.MessageSize = 10;
  EXPECT_FALSE(ReadFrom(QByteArray(reinterpret_cast<const char*>(&Promising), sizeof Promising), Error));
  EXPECT_LT(Timer.elapsed(), 3000);

  // A size no process would send is not allocated.
  CrashRecord::THeader Huge = Header;
  Huge.TypeNameSize = ~std::uint64_t(0);
  EXPECT_FALSE(ReadFrom(QByteArray(reinterpret_cast<const char*>(&Huge), sizeof Huge), Error));

  // A prepared block whose fields claim more than it holds.
  CrashRecord::THeader Cut = Header;
  Cut.PreparedSize = std::uint64_t(Block.size() - 1);
  EXPECT_FALSE(ReadFrom(QByteArray(reinterpret_cast<const char*>(&Cut), sizeof Cut) + Block.left(Block.size() - 1), Error));
  EXPECT_TRUE(Error.contains(QStringLiteral("cut short")));
}
