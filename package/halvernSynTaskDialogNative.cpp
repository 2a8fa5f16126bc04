// The native path of the task dialog: the record handed to the system's
// entry point.

#include "package/halvernSynTaskDialogInternal.h"

#include <cstdint>
#include <vector>

namespace halvernSynTaskDialog {

void AddRU(const QString& Text, int& Count, int FirstId, std::vector<TaskDialog::TASKDIALOG_BUTTON>& Entries)
{
  const QString List = Text.trimmed();
  qsizetype Pos = 0;
  while (Pos < List.size() && List[Pos].unicode() != 0) {
    if (Count >= int(Entries.size()))
      Entries.resize(Entries.size() + 16);
    Entries[size_t(Count)].nButtonID = Count + FirstId;
    Entries[size_t(Count)].pszButtonText = GetNextStringLineToWS(List, Pos);
    ++Count;
  }
}

int TTaskDialog::ExecuteNative(TCommonButtons aCommonButtons, int aButtonDef, TTaskDialogFlags aFlags,
                               TTaskDialogIcon aDialogIcon, TTaskDialogFooterIcon aFooterIcon, int aRadioDef,
                               int aWidth, QWidget* aParent)
{
  std::vector<TaskDialog::TASKDIALOG_BUTTON> ButtonEntries, RadioEntries;
  int ButtonCount = 0, RadioCount = 0;
  AddRU(Buttons, ButtonCount, 100, ButtonEntries);
  AddRU(Radios, RadioCount, 200, RadioEntries);

  TaskDialog::TASKDIALOGCONFIG Config;
  Config.cbSize = TaskDialog::TaskDialogConfigSize;
  Config.hwndParent = aParent;
  Config.hInstance = nullptr;
  Config.dwFlags = aFlags.Bits();
  if (!Verify.isEmpty() && VerifyChecked)
    Config.dwFlags |= TaskDialog::TDF_VERIFICATION_FLAG_CHECKED;
  if (ButtonCount == 0 && aCommonButtons == TCommonButtons{cbOK})
    Config.dwFlags |= TaskDialog::TDF_ALLOW_DIALOG_CANCELLATION;
  Config.dwCommonButtons = aCommonButtons.Bits();
  Config.pszWindowTitle = N(Title);
  Config.pszMainInstruction = N(Inst);
  Config.pszContent = N(Content);
  Config.pszVerificationText = N(Verify);
  Config.pszExpandedInformation = N(Info);
  Config.pszExpandedControlText = N(InfoExpanded);
  Config.pszCollapsedControlText = N(InfoCollapse);
  Config.pszFooter = N(Footer);
  Config.pszMainIcon = TaskDialogIconNative(aDialogIcon);
  Config.pszFooterIcon = TaskDialogFooterIconNative(aFooterIcon);
  if (ButtonCount > 0) {
    Config.cButtons = std::uint32_t(ButtonCount);
    Config.pButtons = ButtonEntries.data();
  }
  if (RadioCount > 0) {
    Config.cRadioButtons = std::uint32_t(RadioCount);
    Config.pRadioButtons = RadioEntries.data();
  }
  Config.nDefaultButton = aButtonDef;
  Config.nDefaultRadioButton = aRadioDef;
  Config.cxWidth = std::uint32_t(aWidth);

  int Result = 0;
  if (TaskDialogIndirect(&Config, &Result, &RadioRes, &VerifyChecked) < 0)
    Result = 0;
  return Result;
}

}  // namespace halvernSynTaskDialog
