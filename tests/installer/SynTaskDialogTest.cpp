// The installer's edition of the task dialog: the unit's sources without the
// report hand-off, and nothing else of the package (this program links no
// more). Its texts are 8-bit texts, its buttons carry their results in their
// tags, and a click on a text or a button opens and photographs nothing.

#include "installer/SynTaskDialog.h"

#include "hostfw/FormatSettings.h"
#include "platform/AnsiCodePage.h"
#include "tests/package/TaskDialogOnScreen.h"
#include "tests/support/TempEnvironment.h"

#include <QApplication>
#include <QCheckBox>
#include <QDirIterator>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <map>

using namespace TaskDialogTests;

namespace {

class SynTaskDialogTest : public ::testing::Test {
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

TSynButton* ButtonWithTag(QDialog& Dialog, int Tag)
{
  for (TSynButton* Button : Dialog.findChildren<TSynButton*>())
    if (Button->Tag == Tag)
      return Button;
  return nullptr;
}

}  // namespace

TEST_F(SynTaskDialogTest, TheEmulatedDialogAnswersAndHandsNothingOn)
{
  const QChar DateSeparator = FormatSettings::DateSeparator();
  QString Inst;
  bool HandCursor = true;
  qsizetype WindowsBefore = -1, WindowsAfter = -1;
  QFont EditFont, FormFont;
  QColor EditColour;
  bool OkFocused = false;
  TOnScreen Hook([&](QDialog& Dialog) {
    auto* Label = Dialog.findChild<QLabel*>(QStringLiteral("Inst"));
    Inst = Label->text();
    HandCursor = Label->cursor().shape() == Qt::PointingHandCursor;
    WindowsBefore = QApplication::topLevelWidgets().size();
    Click(*Label);
    WindowsAfter = QApplication::topLevelWidgets().size();
    auto* Edit = Dialog.findChild<QLineEdit*>();
    EditFont = Edit->font();
    FormFont = Dialog.font();
    EditColour = Edit->palette().color(QPalette::Text);
    OkFocused = Dialog.focusWidget() == ButtonWithTag(Dialog, mrOk);
    Edit->setText(QStringLiteral("typed"));
    Dialog.findChild<QCheckBox*>()->setChecked(false);
    ButtonWithTag(Dialog, mrOk)->click();
  });
  TTaskDialog Task;
  Task.Title = QStringLiteral("Setup");
  Task.Inst = QStringLiteral("Größe ж");
  Task.Verify = QStringLiteral("Remember");
  Task.VerifyChecked = 1;
  Task.Query = QStringLiteral("before");
  EXPECT_EQ(Task.Execute({}, 0, {tdfQuery, tdfQueryFieldFocused}, tiQuestion), mrOk);

  // 8-bit texts: what the code page cannot hold shows as "?".
  EXPECT_EQ(Inst, QStringLiteral("Größe ?"));
  EXPECT_FALSE(HandCursor);
  EXPECT_EQ(WindowsAfter, WindowsBefore);
  // The edit field keeps the form's font and colour and takes no focus of
  // its own: the default OK button has it.
  EXPECT_EQ(EditFont.family(), FormFont.family());
  EXPECT_EQ(EditColour, QApplication::palette().color(QPalette::Text));
  EXPECT_TRUE(OkFocused);
  EXPECT_EQ(Task.Query, QStringLiteral("typed"));
  EXPECT_EQ(Task.VerifyChecked, 0);
  // No picture: the picture's step would have changed the date separator
  // for good, and written a file.
  EXPECT_EQ(FormatSettings::DateSeparator(), DateSeparator);
  EXPECT_EQ(FilesWritten(), QStringList());
}

TEST_F(SynTaskDialogTest, ButtonsAreFortyWiderThanTheirCaptionAndTwentyEightHigh)
{
  std::map<int, QRect> Buttons;
  int InstHeight = 0, FormHeight = 0, ClientWidth = 0;
  QColor InstColour;
  TOnScreen Hook([&](QDialog& Dialog) {
    ClientWidth = Dialog.width();
    for (TSynButton* Button : Dialog.findChildren<TSynButton*>()) {
      Buttons[Button->Tag] = Button->geometry();
      EXPECT_EQ(Button->ModalResult(), mrNone);
    }
    auto* Label = Dialog.findChild<QLabel*>(QStringLiteral("Inst"));
    InstHeight = QFontInfo(Label->font()).pixelSize();
    FormHeight = QFontInfo(Dialog.font()).pixelSize();
    InstColour = Label->palette().color(QPalette::WindowText);
    ButtonWithTag(Dialog, mrCancel)->click();
  });
  TTaskDialog Task;
  Task.Inst = QStringLiteral("Are you sure?");
  Task.Buttons = QStringLiteral("Later\nLonger one");
  EXPECT_EQ(Task.Execute({cbYes, cbCancel}, 0, {}, tiQuestion, tfiWarning, 0, 0, nullptr, true), mrCancel);

  const QFontMetrics Metrics(DefaultFont());
  const std::map<int, QString> Captions{{mrYes, QStringLiteral("Yes")},
                                        {mrCancel, QStringLiteral("Cancel")},
                                        {100, QStringLiteral("Later")},
                                        {101, QStringLiteral("Longer one")}};
  ASSERT_EQ(Buttons.size(), Captions.size());
  for (const auto& [Tag, Caption] : Captions) {
    EXPECT_EQ(Buttons[Tag].width(), Metrics.horizontalAdvance(Caption) + 40) << Caption.toStdString();
    EXPECT_EQ(Buttons[Tag].height(), 28);
  }
  // From the right edge leftwards, 12 pixels apart, the custom buttons last
  // in list order.
  EXPECT_EQ(Buttons[101].right() + 1, ClientWidth - 12);
  EXPECT_EQ(Buttons[100].right() + 1 + 12, Buttons[101].left());
  // The main instruction: four pixels larger than the form's font, dark blue.
  EXPECT_EQ(InstHeight, FormHeight + 4);
  EXPECT_EQ(InstColour, QColor(0x00, 0x00, 0xB0));
}

TEST_F(SynTaskDialogTest, TheResultIsTheTagOfTheButtonThatClosedTheForm)
{
  // A custom button closes the form with its tag; the default button has
  // the focus once the form shows.
  {
    QWidget* Focused = nullptr;
    TSynButton* Default = nullptr;
    TOnScreen Hook([&](QDialog& Dialog) {
      Focused = Dialog.focusWidget();
      Default = ButtonWithTag(Dialog, 101);
      auto* Form = qobject_cast<TTaskDialogForm*>(&Dialog);
      ASSERT_NE(Form, nullptr);
      EXPECT_EQ(Form->DefaultButton, nullptr);
      ButtonWithTag(Dialog, 100)->click();
    });
    TTaskDialog Task;
    Task.Buttons = QStringLiteral("First\nSecond");
    EXPECT_EQ(Task.Execute({cbCancel}, 101, {}, tiInformation, tfiWarning, 0, 0, nullptr, true), 100);
    EXPECT_EQ(Focused, Default);
  }
  // Esc presses the cancel button; the single OK button is also the cancel
  // button.
  {
    TOnScreen Hook([](QDialog& Dialog) { PressKey(Dialog, Qt::Key_Escape); });
    TTaskDialog YesCancel;
    EXPECT_EQ(YesCancel.Execute({cbYes, cbCancel}, 0, {}, tiQuestion, tfiWarning, 0, 0, nullptr, true), mrCancel);
    TTaskDialog Query;
    EXPECT_EQ(Query.Execute({}, 0, {tdfQuery}), mrOk);
  }
  // Command links carry their results in their tags too.
  {
    TOnScreen Hook([](QDialog& Dialog) { ButtonWithTag(Dialog, 101)->click(); });
    TTaskDialog Links;
    Links.Buttons = QStringLiteral("Install\nSkip");
    EXPECT_EQ(Links.Execute({}, 0, {tdfUseCommandLinks, tdfQuery}), 101);
  }
  EXPECT_EQ(FilesWritten(), QStringList());
}

TEST_F(SynTaskDialogTest, GlyphsAreTheInstallersOwnResources)
{
  EXPECT_EQ(BitmapOK().size(), QSize(24, 24));
  EXPECT_EQ(BitmapArrow().size(), QSize(16, 16));
  // Transparent where the lower left pixel's colour is, drawn elsewhere.
  const QImage Ok = BitmapOK().toImage();
  EXPECT_EQ(qAlpha(Ok.pixel(0, 23)), 0);
  EXPECT_EQ(qAlpha(Ok.pixel(12, 12)), 255);
  EXPECT_TRUE(LoadBitmapResource(QStringLiteral("BTNOKHMLD")).isNull());
  EXPECT_FALSE(LoadBitmapResource(QStringLiteral("BTNARROW")).isNull());
}

TEST_F(SynTaskDialogTest, TheNativePathAnswersToo)
{
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
