// The package installation for each edition: the batch line's bytes, the
// copy, the registration and the search path.

#include "installer/u_supportUnit.h"

#include "hostfw/Exceptions.h"
#include "installer/CreatedFolders.h"
#include "platform/Registry.h"
#include "tests/installer/IdeRegistry.h"
#include "tests/support/TempEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

using namespace u_supportUnit;
using InstallerTest::PutUserString;
using InstallerTest::UserKeyExists;
using InstallerTest::UserString;
using TestSupport::ReadAll;
using TestSupport::WriteAll;

namespace {

struct TCase {
  TDelphiVersions Version;
  const char* Code;
  bool RootWithSeparator;  // the newer IDEs record their root so
  const char* KnownText;
};

const TCase Cases[] = {
  {TDelphiVersions::Delphi6, "D6", false, "Delphi 6 Corvane Bpl File"},
  {TDelphiVersions::Delphi7, "D7", false, "Delphi 7 Corvane Bpl File"},
  {TDelphiVersions::Delphi2006, "D2006", false, "Delphi 2006 Corvane Bpl File"},
  {TDelphiVersions::Delphi2010, "D2010", true, "Delphi 2010 Corvane Bpl File"},
  {TDelphiVersions::DelphiXE2, "DXE2", true, "Delphi XE2 Corvane Bpl File"},
  {TDelphiVersions::DelphiXE3, "DXE3", true, "Delphi XE3 Corvane Bpl File"},
};

class InstallPack : public ::testing::Test {
protected:
  InstallPack()
  {
    const QString Installer = Env.Root() + QStringLiteral("/installer");
    for (const TCase& Case : Cases) {
      const QString Dcu = Installer + QStringLiteral("/Packages/") + QLatin1String(Case.Code) + QStringLiteral("/DCU");
      QDir().mkpath(Dcu + QStringLiteral("/sub"));
      WriteAll(Dcu + QStringLiteral("/CVVesparo") + QLatin1String(Case.Code) + QStringLiteral(".dpk"), "package");
      WriteAll(Dcu + QStringLiteral("/sub/Vesparo.pas"), "unit");
    }
    SetInstallerFolderSource([Installer] { return Installer; });
  }
  ~InstallPack() override { SetInstallerFolderSource({}); }

  // An IDE as it registers itself; its key holds Known Packages unless
  // told otherwise.
  QString RegisterIde(const TCase& Case, bool KnownPackages = true)
  {
    const QString Key = DelphiRegPaths[int(Case.Version)];
    const QString Root = Env.Root() + QStringLiteral("/ide ") + QLatin1String(Case.Code);
    QDir().mkpath(Root + QStringLiteral("/Bin"));
    WriteAll(Root + QStringLiteral("/Bin/dcc32.cfg"), QByteArray());
    QFile::copy(QStringLiteral("/bin/true"), Root + QStringLiteral("/Bin/dcc32.exe"));
    PutUserString(Key, QStringLiteral("RootDir"), Case.RootWithSeparator ? Root + QLatin1Char('/') : Root);
    PutUserString(Key + QStringLiteral("\\Library"), QStringLiteral("Search Path"), QStringLiteral("$(BDS)/lib"));
    if (KnownPackages)
      PutUserString(Key + QStringLiteral("\\Known Packages"), QStringLiteral("$(BDS)/bin/dcl.bpl"), QStringLiteral("x"));
    return Root;
  }

  QString Target(const QString& Name = QStringLiteral("comp"))
  {
    const QString Folder = Env.Root() + QLatin1Char('/') + Name;
    QDir().mkpath(Folder);
    return Folder;
  }

  TestSupport::TTempEnvironment Env;
};

TEST_F(InstallPack, EveryEditionBuildsRegistersAndListsItsPackage)
{
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Code);
    const QString C = QLatin1String(Case.Code);
    const QString Key = DelphiRegPaths[int(Case.Version)];
    const QString Root = RegisterIde(Case);
    const QString T = Target(QStringLiteral("comp ") + C);
    // The target as a drive root would be given: with a trailing separator.
    InstallHalvernMLDPack(Key, Case.Version, T + QLatin1Char('/'));

