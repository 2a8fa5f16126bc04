#pragma once
// Records every box the framework runs modally and answers it with OK (or
// the default button), as long as the object lives.

#include "hostfw/Application.h"

#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QStringList>

namespace TestSupport {

// A message box's text; of a task dialog, its content.
inline QString ShownText(QDialog& Dialog)
{
  if (const auto* Box = qobject_cast<QMessageBox*>(&Dialog))
    return Box->text();
  const auto* Content = Dialog.findChild<QLabel*>(QStringLiteral("Content"));
  return Content ? Content->text() : QString();
}

struct TShownBoxes {
  QStringList Texts;
  QStringList Captions;
  TShownBoxes()
  {
    Application::Instance()->SetModalHook([this](QDialog& Dialog) {
      Texts << ShownText(Dialog);
      Captions << Dialog.windowTitle();
      Application::PressOk(Dialog);
    });
  }
  ~TShownBoxes() { Application::Instance()->SetModalHook({}); }
  TShownBoxes(const TShownBoxes&) = delete;
  TShownBoxes& operator=(const TShownBoxes&) = delete;
};

}  // namespace TestSupport
