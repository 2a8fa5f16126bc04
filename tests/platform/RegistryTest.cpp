#include "platform/Registry.h"

#include "tests/support/TempEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <random>
#include <string>

using namespace Registry;
using TestSupport::ReadAll;
using TestSupport::TTempEnvironment;
using TestSupport::WriteAll;

namespace {

const QByteArray Header = "Windows Registry Editor Version 5.00\r\n\r\n";

QString UserFile() { return StoreFilePath(HKEY_CURRENT_USER); }

void WriteUserFile(const QByteArray& Bytes)
{
  QDir().mkpath(QFileInfo(UserFile()).absolutePath());
  WriteAll(UserFile(), Bytes);
}

// Runs Body in a child process and returns its wait status. The child never
// returns into the test framework.
int InChild(const std::function<int()>& Body)
{
  const pid_t Pid = ::fork();
  if (Pid == 0) {
    int Code = 3;
    try {
      Code = Body();
    } catch (...) {
    }
    ::_exit(Code);
  }
  int Status = -1;
  ::waitpid(Pid, &Status, 0);
  return Status;
}

bool ExitedWith(int Status, int Code) { return WIFEXITED(Status) && WEXITSTATUS(Status) == Code; }

std::string Text(const QString& S) { return S.toStdString(); }

}  // namespace

// Values and their types ------------------------------------------------------

TEST(RegistryValues, RoundTripsStringsIntegersAndBooleans)
{
  TTempEnvironment Env;
  {
    TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey(QStringLiteral("Software\\Corvane"), true)) << Text(Reg.LastError());
    Reg.WriteString(QStringLiteral("Text"), QStringLiteral("Grüße \"quoted\" C:\\path ✓"));
    Reg.WriteString(QStringLiteral("Empty"), QString());
    Reg.WriteInteger(QStringLiteral("Max"), 2147483647);
    Reg.WriteInteger(QStringLiteral("Negative"), -2);
    Reg.WriteBool(QStringLiteral("Yes"), true);
    Reg.WriteBool(QStringLiteral("No"), false);
  }
  TRegistry Reg;
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("Software\\Corvane"), false));
  EXPECT_EQ(Reg.ReadString(QStringLiteral("Text")), QStringLiteral("Grüße \"quoted\" C:\\path ✓"));
  EXPECT_TRUE(Reg.ValueExists(QStringLiteral("Empty")));
  EXPECT_EQ(Reg.ReadString(QStringLiteral("Empty")), QString());
  EXPECT_EQ(Reg.ReadInteger(QStringLiteral("Max")), 2147483647);
  EXPECT_EQ(Reg.ReadInteger(QStringLiteral("Negative")), -2);
  EXPECT_TRUE(Reg.ReadBool(QStringLiteral("Yes")));
  EXPECT_FALSE(Reg.ReadBool(QStringLiteral("No")));
  EXPECT_EQ(Reg.ReadInteger(QStringLiteral("Yes")), 1);  // a Boolean is an integer 0/1
  EXPECT_EQ(Reg.GetDataType(QStringLiteral("Text")), TRegDataType::rdString);
  EXPECT_EQ(Reg.GetDataType(QStringLiteral("Max")), TRegDataType::rdInteger);
  EXPECT_EQ(Reg.GetValueNames(),
            QStringList({"Text", "Empty", "Max", "Negative", "Yes", "No"}));

  // Overwriting changes the type along with the data.
  Reg.WriteInteger(QStringLiteral("Text"), 5);
  EXPECT_EQ(Reg.ReadInteger(QStringLiteral("Text")), 5);
}

