#pragma once
// The task dialog: a caption, an emphasised main instruction, content,
// command links or push buttons, radio buttons, a combo box or edit field, a
// check box and a footer. The native dialog is used where it exists and the
// caller's needs allow; otherwise the dialog is built out of ordinary
// controls (the emulated dialog), which is also where the report is handed
// on once the error prompt has closed.

#include "platform/TaskDialog.h"

#include <QFont>
#include <QDialog>
#include <QPushButton>
#include <QString>

#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <vector>

class QColor;
class QPixmap;
class QWidget;

namespace halvernSynTaskDialog {

// A set of enumeration members stored as bits: member i is bit i.
template <typename TEnum, typename TBits>
class TSet {
public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<TEnum> Members)
  {
    for (TEnum Member : Members)
      FBits |= Bit(Member);
  }
  static constexpr TSet FromBits(TBits Bits)
  {
    TSet Result;
    Result.FBits = Bits;
    return Result;
  }
  constexpr TBits Bits() const { return FBits; }
  constexpr bool Contains(TEnum Member) const { return (FBits & Bit(Member)) != 0; }
  constexpr bool IsEmpty() const { return FBits == 0; }
  constexpr TSet& operator+=(TEnum Member)
  {
    FBits |= Bit(Member);
    return *this;
  }
  constexpr TSet operator+(TEnum Member) const { return TSet(*this) += Member; }
  constexpr bool operator==(const TSet&) const = default;

private:
  static constexpr TBits Bit(TEnum Member) { return TBits(TBits(1) << unsigned(Member)); }
  TBits FBits = 0;
};

enum TCommonButton { cbOK, cbYes, cbNo, cbCancel, cbRetry, cbClose };
// Bit i is member i: the native common-button flags 1, 2, 4, 8, 16, 32.
using TCommonButtons = TSet<TCommonButton, std::uint8_t>;

enum TTaskDialogIcon { tiBlank, tiWarning, tiQuestion, tiError, tiInformation, tiNotUsed, tiShield };
enum TTaskDialogFooterIcon { tfiBlank, tfiWarning, tfiQuestion, tfiError, tfiInformation, tfiShield };

enum TTaskDialogFlag {
  tdfEnableHyperLinks,
  tdfUseHIconMain,
  tdfUseHIconFooter,
  tdfAllowDialogCancellation,
  tdfUseCommandLinks,
  tdfUseCommandLinksNoIcon,
  tdfExpandFooterArea,
  tdfExpandByDefault,
  tdfVerificationFlagChecked,
  tdfShowProgressBar,
  tdfShowMarqueeProgressBar,
  tdfCallbackTimer,
  tdfPositionRelativeToWindow,
  tdfRtlLayout,
  tdfNoDefaultRadioButton,
  tdfCanBeMinimized,
  // The unit's own: an edit field (or an editable combo box), masked, focused.
  tdfQuery,
  tdfQueryMasked,
  tdfQueryFieldFocused,
};
// Bits 0 to 15 are the native dialog's flag word as they stand.
using TTaskDialogFlags = TSet<TTaskDialogFlag, std::uint32_t>;

static_assert(sizeof(TCommonButtons) == 1 && sizeof(TTaskDialogFlags) == 4);

// A 32-bit Boolean: 0 is false, anything else true; written back as 0 or -1.
using TLongBool = std::int32_t;

// Modal results of the common buttons.
enum : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrYes = 6, mrNo = 7 };

// The fixed tables.
QString CommonButtonCaption(TCommonButton Button);
int CommonButtonModalResult(TCommonButton Button);
int TaskDialogIconNative(TTaskDialogIcon Icon);
// System icon id of the emulated dialog; 0 when it shows none.
int TaskDialogIconEmulated(TTaskDialogIcon Icon);
// The main instruction an empty Inst becomes.
QString TaskDialogIconDefaultInstruction(TTaskDialogIcon Icon);
int TaskDialogFooterIconNative(TTaskDialogFooterIcon Icon);
int TaskDialogFooterIconEmulated(TTaskDialogFooterIcon Icon);

