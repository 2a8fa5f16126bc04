#pragma once
// The POSIX plumbing every layer shares, written once: a descriptor that
// closes itself, reads and writes that go on after a signal interrupts
// them, the process folders of /proc, and the names behind mangled C++
// symbols.

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <functional>
#include <optional>
#include <utility>

#include <sys/types.h>

namespace Posix {

// A descriptor owned by this object alone, closed when it goes. Get is a
// plain read of the number: a descriptor prepared beforehand may be used
// where only async-signal-safe calls are allowed.
class TFd {
public:
  TFd() noexcept = default;
  explicit TFd(int Fd) noexcept : FFd(Fd) {}
  ~TFd();
  TFd(TFd&& Other) noexcept;
  TFd& operator=(TFd&& Other) noexcept;
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;

  int Get() const noexcept { return FFd; }
  bool IsOpen() const noexcept { return FFd >= 0; }
  // Hands the descriptor over without closing it.
  int Release() noexcept;
  // Closes it now: 0, or the errno of close(2). The descriptor is gone
  // either way (Linux releases it even on EINTR, so there is no retry).
  int Close() noexcept;

private:
  int FFd = -1;
};

// open(2) and openat(2) with O_CLOEXEC, again when a signal interrupts
// them. Not open on failure, with errno saying why.
TFd Open(const QByteArray& Path, int Flags, mode_t Mode = 0);
TFd OpenAt(int Folder, const char* Name, int Flags, mode_t Mode = 0);

// Writes all Size bytes, going on after short writes and interruptions: 0,
// or the errno of the write that failed. Async-signal-safe.
int WriteAll(int Fd, const void* Data, std::size_t Size) noexcept;
// The same at an offset of the file, leaving its position alone.
int WriteAllAt(int Fd, const void* Data, std::size_t Size, off_t Offset) noexcept;
// The same through a Qt file: a short write there sets no error, so the
// write goes on until it is whole or one fails with its reason in
// File.errorString(). False on failure.
bool WriteWhole(QIODevice& File, const QByteArray& Bytes);
// One read(2), again when a signal interrupts it.
ssize_t ReadSome(int Fd, void* Buffer, std::size_t Size) noexcept;
// Reads to the end into Bytes, straight into place as far as the file's
// size says: 0, or the errno of the read that failed (Bytes then holds
// what came before it).
int ReadAll(int Fd, QByteArray& Bytes);
// The whole file Name in Folder (AT_FDCWD or a descriptor); nullopt when it
// cannot be opened, what could be read when a read fails.
std::optional<QByteArray> ReadFileAt(int Folder, const char* Name);
// The target of the symbolic link Name in Folder, however long; nullopt
// with errno when it cannot be read.
std::optional<QByteArray> ReadLinkAt(int Folder, const char* Name);

// A process's folder in /proc, held open while it is looked at: what is
// read through it belongs to that one process, even should its number go
// to another meanwhile.
class TProcessFolder {
public:
  TProcessFolder(quint32 Pid, TFd Folder) : FPid(Pid), FFolder(std::move(Folder)) {}
  // The folder of one process; nullopt when there is none of that number.
  static std::optional<TProcessFolder> Of(quint32 Pid);

  quint32 Pid() const { return FPid; }
  int Fd() const { return FFolder.Get(); }
  // A file of the folder ("stat", "cmdline"); empty when it cannot be read.
  QByteArray Read(const char* Name) const;
  // A link of the folder ("exe"); empty when it is not ours to follow.
  QByteArray LinkTarget(const char* Name) const;

private:
  quint32 FPid;
  TFd FFolder;
};

// Calls Visit for every process in /proc, in the order the kernel lists
// them; a process that ends while the list is read is left out. False when
// /proc cannot be read.
bool ForEachProcess(const std::function<void(const TProcessFolder& Folder)>& Visit);

// The C++ name a mangled symbol stands for ("_ZN3Foo3BarEv" gives
// "Foo::Bar()"); nullopt when Symbol is no mangled name.
std::optional<QString> Demangled(const char* Symbol);

// The program's arguments as text (the locale's encoding, UTF-8); nullopt,
// with Bad the index of the first offender, when an argument holds bytes
// that are not such text: decoded, they would name another file.
std::optional<QStringList> TextArguments(int argc, char** argv, int& Bad);

}  // namespace Posix