TEST(RegistryValues, MissingValuesAndWrongTypes)
{
  TTempEnvironment Env;
  TRegistry Reg;
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("Software\\Corvane"), true));
  EXPECT_EQ(Reg.ReadString(QStringLiteral("Missing")), QString());
  EXPECT_FALSE(Reg.ValueExists(QStringLiteral("Missing")));
  EXPECT_EQ(Reg.GetDataType(QStringLiteral("Missing")), TRegDataType::rdUnknown);
  EXPECT_THROW(Reg.ReadInteger(QStringLiteral("Missing")), ERegistryException);
  EXPECT_THROW(Reg.ReadBool(QStringLiteral("Missing")), ERegistryException);

  Reg.WriteString(QStringLiteral("Str"), QStringLiteral("12"));
  Reg.WriteInteger(QStringLiteral("Int"), 12);
  try {
    Reg.ReadInteger(QStringLiteral("Str"));
    FAIL() << "a string read as an integer";
  } catch (const ERegistryException& Error) {
    EXPECT_EQ(Error.Message(), QStringLiteral("Invalid data type for 'Str'"));
    EXPECT_EQ(Reg.LastError(), Error.Message());
  }
  EXPECT_THROW(Reg.ReadBool(QStringLiteral("Str")), ERegistryException);
  EXPECT_THROW(Reg.ReadString(QStringLiteral("Int")), ERegistryException);
}

TEST(RegistryValues, DefaultValueIsWrittenAsAt)
{
  TTempEnvironment Env;
  TRegistry Reg;
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("Software\\Corvane"), true));
  Reg.WriteString(QStringLiteral("Named"), QStringLiteral("n"));
  Reg.WriteString(QString(), QStringLiteral("the default"));
  EXPECT_EQ(Reg.ReadString(QString()), QStringLiteral("the default"));
  EXPECT_TRUE(ReadAll(UserFile()).contains("[HKEY_CURRENT_USER\\Software\\Corvane]\r\n@=\"the default\"\r\n\"Named\"=\"n\"\r\n"));
  EXPECT_TRUE(Reg.DeleteValue(QString()));
  EXPECT_FALSE(Reg.ValueExists(QString()));
}

TEST(RegistryValues, ControlCharactersSurviveAsHexString)
{
  TTempEnvironment Env;
  const QString Tricky = QStringLiteral("line 1\r\nline 2\n") + QChar(0) + QStringLiteral("after NUL\ttab") +
                         QChar(0xd800) + QStringLiteral(" long enough to wrap the hex lines of the export format");
  {
    TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey(QStringLiteral("Software\\Corvane"), true));
    Reg.WriteString(QStringLiteral("Tricky"), Tricky);
  }
  const QByteArray File = ReadAll(UserFile());
  EXPECT_TRUE(File.contains("\"Tricky\"=hex(1):6c,00,69,00,6e,00,65,00,20,00,31,00,0d,00,0a,00,"));
  for (const QByteArray& Line : File.split('\n'))
    EXPECT_LE(Line.size(), 81) << Line.toStdString();  // 80 and the CR
  TRegistry Reg;
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("Software\\Corvane"), false));
  EXPECT_EQ(Reg.ReadString(QStringLiteral("Tricky")), Tricky);

  // hex(1) written by hand, continued over lines, without the terminator.
  WriteUserFile(Header + "[HKEY_CURRENT_USER\\Software]\r\n\"H\"=hex(1):41,00,0a,\\\r\n    00,42,00\r\n");
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\Software"), false));
  EXPECT_EQ(Reg.ReadString(QStringLiteral("H")), QStringLiteral("A\nB"));
  EXPECT_EQ(Reg.GetDataType(QStringLiteral("H")), TRegDataType::rdString);
}

