#include "tests/package/TaskDialogTestSupport.h"

#include "hostfw/Exceptions.h"
#include "hostfw/FormatSettings.h"
#include "tests/support/ExpectedReport.h"
#include "tests/support/FileSizeLimit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QWidget>

#include <gtest/gtest.h>

#include <map>

using namespace TaskDialogTests;
using TestSupport::ReadAll;

namespace {

int TextWidth(const QString& Text) { return QFontMetrics(DefaultFont()).horizontalAdvance(Text); }

// Geometry of the dialog's controls by name, taken while it is on screen.
struct TLayout {
  QSize Client;
  std::map<QString, QRect> Controls;
  std::map<int, QRect> Buttons;  // by modal result
  QRect operator[](const QString& Name) const
  {
    const auto Found = Controls.find(Name);
    return Found == Controls.end() ? QRect() : Found->second;
  }
  bool Has(const QString& Name) const { return Controls.count(Name) != 0; }
};

TLayout LayoutOf(QDialog& Dialog)
{
  TLayout Layout;
  Layout.Client = Dialog.size();
  for (QWidget* Child : Dialog.findChildren<QWidget*>())
    if (!Child->objectName().isEmpty() && !Child->objectName().startsWith(QLatin1String("qt_")))
      Layout.Controls[Child->objectName()] = QRect(Child->mapTo(&Dialog, QPoint(0, 0)), Child->size());
  for (TSynButton* Button : Dialog.findChildren<TSynButton*>())
    Layout.Buttons[Button->ModalResult()] = QRect(Button->mapTo(&Dialog, QPoint(0, 0)), Button->size());
  return Layout;
}

// Shows Task emulated, takes its layout and closes it with its first button.
TLayout ShowAndMeasure(TTaskDialog Task, TCommonButtons Common = {}, TTaskDialogFlags Flags = {},
                       TTaskDialogIcon Icon = tiInformation, TTaskDialogFooterIcon FooterIcon = tfiWarning,
                       int Width = 0, bool Classic = false)
{
  TLayout Layout;
  TOnScreen Hook([&Layout](QDialog& Dialog) {
    Layout = LayoutOf(Dialog);
    Dialog.findChildren<TSynButton*>().first()->click();
  });
  Task.Execute(Common, 0, Flags, Icon, FooterIcon, 0, Width, nullptr, true, Classic);
  return Layout;
}

class TaskDialogLayout : public TWithReport {};
class TaskDialogClosing : public TWithReport {};
class TaskDialogNative : public TWithReport {
protected:
  void SetUp() override
  {
    TWithReport::SetUp();
    Saved = TaskDialogIndirect;
    Config = TaskDialog::TASKDIALOGCONFIG{};
    Calls = 0;
    TaskDialogIndirect = &Record;
  }
  void TearDown() override
  {
    TaskDialogIndirect = Saved;
    TWithReport::TearDown();
  }

  // Keeps what it was given, answers with the canned outputs.
  static std::int32_t Record(const TaskDialog::TASKDIALOGCONFIG* Given, int* Button, int* Radio,
                             std::int32_t* Verify)
  {
    ++Calls;
    Config = *Given;
    ButtonTexts.clear();
    RadioTexts.clear();
    for (std::uint32_t I = 0; I < Given->cButtons; ++I)
      ButtonTexts << QStringLiteral("%1=%2").arg(Given->pButtons[I].nButtonID).arg(Given->pButtons[I].pszButtonText);
    for (std::uint32_t I = 0; I < Given->cRadioButtons; ++I)
      RadioTexts << QStringLiteral("%1=%2").arg(Given->pRadioButtons[I].nButtonID).arg(
        Given->pRadioButtons[I].pszButtonText);
    *Button = 101;
    *Radio = 201;
    *Verify = 1;
    return Outcome;
  }

  TTaskDialogIndirect Saved = nullptr;
  static inline TaskDialog::TASKDIALOGCONFIG Config;
  static inline QStringList ButtonTexts, RadioTexts;
  static inline int Calls = 0;
  static inline std::int32_t Outcome = TaskDialog::S_OK;
};

}  // namespace

