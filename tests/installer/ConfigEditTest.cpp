// The IDE configuration edits: dcc32.cfg and the library search path.

#include "installer/u_supportUnit.h"

#include "hostfw/Exceptions.h"
#include "platform/Registry.h"
#include "tests/installer/IdeRegistry.h"
#include "tests/support/TempEnvironment.h"

#include <QDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace u_supportUnit;
using InstallerTest::PutUserString;
using InstallerTest::UserKeyExists;
using InstallerTest::UserString;
using TestSupport::ReadAll;
using TestSupport::WriteAll;

namespace {

const QString D6Key = QStringLiteral("\\Software\\Borland\\Delphi\\6.0");
const QString XE2Key = QStringLiteral("\\Software\\Embarcadero\\BDS\\9.0");
const QString SearchPath = QStringLiteral("Search Path");

class ConfigEdit : public ::testing::Test {
protected:
  // An IDE with its root folder and an existing dcc32.cfg.
  QString MakeIde(const QString& Key, const QByteArray& Config = "-$O+\r\n")
  {
    const QString Root = Env.Root() + QStringLiteral("/ide");
    QDir().mkpath(Root + QStringLiteral("/Bin"));
    WriteAll(Root + QStringLiteral("/Bin/dcc32.cfg"), Config);
    PutUserString(Key, QStringLiteral("RootDir"), Root);
    return Root;
  }

  QString Search(const QString& Key) { return UserString(Key + QStringLiteral("\\Library"), SearchPath).value_or(QStringLiteral("<none>")); }
  QByteArray UserStore() { return ReadAll(Registry::StoreFilePath(Registry::HKEY_CURRENT_USER)); }

