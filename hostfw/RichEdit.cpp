#include "hostfw/RichEdit.h"

#include <QEvent>
#include <QPalette>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextDocument>

#include <algorithm>

namespace RichEdit {

namespace {
bool IsWordChar(QChar C) { return C.isLetterOrNumber() || C == QLatin1Char('_'); }

// Puts the view back where it was when it was made.
class TViewKeeper {
public:
  explicit TViewKeeper(QAbstractScrollArea* Area)
    : FArea(Area), FHorizontal(Area->horizontalScrollBar()->value()), FVertical(Area->verticalScrollBar()->value())
  {
  }
  ~TViewKeeper()
  {
    FArea->horizontalScrollBar()->setValue(FHorizontal);
    FArea->verticalScrollBar()->setValue(FVertical);
  }
  TViewKeeper(const TViewKeeper&) = delete;
  TViewKeeper& operator=(const TViewKeeper&) = delete;

private:
  QAbstractScrollArea* FArea;
  int FHorizontal;
  int FVertical;
};
}  // namespace

TRichEdit::TRichEdit(QWidget* Parent)
  : QTextEdit(Parent)
{
  setAcceptRichText(false);
  document()->setUndoRedoEnabled(false);
  // The search text is taken again after every change the document reports.
  // Inside an update the document reports nothing until its end, so the
  // calls that change the text drop it themselves; format changes between
  // them keep it, and many highlights in one update search one text.
  connect(document(), &QTextDocument::contentsChange, this, [this] { FPlainText.reset(); });
  HideSelectionWhileUnfocused();
}

TRichEdit::~TRichEdit() = default;

QStringList TRichEdit::Lines() const
{
  QStringList Result;
  if (FNoLines && document()->isEmpty())
    return Result;
  for (QTextBlock Block = document()->begin(); Block.isValid(); Block = Block.next())
    Result << Block.text();
  return Result;
}

void TRichEdit::setLines(const QStringList& Value)
{
  setPlainText(Value.join(QLatin1Char('\n')));
  FNoLines = Value.isEmpty();
  FPlainText.reset();
}

void TRichEdit::AddLine(const QString& Line)
{
  QTextCursor Cursor(document());
  Cursor.movePosition(QTextCursor::End);
  if (!(FNoLines && document()->isEmpty()))
    Cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
  Cursor.insertText(Line, QTextCharFormat());
  FNoLines = false;
  FPlainText.reset();
}

void TRichEdit::Clear()
{
  clear();
  FNoLines = true;
  FPlainText.reset();
}

QString TRichEdit::Text() const { return Lines().join(QLatin1String("\r\n")); }

const QString& TRichEdit::PlainText() const
{
  if (!FPlainText)
    FPlainText = document()->toPlainText();
  return *FPlainText;
}

int TRichEdit::FindText(const QString& SearchStr, int StartPos, int Length, TSearchTypes Options) const
{
  const QString& Text = PlainText();
  if (SearchStr.isEmpty() || StartPos < 0 || Length <= 0 || StartPos >= Text.size())
    return -1;
  const qsizetype End = std::min<qsizetype>(Text.size(), qsizetype(StartPos) + Length);
  const Qt::CaseSensitivity Case = (Options & stMatchCase) ? Qt::CaseSensitive : Qt::CaseInsensitive;
  qsizetype From = StartPos;
  while (true) {
    const qsizetype Found = Text.indexOf(SearchStr, From, Case);
    if (Found < 0 || Found + SearchStr.size() > End)
      return -1;
    const bool WordBefore = Found > 0 && IsWordChar(Text[Found - 1]);
    const qsizetype After = Found + SearchStr.size();
    const bool WordAfter = After < Text.size() && IsWordChar(Text[After]);
    if (!(Options & stWholeWord) || (!WordBefore && !WordAfter))
      return static_cast<int>(Found);
    From = Found + 1;
  }
}

QTextCursor TRichEdit::Selection() const { return FUpdateLevel > 0 ? FUpdateCursor : textCursor(); }

void TRichEdit::SetSelection(const QTextCursor& Cursor)
{
  if (FUpdateLevel > 0)
    FUpdateCursor = Cursor;
  else
    SetTextCursorKeepingView(Cursor);
}

void TRichEdit::SetTextCursorKeepingView(const QTextCursor& Cursor)
{
  // The edit brings its cursor into view. With the focus the user sees the
  // selection, so it may; without, the selection is not drawn and the view
  // stays.
  if (hasFocus()) {
    setTextCursor(Cursor);
    return;
  }
  const TViewKeeper Keeper(this);
  setTextCursor(Cursor);
}

void TRichEdit::HideSelectionWhileUnfocused()
{
  // The edit draws its selection in the inactive colours while it lacks the
  // focus; with no brush there it draws none, and the text keeps its own
  // colours. Set again whenever the palette changes.
  const QPalette Current = palette();
  if (Current.brush(QPalette::Inactive, QPalette::Highlight).style() == Qt::NoBrush &&
      Current.brush(QPalette::Inactive, QPalette::HighlightedText).style() == Qt::NoBrush)
    return;
  QPalette Hidden = Current;
  Hidden.setBrush(QPalette::Inactive, QPalette::Highlight, Qt::NoBrush);
  Hidden.setBrush(QPalette::Inactive, QPalette::HighlightedText, Qt::NoBrush);
  setPalette(Hidden);
}

void TRichEdit::changeEvent(QEvent* Event)
{
  QTextEdit::changeEvent(Event);
  if (Event->type() == QEvent::PaletteChange)
    HideSelectionWhileUnfocused();
}

void TRichEdit::showEvent(QShowEvent* Event)
{
  // Shown for the first time, the edit would bring its cursor into view.
  const TViewKeeper Keeper(this);
  QTextEdit::showEvent(Event);
}

int TRichEdit::SelStart() const { return Selection().selectionStart(); }

void TRichEdit::SetSelStart(int Value)
{
  QTextCursor Cursor = Selection();
  Cursor.setPosition(std::clamp(Value, 0, std::max(0, document()->characterCount() - 1)));
  SetSelection(Cursor);
}

int TRichEdit::SelLength() const
{
  const QTextCursor Cursor = Selection();
  return Cursor.selectionEnd() - Cursor.selectionStart();
}

void TRichEdit::SetSelLength(int Value)
{
  QTextCursor Cursor = Selection();
  const int Start = Cursor.selectionStart();
  Cursor.setPosition(Start);
  Cursor.setPosition(std::clamp(Start + Value, 0, std::max(0, document()->characterCount() - 1)),
                     QTextCursor::KeepAnchor);
  SetSelection(Cursor);
}

QString TRichEdit::SelText() const { return Selection().selectedText(); }

void TRichEdit::MergeIntoSelection(const QTextCharFormat& Format)
{
  QTextCursor Cursor = Selection();
  Cursor.mergeCharFormat(Format);
}

void TRichEdit::SetSelColor(const QColor& Value)
{
  QTextCharFormat Format;
  Format.setForeground(Value);
  MergeIntoSelection(Format);
}

void TRichEdit::SetSelSize(int Points)
{
  QTextCharFormat Format;
  Format.setFontPointSize(Points);
  MergeIntoSelection(Format);
}

void TRichEdit::SetSelStyle(TFontStyles Value)
{
  QTextCharFormat Format;
  Format.setFontWeight((Value & fsBold) ? QFont::Bold : QFont::Normal);
  Format.setFontItalic(Value & fsItalic);
  Format.setFontUnderline(Value & fsUnderline);
  Format.setFontStrikeOut(Value & fsStrikeOut);
  MergeIntoSelection(Format);
}

void TRichEdit::SetSelName(const QString& Value)
{
  QTextCharFormat Format;
  Format.setFontFamilies(QStringList{Value});
  MergeIntoSelection(Format);
}

void TRichEdit::SetSelFont(const TFont& Font)
{
  SetSelColor(Font.Color);
  SetSelSize(Font.Size);
  SetSelStyle(Font.Style);
  SetSelName(Font.Name);
}

void TRichEdit::SetSelCharFormat(const TCharFormat2& Format)
{
  QTextCharFormat Merged;
  if (Format.Mask & CFM_COLOR)
    Merged.setForeground(Format.TextColor);
  if (Format.Mask & CFM_BACKCOLOR)
    Merged.setBackground(Format.BackColor);
  MergeIntoSelection(Merged);
}

QTextCharFormat TRichEdit::CharFormatAt(int Position) const
{
  // A cursor reports the format of the character before it.
  QTextCursor Cursor(document());
  Cursor.setPosition(std::clamp(Position + 1, 0, std::max(0, document()->characterCount() - 1)));
  return Cursor.charFormat();
}

void TRichEdit::BeginUpdate()
{
  if (FUpdateLevel++ == 0) {
    FUpdateCursor = textCursor();
    FUpdateCursor.beginEditBlock();
  }
}

void TRichEdit::EndUpdate()
{
  if (FUpdateLevel == 0)
    return;
  if (--FUpdateLevel == 0) {
    FUpdateCursor.endEditBlock();
    SetTextCursorKeepingView(FUpdateCursor);
    FUpdateCursor = QTextCursor();
  }
}

}  // namespace RichEdit