TEST(TaskDialogText, LineBreaksHintsAndLineLists)
{
  EXPECT_EQ(CR(QStringLiteral("two\\nlines\\nhere")), QStringLiteral("two\nlines\nhere"));
  EXPECT_EQ(CR(QStringLiteral("no break \\ n")), QStringLiteral("no break \\ n"));
  EXPECT_EQ(N(QString()), QString());
  EXPECT_EQ(N(QStringLiteral("a\\nb")), QStringLiteral("a\nb"));
  EXPECT_EQ(UnAmp(QStringLiteral("&Yes && &No")), QStringLiteral("Yes  No"));

  QString Hint = QStringLiteral("left over");
  EXPECT_EQ(NoCR(QStringLiteral("Save\\nwrites the file\\nnow"), Hint), QStringLiteral("Save"));
  EXPECT_EQ(Hint, QStringLiteral("writes the file\nnow"));
  EXPECT_EQ(NoCR(QStringLiteral("Plain"), Hint), QStringLiteral("Plain"));
  EXPECT_EQ(Hint, QString());

  // Runs of control characters end a line; an empty line is skipped; a zero
  // character ends the list.
  const QString List = QStringLiteral("first\r\n\r\nsecond\\nhalf\tthird") + QChar(0) + QStringLiteral("unseen");
  qsizetype Pos = 0;
  EXPECT_EQ(GetNextStringLineToWS(List, Pos), QStringLiteral("first"));
  EXPECT_EQ(GetNextStringLineToWS(List, Pos), QStringLiteral("second\nhalf"));
  EXPECT_EQ(GetNextStringLineToWS(List, Pos), QStringLiteral("third"));
  EXPECT_EQ(List[Pos], QChar(0));

  std::vector<TaskDialog::TASKDIALOG_BUTTON> Entries;
  int Count = 0;
  AddRU(QStringLiteral("  \r\nOne\r\nTwo\r\n  "), Count, 200, Entries);
  ASSERT_EQ(Count, 2);
  EXPECT_EQ(Entries.size(), 16u);
  EXPECT_EQ(Entries[0].nButtonID, 200);
  EXPECT_EQ(Entries[0].pszButtonText, QStringLiteral("One"));
  EXPECT_EQ(Entries[1].nButtonID, 201);
  // The array grows by 16 when full; ids go on from the running count.
  QStringList Many;
  for (int I = 0; I < 15; ++I)
    Many << QStringLiteral("b%1").arg(I);
  AddRU(Many.join(QLatin1Char('\n')), Count, 200, Entries);
  EXPECT_EQ(Count, 17);
  EXPECT_EQ(Entries.size(), 32u);
  EXPECT_EQ(Entries[16].nButtonID, 216);
  EXPECT_EQ(Entries[16].pszButtonText, QStringLiteral("b14"));
}

