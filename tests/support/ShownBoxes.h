#pragma once
// Records every box the framework runs modally and answers it with OK (or
// the default button), as long as the object lives.

#include "hostfw/Application.h"

#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

namespace TestSupport {

struct TShownBoxes {
  QStringList Texts;
  QStringList Captions;
  TShownBoxes()
  {
    Application::Instance()->SetModalHook([this](QDialog& Dialog) {
      // A message box's text; of a task dialog, its content.
      auto* Box = qobject_cast<QMessageBox*>(&Dialog);
      const auto* Content = Dialog.findChild<QLabel*>(QStringLiteral("Content"));
      Texts << (Box ? Box->text() : Content ? Content->text() : QString());
      Captions << Dialog.windowTitle();
      // OK, or the default button, pressed as a user would.
      QAbstractButton* Ok = Box ? Box->button(QMessageBox::Ok) : nullptr;
      for (QPushButton* Button : Dialog.findChildren<QPushButton*>())
        if (!Ok && Button->isDefault())
          Ok = Button;
      if (Ok)
        Ok->click();
      else
        Dialog.accept();
    });
  }
  ~TShownBoxes() { Application::Instance()->SetModalHook({}); }
  TShownBoxes(const TShownBoxes&) = delete;
  TShownBoxes& operator=(const TShownBoxes&) = delete;
};

}  // namespace TestSupport
