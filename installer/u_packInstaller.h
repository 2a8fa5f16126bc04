#pragma once
// The installer's main window: the IDEs found on this machine, the target
// folder, the installation for the chosen IDE under the rippling banner, and
// a task dialog for every outcome.

#include "installer/SynTaskDialog.h"

#include <QWidget>

#include <memory>

class QCheckBox;
class QCloseEvent;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;
class QToolButton;

namespace Image {
class TImage;
}
namespace ListView {
class TImageList;
class TListView;
}  // namespace ListView
namespace Ui {
class TfrmMain;
}

namespace u_packInstaller {

// Texts of the window and of its dialogs.
inline const QString ApplicationTitle = QStringLiteral("Corvane Installer");
inline const QString NoDelphiInstalled = QStringLiteral("Delphi is not installed in this system");
inline const QString BrowseCaption = QStringLiteral("Select a directory for bpl file placement");
inline const QString MessageFooter = QStringLiteral("Powered by Halvern Software Technologies");

class TfrmMain : public QWidget {
  Q_OBJECT
public:
  explicit TfrmMain(QWidget* Parent = nullptr);
  ~TfrmMain() override;

  // The controls, in the order the form declares them.
  QFrame* Panel1 = nullptr;
  QFrame* Panel2 = nullptr;
  Image::TImage* Image1_ = nullptr;
  QTimer* Timer1 = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QPushButton* BtnClose = nullptr;
  ListView::TListView* ListViewIDEs = nullptr;
  ListView::TImageList* ImageList1 = nullptr;
  QPushButton* BtnInstall = nullptr;
  QLineEdit* editInstallationDirectory = nullptr;
  QToolButton* SpeedButtonBrowse = nullptr;
  QListWidget* DirectoryListBoxFish = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* lblIDEName = nullptr;
  Image::TImage* Image1 = nullptr;
  QFrame* Bevel1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  Image::TImage* Image2 = nullptr;
  QFrame* Panel3 = nullptr;
  Image::TImage* imgProgesbar = nullptr;
  QCheckBox* CBInstallDariDerirud = nullptr;

  void FormCreate();
  void Timer1Timer();
  void FormDestroy();
  void Image1_MouseDown(int X, int Y);
  void Image1_MouseMove(int X, int Y);
  void Image1_MouseUp(int X, int Y);
  void BtnCloseClick();
  void BtnInstallClick();
  void SpeedButtonBrowseClick();
  void ListViewIDEsClick();
  void InstalledIDEToListview();
  // sInfo, the reason of a failure, goes into the dialog's expanded
  // information.
  bool DisplayMessage(SynTaskDialog::TTaskDialogIcon MessType, const QString& sTitle, const QString& sTitleSec,
                      const QString& sBody, bool YesORCancel, const QString& sInfo = QString());

  bool ImageIsPresent() const { return bImageisPresent; }
  // Whether an installation is under way (its buttons are disabled then,
  // but for Close while the setup program is waited for).
  bool Installing() const { return FInstalling; }

protected:
  // Closed while an installation runs, the window stays until it has
  // ended: a setup program waited for is stopped, its failure told, and the
  // window closes then (the handler that waits runs inside this form).
  void closeEvent(QCloseEvent* Event) override;

private:
  bool bImageisPresent = false;
  bool FInstalling = false;
  bool FCloseWanted = false;
  std::unique_ptr<Ui::TfrmMain> FUi;
};

}  // namespace u_packInstaller