TEST(RegistryValues, OtherTypesAreKeptThroughRewrites)
{
  TTempEnvironment Env;
  const QByteArray Binary = "\"Bin\"=hex:01,02,ff\r\n";
  const QByteArray Expand = "\"Exp\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,00,00\r\n";
  const QByteArray Multi =
    "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00,61,00,61,00,61,00,61,00,61,00,61,\\\r\n"
    "  00,61,00,61,00,61,00,61,00,61,00,00,00\r\n";
  const QByteArray Qword = "\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n";
  const QByteArray Odd = "\"Odd\"=hex(1):41,00,42\r\n";
  WriteUserFile(Header + "[HKEY_CURRENT_USER\\Software]\r\n" + Binary + Expand + Multi + Qword + Odd + "\r\n");

  TRegistry Reg;
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("Software"), false)) << Text(Reg.LastError());
  for (const char* Name : {"Bin", "Exp", "Multi", "Q", "Odd"}) {
    EXPECT_EQ(Reg.GetDataType(QLatin1String(Name)), TRegDataType::rdUnknown) << Name;
    EXPECT_THROW(Reg.ReadString(QLatin1String(Name)), ERegistryException) << Name;
    EXPECT_THROW(Reg.ReadInteger(QLatin1String(Name)), ERegistryException) << Name;
  }
  QString Type;
  EXPECT_EQ(Reg.ReadDisplayText(QStringLiteral("Exp"), Type), QStringLiteral("%HOME%"));
  EXPECT_EQ(Type, QStringLiteral("REG_EXPAND_SZ"));
  EXPECT_EQ(Reg.ReadDisplayText(QStringLiteral("Q"), Type), QStringLiteral("0x1"));
  EXPECT_EQ(Reg.ReadDisplayText(QStringLiteral("Bin"), Type), QStringLiteral("0102FF"));

  Reg.WriteString(QStringLiteral("New"), QStringLiteral("x"));
  EXPECT_EQ(ReadAll(UserFile()).toStdString(), (Header + "[HKEY_CURRENT_USER\\Software]\r\n" + Binary + Expand + Multi +
                                                 Qword + Odd + "\"New\"=\"x\"\r\n\r\n").toStdString());

  // Another spelling of the same data is rewritten in the usual one.
  WriteUserFile(Header + "[HKEY_CURRENT_USER\\Software]\n\"Bin\" = HEX(3): 01 , 02,\\\n FF,\n");
  Reg.WriteString(QStringLiteral("New"), QStringLiteral("x"));
  EXPECT_EQ(ReadAll(UserFile()).toStdString(),
            (Header + "[HKEY_CURRENT_USER\\Software]\r\n" + Binary + "\"New\"=\"x\"\r\n\r\n").toStdString());
}

// Keys, paths, persistence ----------------------------------------------------

TEST(RegistryPersistence, WritesTheExactExportText)
{
  TTempEnvironment Env;
  TRegistry Reg;
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("Software\\Corvane"), true));
  Reg.WriteString(QStringLiteral("Name"), QStringLiteral("a\"b\\c"));
  Reg.WriteInteger(QStringLiteral("Count"), 10);
  Reg.WriteInteger(QStringLiteral("All"), -1);
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\Software\\Aardvark"), true));
  EXPECT_EQ(ReadAll(UserFile()).toStdString(), (Header +
                                                 "[HKEY_CURRENT_USER\\Software]\r\n\r\n"
                                                 "[HKEY_CURRENT_USER\\Software\\Aardvark]\r\n\r\n"
                                                 "[HKEY_CURRENT_USER\\Software\\Corvane]\r\n"
                                                 "\"Name\"=\"a\\\"b\\\\c\"\r\n"
                                                 "\"Count\"=dword:0000000a\r\n"
                                                 "\"All\"=dword:ffffffff\r\n\r\n")
                                                  .toStdString());
  EXPECT_EQ(UserFile(), Env.ConfigHome() + QStringLiteral("/Corvane/registry/user.reg"));
  EXPECT_FALSE(QFileInfo::exists(UserFile() + QStringLiteral(".new")));
}

TEST(RegistryPersistence, ReadsLfLinesByteOrderMarkAndComments)
{
  TTempEnvironment Env;
  WriteUserFile("\xef\xbb\xbfWindows Registry Editor Version 5.00\n\n; a comment\n"
                       "[HKEY_CURRENT_USER\\Software\\Deep\\Key]\n\"A\"=\"1\"\n\"B\"=dword:FF\n"
                       "[hkey_current_user\\software\\deep]\n@=\"d\"\n");
  TRegistry Reg;
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("Software\\Deep\\Key"), false)) << Text(Reg.LastError());
  EXPECT_EQ(Reg.ReadString(QStringLiteral("A")), QStringLiteral("1"));
  EXPECT_EQ(Reg.ReadInteger(QStringLiteral("B")), 255);
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\Software\\Deep"), false));
  EXPECT_EQ(Reg.ReadString(QString()), QStringLiteral("d"));
}

