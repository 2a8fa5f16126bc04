// The task dialog: its fixed tables, its defaults, and the choice between
// the native and the emulated dialog.

#include "package/halvernSynTaskDialog.h"

#include "hostfw/Application.h"
#include "package/Edition.h"
#include "platform/OsVersion.h"

#include <QApplication>
#include <QDialog>

namespace halvernSynTaskDialog {

namespace {

TTaskDialogIndirect LookUpTaskDialogIndirect()
{
  OsVersion::OSVERSIONINFOEXW Info{};
  Info.dwOSVersionInfoSize = OsVersion::OsVersionInfoExSize;
  if (!OsVersion::GetVersionExW(&Info) || Info.dwMajorVersion <= 5)
    return nullptr;
  return &TaskDialog::TaskDialogIndirect;
}

// The native stand-in runs its modal loop through the application object,
// so that whatever answers our modal dialogs answers it too.
struct TUnitLifetime {
  TUnitLifetime()
  {
    TaskDialog::SetModalRunner([](QDialog& Dialog) {
      if (auto* App = Application::Instance())
        return App->ExecModal(Dialog);
      return Dialog.exec();
    });
  }
  ~TUnitLifetime() { TaskDialog::SetModalRunner({}); }
} UnitLifetime;

}  // namespace

#if !defined(CORVANE_EDITION_INSTALLER)
TTaskDialogEx DefaultTaskDialog{TTaskDialog{}, {}, 0, {}, tiInformation, tfiWarning, 0, 0, false, false};
#endif

TTaskDialogIndirect TaskDialogIndirect = LookUpTaskDialogIndirect();

// The fixed tables.

QString CommonButtonCaption(TCommonButton Button)
{
  // The framework's own localised captions.
  switch (Button) {
  case cbOK: return Edition::EditionText(QCoreApplication::translate("QPlatformTheme", "OK"));
  case cbYes: return Edition::EditionText(QCoreApplication::translate("QPlatformTheme", "&Yes"));
  case cbNo: return Edition::EditionText(QCoreApplication::translate("QPlatformTheme", "&No"));
  case cbCancel: return Edition::EditionText(QCoreApplication::translate("QPlatformTheme", "Cancel"));
  case cbRetry: return Edition::EditionText(QCoreApplication::translate("QPlatformTheme", "Retry"));
  case cbClose: return Edition::EditionText(QCoreApplication::translate("QPlatformTheme", "Close"));
  }
  return {};
}

int CommonButtonModalResult(TCommonButton Button)
{
  constexpr int Results[] = {mrOk, mrYes, mrNo, mrCancel, mrRetry, mrAbort};
  return Results[Button];
}

int TaskDialogIconNative(TTaskDialogIcon Icon)
{
  constexpr int Values[] = {17, 84, 99, 98, 81, 0, 78};
  return Values[Icon];
}

int TaskDialogIconEmulated(TTaskDialogIcon Icon)
{
  constexpr int Values[] = {0, 32515, 32514, 32513, 32516, 0, 32517};
  return Values[Icon];
}

QString TaskDialogIconDefaultInstruction(TTaskDialogIcon Icon)
{
  switch (Icon) {
  case tiWarning: return Edition::EditionText(QCoreApplication::translate("halvernSynTaskDialog", "Warning"));
  case tiQuestion: return Edition::EditionText(QCoreApplication::translate("halvernSynTaskDialog", "Confirm"));
  case tiError: return Edition::EditionText(QCoreApplication::translate("halvernSynTaskDialog", "Error"));
  case tiInformation:
  case tiShield: return Edition::EditionText(QCoreApplication::translate("halvernSynTaskDialog", "Information"));
  case tiBlank:
  case tiNotUsed: break;
  }
  return {};
}

int TaskDialogFooterIconNative(TTaskDialogFooterIcon Icon)
{
  constexpr int Values[] = {17, 84, 99, 98, 65533, 65532};
  return Values[Icon];
}

int TaskDialogFooterIconEmulated(TTaskDialogFooterIcon Icon)
{
  constexpr int Values[] = {0, 32515, 32514, 32513, 32516, 32517};
  return Values[Icon];
}

// TTaskDialog.

#if defined(CORVANE_EDITION_INSTALLER)
int TTaskDialog::Execute(TCommonButtons aCommonButtons, int aButtonDef, TTaskDialogFlags aFlags,
                         TTaskDialogIcon aDialogIcon, TTaskDialogFooterIcon aFooterIcon, int aRadioDef, int aWidth,
                         QWidget* aParent, bool NonNative)
{
  constexpr bool aClassicStyle = false;
#else
int TTaskDialog::Execute(TCommonButtons aCommonButtons, int aButtonDef, TTaskDialogFlags aFlags,
                         TTaskDialogIcon aDialogIcon, TTaskDialogFooterIcon aFooterIcon, int aRadioDef, int aWidth,
                         QWidget* aParent, bool NonNative, bool aClassicStyle)
{
  // A failure belongs to the call that met it; a kept record is shown again.
  ClickFailure = nullptr;
  PackingFailure = nullptr;
#endif
  if constexpr (Edition::AnsiTexts) {
    // This edition's record holds 8-bit texts.
    for (QString* Text : {&Title, &Inst, &Content, &Buttons, &Radios, &Info, &InfoExpanded, &InfoCollapse, &Footer,
                          &Verify, &Selection, &Query})
      *Text = Edition::EditionText(*Text);
  }
  if (aCommonButtons.IsEmpty() && Buttons.isEmpty()) {
    aCommonButtons = {cbOK};
    if (aButtonDef == 0)
      aButtonDef = 1;
  }
  auto* App = Application::Instance();
  if (Title.isEmpty()) {
    if (App && App->MainForm())
      Title = App->MainForm()->windowTitle();
    else
      Title = App ? App->Title() : QCoreApplication::applicationName();
  }
  if (Inst.isEmpty())
    Inst = TaskDialogIconDefaultInstruction(aDialogIcon);
  if (!aParent) {
    aParent = QApplication::activeWindow();
    if (!aParent && App)
      aParent = App->Handle();
  }
  if (TaskDialogIndirect && !NonNative && !aFlags.Contains(tdfQuery) && Selection.isEmpty())
    return ExecuteNative(aCommonButtons, aButtonDef, aFlags, aDialogIcon, aFooterIcon, aRadioDef, aWidth, aParent);
  return ExecuteEmulated(aCommonButtons, aButtonDef, aFlags, aDialogIcon, aFooterIcon, aRadioDef, aWidth,
                         aClassicStyle);
}

#if !defined(CORVANE_EDITION_INSTALLER)
int TTaskDialogEx::Execute(QWidget* aParent)
{
  return Base.Execute(CommonButtons, ButtonDef, Flags, DialogIcon, FooterIcon, RadioDef, Width, aParent, NonNative,
                      ClassicStyle);
}
#endif

}  // namespace halvernSynTaskDialog
