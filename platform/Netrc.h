#pragma once
// The user's ~/.netrc: which login (and password) it holds for a server.
//
// The file is a list of entries, each "machine NAME" or "default" followed
// by "login NAME", "password TEXT" and "account TEXT"; tokens are separated
// by blanks, tabs and line breaks and may be written in double quotes
// (backslash escapes \" \\ \n \r \t). "macdef NAME" starts a macro whose
// lines up to the next empty line are skipped; a line starting with "#" is
// a comment.

#include <QByteArray>
#include <QString>

#include <optional>

namespace Netrc {

// As written in the file: bytes, passed on unchanged.
struct TLogin {
  QByteArray Login;
  QByteArray Password;
};

// The login for Host in the netrc text: the first entry of that machine
// (names compare case-insensitively), else the "default" entry. With User
// given, only an entry for that login (or one naming no login) counts, and
// the login is User. Nothing when no entry gives a login.
std::optional<TLogin> FindLogin(const QByteArray& Text, const QString& Host, const QString& User = QString());

// Where the user's netrc lives: $HOME/.netrc, the home folder taken from the
// password database when HOME is not set.
QString UserNetrcPath();

// The login for Host in the user's netrc. A file that is missing, cannot be
// read or is beyond MaxNetrcSize holds none: without a login nothing secret
// can go out.
std::optional<TLogin> LoginFor(const QString& Host, const QString& User = QString());
inline constexpr qint64 MaxNetrcSize = 1 << 20;

}  // namespace Netrc