// The system icon of an id (32513 error, 32514 question, 32515 warning,
// 32516 information, 32517 logo) at its own size; null for other ids.
QPixmap LoadSystemIcon(int Id);
// The system icon of an id at half its size on a ground of Background, as
// the footer shows it; null where LoadSystemIcon gives none.
QPixmap LoadHalfSizeIcon(int Id, const QColor& Background);
// The size of a system icon, in pixels each way.
inline constexpr int SystemIconSize = 32;

// Text functions.
// Backslash + "n" becomes a line feed.
QString CR(const QString& Text);
// "" for "", else CR(Text).
QString N(const QString& Text);
// The caption of a button or radio line; what follows its first backslash +
// "n" goes to Hint (through CR), else Hint is empty.
QString NoCR(const QString& Line, QString& Hint);
// The next line of a line list from Pos on (through CR): characters up to
// the first one below 32, then every following one below 32 is skipped. The
// list ends at its end or at a zero character.
QString GetNextStringLineToWS(const QString& Text, qsizetype& Pos);
// Every "&" removed.
QString UnAmp(const QString& Text);
// Native path: the trimmed line list as button entries with ids Count +
// FirstId, Count counting on; the array grows 16 entries at a time.
void AddRU(const QString& Text, int& Count, int FirstId, std::vector<TaskDialog::TASKDIALOG_BUTTON>& Entries);

// The native entry point, when the system has one (looked up once when the
// unit is loaded); null selects the emulated dialog.
using TTaskDialogIndirect = TaskDialog::TTaskDialogIndirect;

struct TTaskDialog {
  QString Title;
  QString Inst;
  QString Content;
  QString Buttons;
  QString Radios;
  QString Info;
  QString InfoExpanded;
  QString InfoCollapse;
  QString Footer;
  QString Verify;
  QString Selection;
  QString Query;
  std::int32_t RadioRes = 0;
  std::int32_t SelectionRes = 0;
  TLongBool VerifyChecked = 0;

  // Shows the dialog; the id of the button that closed it (a modal result,
  // or 100 + i for custom button i), 0 when the native call failed.
#if defined(CORVANE_EDITION_INSTALLER)
  // The installer's edition knows no classic style.
  int Execute(TCommonButtons aCommonButtons = {}, int aButtonDef = 0, TTaskDialogFlags aFlags = {},
              TTaskDialogIcon aDialogIcon = tiInformation, TTaskDialogFooterIcon aFooterIcon = tfiWarning,
              int aRadioDef = 0, int aWidth = 0, QWidget* aParent = nullptr, bool NonNative = false);
#else
  int Execute(TCommonButtons aCommonButtons = {}, int aButtonDef = 0, TTaskDialogFlags aFlags = {},
              TTaskDialogIcon aDialogIcon = tiInformation, TTaskDialogFooterIcon aFooterIcon = tfiWarning,
              int aRadioDef = 0, int aWidth = 0, QWidget* aParent = nullptr, bool NonNative = false,
              bool aClassicStyle = false);

  // Appends the comment block (the user's comment, the picture's and the
  // archive's paths) to the report file of the running application; the
  // data folder is created when missing. The report must exist: a file that
  // cannot be opened for appending raises EInOutError. Uses no field of the
  // record.
  static void WriteCommentsZipAndImageNameToFile(const QString& Comments, const QString& ImagePath,
                                                 const QString& ZipPath);
  // Click handler of the emulated dialog's push buttons: photographs the
  // dialog while it is still on screen. A picture that cannot be saved does
  // not stop the button: its error is kept and raised by Execute once the
  // report has been handed on.
  void ButtonClick(QObject* Sender);
  // Click handler of the emulated dialog's texts: a new viewer window on the
  // report, kept in FrmErroReader, usable while the dialog is up.
  void Label1Click(QObject* Sender);

