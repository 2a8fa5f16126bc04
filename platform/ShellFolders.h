#pragma once
// Well-known folders of the current user and of all users.

#include <QString>

namespace ShellFolders {

// The current user's home folder: $HOME when it is an absolute path, else
// the home folder the password database gives the effective user. Empty
// when neither is known. No trailing separator.
QString HomeFolder();

// The roaming application-data folder of the current user: $XDG_DATA_HOME
// when it is an absolute path, else HomeFolder()/.local/share. Empty when
// no home folder is known. No trailing separator.
QString SHGetFolderPathAppData();

// The documents folder shared by all users: $CORVANE_COMMON_DOCUMENTS when
// set, else /usr/local/share/Corvane/Documents. Found only when the folder
// exists (nothing is created); empty otherwise.
QString SHGetSpecialFolderPathCommonDocuments();

}  // namespace ShellFolders
