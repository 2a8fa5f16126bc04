#pragma once
// Crash reports: the component's side of the crash handlers (platform/
// CrashHandler.h) and the crash helper's way into the package.
//
// The active component that handles the application's exceptions also
// arms the crash handlers, and hands them its settings whenever they
// change. On a crash the helper program, which lies beside the package
// library, reads what the handler recorded, unwinds the crashed thread,
// then loads the very library file the crashed program used (its edition)
// and calls CorvaneReportCrash there: the report, prompt, archive, copy,
// mail and hand-off to the viewer are the component's own.

#include <QLatin1String>
#include <QString>
#include <QStringList>

namespace CrashRecord {
struct TCrashRecord;
}

namespace Vesparo {

class TCVVesparo;

// The crash helper program, in the folder of the package library.
inline constexpr QLatin1String CrashHelperName("corvane-crash-helper");
// This edition's library file, found from its own code.
QString PackageLibraryPath();
QString CrashHelperPath();

// Component becomes the one whose settings a crash report takes, and the
// crash handlers are installed (an active component that has loaded).
void ArmCrashReports(const TCVVesparo& Component);
// Hands Component's settings on, if it is the armed one.
void PrepareCrashSettings(const TCVVesparo& Component);
// Component goes: if it was the armed one, the handlers are removed.
void DisarmCrashReports(const TCVVesparo& Component);

// What a crash report says in its exception section: "Excep_sErrorType"
// (the signal, its cause and address; for std::terminate the active
// exception's message) and "Excep_sErrorclass" (the signal's name; the
// active exception's class).
QString CrashErrorType(const CrashRecord::TCrashRecord& Record);
QString CrashErrorClass(const CrashRecord::TCrashRecord& Record);
// Whether a SIGSEGV was the thread's stack running out: a fault this close
// to the stack pointer.
inline constexpr unsigned long long StackOverflowReach = 64 * 1024;

// The helper's entry, exported by every edition library under this name.
inline constexpr const char* CrashReportEntryName = "CorvaneReportCrash";
using TCrashReportEntry = int (*)(int& argc, char** argv, const CrashRecord::TCrashRecord& Record,
                                  const QStringList& Frames, const QString& StackNote);

}  // namespace Vesparo

// Runs the crash report of Record in this process (the helper): an
// application object on argc and argv, a component with the crashed
// program's settings, the report with the frames the helper rendered.
// Returns the process's exit status.
extern "C" int CorvaneReportCrash(int& argc, char** argv, const CrashRecord::TCrashRecord& Record,
                                  const QStringList& Frames, const QString& StackNote);