TEST(RegistryKeys, NamesIgnoreCaseAndKeepTheFirstSpelling)
{
  TTempEnvironment Env;
  TRegistry Reg;
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("Software\\Corvane"), true));
  Reg.WriteString(QStringLiteral("MixedCase"), QStringLiteral("1"));
  Reg.WriteString(QStringLiteral("MIXEDCASE"), QStringLiteral("2"));
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\SOFTWARE\\corvane"), true));
  EXPECT_EQ(Reg.ReadString(QStringLiteral("mixedcase")), QStringLiteral("2"));
  EXPECT_EQ(Reg.GetValueNames(), QStringList{QStringLiteral("MixedCase")});
  EXPECT_TRUE(Reg.KeyExists(QStringLiteral("\\software\\CORVANE")));
  Reg.CloseKey();
  EXPECT_EQ(Reg.GetKeyNames(), QStringList{QStringLiteral("Software")});
  EXPECT_TRUE(ReadAll(UserFile()).contains("[HKEY_CURRENT_USER\\Software\\Corvane]\r\n\"MixedCase\"=\"2\"\r\n"));
}

TEST(RegistryKeys, RelativeAndAbsolutePaths)
{
  TTempEnvironment Env;
  TRegistry Reg;
  EXPECT_EQ(Reg.RootKey(), HKEY_CURRENT_USER);
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\Software\\"), true));
  EXPECT_EQ(Reg.CurrentPath(), QStringLiteral("Software"));
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("Corvane\\Sub"), true));  // below the open key
  EXPECT_EQ(Reg.CurrentPath(), QStringLiteral("Software\\Corvane\\Sub"));
  EXPECT_TRUE(Reg.KeyExists(QStringLiteral("\\Software\\Corvane")));
  EXPECT_FALSE(Reg.KeyExists(QStringLiteral("Software")));  // relative: Software\Corvane\Sub\Software
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\Other"), true));
  EXPECT_EQ(Reg.CurrentPath(), QStringLiteral("Other"));

  // A failed open keeps the key that was open.
  EXPECT_FALSE(Reg.OpenKey(QStringLiteral("Missing"), false));
  EXPECT_FALSE(Reg.LastError().isEmpty());
  EXPECT_EQ(Reg.CurrentPath(), QStringLiteral("Other"));
  EXPECT_FALSE(Reg.OpenKey(QStringLiteral("a\\\\b"), true));  // an empty name
  EXPECT_FALSE(Reg.KeyExists(QStringLiteral("\\Other\\a")));

  // Without an open key everything happens at the root.
  Reg.CloseKey();
  EXPECT_EQ(Reg.CurrentPath(), QString());
  Reg.WriteString(QStringLiteral("AtRoot"), QStringLiteral("r"));
  EXPECT_TRUE(ReadAll(UserFile()).startsWith(Header + "[HKEY_CURRENT_USER]\r\n\"AtRoot\"=\"r\"\r\n\r\n"));
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("Other"), false));
  EXPECT_EQ(Reg.ReadString(QStringLiteral("AtRoot")), QString());
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\"), false));
  EXPECT_EQ(Reg.ReadString(QStringLiteral("AtRoot")), QStringLiteral("r"));
}

