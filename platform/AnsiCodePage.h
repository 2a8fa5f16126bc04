#pragma once
// The process's ANSI code page: the single-byte (or double-byte) code page that
// 8-bit texts and the report file are written in. Chosen from the locale the
// way Windows chooses its ANSI code page from the system language.

#include <QByteArray>
#include <QString>

namespace AnsiCodePage {

// The code page of this process: from LC_ALL, LC_CTYPE or LANG (first set
// wins), 1252 for the C/POSIX locale and for languages without one. Computed
// once; SetACP overrides it.
int GetACP();

// Replaces the process's code page (0 returns to the one of the locale).
// Lets a host, or a test, pin the code page independently of the locale.
void SetACP(int CodePage);

// The ANSI code page Windows uses for a locale name such as "ru_RU.UTF-8",
// "de_DE@euro", "C" or "POSIX".
int CodePageForLocale(const QString& LocaleName);

// Text to bytes of the code page; every character the code page cannot
// represent becomes "?". Never fails.
QByteArray ToAnsi(const QString& Text, int CodePage);
QByteArray ToAnsi(const QString& Text);

// Bytes of the code page to text; a byte the code page leaves undefined
// becomes the character of the same number, as Windows does. Never fails.
QString FromAnsi(QByteArrayView Bytes, int CodePage);
QString FromAnsi(QByteArrayView Bytes);

}  // namespace AnsiCodePage
