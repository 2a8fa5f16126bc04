#include "hostfw/RichEdit.h"

#include "tests/support/Pictures.h"

#include <QApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace RichEdit;
using TestSupport::Holds;

namespace {

// A window with a read-only edit of numbered lines, as the viewer has them,
// and a control beside it that can take the focus.
struct TEditWindow {
  QWidget Window;
  TRichEdit* Edit = new TRichEdit(&Window);
  QLineEdit* Other = new QLineEdit(&Window);

  explicit TEditWindow(int LineCount)
  {
    auto* Layout = new QVBoxLayout(&Window);
    Layout->addWidget(Edit);
    Layout->addWidget(Other);
    Window.resize(300, 200);
    Edit->setReadOnly(true);
    QStringList Lines;
    for (int Line = 0; Line < LineCount; ++Line)
      Lines << QStringLiteral("line %1").arg(Line);
    Edit->setLines(Lines);
  }
  bool Show()
  {
    Window.show();
    if (!QTest::qWaitForWindowActive(&Window))
      return false;
    Other->setFocus();
    return !Edit->hasFocus();
  }
  QImage Picture() const { return Edit->grab().toImage(); }
  int StartOfLine(int Line) const { return Edit->document()->findBlockByNumber(Line).position(); }
  void Select(int Line)
  {
    Edit->SetSelStart(StartOfLine(Line));
    Edit->SetSelLength(4);
  }
  std::string FirstVisibleLine() const { return Edit->cursorForPosition(QPoint(1, 1)).block().text().toStdString(); }
};

TFont RedBold()
{
  TFont Font;
  Font.Color = QColor(255, 0, 0);
  Font.Style = fsBold;
  return Font;
}

}  // namespace

TEST(RichEdit, LinesTellNoLinesFromOneEmptyLine)
{
  TRichEdit Edit;
  EXPECT_EQ(Edit.Lines(), QStringList());
  Edit.AddLine(QString());
  EXPECT_EQ(Edit.Lines(), QStringList{QString()});
  Edit.AddLine(QStringLiteral("b"));
  Edit.AddLine(QString());
  EXPECT_EQ(Edit.Lines(), (QStringList{QString(), QStringLiteral("b"), QString()}));
  EXPECT_EQ(Edit.Text(), QStringLiteral("\r\nb\r\n"));

  Edit.Clear();
  EXPECT_EQ(Edit.LineCount(), 0);
  Edit.AddLine(QStringLiteral("first"));
  EXPECT_EQ(Edit.Lines(), QStringList{QStringLiteral("first")});

  Edit.setLines({QStringLiteral("x"), QStringLiteral("y")});
  EXPECT_EQ(Edit.Lines(), (QStringList{QStringLiteral("x"), QStringLiteral("y")}));
  Edit.setLines({});
  EXPECT_EQ(Edit.LineCount(), 0);
}

TEST(RichEdit, FindTextIgnoresCaseAndWordsUnlessAsked)
{
  TRichEdit Edit;
  Edit.setLines({QStringLiteral("Outline"), QStringLiteral("LINE 7 line")});
  // Positions count one character for each line break.
  const int L = static_cast<int>(Edit.Text().size());
  EXPECT_EQ(Edit.FindText(QStringLiteral("line"), 0, L, 0), 3);
  EXPECT_EQ(Edit.FindText(QStringLiteral("line"), 4, L, 0), 8);
  EXPECT_EQ(Edit.FindText(QStringLiteral("line"), 12, L, 0), 15);
  EXPECT_EQ(Edit.FindText(QStringLiteral("line"), 16, L, 0), -1);
  EXPECT_EQ(Edit.FindText(QStringLiteral("line"), 0, L, stMatchCase), 3);
  EXPECT_EQ(Edit.FindText(QStringLiteral("LINE"), 0, L, stMatchCase), 8);
  EXPECT_EQ(Edit.FindText(QStringLiteral("line"), 0, L, stWholeWord), 8);
  EXPECT_EQ(Edit.FindText(QStringLiteral("line"), 0, L, stWholeWord | stMatchCase), 15);
  // Only occurrences wholly inside the range count.
  EXPECT_EQ(Edit.FindText(QStringLiteral("line"), 0, 6, 0), -1);
  EXPECT_EQ(Edit.FindText(QStringLiteral("line"), 0, 7, 0), 3);
  EXPECT_EQ(Edit.FindText(QString(), 0, L, 0), -1);
  EXPECT_EQ(Edit.FindText(QStringLiteral("line"), L + 5, L, 0), -1);

  // A changed text is searched as it is now.
  Edit.AddLine(QStringLiteral("newline"));
  EXPECT_EQ(Edit.FindText(QStringLiteral("newline"), 0, 100, 0), 20);
}

