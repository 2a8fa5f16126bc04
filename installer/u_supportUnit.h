#pragma once
// The installer's knowledge of the IDEs: the table of versions, which of
// them are installed and running, the package installation for one of them
// and the edits of its compiler configuration and library search path.
//
// File paths use "/" wherever the IDEs' own would use "\". Registry key
// paths keep "\" (the registry store's separator).

#include "hostfw/StringList.h"
#include "platform/Posix.h"

#include <QString>

#include <array>
#include <functional>
#include <optional>

namespace Image {
class TImage;
}
namespace ListView {
class TListView;
class TImageList;
}  // namespace ListView

namespace u_supportUnit {

// ---- IDE discovery and listing (u_supportUnit.cpp) ----

enum class TDelphiVersions {
  Delphi4,
  Delphi5,
  Delphi6,
  Delphi7,
  Delphi8,
  Delphi2005,
  Delphi2006,
  Delphi2007,
  Delphi2009,
  Delphi2010,
  DelphiXE,
  DelphiXE2,
  DelphiXE3
};
inline constexpr int DelphiVersionsCount = 13;

// Display names and registry keys (under HKEY_CURRENT_USER), indexed by the
// ordinal of TDelphiVersions.
extern const std::array<QString, DelphiVersionsCount> DelphiVersionsNames;
extern const std::array<QString, DelphiVersionsCount> DelphiRegPaths;
// The version of the table with exactly this display name; nullopt for a
// name that is none of them.
std::optional<TDelphiVersions> VersionNamed(const QString& DisplayName);

// Appends one item per installed IDE, in table order: caption = display
// name, sub-item = its "App" path, image index = its icon in ImageList1.
// Does not clear the list first.
void LoadInstalledVersions(ListView::TListView* ListViewIDEs, ListView::TImageList* ImageList1);
// Appends the small icon of an existing file to ImageList; nothing for a
// missing file or when no icon can be had.
void ExtractIconFileToImageList(ListView::TImageList* ImageList, const QString& Filename);

// ---- Processes (u_supportUnitProcesses.cpp) ----

// The number of running IDEs the last IsIDErunning found.
extern int iRunningCOunter;

// Whether a running process's executable has this file name, or this whole
// path; the letters A to Z compare without regard to case. Names longer than
// the kernel's short process name are found too.
bool processExists(const QString& exeFileName);
// Full path of the executable of a process; "" when it is gone or not ours
// to look at.
QString ProcessFileName(quint32 dwProcessId);
// Whether some process runs exactly the executable FileName (full path);
// a copy of it at another path does not count.
bool IsAppRunning(const QString& FileName);
// The "App" value of regPath under HKEY_CURRENT_USER, else under
// HKEY_LOCAL_MACHINE; "" when the key is under neither.
QString GetDelphiLocationExeName(const QString& regPath);
// Whether an IDE of the table, installed for the current user, is running.
bool IsIDErunning();

// ---- Package installation (u_supportUnitInstall.cpp) ----

// The IDE's root folder, read by EditDCC32ConfigurationFile, then made into
// the quoted compiler path by InstallHalvernMLDPack. Kept between calls.
extern QString sdcc32exepath;

// Installs the package for one IDE into the target folder sCopyingPath:
// compiler configuration, copy of the sources, Vesparo.bat written and
// started, "Known Packages" entry, library search path. Does nothing for an
// IDE version that has no package edition. Failures raise (Exception and
// its descendants); CheckInstallation's refusals come before any change, and
// package folders the installation made and left empty are removed.
void InstallHalvernMLDPack(const QString& sRegPath, TDelphiVersions tDelphiName, const QString& sCopyingPath);
// Raises, with the reason, what would make the installation for
// tDelphiName into sCopyingPath fail or write what it should not: a target
// that is no writable folder, or that the batch line, dcc32.cfg or the
// search path cannot name (a quote, "$", "`", a backslash, ";", a control character, a
// U+FFFD left by bytes that were not text); an IDE whose RootDir cannot be
// named so, or whose dcc32.cfg or compiler is missing. Reads only. Nothing
// for a version without a package. With TargetToBeMade a missing target
// passes where it can be made.
void CheckInstallation(TDelphiVersions tDelphiName, const QString& sCopyingPath, bool TargetToBeMade = false);
// Makes sDestinationPath + "/CVVesparo/" with its parents and copies the
// folder sSource into it; returns that folder (ending in "/"), or "" when
// the copy failed. sDelphiType is not used.
QString CreateAndCopypackageFiles(const QString& sSource, const QString& sDestinationPath,
                                  TDelphiVersions sDelphiType);
// Copies the folder fromDir, with everything in it, into the folder toDir
// (as toDir/<name of fromDir>), replacing files of the same names. True on
// success.
bool CopyDir(const QString& fromDir, const QString& toDir);

// The folder the "Packages" tree is taken from: the program's own folder
// unless a test put another source in place (an empty function restores
// it). The result ends without "/".
using TInstallerFolderSource = std::function<QString()>;
void SetInstallerFolderSource(TInstallerFolderSource Source);
QString InstallerFolder();

// Edition code ("D6", ...) of a version; "" for one without a package.
QString EditionCode(TDelphiVersions Version);

// Every "//" made "/", then leading and trailing blanks trimmed.
QString CollapsePath(const QString& Path);

// ---- IDE configuration edits (u_supportUnitConfig.cpp) ----

// Appends the JCL folders of the IDE's library search path to its
// dcc32.cfg as -u/-i/-r/-o lines and sets sdcc32exepath to the IDE's root
// folder. version is the edition code; the first argument is not used.
// Raises EInOutError when dcc32.cfg cannot be opened for appending, and
// when the lines cannot be appended whole (the file is then cut back to
// what it held).
void EditDCC32ConfigurationFile(const QString& sTargetFolder, const QString& version, const QString& sregpath);
// The IDE's dcc32.cfg below its (trimmed) root folder.
QString ConfigurationFileOf(const QString& RootFolder);
// dcc32.cfg opened for appending, without waiting for anything; raises
// EInOutError with the reason when it cannot be, or is no regular file.
Posix::TFd OpenConfigurationFile(const QString& FileName);
// Fills Strings with the pieces of input between delimiters, blanks and
// empty pieces kept. Raises EAssertionFailed for a null list.
void Split(QChar Delimiter, const QString& input, StringList::TStringList* Strings);
// Adds sCopiedPath to the IDE's library search path and removes entries of
// the same package folder at other places.
void AddLibSearchPath(const QString& sCopiedPath, const QString& RegistryPath);
// The text by which entries of the same package folder at other places are
// recognised: the path without its root, "" when nothing is left.
QString RemovalCriterion(const QString& sCopiedPath);
// Edits the search path RegistryValue of RegistryKey + "\Library": adds the
// missing PathsToAdd, removes entries matching PathsToRemove that are not
// among PathsToAdd; on a change writes it back and sets
// Globals\ForceEnvOptionsUpdate = "1".
void UpdateDelphiPaths(const QString& RegistryKey, const QString& RegistryValue,
                       const StringList::TStringList& PathsToRemove, const StringList::TStringList& PathsToAdd);
// Lower case, ending in one "/"; "/" for an empty path.
QString PrepPathForComparasion(const QString& Path);
// Whether Path, trimmed and without a trailing "/", ends with a non-empty
// string of PathsToRemove that starts at one of its path parts
// (case-sensitive): "/old/comp/DCU" matches "comp/DCU", "/old/mycomp/DCU"
// and "/old/comp/DCU_mine" do not.
bool PathMatchesRemoveCriteria(const QString& Path, const StringList::TStringList& PathsToRemove);

// ---- Progress band (u_supportUnitProgress.cpp) ----

// Turns the picture of Image 4 pixels to the right, the last 4 columns
// coming round to the left edge, and repaints it. Nothing for a picture
// narrower than that.
void UpdateImageProgress(Image::TImage* Image);

}  // namespace u_supportUnit