  // The error a button click of the last Execute met; Execute raises it once
  // the report has been handed on and the results are filled, and it stays
  // here until the next Execute so that the caller can tell it from a
  // failure of the comment block.
  std::exception_ptr ClickFailure;
  // The error packing or copying the report met in the last Execute (no
  // archive or no copy then); raised in the same way, unless a
  // ClickFailure is.
  std::exception_ptr PackingFailure;
#endif

private:
  int ExecuteNative(TCommonButtons aCommonButtons, int aButtonDef, TTaskDialogFlags aFlags,
                    TTaskDialogIcon aDialogIcon, TTaskDialogFooterIcon aFooterIcon, int aRadioDef, int aWidth,
                    QWidget* aParent);
  int ExecuteEmulated(TCommonButtons aCommonButtons, int aButtonDef, TTaskDialogFlags aFlags,
                      TTaskDialogIcon aDialogIcon, TTaskDialogFooterIcon aFooterIcon, int aRadioDef, int aWidth,
                      bool aClassicStyle);
};

#if !defined(CORVANE_EDITION_INSTALLER)
// A task dialog with the arguments of Execute, to keep and reuse settings.
struct TTaskDialogEx {
  TTaskDialog Base;
  TCommonButtons CommonButtons;
  std::int32_t ButtonDef = 0;
  TTaskDialogFlags Flags;
  TTaskDialogIcon DialogIcon = tiBlank;
  TTaskDialogFooterIcon FooterIcon = tfiBlank;
  std::int32_t RadioDef = 0;
  std::int32_t Width = 0;
  bool NonNative = false;
  bool ClassicStyle = false;

  int Execute(QWidget* aParent = nullptr);
};

// Starts with DialogIcon tiInformation and FooterIcon tfiWarning.
extern TTaskDialogEx DefaultTaskDialog;
#endif

// The native dialog's entry point, or null.
extern TTaskDialogIndirect TaskDialogIndirect;

// Font of the emulated dialog: Calibri at 14 pixels where installed, else
// Tahoma, else Arial, at 13 pixels. Made on first use (fonts need the GUI).
const QFont& DefaultFont();
// The glyphs of OK and of command links, from the bitmap resources
// "BTNOKHMLD" (24 x 24) and "BTNARROWHMLD" (16 x 16); 16 colours,
// transparent. The installer's edition has its own, "BTNOK" and "BTNARROW".
const QPixmap& BitmapOK();
const QPixmap& BitmapArrow();
// A bitmap resource of the unit by name; null for unknown names.
QPixmap LoadBitmapResource(const QString& Name);

// The button of the emulated dialog.
class TSynButton : public QPushButton {
  Q_OBJECT
public:
  // Parent and bounds, caption and modal result from the tables; cbOK is the
  // default button with the OK glyph, cbCancel the cancel button.
  TSynButton(QWidget* Owner, TCommonButton Button, int Left, int Top, int Width, int Height);
  TSynButton(QWidget* Owner, const QString& Caption, int ModalResult, int Left, int Top, int Width, int Height);

  // Sets the glyph only when one is given.
  void SetBitmap(const QPixmap* Bitmap);
  // Pops up the button's menu, when it has one, at its lower left corner.
  void DoDropDown();

  int ModalResult() const { return FModalResult; }
  void SetModalResult(int Value) { FModalResult = Value; }
  bool Cancel() const { return FCancel; }
  void SetCancel(bool Value) { FCancel = Value; }
  // A number the owner keeps with the button; the installer's edition keeps
  // the button's result here.
  int Tag = 0;

  // Runs before the modal result closes the form.
  std::function<void(QObject*)> OnClick;

private:
  void Clicked();
  int FModalResult = mrNone;
  bool FCancel = false;
};

#if defined(CORVANE_EDITION_INSTALLER)
// The installer's emulated dialog form. Its buttons carry their results in
// their tags and close it through ButtonClick; the form's tag is the result.
class TTaskDialogForm : public QDialog {
  Q_OBJECT
public:
  explicit TTaskDialogForm(QWidget* Parent = nullptr);

  // The result: the tag of the button that closed the form, 0 when none did.
  int Tag = 0;
  // The button that gets the focus when the form shows; cleared by then.
  TSynButton* DefaultButton = nullptr;

  // Click handler of every button: keeps the button's tag, which is also
  // the modal result where it is one of the common buttons' (1 to 7), and
  // closes the form.
  void ButtonClick(QObject* Sender);
  void FormShow();

protected:
  void showEvent(QShowEvent* Event) override;
  // Esc presses the cancel button, when there is one, as a click would.
  void reject() override;
};
#endif

}  // namespace halvernSynTaskDialog
