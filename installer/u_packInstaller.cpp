// The installer's main window and its flow.

#include "installer/u_packInstaller.h"

#include "hostfw/Application.h"
#include "hostfw/Colors.h"
#include "hostfw/Exceptions.h"
#include "hostfw/Image.h"
#include "hostfw/ListView.h"
#include "installer/InstallerLog.h"
#include "installer/u_rippleEffect.h"
#include "installer/u_supportUnit.h"
#include "installer/u_UtilsInstaller.h"

#include "ui_u_packInstaller.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QListWidget>
#include <QPixmap>
#include <QProcess>
#include <QStyle>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace u_packInstaller {

using namespace SynTaskDialog;
using u_supportUnit::TDelphiVersions;

namespace {

const QString DelphiIde = QStringLiteral("Delphi IDE");
const QString CorvaneInstallation = QStringLiteral("Corvane installation");
const QString SetupProgram = QStringLiteral("Corvane_setup.exe");

// The pictures of the window, built into the program.
const QString LogoPicture = QStringLiteral(":/installer/logo.jpg");
const QString BandPicture = QStringLiteral(":/installer/progress.bmp");

// Columns of the IDE list, in pixels.
constexpr int VersionColumnWidth = 261;
constexpr int PathColumnWidth = 704;

// Where the IDE named in the label stands in the table.
struct TIdeChoice {
  enum { Supported, Unsupported, None } Kind = None;
  TDelphiVersions Version = TDelphiVersions::Delphi4;
  QString RegistryKey;
};

TIdeChoice ChoiceOf(const QString& DisplayName)
{
  const std::optional<TDelphiVersions> Version = u_supportUnit::VersionNamed(DisplayName);
  if (!Version)
    return {};
  if (u_supportUnit::EditionCode(*Version).isEmpty())
    return {TIdeChoice::Unsupported, *Version, {}};
  return {TIdeChoice::Supported, *Version, u_supportUnit::DelphiRegPaths[size_t(*Version)]};
}

// How long the setup program has to end after it was asked to.
constexpr int SetupTermWaitMs = 2000;

// Keeps the window alive for a moment.
void PumpFor(int Ms)
{
  QCoreApplication::processEvents();
  QThread::msleep(std::uint64_t(Ms));
}

// Ends a setup program the user no longer waits for: asked first, then
// killed.
void StopSetup(QProcess& Setup)
{
  Setup.terminate();
  QElapsedTimer Asked;
  Asked.start();
  while (Setup.state() != QProcess::NotRunning && Asked.elapsed() < SetupTermWaitMs)
    PumpFor(1);
  if (Setup.state() != QProcess::NotRunning) {
    Setup.kill();
    Setup.waitForFinished(-1);
  }
}

// Runs the setup program silently into Target + "/Corvane" and waits for
// the process it started, keeping the window alive meanwhile; StopWanted
// set meanwhile (the window is being closed) stops it. Raises when it
// cannot be started, fails, crashes or was stopped: it has not installed
// the viewer then.
void RunSetupProgram(const QString& Target, const bool& StopWanted)
{
  const QString Program = u_supportUnit::InstallerFolder() + QStringLiteral("/Corvane/") + SetupProgram;
  QString Parameters = QStringLiteral(" /S /D=") + Target + QStringLiteral("/Corvane");
  Parameters.replace(QStringLiteral("//"), QStringLiteral("/"));
  // Started as the shell's open starts a program (its parameters as one
  // argument), but as our child, so that its exit status is known. A file
  // that cannot be run is a failure, never handed to another program.
  QProcess Setup;
  Setup.setProgram(Program);
  Setup.setArguments({Parameters});
  Setup.setStandardInputFile(QProcess::nullDevice());
  Setup.setProcessChannelMode(QProcess::ForwardedOutputChannel);
  // Should the installer itself be ended meanwhile, the setup program is
  // asked to end too rather than run on unwatched.
  const pid_t Installer = ::getpid();
  Setup.setChildProcessModifier([Installer] {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != Installer)
      ::raise(SIGTERM);
  });
  Setup.start();
  if (!Setup.waitForStarted(-1))
    throw Exception(QStringLiteral("%1 could not be started: %2").arg(Program, Setup.errorString()));
  // Only the process started here: another of the same name, anyone's,
  // does not keep the installation waiting.
  while (Setup.state() != QProcess::NotRunning && !StopWanted)
    PumpFor(1);
  if (Setup.state() != QProcess::NotRunning) {
    StopSetup(Setup);
    throw Exception(QStringLiteral("%1 was stopped: the installer's window was closed while it ran").arg(Program));
  }
  if (Setup.exitStatus() == QProcess::CrashExit)
    throw Exception(QStringLiteral("%1 crashed").arg(Program));
  if (Setup.exitCode() != 0) {
    // Its own words say why; the end of them when it said much.
    const QString Said = QString::fromLocal8Bit(Setup.readAllStandardError()).trimmed().right(2000);
    throw Exception(QStringLiteral("%1 failed with exit code %2%3")
                      .arg(Program)
                      .arg(Setup.exitCode())
                      .arg(Said.isEmpty() ? QString() : QStringLiteral(": ") + Said));
  }
}

