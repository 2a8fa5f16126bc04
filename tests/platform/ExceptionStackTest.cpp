// The stack that travels with an exception object: through std::future,
// QFuture and throw;, into another thread, past later throws, and never
// another exception's.

#include "platform/StackTrace.h"

#include <QException>
#include <QFuture>
#include <QtConcurrent/QtConcurrentRun>

#include <gtest/gtest.h>

#include <barrier>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace StackTrace;

[[gnu::noinline]] void ThrowInWorker() { throw std::runtime_error("from the worker"); }

[[gnu::noinline]] void ThrowUnrelated() { throw std::logic_error("unrelated"); }

[[gnu::noinline]] void RethrowHere(const std::exception_ptr& E) { std::rethrow_exception(E); }

[[gnu::noinline]] void RethrowThere(const std::exception_ptr& E) { std::rethrow_exception(E); }

template <int N>
[[gnu::noinline]] void ThrowNumbered()
{
  throw N;
}

namespace {

QStringList StackOf(const std::exception_ptr& E)
{
  QStringList Lines;
  ExceptionStackListToStrings(E, Lines, false, true, true, false);
  return Lines;
}

QStringList LastStack()
{
  QStringList Lines;
  JclLastExceptStackListToStrings(Lines, false, true, true, false);
  return Lines;
}

// Whether the first frame is the procedure Name, as the report shows it.
::testing::AssertionResult FirstFrameIs(const QStringList& Lines, const QString& Name)
{
  if (!Lines.isEmpty() && Lines[0].contains(QStringLiteral("] %1 (Line ").arg(Name)))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "expected " << Name.toStdString() << " first in:\n"
                                       << Lines.join(QLatin1Char('\n')).toStdString();
}

template <typename F>
std::exception_ptr CaughtFrom(F&& Raise)
{
  try {
    Raise();
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

void ThrowAndForget()
{
  try {
    ThrowUnrelated();
  } catch (...) {
  }
}

// Counts the objects alive, so that the runtime's destruction of exception
// objects is seen.
struct TCounted {
  static inline int Alive = 0;
  TCounted() { ++Alive; }
  TCounted(const TCounted&) { ++Alive; }
  ~TCounted() { --Alive; }
};

class ExceptionStack : public ::testing::Test {
protected:
  void SetUp() override
  {
    JclStackTrackingOptions.SetBits(0);
    ASSERT_TRUE(JclStartExceptionTracking()) << "the throw hook is not first in the lookup order";
  }
  void TearDown() override { JclStopExceptionTracking(); }
};

}  // namespace

TEST_F(ExceptionStack, StdFutureGetKeepsTheWorkersThrowSite)
{
  std::future<void> Task = std::async(std::launch::async, [] { ThrowInWorker(); });
  Task.wait();
  ThrowAndForget();  // the thread's last throw is now another one
  const std::exception_ptr E = CaughtFrom([&] { Task.get(); });
  ASSERT_TRUE(E);
  EXPECT_TRUE(FirstFrameIs(StackOf(E), QStringLiteral("ThrowInWorker")));
  // The re-raise is this thread's last raise now, with the object's stack.
  EXPECT_TRUE(FirstFrameIs(LastStack(), QStringLiteral("ThrowInWorker")));
  // Later throws change nothing for it, in this thread or any other.
  ThrowAndForget();
  EXPECT_TRUE(FirstFrameIs(StackOf(E), QStringLiteral("ThrowInWorker")));
  std::thread([E] { EXPECT_TRUE(FirstFrameIs(StackOf(E), QStringLiteral("ThrowInWorker"))); }).join();
}

TEST_F(ExceptionStack, QFutureOfAConcurrentTaskShowsTheTasksThrowSite)
{
  // QtConcurrent wraps what the task threw in a QUnhandledException of its
  // own, thrown after the task's frames are gone: the wrapped stack counts.
  QFuture<void> Task = QtConcurrent::run([] { ThrowInWorker(); });
  ThrowAndForget();
  const std::exception_ptr E = CaughtFrom([&] { Task.waitForFinished(); });
  ASSERT_TRUE(E);
  try {
    std::rethrow_exception(E);
  } catch (const QUnhandledException& Wrapper) {
    EXPECT_TRUE(Wrapper.exception());
  } catch (...) {
    ADD_FAILURE() << "not the wrapper QtConcurrent raises";
  }
  EXPECT_TRUE(FirstFrameIs(StackOf(E), QStringLiteral("ThrowInWorker")));
}

TEST_F(ExceptionStack, BareThrowKeepsTheStackOfTheExceptionItRaises)
{
  // throw; after a throw and catch inside the handler: the inner throw is
  // the thread's last, yet the exception raised is the outer one.
  const std::exception_ptr E = CaughtFrom([] {
    try {
      ThrowInWorker();
    } catch (...) {
      ThrowAndForget();
      throw;
    }
  });
  EXPECT_TRUE(FirstFrameIs(StackOf(E), QStringLiteral("ThrowInWorker")));
  EXPECT_TRUE(FirstFrameIs(LastStack(), QStringLiteral("ThrowInWorker")));
}

TEST_F(ExceptionStack, WithoutAThrowTheFirstReraiseSiteIsTheStackNeverAStaleOne)
{
  // Made without a throw: nothing is known of it, and it shows nothing
  // rather than the thread's last throw.
  const std::exception_ptr Made = std::make_exception_ptr(std::runtime_error("made"));
  ThrowAndForget();
  QStringList Lines{QStringLiteral("left over")};
  EXPECT_FALSE(ExceptionStackListToStrings(Made, Lines, false, true, true, false));
  EXPECT_TRUE(Lines.isEmpty());

  // Its first re-raise gives it a stack, which stays its own.
  const std::exception_ptr E = CaughtFrom([&] { RethrowHere(Made); });
  EXPECT_EQ(E, Made);
  EXPECT_TRUE(FirstFrameIs(StackOf(E), QStringLiteral("RethrowHere")));
  ThrowAndForget();
  CaughtFrom([&] { RethrowThere(Made); });
  EXPECT_TRUE(FirstFrameIs(StackOf(E), QStringLiteral("RethrowHere")));

  // A re-raise only to look at an exception is no re-raise site.
  const std::exception_ptr Looked = std::make_exception_ptr(std::runtime_error("looked at"));
  {
    const TInspection Inspection;
    CaughtFrom([&] { RethrowHere(Looked); });
  }
  EXPECT_TRUE(StackOf(Looked).isEmpty());
  EXPECT_FALSE(ExceptionStackListToStrings(nullptr, Lines, false, true, true, false));
}

TEST_F(ExceptionStack, ExceptionObjectsAreDestroyedAndTheirRecordsFreed)
{
  // Our destructor stands in for the object's own: it must still run, for
  // thrown objects and for objects made without a throw.
  CaughtFrom([] { throw TCounted(); });
  EXPECT_EQ(TCounted::Alive, 0);
  {
    const std::exception_ptr Kept = CaughtFrom([] { throw TCounted(); });
    const std::exception_ptr Made = std::make_exception_ptr(TCounted());
    EXPECT_EQ(TCounted::Alive, 2);
  }
  EXPECT_EQ(TCounted::Alive, 0);

  // Many more exceptions than there are records, one after the other: each
  // gives its record back, and the next one still gets one.
  for (std::size_t I = 0; I < 4 * MaxExceptionRecords; ++I)
    CaughtFrom([] { ThrowUnrelated(); });
  const std::exception_ptr E = CaughtFrom([] { ThrowInWorker(); });
  ThrowAndForget();
  EXPECT_TRUE(FirstFrameIs(StackOf(E), QStringLiteral("ThrowInWorker")));
}

TEST_F(ExceptionStack, ManyLiveExceptionsInManyThreadsKeepTheirOwnStacks)
{
  constexpr int Threads = 4;
  constexpr int KeptPerThread = 60;
  std::barrier Start(Threads);
  std::vector<std::vector<std::exception_ptr>> Kept(Threads);
  const auto Run = [&](int Index, void (*Throw)()) {
    Start.arrive_and_wait();
    for (int I = 0; I < KeptPerThread; ++I) {
      Kept[Index].push_back(CaughtFrom(Throw));
      ThrowAndForget();
    }
  };
  void (*const Throwers[Threads])() = {ThrowNumbered<0>, ThrowNumbered<1>, ThrowNumbered<2>, ThrowNumbered<3>};
  std::vector<std::thread> Workers;
  for (int I = 0; I < Threads; ++I)
    Workers.emplace_back(Run, I, Throwers[I]);
  for (std::thread& Worker : Workers)
    Worker.join();
  for (int I = 0; I < Threads; ++I)
    for (const std::exception_ptr& E : Kept[I])
      ASSERT_TRUE(FirstFrameIs(StackOf(E), QStringLiteral("ThrowNumbered<%1>").arg(I))) << "thread " << I;
}
