#include "platform/Registry.h"
#include "tools/corvane-reg/ValueText.h"

#include "tests/support/TempEnvironment.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

using namespace Registry;
using TestSupport::ReadAll;
using TestSupport::TTempEnvironment;
using TestSupport::WriteAll;

namespace {

const std::string Done = "The operation completed successfully.\n";
const std::string NotFound = "ERROR: The system was unable to find the specified registry key or value.\n";

struct TRun {
  int Code = -1;
  std::string Out;
  std::string Err;
};

const std::string Program = CORVANE_BIN_DIR "/corvane-reg";

// In a child process: becomes the built tool with these arguments.
[[noreturn]] void ExecReg(const std::vector<std::string>& Arguments)
{
  std::vector<char*> Argv{const_cast<char*>(Program.c_str())};
  for (const std::string& Argument : Arguments)
    Argv.push_back(const_cast<char*>(Argument.c_str()));
  Argv.push_back(nullptr);
  ::execv(Program.c_str(), Argv.data());
  ::_exit(127);
}

// Runs the built tool with its output sent to files of the test's folder.
TRun Reg(const TTempEnvironment& Env, const std::vector<std::string>& Arguments)
{
  const QString OutFile = Env.Root() + QStringLiteral("/out.txt");
  const QString ErrFile = Env.Root() + QStringLiteral("/err.txt");
  const pid_t Pid = ::fork();
  if (Pid == 0) {
    const int Out = ::open(OutFile.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int Err = ::open(ErrFile.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (Out < 0 || Err < 0 || ::dup2(Out, 1) < 0 || ::dup2(Err, 2) < 0)
      ::_exit(126);
    ExecReg(Arguments);
  }
  TRun Run;
  int Status = -1;
  ::waitpid(Pid, &Status, 0);
  Run.Code = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
  Run.Out = ReadAll(OutFile).toStdString();
  Run.Err = ReadAll(ErrFile).toStdString();
  return Run;
}

// Runs the built tool with its standard streams on a terminal of its own,
// in raw mode so that what it writes arrives unchanged; returns all of it.
std::string RegOnTerminal(const std::vector<std::string>& Arguments)
{
  termios Raw {};
  ::cfmakeraw(&Raw);
  int Terminal = -1;
  const pid_t Pid = ::forkpty(&Terminal, nullptr, &Raw, nullptr);
  if (Pid == 0)
    ExecReg(Arguments);
  std::string Output;
  char Buffer[4096];
  for (;;) {
    const ssize_t Got = ::read(Terminal, Buffer, sizeof Buffer);
    if (Got > 0)
      Output.append(Buffer, std::size_t(Got));
    else if (Got < 0 && errno == EINTR)
      continue;
    else
      break;  // EIO once the tool has gone
  }
  ::close(Terminal);
  ::waitpid(Pid, nullptr, 0);
  return Output;
}

std::string StartsWithUsage(const std::string& Err)
{
  const std::string Syntax = "ERROR: Invalid syntax.\nUsage: corvane-reg ";
  return Err.substr(0, Syntax.size()) == Syntax ? std::string() : Err;
}

}  // namespace

TEST(CorvaneReg, AddThenQueryShowsStringsAndNumbers)
{
  TTempEnvironment Env;
  TRun Run = Reg(Env, {"add", "HKCU\\Software\\Corvane", "/v", "Name", "/d", "hello world"});
  EXPECT_EQ(Run.Code, 0) << Run.Err;
  EXPECT_EQ(Run.Out, Done);
  EXPECT_EQ(Run.Err, "");
  EXPECT_EQ(Reg(Env, {"add", "hkcu\\Software\\Corvane", "-V", "Count", "/T", "reg_dword", "-d", "31"}).Code, 0);
  EXPECT_EQ(Reg(Env, {"add", "HKEY_CURRENT_USER\\Software\\Corvane", "/ve", "/d", "dflt", "/f"}).Code, 0);
  EXPECT_EQ(Reg(Env, {"add", "HKCU\\Software\\Corvane\\Sub\\Deeper"}).Code, 0);  // a key alone

  Run = Reg(Env, {"query", "HKCU\\Software\\Corvane", "/v", "name"});
  EXPECT_EQ(Run.Code, 0) << Run.Err;
  EXPECT_EQ(Run.Out, "\nHKEY_CURRENT_USER\\Software\\Corvane\n    Name    REG_SZ    hello world\n\n");

  Run = Reg(Env, {"query", "HKCU\\Software\\Corvane"});
  EXPECT_EQ(Run.Code, 0) << Run.Err;
  EXPECT_EQ(Run.Out,
            "\nHKEY_CURRENT_USER\\Software\\Corvane\n"
            "    (Default)    REG_SZ    dflt\n"
            "    Name    REG_SZ    hello world\n"
            "    Count    REG_DWORD    0x1f\n\n"
            "HKEY_CURRENT_USER\\Software\\Corvane\\Sub\n");
  EXPECT_EQ(Reg(Env, {"query", "HKCU\\Software\\Corvane", "/ve"}).Out,
            "\nHKEY_CURRENT_USER\\Software\\Corvane\n    (Default)    REG_SZ    dflt\n\n");

  // Overwriting needs no confirmation.
  EXPECT_EQ(Reg(Env, {"add", "HKCU\\Software\\Corvane", "/v", "Count", "/t", "REG_DWORD", "/d", "0xFFFFFFFF"}).Code, 0);
  EXPECT_EQ(Reg(Env, {"query", "HKCU\\Software\\Corvane", "/v", "Count"}).Out,
            "\nHKEY_CURRENT_USER\\Software\\Corvane\n    Count    REG_DWORD    0xffffffff\n\n");
}

TEST(CorvaneReg, DeletesValuesAndKeys)
{
  TTempEnvironment Env;
  ASSERT_EQ(Reg(Env, {"add", "HKCU\\Software\\Corvane\\Sub", "/v", "A", "/d", "a"}).Code, 0);
  ASSERT_EQ(Reg(Env, {"add", "HKCU\\Software\\Corvane", "/v", "B", "/d", "b"}).Code, 0);
  ASSERT_EQ(Reg(Env, {"add", "HKCU\\Software\\Corvane", "/ve", "/d", "d"}).Code, 0);

  TRun Run = Reg(Env, {"delete", "HKCU\\Software\\Corvane", "/v", "b"});
  EXPECT_EQ(Run.Code, 0) << Run.Err;
  EXPECT_EQ(Run.Out, Done);
  EXPECT_EQ(Reg(Env, {"delete", "HKCU\\Software\\Corvane", "/ve", "/f"}).Code, 0);
  EXPECT_EQ(Reg(Env, {"query", "HKCU\\Software\\Corvane"}).Out,
            "\nHKEY_CURRENT_USER\\Software\\Corvane\n\nHKEY_CURRENT_USER\\Software\\Corvane\\Sub\n");

  Run = Reg(Env, {"delete", "HKCU\\Software\\Corvane"});
  EXPECT_EQ(Run.Code, 0) << Run.Err;
  TRegistry Check;
  EXPECT_TRUE(Check.KeyExists(QStringLiteral("\\Software")));
  EXPECT_FALSE(Check.KeyExists(QStringLiteral("\\Software\\Corvane\\Sub")));
}

TEST(CorvaneReg, FailuresExitWithOneAndSayWhy)
{
  TTempEnvironment Env;
  ASSERT_EQ(Reg(Env, {"add", "HKCU\\Software\\Corvane", "/v", "A", "/d", "a"}).Code, 0);

  for (const std::vector<std::string>& Missing : std::vector<std::vector<std::string>>{
         {"query", "HKCU\\Software\\Nothing"},
         {"query", "HKCU\\Software\\Corvane", "/v", "Nothing"},
         {"delete", "HKCU\\Software\\Corvane", "/v", "Nothing"},
         {"delete", "HKCU\\Software\\Corvane", "/ve"},
         {"delete", "HKCU\\Software\\Nothing", "/f"},
       }) {
    const TRun Run = Reg(Env, Missing);
    EXPECT_EQ(Run.Code, 1) << Missing[0] << " " << Missing.back();
    EXPECT_EQ(Run.Err, NotFound);
    EXPECT_EQ(Run.Out, "");
  }

  for (const std::vector<std::string>& Bad : std::vector<std::vector<std::string>>{
         {},
         {"copy", "HKCU\\Software"},
         {"add"},
         {"add", "HKCU\\Software", "/v"},
         {"add", "HKCU\\Software", "/v", "A", "/v", "B"},
         {"add", "HKCU\\Software", "/v", "A", "/ve"},
         {"add", "HKCU\\Software", "stray"},
         {"query", "HKCU\\Software", "/d", "x"},
         {"delete", "HKCU\\Software", "/x"},
       }) {
    const TRun Run = Reg(Env, Bad);
    EXPECT_EQ(Run.Code, 1) << Bad.size();
    EXPECT_EQ(StartsWithUsage(Run.Err), "");
  }

  TRun Run = Reg(Env, {"add", "HKXX\\Software", "/v", "A", "/d", "a"});
  EXPECT_EQ(Run.Code, 1);
  EXPECT_EQ(Run.Err.rfind("ERROR: Invalid key name.\n", 0), 0u) << Run.Err;
  for (const char* Data : {"4294967296", "0x100000000", "-1", "abc", "0x", "", "1.5"}) {
    Run = Reg(Env, {"add", "HKCU\\Software\\Corvane", "/v", "N", "/t", "REG_DWORD", "/d", Data});
    EXPECT_EQ(Run.Code, 1) << Data;
    EXPECT_EQ(Run.Err.rfind("ERROR: Invalid REG_DWORD data", 0), 0u) << Run.Err;
  }
  Run = Reg(Env, {"add", "HKCU\\Software\\Corvane", "/v", "N", "/t", "REG_BINARY", "/d", "00"});
  EXPECT_EQ(Run.Code, 1);
  EXPECT_EQ(Run.Err.rfind("ERROR: Unsupported type", 0), 0u) << Run.Err;
  Run = Reg(Env, {"delete", "HKCU"});
  EXPECT_EQ(Run.Code, 1);
  EXPECT_EQ(Run.Err.rfind("ERROR: Invalid key name", 0), 0u) << Run.Err;
  TRegistry Check;
  EXPECT_FALSE(Check.KeyExists(QStringLiteral("\\Software\\Corvane\\N")));
  ASSERT_TRUE(Check.OpenKey(QStringLiteral("\\Software\\Corvane"), false));
  EXPECT_EQ(Check.GetValueNames(), QStringList{QStringLiteral("A")});

  EXPECT_EQ(Reg(Env, {"/?"}).Code, 0);
  EXPECT_NE(Reg(Env, {"add", "/?"}).Out.find("corvane-reg add KEY"), std::string::npos);
}

TEST(CorvaneReg, ReportsABrokenStoreAndLeavesIt)
{
  TTempEnvironment Env;
  const QString File = StoreFilePath(HKEY_CURRENT_USER);
  QDir().mkpath(QFileInfo(File).absolutePath());
  const QByteArray Broken = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n\"A\"=dword:xyz\r\n";
  TestSupport::WriteAll(File, Broken);
  for (const std::vector<std::string>& Arguments : std::vector<std::vector<std::string>>{
         {"add", "HKCU\\Software", "/v", "B", "/d", "b"},
         {"query", "HKCU\\Software"},
         {"delete", "HKCU\\Software", "/v", "A"},
         {"delete", "HKCU\\Software"},
       }) {
    const TRun Run = Reg(Env, Arguments);
    EXPECT_EQ(Run.Code, 1) << Arguments[0];
    EXPECT_NE(Run.Err.find("ERROR: "), std::string::npos) << Run.Err;
    EXPECT_NE(Run.Err.find(File.toStdString()), std::string::npos) << Run.Err;
    EXPECT_NE(Run.Err.find("line 4"), std::string::npos) << Run.Err;
  }
  EXPECT_EQ(ReadAll(File), Broken);
}

TEST(CorvaneReg, SharesTheStoreWithTheRegistryObject)
{
  TTempEnvironment Env;
  ASSERT_EQ(Reg(Env, {"add", "HKLM\\Software\\Corvane", "/v", "Path", "/d", "C:\\Program Files\\\"Corvane\""}).Code, 0);
  ASSERT_EQ(Reg(Env, {"add", "HKLM\\Software\\Corvane", "/v", "Big", "/t", "REG_DWORD", "/d", "4294967295"}).Code, 0);
  TRegistry Machine(KEY_READ);
  Machine.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(Machine.OpenKey(QStringLiteral("SOFTWARE\\corvane"), false)) << Machine.LastError().toStdString();
  EXPECT_EQ(Machine.ReadString(QStringLiteral("Path")), QStringLiteral("C:\\Program Files\\\"Corvane\""));
  EXPECT_EQ(Machine.ReadInteger(QStringLiteral("Big")), -1);
  EXPECT_FALSE(QFileInfo::exists(StoreFilePath(HKEY_CURRENT_USER)));

  TRegistry User;
  ASSERT_TRUE(User.OpenKey(QStringLiteral("Software\\Corvane"), true));
  User.WriteString(QStringLiteral("Greeting"), QStringLiteral("Grüße"));
  User.WriteBool(QStringLiteral("Flag"), true);
  const TRun Run = Reg(Env, {"query", "hkey_current_user\\Software\\Corvane\\"});
  EXPECT_EQ(Run.Code, 0) << Run.Err;
  EXPECT_EQ(Run.Out,
            "\nHKEY_CURRENT_USER\\Software\\Corvane\n"
            "    Greeting    REG_SZ    Grüße\n"
            "    Flag    REG_DWORD    0x1\n\n");
}

TEST(CorvaneReg, ShowsValuesOfOtherTypesAsText)
{
  TTempEnvironment Env;
  const QString File = StoreFilePath(HKEY_CURRENT_USER);
  QDir().mkpath(QFileInfo(File).absolutePath());
  WriteAll(File, "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n"
                 "\"Bin\"=hex:01,02,ff\r\n"
                 "\"Exp\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,00,00\r\n"
                 "\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n\r\n");
  TRegistry Reg;
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("Software"), false)) << Reg.LastError().toStdString();
  const RegistryFile::TValue Exp = Reg.ReadValue(QStringLiteral("Exp"));
  EXPECT_EQ(ValueText::DisplayText(Exp), QStringLiteral("%HOME%"));
  EXPECT_EQ(ValueText::TypeName(Exp), QStringLiteral("REG_EXPAND_SZ"));
  EXPECT_EQ(ValueText::DisplayText(Reg.ReadValue(QStringLiteral("Q"))), QStringLiteral("0x1"));
  EXPECT_EQ(ValueText::DisplayText(Reg.ReadValue(QStringLiteral("Bin"))), QStringLiteral("0102FF"));
}