// The window's buttons are disabled for as long as an installation runs:
// its handler pumps messages, and a second one nested inside it would run
// the setup program twice or close the window under it.
class TBusy {
public:
  TBusy(bool& Flag, std::initializer_list<QWidget*> Controls) : FFlag(Flag), FControls(Controls)
  {
    FFlag = true;
    for (QWidget* Control : FControls)
      Control->setEnabled(false);
  }
  ~TBusy()
  {
    for (QWidget* Control : FControls)
      Control->setEnabled(true);
    FFlag = false;
  }
  TBusy(const TBusy&) = delete;
  TBusy& operator=(const TBusy&) = delete;

private:
  bool& FFlag;
  QList<QWidget*> FControls;
};

}  // namespace

TfrmMain::TfrmMain(QWidget* Parent) : QWidget(Parent), FUi(std::make_unique<Ui::TfrmMain>())
{
  FUi->setupUi(this);
  Panel1 = FUi->Panel1;
  Panel2 = FUi->Panel2;
  Image1_ = FUi->Image1_;
  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(5);
  GroupBox1 = FUi->GroupBox1;
  GroupBox2 = FUi->GroupBox2;
  BtnClose = FUi->BtnClose;
  ListViewIDEs = FUi->ListViewIDEs;
  ImageList1 = new ListView::TImageList(this);
  ImageList1->setObjectName(QStringLiteral("ImageList1"));
  BtnInstall = FUi->BtnInstall;
  editInstallationDirectory = FUi->editInstallationDirectory;
  SpeedButtonBrowse = FUi->SpeedButtonBrowse;
  DirectoryListBoxFish = FUi->DirectoryListBoxFish;
  Label1 = FUi->Label1;
  lblIDEName = FUi->lblIDEName;
  Image1 = FUi->Image1;
  Bevel1 = FUi->Bevel1;
  Label2 = FUi->Label2;
  Label3 = FUi->Label3;
  Image2 = FUi->Image2;
  Panel3 = FUi->Panel3;
  imgProgesbar = FUi->imgProgesbar;
  CBInstallDariDerirud = FUi->CBInstallDariDerirud;

  // A dialog border: the window keeps its size.
  setFixedSize(size());
  ListViewIDEs->header()->resizeSection(0, VersionColumnWidth);
  ListViewIDEs->header()->resizeSection(1, PathColumnWidth);
  ListViewIDEs->SetSmallImages(ImageList1);
  // The texts lie on the banner's picture; the ripple takes their clicks.
  for (QWidget* Text : {static_cast<QWidget*>(Label2), static_cast<QWidget*>(Label3)})
    Text->setAttribute(Qt::WA_TransparentForMouseEvents);
  Image1->setAttribute(Qt::WA_OpaquePaintEvent);
  Image1_->SetPicture(QImage(LogoPicture));
  Image2->SetPicture(style()->standardIcon(QStyle::SP_DriveHDIcon).pixmap(32, 32).toImage());
  imgProgesbar->SetPicture(QImage(BandPicture).convertToFormat(QImage::Format_RGB888));

  for (Image::TImage* Surface : {Image1, Image1_}) {
    Surface->OnMouseDown = [this](Image::TImage&, Qt::MouseButton, int X, int Y) { Image1_MouseDown(X, Y); };
    Surface->OnMouseMove = [this](Image::TImage&, int X, int Y) { Image1_MouseMove(X, Y); };
    Surface->OnMouseUp = [this](Image::TImage&, Qt::MouseButton, int X, int Y) { Image1_MouseUp(X, Y); };
  }
  connect(Timer1, &QTimer::timeout, this, &TfrmMain::Timer1Timer);
  connect(BtnClose, &QPushButton::clicked, this, &TfrmMain::BtnCloseClick);
  connect(BtnInstall, &QPushButton::clicked, this, &TfrmMain::BtnInstallClick);
  connect(SpeedButtonBrowse, &QToolButton::clicked, this, &TfrmMain::SpeedButtonBrowseClick);
  connect(ListViewIDEs, &QTreeWidget::itemClicked, this, &TfrmMain::ListViewIDEsClick);

  if (QScreen* Screen = screen())
    move(Screen->availableGeometry().center() - rect().center());
  FormCreate();
}

