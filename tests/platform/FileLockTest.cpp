// The report file's lock: one holder at a time, across descriptors and
// processes, waited for within bounds, and the file never truncated.

#include "platform/FileLock.h"

#include "tests/support/TempEnvironment.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using FileLock::TFileLock;
using FileLock::TLockResult;

TEST(FileLock, OneHolderAtATimeTheFileKeptAsItIs)
{
  TestSupport::TTempEnvironment Env;
  const QString Path = Env.Root() + QStringLiteral("/report with blanks.Hmld");
  TFileLock First;
  ASSERT_EQ(First.Acquire(Path, 0), TLockResult::Locked);
  EXPECT_TRUE(First.Locked());
  // Created, empty: the holder writes it.
  EXPECT_EQ(TestSupport::ReadAll(Path), QByteArray());
  TestSupport::WriteAll(Path, "written by the holder\r\n");

  TFileLock Second;
  EXPECT_EQ(Second.Acquire(Path, 50), TLockResult::Busy);
  EXPECT_FALSE(Second.Locked());

  // Let go while the other waits: it gets the lock, and the file as it was.
  std::thread Letting([&First] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    First.Release();
  });
  EXPECT_EQ(Second.Acquire(Path, 60000), TLockResult::Locked);
  Letting.join();
  EXPECT_EQ(TestSupport::ReadAll(Path), "written by the holder\r\n");

  // Moved, it stays held; destroyed, it is let go.
  {
    TFileLock Moved(std::move(Second));
    EXPECT_TRUE(Moved.Locked());
    EXPECT_EQ(First.Acquire(Path, 0), TLockResult::Busy);
  }
  EXPECT_EQ(First.Acquire(Path, 0), TLockResult::Locked);

  EXPECT_EQ(Second.Acquire(Env.Root() + QStringLiteral("/no such folder/report.Hmld"), 1000),
            TLockResult::Unavailable);
}

TEST(FileLock, AnotherProcessTakesTheSameLock)
{
  TestSupport::TTempEnvironment Env;
  const QString Path = Env.Root() + QStringLiteral("/report.Hmld");
  // flock(1) holds the file while it runs its command.
  QProcess Holder;
  Holder.start(QStringLiteral("flock"), {QStringLiteral("--exclusive"), Path, QStringLiteral("sh"), QStringLiteral("-c"),
                                         QStringLiteral("echo held; read line")});
  ASSERT_TRUE(Holder.waitForReadyRead(60000)) << Holder.errorString().toStdString();
  ASSERT_EQ(Holder.readLine().trimmed(), "held");
  TFileLock Lock;
  EXPECT_EQ(Lock.Acquire(Path, 100), TLockResult::Busy);
  Holder.write("go\n");
  Holder.waitForBytesWritten();
  Holder.closeWriteChannel();
  EXPECT_EQ(Lock.Acquire(Path, 60000), TLockResult::Locked);
  Holder.waitForFinished();

  // And it waits for ours.
  QProcess Waiter;
  Waiter.start(QStringLiteral("flock"), {QStringLiteral("--exclusive"), QStringLiteral("--nonblock"), Path,
                                         QStringLiteral("true")});
  ASSERT_TRUE(Waiter.waitForFinished(60000));
  EXPECT_NE(Waiter.exitCode(), 0);
}
