// corvane-crash-helper: reports the crash of a program that has an active
// component, from outside that program. The crash handler (platform/
// CrashHandler.h) starts it with its end of a socket at --record-fd; it
// reads the crash record, unwinds the crashed thread through ptrace (or
// takes the handler's own walk where tracing is not permitted), renders
// the frames against the crashed process's modules and answers, so that
// the crashed process may end. Then it runs the report in the package
// library the crashed program used, its own edition, which it has loaded
// meanwhile on a thread of its own: the helper itself links only what the
// unwinding takes, so that it starts at once.
//
// CORVANE_CRASH_NO_TRACE=1 makes it behave as if tracing were not
// permitted (tests of that path on machines that permit it).

#include "package/VesparoCrash.h"
#include "platform/CrashHandler.h"
#include "platform/CrashRecord.h"
#include "platform/CrashUnwind.h"
#include "platform/DebugInfo.h"
#include "platform/Posix.h"
#include "platform/StackTrace.h"
#include "platform/StackTraceRender.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

namespace {

QString NoteOfOwnWalk(const QString& Reason)
{
  return QStringLiteral("(frames of the crashed thread's own walk: %1)").arg(Reason);
}

// Leading frames inside the raise machinery (abort's own, std::terminate's)
// say nothing about the crash; all of them stay when nothing else is left.
void DropMachinery(const CrashRecord::TCrashRecord& Record, std::vector<std::uintptr_t>& Frames)
{
  std::size_t First = 0;
  while (First < Frames.size() && Record.InMachinery(Frames[First] - 1))
    ++First;
  if (First < Frames.size())
    Frames.erase(Frames.begin(), Frames.begin() + std::ptrdiff_t(First));
}

// The crashed thread's frames, as return addresses for the renderer, and
// what the stack section's time line is to say about them.
std::vector<std::uintptr_t> CrashFrames(const CrashRecord::TCrashRecord& Record, QString& Note)
{
  const CrashRecord::THeader& Header = Record.Header;
  if (Header.Kind == CrashRecord::TKind::Terminate) {
    // Where the exception was thrown; its frames are gone by now.
    if (Header.HasException && Header.ThrowCount > 0)
      return Record.ThrowFrames();
    std::vector<std::uintptr_t> Walk = Record.WalkFrames();
    DropMachinery(Record, Walk);
    return Walk;
  }
  std::vector<std::uintptr_t> Frames;
  const char* NoTrace = std::getenv("CORVANE_CRASH_NO_TRACE");
  if (NoTrace && std::strcmp(NoTrace, "1") == 0) {
    Note = NoteOfOwnWalk(CrashUnwind::TracingNotPermitted);
  } else {
    QString Failure;
    Frames = CrashUnwind::UnwindThread(Header.Pid, Header.Tid, Record.Pc(), Failure);
    if (Frames.empty())
      Note = NoteOfOwnWalk(Failure);
  }
  if (Frames.empty()) {
    Frames = Record.WalkFrames();
    // The interrupted instruction itself, in the renderer's return-address form.
    if (!Frames.empty())
      Frames[0] += 1;
  }
  if (Record.SelfSent())
    DropMachinery(Record, Frames);
  return Frames;
}

// The package library, loaded on a thread of its own while the crashed
// thread is unwound.
class TPackageLoad {
public:
  explicit TPackageLoad(const QString& Path) : FPath(QFile::encodeName(Path))
  {
    // Qt's main thread is this one, whatever the library's start-up runs.
    QThread::currentThread();
    try {
      FThread = std::thread([this] { Load(); });
    } catch (const std::system_error&) {
      Load();
    }
  }
  ~TPackageLoad()
  {
    if (FThread.joinable())
      FThread.join();
  }
  TPackageLoad(const TPackageLoad&) = delete;
  TPackageLoad& operator=(const TPackageLoad&) = delete;

  // The library's entry, once it is loaded; null, with the loader's
  // message in Failure, when it cannot be used.
  Vesparo::TCrashReportEntry Entry(QByteArray& Failure)
  {
    if (FThread.joinable())
      FThread.join();
    Failure = FFailure;
    return FEntry;
  }

private:
  void Load()
  {
    // Bound lazily, as the crashed program bound the same library: binding
    // all of it and its dependencies at once takes processor time from the
    // rendering that runs beside it.
    void* Library = ::dlopen(FPath.constData(), RTLD_LAZY | RTLD_LOCAL);
    if (Library)
      FEntry = reinterpret_cast<Vesparo::TCrashReportEntry>(::dlsym(Library, Vesparo::CrashReportEntryName));
    if (!FEntry)
      FFailure = ::dlerror();
  }

  QByteArray FPath;
  std::thread FThread;
  Vesparo::TCrashReportEntry FEntry = nullptr;
  QByteArray FFailure;
};

}  // namespace

int main(int argc, char** argv)
{
  // The crashed process started us with every signal blocked.
  sigset_t None;
  ::sigemptyset(&None);
  ::sigprocmask(SIG_SETMASK, &None, nullptr);
  ::signal(SIGCHLD, SIG_DFL);
  // The crashed process's output may have been a pipe that closed with it:
  // a message on stderr must not end the report.
  ::signal(SIGPIPE, SIG_IGN);

  Posix::TFd Fd;
  for (int I = 1; I + 1 < argc; ++I)
    if (std::strcmp(argv[I], "--record-fd") == 0)
      Fd = Posix::TFd(std::atoi(argv[I + 1]));
  if (!Fd.IsOpen()) {
    std::fprintf(stderr, "usage: corvane-crash-helper --record-fd FD\n"
                         "  started by a crashed program that uses Corvane, with the crash record at FD\n");
    return 2;
  }

  CrashRecord::TCrashRecord Record;
  QString Error;
  if (!CrashRecord::Read(Fd.Get(), Record, CrashHandler::HelperAnswerMs, Error) ||
      !CrashRecord::FromParent(Record, Error)) {
    std::fprintf(stderr, "corvane-crash-helper: no crash record: %s\n", qUtf8Printable(Error));
    return 1;
  }
  // Its threads start before the package starts loading: no thread can
  // start while a library loads.
  DebugInfo::TInflationAhead Ahead(Record.Header.Pid);
  TPackageLoad Package(Record.Prepared.LibraryPath);
  QString Note;
  const std::vector<std::uintptr_t> Frames = CrashFrames(Record, Note);
  // The debug files the frames need are inflated while the frames before
  // them are rendered. The session is closed only when the helper ends:
  // neither the crashed process nor the report waits for that.
  Ahead.Start(Frames);
  StackTrace::Render::TSession Session(Record.Header.Pid);
  QStringList Lines;
  StackTrace::Render::RenderFrames(Session, Frames, Lines, false, true, true, false);
  // All that is needed of the crashed process is read: it may end now.
  CrashRecord::Answer(Fd.Get());
  Fd.Close();

  QByteArray Failure;
  const Vesparo::TCrashReportEntry Entry = Package.Entry(Failure);
  if (!Entry) {
    std::fprintf(stderr, "corvane-crash-helper: %s cannot be used: %s\n", qUtf8Printable(Record.Prepared.LibraryPath),
                 Failure.constData());
    return 1;
  }
  return Entry(argc, argv, Record, Lines, Note);
}
