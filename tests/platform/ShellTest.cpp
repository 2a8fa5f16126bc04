#include "platform/Shell.h"

#include "tests/support/TempEnvironment.h"
#include "tests/support/RecordedStarts.h"

#include <QCoreApplication>
#include <QFile>

#include <gtest/gtest.h>

using namespace Shell;
using RecordedStarts::Recorder;
using RecordedStarts::WaitForStarts;

namespace {
class ShellOpen : public ::testing::Test {
protected:
  ShellOpen() { Env.Set("CORVANE_RECORD_FILE", RecordFile()); }
  QString RecordFile() const { return Env.Root() + QStringLiteral("/starts.rec"); }
  TestSupport::TTempEnvironment Env;
};
}  // namespace

TEST_F(ShellOpen, AnExecutableGetsTheParametersAsItsOneArgument)
{
  const QString Parameters = QStringLiteral("a b \"c\" ; $(touch %1/pwned) 'd'").arg(Env.Root());
  EXPECT_GT(ShellExecute(nullptr, QStringLiteral("open"), Recorder, Parameters, QString(), SW_SHOWNORMAL), 32);
  EXPECT_GT(ShellExecute(nullptr, QString(), Recorder, QString(), QString(), SW_SHOWNORMAL), 32);
  const QList<QStringList> Starts = WaitForStarts(RecordFile(), 2);
  EXPECT_EQ(Starts.size(), 2);
  EXPECT_TRUE(Starts.contains(QStringList{Parameters}));
  EXPECT_TRUE(Starts.contains(QStringList{}));  // no parameters, no argument
  EXPECT_FALSE(QFile::exists(Env.Root() + QStringLiteral("/pwned")));
}

TEST_F(ShellOpen, ABatchFileRunsInTheGivenFolder)
{
  const QString Batch = Env.Root() + QStringLiteral("/start viewer.bat");
  TestSupport::WriteAll(Batch, ("exec '" + Recorder + "' \"$1\" \"$(pwd)\"\n").toLocal8Bit());
  EXPECT_GT(
    ShellExecute(nullptr, QStringLiteral("open"), Batch, QStringLiteral("x y"), Env.DataHome(), SW_SHOWNORMAL), 32);
  EXPECT_EQ(WaitForStarts(RecordFile(), 1), (QList<QStringList>{{QStringLiteral("x y"), Env.DataHome()}}));
}

TEST_F(ShellOpen, NothingToOpenStartsNothing)
{
  EXPECT_EQ(ShellExecute(nullptr, QStringLiteral("open"), QString(), QStringLiteral("x"), QString(), SW_SHOWNORMAL),
            SE_ERR_FNF);
  EXPECT_EQ(ShellExecute(nullptr, QStringLiteral("open"), Env.Root() + QStringLiteral("/missing"), QString(), QString(),
                         SW_SHOWNORMAL),
            SE_ERR_FNF);
  EXPECT_LE(ShellExecute(nullptr, QStringLiteral("print"), Recorder, QString(), QString(), SW_SHOWNORMAL), 32);
  EXPECT_EQ(WaitForStarts(RecordFile(), 0), QList<QStringList>{});
}

TEST_F(ShellOpen, ABatchLineEndedByCrLfRunsAsWritten)
{
  // The last argument, quoted or not, must arrive without the CR; a CR
  // inside a line is left alone.
  const QString Batch = Env.Root() + QStringLiteral("/build.bat");
  TestSupport::WriteAll(Batch, ("\"" + Recorder + "\" -b \"a\rb\" last\r\n\"" + Recorder + "\" \"quoted\"\r\n\"" +
                                Recorder + "\" no-newline\r")
                                 .toLocal8Bit());
  EXPECT_GT(ShellExecute(nullptr, QStringLiteral("open"), Batch, QString(), Env.Root(), SW_SHOWNORMAL), 32);
  const QList<QStringList> Starts = WaitForStarts(RecordFile(), 3);
  EXPECT_EQ(Starts.size(), 3);
  EXPECT_TRUE(Starts.contains(QStringList{QStringLiteral("-b"), QStringLiteral("a\rb"), QStringLiteral("last")}));
  EXPECT_TRUE(Starts.contains(QStringList{QStringLiteral("quoted")}));
  EXPECT_TRUE(Starts.contains(QStringList{QStringLiteral("no-newline")}));
}

TEST_F(ShellOpen, ABatchFileThatCannotBeHandedOverIsNotRun)
{
  const QString Huge = Env.Root() + QStringLiteral("/huge.bat");
  TestSupport::WriteAll(Huge, "\"" + Recorder.toLocal8Bit() + "\" huge\r\n" + QByteArray(200 * 1024, '#'));
  const QString Binary = Env.Root() + QStringLiteral("/binary.bat");
  TestSupport::WriteAll(Binary, "\"" + Recorder.toLocal8Bit() + "\" binary\r\n" + QByteArray("x\0y", 3));
  EXPECT_LE(ShellExecute(nullptr, QStringLiteral("open"), Huge, QString(), Env.Root(), SW_SHOWNORMAL), 32);
  EXPECT_LE(ShellExecute(nullptr, QStringLiteral("open"), Binary, QString(), Env.Root(), SW_SHOWNORMAL), 32);
  EXPECT_EQ(WaitForStarts(RecordFile(), 0), QList<QStringList>{});
}