TfrmMain::~TfrmMain()
{
  FormDestroy();
}

void TfrmMain::FormCreate()
{
  // Whatever goes wrong here, the window still opens.
  try {
    bImageisPresent = QFileInfo(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Reflect.bmp")))
                        .isFile();
    if (bImageisPresent)
      Timer1->start();
    Image1_->setAttribute(Qt::WA_OpaquePaintEvent);
    Image1->ClearPicture();
    u_rippleEffect::CreatOr(Image1, Colors::clWhite);
    InstalledIDEToListview();
  } catch (...) {
    qCWarning(Logging::Installer).noquote()
      << "the window's start-up stopped:" << Exceptions::MessageOf(std::current_exception());
  }
}

void TfrmMain::Timer1Timer()
{
  if (bImageisPresent)
    u_rippleEffect::ProcessWater(Image1, Colors::clWhite);
  u_supportUnit::UpdateImageProgress(imgProgesbar);
}

void TfrmMain::FormDestroy()
{
  u_rippleEffect::DestrOyer();
}

void TfrmMain::Image1_MouseDown(int X, int Y)
{
  u_rippleEffect::RippleMouseDown(X, Y);
}

void TfrmMain::Image1_MouseMove(int X, int Y)
{
  u_rippleEffect::RippleMouseMove(X, Y);
}

void TfrmMain::Image1_MouseUp(int X, int Y)
{
  u_rippleEffect::RippleMouseUp(X, Y);
}

void TfrmMain::BtnCloseClick()
{
  close();
}

void TfrmMain::closeEvent(QCloseEvent* Event)
{
  if (!FInstalling) {
    QWidget::closeEvent(Event);
    return;
  }
  // The installation under way ends first: a setup program waited for is
  // stopped, the failure told, and then the window closes.
  FCloseWanted = true;
  Event->ignore();
}

void TfrmMain::BtnInstallClick()
{
  const QString Target = editInstallationDirectory->text();
  if (!QFileInfo(Target).isDir()) {
    DisplayMessage(tiWarning, DelphiIde, QStringLiteral("Cannot install Corvane"),
                   QStringLiteral("Installation directory should be a valid location"), false);
    return;
  }
  if (!ListViewIDEs->Selected()) {
    DisplayMessage(tiWarning, DelphiIde, QStringLiteral("Please select an IDE"),
                   QStringLiteral("Please select Delphi IDE to install Corvane"), false);
    return;
  }
  if (u_supportUnit::IsIDErunning()) {
    DisplayMessage(tiWarning, DelphiIde, QStringLiteral("Cannot install"),
                   QStringLiteral("Delphi IDE is running, please close all instances of Delphi"), false);
    return;
  }
  if (!DisplayMessage(tiQuestion, CorvaneInstallation, QStringLiteral("Are you sure?"),
                      QStringLiteral("Corvane will be installed on your system.continue?"), true))
    return;

  TBusy Busy(FInstalling, {BtnInstall, BtnClose, SpeedButtonBrowse});
  FCloseWanted = false;
  imgProgesbar->show();
  const QString IdeName = lblIDEName->text().trimmed();
  const TIdeChoice Choice = ChoiceOf(IdeName);
  if (Choice.Kind == TIdeChoice::Unsupported) {
    imgProgesbar->hide();
    DisplayMessage(tiWarning, DelphiIde, IdeName + QStringLiteral(" is not supported"),
                   QStringLiteral(" Please select a different IDE"), false);
    return;
  }
  bool Failed = false;
  try {
    if (Choice.Kind == TIdeChoice::Supported)
      u_supportUnit::InstallHalvernMLDPack(Choice.RegistryKey, Choice.Version, editInstallationDirectory->text());
    if (CBInstallDariDerirud->isChecked()) {
      // The user may give up waiting: Close stops the setup program.
      BtnClose->setEnabled(true);
      RunSetupProgram(editInstallationDirectory->text(), FCloseWanted);
    }
  } catch (...) {
    const QString Reason = Exceptions::MessageOf(std::current_exception());
    qCWarning(Logging::Installer).noquote() << "the installation failed:" << Reason;
    Failed = true;
    DisplayMessage(tiError, QStringLiteral("Corvane"), QStringLiteral("Error"), QStringLiteral("Installation Failed"),
                   false, Reason);
    imgProgesbar->hide();
  }
  imgProgesbar->hide();
  CBInstallDariDerirud->setChecked(false);
  if (!Failed)
    DisplayMessage(tiInformation, CorvaneInstallation, QStringLiteral("Complete"),
                   QStringLiteral("Installation succesful"), false);
  if (FCloseWanted)
    QTimer::singleShot(0, this, &QWidget::close);
}

void TfrmMain::SpeedButtonBrowseClick()
{
  try {
    // The hidden directory list starts at the root, which also becomes the
    // process's current folder, as it always has.
    DirectoryListBoxFish->clear();
    DirectoryListBoxFish->addItems(QDir::root().entryList(QDir::Dirs | QDir::NoDotAndDotDot));
    QDir::setCurrent(QDir::rootPath());
    // No owner and no preset folder; cancelled, the box is emptied.
    QFileDialog Chooser(nullptr, BrowseCaption);
    Chooser.setObjectName(QStringLiteral("FolderChooser"));
    Chooser.setFileMode(QFileDialog::Directory);
    Chooser.setOption(QFileDialog::ShowDirsOnly);
    auto* App = Application::Instance();
    const int Answer = App ? App->ExecModal(Chooser) : Chooser.exec();
    editInstallationDirectory->setText(Answer == QDialog::Accepted && !Chooser.selectedFiles().isEmpty()
                                         ? Chooser.selectedFiles().first()
                                         : QString());
  } catch (...) {
    qCWarning(Logging::Installer).noquote()
      << "the folder choice stopped:" << Exceptions::MessageOf(std::current_exception());
  }
}

void TfrmMain::ListViewIDEsClick()
{
  if (ListView::TListItem* Item = ListViewIDEs->Selected())
    lblIDEName->setText(Item->Caption());
}

void TfrmMain::InstalledIDEToListview()
{
  auto* App = Application::Instance();
  // An unreadable store is not an empty one: say what is wrong with it, and
  // leave it alone.
  if (const QString StoreError = u_UtilsInstaller::RegStoreError(Registry::HKEY_CURRENT_USER); !StoreError.isEmpty()) {
    qCWarning(Logging::Installer).noquote() << StoreError;
    if (App)
      App->MessageBox(StoreError, App->Title());
    return;
  }
  u_supportUnit::LoadInstalledVersions(ListViewIDEs, ImageList1);
  if (ListViewIDEs->ItemCount() == 0) {
    if (App)
      App->MessageBox(NoDelphiInstalled, App->Title());
  } else if (ListView::TListItem* Item = ListViewIDEs->Selected()) {
    const QStringList SubItems = Item->SubItems();
    if (App && !SubItems.isEmpty())
      App->MessageBox(QFileInfo(SubItems.first()).path(), App->Title());
  }
}

bool TfrmMain::DisplayMessage(TTaskDialogIcon MessType, const QString& sTitle, const QString& sTitleSec,
                              const QString& sBody, bool YesORCancel, const QString& sInfo)
{
  TTaskDialog Task;
  Task.Title = sTitle;
  Task.Inst = sTitleSec;
  Task.Content = sBody;
  Task.Footer = MessageFooter;
  Task.Info = sInfo;
  const TCommonButtons Buttons = YesORCancel ? TCommonButtons{cbYes, cbCancel} : TCommonButtons{cbOK};
  // A reason is shown at once, not behind its button.
  const TTaskDialogFlags Flags = sInfo.isEmpty() ? TTaskDialogFlags{} : TTaskDialogFlags{tdfExpandByDefault};
  const int Result = Task.Execute(Buttons, 0, Flags, MessType, tfiShield, 200, 0, nullptr, false);
  return YesORCancel ? Result == mrYes : Result == mrOk;
}

}  // namespace u_packInstaller