    const QString Dcu = T + QStringLiteral("/CVVesparo/") + C + QStringLiteral("/DCU");
    EXPECT_EQ(ReadAll(Dcu + QStringLiteral("/Vesparo.bat")),
              (QStringLiteral("\"%1/Bin/dcc32.exe\" -b \"%2/CVVesparoC.dpk\"\r\n").arg(Root, Dcu).replace(
                 QStringLiteral("CVVesparoC"), QStringLiteral("CVVesparo") + C))
                .toUtf8());
    EXPECT_TRUE(QFileInfo::exists(Dcu + QStringLiteral("/sub/Vesparo.pas")));
    EXPECT_EQ(UserString(Key + QStringLiteral("\\Known Packages"), Dcu + QStringLiteral("/CVVesparo") + C + QStringLiteral(".bpl")),
              QLatin1String(Case.KnownText));
    EXPECT_EQ(UserString(Key + QStringLiteral("\\Library"), QStringLiteral("Search Path")),
              QStringLiteral("$(BDS)/lib;") + Dcu);
    EXPECT_EQ(UserString(Key + QStringLiteral("\\Globals"), QStringLiteral("ForceEnvOptionsUpdate")), QStringLiteral("1"));
    EXPECT_EQ(ReadAll(Root + QStringLiteral("/Bin/dcc32.cfg")), QByteArray("\r\n"));
  }
}

TEST_F(InstallPack, SecondInstallationReplacesTheBatchAndTheSources)
{
  const TCase& Case = Cases[5];
  RegisterIde(Case);
  const QString T = Target();
  const QString Dcu = T + QStringLiteral("/CVVesparo/DXE3/DCU");
  InstallHalvernMLDPack(DelphiRegPaths[12], Case.Version, T);
  WriteAll(Dcu + QStringLiteral("/sub/Vesparo.pas"), "edited");
  WriteAll(Dcu + QStringLiteral("/Vesparo.bat"), "old batch that is longer than the new one ...........................");
  InstallHalvernMLDPack(DelphiRegPaths[12], Case.Version, T);
  EXPECT_EQ(ReadAll(Dcu + QStringLiteral("/sub/Vesparo.pas")), QByteArray("unit"));
  EXPECT_TRUE(ReadAll(Dcu + QStringLiteral("/Vesparo.bat")).startsWith("\""));
  EXPECT_EQ(UserString(DelphiRegPaths[12] + QStringLiteral("\\Library"), QStringLiteral("Search Path")),
            QStringLiteral("$(BDS)/lib;") + Dcu);
}

TEST_F(InstallPack, WithoutKnownPackagesBuiltAndListedButNotRegistered)
{
  const TCase& Case = Cases[0];
  RegisterIde(Case, false);
  const QString T = Target();
  InstallHalvernMLDPack(DelphiRegPaths[2], Case.Version, T);
  EXPECT_TRUE(QFileInfo::exists(T + QStringLiteral("/CVVesparo/D6/DCU/Vesparo.bat")));
  EXPECT_FALSE(UserKeyExists(DelphiRegPaths[2] + QStringLiteral("\\Known Packages")));
  EXPECT_EQ(UserString(DelphiRegPaths[2] + QStringLiteral("\\Library"), QStringLiteral("Search Path")),
            QStringLiteral("$(BDS)/lib;") + T + QStringLiteral("/CVVesparo/D6/DCU"));
}

