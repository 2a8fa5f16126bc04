// The demo mailing its report, one mail per recipient, to a real SMTP server
// on a loopback port configured through corvane-reg.

#include "platform/AnsiCodePage.h"
#include "tests/support/SmtpServer.h"
#include "tests/tools/DemoRun.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace DemoTests;

namespace {

const QString CrLf = QStringLiteral("\r\n");

QString Text(const QJsonValue& Value, const char* Name)
{
  return Value.toObject().value(QLatin1String(Name)).toString();
}

class DemoMail : public ::testing::Test {
protected:
  explicit DemoMail(const QStringList& ServerOptions = {})
    : Server(Env.Root() + QStringLiteral("/received"), ServerOptions)
  {
    Env.Set("HOME", Env.Root());  // no ~/.netrc of the machine
  }

  // As an installation would: through the registry tool.
  void PointMailAtServer() { PointMailAt(Server.Url()); }
  static void PointMailAt(const QString& Url)
  {
    QProcess Reg;
    Reg.start(QStringLiteral(CORVANE_BIN_DIR "/corvane-reg"),
              {QStringLiteral("add"), QStringLiteral("HKCU\\SOFTWARE\\Corvane\\Mail"), QStringLiteral("/v"),
               QStringLiteral("SmtpUrl"), QStringLiteral("/t"), QStringLiteral("REG_SZ"), QStringLiteral("/d"),
               Url, QStringLiteral("/f")});
    ASSERT_TRUE(Reg.waitForFinished(30000));
    ASSERT_EQ(Reg.exitCode(), 0) << Reg.readAllStandardError().toStdString();
  }

  TestSupport::TTempEnvironment Env;
  TestSupport::TSmtpServer Server;
};

// A careless server: no STARTTLS, and any login taken in clear.
class DemoMailWithoutTls : public DemoMail {
protected:
  DemoMailWithoutTls() : DemoMail({QStringLiteral("--any-login")}) {}
};

QList<QByteArray> BoxesOf(const TDemoResult& Run)
{
  QList<QByteArray> Boxes;
  for (const QByteArray& Line : Run.Output.split('\n'))
    if (Line.startsWith("Box "))
      Boxes << Line;
  return Boxes;
}

}  // namespace

TEST_F(DemoMailWithoutTls, ALoginFromNetrcIsNeverSentInClear)
{
  ASSERT_GT(Server.Port(), 0);
  PointMailAtServer();
  TestSupport::WriteAll(Env.Root() + QStringLiteral("/.netrc"), "machine 127.0.0.1 login corvane password s3cret\n");
  const TDemoResult Run =
    RunDemo(Env, {"--raise", "x", "--unattended", "--mail-to", "a@example.org"}, QStringLiteral("offscreen"));
  ASSERT_TRUE(Run.Finished);
  EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
  EXPECT_TRUE(Server.AuthAttempts().isEmpty());
  EXPECT_TRUE(Server.Messages().isEmpty());
  EXPECT_EQ(BoxesOf(Run), QList<QByteArray>{"Box \"Error\": Mail could not be sent ."}) << Run.Output.toStdString();
}

TEST_F(DemoMail, AServerOutOfReachCostsOneBoxForAllRecipients)
{
  PointMailAt(QStringLiteral("smtp://127.0.0.1:%1").arg(TestSupport::ClosedPort()));
  QStringList Fifty;
  for (int I = 0; I < 50; ++I)
    Fifty << QStringLiteral("r%1@example.org").arg(I);
  const TDemoResult Run = RunDemo(Env, {"--raise", "x", "--unattended", "--mail-to", Fifty.join(QLatin1Char(';'))},
                                  QStringLiteral("offscreen"));
  ASSERT_TRUE(Run.Finished);
  EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
  EXPECT_EQ(BoxesOf(Run), QList<QByteArray>{"Box \"Error\": Mail could not be sent ."}) << Run.Output.toStdString();
}

