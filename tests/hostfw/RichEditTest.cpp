#include "hostfw/RichEdit.h"

#include <QTextCharFormat>

#include <gtest/gtest.h>

using namespace RichEdit;

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