TEST_F(InstallPack, FailuresStopBeforeTheyCopyOrWriteElsewhere)
{
  const TCase& Case = Cases[1];
  const QString Root = RegisterIde(Case);
  const QString T = Target();

  // No dcc32.cfg: nothing copied.
  QFile::remove(Root + QStringLiteral("/Bin/dcc32.cfg"));
  EXPECT_THROW(InstallHalvernMLDPack(DelphiRegPaths[3], Case.Version, T), EInOutError);
  EXPECT_FALSE(QFileInfo::exists(T + QStringLiteral("/CVVesparo")));

  // No sources to copy: no batch at the root of the file system instead.
  WriteAll(Root + QStringLiteral("/Bin/dcc32.cfg"), QByteArray());
  QDir(Env.Root() + QStringLiteral("/installer/Packages/D7")).removeRecursively();
  ASSERT_FALSE(QFileInfo::exists(QStringLiteral("/D7")));
  EXPECT_THROW(InstallHalvernMLDPack(DelphiRegPaths[3], Case.Version, T), EInOutError);
  EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/D7")));
  EXPECT_FALSE(UserKeyExists(DelphiRegPaths[3] + QStringLiteral("\\Globals")));
  // The package folder it made for the copy is gone again.
  EXPECT_FALSE(QFileInfo::exists(T + QStringLiteral("/CVVesparo")));

  // A target the batch could not name as it is: refused before anything.
  const QByteArray Config = ReadAll(Root + QStringLiteral("/Bin/dcc32.cfg"));
  for (const QString& Name : {QStringLiteral("a\"b"), QStringLiteral("$(touch x)"), QStringLiteral("`id`"),
                              QStringLiteral("line\nbreak"), QStringLiteral("back\\slash")}) {
    const QString Bad = Target(Name);
    EXPECT_THROW(InstallHalvernMLDPack(DelphiRegPaths[3], Case.Version, Bad), Exception) << Name.toStdString();
    EXPECT_FALSE(QFileInfo::exists(Bad + QStringLiteral("/CVVesparo")));
  }
  EXPECT_EQ(ReadAll(Root + QStringLiteral("/Bin/dcc32.cfg")), Config);
}

