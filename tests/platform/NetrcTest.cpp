// Which login ~/.netrc holds for a mail server.

#include "platform/Netrc.h"

#include "tests/support/TempEnvironment.h"

#include <QDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using Netrc::FindLogin;

namespace {

// "login:password", or "-" for none.
std::string Found(const QByteArray& Text, const QString& Host, const QString& User = QString())
{
  const auto Login = FindLogin(Text, Host, User);
  return Login ? (Login->Login + ':' + Login->Password).toStdString() : std::string("-");
}

}  // namespace

TEST(Netrc, TheMachinesOwnEntryThenDefault)
{
  const QByteArray Text = "default login anyone password any\n"
                          "machine mail.example.org login first password one\n"
                          "machine MAIL.example.org login second password two\n"
                          "machine other.example.org password nologin\n";
  EXPECT_EQ(Found(Text, "mail.example.org"), "first:one");
  EXPECT_EQ(Found(Text, "Mail.Example.ORG"), "first:one");
  // "default" before a machine's entry does not hide it, and covers the rest.
  EXPECT_EQ(Found(Text, "elsewhere.example.org"), "anyone:any");
  // An entry without a login gives none; "default" still may.
  EXPECT_EQ(Found(Text, "other.example.org"), "anyone:any");
  EXPECT_EQ(Found("machine other.example.org password nologin\n", "other.example.org"), "-");
  // A login without a password is a login all the same.
  EXPECT_EQ(Found("machine m login user", "m"), "user:");
  EXPECT_EQ(Found("", "m"), "-");
  EXPECT_EQ(Found("login orphan password x\n", "m"), "-");
}

TEST(Netrc, TheLoginNamedInTheUrl)
{
  const QByteArray Text = "machine m login first password one\n"
                          "machine m login second password two\n"
                          "machine m password shared\n";
  EXPECT_EQ(Found(Text, "m", "second"), "second:two");
  // An entry naming no login lends its password to the URL's login.
  EXPECT_EQ(Found(Text, "m", "third"), "third:shared");
  EXPECT_EQ(Found("machine m login first password one\n", "m", "third"), "-");
}

TEST(Netrc, TokensQuotesCommentsAndMacros)
{
  // One line or many, tabs and CR LF; keywords are values where a value is
  // due; quoted tokens keep blanks and take escapes.
  EXPECT_EQ(Found("machine\tm\r\n  login  \"two words\"\r\npassword \"q\\\"uote\\\\d\\tx\"", "m"),
            "two words:q\"uote\\d\tx");
  EXPECT_EQ(Found("machine m login machine password default", "m"), "machine:default");
  EXPECT_EQ(Found("machine m login \"\" password x", "m"), "-");
  // A comment line, and a macro whose body ends at the empty line.
  const QByteArray Text = "# machine m login commented password no\n"
                          "macdef init\n"
                          "machine m login inmacro password no\n"
                          "\n"
                          "machine m login real password yes\n";
  EXPECT_EQ(Found(Text, "m"), "real:yes");
  // An unclosed quote ends with its line.
  EXPECT_EQ(Found("machine m login \"open\npassword p", "m"), "open:p");
  // Binary junk finds nothing and breaks nothing.
  QByteArray Junk;
  for (int I = 0; I < 4096; ++I)
    Junk += static_cast<char>((I * 131) % 256);
  EXPECT_EQ(Found(Junk, "m"), "-");
}

TEST(Netrc, TheUsersFileInTheHomeFolder)
{
  TestSupport::TTempEnvironment Env;
  Env.Set("HOME", Env.Root());
  const QString Path = Env.Root() + QStringLiteral("/.netrc");
  EXPECT_EQ(Netrc::UserNetrcPath(), Path);
  EXPECT_FALSE(Netrc::LoginFor(QStringLiteral("m")));

  TestSupport::WriteAll(Path, "machine m login user password secret\n");
  const auto Login = Netrc::LoginFor(QStringLiteral("m"));
  ASSERT_TRUE(Login);
  EXPECT_EQ(Login->Login, "user");
  EXPECT_EQ(Login->Password, "secret");

  // What cannot be read as a file holds no login: a file beyond the limit,
  // a folder, a pipe (which would wait for a writer).
  TestSupport::WriteAll(Path, "machine m login user password secret\n" +
                                QByteArray(Netrc::MaxNetrcSize, ' '));
  EXPECT_FALSE(Netrc::LoginFor(QStringLiteral("m")));
  QFile::remove(Path);
  ASSERT_TRUE(QDir().mkdir(Path));
  EXPECT_FALSE(Netrc::LoginFor(QStringLiteral("m")));
  ASSERT_TRUE(QDir().rmdir(Path));
  ASSERT_EQ(::mkfifo(QFile::encodeName(Path).constData(), 0600), 0);
  EXPECT_FALSE(Netrc::LoginFor(QStringLiteral("m")));
}
