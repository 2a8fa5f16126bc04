// The task dialog as the installer's edition builds it: the unit's sources
// without the report hand-off, and nothing else of the package (this
// program links no more). Its texts are 8-bit texts; a click on a text or
// a button opens and photographs nothing, and closing hands nothing on.

#include "hostfw/FormatSettings.h"
#include "platform/AnsiCodePage.h"
#include "tests/package/TaskDialogOnScreen.h"
#include "tests/support/TempEnvironment.h"

#include <QApplication>
#include <QCheckBox>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>

#include <gtest/gtest.h>

using namespace TaskDialogTests;

namespace {

class TaskDialogInstallerEdition : public ::testing::Test {
protected:
  void SetUp() override { AnsiCodePage::SetACP(1252); }
  void TearDown() override { AnsiCodePage::SetACP(0); }

  // Every file below the private folders: the dialog writes none.
  QStringList FilesWritten() const
  {
    QStringList Files;
    QDirIterator Found(Env.Root(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (Found.hasNext())
      Files << Found.next();
    return Files;
  }

  TestSupport::TTempEnvironment Env;
};

void Click(QWidget& Target)
{
  const QPointF At(Target.width() / 2.0, Target.height() / 2.0);
  for (const QEvent::Type Type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QMouseEvent Event(Type, At, Target.mapToGlobal(At), Qt::LeftButton,
                      Type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&Target, &Event);
  }
}

}  // namespace

TEST_F(TaskDialogInstallerEdition, TheEmulatedDialogAnswersAndHandsNothingOn)
{
  const QChar DateSeparator = FormatSettings::DateSeparator();
  QString Inst;
  bool HandCursor = true;
  qsizetype WindowsBefore = -1, WindowsAfter = -1;
  TOnScreen Hook([&](QDialog& Dialog) {
    auto* Label = Dialog.findChild<QLabel*>(QStringLiteral("Inst"));
    Inst = Label->text();
    HandCursor = Label->cursor().shape() == Qt::PointingHandCursor;
    WindowsBefore = QApplication::topLevelWidgets().size();
    Click(*Label);
    WindowsAfter = QApplication::topLevelWidgets().size();
    Dialog.findChild<QLineEdit*>()->setText(QStringLiteral("typed"));
    Dialog.findChild<QCheckBox*>()->setChecked(false);
    ButtonWithResult(Dialog, mrOk)->click();
  });
  TTaskDialog Task;
  Task.Title = QStringLiteral("Setup");
  Task.Inst = QStringLiteral("Größe ж");
  Task.Verify = QStringLiteral("Remember");
  Task.VerifyChecked = 1;
  Task.Query = QStringLiteral("before");
  EXPECT_EQ(Task.Execute({}, 0, {tdfQuery}, tiQuestion), mrOk);

  // 8-bit texts: what the code page cannot hold shows as "?".
  EXPECT_EQ(Inst, QStringLiteral("Größe ?"));
  EXPECT_FALSE(HandCursor);
  EXPECT_EQ(WindowsAfter, WindowsBefore);
  EXPECT_EQ(Task.Query, QStringLiteral("typed"));
  EXPECT_EQ(Task.VerifyChecked, 0);
  // No picture: the picture's step would have changed the date separator
  // for good, and written a file.
  EXPECT_EQ(FormatSettings::DateSeparator(), DateSeparator);
  EXPECT_FALSE(Task.ClickFailure);
  EXPECT_FALSE(Task.PackingFailure);
  EXPECT_EQ(FilesWritten(), QStringList());
}

TEST_F(TaskDialogInstallerEdition, EscapeAndTheNativePathAnswerToo)
{
  // The single OK button is also the cancel button.
  {
    TOnScreen Hook([](QDialog& Dialog) { PressKey(Dialog, Qt::Key_Escape); });
    TTaskDialog Query;
    EXPECT_EQ(Query.Execute({}, 0, {tdfQuery}), mrOk);
  }

  const TTaskDialogIndirect Saved = TaskDialogIndirect;
  TaskDialogIndirect = &TaskDialog::TaskDialogIndirect;
  {
    TOnScreen Hook([](QDialog& Dialog) { Application::PressOk(Dialog); });
    TTaskDialog Native;
    Native.Inst = QStringLiteral("Install now?");
    Native.Buttons = QStringLiteral("Now\nLater");
    EXPECT_EQ(Native.Execute({}, 101), 101);
  }
  TaskDialogIndirect = Saved;
  EXPECT_EQ(FilesWritten(), QStringList());
}
