#include "tools/dcc32/PackageProject.h"

#include "tests/support/TempEnvironment.h"
#include "tests/tools/ToolRun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <QProcess>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace PackageProject;
using TestSupport::WriteAll;

namespace {

// An IDE folder of the test's own: the compiler with its dcc32.cfg, and a
// library folder holding the platform layer's headers and library.
class Dcc32 : public ::testing::Test {
protected:
  Dcc32()
  {
    QDir().mkpath(Env.Root() + QStringLiteral("/ide/Bin"));
    QFile::copy(QStringLiteral(CORVANE_BIN_DIR "/dcc32.exe"), Compiler());
    QDir().mkpath(Jcl());
    QFile::link(QStringLiteral(CORVANE_SOURCE_DIR "/platform"), Jcl() + QStringLiteral("/platform"));
    for (const QString& Library : QDir(QStringLiteral(CORVANE_LIB_DIR)).entryList({QStringLiteral("libCorvanePlatform.so*")}))
      QFile::link(QStringLiteral(CORVANE_LIB_DIR "/") + Library, Jcl() + QLatin1Char('/') + Library);
    QDir().mkpath(Project());
  }
  QString Compiler() const { return Env.Root() + QStringLiteral("/ide/Bin/dcc32.exe"); }
  QString Jcl() const { return Env.Root() + QStringLiteral("/jcl lib"); }
  QString Project() const { return Env.Root() + QStringLiteral("/comp/DCU"); }
  ToolRun::TRun Compile(const QString& Dpk) const
  {
    return ToolRun::Run(Compiler(), {QStringLiteral("-b"), Project() + QLatin1Char('/') + Dpk}, 600000);
  }
  TestSupport::TTempEnvironment Env;
};

const QByteArray SmallProject =
  "package Small;\r\n{$DEFINE SMALL_EDITION}\r\nrequires Qt6Core, CorvanePlatform;\r\n"
  "contains\r\n  Greeting in 'units/Greeting.cpp' {a form name};\r\nend.\r\n";

}  // namespace

TEST(PackageProjectText, ReadsNameDefinesRequiresAndUnits)
{
  const TPackageProject Project = Parse(QStringLiteral(
    "// made by hand\npackage CVVesparoD6;\n{$R *.res}\n{$DESCRIPTION 'It''s Corvane'}\n{$DEFINE CORVANE_EDITION_D6}\n"
    "requires\n  Qt6Widgets,\n  CorvaneHostFw;\n(* the units *)\ncontains\n  Vesparo in 'Vesparo.cpp',\n"
    "  u_errorFileReader in 'u_errorFileReader.cpp' {frmErroReader},\n  Plugin in 'designer/Plugin.cpp';\nend.\n"));
  EXPECT_EQ(Project.Name, QStringLiteral("CVVesparoD6"));
  EXPECT_EQ(Project.Description, QStringLiteral("It's Corvane"));
  EXPECT_EQ(Project.Defines, QStringList{QStringLiteral("CORVANE_EDITION_D6")});
  EXPECT_EQ(Project.Requires, (QStringList{QStringLiteral("Qt6Widgets"), QStringLiteral("CorvaneHostFw")}));
  ASSERT_EQ(Project.Contains.size(), 3);
  EXPECT_EQ(Project.Contains[1].Name, QStringLiteral("u_errorFileReader"));
  EXPECT_EQ(Project.Contains[2].File, QStringLiteral("designer/Plugin.cpp"));
}

TEST(PackageProjectText, RefusesBrokenProjectsWithTheirLine)
{
  const struct {
    const char* Text;
    int Line;
  } Cases[] = {
    {"", 1},
    {"program X;\ncontains A in 'a.cpp';\nend.", 1},
    {"package X;\ncontains A in 'a.cpp'\nend.", 3},       // missing ;
    {"package X;\ncontains A in 'a.cpp;\nend.", 2},       // open string
    {"package X;\ncontains A in '../a.cpp';\nend.", 2},   // outside the project
    {"package X;\ncontains A in '/etc/a.cpp';\nend.", 2},
    {"package X;\n{$DEFINE A)B}\ncontains A in 'a.cpp';\nend.", 2},
    {"package X;\nrequires ;\nend.", 2},
    {"package X;\nend.", 2},                               // no units
    {"package X;\n{ never closed\ncontains A in 'a.cpp';\nend.", 2},
  };
  for (const auto& Case : Cases) {
    try {
      Parse(QString::fromUtf8(Case.Text));
      ADD_FAILURE() << "accepted: " << Case.Text;
    } catch (const EProjectError& Error) {
      EXPECT_EQ(Error.Line(), Case.Line) << Case.Text << ": " << Error.what();
    }
  }
}

TEST(PackageProjectText, ConfigurationLinesGiveSearchFolders)
{
  const TSearchFolders Folders = ReadConfiguration(
    QStringLiteral("-$D-\r\n-u\"/j cl/lib\"\r\n-i\"/j cl/lib\"\r\n-r\"res\"\r\n-o\"/obj\"\r\n\r\n-U/a;/b\r\n-E/out\r\n"),
    QStringLiteral("/ide/Bin"));
  EXPECT_EQ(Folders.Headers, (QStringList{QStringLiteral("/j cl/lib"), QStringLiteral("/ide/Bin/res"),
                                          QStringLiteral("/a"), QStringLiteral("/b")}));
  EXPECT_EQ(Folders.Libraries,
            (QStringList{QStringLiteral("/j cl/lib"), QStringLiteral("/obj"), QStringLiteral("/a"), QStringLiteral("/b")}));
}

