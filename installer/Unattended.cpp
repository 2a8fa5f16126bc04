// Scripted runs of the installer.

#include "installer/Unattended.h"

#include "hostfw/Application.h"
#include "hostfw/Exceptions.h"
#include "hostfw/ListView.h"
#include "installer/CreatedFolders.h"
#include "installer/u_packInstaller.h"
#include "installer/u_supportUnit.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>

namespace Unattended {

namespace {

QString LabelText(const QDialog& Dialog, std::initializer_list<const char*> Names)
{
  for (const char* Name : Names)
    if (auto* Label = Dialog.findChild<QLabel*>(QLatin1String(Name)))
      return Label->text();
  return {};
}

// The Yes button of a dialog that asks, whichever form of the dialog it is.
QAbstractButton* YesButton(QDialog& Dialog)
{
  if (auto* Box = qobject_cast<QMessageBox*>(&Dialog))
    return Box->button(QMessageBox::Yes);
  for (auto* Button : Dialog.findChildren<SynTaskDialog::TSynButton*>())
    if (Button->Tag == SynTaskDialog::mrYes)
      return Button;
  const QString Yes = SynTaskDialog::UnAmp(SynTaskDialog::CommonButtonCaption(SynTaskDialog::cbYes));
  for (auto* Button : Dialog.findChildren<QPushButton*>())
    if (SynTaskDialog::UnAmp(Button->text()) == Yes)
      return Button;
  return nullptr;
}

// A click on the item as the mouse gives it: the list selects it and
// reports the click.
bool ClickItem(ListView::TListView& List, const QString& Caption)
{
  for (int I = 0; I < List.ItemCount(); ++I) {
    ListView::TListItem* Item = List.Item(I);
    if (Item->Caption() != Caption)
      continue;
    List.scrollToItem(Item);
    const QPointF At = List.visualItemRect(Item).center();
    for (const QEvent::Type Type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      QMouseEvent Event(Type, At, List.viewport()->mapToGlobal(At), Qt::LeftButton,
                        Type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
      QCoreApplication::sendEvent(List.viewport(), &Event);
    }
    return true;
  }
  return false;
}

// Whether the installation for the IDE of this display name into the
// missing folder Target passes every check that could refuse it, so that
// the folder may be made; a refusal's reason goes to standard error, and
// the flow then refuses the missing folder.
bool NothingRefuses(const QString& Ide, const QString& Target)
{
  if (u_supportUnit::IsIDErunning())
    return false;
  const std::optional<u_supportUnit::TDelphiVersions> Version = u_supportUnit::VersionNamed(Ide.trimmed());
  if (!Version)
    return true;
  if (u_supportUnit::EditionCode(*Version).isEmpty())
    return false;
  try {
    u_supportUnit::CheckInstallation(*Version, Target, true);
  } catch (...) {
    const QByteArray Reason =
      (QStringLiteral("CorvaneInstaller: ") + Exceptions::MessageOf(std::current_exception()) + QLatin1Char('\n'))
        .toLocal8Bit();
    std::fputs(Reason.constData(), stderr);
    return false;
  }
  return true;
}

}  // namespace

TUnattendedRun::TUnattendedRun(std::FILE* Out) : FOut(Out)
{
  Application::Instance()->SetModalHook([this](QDialog& Dialog) {
    const TTexts Texts = TextsOf(Dialog);
    FLastInstruction = Texts.Inst;
    const QByteArray Line = (Texts.Title + QStringLiteral(" | ") + Texts.Inst + QStringLiteral(" | ") +
                             Texts.Content + QLatin1Char('\n'))
                              .toLocal8Bit();
    std::fputs(Line.constData(), FOut);
    std::fflush(FOut);
    // The reason of a failure, which the dialog shows below its texts.
    if (!Texts.Info.isEmpty()) {
      const QByteArray Reason = (QStringLiteral("CorvaneInstaller: ") + Texts.Info + QLatin1Char('\n')).toLocal8Bit();
      std::fputs(Reason.constData(), stderr);
      std::fflush(stderr);
    }
    Answer(Dialog);
  });
}

void TUnattendedRun::Answer(QDialog& Dialog)
{
  if (QAbstractButton* Yes = YesButton(Dialog))
    Yes->click();
  else
    Application::PressOk(Dialog);
}

TUnattendedRun::~TUnattendedRun()
{
  if (auto* App = Application::Instance())
    App->SetModalHook({});
}

TUnattendedRun::TTexts TUnattendedRun::TextsOf(const QDialog& Dialog)
{
  if (auto* Box = qobject_cast<const QMessageBox*>(&Dialog))
    return {Box->windowTitle(), Box->text(), Box->informativeText(), {}};
  // The emulated dialog's labels, else the native one's.
  return {Dialog.windowTitle(), LabelText(Dialog, {"Inst", "MainInstruction"}), LabelText(Dialog, {"Content"}),
          LabelText(Dialog, {"Info", "ExpandedInformation"})};
}

int TUnattendedRun::Drive(u_packInstaller::TfrmMain& Form, const TOptions& Options)
{
  // The batch file and the setup program run in folders of their own: the
  // target has to be a whole path. A folder the user would have made in the
  // folder chooser is made here, once nothing refuses the installation.
  QString Target = Options.Target;
  // Folders made here that a failed installation leaves empty go again.
  const CreatedFolders::TCreatedFolders Made(Target.isEmpty() ? QStringList() : QStringList{Target});
  const bool ToBeMade = !Target.isEmpty() && !QFileInfo::exists(Target);
  if (!Target.isEmpty())
    Target = QFileInfo(Target).absoluteFilePath();
  Form.editInstallationDirectory->setText(Target);
  const bool Listed = ClickItem(*Form.ListViewIDEs, Options.Ide);
  if (!Listed) {
    const QByteArray Note = QStringLiteral("CorvaneInstaller: no IDE \"%1\" is listed\n").arg(Options.Ide).toLocal8Bit();
    std::fputs(Note.constData(), stderr);
  }
  if (ToBeMade && Listed && NothingRefuses(Options.Ide, Target))
    QDir().mkpath(Target);
  if (Options.NoSetup)
    Form.CBInstallDariDerirud->setChecked(false);
  FLastInstruction.clear();
  Form.BtnInstall->click();
  if (FLastInstruction == QLatin1String("Complete"))
    return 0;
  Made.RemoveEmpty();
  return 1;
}

}  // namespace Unattended