TEST(RegistryKeys, DeleteKeyTakesItsSubkeys)
{
  TTempEnvironment Env;
  TRegistry Reg;
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("Software\\Corvane\\A\\Deep"), true));
  Reg.WriteString(QStringLiteral("V"), QStringLiteral("v"));
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\Software\\Corvane\\B"), true));
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\Software\\Corvane"), false));
  EXPECT_EQ(Reg.GetKeyNames(), QStringList({"A", "B"}));
  EXPECT_TRUE(Reg.DeleteKey(QStringLiteral("a")));
  EXPECT_EQ(Reg.GetKeyNames(), QStringList{QStringLiteral("B")});
  EXPECT_FALSE(Reg.KeyExists(QStringLiteral("\\Software\\Corvane\\A\\Deep")));
  EXPECT_FALSE(Reg.DeleteKey(QStringLiteral("A")));
  EXPECT_FALSE(Reg.LastError().isEmpty());
  EXPECT_FALSE(Reg.DeleteKey(QStringLiteral("\\")));  // not the root
  EXPECT_FALSE(ReadAll(UserFile()).contains("Deep"));

  // Writing into a key that another object deleted fails instead of
  // bringing the key back.
  TRegistry Other;
  ASSERT_TRUE(Other.DeleteKey(QStringLiteral("\\Software\\Corvane")));
  EXPECT_THROW(Reg.WriteString(QStringLiteral("X"), QStringLiteral("x")), ERegistryException);
  EXPECT_FALSE(Reg.KeyExists(QStringLiteral("\\Software\\Corvane")));
  EXPECT_FALSE(Reg.DeleteValue(QStringLiteral("X")));
}

TEST(RegistryKeys, ReadAccessRefusesChanges)
{
  TTempEnvironment Env;
  {
    TRegistry Writer;
    ASSERT_TRUE(Writer.OpenKey(QStringLiteral("Software\\Corvane"), true));
    Writer.WriteString(QStringLiteral("V"), QStringLiteral("v"));
  }
  const QByteArray Before = ReadAll(UserFile());
  TRegistry Reader(KEY_READ);
  EXPECT_FALSE(Reader.OpenKey(QStringLiteral("Software\\New"), true));
  ASSERT_TRUE(Reader.OpenKey(QStringLiteral("Software\\Corvane"), false));
  EXPECT_EQ(Reader.ReadString(QStringLiteral("V")), QStringLiteral("v"));
  EXPECT_THROW(Reader.WriteString(QStringLiteral("V"), QStringLiteral("w")), ERegistryException);
  EXPECT_FALSE(Reader.DeleteValue(QStringLiteral("V")));
  EXPECT_FALSE(Reader.DeleteKey(QStringLiteral("\\Software\\Corvane")));

  TRegistry All;
  ASSERT_TRUE(All.OpenKeyReadOnly(QStringLiteral("Software\\Corvane")));
  EXPECT_THROW(All.WriteInteger(QStringLiteral("V"), 1), ERegistryException);
  EXPECT_EQ(ReadAll(UserFile()), Before);
  ASSERT_TRUE(All.OpenKey(QStringLiteral("\\Software\\Corvane"), false));  // writable again
  All.WriteInteger(QStringLiteral("V"), 1);
  EXPECT_EQ(All.ReadInteger(QStringLiteral("V")), 1);
}

TEST(RegistryStore, RootsHaveTheirOwnFiles)
{
  TTempEnvironment Env;
  TRegistry Reg;
  Reg.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("Software\\Corvane"), true));
  Reg.WriteString(QStringLiteral("M"), QStringLiteral("machine"));
  EXPECT_EQ(StoreFilePath(HKEY_LOCAL_MACHINE), Env.Root() + QStringLiteral("/machine/system.reg"));
  EXPECT_TRUE(ReadAll(StoreFilePath(HKEY_LOCAL_MACHINE)).contains("[HKEY_LOCAL_MACHINE\\Software\\Corvane]\r\n\"M\"=\"machine\""));
  EXPECT_FALSE(QFileInfo::exists(UserFile()));

  Reg.SetRootKey(HKEY_CURRENT_USER);  // closes the key
  EXPECT_EQ(Reg.CurrentPath(), QString());
  EXPECT_FALSE(Reg.KeyExists(QStringLiteral("Software\\Corvane")));

  // A file of one root holds no keys of the other.
  WriteUserFile(ReadAll(StoreFilePath(HKEY_LOCAL_MACHINE)));
  EXPECT_FALSE(Reg.KeyExists(QStringLiteral("Software")));
  EXPECT_TRUE(Reg.LastError().contains(QStringLiteral("line 3"))) << Text(Reg.LastError());

  Env.Set("XDG_CONFIG_HOME", QStringLiteral("relative/config"));
  Env.Set("HOME", QStringLiteral("/home/someone"));
  EXPECT_EQ(UserFile(), QStringLiteral("/home/someone/.config/Corvane/registry/user.reg"));
  Env.Set("XDG_CONFIG_HOME", std::nullopt);
  EXPECT_EQ(UserFile(), QStringLiteral("/home/someone/.config/Corvane/registry/user.reg"));
  Env.Set("CORVANE_MACHINE_REGISTRY", std::nullopt);
  EXPECT_EQ(StoreFilePath(HKEY_LOCAL_MACHINE), QStringLiteral("/etc/Corvane/registry/system.reg"));
}

