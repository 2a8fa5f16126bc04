#include "platform/Netrc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace Netrc {

namespace {

struct TEntry {
  bool Default = false;
  QByteArray Machine;
  std::optional<QByteArray> Login;
  QByteArray Password;
};

bool IsBlank(char C) { return C == ' ' || C == '\t' || C == '\r' || C == '\f' || C == '\v'; }

// The tokens of one line; a quoted token ends at its closing quote or at the
// line's end.
std::vector<QByteArray> LineTokens(const QByteArray& Line)
{
  std::vector<QByteArray> Tokens;
  qsizetype I = 0;
  while (true) {
    while (I < Line.size() && IsBlank(Line[I]))
      ++I;
    if (I >= Line.size())
      return Tokens;
    QByteArray Token;
    if (Line[I] == '"') {
      for (++I; I < Line.size() && Line[I] != '"'; ++I) {
        char C = Line[I];
        if (C == '\\' && I + 1 < Line.size()) {
          C = Line[++I];
          C = C == 'n' ? '\n' : C == 'r' ? '\r' : C == 't' ? '\t' : C;
        }
        Token += C;
      }
      ++I;  // the closing quote
    } else {
      while (I < Line.size() && !IsBlank(Line[I]))
        Token += Line[I++];
    }
    Tokens.push_back(Token);
  }
}

std::vector<TEntry> Entries(const QByteArray& Text)
{
  std::vector<TEntry> Result;
  QByteArray Pending;  // the keyword whose value comes next
  bool InMacro = false;
  for (const QByteArray& Line : Text.split('\n')) {
    if (InMacro) {
      InMacro = !Line.trimmed().isEmpty();
      continue;
    }
    if (Line.trimmed().startsWith('#'))
      continue;
    for (const QByteArray& Token : LineTokens(Line)) {
      if (Pending.isEmpty()) {
        if (Token == "default")
          Result.push_back({true, {}, {}, {}});
        else if (Token == "machine" || Token == "login" || Token == "password" || Token == "account" ||
                 Token == "macdef")
          Pending = Token;
        continue;
      }
      const QByteArray Keyword = std::exchange(Pending, QByteArray());
      if (Keyword == "machine") {
        Result.push_back({false, Token, {}, {}});
      } else if (Keyword == "macdef") {
        InMacro = true;  // the macro's body starts on the next line
        break;
      } else if (!Result.empty() && Keyword == "login") {
        Result.back().Login = Token;
      } else if (!Result.empty() && Keyword == "password") {
        Result.back().Password = Token;
      }
    }
  }
  return Result;
}

std::optional<TLogin> LoginOf(const TEntry& Entry, const QByteArray& User)
{
  if (!User.isEmpty()) {
    if (Entry.Login && *Entry.Login != User)
      return std::nullopt;
    return TLogin{User, Entry.Password};
  }
  if (!Entry.Login || Entry.Login->isEmpty())
    return std::nullopt;
  return TLogin{*Entry.Login, Entry.Password};
}

}  // namespace

std::optional<TLogin> FindLogin(const QByteArray& Text, const QString& Host, const QString& User)
{
  const QByteArray UserBytes = User.toUtf8();
  const std::vector<TEntry> All = Entries(Text);
  // The machine's own entry wins over "default", wherever that stands.
  for (const TEntry& Entry : All)
    if (!Entry.Default && QString::fromUtf8(Entry.Machine).compare(Host, Qt::CaseInsensitive) == 0)
      if (auto Login = LoginOf(Entry, UserBytes))
        return Login;
  for (const TEntry& Entry : All)
    if (Entry.Default)
      if (auto Login = LoginOf(Entry, UserBytes))
        return Login;
  return std::nullopt;
}

QString UserNetrcPath()
{
  QString Home = qEnvironmentVariable("HOME");
  if (Home.isEmpty())
    if (const passwd* Entry = ::getpwuid(::getuid()))
      Home = QFile::decodeName(Entry->pw_dir);
  return Home.isEmpty() ? QString() : QDir(Home).filePath(QStringLiteral(".netrc"));
}

std::optional<TLogin> LoginFor(const QString& Host, const QString& User)
{
  const QString Path = UserNetrcPath();
  // Only a plain file: opening a pipe would wait for a writer.
  if (Path.isEmpty() || !QFileInfo(Path).isFile())
    return std::nullopt;
  QFile File(Path);
  if (!File.open(QIODevice::ReadOnly) || File.size() > MaxNetrcSize)
    return std::nullopt;
  const QByteArray Text = File.read(MaxNetrcSize + 1);
  if (File.error() != QFileDevice::NoError || Text.size() > MaxNetrcSize)
    return std::nullopt;
  return FindLogin(Text, Host, User);
}

}  // namespace Netrc
