#include "platform/Registry.h"

#include "tests/support/TempEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <numeric>
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

// A small ext2 file system mounted from an image for the object's lifetime.
// Its inodes of 128 bytes keep times in whole seconds, as older and network
// file systems do. Needs root and a loop device; Why says what was missing.
class TWholeSecondsFileSystem {
public:
  explicit TWholeSecondsFileSystem(const QString& Folder) : FFolder(Folder)
  {
    if (::geteuid() != 0) {
      Why = QStringLiteral("mounting a file system needs root");
      return;
    }
    const QString Image = Folder + QStringLiteral(".img");
    QDir().mkpath(Folder);
    QFile File(Image);
    if (!File.open(QIODevice::WriteOnly) || !File.resize(8 << 20)) {
      Why = QStringLiteral("cannot make the image");
      return;
    }
    File.close();
    if (!Run(QStringLiteral("mkfs.ext2"), {QStringLiteral("-q"), QStringLiteral("-F"), QStringLiteral("-I"),
                                           QStringLiteral("128"), Image}) ||
        !Run(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("loop"), Image, Folder}))
      return;
    FMounted = true;
  }
  ~TWholeSecondsFileSystem()
  {
    if (FMounted)
      Run(QStringLiteral("umount"), {FFolder});
  }
  TWholeSecondsFileSystem(const TWholeSecondsFileSystem&) = delete;
  TWholeSecondsFileSystem& operator=(const TWholeSecondsFileSystem&) = delete;

  QString Why;

private:
  bool Run(const QString& Program, const QStringList& Arguments)
  {
    QProcess Process;
    Process.setProcessChannelMode(QProcess::MergedChannels);
    Process.start(Program, Arguments);
    if (Process.waitForFinished(60000) && Process.exitStatus() == QProcess::NormalExit && Process.exitCode() == 0)
      return true;
    Why = QStringLiteral("%1 failed: %2 %3")
            .arg(Program, Process.errorString(), QString::fromLocal8Bit(Process.readAll()).trimmed());
    return false;
  }

  QString FFolder;
  bool FMounted = false;
};

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
    if (QLatin1String(Name) != QLatin1String("Exp")) {
      EXPECT_THROW(Reg.ReadString(QLatin1String(Name)), ERegistryException) << Name;
    }
    EXPECT_THROW(Reg.ReadInteger(QLatin1String(Name)), ERegistryException) << Name;
  }
  // An expandable string reads as its text, unexpanded.
  EXPECT_EQ(Reg.ReadString(QStringLiteral("Exp")), QStringLiteral("%HOME%"));
  EXPECT_EQ(Reg.ReadValue(QStringLiteral("Exp")).Type, RegistryFile::REG_EXPAND_SZ);
  EXPECT_EQ(Reg.ReadValue(QStringLiteral("Bin")).Bytes, QByteArray("\x01\x02\xff", 3));

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