TEST(RegistryStore, KeepsThePermissionBitsOfTheFile)
{
  TTempEnvironment Env;
  TRegistry Reg;
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("Software"), true));
  ASSERT_EQ(::chmod(QFile::encodeName(UserFile()).constData(), 0640), 0);
  Reg.WriteString(QStringLiteral("V"), QStringLiteral("v"));
  struct stat Info {};
  ASSERT_EQ(::stat(QFile::encodeName(UserFile()).constData(), &Info), 0);
  EXPECT_EQ(Info.st_mode & 07777, 0640u);
}

// Broken files ----------------------------------------------------------------

TEST(RegistryCorruptFile, IsReportedWithItsLineAndNeverChanged)
{
  struct TCase {
    const char* What;
    QByteArray Bytes;
    int Line;
  };
  const QByteArray Key = "[HKEY_CURRENT_USER\\Software]\r\n";
  const TCase Cases[] = {
    {"old header", "REGEDIT4\r\n\r\n" + Key, 1},
    {"garbage line", Header + Key + "garbage\r\n", 4},
    {"unterminated section", Header + "[HKEY_CURRENT_USER\\Software\r\n", 3},
    {"bad escape", Header + Key + "\"A\"=\"back\\slash\"\r\n", 4},
    {"unterminated string", Header + Key + "\"A\"=\"open\r\n", 4},
    {"dword too long", Header + Key + "\"A\"=dword:123456789\r\n", 4},
    {"dword not hex", Header + Key + "\"A\"=dword:12g4\r\n", 4},
    {"bad hex byte", Header + Key + "\"A\"=hex:01,zz\r\n", 4},
    {"continuation at the end", Header + Key + "\"A\"=hex:01,\\\r\n", 4},
    {"value before any key", Header + "\"A\"=\"a\"\r\n", 3},
    {"key of another root", Header + "[HKEY_LOCAL_MACHINE\\Software]\r\n", 3},
    {"key deletion", Header + "[-HKEY_CURRENT_USER\\Software]\r\n", 3},
    {"empty key name", Header + "[HKEY_CURRENT_USER\\\\Software]\r\n", 3},
    {"invalid UTF-8", Header + Key + "\"A\"=\"ok\"\r\n\"B\"=\"\xff\xfe\"\r\n", 5},
    {"LF lines", "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n\n\"A\"=x\n", 5},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.What);
    TTempEnvironment Env;
    WriteUserFile(Case.Bytes);
    const QString Where = QStringLiteral("line %1").arg(Case.Line);

    TRegistry Reg;
    EXPECT_FALSE(Reg.OpenKey(QStringLiteral("Software"), false));
    EXPECT_TRUE(Reg.LastError().contains(UserFile())) << Text(Reg.LastError());
    EXPECT_TRUE(Reg.LastError().contains(Where)) << Text(Reg.LastError());
    EXPECT_FALSE(Reg.KeyExists(QStringLiteral("Software")));
    EXPECT_FALSE(Reg.OpenKey(QStringLiteral("Software\\New"), true));
    try {
      Reg.ReadString(QStringLiteral("A"));
      ADD_FAILURE() << "read of a broken file";
    } catch (const ERegistryException& Error) {
      EXPECT_TRUE(Error.Message().contains(Where)) << Text(Error.Message());
    }
    EXPECT_THROW(Reg.WriteString(QStringLiteral("A"), QStringLiteral("a")), ERegistryException);
    EXPECT_THROW(Reg.DeleteValue(QStringLiteral("A")), ERegistryException);
    EXPECT_THROW(Reg.DeleteKey(QStringLiteral("Software")), ERegistryException);
    EXPECT_THROW(Reg.GetKeyNames(), ERegistryException);
    EXPECT_EQ(ReadAll(UserFile()), Case.Bytes);
  }
}

