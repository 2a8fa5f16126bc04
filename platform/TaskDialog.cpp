#include "platform/TaskDialog.h"

#include "platform/ReplaceableSource.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCommandLinkButton>
#include <QDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

#include <vector>

namespace TaskDialog {

namespace {

ReplaceableSource::TReplaceableSource<TModalRunner> Runner;

// The icon numbers callers pass: the system's small set of stock icons,
// under both the numbers of the icon resources and the dialog's own ones.
QIcon StockIcon(int Number)
{
  QStyle* Style = QApplication::style();
  switch (Number) {
  case 84:
  case TD_WARNING_ICON: return Style->standardIcon(QStyle::SP_MessageBoxWarning);
  case 99: return Style->standardIcon(QStyle::SP_MessageBoxQuestion);
  case 98:
  case TD_ERROR_ICON: return Style->standardIcon(QStyle::SP_MessageBoxCritical);
  case 81:
  case TD_INFORMATION_ICON: return Style->standardIcon(QStyle::SP_MessageBoxInformation);
  case 78:
  case TD_SHIELD_ICON: return Style->standardIcon(QStyle::SP_VistaShield);
  default: return {};
  }
}

QLabel* TextLabel(const QString& Text, bool Links, QWidget* Parent)
{
  auto* Label = new QLabel(Text, Parent);
  Label->setWordWrap(true);
  Label->setTextFormat(Links ? Qt::RichText : Qt::PlainText);
  Label->setOpenExternalLinks(Links);
  return Label;
}

struct TCommonButtonInfo {
  std::uint32_t Flag;
  int Id;
  const char* Caption;
};
constexpr TCommonButtonInfo CommonButtons[] = {
  {TDCBF_OK_BUTTON, IDOK, QT_TRANSLATE_NOOP("TaskDialog", "OK")},
  {TDCBF_YES_BUTTON, IDYES, QT_TRANSLATE_NOOP("TaskDialog", "&Yes")},
  {TDCBF_NO_BUTTON, IDNO, QT_TRANSLATE_NOOP("TaskDialog", "&No")},
  {TDCBF_CANCEL_BUTTON, IDCANCEL, QT_TRANSLATE_NOOP("TaskDialog", "Cancel")},
  {TDCBF_RETRY_BUTTON, IDRETRY, QT_TRANSLATE_NOOP("TaskDialog", "&Retry")},
  {TDCBF_CLOSE_BUTTON, IDCLOSE, QT_TRANSLATE_NOOP("TaskDialog", "&Close")},
};

// The dialog: Esc and the close box cancel only where the record allows it.
class TNativeDialog : public QDialog {
public:
  TNativeDialog(QWidget* Parent, bool CanCancel) : QDialog(Parent), FCanCancel(CanCancel) {}
  int ClickedId = 0;
  void reject() override
  {
    if (!FCanCancel)
      return;
    ClickedId = IDCANCEL;
    QDialog::reject();
  }

private:
  bool FCanCancel;
};

}  // namespace

void SetModalRunner(TModalRunner NewRunner) { Runner.Set(std::move(NewRunner)); }

std::int32_t TaskDialogIndirect(const TASKDIALOGCONFIG* Config, int* pnButton, int* pnRadioButton,
                                std::int32_t* pfVerificationFlagChecked)
{
  if (!Config || Config->cbSize != TaskDialogConfigSize)
    return E_INVALIDARG;
  if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
    return E_FAIL;

  const std::uint32_t Flags = Config->dwFlags;
  const bool Links = Flags & TDF_ENABLE_HYPERLINKS;
  const bool CanCancel = (Flags & TDF_ALLOW_DIALOG_CANCELLATION) || (Config->dwCommonButtons & TDCBF_CANCEL_BUTTON);
  TNativeDialog Dialog(Config->hwndParent, CanCancel);
  Dialog.setObjectName(QStringLiteral("TaskDialog"));
  Dialog.setWindowTitle(Config->pszWindowTitle);
  if (!CanCancel)
    Dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  auto* Outer = new QVBoxLayout(&Dialog);

  // Icon beside main instruction and content.
  auto* Top = new QHBoxLayout;
  Outer->addLayout(Top);
  const QIcon MainIcon = StockIcon(Config->pszMainIcon);
  if (!MainIcon.isNull()) {
    auto* Image = new QLabel(&Dialog);
    Image->setPixmap(MainIcon.pixmap(32, 32));
    Image->setAlignment(Qt::AlignTop);
    Top->addWidget(Image);
  }
  auto* Texts = new QVBoxLayout;
  Top->addLayout(Texts, 1);
  if (!Config->pszMainInstruction.isEmpty()) {
    QLabel* Inst = TextLabel(Config->pszMainInstruction, Links, &Dialog);
    Inst->setObjectName(QStringLiteral("MainInstruction"));
    QFont Large = Inst->font();
    Large.setPointSizeF(Large.pointSizeF() * 1.3);
    Inst->setFont(Large);
    Texts->addWidget(Inst);
  }
  if (!Config->pszContent.isEmpty()) {
    QLabel* Content = TextLabel(Config->pszContent, Links, &Dialog);
    Content->setObjectName(QStringLiteral("Content"));
    Texts->addWidget(Content);
  }

  // Expanded information, behind its expander button.
  QLabel* Expanded = nullptr;
  if (!Config->pszExpandedInformation.isEmpty()) {
    Expanded = TextLabel(Config->pszExpandedInformation, Links, &Dialog);
    Expanded->setObjectName(QStringLiteral("ExpandedInformation"));
    if (!(Flags & TDF_EXPAND_FOOTER_AREA))
      Texts->addWidget(Expanded);
  }

  // Radio buttons.
  std::vector<std::pair<QRadioButton*, int>> Radios;
  auto* RadioGroup = new QButtonGroup(&Dialog);
  for (std::uint32_t I = 0; Config->pRadioButtons && I < Config->cRadioButtons; ++I) {
    const TASKDIALOG_BUTTON& Entry = Config->pRadioButtons[I];
    auto* Radio = new QRadioButton(Entry.pszButtonText, &Dialog);
    RadioGroup->addButton(Radio);
    Texts->addWidget(Radio);
    Radios.emplace_back(Radio, Entry.nButtonID);
  }
  if (!Radios.empty() && !(Flags & TDF_NO_DEFAULT_RADIO_BUTTON)) {
    QRadioButton* Checked = Radios.front().first;
    for (const auto& [Radio, Id] : Radios)
      if (Id == Config->nDefaultRadioButton)
        Checked = Radio;
    Checked->setChecked(true);
  }

  std::vector<std::pair<QPushButton*, int>> Buttons;
  auto Close = [&Dialog](int Id) {
    Dialog.ClickedId = Id;
    Dialog.accept();
  };

  // Custom buttons: command links under the texts, or push buttons in the row.
  const bool CommandLinks = Flags & (TDF_USE_COMMAND_LINKS | TDF_USE_COMMAND_LINKS_NO_ICON);
  auto* Row = new QHBoxLayout;
  for (std::uint32_t I = 0; Config->pButtons && I < Config->cButtons; ++I) {
    const TASKDIALOG_BUTTON& Entry = Config->pButtons[I];
    QPushButton* Button = nullptr;
    if (CommandLinks) {
      // The first line is the caption, further lines the note under it.
      const qsizetype Break = Entry.pszButtonText.indexOf(QLatin1Char('\n'));
      auto* Link = new QCommandLinkButton(Entry.pszButtonText.left(Break), &Dialog);
      if (Break >= 0)
        Link->setDescription(Entry.pszButtonText.mid(Break + 1));
      if (Flags & TDF_USE_COMMAND_LINKS_NO_ICON)
        Link->setIcon(QIcon());
      Texts->addWidget(Link);
      Button = Link;
    } else {
      Button = new QPushButton(Entry.pszButtonText, &Dialog);
    }
    Buttons.emplace_back(Button, Entry.nButtonID);
  }
  // The check box at the left of the button row.
  QCheckBox* Verify = nullptr;
  if (!Config->pszVerificationText.isEmpty()) {
    Verify = new QCheckBox(Config->pszVerificationText, &Dialog);
    Verify->setChecked(Flags & TDF_VERIFICATION_FLAG_CHECKED);
    Row->addWidget(Verify);
  }
  QPushButton* Expander = nullptr;
  if (Expanded) {
    const bool Open = Flags & TDF_EXPANDED_BY_DEFAULT;
    Expander = new QPushButton(&Dialog);
    Expander->setObjectName(QStringLiteral("Expander"));
    Expander->setCheckable(true);
    Expander->setChecked(Open);
    Expanded->setVisible(Open);
    // Without captions of its own the button still says what it does.
    const QString OpenText = Config->pszExpandedControlText.isEmpty() ? QStringLiteral("Hide details")
                                                                      : Config->pszExpandedControlText;
    const QString ClosedText = Config->pszCollapsedControlText.isEmpty() ? QStringLiteral("See details")
                                                                         : Config->pszCollapsedControlText;
    auto Caption = [Expander, OpenText, ClosedText](bool Now) { Expander->setText(Now ? OpenText : ClosedText); };
    Caption(Open);
    QObject::connect(Expander, &QPushButton::toggled, Expanded, [Expanded, Caption](bool Now) {
      Expanded->setVisible(Now);
      Caption(Now);
    });
    Row->addWidget(Expander);
  }
  Row->addStretch(1);
  for (const auto& [Button, Id] : Buttons)
    if (!CommandLinks)
      Row->addWidget(Button);
  for (const TCommonButtonInfo& Common : CommonButtons) {
    if (!(Config->dwCommonButtons & Common.Flag))
      continue;
    auto* Button = new QPushButton(QCoreApplication::translate("TaskDialog", Common.Caption), &Dialog);
    Row->addWidget(Button);
    Buttons.emplace_back(Button, Common.Id);
  }
  Outer->addLayout(Row);

  if (Expanded && (Flags & TDF_EXPAND_FOOTER_AREA))
    Outer->addWidget(Expanded);

  // Footer under a rule, with its own small icon.
  if (!Config->pszFooter.isEmpty()) {
    auto* Rule = new QFrame(&Dialog);
    Rule->setFrameShape(QFrame::HLine);
    Outer->addWidget(Rule);
    auto* Footer = new QHBoxLayout;
    const QIcon FooterIcon = StockIcon(Config->pszFooterIcon);
    if (!FooterIcon.isNull()) {
      auto* Image = new QLabel(&Dialog);
      Image->setPixmap(FooterIcon.pixmap(16, 16));
      Image->setAlignment(Qt::AlignTop);
      Footer->addWidget(Image);
    }
    QLabel* FooterText = TextLabel(Config->pszFooter, Links, &Dialog);
    FooterText->setObjectName(QStringLiteral("Footer"));
    Footer->addWidget(FooterText, 1);
    Outer->addLayout(Footer);
  }

  // The default button: the one asked for, else the first.
  QPushButton* Default = Buttons.empty() ? nullptr : Buttons.front().first;
  for (const auto& [Button, Id] : Buttons) {
    const int ButtonId = Id;
    QObject::connect(Button, &QPushButton::clicked, &Dialog, [Close, ButtonId] { Close(ButtonId); });
    if (Id == Config->nDefaultButton)
      Default = Button;
  }
  if (Default) {
    Default->setDefault(true);
    Default->setFocus();
  }

  // The width is given in dialog units, a quarter of the average character.
  if (Config->cxWidth > 0)
    Dialog.setFixedWidth(int(Config->cxWidth) * Dialog.fontMetrics().averageCharWidth() / 4);

  if (const TModalRunner Current = Runner.Get())
    Current(Dialog);
  else
    Dialog.exec();

  if (pnButton)
    *pnButton = Dialog.ClickedId;
  if (pnRadioButton) {
    *pnRadioButton = 0;
    for (const auto& [Radio, Id] : Radios)
      if (Radio->isChecked())
        *pnRadioButton = Id;
  }
  if (pfVerificationFlagChecked)
    *pfVerificationFlagChecked = Verify && Verify->isChecked() ? 1 : 0;
  return S_OK;
}

}  // namespace TaskDialog