// What would fail halfway, or write what it should not, is refused with its
// reason before dcc32.cfg, the registry store or the target change.
TEST_F(InstallPack, RefusalsComeBeforeAnyChangeAndSayWhy)
{
  const TCase& Case = Cases[5];
  const QString Key = DelphiRegPaths[int(Case.Version)];
  const QString Root = RegisterIde(Case);
  const QString Config = Root + QStringLiteral("/Bin/dcc32.cfg");
  WriteAll(Config, "-u\"kept\"\r\n");
  QByteArray Store = ReadAll(Registry::StoreFilePath(Registry::HKEY_CURRENT_USER));
  const auto Refused = [&](const QString& Into, const QString& Reason) {
    const QStringList Before = QDir(Into).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    try {
      InstallHalvernMLDPack(Key, Case.Version, Into);
      ADD_FAILURE() << "installed into " << Into.toStdString();
    } catch (const Exception& E) {
      EXPECT_TRUE(E.Message().contains(Reason)) << E.Message().toStdString();
    }
    EXPECT_EQ(ReadAll(Config), QByteArray("-u\"kept\"\r\n"));
    EXPECT_EQ(ReadAll(Registry::StoreFilePath(Registry::HKEY_CURRENT_USER)), Store);
    EXPECT_EQ(QDir(Into).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), Before);
  };

  // A ";" would split the search path entry; U+FFFD stands for bytes lost
  // on the way in, so it names another folder than the one meant.
  Refused(Target(QStringLiteral("a;b")), QStringLiteral("\";\", which separates"));
  Refused(Target(QStringLiteral("lost\uFFFDbyte")), QStringLiteral("not UTF-8 text"));
  Refused(Target(QStringLiteral("line\nbreak")), QStringLiteral("line?break\" holds the control character U+000A"));
  // No folder, a file, and a package folder the copy could not go into.
  Refused(Env.Root() + QStringLiteral("/missing"), QStringLiteral("missing"));
  WriteAll(Env.Root() + QStringLiteral("/file"), "x");
  Refused(Env.Root() + QStringLiteral("/file"), QStringLiteral("file"));
  const QString Blocked = Target(QStringLiteral("blocked"));
  WriteAll(Blocked + QStringLiteral("/CVVesparo"), "not a folder");
  Refused(Blocked, QStringLiteral("CVVesparo"));
  // The batch file or the build's log in the way, as a folder or a link.
  for (const QString& Name : {QStringLiteral("Vesparo.bat"), QStringLiteral("Vesparo.log")}) {
    const QString Folder = Target(QStringLiteral("folder in the way ") + Name);
    QDir().mkpath(Folder + QStringLiteral("/CVVesparo/DXE3/DCU/") + Name);
    Refused(Folder, Name + QStringLiteral("\" is in the way"));
    const QString Link = Target(QStringLiteral("link in the way ") + Name);
    QDir().mkpath(Link + QStringLiteral("/CVVesparo/DXE3/DCU"));
    ASSERT_TRUE(QFile::link(Env.Root() + QStringLiteral("/elsewhere"), Link + QStringLiteral("/CVVesparo/DXE3/DCU/") + Name));
    Refused(Link, Name + QStringLiteral("\" is in the way"));
  }

  // The IDE's side: a RootDir holding ";" (it would put a relative -u line
  // into dcc32.cfg), a compiler that is missing or cannot run.
  const QString T = Target();
  PutUserString(Key, QStringLiteral("RootDir"), Root + QStringLiteral(";x/"));
  Store = ReadAll(Registry::StoreFilePath(Registry::HKEY_CURRENT_USER));
  Refused(T, QStringLiteral("(RootDir of HKEY_CURRENT_USER%1 in the registry store %2)")
               .arg(Key, Registry::StoreFilePath(Registry::HKEY_CURRENT_USER)));
  PutUserString(Key, QStringLiteral("RootDir"), Root + QLatin1Char('/'));
  Store = ReadAll(Registry::StoreFilePath(Registry::HKEY_CURRENT_USER));
  ASSERT_TRUE(QFile::setPermissions(Root + QStringLiteral("/Bin/dcc32.exe"), QFile::ReadOwner | QFile::WriteOwner));
  Refused(T, QStringLiteral("not an executable file"));
  QFile::remove(Root + QStringLiteral("/Bin/dcc32.exe"));
  Refused(T, QStringLiteral("dcc32.exe\" is missing"));
}

// A package folder the installation did not make stays after a failure;
// the empty ones it made go.
TEST_F(InstallPack, OnlyFoldersItMadeAndLeftEmptyAreRemoved)
{
  const QString T = Target();
  QDir().mkpath(T + QStringLiteral("/kept/inner"));
  const CreatedFolders::TCreatedFolders Made({T + QStringLiteral("/kept/inner/new/deeper"),
                                              T + QStringLiteral("/made/a"), T + QStringLiteral("/full")});
  QDir().mkpath(T + QStringLiteral("/kept/inner/new/deeper/deepest"));
  QDir().mkpath(T + QStringLiteral("/made/a/b"));
  QDir().mkpath(T + QStringLiteral("/full/sub"));
  WriteAll(T + QStringLiteral("/full/sub/file"), "x");
  Made.RemoveEmpty();
  EXPECT_TRUE(QFileInfo(T + QStringLiteral("/kept/inner")).isDir());
  EXPECT_FALSE(QFileInfo::exists(T + QStringLiteral("/kept/inner/new")));
  EXPECT_FALSE(QFileInfo::exists(T + QStringLiteral("/made")));
  EXPECT_TRUE(QFileInfo::exists(T + QStringLiteral("/full/sub/file")));
}