TEST(RegistryCorruptFile, UnreadableFileIsReported)
{
  TTempEnvironment Env;
  QDir().mkpath(UserFile());  // a folder where the file should be
  TRegistry Reg;
  EXPECT_FALSE(Reg.KeyExists(QStringLiteral("Software")));
  EXPECT_TRUE(Reg.LastError().contains(UserFile())) << Text(Reg.LastError());
  EXPECT_THROW(Reg.ReadString(QStringLiteral("A")), ERegistryException);
  EXPECT_THROW(Reg.WriteString(QStringLiteral("A"), QStringLiteral("a")), ERegistryException);
  EXPECT_TRUE(QFileInfo(UserFile()).isDir());
}

// Several processes -----------------------------------------------------------

TEST(RegistryConcurrency, TwoWritersLoseNothing)
{
  TTempEnvironment Env;
  int Gate[2];
  ASSERT_EQ(::pipe(Gate), 0);
  pid_t Writers[2];
  for (int W = 0; W < 2; ++W) {
    Writers[W] = ::fork();
    if (Writers[W] == 0) {
      ::close(Gate[1]);
      char Byte;
      (void)!::read(Gate[0], &Byte, 1);  // both start when the gate closes
      try {
        TRegistry Reg;
        if (!Reg.OpenKey(QStringLiteral("Software\\Race"), true))
          ::_exit(2);
        for (int I = 0; I < 500; ++I)
          Reg.WriteString(QStringLiteral("W%1-%2").arg(W).arg(I), QString::number(I * 7 + W));
      } catch (...) {
        ::_exit(3);
      }
      ::_exit(0);
    }
  }
  ::close(Gate[0]);
  ::close(Gate[1]);
  for (pid_t Pid : Writers) {
    int Status = -1;
    ::waitpid(Pid, &Status, 0);
    EXPECT_TRUE(ExitedWith(Status, 0)) << Status;
  }
  TRegistry Reg;
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("Software\\Race"), false)) << Text(Reg.LastError());
  EXPECT_EQ(Reg.GetValueNames().size(), 1000);
  for (int W = 0; W < 2; ++W)
    for (int I = 0; I < 500; ++I)
      ASSERT_EQ(Reg.ReadString(QStringLiteral("W%1-%2").arg(W).arg(I)), QString::number(I * 7 + W)) << W << " " << I;
}