TEST(RegistryPersistence, SectionsOfOneKeyAnywhereInTheFileMeetInIt)
{
  TTempEnvironment Env;
  // Deeper keys before their parents, one key in several sections and
  // spellings: the first spelling names it, the last data of a value wins.
  WriteUserFile(Header +
                "[HKEY_CURRENT_USER\\Soft\\A\\B\\C]\r\n\"X\"=\"1\"\r\n\r\n"
                "[HKEY_CURRENT_USER\\soft\\a]\r\n\"Y\"=\"2\"\r\n\r\n"
                "[HKEY_CURRENT_USER\\SOFT\\A\\b]\r\n; a comment\r\n\"Z\"=dword:3\r\n\r\n"
                "[HKEY_CURRENT_USER]\r\n@=\"root\"\r\n"
                "[hkey_current_user\\Soft\\A\\B\\c]\r\n\"x\"=\"4\"\r\n\"W\"=hex:01,\\\r\n  02\r\n");
  TRegistry Reg;
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\SOFT\\A\\B\\C"), false)) << Text(Reg.LastError());
  EXPECT_EQ(Reg.GetValueNames(), QStringList({"X", "W"}));
  EXPECT_EQ(Reg.ReadString(QStringLiteral("x")), QStringLiteral("4"));
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\Soft\\A"), false));
  EXPECT_EQ(Reg.GetKeyNames(), QStringList{QStringLiteral("B")});
  EXPECT_EQ(Reg.ReadString(QStringLiteral("Y")), QStringLiteral("2"));

  Reg.WriteString(QStringLiteral("New"), QStringLiteral("n"));
  EXPECT_EQ(ReadAll(UserFile()).toStdString(), (Header +
                                                 "[HKEY_CURRENT_USER]\r\n@=\"root\"\r\n\r\n"
                                                 "[HKEY_CURRENT_USER\\Soft]\r\n\r\n"
                                                 "[HKEY_CURRENT_USER\\Soft\\A]\r\n\"Y\"=\"2\"\r\n\"New\"=\"n\"\r\n\r\n"
                                                 "[HKEY_CURRENT_USER\\Soft\\A\\B]\r\n\"Z\"=dword:00000003\r\n\r\n"
                                                 "[HKEY_CURRENT_USER\\Soft\\A\\B\\C]\r\n"
                                                 "\"X\"=\"4\"\r\n\"W\"=hex:01,02\r\n\r\n")
                                                  .toStdString());
}

TEST(RegistryPersistence, KeysBelowAPathEverySectionSharesAreFoundAndKept)
{
  TTempEnvironment Env;
  WriteUserFile(Header +
                "[HKEY_CURRENT_USER\\SOFTWARE\\Vendor\\App\\K1]\r\n\"V\"=\"1\"\r\n\r\n"
                "[HKEY_CURRENT_USER\\SOFTWARE\\Vendor\\App\\K2\\Deep]\r\n\"D\"=\"d\"\r\n\r\n"
                "[HKEY_CURRENT_USER\\SOFTWARE\\Vendor\\App\\K2]\r\n\"V\"=\"2\"\r\n\r\n");
  TRegistry Reg;
  // Looking for what is not there loses nothing of what is.
  EXPECT_FALSE(Reg.KeyExists(QStringLiteral("\\Other")));
  EXPECT_FALSE(Reg.KeyExists(QStringLiteral("\\software\\Other")));
  EXPECT_FALSE(Reg.KeyExists(QStringLiteral("\\SOFTWARE\\Vendor\\App\\K3")));
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\software\\VENDOR\\app\\k2\\DEEP"), false)) << Text(Reg.LastError());
  EXPECT_EQ(Reg.ReadString(QStringLiteral("d")), QStringLiteral("d"));
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\SOFTWARE\\Vendor\\App"), false));
  EXPECT_EQ(Reg.GetKeyNames(), QStringList({"K1", "K2"}));
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("K1"), false));
  EXPECT_EQ(Reg.ReadString(QStringLiteral("V")), QStringLiteral("1"));

  // Rewritten as read, with the new value.
  Reg.WriteString(QStringLiteral("W"), QStringLiteral("w"));
  EXPECT_EQ(ReadAll(UserFile()).toStdString(), (Header +
                                                 "[HKEY_CURRENT_USER\\SOFTWARE]\r\n\r\n"
                                                 "[HKEY_CURRENT_USER\\SOFTWARE\\Vendor]\r\n\r\n"
                                                 "[HKEY_CURRENT_USER\\SOFTWARE\\Vendor\\App]\r\n\r\n"
                                                 "[HKEY_CURRENT_USER\\SOFTWARE\\Vendor\\App\\K1]\r\n"
                                                 "\"V\"=\"1\"\r\n\"W\"=\"w\"\r\n\r\n"
                                                 "[HKEY_CURRENT_USER\\SOFTWARE\\Vendor\\App\\K2]\r\n\"V\"=\"2\"\r\n\r\n"
                                                 "[HKEY_CURRENT_USER\\SOFTWARE\\Vendor\\App\\K2\\Deep]\r\n"
                                                 "\"D\"=\"d\"\r\n\r\n")
                                                  .toStdString());
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
  Env.Set("HOME", std::nullopt);  // the account's home then
  EXPECT_EQ(UserFile(), QDir::cleanPath(QFile::decodeName(::getpwuid(::geteuid())->pw_dir) +
                                        QStringLiteral("/.config/Corvane/registry/user.reg")));
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

