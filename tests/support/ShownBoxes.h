#pragma once
// Records every box the framework runs modally and answers it with OK, as
// long as the object lives.

#include "hostfw/Application.h"

#include <QDialog>
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
      auto* Box = qobject_cast<QMessageBox*>(&Dialog);
      Texts << (Box ? Box->text() : QString());
      Captions << Dialog.windowTitle();
      if (Box && Box->button(QMessageBox::Ok))
        Box->button(QMessageBox::Ok)->click();
      else
        Dialog.accept();
    });
  }
  ~TShownBoxes() { Application::Instance()->SetModalHook({}); }
  TShownBoxes(const TShownBoxes&) = delete;
  TShownBoxes& operator=(const TShownBoxes&) = delete;
};

}  // namespace TestSupport
