#pragma once
// The shell's "open" on a file, the way the desktop would do it.

#include <QString>

namespace Shell {

// Show states; the desktop here has no say over a started program's window,
// so they are accepted and passed over.
enum : int { SW_HIDE = 0, SW_SHOWNORMAL = 1 };

// Results as the shell gives them: above 32 is success.
enum : int { SE_ERR_FNF = 2, SE_ERR_ACCESSDENIED = 5, SE_ERR_NOASSOC = 31, SE_OK = 42 };

// Operation "open" (or empty, which means the same) on File:
//  - an executable file is started directly with Parameters as its one
//    argument (none when Parameters is empty); nothing passes a shell, so
//    quotes, ";" or "$(...)" in Parameters are plain characters;
//  - a ".bat" file is run by /bin/sh in Directory (the caller's folder when
//    empty), Parameters as its one argument; its lines run without the CR
//    of their CR LF ends. A batch file that cannot be read, holds a NUL or
//    is larger than a single argument may be (128 KiB) is not run;
//  - any other existing file is handed to xdg-open.
// The started program is detached: it outlives the caller. Owner and
// ShowCmd are accepted for the callers' sake and have no effect here.
int ShellExecute(const void* Owner, const QString& Operation, const QString& File, const QString& Parameters,
                 const QString& Directory, int ShowCmd);

// Runs the batch file File as ShellExecute's "open" does, its standard
// output and error appended to the existing file Log, where the user can
// read what it said. Nothing but a ".bat" file is run, and nothing is
// handed to the desktop's opener: anything else is SE_ERR_NOASSOC.
int RunBatch(const QString& File, const QString& Directory, const QString& Log);

}  // namespace Shell
