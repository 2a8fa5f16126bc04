// The installer's window: its layout, and the flow of the Install button
// with every dialog it shows, driven as a user drives it.

#include "installer/u_packInstaller.h"

#include "hostfw/Application.h"
#include "hostfw/Image.h"
#include "hostfw/ListView.h"
#include "installer/Unattended.h"
#include "installer/u_supportUnit.h"
#include "platform/Processes.h"
#include "platform/Registry.h"
#include "tests/installer/IdeRegistry.h"
#include "tests/support/TempEnvironment.h"
#include "tests/tools/ToolRun.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>

#include <csignal>
#include <sys/resource.h>

using namespace u_packInstaller;
using InstallerTest::PutUserString;
using InstallerTest::UserKeyExists;
using TestSupport::ReadAll;
using TestSupport::WriteAll;
using Texts = Unattended::TUnattendedRun::TTexts;

namespace {

// Every dialog the application runs, as shown, answered by Answer (as the
// scripted run answers, by default).
struct TDialogs {
  TDialogs()
  {
    Application::Instance()->SetModalHook([this](QDialog& Dialog) {
      Shown << Unattended::TUnattendedRun::TextsOf(Dialog);
      if (Answer)
        Answer(Dialog);
      else
        Unattended::TUnattendedRun::Answer(Dialog);
    });
  }
  ~TDialogs() { Application::Instance()->SetModalHook({}); }
  QString Lines() const
  {
    QStringList Result;
    for (const Texts& Dialog : Shown)
      Result << Dialog.Title + QStringLiteral(" | ") + Dialog.Inst + QStringLiteral(" | ") + Dialog.Content;
    return Result.join(QLatin1Char('\n'));
  }
  QList<Texts> Shown;
  std::function<void(QDialog&)> Answer;
};

class PackInstaller : public ::testing::Test {
protected:
  PackInstaller()
  {
    Installer = Env.Root() + QStringLiteral("/installer");
    const QString Dcu = Installer + QStringLiteral("/Packages/DXE3/DCU");
    QDir().mkpath(Dcu);
    WriteAll(Dcu + QStringLiteral("/CVVesparoDXE3.dpk"), "package");
    u_supportUnit::SetInstallerFolderSource([this] { return Installer; });
    Target = Env.Root() + QStringLiteral("/comp");
    QDir().mkpath(Target);
  }
  ~PackInstaller() override
  {
    u_supportUnit::SetInstallerFolderSource({});
    Processes::SetSnapshotSource({});
  }

  // An IDE of the table as it registers itself; returns its "App" file.
  QString RegisterIde(int Index, const QString& ExeName = QStringLiteral("bds.exe"))
  {
    const QString Key = u_supportUnit::DelphiRegPaths[size_t(Index)];
    const QString Root = Env.Root() + QStringLiteral("/ide%1").arg(Index);
    QDir().mkpath(Root + QStringLiteral("/Bin"));
    WriteAll(Root + QStringLiteral("/Bin/dcc32.cfg"), QByteArray());
    QFile::copy(QStringLiteral("/bin/true"), Root + QStringLiteral("/Bin/dcc32.exe"));
    const QString App = Root + QStringLiteral("/Bin/") + ExeName;
    QFile::copy(QStringLiteral("/bin/sleep"), App);
    PutUserString(Key, QStringLiteral("App"), App);
    PutUserString(Key, QStringLiteral("RootDir"), Root + QLatin1Char('/'));
    PutUserString(Key + QStringLiteral("\\Library"), QStringLiteral("Search Path"), QStringLiteral("$(BDS)/lib"));
    PutUserString(Key + QStringLiteral("\\Known Packages"), QStringLiteral("$(BDS)/bin/dcl.bpl"), QStringLiteral("x"));
    return App;
  }

  static void Click(TfrmMain& Form, int Row)
  {
    ListView::TListItem* Item = Form.ListViewIDEs->Item(Row);
    Form.ListViewIDEs->SetSelected(Item);
    Form.ListViewIDEsClick();
  }

