// The shared POSIX plumbing: descriptors that close once and only once,
// reads and writes that survive signals and short counts, the /proc walk and
// demangling.

#include "platform/Posix.h"

#include "tests/support/TempEnvironment.h"

#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <typeinfo>

#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

using Posix::TFd;

namespace {

bool IsOpenDescriptor(int Fd) { return ::fcntl(Fd, F_GETFD) >= 0; }

struct TPipe {
  TFd Read, Write;
  TPipe()
  {
    int Ends[2];
    EXPECT_EQ(::pipe2(Ends, O_CLOEXEC), 0);
    Read = TFd(Ends[0]);
    Write = TFd(Ends[1]);
  }
};

void NoAction(int) {}

}  // namespace

TEST(Posix, AnOwnedDescriptorIsClosedOnceByWhoeverHoldsItLast)
{
  TPipe Pipe;
  const int Number = Pipe.Read.Get();
  ASSERT_TRUE(IsOpenDescriptor(Number));
  {
    TFd Moved(std::move(Pipe.Read));
    EXPECT_FALSE(Pipe.Read.IsOpen());
    EXPECT_EQ(Moved.Get(), Number);
    EXPECT_TRUE(IsOpenDescriptor(Number));
  }
  EXPECT_FALSE(IsOpenDescriptor(Number));

  // Assigning over an open one closes that one; Release hands it over.
  const int Writing = Pipe.Write.Get();
  TFd Other = Posix::Open("/dev/null", O_RDONLY);
  ASSERT_TRUE(Other.IsOpen());
  const int Null = Other.Get();
  Other = std::move(Pipe.Write);
  EXPECT_FALSE(IsOpenDescriptor(Null));
  EXPECT_EQ(Other.Get(), Writing);
  const int Released = Other.Release();
  EXPECT_FALSE(Other.IsOpen());
  EXPECT_TRUE(IsOpenDescriptor(Released));
  EXPECT_EQ(TFd(Released).Close(), 0);
  EXPECT_FALSE(IsOpenDescriptor(Released));

  // Close says what close(2) said; a second Close has nothing to do.
  TFd Bad(Released);
  EXPECT_EQ(Bad.Close(), EBADF);
  EXPECT_EQ(Bad.Close(), 0);

  // Opened descriptors do not leak into programs this one starts.
  const TFd Cloexec = Posix::Open("/dev/null", O_RDONLY);
  EXPECT_TRUE(::fcntl(Cloexec.Get(), F_GETFD) & FD_CLOEXEC);
  errno = 0;
  EXPECT_FALSE(Posix::Open("/no/such/file", O_RDONLY).IsOpen());
  EXPECT_EQ(errno, ENOENT);
}

