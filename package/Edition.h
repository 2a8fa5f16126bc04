#pragma once
// The package is built in several editions from one source. The 2010 and XE
// editions hold texts as UTF-16; the D6, D7 and 2006 editions hold 8-bit
// texts in the ANSI code page, so every text they show has passed through
// that code page. The task-dialog unit is built once more, for the
// installer: 8-bit texts, and without the report hand-off that only the
// package's editions have.

#include "platform/AnsiCodePage.h"

#include <QString>

// Only units compiled once per edition may depend on the edition.
#if !defined(CORVANE_EDITION_DXE2) && !defined(CORVANE_EDITION_DXE3) && !defined(CORVANE_EDITION_D2010) && \
  !defined(CORVANE_EDITION_D6) && !defined(CORVANE_EDITION_D7) && !defined(CORVANE_EDITION_D2006) &&       \
  !defined(CORVANE_EDITION_INSTALLER)
#error "a unit that includes package/Edition.h belongs to CORVANE_PACKAGE_EDITION_SOURCES"
#endif

namespace Edition {

#if defined(CORVANE_EDITION_D6) || defined(CORVANE_EDITION_D7) || defined(CORVANE_EDITION_D2006) || \
  defined(CORVANE_EDITION_INSTALLER)
inline constexpr bool AnsiTexts = true;
#else
inline constexpr bool AnsiTexts = false;
#endif

// Whether the emulated task dialog hands the report on: its texts open the
// viewer, its buttons photograph it, and its closing packs the report.
#if defined(CORVANE_EDITION_INSTALLER)
inline constexpr bool ReportHandOff = false;
#else
inline constexpr bool ReportHandOff = true;
#endif

// Whether this is the installer's edition of the task dialog: its form is a
// TTaskDialogForm whose buttons carry their results in their tags, its edit
// field keeps the form's font, and there is no classic style.
#if defined(CORVANE_EDITION_INSTALLER)
inline constexpr bool InstallerDialog = true;
#else
inline constexpr bool InstallerDialog = false;
#endif

// A text as this edition holds it.
inline QString EditionText(const QString& Text)
{
  if constexpr (AnsiTexts)
    return AnsiCodePage::FromAnsi(AnsiCodePage::ToAnsi(Text));
  else
    return Text;
}

}  // namespace Edition
