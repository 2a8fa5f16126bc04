// Crashes of the demo: each kind ends the program by its signal and leaves
// a full report (exception and stack sections, archive, copy, one start of
// the viewer); without a helper, or with one that never answers, the
// program still ends by its signal within the time limit. A report file
// that is a link keeps its target whole; a record that did not come from
// the crashed process itself is refused by the helper.

#include "tests/tools/DemoRun.h"
#include "platform/CrashRecord.h"
#include "tests/support/RecordedStarts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

#include <signal.h>
#include <unistd.h>

using namespace DemoTests;
using RecordedStarts::Recorder;
using RecordedStarts::RegisterViewer;
using RecordedStarts::WaitForStarts;
using TestSupport::ReadAll;

namespace {

struct TCrashKind {
  const char* Name;
  int Signal;
  const char* ErrorClass;
  const char* ErrorType;  // a part of it
  const char* Function;   // of the first frame
};

const TCrashKind Kinds[] = {
  {"segv", SIGSEGV, "SIGSEGV", "Access violation (SIGSEGV) at address 0000000000000010 reading", "CrashBySegv"},
  {"abort", SIGABRT, "SIGABRT", "Abnormal termination (SIGABRT)", "CrashByAbort"},
  {"fpe", SIGFPE, "SIGFPE", "Integer division by zero (SIGFPE) at address ", "CrashByFpe"},
  {"stack-overflow", SIGSEGV, "SIGSEGV", "Stack overflow (SIGSEGV) at address ", "CrashByStackOverflow"},
  {"terminate", SIGABRT, "std::runtime_error", "worker failed", "CrashByTerminate"},
  {"qthread", SIGABRT, "std::runtime_error", "QThread::run failed", "CrashByQThread"},
};

struct TCrashRun {
  bool Finished = false;
  bool Crashed = false;
  int Signal = 0;  // what ended it, where it crashed
  qint64 ElapsedMs = 0;
  QByteArray Errors;
};

class DemoCrash : public ::testing::Test {
protected:
  DemoCrash() { Env.Set("CORVANE_RECORD_FILE", RecordFile()); }

  QString RecordFile() const { return Env.Root() + QStringLiteral("/starts.rec"); }
  QString EncodedReport() const { return RecordedStarts::ViewerArgument(ReportOf(Env)); }

  // Output, when given, takes the demo's (and so the helper's) standard output.
  TCrashRun Crash(const QStringList& Arguments, const QString& Output = QString())
  {
    QProcess Demo;
    if (!Output.isEmpty())
      Demo.setStandardOutputFile(Output);
    QElapsedTimer Timer;
    Timer.start();
    StartDemo(Demo, Env, Arguments, QStringLiteral("offscreen"));
    TCrashRun Run;
    Run.Finished = Demo.waitForFinished(60000);
    Run.ElapsedMs = Timer.elapsed();
    if (!Run.Finished)
      Demo.kill();
    Demo.waitForFinished();
    // QProcess gives the signal of a program that a signal ended as its exit code.
    Run.Crashed = Demo.exitStatus() == QProcess::CrashExit;
    Run.Signal = Run.Crashed ? Demo.exitCode() : 0;
    Run.Errors = Demo.readAllStandardError();
    return Run;
  }

  QStringList Files(const QString& Folder, const QString& Pattern) const
  {
    return QDir(Folder).entryList({Pattern}, QDir::Files);
  }

  // The stack section's time line and its first frame line.
  static std::pair<QString, QString> StackStart(const QString& Report)
  {
    const QStringList Lines = Report.split(QStringLiteral("\r\n"));
    const qsizetype Start = Lines.indexOf(QStringLiteral("|**************Stack_trace_error_start**************|"));
    if (Start < 0 || Start + 2 >= Lines.size())
      return {};
    return {Lines[Start + 1], Lines[Start + 2]};
  }