TEST(CorvaneReg, EscapesControlCharactersOnATerminalOnly)
{
  TTempEnvironment Env;
  const QString Name = QStringLiteral("Esc\x1b[31mName");
  const QString Data =
    QStringLiteral("title\x1b]0;owned\x07") + QChar(0x9b) + QStringLiteral("2J\r\nnext\ttab\x7f ✓");
  {
    TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey(QStringLiteral("Software\\Corvane"), true));
    Reg.WriteString(Name, Data);
  }
  EXPECT_EQ(RegOnTerminal({"query", "HKCU\\Software\\Corvane", "/v", Name.toStdString()}),
            "\nHKEY_CURRENT_USER\\Software\\Corvane\n"
            "    Esc\\x1b[31mName    REG_SZ    title\\x1b]0;owned\\x07\\x9b2J\\r\\nnext\\ttab\\x7f ✓\n\n");
  // Into a pipe or a file: as stored.
  const TRun Run = Reg(Env, {"query", "HKCU\\Software\\Corvane"});
  EXPECT_EQ(Run.Out, "\nHKEY_CURRENT_USER\\Software\\Corvane\n    " + Name.toStdString() + "    REG_SZ    " +
                       Data.toStdString() + "\n\n");

  // Errors that quote the store are escaped on a terminal as well.
  TestSupport::WriteAll(StoreFilePath(HKEY_CURRENT_USER),
                        "Windows Registry Editor Version 5.00\r\n\r\n\x1b[2Jgarbage\r\n");
  const std::string Error = RegOnTerminal({"query", "HKCU\\Software"});
  EXPECT_NE(Error.find("ERROR: Invalid registry file"), std::string::npos) << Error;
  EXPECT_NE(Error.find("unexpected text \"\\x1b[2Jgarbage\""), std::string::npos) << Error;
  EXPECT_EQ(Error.find('\x1b'), std::string::npos) << Error;
}