  TestSupport::TTempEnvironment Env;
};

TEST_F(ConfigEdit, OnlyLowerCaseJclEntriesReachTheConfiguration)
{
  const QString Root = MakeIde(D6Key);
  PutUserString(D6Key + QStringLiteral("\\Library"), SearchPath,
                QStringLiteral("/jcl/lib;$(BDS)/lib;/JCL/source;/opt/my jcl/source"));
  sdcc32exepath = QStringLiteral("stale");
  EditDCC32ConfigurationFile(QStringLiteral("/ignored"), QStringLiteral("D6"), QStringLiteral("  ") + D6Key + QStringLiteral(" "));

  EXPECT_EQ(sdcc32exepath, Root);
  EXPECT_EQ(ReadAll(Root + QStringLiteral("/Bin/dcc32.cfg")),
            QByteArray("-$O+\r\n"
                       "-u\"/jcl/lib\"\r\n-i\"/jcl/lib\"\r\n-r\"/jcl/lib\"\r\n-o\"/jcl/lib\"\r\n\r\n"
                       "-u\"/opt/my jcl/source\"\r\n-i\"/opt/my jcl/source\"\r\n-r\"/opt/my jcl/source\"\r\n"
                       "-o\"/opt/my jcl/source\"\r\n\r\n"
                       "\r\n"));

  // Each installation appends again; without JCL entries just the empty line.
  PutUserString(D6Key + QStringLiteral("\\Library"), SearchPath, QStringLiteral("$(BDS)/lib"));
  EditDCC32ConfigurationFile(QString(), QStringLiteral("D6"), D6Key);
  EXPECT_TRUE(ReadAll(Root + QStringLiteral("/Bin/dcc32.cfg")).endsWith("\r\n\r\n\r\n"));
}

TEST_F(ConfigEdit, NewerEditionsReadTheWin32LibraryAndKeepTheirRootAsRecorded)
{
  QString Root = MakeIde(XE2Key);
  Root += QLatin1Char('/');
  PutUserString(XE2Key, QStringLiteral("RootDir"), Root);
  PutUserString(XE2Key + QStringLiteral("\\Library"), SearchPath, QStringLiteral("/jcl/library"));
  PutUserString(XE2Key + QStringLiteral("\\Library\\Win32"), SearchPath, QStringLiteral("/jcl/win32"));
  EditDCC32ConfigurationFile(QString(), QStringLiteral("DXE2"), XE2Key);
  EXPECT_EQ(sdcc32exepath, Root);
  const QByteArray Config = ReadAll(Root + QStringLiteral("Bin/dcc32.cfg"));
  EXPECT_TRUE(Config.contains("-u\"/jcl/win32\"\r\n"));
  EXPECT_FALSE(Config.contains("library"));

  // The same key read for another code goes to Library.
  EditDCC32ConfigurationFile(QString(), QStringLiteral("D2010"), XE2Key);
  EXPECT_TRUE(ReadAll(Root + QStringLiteral("Bin/dcc32.cfg")).contains("-u\"/jcl/library\"\r\n"));
}

TEST_F(ConfigEdit, EntriesThatWouldBreakTheirLineAreLeftOut)
{
  const QString Root = MakeIde(D6Key, QByteArray());
  PutUserString(D6Key + QStringLiteral("\\Library"), SearchPath,
                QStringLiteral("/jcl/a\"b;/jcl/line\r\n-u\"/evil\";/jcl/ok"));
  EditDCC32ConfigurationFile(QString(), QStringLiteral("D6"), D6Key);
  const QByteArray Config = ReadAll(Root + QStringLiteral("/Bin/dcc32.cfg"));
  EXPECT_EQ(Config, QByteArray("-u\"/jcl/ok\"\r\n-i\"/jcl/ok\"\r\n-r\"/jcl/ok\"\r\n-o\"/jcl/ok\"\r\n\r\n\r\n"));
}

TEST_F(ConfigEdit, MissingConfigurationOrRootRaises)
{
  const QString Root = MakeIde(D6Key);
  QFile::remove(Root + QStringLiteral("/Bin/dcc32.cfg"));
  EXPECT_THROW(EditDCC32ConfigurationFile(QString(), QStringLiteral("D6"), D6Key), EInOutError);
  EXPECT_FALSE(QFile::exists(Root + QStringLiteral("/Bin/dcc32.cfg")));

  // No key, or no root folder in it: no file at the root of the file system
  // is taken for the IDE's.
  EXPECT_THROW(EditDCC32ConfigurationFile(QString(), QStringLiteral("D7"), QStringLiteral("\\Software\\Borland\\Delphi\\7.0")),
               EInOutError);
  PutUserString(D6Key, QStringLiteral("RootDir"), QString());
  EXPECT_THROW(EditDCC32ConfigurationFile(QString(), QStringLiteral("D6"), D6Key), EInOutError);
}

// The lines land whole or not at all: a torn last line would be built on
// by the next installation. A file too large for the process stands in
// for a full disk.
TEST_F(ConfigEdit, AFailedAppendLeavesTheFileAsItWasAndSaysWhy)
{
  const QString Root = MakeIde(D6Key, "-$O+\r\n");
  PutUserString(D6Key + QStringLiteral("\\Library"), SearchPath, QStringLiteral("/jcl/lib"));
  struct rlimit Before {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &Before), 0);
  const auto OldSignal = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit Small = Before;
  Small.rlim_cur = 20;  // room for a part of the lines only
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &Small), 0);
  QString Reason;
  try {
    EditDCC32ConfigurationFile(QString(), QStringLiteral("D6"), D6Key);
  } catch (const EInOutError& E) {
    Reason = E.Message();
  }
  setrlimit(RLIMIT_FSIZE, &Before);
  std::signal(SIGXFSZ, OldSignal);
  EXPECT_TRUE(Reason.contains(QString::fromLocal8Bit(std::strerror(EFBIG)))) << Reason.toStdString();
  EXPECT_EQ(ReadAll(Root + QStringLiteral("/Bin/dcc32.cfg")), QByteArray("-$O+\r\n"));
}

// A dcc32.cfg that is no regular file is refused at once: a FIFO would
// hold the installer in its open for good.
TEST_F(ConfigEdit, AConfigurationThatIsNoRegularFileIsRefusedWithoutWaiting)
{
  const QString Root = MakeIde(D6Key);
  const QString Config = Root + QStringLiteral("/Bin/dcc32.cfg");
  QFile::remove(Config);
  ASSERT_EQ(mkfifo(QFile::encodeName(Config).constData(), 0600), 0);
  try {
    EditDCC32ConfigurationFile(QString(), QStringLiteral("D6"), D6Key);
    ADD_FAILURE() << "appended to a FIFO";
  } catch (const EInOutError& E) {
    EXPECT_TRUE(E.Message().contains(QStringLiteral("is not a regular file"))) << E.Message().toStdString();
  }
  QFile::remove(Config);
  QDir().mkpath(Config);
  EXPECT_THROW(OpenConfigurationFile(Config), EInOutError);
}

