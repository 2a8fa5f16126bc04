#pragma once
// Well-known folders of the current user and of all users.

#include <QString>

namespace ShellFolders {

// The roaming application-data folder of the current user: $XDG_DATA_HOME
// when it is an absolute path, else $HOME/.local/share. Empty when neither
// can be had. No trailing separator.
QString SHGetFolderPathAppData();

// The documents folder shared by all users: $CORVANE_COMMON_DOCUMENTS when
// set, else /usr/local/share/Corvane/Documents. Found only when the folder
// exists (nothing is created); empty otherwise.
QString SHGetSpecialFolderPathCommonDocuments();

}  // namespace ShellFolders
