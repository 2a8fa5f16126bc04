// The emulated task dialog: a form built out of ordinary controls, top to
// bottom, where the system has no native dialog or the caller asks for a
// field to type in.

#include "package/halvernSynTaskDialogInternal.h"

#include "hostfw/Application.h"
#include "package/Edition.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QRadioButton>
#include <QScreen>
#include <QWindow>

#include <exception>
#include <memory>

namespace halvernSynTaskDialog {

namespace {

// A label whose clicks reach a handler.
class TClickLabel : public QLabel {
public:
  using QLabel::QLabel;
  std::function<void(QObject*)> OnClick;

protected:
  void mouseReleaseEvent(QMouseEvent* Event) override
  {
    QLabel::mouseReleaseEvent(Event);
    if (Event->button() == Qt::LeftButton && rect().contains(Event->position().toPoint()) && OnClick)
      OnClick(this);
  }
};

// The emulated dialog's form: Esc presses the cancel button, when there is
// one, so that it runs its click handler as a mouse click would.
class TEmulatedForm : public QDialog {
public:
  using QDialog::QDialog;
  void reject() override
  {
    for (TSynButton* Button : findChildren<TSynButton*>())
      if (Button->Cancel() && Button->isVisible() && Button->isEnabled()) {
        Button->click();
        return;
      }
  }
};

#if defined(CORVANE_EDITION_INSTALLER)
using TDialogForm = TTaskDialogForm;
#else
using TDialogForm = TEmulatedForm;
#endif

// The arguments of one Execute that the form is built from.
struct TEmulatedArguments {
  TCommonButtons CommonButtons;
  int ButtonDef;
  TTaskDialogFlags Flags;
  TTaskDialogIcon DialogIcon;
  TTaskDialogFooterIcon FooterIcon;
  int RadioDef;
  int Width;
  bool ClassicStyle;
};

// Where the next control goes while the form is built from the top down.
// All in pixels of the form's client area.
struct TLayoutCursor {
  int ClientWidth = 0;
  // The left edge of the next text control.
  int TextLeft = 0;
  // The next vertical position.
  int Top = 0;
  // The form font's height, negative as the system's fonts keep it.
  int FontHeight = 0;
  // The right edge still free in the button row.
  int ButtonRowRight = 0;
};

// One emulated dialog: built by the constructor, step by step in the order
// of its controls, shown modally, its results read back into the record.
// The form goes with this object, with all its controls.
class TEmulatedDialog {
public:
  TEmulatedDialog(TTaskDialog& Task, const TEmulatedArguments& Arguments);
  int ShowModal();
  // What the edit field holds; empty without one.
  QString Comment() const { return FEdit ? FEdit->text() : QString(); }
  void ReadResults();

private:
  void CreateForm();
  int ChosenWidth() const;
  void AddPanel();
  void AddMainIcon();
  // The classic style's emphasis: bold, two pixels larger than the form's.
  void SetClassicEmphasis(QWidget& Control) const;
  void AddLabel(const QString& Text, bool BigText, const QString& Name);
  void AddCommandLinks();
  void AddRadioButtons();
  void AddSelection();
  void AddQuery();
  bool HasButtonRow() const;
  void AddButtonRow();
  void AddButton(const QString& Caption, int Result);
  void AddVerification();
  void AddFooter();
  // Gives a button its result and, when it is the default one, the focus.
  void SetResult(TSynButton& Button, int Result);
  void SetTabOrder();
  void PlaceOnScreen();

  int TextWidth(const QString& Text) const { return TextWidthIn(FCanvas, Text); }
  bool Classic() const { return FArguments.ClassicStyle; }
  bool CommandLinks() const { return FArguments.Flags.Contains(tdfUseCommandLinks); }