  QStringList FilesBelow(const QString& Folder) const
  {
    QStringList Files;
    QDirIterator Found(Folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (Found.hasNext())
      Files << Found.next();
    return Files;
  }

  // A setup program that records its one argument, then runs Then.
  QString PutSetupProgram(const QByteArray& Then = QByteArray())
  {
    const QString Program = Installer + QStringLiteral("/Corvane/Corvane_setup.exe");
    QDir().mkpath(QFileInfo(Program).path());
    WriteAll(Program, "#!/bin/sh\nprintf '%s' \"$1\" > \"$(dirname \"$0\")/arguments\"\n" + Then);
    QFile::setPermissions(Program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return Program;
  }

  // The program as a script runs it, through the shell so that arguments
  // may hold any bytes.
  static ToolRun::TRun RunInstaller(const QString& ShellArguments, const QStringList& Arguments)
  {
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess Installer;
    Installer.setProcessEnvironment(Environment);
    Installer.start(QStringLiteral("/bin/sh"), QStringList{QStringLiteral("-c"), QStringLiteral("exec \"$0\" ") + ShellArguments,
                                                            QStringLiteral(CORVANE_BIN_DIR "/CorvaneInstaller")} +
                                                 Arguments);
    EXPECT_TRUE(Installer.waitForFinished(60000));
    return {Installer.exitStatus() == QProcess::NormalExit ? Installer.exitCode() : -1,
            QString::fromLocal8Bit(Installer.readAllStandardOutput()),
            QString::fromLocal8Bit(Installer.readAllStandardError())};
  }

  TestSupport::TTempEnvironment Env;
  QString Installer, Target;
};

const QString Confirmation =
  QStringLiteral("Corvane installation | Are you sure? | Corvane will be installed on your system.continue?\n");

const QString XE3 = QStringLiteral("RAD Studio XE3");
constexpr int XE3Row = 12, XERow = 10;

}  // namespace

TEST_F(PackInstaller, TheFormIsLaidOutAsItsTableGivesIt)
{
  RegisterIde(XE3Row);
  TDialogs Dialogs;
  TfrmMain Form;
  EXPECT_EQ(Form.size(), QSize(1025, 544));
  EXPECT_EQ(Form.windowTitle(), QStringLiteral("Corvane installer"));
  EXPECT_EQ(Form.font().family(), QStringLiteral("MS Sans Serif"));
  EXPECT_EQ(Form.font().pointSize(), 8);

  const auto At = [](QWidget* Control) { return Control->geometry(); };
  EXPECT_EQ(At(Form.Panel1), QRect(0, 0, 1025, 105));
  EXPECT_EQ(Form.Panel1->palette().color(QPalette::Window), QColor(67, 78, 84));
  EXPECT_EQ(At(Form.Bevel1), QRect(5, 2, 252, 101));
  EXPECT_EQ(At(Form.Panel2), QRect(9, 5, 245, 96));
  EXPECT_EQ(Form.Image1_->parentWidget(), Form.Panel2);
  EXPECT_TRUE(Form.Image1_->Proportional());
  EXPECT_EQ(At(Form.Image1), QRect(256, 1, 771, 103));
  EXPECT_TRUE(Form.Image1->Stretch());
  EXPECT_EQ(Form.Label2->pos(), QPoint(272, 40));
  EXPECT_EQ(Form.Label2->text(), QStringLiteral("Corvane Installer"));
  EXPECT_TRUE(Form.Label2->font().bold());
  EXPECT_EQ(Form.Label2->font().pointSize(), 10);
  EXPECT_EQ(Form.Label3->pos(), QPoint(272, 64));
  EXPECT_EQ(Form.Label3->text(), QStringLiteral("Select the installation directory and the Delphi version."));
  EXPECT_EQ(Form.Image1_->Picture().size(), QSize(160, 62));
  EXPECT_EQ(At(Form.Image2), QRect(416, 32, 33, 33));
  EXPECT_FALSE(Form.DirectoryListBoxFish->isVisibleTo(&Form));

  EXPECT_EQ(At(Form.GroupBox1), QRect(8, 120, 1009, 113));
  EXPECT_EQ(Form.GroupBox1->title(), QStringLiteral("Installation Directory"));
  EXPECT_EQ(Form.editInstallationDirectory->pos(), QPoint(16, 56));
  EXPECT_EQ(Form.editInstallationDirectory->width(), 915);
  EXPECT_EQ(Form.editInstallationDirectory->toolTip(), QStringLiteral("The path where the component will be installed"));
  EXPECT_EQ(At(Form.SpeedButtonBrowse), QRect(941, 53, 41, 25));
  EXPECT_EQ(Form.SpeedButtonBrowse->text(), QStringLiteral(".."));
  EXPECT_EQ(Form.SpeedButtonBrowse->toolTip(), QStringLiteral("Browse directory"));
  EXPECT_TRUE(Form.SpeedButtonBrowse->font().bold());

  EXPECT_EQ(At(Form.GroupBox2), QRect(8, 247, 1009, 233));
  EXPECT_EQ(Form.GroupBox2->title(), QStringLiteral("Delphi version (detected)"));
  EXPECT_EQ(Form.Label1->pos(), QPoint(16, 32));
  EXPECT_EQ(Form.Label1->text(), QStringLiteral("Install CVVesparo for :"));
  EXPECT_EQ(Form.lblIDEName->pos(), QPoint(152, 32));
  EXPECT_EQ(Form.lblIDEName->text(), QString());
  EXPECT_EQ(At(Form.ListViewIDEs), QRect(11, 67, 984, 150));
  EXPECT_EQ(Form.ListViewIDEs->Columns(), (QStringList{QStringLiteral("Version"), QStringLiteral("Path")}));
  EXPECT_EQ(Form.ListViewIDEs->header()->sectionSize(0), 261);
  EXPECT_EQ(Form.ListViewIDEs->header()->sectionSize(1), 704);
  EXPECT_TRUE(Form.ListViewIDEs->RowSelect());
  EXPECT_EQ(Form.ListViewIDEs->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(Form.ListViewIDEs->SmallImages(), Form.ImageList1);
  EXPECT_EQ(Form.ListViewIDEs->toolTip(), QStringLiteral("All the installed Delphi IDE will be listed here"));

  EXPECT_EQ(At(Form.BtnInstall), QRect(849, 486, 81, 25));
  EXPECT_EQ(Form.BtnInstall->text(), QStringLiteral("Install"));
  EXPECT_EQ(At(Form.BtnClose), QRect(936, 486, 81, 25));
  EXPECT_EQ(Form.BtnClose->text(), QStringLiteral("Close"));
  EXPECT_EQ(Form.CBInstallDariDerirud->pos(), QPoint(8, 487));
  EXPECT_EQ(Form.CBInstallDariDerirud->text(), QStringLiteral("Install Corvane"));
  EXPECT_EQ(Form.CBInstallDariDerirud->toolTip(), QStringLiteral("This will install the Dariderirud application"));
  EXPECT_TRUE(Form.CBInstallDariDerirud->isChecked());
  EXPECT_TRUE(Form.CBInstallDariDerirud->font().bold());
  EXPECT_EQ(Form.CBInstallDariDerirud->font().pointSize(), 12);
  EXPECT_EQ(Form.CBInstallDariDerirud->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(At(Form.imgProgesbar), QRect(153, 510, 634, 15));
  EXPECT_FALSE(Form.imgProgesbar->isVisibleTo(&Form));
  EXPECT_EQ(Form.imgProgesbar->Picture().size(), QSize(748, 44));
  EXPECT_EQ(Form.imgProgesbar->Picture().depth(), 24);
  EXPECT_EQ(At(Form.Panel3), QRect(0, 544, 1025, 0));
  EXPECT_EQ(Form.Timer1->interval(), 5);
  EXPECT_EQ(Form.Timer1->isActive(), Form.ImageIsPresent());

  // The IDE is listed with its path and icon; nothing needed saying.
  ASSERT_EQ(Form.ListViewIDEs->ItemCount(), 1);
  EXPECT_EQ(Form.ListViewIDEs->Item(0)->Caption(), XE3);
  EXPECT_EQ(Form.ImageList1->Count(), 1);
  EXPECT_EQ(Form.ListViewIDEs->Item(0)->ImageIndex(), 0);
  EXPECT_EQ(Dialogs.Lines(), QString());
}

TEST_F(PackInstaller, RefusalsChangeNothing)
{
  const QString App = RegisterIde(XE3Row);
  RegisterIde(XERow);
  TDialogs Dialogs;
  TfrmMain Form;
  const QStringList Before = FilesBelow(Env.Root());
  const auto Refused = [&](const QString& Expected) {
    Dialogs.Shown.clear();
    Form.BtnInstall->click();
    EXPECT_EQ(Dialogs.Lines(), Expected);
    EXPECT_EQ(FilesBelow(Env.Root()), Before);
    EXPECT_FALSE(Form.imgProgesbar->isVisibleTo(&Form));
    EXPECT_TRUE(Form.CBInstallDariDerirud->isChecked());
    EXPECT_TRUE(Form.BtnInstall->isEnabled());
  };

  // An empty box, as cancelling the folder chooser leaves it, and a file.
  Refused(QStringLiteral("Delphi IDE | Cannot install Corvane | Installation directory should be a valid location"));
  Form.editInstallationDirectory->setText(App);
  Refused(QStringLiteral("Delphi IDE | Cannot install Corvane | Installation directory should be a valid location"));
  Form.editInstallationDirectory->setText(Target);
  Refused(QStringLiteral("Delphi IDE | Please select an IDE | Please select Delphi IDE to install Corvane"));

  Click(Form, 0);
  EXPECT_EQ(Form.lblIDEName->text(), QStringLiteral("RAD Studio XE"));
  Refused(QStringLiteral("Corvane installation | Are you sure? | Corvane will be installed on your system.continue?\n"
                         "Delphi IDE | RAD Studio XE is not supported |  Please select a different IDE"));

  // The confirmation answered Cancel.
  Click(Form, 1);
  Dialogs.Answer = [](QDialog& Dialog) { Dialog.reject(); };
  Dialogs.Shown.clear();
  Form.BtnInstall->click();
  Dialogs.Answer = nullptr;
  EXPECT_EQ(Dialogs.Lines(),
            QStringLiteral("Corvane installation | Are you sure? | Corvane will be installed on your system.continue?"));

  // A running IDE, started from its own "App" file; a copy elsewhere is
  // not it.
  QProcess Ide;
  Ide.start(App, {QStringLiteral("30")});
  ASSERT_TRUE(Ide.waitForStarted());
  Refused(QStringLiteral("Delphi IDE | Cannot install | Delphi IDE is running, please close all instances of Delphi"));
  Ide.kill();
  Ide.waitForFinished();
}

TEST_F(PackInstaller, AnEmptyLabelInstallsNothingAndTheBoxIsClearedAfterEveryAttempt)
{
  const QString App = RegisterIde(XE3Row);
  TDialogs Dialogs;
  TfrmMain Form;
  Form.editInstallationDirectory->setText(Target);
  // Selected with the keyboard: the label stays empty.
  Form.ListViewIDEs->SetSelected(Form.ListViewIDEs->Item(0));
  Form.CBInstallDariDerirud->setChecked(false);
  Form.BtnInstall->click();
  EXPECT_EQ(Dialogs.Lines(),
            QStringLiteral("Corvane installation | Are you sure? | Corvane will be installed on your system.continue?\n"
                           "Corvane installation | Complete | Installation succesful"));
  EXPECT_EQ(FilesBelow(Target), QStringList());

  // A failed installation (the IDE's dcc32.cfg is gone): the error, no
  // completion, the box cleared all the same, nothing copied.
  QFile::remove(QFileInfo(App).path() + QStringLiteral("/dcc32.cfg"));
  Click(Form, 0);
  Form.CBInstallDariDerirud->setChecked(true);
  Dialogs.Shown.clear();
  Form.BtnInstall->click();
  EXPECT_EQ(Dialogs.Lines(),
            QStringLiteral("Corvane installation | Are you sure? | Corvane will be installed on your system.continue?\n"
                           "Corvane | Error | Installation Failed"));
  EXPECT_FALSE(Form.CBInstallDariDerirud->isChecked());
  EXPECT_FALSE(Form.imgProgesbar->isVisibleTo(&Form));
  EXPECT_EQ(FilesBelow(Target), QStringList());
}

TEST_F(PackInstaller, TheSetupProgramRunsSilentlyAndIsWaitedFor)
{
  RegisterIde(XE3Row);
  const QString Program = PutSetupProgram("sleep 0.5\n");
  const QString Arguments = QFileInfo(Program).path() + QStringLiteral("/arguments");
  // Another process of that name, anyone's, runs all along: only the one
  // the installer started is waited for.
  Processes::SetSnapshotSource([&]() -> QList<Processes::TProcessEntry> { return {{4242, Program}}; });
  TDialogs Dialogs;
  TfrmMain Form;
  // While it is waited for, Install is disabled and Close is not.
  bool Looked = false, InstallEnabled = true, CloseEnabled = false;
  QTimer Look;
  QObject::connect(&Look, &QTimer::timeout, [&] {
    if (Looked || !Form.Installing() || !QFileInfo::exists(Arguments))
      return;
    Looked = true;
    InstallEnabled = Form.BtnInstall->isEnabled();
    CloseEnabled = Form.BtnClose->isEnabled();
  });
  Look.start(10);
  // A target given with a trailing separator still gives single ones.
  Form.editInstallationDirectory->setText(Target + QLatin1Char('/'));
  Click(Form, 0);
  Form.BtnInstall->click();

  EXPECT_EQ(Dialogs.Lines(),
            QStringLiteral("Corvane installation | Are you sure? | Corvane will be installed on your system.continue?\n"
                           "Corvane installation | Complete | Installation succesful"));
  EXPECT_EQ(ReadAll(Arguments), (QStringLiteral(" /S /D=") + Target + QStringLiteral("/Corvane")).toUtf8());
  EXPECT_TRUE(Looked);
  EXPECT_FALSE(InstallEnabled);
  EXPECT_TRUE(CloseEnabled);
  EXPECT_TRUE(Form.BtnInstall->isEnabled());
  EXPECT_FALSE(Form.CBInstallDariDerirud->isChecked());
  EXPECT_TRUE(QFileInfo::exists(Target + QStringLiteral("/CVVesparo/DXE3/DCU/Vesparo.bat")));

  // A file that is not executable is no program to start: a failure with
  // its reason, not handed to another program.
  QFile::setPermissions(Program, QFile::ReadOwner | QFile::WriteOwner);
  QFile::remove(Arguments);
  Form.CBInstallDariDerirud->setChecked(true);
  Dialogs.Shown.clear();
  Form.BtnInstall->click();
  EXPECT_EQ(Dialogs.Shown.last().Content, QStringLiteral("Installation Failed"));
  EXPECT_TRUE(Dialogs.Shown.last().Info.startsWith(Program + QStringLiteral(" could not be started")))
    << Dialogs.Shown.last().Info.toStdString();
  EXPECT_FALSE(QFileInfo::exists(Arguments));

  // A setup program that cannot be started has installed nothing.
  QFile::remove(Program);
  Form.CBInstallDariDerirud->setChecked(true);
  Dialogs.Shown.clear();
  Form.BtnInstall->click();
  EXPECT_EQ(Dialogs.Shown.last().Content, QStringLiteral("Installation Failed"));
}

// Only the setup program's own exit status tells whether it installed the
// viewer; the reason of a failure is shown below the dialog's texts.
TEST_F(PackInstaller, ASetupThatFailsOrCrashesIsAFailedInstallationWithItsReason)
{
  RegisterIde(XE3Row);
  const QString Program = PutSetupProgram("echo 'cannot create the folder' >&2\nexit 2\n");
  TDialogs Dialogs;
  bool ReasonShown = false;
  Dialogs.Answer = [&](QDialog& Dialog) {
    if (auto* Info = Dialog.findChild<QLabel*>(QStringLiteral("ExpandedInformation")))
      ReasonShown = Info->isVisibleTo(&Dialog) && Info->text().contains(QStringLiteral("exit code"));
    Unattended::TUnattendedRun::Answer(Dialog);
  };
  TfrmMain Form;
  Form.editInstallationDirectory->setText(Target);
  Click(Form, 0);
  Form.BtnInstall->click();
  EXPECT_EQ(Dialogs.Lines(), Confirmation + QStringLiteral("Corvane | Error | Installation Failed"));
  EXPECT_EQ(Dialogs.Shown.last().Info,
            Program + QStringLiteral(" failed with exit code 2: cannot create the folder"));
  EXPECT_TRUE(ReasonShown);
  EXPECT_FALSE(Form.CBInstallDariDerirud->isChecked());

  PutSetupProgram("kill -SEGV $$\n");
  Form.CBInstallDariDerirud->setChecked(true);
  Dialogs.Shown.clear();
  Form.BtnInstall->click();
  EXPECT_EQ(Dialogs.Shown.last().Content, QStringLiteral("Installation Failed"));
  EXPECT_EQ(Dialogs.Shown.last().Info, Program + QStringLiteral(" crashed"));
  EXPECT_TRUE(Form.BtnInstall->isEnabled());
}

// A setup program that hangs, deaf to the request to end, keeps nobody:
// Close asks nothing more, stops it, tells the failure, and the window
// closes.
TEST_F(PackInstaller, CloseWhileTheSetupProgramHangsStopsItAndClosesTheWindow)
{
  RegisterIde(XE3Row);
  const QString Program = PutSetupProgram("echo $$ > \"$(dirname \"$0\")/pid\"\ntrap '' TERM\nwhile :; do sleep 0.1; done\n");
  const QString PidFile = QFileInfo(Program).path() + QStringLiteral("/pid");
  TDialogs Dialogs;
  TfrmMain Form;
  Form.show();
  QTimer Closer;
  QObject::connect(&Closer, &QTimer::timeout, [&] {
    if (Form.Installing() && !ReadAll(PidFile).isEmpty() && Form.BtnClose->isEnabled()) {
      Closer.stop();
      Form.BtnClose->click();
    }
  });
  Closer.start(10);
  Form.editInstallationDirectory->setText(Target);
  Click(Form, 0);
  Form.BtnInstall->click();

  EXPECT_EQ(Dialogs.Lines(), Confirmation + QStringLiteral("Corvane | Error | Installation Failed"));
  EXPECT_EQ(Dialogs.Shown.last().Info,
            Program + QStringLiteral(" was stopped: the installer's window was closed while it ran"));
  const pid_t Setup = pid_t(ReadAll(PidFile).trimmed().toInt());
  ASSERT_GT(Setup, 0);
  EXPECT_NE(::kill(Setup, 0), 0);
  QCoreApplication::processEvents();
  EXPECT_FALSE(Form.isVisible());
}

// A store that cannot be read is not an empty one, and stays as it is.
TEST_F(PackInstaller, AnUnreadableStoreIsToldAndLeftAlone)
{
  RegisterIde(XE3Row);
  const QString Store = Registry::StoreFilePath(Registry::HKEY_CURRENT_USER);
  WriteAll(Store, "not an export\r\n[HKEY_CURRENT_USER\\Software");
  TDialogs Dialogs;
  TfrmMain Form;
  ASSERT_EQ(Dialogs.Shown.size(), 1);
  EXPECT_TRUE(Dialogs.Shown.first().Inst.startsWith(QStringLiteral("The registry store %1 cannot be read: ").arg(Store)))
    << Dialogs.Shown.first().Inst.toStdString();
  EXPECT_EQ(Form.ListViewIDEs->ItemCount(), 0);
  EXPECT_EQ(ReadAll(Store), QByteArray("not an export\r\n[HKEY_CURRENT_USER\\Software"));
}

TEST_F(PackInstaller, TheFolderChooserFillsTheBoxAndEmptiesItWhenCancelled)
{
  TDialogs Dialogs;
  TfrmMain Form;
  const QString Before = QDir::currentPath();
  QString Caption;
  Dialogs.Answer = [&](QDialog& Dialog) {
    Caption = Dialog.windowTitle();
    auto* Chooser = qobject_cast<QFileDialog*>(&Dialog);
    ASSERT_NE(Chooser, nullptr);
    Chooser->selectFile(Target);
    static_cast<QDialog*>(Chooser)->accept();
  };
  Form.SpeedButtonBrowse->click();
  EXPECT_EQ(Caption, BrowseCaption);
  EXPECT_EQ(Form.editInstallationDirectory->text(), Target);
  // The hidden directory list went to the root, and so did the process.
  EXPECT_EQ(QDir::currentPath(), QDir::rootPath());
  QDir::setCurrent(Before);

  Dialogs.Answer = [](QDialog& Dialog) { Dialog.reject(); };
  Form.SpeedButtonBrowse->click();
  EXPECT_EQ(Form.editInstallationDirectory->text(), QString());
}

TEST_F(PackInstaller, TheProgressBandTurnsFourPixelsPerTick)
{
  QImage Band(748, 44, QImage::Format_RGB888);
  for (int X = 0; X < Band.width(); ++X)
    for (int Y = 0; Y < Band.height(); ++Y)
      Band.setPixel(X, Y, qRgb(X % 256, X / 256, Y));
  Image::TImage Control;
  Control.SetPicture(Band);
  u_supportUnit::UpdateImageProgress(&Control);
  const QImage& Turned = Control.Picture();
  ASSERT_EQ(Turned.size(), Band.size());
  EXPECT_EQ(Turned.format(), QImage::Format_RGB888);
  for (int X = 0; X < Band.width(); ++X)
    for (int Y = 0; Y < Band.height(); Y += 43)
      ASSERT_EQ(Turned.pixel((X + 4) % 748, Y), Band.pixel(X, Y)) << X << "," << Y;
  // Nothing to turn in a picture narrower than a step.
  Control.SetPicture(QImage(3, 2, QImage::Format_RGB888));
  u_supportUnit::UpdateImageProgress(&Control);
  EXPECT_EQ(Control.Picture().width(), 3);
}

TEST_F(PackInstaller, WithoutIdesTheStartUpSaysSo)
{
  TDialogs Dialogs;
  TfrmMain Form;
  ASSERT_EQ(Dialogs.Shown.size(), 1);
  EXPECT_EQ(Dialogs.Shown.first().Inst, NoDelphiInstalled);
  EXPECT_EQ(Form.ListViewIDEs->ItemCount(), 0);
}

// The program itself, run as a script runs it.
TEST_F(PackInstaller, TheScriptedRunPrintsItsDialogsAndExitsWithTheOutcome)
{
  RegisterIde(XERow);
  const auto Run = [&](const QStringList& Arguments, QByteArray& Out) {
    QProcess Installer;
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    Installer.setProcessEnvironment(Environment);
    Installer.start(QStringLiteral(CORVANE_BIN_DIR "/CorvaneInstaller"), Arguments);
    EXPECT_TRUE(Installer.waitForFinished(60000));
    Out = Installer.readAllStandardOutput();
    return Installer.exitCode();
  };
  QByteArray Out;
  EXPECT_EQ(Run({QStringLiteral("--unattended"), QStringLiteral("--ide"), QStringLiteral("RAD Studio XE"),
                 QStringLiteral("--target"), Target},
                Out),
            1);
  EXPECT_EQ(Out, "Corvane installation | Are you sure? | Corvane will be installed on your system.continue?\n"
                 "Delphi IDE | RAD Studio XE is not supported |  Please select a different IDE\n");
  // An IDE that is not listed cannot be clicked.
  EXPECT_EQ(Run({QStringLiteral("--unattended"), QStringLiteral("--ide"), QStringLiteral("Delphi 6"),
                 QStringLiteral("--target"), Target},
                Out),
            1);
  EXPECT_EQ(Out, "Delphi IDE | Please select an IDE | Please select Delphi IDE to install Corvane\n");
  EXPECT_EQ(Run({QStringLiteral("--unattended"), QStringLiteral("--target"), Target}, Out), 2);
  EXPECT_EQ(Out, QByteArray());
}

// A refused target is refused before anything changes, with its reason on
// standard error; a folder the run made for it goes again.
TEST_F(PackInstaller, TheScriptedRunRefusesBadTargetsWithTheirReasonAndLeavesNothing)
{
  const QString App = RegisterIde(XE3Row);
  RegisterIde(XERow);
  const QString Config = QFileInfo(App).path() + QStringLiteral("/dcc32.cfg");
  const QStringList Before = FilesBelow(Env.Root());

  const ToolRun::TRun Split = RunInstaller(QStringLiteral("--unattended --ide \"RAD Studio XE3\" --target \"$1\""),
                                           {Env.Root() + QStringLiteral("/new;folder/inner")});
  EXPECT_EQ(Split.Code, 1);
  // Never made, so the flow refuses a missing folder; the reason is told.
  EXPECT_EQ(Split.Out, QStringLiteral("Delphi IDE | Cannot install Corvane | Installation directory should be a valid location\n"));
  EXPECT_TRUE(Split.Err.contains(QStringLiteral("holds \";\", which separates the entries"))) << Split.Err.toStdString();
  EXPECT_FALSE(QFileInfo::exists(Env.Root() + QStringLiteral("/new;folder")));

  // Bytes that are not text would be taken as U+FFFD, another folder.
  const ToolRun::TRun Lost = RunInstaller(
    QStringLiteral("--unattended --ide \"RAD Studio XE3\" --target \"$1$(printf '\\377')x\""), {Env.Root() + QStringLiteral("/t")});
  EXPECT_EQ(Lost.Code, 2);
  EXPECT_EQ(Lost.Out, QString());
  EXPECT_TRUE(Lost.Err.contains(QStringLiteral("not UTF-8 text"))) << Lost.Err.toStdString();

  // A missing target is made only once nothing refuses: an unsupported
  // IDE, an unlisted one or a refused target leave no folder behind.
  const QString Deep = Env.Root() + QStringLiteral("/deep/new/folder");
  for (const QString& Ide : {QStringLiteral("RAD Studio XE"), QStringLiteral("Delphi 6"), XE3}) {
    const QString Into = Ide == XE3 ? Deep + QStringLiteral("/a;b") : Deep;
    const ToolRun::TRun Refused =
      RunInstaller(QStringLiteral("--unattended --ide \"$1\" --target \"$2\""), {Ide, Into});
    EXPECT_EQ(Refused.Code, 1) << Ide.toStdString();
    EXPECT_TRUE(Refused.Out.endsWith(QStringLiteral("Installation directory should be a valid location\n")))
      << Refused.Out.toStdString();
  }
  EXPECT_FALSE(QFileInfo::exists(Env.Root() + QStringLiteral("/deep")));

  EXPECT_EQ(FilesBelow(Env.Root()), Before);
  EXPECT_EQ(ReadAll(Config), QByteArray());
}

// Past a file-size limit the append to dcc32.cfg fails and is undone: the
// installer is not killed half-way with a torn line left in the file.
TEST_F(PackInstaller, AFileSizeLimitFailsTheInstallationAndLeavesDcc32CfgWhole)
{
  const QString App = RegisterIde(XE3Row);
  const QString Config = QFileInfo(App).path() + QStringLiteral("/dcc32.cfg");
  constexpr rlim_t Limit = 10240;
  const QByteArray Old(Limit, 'x');
  WriteAll(Config, Old);
  QProcess Installer;
  QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
  Environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  Installer.setProcessEnvironment(Environment);
  Installer.setChildProcessModifier([] {
    std::signal(SIGXFSZ, SIG_DFL);
    const rlimit Size{Limit, Limit};
    ::setrlimit(RLIMIT_FSIZE, &Size);
  });
  Installer.start(QStringLiteral(CORVANE_BIN_DIR "/CorvaneInstaller"),
                  {QStringLiteral("--unattended"), QStringLiteral("--ide"), XE3, QStringLiteral("--target"), Target,
                   QStringLiteral("--no-setup")});
  ASSERT_TRUE(Installer.waitForFinished(60000));
  EXPECT_EQ(Installer.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(Installer.exitCode(), 1);
  EXPECT_TRUE(Installer.readAllStandardOutput().endsWith("Corvane | Error | Installation Failed\n"));
  EXPECT_EQ(ReadAll(Config), Old);
}
