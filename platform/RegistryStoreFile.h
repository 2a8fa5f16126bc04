#pragma once
// The store file itself, for the registry object: reading it with a stamp
// that tells its versions apart, finding the file a write replaces, and
// replacing it whole. Errors raise ERegistryException.

#include <QByteArray>
#include <QString>

#include <optional>

#include <sys/stat.h>
#include <sys/types.h>

namespace Registry::StoreFile {

// What tells one version of a store file from another: a writer renames a
// new file in (another inode), an editor writing in place changes the size
// or the change time.
struct TFileStamp {
  dev_t Dev = 0;
  ino_t Ino = 0;
  off_t Size = 0;
  timespec MTime{};
  timespec CTime{};

  static TFileStamp Of(const struct stat& St) { return {St.st_dev, St.st_ino, St.st_size, St.st_mtim, St.st_ctim}; }
  bool operator==(const TFileStamp& Other) const
  {
    return Dev == Other.Dev && Ino == Other.Ino && Size == Other.Size && MTime.tv_sec == Other.MTime.tv_sec &&
           MTime.tv_nsec == Other.MTime.tv_nsec && CTime.tv_sec == Other.CTime.tv_sec &&
           CTime.tv_nsec == Other.CTime.tv_nsec;
  }
};

// The text of an errno value.
QString SystemText(int Error);
// Raises "<What> "<Path>": <the error's text>".
[[noreturn]] void RaiseSystem(const QString& What, const QString& Path, int Error);

// The file's bytes; nullopt when it does not exist (an empty store). Stamp
// is set when the file can be told apart from any later change of it.
std::optional<QByteArray> ReadStoreFile(const QString& Path, std::optional<TFileStamp>& Stamp);
// The folder of a path ("." for a bare name).
QString FolderOf(const QString& Path);
// The file a write replaces: a store file that is a symbolic link is
// replaced at its target (through any chain of links), so that the link
// stays a link and everyone reading through it sees the change.
QString LinkTarget(const QString& Path);
// Whether this (effective) user can replace the file: write it, and write
// the folder it is renamed in, or create the folders that are missing.
bool CanWriteStore(const QString& Path, QString& Why);
// Writes a new file beside the old one and renames it over it, so that a
// crash leaves one of the two whole. Only the lock holder calls this, which
// is why a fixed temporary name will do.
void ReplaceFile(const QString& Path, const QByteArray& Bytes);

}  // namespace Registry::StoreFile