  TTaskDialog& FTask;
  const TEmulatedArguments FArguments;
public:
  std::unique_ptr<TDialogForm> FForm;

private:
  // The font texts are measured in: the form's.
  QFont FCanvas;
  TLayoutCursor FCursor;
  // Where controls go: the panel, then, from the button row on, the form.
  QWidget* FParent = nullptr;
  QFrame* FPanel = nullptr;
  QLabel* FImage = nullptr;
  QList<QRadioButton*> FRadioButtons;
  QComboBox* FCombo = nullptr;
  QLineEdit* FEdit = nullptr;
  QList<QWidget*> FRowButtons;  // left to right
  QCheckBox* FVerifyBox = nullptr;
};

TEmulatedDialog::TEmulatedDialog(TTaskDialog& Task, const TEmulatedArguments& Arguments)
  : FTask(Task), FArguments(Arguments)
{
  CreateForm();
  AddPanel();
  AddMainIcon();
  AddLabel(FTask.Inst, true, QStringLiteral("Inst"));
  AddLabel(FTask.Content, false, QStringLiteral("Content"));
  if (!FTask.Info.isEmpty())
    AddLabel(FTask.Info, false, QStringLiteral("Info"));
  if (CommandLinks() && !FTask.Buttons.isEmpty())
    AddCommandLinks();
  if (!FTask.Radios.isEmpty())
    AddRadioButtons();
  if (!FTask.Selection.isEmpty())
    AddSelection();
  else if (FArguments.Flags.Contains(tdfQuery))
    AddQuery();

  FPanel->setGeometry(0, 0, FCursor.ClientWidth, FCursor.Top);
  FParent = FForm.get();
  if (HasButtonRow())
    AddButtonRow();
  else
    FCursor.ButtonRowRight = 0;
  if (!FTask.Footer.isEmpty())
    AddFooter();
  SetTabOrder();
  PlaceOnScreen();
}

void TEmulatedDialog::CreateForm()
{
  // Not a child of the main form, only above its window: a form closed and
  // freed by an event while the prompt is open would free the prompt,
  // comment and all, under the report that is still reading them.
  FForm = std::make_unique<TDialogForm>(nullptr);
  FForm->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  auto* App = Application::Instance();
  if (QWidget* Owner = App && App->Handle() ? App->Handle()->window() : nullptr; Owner && Owner->windowHandle()) {
    FForm->winId();
    FForm->windowHandle()->setTransientParent(Owner->windowHandle());
  }
  FForm->setObjectName(QStringLiteral("TaskDialogForm"));
  if (!Classic())
    FForm->setFont(DefaultFont());
  FCanvas = FForm->font();
  FCursor.FontHeight = FontHeight(FCanvas);
  FCursor.ClientWidth = ChosenWidth();
  FForm->resize(FCursor.ClientWidth, 200);
  FForm->setWindowTitle(FTask.Title);
}

int TEmulatedDialog::ChosenWidth() const
{
  if (FArguments.Width != 0)
    return FArguments.Width;
  if (TextWidth(FTask.Inst) > 300 || TextWidth(FTask.Content) > 300)
    return 480;
  return FTask.Buttons.size() <= 40 ? 420 : 480;
}

void TEmulatedDialog::AddPanel()
{
  FPanel = new QFrame(FForm.get());
  FPanel->setObjectName(QStringLiteral("Panel"));
  FPanel->setFrameShape(QFrame::NoFrame);
  if (!Classic()) {
    FPanel->setAutoFillBackground(true);
    QPalette White = FPanel->palette();
    White.setColor(QPalette::Window, QColor(0xFF, 0xFF, 0xFF));
    FPanel->setPalette(White);
  }
  FParent = FPanel;
}

void TEmulatedDialog::AddMainIcon()
{
  int Margin = Classic() ? 10 : 24;
  const QPixmap Icon = LoadSystemIcon(TaskDialogIconEmulated(FArguments.DialogIcon));
  if (Icon.isNull()) {
    if (!Classic())
      Margin *= 2;
    FCursor.TextLeft = Margin;
    FCursor.Top = Margin;
    return;
  }
  FImage = new QLabel(FPanel);
  FImage->setObjectName(QStringLiteral("Image"));
  FImage->setPixmap(Icon);
  FImage->setGeometry(Margin, Margin, Icon.width(), Icon.height());
  FCursor.TextLeft = FImage->width() + 2 * Margin;
  FCursor.Top = Margin + (Classic() ? 8 : 0);
}

void TEmulatedDialog::SetClassicEmphasis(QWidget& Control) const
{
  QFont Bold = WithHeight(Control.font(), FCursor.FontHeight - 2);
  Bold.setBold(true);
  Control.setFont(Bold);
}

void TEmulatedDialog::AddLabel(const QString& Text, bool BigText, const QString& Name)
{
  const int FH = FCursor.FontHeight;
  auto* Label = new TClickLabel(FParent);
  Label->setObjectName(Name);
  Label->setWordWrap(true);
  Label->setTextFormat(Qt::PlainText);
  if (BigText) {
    if (Classic()) {
      SetClassicEmphasis(*Label);
    } else {
      Label->setFont(WithHeight(Label->font(), FH - 4));
      QPalette Blue = Label->palette();
      Blue.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0xB0));
      Label->setPalette(Blue);
    }
  } else if (const QFont Normal = WithHeight(Label->font(), FH); Normal != Label->font()) {
    // Usually the form's own font already: then the label keeps sharing it.
    Label->setFont(Normal);
  }
  const QString Caption = Displayed(CR(Text));
  Label->setText(Caption);
  const int Width = FCursor.ClientWidth - FCursor.TextLeft - 8;
  // An empty label keeps the height of one line.
  const int Height = WrappedHeightIn(Label->font(), Width, Caption.isEmpty() ? QStringLiteral(" ") : Caption);
  Label->setGeometry(FCursor.TextLeft, FCursor.Top, Width, Height);
#if !defined(CORVANE_EDITION_INSTALLER)
  Label->setCursor(Qt::PointingHandCursor);
  Label->OnClick = [&Task = FTask](QObject* Sender) { Task.Label1Click(Sender); };
#endif
  FCursor.Top += Height + 16;
}

