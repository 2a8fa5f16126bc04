#pragma once
// What the task-dialog and prompt tests share: a private data folder with a
// report for the hand-off to complete, and a way to meet the dialog while it
// is on screen.

#include "hostfw/Application.h"
#include "package/Vesparoutil.h"
#include "package/halvernSynTaskDialog.h"
#include "tests/package/VesparoTestSupport.h"
#include "tests/support/TempEnvironment.h"

#include <QCoreApplication>
#include <QDialog>
#include <QKeyEvent>

#include <gtest/gtest.h>

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

// A data folder of the test's own, with a report file in it.
class TWithReport : public ::testing::Test {
protected:
  void SetUp() override
  {
    Vesparoutil::ForceDataFolder(Vesparoutil::DataFolderPath());
    TestSupport::WriteAll(ReportPath(), "report\r\n");
    Vesparoutil::sJpegFileName.clear();
    Vesparoutil::sZipFileName.clear();
    Vesparoutil::sZipFileNameForMailing.clear();
  }
  void TearDown() override { VesparoTests::RemoveBugReportCopies(); }
  static QString ReportPath() { return Vesparoutil::FullHmldFilePath(); }

  TestSupport::TTempEnvironment Env;
};

}  // namespace TaskDialogTests
