#pragma once
// Folders and names of the report store, and the package's registry helpers.
// Paths use "/" and no rule adds a trailing separator, except the folder of
// the executable, which keeps its own.

#include "platform/FileLock.h"

#include <QString>

class QWidget;

namespace Vesparoutil {

// Screenshot (a bitmap, whatever the name says), archive and mail archive of
// the current report; set together by the screenshot step, cleared at unit
// finalization.
extern QString sJpegFileName;
extern QString sZipFileName;
extern QString sZipFileNameForMailing;

inline constexpr QLatin1String DataFolderName("Corvane 1.1");
inline constexpr QLatin1String ReportFileSuffix("_halvern_leak_log.Hmld");
// What the all-users documents lookup yields when it finds nothing.
inline constexpr QLatin1String FallbackMyDocuments("/Documents and Settings/All Users/Documents");

// The current user's roaming application-data folder; empty when it cannot
// be found.
QString getUserAppDataDirectOryPath();
// The same folder, found through the shell's item list for the owner window.
QString GetThePath(QWidget* Handle);
// The documents folder of all users, or the fixed fallback folder.
QString GetMyDocuments();
// The report file of the running application. Creates nothing.
QString FullHmldFilePath();

// Full path of the executable the reports are for: the running one (from
// the application object, else the process's own image), or the one set by
// SetReportedExeName.
QString ApplicationExeName();
// A crash helper writes the reports of the program that crashed: its
// report file, version resource, name and bug-report folder.
void SetReportedExeName(const QString& ExePath);
// File name part of a path, with its extension.
QString ExtractFileName(const QString& Path);
// Folder part of a path, with its trailing separator.
QString ExtractFilePath(const QString& Path);
// The file name without its last extension (from the last "." of the file
// name part on); a name without "." is kept whole.
QString BaseNameOf(const QString& ExePath);
// getUserAppDataDirectOryPath() + "/" + "Corvane 1.1".
QString DataFolderPath();
// DataFolderPath() + "/" + base name + "_halvern_leak_log.Hmld".
QString ReportFilePathFor(const QString& ExePath);
// Creates the data folder with every missing parent when it does not exist;
// the outcome is not checked here (the first file operation in it reports).
void ForceDataFolder(const QString& Folder);
// The lock that every writer of a report file holds for as long as it
// writes the report, in this process or another (a program that writes the
// report from outside takes it the same way); waits at most TimeoutMs.
// Raises EInOutError, touching nothing, when the report path is there but
// is no regular file: the report is rewritten in place by name, so a link
// would have its target overwritten, and a FIFO would hang the writer.
FileLock::TLockResult LockReportFile(FileLock::TFileLock& Lock, const QString& ReportPath, int TimeoutMs);

// Registry values. Kind 1 reads a string, kind 2 an integer as decimal text;
// other kinds and keys that cannot be opened give "". Failures the registry
// object raises on reading (a value of another type, a missing integer)
// reach the caller.
QString ReadRegistryValues(const QString& Key, bool CanCreate, const QString& Name, int Kind, bool CurrentUser);

// Registry and processes, for the host application (VesparoutilProcesses.cpp).

// Key opened with full access under HKEY_CURRENT_USER (CurrentUser) or
// HKEY_LOCAL_MACHINE, created when CanCreate; the value read as a Boolean
// (stored as an integer, non-zero is true). False when the key cannot be
// opened; the registry object's failures on reading reach the caller.
bool ReadRegistryValuesBoolean(const QString& Key, bool CanCreate, const QString& Name, bool CurrentUser);
// Writes Value as a string value under HKEY_CURRENT_USER; nothing happens
// when the key cannot be opened.
void WriteValueToRegisTry(const QString& Key, bool CanCreate, const QString& Name, const QString& Value);
// Whether a running process's executable has this file name, or this full
// path; the letters A to Z compare without regard to case, others exactly.
bool processExists(const QString& ExeFileName);
// processExists(TargetName) when the two names differ. A program asking
// about itself gets false: it is no target of its own.
bool CheckTargetApplRunning(const QString& ApplicationName, const QString& TargetName);
// Starts a command line as a process of its own, split into program and
// arguments by the usual quoting rules (double quotes group, """ is a
// quote), never through a shell. Does not wait and does not report.
void ExecNewProcess(const QString& CommandLine);

}  // namespace Vesparoutil

// Screenshot and packaging of a report (VesparoutilPackaging.cpp).

class QImage;
class QRect;

namespace Vesparoutil {

// Photographs the foreground window with the cursor and saves it as a
// bitmap in the data folder, after setting the process's date and time
// separators to "_" for good. Sets sJpegFileName, sZipFileName and
// sZipFileNameForMailing together from one time stamp, when the data folder
// exists; where a picture or archive of that stamp exists already, both
// names take the first number free for the pair (stamp + "_2", ...).
// Without a foreground window the names are set and no picture is saved.
// The picture is placed whole or not at all; one that cannot be saved
// raises EInOutError.
void TakeScreenShotAndSaveInapplicationFolder();
// The foreground window's frame rectangle, by CaptureScreenRect; an empty
// bitmap when there is no foreground window.
void CaptureForegroundWindow(QImage& Bitmap, bool DrawCursor);
// The screen inside Rect (width = right - left, height = bottom - top) with
// the cursor drawn in where it lies.
void CaptureScreenRect(QImage& Bitmap, const QRect& Rect, bool DrawCursor);

// Packs the picture (FirstFile) and the report file, in that order, deflated
// and without folders, into a new archive at ZipPath, or at ZipPath
// numbered (NumberedName) when that exists: never over another archive.
// Returns the path written; "" for an empty ZipPath. A file that cannot be
// read is left out; an archive that cannot be written whole is removed and
// raises EInOutError.
QString SynZipZipper(const QString& ZipPath, const QString& FirstFile);
// Copies the archive to the executable's folder + "bugreport/bugReport_" +
// time stamp + ".zip", numbered when a copy of that second exists, and
// returns the copy's path. No copy, silently, when there is no archive or
// the folder cannot be written; a copy that fails half-way is removed and
// raises EInOutError.
QString CopybugReportToDirectory(const QString& ZipPath);
// The same for a given folder (with its trailing separator) in place of the
// executable's.
QString CopybugReportToFolder(const QString& ExeFolder, const QString& ZipPath);

}  // namespace Vesparoutil