void TEmulatedDialog::AddCommandLinks()
{
  FCursor.Top += 8;
  const QStringList Links = Lines(FTask.Buttons.trimmed());
  for (int I = 0; I < Links.size(); ++I) {
    QString Hint;
    const QString Caption = NoCR(Links[I], Hint);
    const int Width = FCursor.ClientWidth - FCursor.TextLeft - (Classic() ? 10 : 16);
    auto* Link = new TSynButton(FParent, Caption, 100 + I, FCursor.TextLeft, FCursor.Top, Width, 40);
    Link->setObjectName(QStringLiteral("CommandLink%1").arg(I));
    if (Classic())
      SetClassicEmphasis(*Link);
    else
      Link->setFont(WithHeight(Link->font(), FCursor.FontHeight - 3));
    if (!Hint.isEmpty())
      Link->setToolTip(Hint);
    // Glyph margin and spacing: the caption stands left, after the glyph.
    Link->setStyleSheet(QStringLiteral("text-align: left; padding-left: %1px;").arg(Classic() ? 7 : 24));
    if (!FArguments.Flags.Contains(tdfUseCommandLinksNoIcon))
      Link->SetBitmap(&BitmapArrow());
    SetResult(*Link, 100 + I);
    FCursor.Top += Link->height() + 2;
  }
  FCursor.Top += 24;
}

void TEmulatedDialog::AddRadioButtons()
{
  const QStringList Items = Lines(FTask.Radios.trimmed());
  for (int I = 0; I < Items.size(); ++I) {
    QString Hint;
    auto* Radio = new QRadioButton(NoCR(Items[I], Hint), FParent);
    Radio->setObjectName(QStringLiteral("Radio%1").arg(I));
    Radio->setGeometry(FCursor.TextLeft + 16, FCursor.Top, FCursor.ClientWidth - 32 - FCursor.TextLeft,
                       6 - FCursor.FontHeight);
    if (!Hint.isEmpty())
      Radio->setToolTip(Hint);
    FCursor.Top += Radio->height();
    if (I == 0 || 200 + I == FArguments.RadioDef)
      Radio->setChecked(true);
    FRadioButtons << Radio;
  }
  FCursor.Top += 24;
}

void TEmulatedDialog::AddSelection()
{
  FCombo = new QComboBox(FParent);
  FCombo->setObjectName(QStringLiteral("Selection"));
  FCombo->setGeometry(FCursor.TextLeft, FCursor.Top, FCursor.ClientWidth - 32 - FCursor.TextLeft, 22);
  FCombo->setEditable(FArguments.Flags.Contains(tdfQuery));
  FCombo->addItems(Lines(FTask.Selection.trimmed()));
  FCombo->setCurrentIndex(FCombo->findText(FTask.Query, Qt::MatchExactly | Qt::MatchCaseSensitive));
  if (FCombo->isEditable() && FCombo->currentIndex() < 0)
    FCombo->setEditText(QString());
  FCursor.Top += 42;
}

void TEmulatedDialog::AddQuery()
{
  FEdit = new QLineEdit(FParent);
  FEdit->setObjectName(QStringLiteral("Query"));
  FEdit->setGeometry(FCursor.TextLeft, FCursor.Top, FCursor.ClientWidth - 16 - FCursor.TextLeft, 22);
  if constexpr (!Edition::InstallerDialog) {
    QFont EditFont = FEdit->font();
    EditFont.setFamily(QStringLiteral("Calibri"));
    FEdit->setFont(EditFont);
    QPalette Blue = FEdit->palette();
    Blue.setColor(QPalette::Text, QColor(0x00, 0x00, 0xFF));
    FEdit->setPalette(Blue);
  }
  FEdit->setText(FTask.Query);
  if (FArguments.Flags.Contains(tdfQueryMasked)) {
    FEdit->setEchoMode(QLineEdit::Password);
    FEdit->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
  }
  if (!Edition::InstallerDialog && FArguments.Flags.Contains(tdfQueryFieldFocused))
    FEdit->setFocus();
  FCursor.Top += 42;
}