// RootDir is taken trimmed, and only as an absolute path: a relative one
// would name a file below whatever folder the installer runs in.
TEST_F(ConfigEdit, RootDirIsTrimmedAndMustBeAbsolute)
{
  const QString Root = MakeIde(D6Key, QByteArray());
  PutUserString(D6Key, QStringLiteral("RootDir"), QStringLiteral("  ") + Root + QStringLiteral(" \t"));
  EditDCC32ConfigurationFile(QString(), QStringLiteral("D6"), D6Key);
  EXPECT_EQ(sdcc32exepath, Root);
  EXPECT_EQ(ReadAll(Root + QStringLiteral("/Bin/dcc32.cfg")), QByteArray("\r\n"));

  const QString Before = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(Env.Root()));
  PutUserString(D6Key, QStringLiteral("RootDir"), QStringLiteral(" ide"));
  EXPECT_THROW(EditDCC32ConfigurationFile(QString(), QStringLiteral("D6"), D6Key), EInOutError);
  QDir::setCurrent(Before);
  EXPECT_EQ(ReadAll(Root + QStringLiteral("/Bin/dcc32.cfg")), QByteArray("\r\n"));
}

TEST_F(ConfigEdit, SplitKeepsEveryPieceAsItIs)
{
  StringList::TStringList List;
  List.Add(QStringLiteral("old"));
  Split(QLatin1Char(';'), QStringLiteral(" a b ;;\"q\" x;\t;"), &List);
  EXPECT_EQ(List.Strings(), (QStringList{QStringLiteral(" a b "), QString(), QStringLiteral("\"q\" x"),
                                          QStringLiteral("\t"), QString()}));
  EXPECT_EQ(List.Delimiter, QLatin1Char(';'));
  Split(QLatin1Char(';'), QString(), &List);
  EXPECT_EQ(List.Strings(), QStringList{QString()});
  try {
    Split(QLatin1Char(';'), QStringLiteral("a"), nullptr);
    FAIL() << "no assertion";
  } catch (const EAssertionFailed& E) {
    EXPECT_TRUE(E.Message().startsWith(QStringLiteral("Assertion failure (u_supportUnit")));
  }
}

TEST_F(ConfigEdit, ComparisonHelpers)
{
  EXPECT_EQ(PrepPathForComparasion(QString()), QStringLiteral("/"));
  EXPECT_EQ(PrepPathForComparasion(QStringLiteral("/Comp/X/")), QStringLiteral("/comp/x/"));
  EXPECT_EQ(PrepPathForComparasion(QStringLiteral("/Comp/X")), QStringLiteral("/comp/x/"));
  // The root stands for the drive prefix.
  EXPECT_EQ(RemovalCriterion(QStringLiteral("/comp/CVVesparo/D6/DCU")), QStringLiteral("comp/CVVesparo/D6/DCU"));
  EXPECT_EQ(RemovalCriterion(QStringLiteral("/")), QString());
  StringList::TStringList Remove;
  Remove.Add(QString());
  EXPECT_FALSE(PathMatchesRemoveCriteria(QStringLiteral("/anything"), Remove));
  Remove.Add(QStringLiteral("CVVesparo/D6/DCU"));
  EXPECT_TRUE(PathMatchesRemoveCriteria(QStringLiteral("/x/CVVesparo/D6/DCU"), Remove));
  EXPECT_TRUE(PathMatchesRemoveCriteria(QStringLiteral(" CVVesparo/D6/DCU// "), Remove));
  EXPECT_FALSE(PathMatchesRemoveCriteria(QStringLiteral("/x/cvvesparo/d6/DCU"), Remove));
  // Only whole path parts: a longer last part, a folder below, or a first
  // part that merely ends like the criterion's are other folders.
  for (const char* Other : {"/x/CVVesparo/D6/DCU_mine", "/x/CVVesparo/D6/DCUtils/src", "/x/MyCVVesparo/D6/DCU",
                            "/x/CVVesparo/D6/DCU/sub"})
    EXPECT_FALSE(PathMatchesRemoveCriteria(QLatin1String(Other), Remove)) << Other;
}

