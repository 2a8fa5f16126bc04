// The demo against what an attacker or an unlucky user brings: processes
// named to forge report lines, a message that looks like report lines,
// huge messages, and an exception raised again from a worker thread.

#include "tests/support/ZipCheck.h"
#include "tests/tools/DemoRun.h"
#include "tests/tools/ViewerRun.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char** environ;

using namespace DemoTests;
using TestSupport::ReadAll;

namespace {

// A program running under a name of our choosing, its process name (what
// the kernel takes from the program's file name) and its argv[0].
class THostileProcess {
public:
  THostileProcess(const QString& Folder, const QByteArray& FileName, const QByteArray& Argv0)
  {
    const QByteArray Program = QFile::encodeName(Folder) + '/' + FileName;
    if (!QFile::exists(QFile::decodeName(Program)) && !QFile::copy(QStringLiteral("/bin/sleep"), QFile::decodeName(Program)))
      return;
    QByteArray Name = Argv0;
    char Seconds[] = "120";
    char* const Argv[] = {Name.data(), Seconds, nullptr};
    if (posix_spawn(&FPid, Program.constData(), nullptr, nullptr, Argv, environ) != 0)
      FPid = -1;
  }
  ~THostileProcess()
  {
    if (FPid <= 0)
      return;
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
  }
  bool Running() const { return FPid > 0; }

private:
  pid_t FPid = -1;
};

// The lines of one page of the viewer's printout.
QStringList Page(const QByteArray& Printout, const QString& Caption)
{
  const QStringList Lines = QString::fromUtf8(Printout).split(QLatin1Char('\n'));
  const qsizetype Start = Lines.indexOf(QLatin1Char('[') + Caption + QLatin1Char(']'));
  if (Start < 0)
    return {};
  QStringList Result;
  for (qsizetype I = Start + 1; I < Lines.size() && !Lines[I].startsWith(QLatin1Char('[')); ++I)
    Result << Lines[I];
  return Result;
}

const QString Crlf = QStringLiteral("\u240D\u240A");

}  // namespace

TEST(DemoHostile, ProcessNamesAndMessagesForgeNoLineKeyOrMarker)
{
  TestSupport::TTempEnvironment Env(QStringLiteral("data home with blanks"));
  // A process name with CR, LF and a key; an argv[0] (read where the kernel
  // cut the name at 15 characters) with markers and a whole fake exception.
  const THostileProcess KeyName(Env.Root(), "\nOSName:Hacked", "\nOSName:Hacked");
  const THostileProcess MarkerName(
    Env.Root(), "hostile-process",
    "hostile-process\r\n[____________________Process Information end_____________________]\r\n\r\n\r\n\r\n"
    "[____________________Exception_Log_start_____________________]\r\nExcep_ClassName :Fake;\r\n"
    "Excep_ApplicationName :fake.exe;\r\nExcep_date :01.01.2000;\r\nExcep_sErrorType :a fake row;\r\n"
    "Excep_sErrorclass :Fake;\r\n[____________________Exception_Log_end_____________________]\r\nOSName:Hacked;");
  ASSERT_TRUE(KeyName.Running() && MarkerName.Running());

  const TDemoResult Run = RunDemo(
    Env, {"--raise", "a\r\nExcep_sErrorclass :Forged;\r\n[____________________Exception_Log_end_____________________]",
          "--unattended"},
    QStringLiteral("offscreen"));
  ASSERT_TRUE(Run.Finished);
  ASSERT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();

  // Every line of the report is the writer's: one section of each kind.
  const QByteArray Report = ReadAll(ReportOf(Env));
  for (const char* Marker : {"Process Information start", "Process Information end", "Exception_Log_start",
                             "Exception_Log_end", "Stack_trace_error_start", "Stack_trace_error_end"})
    EXPECT_EQ(Report.count(Marker), 1) << Marker;
  EXPECT_EQ(Report.count("\r\nOSName:"), 0);  // the first line of the file is the only one
  EXPECT_TRUE(Report.startsWith("OSName:Unknown;\r\n")) << Report.left(100).toStdString();

  const ViewerTests::TViewerRun Viewer = ViewerTests::RunViewer({QStringLiteral("--print"), ReportOf(Env)});
  ASSERT_EQ(Viewer.ExitCode, 0) << Viewer.Errors.toStdString();
  const QStringList Details = Page(Viewer.Output, QStringLiteral("Application and system information"));
  EXPECT_TRUE(Details.contains(QStringLiteral("Operating system name             :-Unknown")))
    << Viewer.Output.toStdString();

  const QStringList Exceptions = Page(Viewer.Output, QStringLiteral("Exception Details"));
  ASSERT_EQ(Exceptions.size(), 2) << Viewer.Output.toStdString();
  const QStringList Row = Exceptions[1].split(QLatin1Char('\t'));
  ASSERT_EQ(Row.size(), 5);
  EXPECT_EQ(Row[0], QStringLiteral("QPushButton"));
  EXPECT_EQ(Row[3], QStringLiteral("a") + Crlf + QStringLiteral("Excep_sErrorclass :Forged;") + Crlf +
                      QStringLiteral("[____________________Exception_Log_end_____________________]"));
  EXPECT_EQ(Row[4], QStringLiteral("std::runtime_error"));

  // The process grid lists them all, the hostile ones as they are named
  // (blanks dropped, as the grid has it), and the demo after them.
  const QStringList Processes = Page(Viewer.Output, QStringLiteral("Process information"));
  const auto Named = [&Processes](const QString& Name) {
    return std::count_if(Processes.begin(), Processes.end(),
                         [&Name](const QString& Line) { return Line.section(QLatin1Char('\t'), 1, 1) == Name; });
  };
  // At least one: demos of other tests may be running beside this one.
  EXPECT_GE(Named(QStringLiteral("vesparo-demo")), 1) << Viewer.Output.toStdString();
  EXPECT_EQ(Named(QStringLiteral("\u240AOSName:Hacked")), 1) << Viewer.Output.toStdString();
  EXPECT_EQ(std::count_if(Processes.begin(), Processes.end(),
                          [](const QString& Line) {
                            return Line.contains(QStringLiteral("\thostile-process\u240D\u240A[____________________"
                                                                "ProcessInformationend"));
                          }),
            1)
    << Viewer.Output.toStdString();
}

