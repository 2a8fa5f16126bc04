// The hand-off of the report to the viewer program at the end of a run, and
// the package's way of starting command lines: what the started program
// receives, argument by argument.

#include "package/Vesparo.h"
#include "package/Vesparoutil.h"
#include "tests/tools/DemoRun.h"
#include "tests/support/RecordedStarts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

using namespace DemoTests;
using RecordedStarts::Recorder;
using RecordedStarts::RegisterViewer;
using RecordedStarts::WaitForStarts;

namespace {

class HandOff : public ::testing::Test {
protected:
  explicit HandOff(const QString& DataFolderName = QStringLiteral("data home")) : Env(DataFolderName)
  {
    Env.Set("CORVANE_RECORD_FILE", RecordFile());
  }

  QString RecordFile() const { return Env.Root() + QStringLiteral("/starts.rec"); }

  // The one argument the viewer must get for the demo's report.
  QString EncodedDemoReport() const { return RecordedStarts::ViewerArgument(ReportOf(Env)); }

  TDemoResult Demo(const QStringList& Arguments) const
  {
    const TDemoResult Run = RunDemo(Env, Arguments, QStringLiteral("offscreen"));
    EXPECT_TRUE(Run.Finished);
    EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
    return Run;
  }

  TestSupport::TTempEnvironment Env;
};

class HandOffOddPath : public HandOff {
protected:
  // Blanks, a caret, quotes and what a shell would act upon.
  HandOffOddPath() : HandOff(QStringLiteral("it's \"odd\" ^x; $(touch pwned) `touch pwned2` & b|c")) {}
};

}  // namespace

TEST_F(HandOff, TheDemoStartsTheViewerOnceWithTheEncodedReportPath)
{
  RegisterViewer(Recorder);
  Demo({"--raise", "hand me over", "--unattended"});
  const QList<QStringList> Starts = WaitForStarts(RecordFile(), 1);
  EXPECT_EQ(Starts, QList<QStringList>{{EncodedDemoReport()}});
  EXPECT_TRUE(EncodedDemoReport().contains(QStringLiteral("/data^home/Corvane^1.1/vesparo-demo_halvern")));
}

TEST_F(HandOff, TwoExceptionsStillStartTheViewerOnce)
{
  RegisterViewer(Recorder);
  Demo({"--raise", "first", "--raise-twice", "--unattended"});
  EXPECT_EQ(WaitForStarts(RecordFile(), 1), QList<QStringList>{{EncodedDemoReport()}});
}

TEST_F(HandOff, NoReportedExceptionNoViewer)
{
  RegisterViewer(Recorder);
  Demo({"--unattended"});
  Demo({"--inactive", "--raise", "not reported", "--unattended"});
  EXPECT_EQ(WaitForStarts(RecordFile(), 0), QList<QStringList>{});
}

TEST_F(HandOffOddPath, CaretsQuotesAndShellCharactersArriveAsPlainText)
{
  RegisterViewer(Recorder);
  Demo({"--raise", "odd", "--unattended"});
  EXPECT_EQ(WaitForStarts(RecordFile(), 1), QList<QStringList>{{EncodedDemoReport()}});
  // A "^" that was there stays; nothing ran what the path spells.
  EXPECT_TRUE(EncodedDemoReport().contains(QStringLiteral("/it's^\"odd\"^^x;^$(touch^pwned)^`touch^pwned2`^&^b|c/")));
  for (const QString& Folder : {Env.Root(), Env.DataHome(), QDir::currentPath()}) {
    EXPECT_FALSE(QFileInfo::exists(Folder + QStringLiteral("/pwned")));
    EXPECT_FALSE(QFileInfo::exists(Folder + QStringLiteral("/pwned2")));
  }
}

TEST_F(HandOff, InProcessWithTheDataFolderCreatedOnTheWay)
{
  RegisterViewer(Recorder);
  Vesparo::HandOffReportToViewer();
  QString Expected = Vesparoutil::FullHmldFilePath();
  Expected.replace(QLatin1Char(' '), QLatin1Char('^'));
  EXPECT_EQ(WaitForStarts(RecordFile(), 1), QList<QStringList>{{Expected}});
  EXPECT_TRUE(QFileInfo(Env.DataFolder()).isDir());
}