bool TEmulatedDialog::HasButtonRow() const
{
  return !FArguments.CommonButtons.IsEmpty() || !FTask.Verify.isEmpty() ||
         (!FTask.Buttons.isEmpty() && !CommandLinks());
}

void TEmulatedDialog::AddButtonRow()
{
  FCursor.Top += 16;
  FCursor.ButtonRowRight = FCursor.ClientWidth;
  // From the right edge leftwards: from left to right the row reads OK,
  // Yes, No, Cancel, Retry, Close, then the custom buttons in list order.
  if (!CommandLinks()) {
    const QStringList Customs = Lines(FTask.Buttons.trimmed());
    for (qsizetype I = Customs.size() - 1; I >= 0; --I) {
      QString Hint;
      AddButton(NoCR(Customs[I], Hint), 100 + int(I));
    }
  }
  for (int B = cbClose; B >= cbOK; --B)
    if (FArguments.CommonButtons.Contains(TCommonButton(B)))
      AddButton(CommonButtonCaption(TCommonButton(B)), CommonButtonModalResult(TCommonButton(B)));
  if (!FTask.Verify.isEmpty())
    AddVerification();
  FCursor.Top += 36;
}

void TEmulatedDialog::AddButton(const QString& Caption, int Result)
{
  const QString Text = UnAmp(Caption);
  const int WB = TextWidth(Text) + 52;
  FCursor.ButtonRowRight -= WB;
  // A button that would start left of half the text's indent opens a new
  // row, again from the right edge.
  if (FCursor.ButtonRowRight < FCursor.TextLeft / 2) {
    FCursor.ButtonRowRight = FCursor.ClientWidth - WB;
    FCursor.Top += 32;
  }
  const int Left = FCursor.ButtonRowRight;
  auto* Button = Classic() ? new TSynButton(FParent, Text, Result, Left, FCursor.Top, WB - 10, 22)
                           : new TSynButton(FParent, Text, Result, Left, FCursor.Top, WB - 12, 28);
  Button->setObjectName(QStringLiteral("Button%1").arg(Result));
  FRowButtons.prepend(Button);
#if !defined(CORVANE_EDITION_INSTALLER)
  Button->OnClick = [&Task = FTask](QObject* Sender) { Task.ButtonClick(Sender); };
#endif
  if (Result == mrOk) {
    Button->setDefault(true);
    Button->SetBitmap(&BitmapOK());
    if (FArguments.CommonButtons == TCommonButtons{cbOK})
      Button->SetCancel(true);
  } else if (Result == mrCancel) {
    Button->SetCancel(true);
  }
  SetResult(*Button, Result);
}

void TEmulatedDialog::SetResult(TSynButton& Button, int Result)
{
#if defined(CORVANE_EDITION_INSTALLER)
  // The result goes in the tag, the form's ButtonClick closes the form, and
  // the form focuses its default button once it shows.
  Button.SetModalResult(mrNone);
  Button.Tag = Result;
  Button.OnClick = [Form = FForm.get()](QObject* Sender) { Form->ButtonClick(Sender); };
  if (Result == FArguments.ButtonDef)
    FForm->DefaultButton = &Button;
#else
  Button.SetModalResult(Result);
  if (Result == FArguments.ButtonDef)
    Button.setFocus();
#endif
}

void TEmulatedDialog::AddVerification()
{
  // Beside the buttons where it fits, else a row lower with the full width.
  if (TextWidth(FTask.Verify) + FCursor.TextLeft + 16 > FCursor.ButtonRowRight) {
    FCursor.Top += 32;
    FCursor.ButtonRowRight = FCursor.ClientWidth;
  }
  FVerifyBox = new QCheckBox(FTask.Verify, FParent);
  FVerifyBox->setObjectName(QStringLiteral("Verify"));
  FVerifyBox->setGeometry(FCursor.TextLeft, FCursor.Top, FCursor.ButtonRowRight - FCursor.TextLeft, 24);
  FVerifyBox->setChecked(FTask.VerifyChecked != 0);
}