TEST(TaskDialogUnit, TablesFontGlyphsAndDefaults)
{
  EXPECT_EQ(TCommonButtons({cbOK, cbYes, cbNo, cbCancel, cbRetry, cbClose}).Bits(), 0x3F);
  EXPECT_EQ(TCommonButtons{cbCancel}.Bits(), 8);
  EXPECT_EQ(TTaskDialogFlags({tdfAllowDialogCancellation, tdfVerificationFlagChecked, tdfQuery}).Bits(),
            8u + 256u + 65536u);
  EXPECT_EQ(CommonButtonModalResult(cbClose), 3);
  EXPECT_EQ(CommonButtonModalResult(cbRetry), 4);
  EXPECT_EQ(TaskDialogIconNative(tiShield), 78);
  EXPECT_EQ(TaskDialogFooterIconNative(tfiInformation), 65533);
  EXPECT_EQ(TaskDialogIconEmulated(tiNotUsed), 0);
  EXPECT_EQ(LoadSystemIcon(TaskDialogIconEmulated(tiError)).size(), QSize(SystemIconSize, SystemIconSize));
  EXPECT_TRUE(LoadSystemIcon(0).isNull());
  EXPECT_EQ(DefaultTaskDialog.DialogIcon, tiInformation);
  EXPECT_EQ(DefaultTaskDialog.FooterIcon, tfiWarning);
  EXPECT_TRUE(DefaultTaskDialog.CommonButtons.IsEmpty());

  // Calibri where installed, else Tahoma, else Arial at 13 pixels.
  const QStringList Families = QFontDatabase::families();
  const QFont& Font = DefaultFont();
  if (Families.contains(QStringLiteral("Calibri"))) {
    EXPECT_EQ(Font.family(), QStringLiteral("Calibri"));
    EXPECT_EQ(Font.pixelSize(), 14);
  } else {
    EXPECT_EQ(Font.family(),
              Families.contains(QStringLiteral("Tahoma")) ? QStringLiteral("Tahoma") : QStringLiteral("Arial"));
    EXPECT_EQ(Font.pixelSize(), 13);
  }
  EXPECT_FALSE(Font.bold() || Font.italic());

  // Our glyphs: their sizes, at most 16 colours, transparent around.
  for (const auto& [Name, Size] : {std::pair{QStringLiteral("BTNOKHMLD"), 24}, {QStringLiteral("BTNARROWHMLD"), 16}}) {
    const QImage Glyph = LoadBitmapResource(Name).toImage();
    ASSERT_EQ(Glyph.size(), QSize(Size, Size)) << Name.toStdString();
    QSet<QRgb> Colours;
    for (int Y = 0; Y < Size; ++Y)
      for (int X = 0; X < Size; ++X)
        Colours << Glyph.pixel(X, Y);
    EXPECT_LE(Colours.size(), 16);
    EXPECT_GE(Colours.size(), 2);
    EXPECT_EQ(qAlpha(Glyph.pixel(0, 0)), 0);
  }
  EXPECT_EQ(BitmapOK().size(), QSize(24, 24));
  EXPECT_EQ(BitmapArrow().size(), QSize(16, 16));
  EXPECT_TRUE(LoadBitmapResource(QStringLiteral("BTNOK")).isNull());
}

TEST(TaskDialogGraphics, HalfSizeFooterIconsAreKeptApartByTheirGround)
{
  // Kept icons must not hand one ground's drawing to another.
  const QImage OnRed = LoadHalfSizeIcon(32516, Qt::red).toImage();
  const QImage OnBlue = LoadHalfSizeIcon(32516, Qt::blue).toImage();
  ASSERT_EQ(OnRed.size(), QSize(SystemIconSize / 2, SystemIconSize / 2));
  ASSERT_EQ(OnBlue.size(), OnRed.size());
  EXPECT_EQ(QColor(OnRed.pixel(0, 0)), QColor(Qt::red));
  EXPECT_EQ(QColor(OnBlue.pixel(0, 0)), QColor(Qt::blue));
  EXPECT_EQ(LoadHalfSizeIcon(32516, Qt::red).toImage(), OnRed);
  EXPECT_TRUE(LoadHalfSizeIcon(1, Qt::red).isNull());
}

TEST_F(TaskDialogLayout, WidthFollowsTheTextsAndTheButtonList)
{
  TTaskDialog Task;
  Task.Inst = QStringLiteral("Short");
  Task.Content = QStringLiteral("Short too");
  Task.Buttons = QString(40, QLatin1Char('b'));
  EXPECT_EQ(ShowAndMeasure(Task).Client.width(), 420);
  Task.Buttons = QString(41, QLatin1Char('b'));
  EXPECT_EQ(ShowAndMeasure(Task).Client.width(), 480);

  // A main instruction or content wider than 300 pixels takes 480 even with
  // short buttons; exactly 300 does not.
  Task.Buttons = QStringLiteral("b");
  QString Wide;
  while (TextWidth(Wide + QLatin1Char('W')) <= 300)
    Wide += QLatin1Char('W');
  ASSERT_GT(TextWidth(Wide + QStringLiteral("WW")), 300);
  Task.Inst = Wide;
  EXPECT_EQ(ShowAndMeasure(Task).Client.width(), 420);
  Task.Inst = Wide + QStringLiteral("WW");
  EXPECT_EQ(ShowAndMeasure(Task).Client.width(), 480);
  Task.Inst = QStringLiteral("Short");
  Task.Content = Wide + QStringLiteral("WW");
  EXPECT_EQ(ShowAndMeasure(Task).Client.width(), 480);
  // A width given is kept.
  EXPECT_EQ(ShowAndMeasure(Task, {}, {}, tiInformation, tfiWarning, 333).Client.width(), 333);
}