TEST(Posix, WritesAndReadsGoOnThroughSignalsAndShortCounts)
{
  // A handler without SA_RESTART makes a blocked pipe write or read return
  // early with EINTR or a short count.
  struct sigaction Action {}, Old {};
  Action.sa_handler = NoAction;
  sigemptyset(&Action.sa_mask);
  ASSERT_EQ(::sigaction(SIGUSR1, &Action, &Old), 0);

  TPipe Pipe;
  QByteArray Sent(4 << 20, Qt::Uninitialized);
  for (qsizetype I = 0; I < Sent.size(); ++I)
    Sent[I] = char(I * 7 + I / 4096);
  std::atomic<bool> Done = false;
  int WriteResult = -1;
  std::thread Writer([&] {
    WriteResult = Posix::WriteAll(Pipe.Write.Get(), Sent.constData(), std::size_t(Sent.size()));
    Pipe.Write.Close();
    Done = true;
  });
  // Interrupt the writer while it waits for the slow reader.
  const pthread_t WriterThread = Writer.native_handle();
  std::thread Interrupter([&] {
    while (!Done) {
      ::pthread_kill(WriterThread, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  QByteArray Received;
  char Chunk[1000];
  for (;;) {
    const ssize_t Got = Posix::ReadSome(Pipe.Read.Get(), Chunk, sizeof Chunk);
    ASSERT_GE(Got, 0);
    if (Got == 0)
      break;
    Received.append(Chunk, Got);
  }
  Writer.join();
  Interrupter.join();
  ::sigaction(SIGUSR1, &Old, nullptr);
  EXPECT_EQ(WriteResult, 0);
  EXPECT_TRUE(Received == Sent);

  // A failed write says why.
  TPipe Closed;
  Closed.Read.Close();
  const auto OldPipe = ::signal(SIGPIPE, SIG_IGN);
  EXPECT_EQ(Posix::WriteAll(Closed.Write.Get(), "x", 1), EPIPE);
  ::signal(SIGPIPE, OldPipe);
}

TEST(Posix, WholeFilesLinksAndWritesAtAnOffset)
{
  TestSupport::TTempEnvironment Env;
  const QByteArray Path = QFile::encodeName(Env.Root() + QStringLiteral("/file"));
  {
    const TFd File = Posix::Open(Path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_TRUE(File.IsOpen());
    const QByteArray Bytes(100000, 'a');
    ASSERT_EQ(Posix::WriteAll(File.Get(), Bytes.constData(), std::size_t(Bytes.size())), 0);
    ASSERT_EQ(Posix::WriteAllAt(File.Get(), "bc", 2, 10), 0);
    // The position stays behind what WriteAll wrote.
    EXPECT_EQ(::lseek(File.Get(), 0, SEEK_CUR), 100000);
  }
  QByteArray Expected(100000, 'a');
  Expected.replace(10, 2, "bc");
  EXPECT_TRUE(Posix::ReadFileAt(AT_FDCWD, Path.constData()) == Expected);
  EXPECT_FALSE(Posix::ReadFileAt(AT_FDCWD, (Path + "-missing").constData()));

  // A file that says it is empty but is not: read to its real end.
  const std::optional<QByteArray> Status = Posix::ReadFileAt(AT_FDCWD, "/proc/self/status");
  ASSERT_TRUE(Status);
  EXPECT_TRUE(Status->startsWith("Name:"));
  EXPECT_TRUE(Status->endsWith('\n'));

  // A link longer than any first guess.
  const QByteArray Target = "/" + QByteArray(1000, 't') + "/end";
  const QByteArray Link = Path + "-link";
  ASSERT_EQ(::symlink(Target.constData(), Link.constData()), 0);
  EXPECT_EQ(Posix::ReadLinkAt(AT_FDCWD, Link.constData()), Target);
  EXPECT_FALSE(Posix::ReadLinkAt(AT_FDCWD, Path.constData()));
}

TEST(Posix, TheProcessWalkFindsEveryProcessWithItsFolder)
{
  const pid_t Child = ::fork();
  ASSERT_GE(Child, 0);
  if (Child == 0) {
    ::pause();
    ::_exit(0);
  }
  bool SawSelf = false, SawChild = false;
  QByteArray OwnStat;
  EXPECT_TRUE(Posix::ForEachProcess([&](const Posix::TProcessFolder& Folder) {
    EXPECT_GT(Folder.Pid(), 0u);
    if (Folder.Pid() == quint32(::getpid())) {
      SawSelf = true;
      OwnStat = Folder.Read("stat");
    }
    SawChild = SawChild || Folder.Pid() == quint32(Child);
  }));
  ::kill(Child, SIGKILL);
  ::waitpid(Child, nullptr, 0);
  EXPECT_TRUE(SawSelf);
  EXPECT_TRUE(SawChild);
  EXPECT_TRUE(OwnStat.startsWith(QByteArray::number(::getpid()) + " ("));

  // A process gone is no folder; the own one reads through its descriptor.
  EXPECT_FALSE(Posix::TProcessFolder::Of(quint32(Child)));
  EXPECT_FALSE(Posix::TProcessFolder::Of(0));
  const auto Own = Posix::TProcessFolder::Of(quint32(::getpid()));
  ASSERT_TRUE(Own);
  EXPECT_EQ(QFile::decodeName(Own->LinkTarget("exe")), QFile::symLinkTarget(QStringLiteral("/proc/self/exe")));
  EXPECT_EQ(Own->LinkTarget("no such link"), QByteArray());
  EXPECT_EQ(Own->Read("no such file"), QByteArray());
}

TEST(Posix, MangledNamesAndOthers)
{
  EXPECT_EQ(Posix::Demangled("_ZN3Foo3BarEv"), QStringLiteral("Foo::Bar()"));
  EXPECT_EQ(Posix::Demangled(typeid(std::runtime_error).name()), QStringLiteral("std::runtime_error"));
  EXPECT_EQ(Posix::Demangled("i"), QStringLiteral("int"));
  EXPECT_EQ(Posix::Demangled("main"), std::nullopt);
  EXPECT_EQ(Posix::Demangled("_Z"), std::nullopt);
}
