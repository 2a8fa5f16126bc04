#pragma once
// The package is built in three editions from one source. The XE editions
// hold texts as UTF-16; the D6 edition holds 8-bit texts in the ANSI code
// page, so every text it shows has passed through that code page.

#include "platform/AnsiCodePage.h"

#include <QString>

namespace Edition {

#if defined(CORVANE_EDITION_D6)
inline constexpr bool AnsiTexts = true;
#else
inline constexpr bool AnsiTexts = false;
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