  TestSupport::TTempEnvironment Env;
};

// Whether process Pid has a handler for Signal (the demo's component has
// loaded and armed the crash handlers), waiting at most 20 s.
bool WaitForHandler(qint64 Pid, int Signal)
{
  QElapsedTimer Timer;
  Timer.start();
  do {
    for (const QByteArray& Line : ReadAll(QStringLiteral("/proc/%1/status").arg(Pid)).split('\n'))
      if (Line.startsWith("SigCgt:") && (Line.mid(7).trimmed().toULongLong(nullptr, 16) >> (Signal - 1)) & 1)
        return true;
    QThread::msleep(20);
  } while (Timer.elapsed() < 20000);
  return false;
}

// Waits until File holds Text (the helper goes on after the crashed
// program has ended), at most 20 s.
bool WaitForText(const QString& File, const QByteArray& Text)
{
  QElapsedTimer Timer;
  Timer.start();
  while (!ReadAll(File).contains(Text) && Timer.elapsed() < 20000)
    QThread::msleep(50);
  return ReadAll(File).contains(Text);
}

// The package libraries of the build, without the helper beside them: the
// demo, led to them by LD_LIBRARY_PATH, finds no helper where they lie.
class DemoCrashWithoutHelper : public DemoCrash {
protected:
  DemoCrashWithoutHelper()
  {
    QDir().mkpath(LibraryFolder());
    for (const QString& Name : QDir(QStringLiteral(CORVANE_LIB_DIR)).entryList({QStringLiteral("lib*.so.*")}, QDir::Files))
      QFile::copy(QStringLiteral(CORVANE_LIB_DIR "/") + Name, LibraryFolder() + Name);
    Env.Set("LD_LIBRARY_PATH", LibraryFolder());
  }
  QString LibraryFolder() const { return Env.Root() + QStringLiteral("/lib/"); }
};

}  // namespace

TEST_F(DemoCrash, EveryKindEndsByItsSignalWithAFullReport)
{
  RegisterViewer(Recorder);
  for (const TCrashKind& Kind : Kinds) {
    SCOPED_TRACE(Kind.Name);
    QFile::remove(RecordFile());
    QDir(Env.DataFolder()).removeRecursively();
    QDir(BugReportFolderOf(Env)).removeRecursively();

    const TCrashRun Run = Crash({QStringLiteral("--crash"), QString::fromLatin1(Kind.Name), QStringLiteral("--unattended")});
    ASSERT_TRUE(Run.Finished);
    EXPECT_TRUE(Run.Crashed) << Run.Errors.toStdString();
    EXPECT_EQ(Run.Signal, Kind.Signal);

    // The helper ends with the hand-off: once the viewer was started, all is there.
    EXPECT_EQ(WaitForStarts(RecordFile(), 1), QList<QStringList>{{EncodedReport()}});
    const QString Report = QString::fromLatin1(ReadAll(ReportOf(Env)));
    EXPECT_TRUE(Report.contains(QStringLiteral("Excep_sErrorclass :%1;").arg(QLatin1String(Kind.ErrorClass))))
      << Report.toStdString();
    EXPECT_TRUE(Report.contains(QStringLiteral("Excep_sErrorType :") + QLatin1String(Kind.ErrorType)))
      << Report.toStdString();
    const QString FirstFrame = StackStart(Report).second;
    EXPECT_TRUE(FirstFrame.contains(QLatin1String(Kind.Function)) && FirstFrame.contains(QStringLiteral("\"DemoForm.cpp\"")))
      << FirstFrame.toStdString();
    EXPECT_EQ(Files(Env.DataFolder(), QStringLiteral("bugReport*.zip")).size(), 1);
    EXPECT_EQ(Files(BugReportFolderOf(Env), QStringLiteral("bugReport_*.zip")).size(), 1);
  }
}

