#pragma once
// The runtime's rich edit, for what the system needs of it: the text as
// lines, a selection given by start and length, character attributes of the
// selection (colour, size, style, face name), the set-character-format call
// with a background colour, and a text search.
//
// Positions count characters of the document, one for each line break
// between two lines, as the rich edit counts them. Text, however, joins the
// lines with CR LF.
//
// As the runtime's rich edit does, it draws its selection only while it has
// the focus. Formatting the selected text, showing the edit, and a
// selection made by code while the edit lacks the focus leave the view
// where it is; with the focus, a selection comes into view as the caret
// moves. Highlighting thus leaves no selection in sight and no scrolled view
// behind.

#include <QColor>
#include <QString>
#include <QStringList>
#include <QTextCursor>
#include <QTextEdit>

#include <optional>

namespace RichEdit {

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = unsigned;

// A font object: what a new one holds unless it is changed.
struct TFont {
  QString Name = QStringLiteral("MS Sans Serif");
  int Size = 8;  // points
  QColor Color = Qt::black;
  TFontStyles Style = 0;
};

// Members of a character format that are valid.
enum : unsigned { CFM_COLOR = 0x40000000u, CFM_BACKCOLOR = 0x04000000u };

// The extended character format; only the members named in Mask apply.
struct TCharFormat2 {
  unsigned Mask = 0;
  QColor TextColor;
  QColor BackColor;
};

enum TSearchType : unsigned { stWholeWord = 1, stMatchCase = 2 };
using TSearchTypes = unsigned;

class TRichEdit : public QTextEdit {
  Q_OBJECT
  Q_PROPERTY(QStringList Lines READ Lines WRITE setLines)

public:
  explicit TRichEdit(QWidget* Parent = nullptr);
  ~TRichEdit() override;

  QStringList Lines() const;
  void setLines(const QStringList& Value);
  // Lines.Add: one more line at the end.
  void AddLine(const QString& Line);
  int LineCount() const { return Lines().size(); }
  // No lines at all.
  void Clear();
  // The lines joined by CR LF.
  QString Text() const;

  // Position of the first occurrence of SearchStr that lies wholly within
  // the Length characters from StartPos, or -1. Without stMatchCase the case
  // of letters is ignored; without stWholeWord occurrences inside longer
  // words count.
  int FindText(const QString& SearchStr, int StartPos, int Length, TSearchTypes Options) const;

  int SelStart() const;
  void SetSelStart(int Value);  // also collapses the selection
  int SelLength() const;
  void SetSelLength(int Value);
  QString SelText() const;

  // Attributes of the selected text.
  void SetSelColor(const QColor& Value);
  void SetSelSize(int Points);
  void SetSelStyle(TFontStyles Value);
  void SetSelName(const QString& Value);
  void SetSelFont(const TFont& Font);  // colour, size, style and face name
  // The set-character-format call for the selection.
  void SetSelCharFormat(const TCharFormat2& Format);

  // Character format at a position, for whoever checks what the text shows.
  QTextCharFormat CharFormatAt(int Position) const;

  // Changes between the two calls are laid out once, at EndUpdate; calls
  // nest. The selection made meanwhile becomes the edit's own at EndUpdate.
  // setLines replaces the whole document and is not for use inside.
  void BeginUpdate();
  void EndUpdate();

protected:
  void changeEvent(QEvent* Event) override;
  void showEvent(QShowEvent* Event) override;

private:
  QTextCursor Selection() const;
  void SetSelection(const QTextCursor& Cursor);
  void SetTextCursorKeepingView(const QTextCursor& Cursor);
  void HideSelectionWhileUnfocused();
  void MergeIntoSelection(const QTextCharFormat& Format);
  const QString& PlainText() const;

  int FUpdateLevel = 0;
  QTextCursor FUpdateCursor;  // the selection while an update runs
  bool FNoLines = true;  // an empty document holding no line at all
  mutable std::optional<QString> FPlainText;  // valid until the text changes
};

}  // namespace RichEdit