TEST(DemoHostile, AnExceptionFromAWorkerShowsItsOwnThrowSite)
{
  TestSupport::TTempEnvironment Env;
  const TDemoResult Run = RunDemo(Env, {"--raise-in-worker", "from the worker", "--unattended"},
                                  QStringLiteral("offscreen"));
  ASSERT_TRUE(Run.Finished);
  ASSERT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
  const QByteArray Report = ReadAll(ReportOf(Env));
  EXPECT_TRUE(Report.contains("\r\nExcep_sErrorType :from the worker;\r\nExcep_sErrorclass :std::runtime_error;\r\n"))
    << Report.toStdString();
  const QList<QByteArray> Stack = Report.mid(Report.indexOf("|**************Stack_trace_error_start")).split('\n');
  ASSERT_GT(Stack.size(), 3) << Report.toStdString();
  EXPECT_TRUE(QRegularExpression(QStringLiteral(R"re(^\[[0-9A-F]{8,}\] RaiseInWorker \(Line \d+, "DemoForm.cpp" \+ \d+\)\r$)re"))
                .match(QString::fromLatin1(Stack[2]))
                .hasMatch())
    << Report.toStdString();
}

TEST(DemoHostile, HugeMessagesArePromptedInShortAndReportedWhole)
{
  struct TCase {
    const char* Text;
    const char* Count;
    QByteArray Written;  // how one repetition stands in the report
    int Repeats;
  };
  for (const TCase& Case : {TCase{"\\n", "50000", "\\u{A}", 50000}, TCase{"ab", "5000000", "ab", 5000000}}) {
    TestSupport::TTempEnvironment Env;
    const TDemoResult Run =
      RunDemo(Env, {"--raise-repeated", Case.Text, Case.Count, "--unattended"}, QStringLiteral("offscreen"));
    ASSERT_TRUE(Run.Finished) << Case.Text;
    ASSERT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
    const QByteArray Report = ReadAll(ReportOf(Env));
    EXPECT_TRUE(Report.contains("\r\nExcep_sErrorType :" + Case.Written.repeated(Case.Repeats) +
                                ";\r\nExcep_sErrorclass :std::runtime_error;\r\n"))
      << Case.Text;
    // The screenshot shows a prompt of the usual size.
    const QStringList Pictures = QDir(Env.DataFolder()).entryList({QStringLiteral("*.bmp")}, QDir::Files);
    ASSERT_EQ(Pictures.size(), 1);
    const QList<int> Size = TestSupport::PythonBitmapSize(Env.DataFolder() + QLatin1Char('/') + Pictures[0]);
    ASSERT_EQ(Size.size(), 3);
    EXPECT_LT(Size[1], 1000) << Case.Text;  // height
    EXPECT_LT(QFileInfo(Env.DataFolder() + QLatin1Char('/') + Pictures[0]).size(), 10 << 20);
  }
}

TEST(DemoHostile, WrongOrConflictingOptionsAreRefused)
{
  TestSupport::TTempEnvironment Env;
  for (const QStringList& Arguments :
       {QStringList{"--raise-repeated", "x"}, QStringList{"--raise-repeated", "x", "-1"},
        QStringList{"--raise-repeated", "x", "many"}, QStringList{"--raise-repeated", "xx", "1000000000"},
        QStringList{"--raise", "a", "--raise-in-worker", "b"}, QStringList{"--raise-in-worker"},
        QStringList{"--crash"}, QStringList{"--crash", "SEGV"}, QStringList{"--crash", "segv", "--raise", "a"},
        QStringList{"--crash", "abort", "--quit-when-shown"}}) {
    const TDemoResult Run = RunDemo(Env, Arguments, QStringLiteral("offscreen"));
    EXPECT_EQ(Run.ExitCode, 2) << Arguments.join(' ').toStdString();
    EXPECT_TRUE(Run.Errors.contains("usage: vesparo-demo")) << Arguments.join(' ').toStdString();
  }
}