void TEmulatedDialog::AddFooter()
{
  if (HasButtonRow()) {
    // Beside the main icon while it reaches down this far, else from the edge.
    const int Left = FImage && FCursor.Top < FImage->y() + FImage->height() ? FCursor.TextLeft : 2;
    auto* Separator = new QFrame(FParent);
    Separator->setObjectName(QStringLiteral("Separator"));
    Separator->setFrameShape(QFrame::HLine);
    Separator->setFrameShadow(QFrame::Sunken);
    Separator->setGeometry(Left, FCursor.Top, FCursor.ClientWidth - Left - 2, 2);
  }
  FCursor.Top += 16;
  const QPixmap Half = LoadHalfSizeIcon(TaskDialogFooterIconEmulated(FArguments.FooterIcon),
                                        FForm->palette().color(QPalette::Window));
  if (!Half.isNull()) {
    auto* FooterImage = new QLabel(FParent);
    FooterImage->setObjectName(QStringLiteral("FooterImage"));
    FooterImage->setPixmap(Half);
    FooterImage->setGeometry(24, FCursor.Top, Half.width(), Half.height());
    FCursor.TextLeft = Half.width() + 40;
  } else {
    FCursor.TextLeft = 24;
  }
  AddLabel(FTask.Footer, false, QStringLiteral("Footer"));
}

void TEmulatedDialog::SetTabOrder()
{
  // The button row first, left to right, then the panel's controls, then
  // the check box.
  QList<QWidget*> TabOrder = FRowButtons;
  for (QWidget* Control : FPanel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (Control->focusPolicy() & Qt::TabFocus)
      TabOrder << Control;
  if (FVerifyBox)
    TabOrder << FVerifyBox;
  for (qsizetype I = 1; I < TabOrder.size(); ++I)
    QWidget::setTabOrder(TabOrder[I - 1], TabOrder[I]);
}

void TEmulatedDialog::PlaceOnScreen()
{
  const int Width = FCursor.ClientWidth, Height = FCursor.Top;
  FForm->setFixedSize(Width, Height);
  if (QScreen* Screen = FForm->screen())
    FForm->move(Screen->availableGeometry().center() - QPoint(Width / 2, Height / 2));
}

int TEmulatedDialog::ShowModal()
{
  auto* App = Application::Instance();
  return App ? App->ExecModal(*FForm) : FForm->exec();
}

void TEmulatedDialog::ReadResults()
{
  if (FCombo) {
    FTask.SelectionRes = FCombo->currentIndex();
    FTask.Query = FCombo->currentText();
  } else if (FEdit) {
    FTask.Query = FEdit->text();
  }
  if (FVerifyBox)
    FTask.VerifyChecked = FVerifyBox->isChecked() ? -1 : 0;
  FTask.RadioRes = 0;
  for (int I = 0; I < FRadioButtons.size(); ++I)
    if (FRadioButtons[I]->isChecked())
      FTask.RadioRes = 200 + I;
}

}  // namespace

// TTaskDialog.

int TTaskDialog::ExecuteEmulated(TCommonButtons aCommonButtons, int aButtonDef, TTaskDialogFlags aFlags,
                                 TTaskDialogIcon aDialogIcon, TTaskDialogFooterIcon aFooterIcon, int aRadioDef,
                                 int aWidth, bool aClassicStyle)
{
  int Result = mrNone;
  {
    TEmulatedDialog Dialog(
      *this, {aCommonButtons, aButtonDef, aFlags, aDialogIcon, aFooterIcon, aRadioDef, aWidth, aClassicStyle});
    Result = Dialog.ShowModal();
#if defined(CORVANE_EDITION_INSTALLER)
    // The form's tag, not its modal result; nothing a button carries above
    // 65535 counts.
    Result = Dialog.FForm->Tag >= 0 && Dialog.FForm->Tag <= 65535 ? Dialog.FForm->Tag : 0;
#else
    // However the form closed; a hand-off that raises leaves the results
    // as they were.
    HandOnReport(*this, Dialog.Comment());
#endif
    Dialog.ReadResults();
  }
#if !defined(CORVANE_EDITION_INSTALLER)
  // A picture, archive or copy that could not be written is told once the
  // rest is done.
  if (ClickFailure)
    std::rethrow_exception(ClickFailure);
  if (PackingFailure)
    std::rethrow_exception(PackingFailure);
#endif
  return Result;
}

}  // namespace halvernSynTaskDialog