TEST_F(DemoCrash, WithoutTracingTheHandlersOwnWalkIsReportedAndSaidSo)
{
  Env.Set("CORVANE_CRASH_NO_TRACE", QStringLiteral("1"));
  RegisterViewer(Recorder);
  const TCrashRun Run = Crash({QStringLiteral("--crash"), QStringLiteral("segv"), QStringLiteral("--unattended")});
  EXPECT_EQ(Run.Signal, SIGSEGV);
  ASSERT_EQ(WaitForStarts(RecordFile(), 1).size(), 1);
  const auto [TimeLine, FirstFrame] = StackStart(QString::fromLatin1(ReadAll(ReportOf(Env))));
  EXPECT_TRUE(TimeLine.contains(QStringLiteral("own walk: tracing the process was not permitted"))) << TimeLine.toStdString();
  EXPECT_TRUE(FirstFrame.contains(QStringLiteral("CrashBySegv"))) << FirstFrame.toStdString();
}

TEST_F(DemoCrash, AnInactiveComponentReportsNothing)
{
  RegisterViewer(Recorder);
  const TCrashRun Run =
    Crash({QStringLiteral("--crash"), QStringLiteral("segv"), QStringLiteral("--inactive"), QStringLiteral("--unattended")});
  EXPECT_EQ(Run.Signal, SIGSEGV);
  EXPECT_TRUE(WaitForStarts(RecordFile(), 0).isEmpty());
  EXPECT_FALSE(QFile::exists(ReportOf(Env)));
}