TEST(RegistryStore, ALinkedFileIsChangedAtItsTargetAndStaysALink)
{
  TTempEnvironment Env;
  const QString Shared = Env.Root() + QStringLiteral("/shared/settings.reg");
  QDir().mkpath(QFileInfo(Shared).absolutePath());
  WriteAll(Shared, Header + "[HKEY_CURRENT_USER\\Software]\r\n\"Old\"=\"o\"\r\n\r\n");
  // A chain: user.reg -> a link elsewhere -> relative to it, the file.
  const QString Middle = Env.Root() + QStringLiteral("/links/middle.reg");
  QDir().mkpath(QFileInfo(Middle).absolutePath());
  QDir().mkpath(QFileInfo(UserFile()).absolutePath());
  ASSERT_EQ(::symlink("../shared/settings.reg", QFile::encodeName(Middle).constData()), 0);
  ASSERT_EQ(::symlink(QFile::encodeName(Middle).constData(), QFile::encodeName(UserFile()).constData()), 0);

  TRegistry Reg;
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("Software"), false)) << Text(Reg.LastError());
  Reg.WriteString(QStringLiteral("New"), QStringLiteral("n"));
  EXPECT_EQ(QFileInfo(UserFile()).symLinkTarget(), Middle);
  EXPECT_TRUE(QFileInfo(Middle).isSymLink());
  EXPECT_EQ(ReadAll(Shared), Header + "[HKEY_CURRENT_USER\\Software]\r\n\"Old\"=\"o\"\r\n\"New\"=\"n\"\r\n\r\n");
  EXPECT_TRUE(QFileInfo::exists(Shared + QStringLiteral(".lock")));
  EXPECT_FALSE(QFileInfo::exists(Shared + QStringLiteral(".new")));
  EXPECT_EQ(TRegistry().ReadString(QStringLiteral("Software\\Missing")), QString());
  EXPECT_EQ(Reg.ReadString(QStringLiteral("New")), QStringLiteral("n"));

  // A link to a file not there yet, in a folder not there yet.
  const QString Later = Env.Root() + QStringLiteral("/later/user.reg");
  ASSERT_TRUE(QFile::remove(UserFile()));
  ASSERT_EQ(::symlink(QFile::encodeName(Later).constData(), QFile::encodeName(UserFile()).constData()), 0);
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\Software\\Fresh"), true)) << Text(Reg.LastError());
  EXPECT_TRUE(QFileInfo(UserFile()).isSymLink());
  EXPECT_TRUE(ReadAll(Later).contains("[HKEY_CURRENT_USER\\Software\\Fresh]"));

  // A link to itself is reported, not followed for ever.
  ASSERT_TRUE(QFile::remove(UserFile()));
  ASSERT_EQ(::symlink("user.reg", QFile::encodeName(UserFile()).constData()), 0);
  EXPECT_FALSE(Reg.OpenKey(QStringLiteral("\\Software"), true));
  EXPECT_TRUE(Reg.LastError().contains(UserFile())) << Text(Reg.LastError());
  Reg.CloseKey();
  EXPECT_THROW(Reg.WriteString(QStringLiteral("V"), QStringLiteral("v")), ERegistryException);
  EXPECT_TRUE(QFileInfo(UserFile()).isSymLink());
}