TEST_F(ConfigEdit, StaleCopyOfThePackageFolderIsReplaced)
{
  PutUserString(D6Key + QStringLiteral("\\Library"), SearchPath,
                QStringLiteral("a;/old/comp/CVVesparo/D6/DCU;;b;/mnt/other/comp/CVVesparo/D6/DCU/;"
                               "/old/comp/CVVesparo/D6/DCU_mine;/old/comp/CVVesparo/D6/DCUtils/src;"
                               "/old/mycomp/CVVesparo/D6/DCU; /x/comp/CVVesparo/D6/DCU "));
  AddLibSearchPath(QStringLiteral("/comp/CVVesparo/D6/DCU"), D6Key);
  EXPECT_EQ(Search(D6Key), QStringLiteral("a;b;/old/comp/CVVesparo/D6/DCU_mine;/old/comp/CVVesparo/D6/DCUtils/src;"
                                          "/old/mycomp/CVVesparo/D6/DCU;/comp/CVVesparo/D6/DCU"));
  EXPECT_EQ(UserString(D6Key + QStringLiteral("\\Globals"), QStringLiteral("ForceEnvOptionsUpdate")), QStringLiteral("1"));

  // Another package folder is no stale copy; nor is a name that only
  // differs in case.
  PutUserString(D6Key + QStringLiteral("\\Library"), SearchPath,
                QStringLiteral("/old/comp/CVVesparo/D7/DCU;/OLD/COMP/CVVESPARO/D6/DCU"));
  AddLibSearchPath(QStringLiteral("/comp/CVVesparo/D6/DCU"), D6Key);
  EXPECT_EQ(Search(D6Key),
            QStringLiteral("/old/comp/CVVesparo/D7/DCU;/OLD/COMP/CVVESPARO/D6/DCU;/comp/CVVesparo/D6/DCU"));
}

TEST_F(ConfigEdit, FolderAlreadyListedChangesNothing)
{
  for (const QString& Listed : {QStringLiteral("/COMP/CVVesparo/D6/dcu"), QStringLiteral("/comp/CVVesparo/D6/DCU/"),
                                QStringLiteral("  /comp/CVVesparo/D6/DCU ")}) {
    SCOPED_TRACE(Listed.toStdString());
    TestSupport::TTempEnvironment Fresh;
    PutUserString(D6Key + QStringLiteral("\\Library"), SearchPath, QStringLiteral("a;;") + Listed + QStringLiteral(";b"));
    const QByteArray Before = UserStore();
    AddLibSearchPath(QStringLiteral("/comp/CVVesparo/D6/DCU"), D6Key);
    // Empty entries too stay as long as nothing else changes.
    EXPECT_EQ(UserStore(), Before);
    EXPECT_FALSE(UserKeyExists(D6Key + QStringLiteral("\\Globals")));
  }
}

TEST_F(ConfigEdit, NoSearchPathNoChange)
{
  AddLibSearchPath(QStringLiteral("/comp/CVVesparo/D6/DCU"), D6Key);
  EXPECT_FALSE(UserKeyExists(D6Key));
  // The newer editions' update addresses Library, not Library\Win32.
  PutUserString(XE2Key + QStringLiteral("\\Library\\Win32"), SearchPath, QStringLiteral("/x"));
  AddLibSearchPath(QStringLiteral("/comp/CVVesparo/DXE2/DCU"), XE2Key);
  EXPECT_EQ(UserString(XE2Key + QStringLiteral("\\Library\\Win32"), SearchPath), QStringLiteral("/x"));
  EXPECT_FALSE(UserKeyExists(XE2Key + QStringLiteral("\\Globals")));
  PutUserString(XE2Key + QStringLiteral("\\Library"), SearchPath, QString());
  AddLibSearchPath(QStringLiteral("/comp/CVVesparo/DXE2/DCU"), XE2Key);
  // An empty first entry stays first.
  EXPECT_EQ(Search(XE2Key), QStringLiteral(";/comp/CVVesparo/DXE2/DCU"));
}

}  // namespace