TEST_F(TaskDialogLayout, ButtonsFillTheRowFromTheRightAndWrap32PixelsLower)
{
  TTaskDialog Task;
  Task.Inst = QStringLiteral("Many buttons");
  Task.Buttons = QStringLiteral("First custom\nSecond custom\nThird custom\nFourth custom");
  const TCommonButtons All{cbOK, cbYes, cbNo, cbCancel, cbRetry, cbClose};
  const TLayout Layout = ShowAndMeasure(Task, All, {}, tiBlank);
  // More than 40 characters of buttons: the wide form.
  ASSERT_EQ(Layout.Client.width(), 480);
  // Without an icon the texts start at twice the margin.
  EXPECT_EQ(Layout["Inst"].topLeft(), QPoint(48, 48));
  const int X = 48, W = 480;

  // Placed from the right edge leftwards: the custom buttons from the last,
  // then Close down to OK; a button that would start left of X / 2 opens a
  // new row 32 pixels lower at the right edge.
  const QList<std::pair<int, QString>> Order{
    {103, QStringLiteral("Fourth custom")}, {102, QStringLiteral("Third custom")},
    {101, QStringLiteral("Second custom")}, {100, QStringLiteral("First custom")},
    {3, QStringLiteral("Close")},          {4, QStringLiteral("Retry")},
    {2, QStringLiteral("Cancel")},         {7, QStringLiteral("No")},
    {6, QStringLiteral("Yes")},            {1, QStringLiteral("OK")}};
  int XB = W, Y = Layout.Buttons.at(103).y(), Rows = 1;
  EXPECT_EQ(Y, Layout["Panel"].bottom() + 1 + 16);
  for (const auto& [Result, Caption] : Order) {
    const int WB = TextWidth(Caption) + 52;
    XB -= WB;
    if (XB < X / 2) {
      XB = W - WB;
      Y += 32;
      ++Rows;
    }
    EXPECT_EQ(Layout.Buttons.at(Result), QRect(XB, Y, WB - 12, 28)) << Caption.toStdString();
  }
  EXPECT_GE(Rows, 3);
  // No check box and no footer: the client ends 36 below the last row.
  EXPECT_EQ(Layout.Client.height(), Y + 36);
  EXPECT_FALSE(Layout.Has(QStringLiteral("Separator")));
}

TEST_F(TaskDialogLayout, CheckBoxSharesTheRowOrMovesBelowTheButtons)
{
  TTaskDialog Task;
  Task.Inst = QStringLiteral("Check box");
  Task.Verify = QStringLiteral("Ask me again");
  TLayout Layout = ShowAndMeasure(Task, {cbOK, cbCancel});
  // Information icon: texts start right of it.
  const int X = SystemIconSize + 48;
  EXPECT_EQ(Layout["Image"], QRect(24, 24, 32, 32));
  EXPECT_EQ(Layout["Inst"].x(), X);
  const QRect Ok = Layout.Buttons.at(1);
  EXPECT_EQ(Layout["Verify"], QRect(X, Ok.y(), Ok.x() - X, 24));

  // Too long for the room left of the buttons: one row lower, full width.
  Task.Verify = QStringLiteral("Do not show this message again, whatever happens next");
  ASSERT_GT(TextWidth(Task.Verify) + X + 16, 420 - (TextWidth(QStringLiteral("OK")) + 52) -
                                                (TextWidth(QStringLiteral("Cancel")) + 52));
  Layout = ShowAndMeasure(Task, {cbOK, cbCancel});
  EXPECT_EQ(Layout["Verify"], QRect(X, Layout.Buttons.at(1).y() + 32, 420 - X, 24));
  EXPECT_EQ(Layout.Client.height(), Layout["Verify"].y() + 36);
}

