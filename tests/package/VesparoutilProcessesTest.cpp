#include "package/Vesparoutil.h"

#include "platform/Processes.h"
#include "platform/Registry.h"
#include "tests/support/TempEnvironment.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace Vesparoutil;

namespace {
struct TCannedProcesses {
  explicit TCannedProcesses(QList<Processes::TProcessEntry> Entries)
  {
    Processes::SetSnapshotSource([Entries] { return Entries; });
  }
  ~TCannedProcesses() { Processes::SetSnapshotSource({}); }
};

const QString OwnExe = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
}  // namespace

TEST(VesparoutilProcesses, ProcessExistsOnTheRealMachine)
{
  ASSERT_FALSE(OwnExe.isEmpty());
  const QString Name = QFileInfo(OwnExe).fileName();  // test_package_utilities
  EXPECT_TRUE(processExists(Name));
  EXPECT_TRUE(processExists(QStringLiteral("TEST_Package_UTILITIES")));
  EXPECT_TRUE(processExists(OwnExe));
  EXPECT_TRUE(processExists(OwnExe.toUpper()));
  // A full path names that file only; a part of a name is no name.
  EXPECT_FALSE(processExists(QStringLiteral("/nowhere/") + Name));
  EXPECT_FALSE(processExists(Name.left(Name.size() - 1)));
  EXPECT_FALSE(processExists(QString()));

  EXPECT_TRUE(CheckTargetApplRunning(QStringLiteral("CorvaneInstaller"), Name));
  EXPECT_FALSE(CheckTargetApplRunning(QStringLiteral("CorvaneInstaller"), QStringLiteral("no such program")));
  // A program is no target of its own.
  EXPECT_FALSE(CheckTargetApplRunning(Name, Name));
}

TEST(VesparoutilProcesses, OnlyTheLettersAToZIgnoreCase)
{
  const TCannedProcesses Canned({{10, QStringLiteral("/opt/Ärger/Viewer")}, {11, QStringLiteral("/usr/bin/Ärger")},
                                 {12, QStringLiteral("kworker/0:1")}});
  EXPECT_TRUE(processExists(QStringLiteral("vIEWER")));
  EXPECT_TRUE(processExists(QStringLiteral("/OPT/Ärger/VIEWER")));
  EXPECT_FALSE(processExists(QStringLiteral("/opt/ärger/viewer")));
  EXPECT_TRUE(processExists(QStringLiteral("ÄRGER")));
  EXPECT_FALSE(processExists(QStringLiteral("ärger")));
  // A name with a "/" of its own, as kernel threads have, by its last part.
  EXPECT_TRUE(processExists(QStringLiteral("0:1")));
  EXPECT_FALSE(processExists(QString()));
}

TEST(VesparoutilProcesses, NoSnapshotNoProcess)
{
  const TCannedProcesses Canned({});
  EXPECT_FALSE(processExists(QStringLiteral("Viewer")));
  EXPECT_FALSE(CheckTargetApplRunning(QStringLiteral("a"), QStringLiteral("Viewer")));
}

TEST(VesparoutilRegistry, BooleanReaderAndStringWriter)
{
  TestSupport::TTempEnvironment Env;
  const QString Key = QStringLiteral("\\SOFTWARE\\Corvane\\Options");

  // Without creation a missing key stays missing.
  WriteValueToRegisTry(Key, false, QStringLiteral("Name"), QStringLiteral("value"));
  EXPECT_FALSE(Registry::TRegistry().KeyExists(Key));
  WriteValueToRegisTry(Key, true, QStringLiteral("Name"), QStringLiteral("value"));
  EXPECT_EQ(ReadRegistryValues(Key, false, QStringLiteral("Name"), 1, true), QStringLiteral("value"));
  // Kind 3 reads nothing, though the value is there.
  EXPECT_EQ(ReadRegistryValues(Key, false, QStringLiteral("Name"), 3, true), QString());

  {
    Registry::TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey(Key, false));
    Reg.WriteInteger(QStringLiteral("On"), 7);
    Reg.WriteInteger(QStringLiteral("Off"), 0);
  }
  EXPECT_TRUE(ReadRegistryValuesBoolean(Key, false, QStringLiteral("On"), true));
  EXPECT_FALSE(ReadRegistryValuesBoolean(Key, false, QStringLiteral("Off"), true));
  EXPECT_FALSE(ReadRegistryValuesBoolean(QStringLiteral("\\SOFTWARE\\Nobody"), false, QStringLiteral("On"), true));
  // The other root is another store.
  EXPECT_FALSE(ReadRegistryValuesBoolean(Key, false, QStringLiteral("On"), false));
  // A text or a missing value is the registry object's failure.
  EXPECT_THROW(ReadRegistryValuesBoolean(Key, false, QStringLiteral("Name"), true), ERegistryException);
  EXPECT_THROW(ReadRegistryValuesBoolean(Key, false, QStringLiteral("Missing"), true), ERegistryException);
}
