// The installer's form of the emulated task dialog: its buttons carry their
// results in their tags, and the form's tag is what the dialog answers.
// Editions with the report hand-off (the package's) leave this source out.

#include "package/halvernSynTaskDialog.h"

#include "package/Edition.h"

static_assert(Edition::InstallerDialog, "only the installer's edition of the dialog has this form");

namespace halvernSynTaskDialog {

TTaskDialogForm::TTaskDialogForm(QWidget* Parent) : QDialog(Parent) {}

void TTaskDialogForm::ButtonClick(QObject* Sender)
{
  auto* Button = qobject_cast<TSynButton*>(Sender);
  if (!Button)
    return;
  Tag = Button->Tag;
  // Closing a form without a modal result cancels it.
  done(Tag >= mrOk && Tag <= mrNo ? Tag : mrCancel);
}

void TTaskDialogForm::FormShow()
{
  if (DefaultButton)
    DefaultButton->setFocus();
  DefaultButton = nullptr;
}

void TTaskDialogForm::showEvent(QShowEvent* Event)
{
  QDialog::showEvent(Event);
  FormShow();
}

void TTaskDialogForm::reject()
{
  for (TSynButton* Button : findChildren<TSynButton*>())
    if (Button->Cancel() && Button->isVisible() && Button->isEnabled()) {
      Button->click();
      return;
    }
}

}  // namespace halvernSynTaskDialog