TEST_F(TaskDialogLayout, FooterUnderASeparatorWithAHalfSizeIcon)
{
  TTaskDialog Task;
  Task.Inst = QStringLiteral("Footer");
  Task.Footer = QStringLiteral("Read the footer");
  TLayout Layout = ShowAndMeasure(Task, {}, {}, tiInformation, tfiWarning);
  const int RowEnd = Layout.Buttons.at(1).y() + 36;
  EXPECT_EQ(Layout["Separator"], QRect(2, RowEnd, 420 - 4, 2));
  EXPECT_EQ(Layout["FooterImage"], QRect(24, RowEnd + 16, 16, 16));
  EXPECT_EQ(Layout["Footer"].topLeft(), QPoint(16 + 40, RowEnd + 16));
  EXPECT_EQ(Layout["Footer"].width(), 420 - 56 - 8);
  EXPECT_EQ(Layout.Client.height(), Layout["Footer"].bottom() + 1 + 16);

  // No footer icon: the text starts at 24. Command links without common
  // buttons leave no button row, so no separator either.
  Task.Buttons = QStringLiteral("Go on\\nand forget it");
  Layout = ShowAndMeasure(Task, {}, {tdfUseCommandLinks}, tiInformation, tfiBlank);
  EXPECT_FALSE(Layout.Has(QStringLiteral("Separator")));
  EXPECT_FALSE(Layout.Has(QStringLiteral("FooterImage")));
  EXPECT_EQ(Layout["Footer"].topLeft(), QPoint(24, Layout["Panel"].bottom() + 1 + 16));
  EXPECT_EQ(Layout["CommandLink0"], QRect(80, Layout["CommandLink0"].y(), 420 - 80 - 16, 40));
}

TEST_F(TaskDialogLayout, ClassicStyleKeepsTheFormFontAndSmallerMargins)
{
  TTaskDialog Task;
  Task.Inst = QStringLiteral("Classic");
  QFont InstFont, FormFont;
  bool WhitePanel = true;
  QRect Image, Inst, Ok;
  TOnScreen Hook([&](QDialog& Dialog) {
    FormFont = Dialog.font();
    WhitePanel = Dialog.findChild<QWidget*>(QStringLiteral("Panel"))->autoFillBackground();
    Image = Dialog.findChild<QWidget*>(QStringLiteral("Image"))->geometry();
    auto* Label = Dialog.findChild<QLabel*>(QStringLiteral("Inst"));
    InstFont = Label->font();
    Inst = Label->geometry();
    Ok = ButtonWithResult(Dialog, 1)->geometry();
    ButtonWithResult(Dialog, 1)->click();
  });
  Task.Execute({}, 0, {}, tiWarning, tfiBlank, 0, 0, nullptr, true, true);
  EXPECT_NE(FormFont, DefaultFont());
  EXPECT_FALSE(WhitePanel);
  EXPECT_EQ(Image, QRect(10, 10, 32, 32));
  EXPECT_EQ(Inst.topLeft(), QPoint(32 + 20, 18));
  EXPECT_TRUE(InstFont.bold());
  EXPECT_EQ(QFontInfo(InstFont).pixelSize(), QFontInfo(FormFont).pixelSize() + 2);
  const int WB = QFontMetrics(FormFont).horizontalAdvance(QStringLiteral("OK")) + 52;
  EXPECT_EQ(Ok.size(), QSize(WB - 10, 22));
}

TEST_F(TaskDialogClosing, EscAndEnterBothReturnOneAndTakeTheScreenshot)
{
  for (const Qt::Key Key : {Qt::Key_Escape, Qt::Key_Return}) {
    Vesparoutil::sJpegFileName.clear();
    bool WasCancel = false;
    TOnScreen Hook([&](QDialog& Dialog) {
      WasCancel = ButtonWithResult(Dialog, 1)->Cancel();
      PressKey(Dialog, Key);
    });
    TTaskDialog Task;
    Task.Inst = QStringLiteral("Single OK");
    EXPECT_EQ(Task.Execute({}, 0, {}, tiInformation, tfiWarning, 0, 0, nullptr, true), 1) << Key;
    EXPECT_TRUE(WasCancel);
    EXPECT_TRUE(QFileInfo(Vesparoutil::sJpegFileName).isFile()) << Key;
    EXPECT_TRUE(ReadAll(ReportPath()).endsWith("Zip file path : " + Vesparoutil::sZipFileName.toUtf8() + "\r\n"));
  }

  // With OK and Cancel, Esc is Cancel's.
  TOnScreen Hook([](QDialog& Dialog) { PressKey(Dialog, Qt::Key_Escape); });
  TTaskDialog Task;
  EXPECT_EQ(Task.Execute({cbOK, cbCancel}, 0, {}, tiInformation, tfiWarning, 0, 0, nullptr, true), 2);
}