TEST_F(InstallPack, UnsupportedVersionsAndRelativeTargets)
{
  const QString T = Target();
  for (const TDelphiVersions Version : {TDelphiVersions::Delphi4, TDelphiVersions::DelphiXE}) {
    EXPECT_NO_THROW(InstallHalvernMLDPack(DelphiRegPaths[int(Version)], Version, T));
    EXPECT_EQ(EditionCode(Version), QString());
  }
  EXPECT_EQ(QDir(T).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());

  // A folder named relative to the current one (the folder chooser leaves
  // the process at the root) is refused, not taken from there.
  RegisterIde(Cases[2]);
  const QString Before = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(Env.Root()));
  try {
    InstallHalvernMLDPack(DelphiRegPaths[6], TDelphiVersions::Delphi2006, QStringLiteral("comp"));
    ADD_FAILURE() << "installed into a relative folder";
  } catch (const Exception& E) {
    EXPECT_TRUE(E.Message().contains(QStringLiteral("is not an absolute path"))) << E.Message().toStdString();
  }
  QDir::setCurrent(Before);
  EXPECT_EQ(QDir(T).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

// The copy must not go into the sources it copies: it would copy itself
// until the path is too long, and every later installation would copy that.
TEST_F(InstallPack, TargetsOverlappingThePackageSourcesAreRefused)
{
  const TCase& Case = Cases[0];
  const QString Root = RegisterIde(Case);
  const QString Packages = Env.Root() + QStringLiteral("/installer/Packages");
  const QStringList Shipped = QDir(Packages).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
  QDir().mkpath(Packages + QStringLiteral("/D6/DCU/inner"));
  QFile::link(Packages, Env.Root() + QStringLiteral("/link"));
  const QString Linked = Target(QStringLiteral("linked"));
  QFile::link(Packages + QStringLiteral("/D6/DCU"), Linked + QStringLiteral("/CVVesparo"));
  for (const QString& Inside : {Packages + QStringLiteral("/D6"), Packages + QStringLiteral("/D6/DCU/inner"),
                                Packages, Packages + QStringLiteral("/D7"), Env.Root() + QStringLiteral("/link/D6/"),
                                Linked}) {
    SCOPED_TRACE(Inside.toStdString());
    try {
      InstallHalvernMLDPack(DelphiRegPaths[2], Case.Version, Inside);
      ADD_FAILURE() << "installed into the sources";
    } catch (const Exception& E) {
      EXPECT_TRUE(E.Message().contains(QStringLiteral("overlaps the installer's own package sources")))
        << E.Message().toStdString();
    }
  }
  EXPECT_EQ(QDir(Packages).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), Shipped);
  EXPECT_EQ(QDir(Packages + QStringLiteral("/D6/DCU")).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
            (QStringList{QStringLiteral("inner"), QStringLiteral("sub")}));
  EXPECT_EQ(ReadAll(Root + QStringLiteral("/Bin/dcc32.cfg")), QByteArray());
  // Beside the sources is fine: the installer's own folder.
  InstallHalvernMLDPack(DelphiRegPaths[2], Case.Version, Env.Root() + QStringLiteral("/installer"));
  EXPECT_TRUE(QFileInfo::exists(Env.Root() + QStringLiteral("/installer/CVVesparo/D6/DCU/Vesparo.bat")));
}

// The build is not waited for; what it says, its errors above all, is kept
// beside its batch, a new log for every installation.
TEST_F(InstallPack, TheBuildsOutputLandsInItsLog)
{
  const TCase& Case = Cases[5];
  const QString Root = RegisterIde(Case);
  WriteAll(Root + QStringLiteral("/Bin/dcc32.exe"), "#!/bin/sh\necho \"compiling $2\"\necho 'Fatal: F2613 Unit not found' >&2\nexit 1\n");
  const QString T = Target();
  const QString Log = T + QStringLiteral("/CVVesparo/DXE3/DCU/Vesparo.log");
  QDir().mkpath(QFileInfo(Log).path());
  WriteAll(Log, "an earlier build's words\n");
  InstallHalvernMLDPack(DelphiRegPaths[12], Case.Version, T);
  QByteArray Said;
  for (int Wait = 0; Wait < 1000 && !Said.contains("F2613"); ++Wait) {
    QThread::msleep(10);
    Said = ReadAll(Log);
  }
  EXPECT_EQ(Said, "compiling " + QFile::encodeName(T) + "/CVVesparo/DXE3/DCU/CVVesparoDXE3.dpk\n"
                  "Fatal: F2613 Unit not found\n");
}