TEST_F(Dcc32, BuildsAPackageWithWhatTheConfigurationFindsAndFailsCleanlyWithout)
{
  QDir().mkpath(Project() + QStringLiteral("/units"));
  WriteAll(Project() + QStringLiteral("/Small.dpk"), SmallProject);
  WriteAll(Project() + QStringLiteral("/units/Greeting.h"), "#pragma once\nextern \"C\" int SmallCodePage();\n");
  WriteAll(Project() + QStringLiteral("/units/Greeting.cpp"),
           "#include \"package/units/Greeting.h\"\n#include \"platform/AnsiCodePage.h\"\n"
           "#ifndef SMALL_EDITION\n#error no edition\n#endif\n"
           "extern \"C\" int SmallCodePage() { return AnsiCodePage::ToAnsi(QStringLiteral(\"A\")).size(); }\n");

  // The platform layer is only in the library folder the configuration names.
  const ToolRun::TRun Without = Compile(QStringLiteral("Small.dpk"));
  EXPECT_NE(Without.Code, 0);
  EXPECT_TRUE(Without.Out.contains(QStringLiteral("Required package 'CorvanePlatform' not found"))) << Without.Out.toStdString();
  EXPECT_TRUE(Without.Out.contains(QStringLiteral("Fatal: Small was not built")));
  EXPECT_FALSE(QFileInfo::exists(Project() + QStringLiteral("/Small.bpl")));

  const QByteArray Entry = "\"" + Jcl().toUtf8() + "\"";
  WriteAll(Env.Root() + QStringLiteral("/ide/Bin/dcc32.cfg"),
           "-u" + Entry + "\r\n-i" + Entry + "\r\n-r" + Entry + "\r\n-o" + Entry + "\r\n\r\n\r\n");
  const ToolRun::TRun With = Compile(QStringLiteral("Small.dpk"));
  ASSERT_EQ(With.Code, 0) << With.Out.toStdString() << With.Err.toStdString();
  const QString Library = Project() + QStringLiteral("/Small.bpl");
  void* Handle = dlopen(Library.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(Handle, nullptr) << dlerror();
  auto* CodePage = reinterpret_cast<int (*)()>(dlsym(Handle, "SmallCodePage"));
  ASSERT_NE(CodePage, nullptr);
  EXPECT_EQ(CodePage(), 1);
  dlclose(Handle);

  // A unit that does not compile: the compiler's error, no success.
  WriteAll(Project() + QStringLiteral("/units/Greeting.cpp"), "int broken( {\n");
  const ToolRun::TRun Broken = Compile(QStringLiteral("Small.dpk"));
  EXPECT_NE(Broken.Code, 0);
  EXPECT_TRUE(Broken.Out.contains(QStringLiteral("Greeting.cpp"))) << Broken.Out.toStdString();
}

// Two builds in one package folder take turns: the second waits for the
// first instead of making the same work folder under it.
TEST_F(Dcc32, ASecondBuildInTheFolderWaitsForTheFirst)
{
  QDir().mkpath(Project() + QStringLiteral("/units"));
  WriteAll(Project() + QStringLiteral("/Tiny.dpk"), "package Tiny;\r\ncontains\r\n  T in 'units/T.cpp';\r\nend.\r\n");
  WriteAll(Project() + QStringLiteral("/units/T.cpp"), "int broken( {\n");
  const int Held =
    ::open(QFile::encodeName(Project() + QStringLiteral("/.dcc32.lock")).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  ASSERT_GE(Held, 0);
  ASSERT_EQ(::flock(Held, LOCK_EX), 0);
  QProcess Second;
  Second.start(Compiler(), {QStringLiteral("-b"), Project() + QStringLiteral("/Tiny.dpk")});
  ASSERT_TRUE(Second.waitForStarted());
  EXPECT_FALSE(Second.waitForFinished(1500));
  EXPECT_FALSE(QFileInfo::exists(Project() + QStringLiteral("/.dcc32")));
  ::close(Held);
  ASSERT_TRUE(Second.waitForFinished(600000));
  const QString Out = QString::fromLocal8Bit(Second.readAllStandardOutput());
  EXPECT_TRUE(Out.startsWith(QStringLiteral("Waiting for another build in ") + Project())) << Out.toStdString();
  // Its turn came: it built, and the unit's error is its own.
  EXPECT_TRUE(Out.contains(QStringLiteral("T.cpp"))) << Out.toStdString();
  EXPECT_TRUE(QFileInfo::exists(Project() + QStringLiteral("/.dcc32/Tiny")));
}

TEST_F(Dcc32, RefusesABrokenOrMissingProjectWithoutBuilding)
{
  WriteAll(Project() + QStringLiteral("/Bad.dpk"), "package Bad;\r\ncontains A in 'a.cpp'\r\nend.\r\n");
  const ToolRun::TRun Bad = Compile(QStringLiteral("Bad.dpk"));
  EXPECT_EQ(Bad.Code, 1);
  EXPECT_TRUE(Bad.Out.contains(QStringLiteral("Bad.dpk(3) Error: ';' expected but 'end' found"))) << Bad.Out.toStdString();
  EXPECT_FALSE(QFileInfo::exists(Project() + QStringLiteral("/.dcc32")));

  const ToolRun::TRun Missing = Compile(QStringLiteral("Nothing.dpk"));
  EXPECT_EQ(Missing.Code, 1);
  EXPECT_TRUE(Missing.Out.contains(QStringLiteral("F1026 File not found"))) << Missing.Out.toStdString();
  EXPECT_EQ(ToolRun::Run(Compiler(), {}).Code, 1);
}