TEST_F(TaskDialogClosing, TheReportIsHandedOnWhicheverButtonClosesAndResultsAreRead)
{
  TTaskDialog Task;
  Task.Inst = QStringLiteral("Choose");
  Task.Buttons = QStringLiteral("Keep\nDrop");
  Task.Radios = QStringLiteral("Red\nGreen\nBlue");
  Task.Selection = QStringLiteral("one\ntwo\nthree");
  Task.Query = QStringLiteral("two");
  Task.Verify = QStringLiteral("Remember");
  int SelectedAtStart = -2;
  QString CheckedAtStart;
  TOnScreen Hook([&](QDialog& Dialog) {
    auto* Combo = Dialog.findChild<QComboBox*>();
    SelectedAtStart = Combo->currentIndex();
    for (QRadioButton* Radio : Dialog.findChildren<QRadioButton*>())
      if (Radio->isChecked())
        CheckedAtStart += Radio->text();
    Combo->setCurrentIndex(2);
    Dialog.findChild<QRadioButton*>(QStringLiteral("Radio1"))->setChecked(true);
    Dialog.findChild<QCheckBox*>()->setChecked(true);
    ButtonWithResult(Dialog, 101)->click();
  });
  EXPECT_EQ(Task.Execute({}, 0, {}, tiQuestion, tfiBlank, 202), 101);
  // The default radio replaces the first; the item equal to Query is chosen.
  EXPECT_EQ(CheckedAtStart, QStringLiteral("Blue"));
  EXPECT_EQ(SelectedAtStart, 1);
  EXPECT_EQ(Task.SelectionRes, 2);
  EXPECT_EQ(Task.Query, QStringLiteral("three"));
  EXPECT_EQ(Task.RadioRes, 201);
  EXPECT_EQ(Task.VerifyChecked, -1);
  // No edit field: an empty comment, and the picture of the custom button.
  EXPECT_TRUE(ReadAll(ReportPath()).endsWith("\r\nComments by the User :\r\n\r\nImage path : " +
                                             Vesparoutil::sJpegFileName.toUtf8() + "\r\n\r\nZip file path : " +
                                             Vesparoutil::sZipFileName.toUtf8() + "\r\n"));
  EXPECT_TRUE(QFileInfo(Vesparoutil::sZipFileName).isFile());
}

TEST_F(TaskDialogClosing, AFailingHandOffFreesTheFormAndLeavesTheResults)
{
  QPointer<QDialog> Shown;
  TOnScreen Hook([&](QDialog& Dialog) {
    Shown = &Dialog;
    Dialog.findChild<QLineEdit*>()->setText(QStringLiteral("typed"));
    Dialog.findChild<QCheckBox*>()->setChecked(false);
    QFile::remove(ReportPath());
    ButtonWithResult(Dialog, 1)->click();
  });
  TTaskDialog Task;
  Task.Query = QStringLiteral("before");
  Task.Verify = QStringLiteral("Send");
  Task.VerifyChecked = 1;
  EXPECT_THROW(Task.Execute({}, 0, {tdfQuery}), EInOutError);
  EXPECT_TRUE(Shown.isNull());
  EXPECT_EQ(Task.Query, QStringLiteral("before"));
  EXPECT_EQ(Task.VerifyChecked, 1);
  EXPECT_FALSE(QFileInfo::exists(Vesparoutil::sZipFileName));
}

