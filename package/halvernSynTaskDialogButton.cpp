// The button of the emulated task dialog.

#include "package/halvernSynTaskDialog.h"

#include <QDialog>
#include <QIcon>
#include <QMenu>

namespace halvernSynTaskDialog {

TSynButton::TSynButton(QWidget* Owner, TCommonButton Button, int Left, int Top, int Width, int Height)
  : TSynButton(Owner, CommonButtonCaption(Button), CommonButtonModalResult(Button), Left, Top, Width, Height)
{
  if (Button == cbOK) {
    setDefault(true);
    SetBitmap(&BitmapOK());
  } else if (Button == cbCancel) {
    SetCancel(true);
  }
}

TSynButton::TSynButton(QWidget* Owner, const QString& Caption, int ModalResult, int Left, int Top, int Width,
                       int Height)
  : QPushButton(Caption, Owner), FModalResult(ModalResult)
{
  setGeometry(Left, Top, Width, Height);
  connect(this, &QPushButton::clicked, this, &TSynButton::Clicked);
}

void TSynButton::SetBitmap(const QPixmap* Bitmap)
{
  if (!Bitmap || Bitmap->isNull())
    return;
  setIcon(QIcon(*Bitmap));
  setIconSize(Bitmap->size());
}

void TSynButton::DoDropDown()
{
  if (QMenu* DropDown = menu())
    DropDown->popup(mapToGlobal(rect().bottomLeft()));
}

void TSynButton::Clicked()
{
  // The handler runs while the form is still on screen; the modal result
  // closes it afterwards.
  if (OnClick)
    OnClick(this);
  if (FModalResult != mrNone)
    if (auto* Form = qobject_cast<QDialog*>(window()))
      Form->done(FModalResult);
}

}  // namespace halvernSynTaskDialog