// The IDE's side as the installation needs it: an absolute RootDir, taken
// trimmed for the configuration and the compiler alike, a dcc32.cfg that is
// a regular file, and the sources to copy.
TEST_F(InstallPack, TheIdesFoldersAndTheSourcesAreCheckedFirst)
{
  const TCase& Case = Cases[3];
  const QString Key = DelphiRegPaths[int(Case.Version)];
  const QString Root = RegisterIde(Case);
  const QString T = Target();
  PutUserString(Key, QStringLiteral("RootDir"), QStringLiteral(" ") + Root + QStringLiteral("/ "));
  InstallHalvernMLDPack(Key, Case.Version, T);
  EXPECT_TRUE(ReadAll(T + QStringLiteral("/CVVesparo/D2010/DCU/Vesparo.bat"))
                .startsWith("\"" + QFile::encodeName(Root) + "/Bin/dcc32.exe\" -b"));
  EXPECT_EQ(ReadAll(Root + QStringLiteral("/Bin/dcc32.cfg")), QByteArray("\r\n"));

  const auto RefusedWith = [&](const QString& Reason) {
    const QString Fresh = Target(QStringLiteral("fresh"));
    try {
      InstallHalvernMLDPack(Key, Case.Version, Fresh);
      ADD_FAILURE() << "installed";
    } catch (const Exception& E) {
      EXPECT_TRUE(E.Message().contains(Reason)) << E.Message().toStdString();
    }
    EXPECT_EQ(QDir(Fresh).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
  };
  // Relative: its compiler would be looked for below the package's folder.
  PutUserString(Key, QStringLiteral("RootDir"), QStringLiteral(" ide/"));
  RefusedWith(QStringLiteral("is not an absolute path"));
  PutUserString(Key, QStringLiteral("RootDir"), Root + QLatin1Char('/'));
  const QString Config = Root + QStringLiteral("/Bin/dcc32.cfg");
  QFile::remove(Config);
  ASSERT_EQ(mkfifo(QFile::encodeName(Config).constData(), 0600), 0);
  RefusedWith(QStringLiteral("is not a regular file"));
  QFile::remove(Config);
  WriteAll(Config, QByteArray());
  QDir(Env.Root() + QStringLiteral("/installer/Packages/D2010")).removeRecursively();
  RefusedWith(QString::fromLocal8Bit(std::strerror(ENOENT)) + QStringLiteral(" (Copy: ") + Env.Root() +
              QStringLiteral("/installer/Packages/D2010"));
  EXPECT_EQ(ReadAll(Config), QByteArray());
}

TEST_F(InstallPack, CollapseAndCopyHelpers)
{
  EXPECT_EQ(CollapsePath(QStringLiteral("  //a///b//  ")), QStringLiteral("/a//b/"));
  const QString T = Target();
  EXPECT_EQ(CreateAndCopypackageFiles(Env.Root() + QStringLiteral("/installer/Packages/D6/"), T + QStringLiteral("/x/y"),
                                      TDelphiVersions::Delphi6),
            T + QStringLiteral("/x/y/CVVesparo/"));
  EXPECT_TRUE(QFileInfo::exists(T + QStringLiteral("/x/y/CVVesparo/D6/DCU/CVVesparoD6.dpk")));
  EXPECT_EQ(CreateAndCopypackageFiles(Env.Root() + QStringLiteral("/missing"), T, TDelphiVersions::Delphi6), QString());
  EXPECT_FALSE(CopyDir(QString(), T));
}

}  // namespace