TEST_F(TaskDialogClosing, APictureFailureIsRaisedByItsOwnExecuteOnly)
{
  TOnScreen Hook([](QDialog& Dialog) { ButtonWithResult(Dialog, 1)->click(); });
  TTaskDialog Task;
  {
    const TestSupport::TFileSizeLimit NoRoomForPictures(16 * 1024);
    EXPECT_THROW(Task.Execute({}, 0, {tdfQuery}), EInOutError);
  }
  EXPECT_TRUE(Task.ClickFailure);

  // The same record again, with room for the picture now.
  EXPECT_EQ(Task.Execute({}, 0, {tdfQuery}), 1);
  EXPECT_FALSE(Task.ClickFailure);
  EXPECT_TRUE(QFileInfo(Vesparoutil::sJpegFileName).isFile());
  FormatSettings::Reset();
}

TEST_F(TaskDialogNative, RecordCarriesFlagsIconsAndButtonArrays)
{
  // One OK button by default: cancellation allowed, the check box's state
  // as flag 256.
  TTaskDialog Task;
  Task.Title = QStringLiteral("Native");
  Task.Content = QStringLiteral("two\\nlines");
  Task.Verify = QStringLiteral("Remember");
  Task.VerifyChecked = 1;
  Task.Footer = QStringLiteral("foot");
  EXPECT_EQ(Task.Execute({}, 0, {tdfEnableHyperLinks}, tiError, tfiShield), 101);
  ASSERT_EQ(Calls, 1);
  EXPECT_EQ(Config.cbSize, 96u);
  EXPECT_EQ(Config.dwFlags, 1u + 8u + 256u);
  EXPECT_EQ(Config.dwCommonButtons, 1u);
  EXPECT_EQ(Config.nDefaultButton, 1);
  EXPECT_EQ(Config.pszMainIcon, 98);
  EXPECT_EQ(Config.pszFooterIcon, 65532);
  EXPECT_EQ(Config.pszMainInstruction, QStringLiteral("Error"));
  EXPECT_EQ(Config.pszContent, QStringLiteral("two\nlines"));
  EXPECT_EQ(Config.pszWindowTitle, QStringLiteral("Native"));
  EXPECT_EQ(Config.pButtons, nullptr);
  EXPECT_EQ(Config.pRadioButtons, nullptr);
  EXPECT_EQ(Task.RadioRes, 201);
  EXPECT_EQ(Task.VerifyChecked, 1);

  // Custom buttons and radios with their ids; no cancellation flag without
  // the single OK button, no check flag when unticked.
  TTaskDialog Custom;
  Custom.Inst = QStringLiteral("Pick");
  Custom.Buttons = QStringLiteral("Save\\nwrites it\r\nDiscard");
  Custom.Radios = QStringLiteral("\r\nA\nB\n");
  Custom.Verify = QStringLiteral("Remember");
  Custom.Execute({cbCancel}, 101, {tdfUseCommandLinks}, tiWarning, tfiInformation, 201, 300);
  EXPECT_EQ(Config.dwFlags, 16u);
  EXPECT_EQ(Config.dwCommonButtons, 8u);
  EXPECT_EQ(ButtonTexts, (QStringList{"100=Save\nwrites it", "101=Discard"}));
  EXPECT_EQ(RadioTexts, (QStringList{"200=A", "201=B"}));
  EXPECT_EQ(Config.nDefaultButton, 101);
  EXPECT_EQ(Config.nDefaultRadioButton, 201);
  EXPECT_EQ(Config.cxWidth, 300u);
  EXPECT_EQ(Config.pszMainIcon, 84);
  EXPECT_EQ(Config.pszFooterIcon, 65533);

  // A failing call gives 0.
  Outcome = TaskDialog::E_FAIL;
  EXPECT_EQ(TTaskDialog{}.Execute({cbYes}), 0);
  Outcome = TaskDialog::S_OK;
}

TEST_F(TaskDialogNative, QuerySelectionOrNoEntryPointTakeTheEmulatedDialog)
{
  int Emulated = 0;
  TOnScreen Hook([&](QDialog& Dialog) {
    Emulated += Dialog.findChildren<TSynButton*>().size() > 0;
    ButtonWithResult(Dialog, 1)->click();
  });
  TTaskDialog Task;
  Task.Execute({}, 0, {tdfQuery});
  Task.Selection = QStringLiteral("a\nb");
  Task.Execute();
  Task.Selection.clear();
  Task.Execute({}, 0, {}, tiInformation, tfiWarning, 0, 0, nullptr, true);
  TaskDialogIndirect = nullptr;
  Task.Execute();
  EXPECT_EQ(Calls, 0);
  EXPECT_EQ(Emulated, 4);
}