TEST(RichEdit, SelectionAttributesApplyToTheSelectionOnly)
{
  TRichEdit Edit;
  Edit.setLines({QStringLiteral("abc :- def")});
  Edit.BeginUpdate();
  Edit.SetSelStart(4);
  Edit.SetSelLength(2);
  EXPECT_EQ(Edit.SelText(), QStringLiteral(":-"));
  TFont Font;
  Font.Color = QColor(255, 0, 0);
  Font.Size = 10;
  Font.Style = fsBold | fsUnderline;
  Edit.SetSelFont(Font);
  TCharFormat2 Format;
  Format.Mask = CFM_BACKCOLOR;
  Format.BackColor = QColor(Qt::white);
  Format.TextColor = QColor(Qt::green);  // not in the mask: not applied
  Edit.SetSelCharFormat(Format);
  Edit.EndUpdate();

  for (int Position : {4, 5}) {
    const QTextCharFormat Char = Edit.CharFormatAt(Position);
    EXPECT_EQ(Char.foreground().color(), QColor(255, 0, 0)) << Position;
    EXPECT_EQ(Char.background().color(), QColor(Qt::white));
    EXPECT_EQ(Char.fontWeight(), QFont::Bold);
    EXPECT_TRUE(Char.fontUnderline());
    EXPECT_FALSE(Char.fontItalic());
    EXPECT_EQ(Char.fontPointSize(), 10);
    EXPECT_EQ(Char.fontFamilies().toStringList(), QStringList{QStringLiteral("MS Sans Serif")});
  }
  for (int Position : {3, 6}) {
    const QTextCharFormat Char = Edit.CharFormatAt(Position);
    EXPECT_NE(Char.fontWeight(), QFont::Bold) << Position;
    EXPECT_FALSE(Char.hasProperty(QTextFormat::BackgroundBrush)) << Position;
  }
  // The selection made during the update is the edit's own afterwards.
  EXPECT_EQ(Edit.textCursor().selectionStart(), 4);
  EXPECT_EQ(Edit.textCursor().selectionEnd(), 6);
  EXPECT_EQ(Edit.SelLength(), 2);
}

TEST(RichEdit, TheSelectionIsDrawnOnlyWhileTheEditHasTheFocus)
{
  TEditWindow Window(5);
  ASSERT_TRUE(Window.Show());
  // Coloured text, then nothing selected: what the edit looks like plain.
  Window.Select(1);
  Window.Edit->SetSelFont(RedBold());
  Window.Edit->SetSelStart(0);
  const QImage Plain = Window.Picture();

  // A selection made by code leaves the picture as it was, colours included.
  Window.Select(1);
  EXPECT_EQ(Window.Edit->SelText(), QStringLiteral("line"));
  EXPECT_EQ(Window.Picture(), Plain);

  // With the focus it is drawn; without, it is hidden again.
  Window.Edit->setFocus();
  ASSERT_TRUE(Window.Edit->hasFocus());
  EXPECT_TRUE(Holds(Window.Picture(), QApplication::palette().color(QPalette::Active, QPalette::Highlight)));
  Window.Other->setFocus();
  EXPECT_EQ(Window.Picture(), Plain);

  // So also when the window is inactive, and with a palette of its own.
  Window.Edit->setFocus();
  QPalette Own = Window.Edit->palette();
  Own.setColor(QPalette::Highlight, QColor(0, 128, 0));
  Own.setColor(QPalette::Base, QColor(255, 255, 224));
  Window.Edit->setPalette(Own);
  EXPECT_TRUE(Holds(Window.Picture(), QColor(0, 128, 0)));
  Window.Other->setFocus();
  const QImage Selected = Window.Picture();
  Window.Edit->SetSelStart(0);
  EXPECT_EQ(Selected, Window.Picture());
  EXPECT_FALSE(Holds(Selected, QColor(0, 128, 0)));
}

TEST(RichEdit, SelectingAndFormattingByCodeLeaveTheViewWhereItIs)
{
  // Filled, selected at its end and formatted before it is first shown:
  // it opens at its first line.
  TEditWindow Window(200);
  Window.Select(199);
  Window.Edit->SetSelFont(RedBold());
  ASSERT_TRUE(Window.Show());
  QScrollBar* Bar = Window.Edit->verticalScrollBar();
  ASSERT_GT(Bar->maximum(), 0);
  EXPECT_EQ(Bar->value(), 0);
  EXPECT_EQ(Window.FirstVisibleLine(), "line 0");

  // Shown and without the focus, alone or within an update.
  Window.Select(150);
  Window.Edit->SetSelFont(RedBold());
  EXPECT_EQ(Bar->value(), 0);
  Window.Edit->BeginUpdate();
  for (int Line : {120, 199}) {
    Window.Select(Line);
    Window.Edit->SetSelFont(RedBold());
  }
  Window.Edit->EndUpdate();
  EXPECT_EQ(Bar->value(), 0);
  EXPECT_EQ(Window.Edit->SelStart(), Window.StartOfLine(199));

  // Where the user scrolled to, the view stays.
  Bar->setValue(Bar->maximum() / 2);
  const int Middle = Bar->value();
  Window.Select(0);
  Window.Edit->SetSelFont(RedBold());
  EXPECT_EQ(Bar->value(), Middle);

  // With the focus, the selection comes into view as the caret moves; the
  // focus itself and formatting the selection move nothing.
  Bar->setValue(0);
  Window.Select(199);
  Window.Edit->setFocus();
  EXPECT_EQ(Bar->value(), 0);
  Window.Select(198);
  EXPECT_GT(Bar->value(), 0);
  EXPECT_TRUE(Window.Edit->viewport()->rect().contains(Window.Edit->cursorRect()));
  Bar->setValue(0);
  Window.Edit->SetSelFont(RedBold());
  TCharFormat2 Format;
  Format.Mask = CFM_BACKCOLOR;
  Format.BackColor = QColor(Qt::white);
  Window.Edit->SetSelCharFormat(Format);
  EXPECT_EQ(Bar->value(), 0);
}