// A signal another process sends: the report names the sender, and its
// stack is where the GUI thread was (waiting in its event loop), not where
// the handler waits for the helper, though both wait in poll().
TEST_F(DemoCrash, SignalsSentFromOutsideAreReportedWhereTheThreadWas)
{
  RegisterViewer(Recorder);
  for (const int Signal : {SIGSEGV, SIGABRT}) {
    SCOPED_TRACE(Signal);
    QFile::remove(RecordFile());
    QDir(Env.DataFolder()).removeRecursively();
    QProcess Demo;
    StartDemo(Demo, Env, {QStringLiteral("--crash"), QStringLiteral("external"), QStringLiteral("--unattended")},
              QStringLiteral("offscreen"));
    ASSERT_TRUE(WaitForHandler(Demo.processId(), Signal));
    ::kill(pid_t(Demo.processId()), Signal);
    ASSERT_TRUE(Demo.waitForFinished(60000));
    EXPECT_EQ(Demo.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(Demo.exitCode(), Signal);

    ASSERT_EQ(WaitForStarts(RecordFile(), 1).size(), 1);
    const QString Report = QString::fromLatin1(ReadAll(ReportOf(Env)));
    EXPECT_TRUE(Report.contains(QStringLiteral("(%1) sent by process %2;").arg(Signal == SIGSEGV ? "SIGSEGV" : "SIGABRT").arg(getpid())))
      << Report.toStdString();
    const QString Stack = Report.section(QStringLiteral("Stack_trace_error_start"), 1).section(QStringLiteral("Stack_trace_error_end"), 0, 0);
    EXPECT_FALSE(Stack.contains(QStringLiteral("CrashHandler.cpp"))) << Stack.toStdString();
    EXPECT_TRUE(Stack.contains(QStringLiteral("QCoreApplication::exec"))) << Stack.toStdString();
  }
}

TEST_F(DemoCrash, AReportFileThatIsALinkKeepsItsTargetWhole)
{
  RegisterViewer(Recorder);
  QDir().mkpath(Env.DataFolder());
  const QString Target = Env.Root() + QStringLiteral("/someone else's file");
  TestSupport::WriteAll(Target, "kept whole\n");
  ASSERT_TRUE(QFile::link(Target, ReportOf(Env)));
  const QString Output = Env.Root() + QStringLiteral("/output.txt");
  const TCrashRun Run = Crash({QStringLiteral("--crash"), QStringLiteral("segv"), QStringLiteral("--unattended")}, Output);
  EXPECT_EQ(Run.Signal, SIGSEGV);
  // The helper tells why there is no report, in the box the user answers.
  EXPECT_TRUE(WaitForText(Output, "is a symbolic link; it is left as it is")) << ReadAll(Output).toStdString();
  EXPECT_EQ(ReadAll(Target), "kept whole\n");
  EXPECT_TRUE(QFileInfo(ReportOf(Env)).isSymLink());
  EXPECT_TRUE(WaitForStarts(RecordFile(), 0).isEmpty());
  EXPECT_TRUE(Files(Env.DataFolder(), QStringLiteral("bugReport*.zip")).isEmpty());
}

// Only the crashed process itself, the helper's parent, hands it a record: one
// naming another process would have that process traced and a report
// written, and a library of the record's choosing loaded.
TEST(CrashHelper, ARecordNamingAnotherProcessIsRefused)
{
  TestSupport::TTempEnvironment Env;
  QProcess Victim;
  Victim.start(QStringLiteral("sleep"), {QStringLiteral("30")});
  ASSERT_TRUE(Victim.waitForStarted());
  const QByteArray Block = CrashRecord::PreparedBlock(
    {QStringLiteral("/opt/victim/prog"), QStringLiteral(CORVANE_LIB_DIR "/libCVVesparoDXE3.so"), QByteArray()});
  CrashRecord::THeader Header;
  Header.Magic = CrashRecord::Magic;
  Header.Size = sizeof Header;
  Header.Pid = Header.Tid = int(Victim.processId());
  Header.Signal = SIGSEGV;
  Header.PreparedSize = std::uint64_t(Block.size());

  QProcess Helper;
  QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
  Environment.insert(QStringLiteral("XDG_DATA_HOME"), Env.DataHome());
  Environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  Helper.setProcessEnvironment(Environment);
  Helper.start(QStringLiteral(CORVANE_LIB_DIR "/corvane-crash-helper"), {QStringLiteral("--record-fd"), QStringLiteral("0")});
  ASSERT_TRUE(Helper.waitForStarted());
  Helper.write(QByteArray(reinterpret_cast<const char*>(&Header), sizeof Header) + Block);
  Helper.closeWriteChannel();
  ASSERT_TRUE(Helper.waitForFinished(20000));
  Victim.kill();
  Victim.waitForFinished();
  EXPECT_EQ(Helper.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(Helper.exitCode(), 1);
  EXPECT_TRUE(Helper.readAllStandardError().contains("the record names process"));
  EXPECT_FALSE(QFileInfo::exists(Env.DataFolder()));
}

TEST_F(DemoCrashWithoutHelper, TheProgramStillEndsByItsSignalAtOnce)
{
  ASSERT_FALSE(QFile::exists(LibraryFolder() + QStringLiteral("corvane-crash-helper")));
  for (const char* Kind : {"segv", "terminate"}) {
    SCOPED_TRACE(Kind);
    const TCrashRun Run = Crash({QStringLiteral("--crash"), QString::fromLatin1(Kind), QStringLiteral("--unattended")});
    ASSERT_TRUE(Run.Finished);
    EXPECT_EQ(Run.Signal, QByteArray(Kind) == "segv" ? SIGSEGV : SIGABRT);
    EXPECT_LT(Run.ElapsedMs, 10000);
  }
  EXPECT_TRUE(Files(Env.DataFolder(), QStringLiteral("bugReport*.zip")).isEmpty());
}

TEST_F(DemoCrashWithoutHelper, AHelperThatNeverAnswersIsGivenUpAfterTheTimeLimit)
{
  // Reads the whole record, then keeps silent until the crashed process is gone.
  const QString Helper = LibraryFolder() + QStringLiteral("corvane-crash-helper");
  TestSupport::WriteAll(Helper, "#!/bin/sh\n# --record-fd N\neval \"exec cat <&$2 >/dev/null\"\n");
  QFile::setPermissions(Helper, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  const TCrashRun Run = Crash({QStringLiteral("--crash"), QStringLiteral("segv"), QStringLiteral("--unattended")});
  ASSERT_TRUE(Run.Finished);
  EXPECT_EQ(Run.Signal, SIGSEGV);
  EXPECT_GE(Run.ElapsedMs, 9000);
  EXPECT_LT(Run.ElapsedMs, 20000);
}