TEST(RegistryStore, AnObjectSeesEveryChangeOfTheFileItHasRead)
{
  TTempEnvironment Env;
  TRegistry Reg;
  // Rewritten in place with the same size, as an editor would, at once or
  // after a pause long enough for what was read to be kept.
  for (int Round = 0; Round < 40; ++Round) {
    SCOPED_TRACE(Round);
    const QByteArray Digit = QByteArray::number(Round % 10);
    WriteUserFile(Header + "[HKEY_CURRENT_USER\\Software]\r\n\"V\"=\"" + Digit + "\"\r\n");
    if (Round % 3 == 0)
      ::usleep(30000);
    ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\Software"), false)) << Text(Reg.LastError());
    ASSERT_EQ(Reg.ReadString(QStringLiteral("V")), QString::fromLatin1(Digit));
  }
  // Replaced by another writer.
  TRegistry Other;
  ASSERT_TRUE(Other.OpenKey(QStringLiteral("\\Software"), false));
  Other.WriteString(QStringLiteral("V"), QStringLiteral("other"));
  EXPECT_EQ(Reg.ReadString(QStringLiteral("V")), QStringLiteral("other"));
}

TEST(RegistryStore, AChangeInTheSecondOfTheLastIsSeenWhereTimesAreWholeSeconds)
{
  TTempEnvironment Env;
  const QString Config = Env.Root() + QStringLiteral("/seconds");
  TWholeSecondsFileSystem FileSystem(Config);
  if (!FileSystem.Why.isEmpty())
    GTEST_SKIP() << Text(FileSystem.Why);
  Env.Set("XDG_CONFIG_HOME", Config);
  // Rewritten in place with the same size, as an editor may save it; each
  // change comes within a few milliseconds, nearly always in one second.
  const auto Store = [](int Digit) {
    return Header + "[HKEY_CURRENT_USER\\Software]\r\n\"V\"=\"" + QByteArray::number(Digit) + "\"\r\n";
  };
  TRegistry Reg;
  for (int Round = 0; Round < 10; ++Round) {
    SCOPED_TRACE(Round);
    WriteUserFile(Store(Round));
    ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\Software"), false)) << Text(Reg.LastError());
    ASSERT_EQ(Reg.ReadString(QStringLiteral("V")), QString::number(Round));
    WriteUserFile(Store(9 - Round));
    EXPECT_EQ(Reg.ReadString(QStringLiteral("V")), QString::number(9 - Round));
    // A change made on top of the file keeps what the other made.
    Reg.WriteString(QStringLiteral("W"), QStringLiteral("w"));
    EXPECT_TRUE(ReadAll(UserFile()).contains("\"V\"=\"" + QByteArray::number(9 - Round) + "\"")) << ReadAll(UserFile()).toStdString();
  }
}

// Size and limits ---------------------------------------------------------------

