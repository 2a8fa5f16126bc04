#pragma once
// Meeting the task dialog while it is on screen: what every build of the
// dialog's tests needs, the installer's edition included (nothing of the
// rest of the package here).

#include "hostfw/Application.h"
#include "package/halvernSynTaskDialog.h"

#include <QCoreApplication>
#include <QDialog>
#include <QKeyEvent>

#include <functional>

namespace TaskDialogTests {

using namespace halvernSynTaskDialog;

// Runs Answer with each dialog the framework runs modally, from inside its
// modal loop, as long as the object lives.
struct TOnScreen {
  explicit TOnScreen(std::function<void(QDialog&)> Answer)
  {
    Application::Instance()->SetModalHook(std::move(Answer));
  }
  ~TOnScreen() { Application::Instance()->SetModalHook({}); }
  TOnScreen(const TOnScreen&) = delete;
  TOnScreen& operator=(const TOnScreen&) = delete;
};

inline void PressKey(QWidget& Target, Qt::Key Key)
{
  QKeyEvent Press(QEvent::KeyPress, Key, Qt::NoModifier);
  QCoreApplication::sendEvent(&Target, &Press);
}

inline TSynButton* ButtonWithResult(QDialog& Dialog, int Result)
{
  for (TSynButton* Button : Dialog.findChildren<TSynButton*>())
    if (Button->ModalResult() == Result)
      return Button;
  return nullptr;
}

}  // namespace TaskDialogTests