TEST_F(DemoMail, EachRecipientGetsTheReportWithItsArchive)
{
  ASSERT_GT(Server.Port(), 0);
  PointMailAtServer();
  const TDemoResult Run =
    RunDemo(Env,
            {"--raise", "mail me", "--unattended", "--comment", "it broke", "--mail-to", "a@example.org; b@example.org", "--mail-subject",
             "Crash", "--mail-attach"},
            QStringLiteral("offscreen"));
  ASSERT_TRUE(Run.Finished);
  EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();

  // The report as the mail must carry it: read back before the comment
  // block was appended, each line after a line break, under its title.
  const QString File = AnsiCodePage::FromAnsi(TestSupport::ReadAll(ReportOf(Env)), 1252);
  const qsizetype CommentBlock = File.lastIndexOf(QStringLiteral("\r\n\r\nComments by the User :"));
  ASSERT_GT(CommentBlock, 0) << File.toStdString();
  const qsizetype CommentStart = CommentBlock + QStringLiteral("\r\n\r\nComments by the User :").size();
  const QString Comment = File.mid(CommentStart, File.indexOf(CrLf, CommentStart) - CommentStart);
  EXPECT_EQ(Comment, QStringLiteral("Enter Comments:it broke"));
  const QString Body = CrLf + CrLf + CrLf + QStringLiteral("Comments by the User :") + Comment + CrLf + CrLf +
                       QStringLiteral("The Full Error report is :") + CrLf + CrLf +
                       QStringLiteral("The Application information") + CrLf + CrLf + File.left(CommentBlock);

  const QStringList Archives = QDir(Env.DataFolder()).entryList({QStringLiteral("bugReport*.zip")}, QDir::Files);
  ASSERT_EQ(Archives.size(), 1);
  const QByteArray Archive = TestSupport::ReadAll(Env.DataFolder() + QLatin1Char('/') + Archives[0]);

  const QJsonArray Messages = Server.Messages();
  ASSERT_EQ(Messages.size(), 2);
  const QStringList Recipients{QStringLiteral("a@example.org"), QStringLiteral("b@example.org")};
  for (int I = 0; I < 2; ++I) {
    SCOPED_TRACE(I);
    const QJsonValue M = Messages[I];
    EXPECT_EQ(M.toObject().value(QLatin1String("rcpt_tos")).toVariant().toStringList(), QStringList{Recipients[I]});
    EXPECT_EQ(Text(M, "to"), Recipients[I]);
    EXPECT_EQ(Text(M, "subject"), QStringLiteral("Crash   Application : vesparo-demo"));
    EXPECT_EQ(Text(M, "body"), Body);
    const QJsonArray Attachments = M.toObject().value(QLatin1String("attachments")).toArray();
    ASSERT_EQ(Attachments.size(), 1);
    EXPECT_EQ(Text(Attachments[0], "filename"), Archives[0]);
    EXPECT_EQ(QByteArray::fromBase64(Text(Attachments[0], "data").toLatin1()), Archive);
  }
}

TEST_F(DemoMail, MailOptionsNeedTheirTexts)
{
  for (const char* Option : {"--mail-to", "--mail-subject", "--mail-message"}) {
    SCOPED_TRACE(Option);
    const TDemoResult Run = RunDemo(Env, {"--unattended", QString::fromLatin1(Option)}, QStringLiteral("offscreen"));
    ASSERT_TRUE(Run.Finished);
    EXPECT_EQ(Run.ExitCode, 2);
    EXPECT_TRUE(Run.Errors.contains(QByteArray(Option) + " needs a text")) << Run.Errors.toStdString();
  }
  const TDemoResult Run = RunDemo(Env,
                                  {"--unattended", "--mail-to", "a@example.org", "--mail-subject", "s",
                                   "--mail-message", "m", "--mail-attach"},
                                  QStringLiteral("offscreen"));
  ASSERT_TRUE(Run.Finished);
  EXPECT_EQ(Run.ExitCode, 0) << Run.Errors.toStdString();
}