TEST(RegistryScale, ManySiblingsAreFoundInAnyCaseAndKeepTheirOrder)
{
  TTempEnvironment Env;
  // Written by hand in no order; one key twice, in another case.
  constexpr int Count = 3000;
  std::vector<int> Order(Count);
  std::iota(Order.begin(), Order.end(), 0);
  std::shuffle(Order.begin(), Order.end(), std::mt19937(1));
  QByteArray Text = Header;
  for (const int I : Order)
    Text += "[HKEY_CURRENT_USER\\Software\\Key" + QByteArray::number(I) + "]\r\n\"Value\"=\"" + QByteArray::number(I) +
            "\"\r\n\r\n";
  Text += "[HKEY_CURRENT_USER\\Software\\\xc3\x84rger]\r\n[hkey_current_user\\SOFTWARE\\key7]\r\n\"Extra\"=\"e\"\r\n";
  Text += "[HKEY_CURRENT_USER\\Software\\\xe2\x84\xaa" "elvin]\r\n";  // a Kelvin sign, which folds to "k"
  Text += "[HKEY_CURRENT_USER\\Software\\Many]\r\n";
  for (int I = 0; I < Count; ++I)
    Text += "\"V" + QByteArray::number(I) + "\"=dword:" + QByteArray::number(I, 16) + "\r\n";
  WriteUserFile(Text);

  TRegistry Reg;
  for (const int I : {0, 1, 10, 1499, Count - 1}) {
    ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\software\\KEY%1").arg(I), false)) << I;
    EXPECT_EQ(Reg.ReadString(QStringLiteral("VALUE")), QString::number(I));
  }
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\Software\\Key7"), false));
  EXPECT_EQ(Reg.GetValueNames(), QStringList({"Value", "Extra"}));
  EXPECT_TRUE(Reg.KeyExists(QStringLiteral("\\SOFTWARE\\\u00e4RGER")));
  EXPECT_TRUE(Reg.KeyExists(QStringLiteral("\\Software\\KELVIN")));
  EXPECT_FALSE(Reg.KeyExists(QStringLiteral("\\Software\\Key30000")));
  EXPECT_FALSE(Reg.KeyExists(QStringLiteral("\\Software\\Ke")));

  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\Software"), false));
  QStringList Expected{QStringLiteral("Many"), QStringLiteral("\u00c4rger"), QStringLiteral("\u212aelvin")};
  for (int I = 0; I < Count; ++I)
    Expected << QStringLiteral("Key%1").arg(I);
  std::sort(Expected.begin(), Expected.end(),
            [](const QString& A, const QString& B) { return A.compare(B, Qt::CaseInsensitive) < 0; });
  EXPECT_EQ(Reg.GetKeyNames(), Expected);

  // Taking one out of the middle leaves the others where they were found.
  ASSERT_TRUE(Reg.DeleteKey(QStringLiteral("key1500")));
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("Many"), false));
  ASSERT_TRUE(Reg.DeleteValue(QStringLiteral("v1500")));
  EXPECT_EQ(Reg.GetValueNames().size(), Count - 1);
  for (const int I : {0, 1499, 1501, Count - 1})
    EXPECT_EQ(Reg.ReadInteger(QStringLiteral("V%1").arg(I)), I) << I;
  Reg.WriteInteger(QStringLiteral("v1501"), -1);
  EXPECT_EQ(Reg.ReadInteger(QStringLiteral("V1501")), -1);
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\Software\\Key1501"), false));
  EXPECT_EQ(Reg.ReadString(QStringLiteral("Value")), QStringLiteral("1501"));
  EXPECT_FALSE(Reg.KeyExists(QStringLiteral("\\Software\\Key1500")));

  // The file lists the keys in the same order.
  Expected.removeOne(QStringLiteral("Key1500"));
  QStringList Sections;
  for (const QByteArray& Line : ReadAll(UserFile()).split('\n'))
    if (Line.startsWith("[HKEY_CURRENT_USER\\Software\\"))
      Sections << QString::fromUtf8(Line.mid(28, Line.size() - 30));
  EXPECT_EQ(Sections, Expected);
}