TEST_F(TaskDialogNative, TheStandInShowsTheRecordAndAnswersWithIds)
{
  TaskDialogIndirect = &TaskDialog::TaskDialogIndirect;
  QStringList Seen;
  TOnScreen Hook([&](QDialog& Dialog) {
    for (QAbstractButton* Button : Dialog.findChildren<QAbstractButton*>())
      Seen << Button->text();
    for (QRadioButton* Radio : Dialog.findChildren<QRadioButton*>())
      if (Radio->text() == QLatin1String("Second"))
        Radio->setChecked(true);
    Dialog.findChild<QCheckBox*>()->setChecked(false);
    for (QPushButton* Button : Dialog.findChildren<QPushButton*>())
      if (Button->text() == QLatin1String("Later"))
        Button->click();
  });
  TTaskDialog Task;
  Task.Buttons = QStringLiteral("Now\nLater");
  Task.Radios = QStringLiteral("First\nSecond");
  Task.Verify = QStringLiteral("Remember");
  Task.VerifyChecked = 1;
  EXPECT_EQ(Task.Execute({cbCancel}), 101);
  EXPECT_EQ(Task.RadioRes, 201);
  EXPECT_EQ(Task.VerifyChecked, 0);
  EXPECT_TRUE(Seen.contains(QStringLiteral("Now")) && Seen.contains(QStringLiteral("Cancel"))) << Seen.join(',').toStdString();
  // The native path hands nothing on.
  EXPECT_EQ(ReadAll(ReportPath()), "report\r\n");

  // The single OK button may be cancelled with Esc.
  TOnScreen Cancel([](QDialog& Dialog) { PressKey(Dialog, Qt::Key_Escape); });
  EXPECT_EQ(TTaskDialog{}.Execute(), TaskDialog::IDCANCEL);
}

TEST_F(TaskDialogClosing, TabGoesAlongTheButtonRowThenTheFieldThenTheCheckBox)
{
  QStringList Order;
  TOnScreen Hook([&Order](QDialog& Dialog) {
    QWidget* Control = ButtonWithResult(Dialog, 1);
    for (int I = 0; I < 4; ++I) {
      Order << Control->objectName();
      do
        Control = Control->nextInFocusChain();
      while (!(Control->focusPolicy() & Qt::TabFocus) || !Control->isVisibleTo(&Dialog));
    }
    Dialog.reject();
  });
  TTaskDialog Task;
  Task.Verify = QStringLiteral("Remember");
  Task.Execute({cbOK, cbCancel}, 0, {tdfQuery});
  EXPECT_EQ(Order, (QStringList{"Button1", "Button2", "Query", "Verify"}));
}

TEST_F(TaskDialogClosing, QueryFieldMaskedFocusedAndBlue)
{
  QString Shown;
  bool Focused = false;
  QColor Colour;
  TOnScreen Hook([&](QDialog& Dialog) {
    auto* Edit = Dialog.findChild<QLineEdit*>();
    Shown = Edit->displayText();
    Focused = Dialog.focusWidget() == Edit;
    Colour = Edit->palette().color(QPalette::Text);
    Edit->setText(QStringLiteral("secret2"));
    PressKey(Dialog, Qt::Key_Return);
  });
  TTaskDialog Task;
  Task.Query = QStringLiteral("secret");
  // No default button named, so the field keeps the focus it asked for.
  EXPECT_EQ(Task.Execute({cbOK}, 0, {tdfQuery, tdfQueryMasked, tdfQueryFieldFocused}), 1);
  EXPECT_EQ(Shown, QStringLiteral("******"));
  EXPECT_TRUE(Focused);
  EXPECT_EQ(Colour, QColor(0, 0, 255));
  EXPECT_EQ(Task.Query, QStringLiteral("secret2"));
  // The comment block carries what the field held.
  EXPECT_TRUE(ReadAll(ReportPath()).contains("\r\nComments by the User :secret2\r\n"));
}