TEST(CorvaneReg, RefusesNamesAndDepthsBeyondTheLimitsAndWritesNothing)
{
  TTempEnvironment Env;
  std::string Deep = "HKCU";
  for (int I = 0; I < 10000; ++I)
    Deep += "\\a";
  TRun Run = Reg(Env, {"add", Deep, "/v", "V", "/d", "x"});
  EXPECT_EQ(Run.Code, 1);
  EXPECT_EQ(Run.Err.rfind("ERROR: Invalid key \"\\a\\a\\a", 0), 0u) << Run.Err.substr(0, 200);
  EXPECT_NE(Run.Err.find("10000 levels below the root, at most 512 are allowed"), std::string::npos);
  EXPECT_LT(Run.Err.size(), 300u);

  Run = Reg(Env, {"add", "HKCU\\Software\\" + std::string(256, 'k')});
  EXPECT_EQ(Run.Code, 1);
  EXPECT_NE(Run.Err.find("has 256 characters, at most 255 are allowed"), std::string::npos) << Run.Err;

  Run = Reg(Env, {"add", "HKCU\\Software\\Corvane", "/v", std::string(16384, 'v'), "/d", "x"});
  EXPECT_EQ(Run.Code, 1);
  EXPECT_NE(Run.Err.find("has 16384 characters, at most 16383 are allowed"), std::string::npos) << Run.Err;
  EXPECT_FALSE(QFileInfo::exists(StoreFilePath(HKEY_CURRENT_USER)));

  Run = Reg(Env, {"add", "HKCU\\Software\\" + std::string(255, 'k'), "/v", std::string(16383, 'v'), "/d", "x"});
  EXPECT_EQ(Run.Code, 0) << Run.Err.substr(0, 300);
}
