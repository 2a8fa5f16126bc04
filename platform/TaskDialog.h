#pragma once
// The native task dialog: TaskDialogIndirect served by a Qt dialog that is
// built from the configuration record, so that the callers' native path runs
// here as well. Only what the callers pass is taken from the record; texts
// are Qt strings instead of wide-character pointers, icons resource numbers.

#include <QString>

#include <cstdint>
#include <functional>

class QDialog;
class QWidget;

namespace TaskDialog {

// Flag bits of the record (dwFlags).
enum : std::uint32_t {
  TDF_ENABLE_HYPERLINKS = 0x0001,
  TDF_ALLOW_DIALOG_CANCELLATION = 0x0008,
  TDF_USE_COMMAND_LINKS = 0x0010,
  TDF_USE_COMMAND_LINKS_NO_ICON = 0x0020,
  TDF_EXPAND_FOOTER_AREA = 0x0040,
  TDF_EXPANDED_BY_DEFAULT = 0x0080,
  TDF_VERIFICATION_FLAG_CHECKED = 0x0100,
  TDF_NO_DEFAULT_RADIO_BUTTON = 0x4000,
};

// Common buttons (dwCommonButtons) and the ids they return.
enum : std::uint32_t {
  TDCBF_OK_BUTTON = 0x01,
  TDCBF_YES_BUTTON = 0x02,
  TDCBF_NO_BUTTON = 0x04,
  TDCBF_CANCEL_BUTTON = 0x08,
  TDCBF_RETRY_BUTTON = 0x10,
  TDCBF_CLOSE_BUTTON = 0x20,
};
enum : int { IDOK = 1, IDCANCEL = 2, IDRETRY = 4, IDYES = 6, IDNO = 7, IDCLOSE = 8 };

// Icon resource numbers of the dialog.
enum : int {
  TD_NO_ICON = 0,
  TD_SHIELD_ICON = 65532,
  TD_INFORMATION_ICON = 65533,
  TD_ERROR_ICON = 65534,
  TD_WARNING_ICON = 65535,
};

enum : std::int32_t { S_OK = 0, E_INVALIDARG = std::int32_t(0x80070057u), E_FAIL = std::int32_t(0x80004005u) };

struct TASKDIALOG_BUTTON {
  int nButtonID = 0;
  QString pszButtonText;
};

// The size the native record has; a record of any other size is refused.
inline constexpr std::uint32_t TaskDialogConfigSize = 96;

struct TASKDIALOGCONFIG {
  std::uint32_t cbSize = 0;
  QWidget* hwndParent = nullptr;
  void* hInstance = nullptr;
  std::uint32_t dwFlags = 0;
  std::uint32_t dwCommonButtons = 0;
  QString pszWindowTitle;
  int pszMainIcon = TD_NO_ICON;
  QString pszMainInstruction;
  QString pszContent;
  std::uint32_t cButtons = 0;
  const TASKDIALOG_BUTTON* pButtons = nullptr;
  int nDefaultButton = 0;
  std::uint32_t cRadioButtons = 0;
  const TASKDIALOG_BUTTON* pRadioButtons = nullptr;
  int nDefaultRadioButton = 0;
  QString pszVerificationText;
  QString pszExpandedInformation;
  QString pszExpandedControlText;
  QString pszCollapsedControlText;
  int pszFooterIcon = TD_NO_ICON;
  QString pszFooter;
  void* pfCallback = nullptr;
  void* lpCallbackData = nullptr;
  std::uint32_t cxWidth = 0;
};

using TTaskDialogIndirect = std::int32_t (*)(const TASKDIALOGCONFIG* pTaskConfig, int* pnButton,
                                             int* pnRadioButton, std::int32_t* pfVerificationFlagChecked);

// Shows the dialog modally and answers with the id of the button that closed
// it (IDCANCEL when cancelled), the id of the checked radio button (0 when
// none) and the check box (1 or 0); each output may be null. S_OK, or
// E_INVALIDARG for a record of the wrong size, E_FAIL without a GUI.
std::int32_t TaskDialogIndirect(const TASKDIALOGCONFIG* pTaskConfig, int* pnButton, int* pnRadioButton,
                                std::int32_t* pfVerificationFlagChecked);

// How the dialog runs its modal loop; by default QDialog::exec. The layer
// above puts its own in place, so that its modal hooks see this dialog too.
using TModalRunner = std::function<int(QDialog& Dialog)>;
void SetModalRunner(TModalRunner Runner);

}  // namespace TaskDialog