TEST(RegistryLimits, NamesAndDepthsUpToTheLimitsAndAClearErrorBeyond)
{
  TTempEnvironment Env;
  TRegistry Reg;
  const QString LongestKey(255, QLatin1Char('k'));
  const QString LongestValue(16383, QLatin1Char('v'));
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\Software\\") + LongestKey, true)) << Text(Reg.LastError());
  Reg.WriteString(LongestValue, QStringLiteral("longest"));
  const QString Deepest = QStringLiteral("\\Software\\Deep\\") + QStringList(510, QStringLiteral("d")).join('\\');
  ASSERT_TRUE(Reg.OpenKey(Deepest, true)) << Text(Reg.LastError());
  EXPECT_EQ(Reg.CurrentPath().count(QLatin1Char('\\')) + 1, 512);
  const QByteArray Before = ReadAll(UserFile());

  EXPECT_FALSE(Reg.OpenKey(QStringLiteral("one more"), true));  // relative to the open key
  EXPECT_TRUE(Reg.LastError().contains(QStringLiteral("513 levels below the root, at most 512 are allowed")))
    << Text(Reg.LastError());
  EXPECT_EQ(Reg.CurrentPath().count(QLatin1Char('\\')) + 1, 512);
  // One command line's worth of levels is refused before anything grows.
  EXPECT_FALSE(Reg.OpenKey(QStringList(10000, QStringLiteral("x")).join('\\'), true));
  EXPECT_TRUE(Reg.LastError().contains(QStringLiteral("10512 levels"))) << Text(Reg.LastError());
  EXPECT_FALSE(Reg.OpenKey(QStringLiteral("\\Software\\") + QString(256, QLatin1Char('k')), true));
  EXPECT_TRUE(Reg.LastError().contains(QStringLiteral("has 256 characters, at most 255 are allowed")))
    << Text(Reg.LastError());
  EXPECT_LT(Reg.LastError().size(), 300);  // the name is cut short
  ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\Software"), false));
  try {
    Reg.WriteString(LongestValue + QLatin1Char('v'), QStringLiteral("x"));
    ADD_FAILURE() << "a value name of 16384 characters";
  } catch (const ERegistryException& Error) {
    EXPECT_TRUE(Error.Message().contains(QStringLiteral("has 16384 characters, at most 16383 are allowed")))
      << Text(Error.Message());
  }
  EXPECT_EQ(ReadAll(UserFile()), Before);

  TRegistry Again;
  ASSERT_TRUE(Again.OpenKey(QStringLiteral("\\Software\\") + LongestKey, false)) << Text(Again.LastError());
  EXPECT_EQ(Again.ReadString(LongestValue), QStringLiteral("longest"));
  EXPECT_TRUE(Again.KeyExists(Deepest));
}

TEST(RegistryLimits, AFileBeyondThemIsReportedAndLeftAlone)
{
  struct TCase {
    QByteArray Bytes;
    QString Where;
    QString Why;
  };
  const QString Section = QStringLiteral("line 3: key \"HKEY_CURRENT_USER\\");
  const TCase Cases[] = {
    {Header + "[HKEY_CURRENT_USER" + QByteArray("\\d").repeated(513) + "]\r\n", Section + QStringLiteral("d\\d"),
     QStringLiteral("513 levels below the root, at most 512")},
    {Header + "[HKEY_CURRENT_USER\\" + QByteArray(256, 'k') + "]\r\n", Section + QStringLiteral("kkk"),
     QStringLiteral("has 256 characters, at most 255")},
    {Header + "[HKEY_CURRENT_USER\\Software]\r\n\"" + QByteArray(16384, 'v') + "\"=\"x\"\r\n",
     QStringLiteral("line 4: the value name \"vvv"), QStringLiteral("has 16384 characters, at most 16383")},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Text(Case.Why));
    TTempEnvironment Env;
    WriteUserFile(Case.Bytes);
    TRegistry Reg;
    EXPECT_FALSE(Reg.KeyExists(QStringLiteral("Software")));
    EXPECT_TRUE(Reg.LastError().contains(Case.Where)) << Text(Reg.LastError());
    EXPECT_TRUE(Reg.LastError().contains(Case.Why)) << Text(Reg.LastError());
    EXPECT_THROW(Reg.WriteString(QStringLiteral("A"), QStringLiteral("a")), ERegistryException);
    EXPECT_EQ(ReadAll(UserFile()), Case.Bytes);
  }
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

  // A pipe, which would wait for a writer, and a link to an endless device.
  ASSERT_TRUE(QDir(UserFile()).removeRecursively());
  ASSERT_EQ(::mkfifo(QFile::encodeName(UserFile()).constData(), 0600), 0);
  for (const bool Pipe : {true, false}) {
    SCOPED_TRACE(Pipe ? "pipe" : "device");
    TRegistry Other;
    EXPECT_FALSE(Other.KeyExists(QStringLiteral("Software")));
    EXPECT_TRUE(Other.LastError().contains(QStringLiteral("is no regular file"))) << Text(Other.LastError());
    EXPECT_FALSE(Other.OpenKey(QStringLiteral("Software"), true));
    ASSERT_TRUE(QFile::remove(UserFile()));
    ASSERT_EQ(::symlink("/dev/zero", QFile::encodeName(UserFile()).constData()), 0);
  }
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