TEST_F(HandOff, NoViewerOrABrokenStoreStartsNothingAndRaisesNothing)
{
  EXPECT_NO_THROW(Vesparo::HandOffReportToViewer());  // nothing registered
  RegisterViewer(QStringLiteral("42"), QStringLiteral("REG_DWORD"));
  EXPECT_NO_THROW(Vesparo::HandOffReportToViewer());  // a value of the wrong type
  RegisterViewer(Env.Root() + QStringLiteral("/no such viewer"));
  EXPECT_NO_THROW(Vesparo::HandOffReportToViewer());
  TestSupport::WriteAll(Env.ConfigHome() + QStringLiteral("/Corvane/registry/user.reg"), "not a registry file");
  EXPECT_NO_THROW(Vesparo::HandOffReportToViewer());
  EXPECT_EQ(WaitForStarts(RecordFile(), 0), QList<QStringList>{});
}

TEST_F(HandOff, ARelativeViewerPathStartsNothingAndIsLogged)
{
  // What a relative path would start: a program of that name in the folder
  // the application ends in.
  ASSERT_TRUE(QFile::link(Recorder, Env.Root() + QStringLiteral("/viewer")));
  const QString Folder = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(Env.Root()));
  static QStringList Warnings;
  Warnings.clear();
  const QtMessageHandler Previous =
    qInstallMessageHandler([](QtMsgType Type, const QMessageLogContext&, const QString& Text) {
      if (Type == QtWarningMsg)
        Warnings << Text;
    });
  for (const QString& Relative : {QStringLiteral("viewer"), QStringLiteral("./viewer")}) {
    RegisterViewer(Relative);
    Vesparo::HandOffReportToViewer();
  }
  qInstallMessageHandler(Previous);
  QDir::setCurrent(Folder);
  EXPECT_EQ(WaitForStarts(RecordFile(), 0), QList<QStringList>{});
  EXPECT_EQ(Warnings, QStringList({QStringLiteral("Corvane: the report viewer is not started: Installation_path "
                                                  "\"viewer\" is not an absolute path"),
                                   QStringLiteral("Corvane: the report viewer is not started: Installation_path "
                                                  "\"./viewer\" is not an absolute path")}));
  EXPECT_TRUE(QFileInfo(Env.DataFolder()).isDir());  // the data folder is still made

  RegisterViewer(Env.Root() + QStringLiteral("/viewer"));
  Vesparo::HandOffReportToViewer();
  EXPECT_EQ(WaitForStarts(RecordFile(), 1).size(), 1);
}

TEST_F(HandOff, ExecNewProcessSplitsByQuotesAndNeverUsesAShell)
{
  const QString Root = Env.Root();
  Vesparoutil::ExecNewProcess(QStringLiteral("\"%1\" \"two words\" plain ;touch$IFS%2/pwned $(touch %2/pwned2)")
                                .arg(Recorder, Root));
  EXPECT_EQ(WaitForStarts(RecordFile(), 1),
            (QList<QStringList>{{QStringLiteral("two words"), QStringLiteral("plain"),
                                 QStringLiteral(";touch$IFS%1/pwned").arg(Root), QStringLiteral("$(touch"),
                                 QStringLiteral("%1/pwned2)").arg(Root)}}));
  EXPECT_FALSE(QFileInfo::exists(Root + QStringLiteral("/pwned")));
  EXPECT_FALSE(QFileInfo::exists(Root + QStringLiteral("/pwned2")));

  // Nothing to start, or nothing there: no failure comes back.
  EXPECT_NO_THROW(Vesparoutil::ExecNewProcess(QString()));
  EXPECT_NO_THROW(Vesparoutil::ExecNewProcess(Root + QStringLiteral("/missing program")));
}