TEST(RegistryConcurrency, KilledWriterLeavesAWholeFile)
{
  TTempEnvironment Env;
  std::mt19937 Random(std::random_device{}());
  std::vector<int> Written;  // values found per round
  for (int Round = 0; Round < 15; ++Round) {
    SCOPED_TRACE(Round);
    int Started[2];
    ASSERT_EQ(::pipe(Started), 0);
    const QString Key = QStringLiteral("\\Software\\Kill\\Round%1").arg(Round);
    const pid_t Pid = ::fork();
    if (Pid == 0) {
      try {
        TRegistry Reg;
        Reg.OpenKey(Key, true);
        for (int I = 0;; ++I) {
          Reg.WriteString(QStringLiteral("V%1").arg(I), QStringLiteral("value %1").arg(I));
          if (I == 0)
            (void)!::write(Started[1], "x", 1);
        }
      } catch (...) {
      }
      ::_exit(1);
    }
    ::close(Started[1]);
    char Byte;
    ASSERT_EQ(::read(Started[0], &Byte, 1), 1);
    ::close(Started[0]);
    ::usleep(std::uniform_int_distribution<useconds_t>(0, 60000)(Random));
    ::kill(Pid, SIGKILL);
    int Status = -1;
    ::waitpid(Pid, &Status, 0);
    ASSERT_TRUE(WIFSIGNALED(Status));

    // The file parses and each round holds V0..Vn-1 in order: a prefix.
    TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey(Key, false)) << Text(Reg.LastError());
    const QStringList Names = Reg.GetValueNames();
    ASSERT_GE(Names.size(), 1);
    for (int I = 0; I < Names.size(); ++I) {
      ASSERT_EQ(Names[I], QStringLiteral("V%1").arg(I));
      ASSERT_EQ(Reg.ReadString(Names[I]), QStringLiteral("value %1").arg(I));
    }
    Written.push_back(int(Names.size()));
    for (int Earlier = 0; Earlier < Round; ++Earlier) {
      ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\Software\\Kill\\Round%1").arg(Earlier), false));
      EXPECT_EQ(Reg.GetValueNames().size(), Written[Earlier]);
    }
  }
  // A later writer gets past whatever the killed one left behind.
  TRegistry Reg;
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\Software\\Kill"), false));
  Reg.WriteString(QStringLiteral("After"), QStringLiteral("ok"));
  EXPECT_EQ(Reg.ReadString(QStringLiteral("After")), QStringLiteral("ok"));
}

// Another user ----------------------------------------------------------------

TEST(RegistryAccess, MachineKeysAreReadOnlyForOtherUsers)
{
  if (::geteuid() != 0)
    GTEST_SKIP() << "switching to uid 65534 (nobody) needs root; other users' access cannot be tested otherwise";
  TTempEnvironment Env;
  const QString Machine = StoreFilePath(HKEY_LOCAL_MACHINE);
  {
    TRegistry Reg;
    Reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(Reg.OpenKey(QStringLiteral("Software\\Corvane"), true));
    Reg.WriteString(QStringLiteral("Name"), QStringLiteral("machine"));
  }
  // The temporary folder is private to root; let nobody look in.
  ASSERT_EQ(::chmod(QFile::encodeName(Env.Root()).constData(), 0755), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(QFileInfo(Machine).absolutePath()).constData(), 0755), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(Machine).constData(), 0644), 0);
  const QByteArray Before = ReadAll(Machine);

  // Checks as uid/gid 65534; a nonzero exit names the first check that failed.
  const auto AsNobody = [&]() {
    return InChild([&]() -> int {
      if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
        return 10;
      TRegistry Writer;
      Writer.SetRootKey(HKEY_LOCAL_MACHINE);
      if (Writer.OpenKey(QStringLiteral("Software\\Corvane"), false))
        return 11;
      if (!Writer.LastError().contains(QStringLiteral("Access denied")))
        return 12;
      if (!Writer.OpenKeyReadOnly(QStringLiteral("Software\\Corvane")) ||
          Writer.ReadString(QStringLiteral("Name")) != QStringLiteral("machine"))
        return 13;
      TRegistry Reader(KEY_READ);
      Reader.SetRootKey(HKEY_LOCAL_MACHINE);
      if (!Reader.OpenKey(QStringLiteral("Software\\Corvane"), false) ||
          Reader.ReadString(QStringLiteral("Name")) != QStringLiteral("machine"))
        return 14;
      Writer.CloseKey();
      try {
        Writer.WriteString(QStringLiteral("Name"), QStringLiteral("changed"));
        return 15;
      } catch (const ERegistryException&) {
      }
      // The user's own store lies in root's folder here: not creatable.
      TRegistry User;
      if (User.OpenKey(QStringLiteral("Software"), true) || User.LastError().isEmpty())
        return 16;
      return 0;
    });
  };
  EXPECT_TRUE(ExitedWith(AsNobody(), 0));
  // A file anyone may write is still replaced by a rename in the folder,
  // which nobody cannot write.
  ASSERT_EQ(::chmod(QFile::encodeName(Machine).constData(), 0666), 0);
  EXPECT_TRUE(ExitedWith(AsNobody(), 0));
  EXPECT_EQ(ReadAll(Machine), Before);
}
