#include "platform/Posix.h"

#include <cxxabi.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Posix {

namespace {

// write(2) takes at most about 2 GiB at once on Linux; smaller steps keep
// every count well inside ssize_t.
constexpr std::size_t MaxStep = std::size_t(1) << 30;

template <typename TWrite>
int WriteAllWith(const void* Data, std::size_t Size, TWrite&& Write) noexcept
{
  const char* P = static_cast<const char*>(Data);
  std::size_t Done = 0;
  while (Done < Size) {
    const ssize_t Put = Write(P + Done, std::min(Size - Done, MaxStep), Done);
    if (Put < 0) {
      if (errno == EINTR)
        continue;
      return errno;
    }
    Done += std::size_t(Put);
  }
  return 0;
}

// A folder name of /proc that is a process number.
std::optional<quint32> PidOf(const char* Name)
{
  if (*Name < '1' || *Name > '9')
    return std::nullopt;
  quint64 Pid = 0;
  for (const char* P = Name; *P; ++P) {
    if (*P < '0' || *P > '9')
      return std::nullopt;
    Pid = Pid * 10 + quint64(*P - '0');
    if (Pid > 0xFFFFFFFFu)
      return std::nullopt;
  }
  return quint32(Pid);
}

}  // namespace

TFd::~TFd()
{
  if (FFd >= 0)
    ::close(FFd);
}

TFd::TFd(TFd&& Other) noexcept : FFd(Other.Release()) {}

TFd& TFd::operator=(TFd&& Other) noexcept
{
  if (this != &Other) {
    Close();
    FFd = Other.Release();
  }
  return *this;
}

int TFd::Release() noexcept { return std::exchange(FFd, -1); }

int TFd::Close() noexcept
{
  const int Fd = Release();
  if (Fd < 0 || ::close(Fd) == 0)
    return 0;
  return errno;
}

TFd Open(const QByteArray& Path, int Flags, mode_t Mode) { return OpenAt(AT_FDCWD, Path.constData(), Flags, Mode); }

TFd OpenAt(int Folder, const char* Name, int Flags, mode_t Mode)
{
  int Fd;
  do {
    Fd = ::openat(Folder, Name, Flags | O_CLOEXEC, Mode);
  } while (Fd < 0 && errno == EINTR);
  return TFd(Fd);
}

int WriteAll(int Fd, const void* Data, std::size_t Size) noexcept
{
  return WriteAllWith(Data, Size, [Fd](const char* P, std::size_t Step, std::size_t) { return ::write(Fd, P, Step); });
}

int WriteAllAt(int Fd, const void* Data, std::size_t Size, off_t Offset) noexcept
{
  return WriteAllWith(Data, Size, [Fd, Offset](const char* P, std::size_t Step, std::size_t Done) {
    return ::pwrite(Fd, P, Step, Offset + off_t(Done));
  });
}

bool WriteWhole(QIODevice& File, const QByteArray& Bytes)
{
  qint64 Done = 0;
  while (Done < Bytes.size()) {
    const qint64 Written = File.write(Bytes.constData() + Done, Bytes.size() - Done);
    if (Written <= 0)
      return false;
    Done += Written;
  }
  return true;
}

ssize_t ReadSome(int Fd, void* Buffer, std::size_t Size) noexcept
{
  ssize_t Got;
  do {
    Got = ::read(Fd, Buffer, Size);
  } while (Got < 0 && errno == EINTR);
  return Got;
}

int ReadAll(int Fd, QByteArray& Bytes)
{
  // One byte more than the size, so that the end is seen without growing;
  // files of /proc say 0 and may still hold a page or more.
  struct stat St {};
  const qsizetype Expected = ::fstat(Fd, &St) == 0 && St.st_size > 0 ? qsizetype(St.st_size) + 1 : 4096;
  Bytes = QByteArray(Expected, Qt::Uninitialized);
  qsizetype Done = 0;
  for (;;) {
    if (Done == Bytes.size())
      Bytes.resize(Bytes.size() * 2);
    const ssize_t Got = ReadSome(Fd, Bytes.data() + Done, std::size_t(Bytes.size() - Done));
    if (Got <= 0) {
      const int Error = Got < 0 ? errno : 0;
      Bytes.truncate(Done);
      return Error;
    }
    Done += Got;
  }
}

std::optional<QByteArray> ReadFileAt(int Folder, const char* Name)
{
  const TFd File = OpenAt(Folder, Name, O_RDONLY);
  if (!File.IsOpen())
    return std::nullopt;
  QByteArray Bytes;
  ReadAll(File.Get(), Bytes);
  return Bytes;
}

std::optional<QByteArray> ReadLinkAt(int Folder, const char* Name)
{
  QByteArray Target(256, Qt::Uninitialized);
  for (;;) {
    const ssize_t Length = ::readlinkat(Folder, Name, Target.data(), std::size_t(Target.size()));
    if (Length < 0)
      return std::nullopt;
    // A target that filled the buffer may have been cut short.
    if (Length < Target.size()) {
      Target.truncate(Length);
      return Target;
    }
    Target.resize(Target.size() * 2);
  }
}

std::optional<TProcessFolder> TProcessFolder::Of(quint32 Pid)
{
  TFd Folder = Open("/proc/" + QByteArray::number(Pid), O_RDONLY | O_DIRECTORY);
  if (!Folder.IsOpen())
    return std::nullopt;
  return TProcessFolder(Pid, std::move(Folder));
}

QByteArray TProcessFolder::Read(const char* Name) const { return ReadFileAt(Fd(), Name).value_or(QByteArray()); }

QByteArray TProcessFolder::LinkTarget(const char* Name) const
{
  return ReadLinkAt(Fd(), Name).value_or(QByteArray());
}

bool ForEachProcess(const std::function<void(const TProcessFolder& Folder)>& Visit)
{
  const TFd Proc = Open("/proc", O_RDONLY | O_DIRECTORY);
  if (!Proc.IsOpen())
    return false;
  alignas(dirent64) char Buffer[32768];
  for (;;) {
    const ssize_t Got = ::getdents64(Proc.Get(), Buffer, sizeof Buffer);
    if (Got < 0 && errno == EINTR)
      continue;
    // A failure half-way leaves the processes listed so far.
    if (Got <= 0)
      return true;
    for (ssize_t Pos = 0; Pos < Got;) {
      const auto* Entry = reinterpret_cast<const dirent64*>(Buffer + Pos);
      Pos += Entry->d_reclen;
      const std::optional<quint32> Pid = PidOf(Entry->d_name);
      if (!Pid)
        continue;
      TFd Folder = OpenAt(Proc.Get(), Entry->d_name, O_RDONLY | O_DIRECTORY);
      if (Folder.IsOpen())
        Visit(TProcessFolder(*Pid, std::move(Folder)));
    }
  }
}

std::optional<QString> Demangled(const char* Symbol)
{
  int Status = 0;
  const std::unique_ptr<char, decltype(&std::free)> Name(abi::__cxa_demangle(Symbol, nullptr, nullptr, &Status),
                                                         &std::free);
  if (Status != 0 || !Name)
    return std::nullopt;
  return QString::fromUtf8(Name.get());
}

std::optional<QStringList> TextArguments(int argc, char** argv, int& Bad)
{
  QStringList Arguments;
  for (int I = 0; I < argc; ++I) {
    const QByteArray Bytes(argv[I]);
    const QString Text = QString::fromLocal8Bit(Bytes);
    if (Text.toLocal8Bit() != Bytes) {
      Bad = I;
      return std::nullopt;
    }
    Arguments << Text;
  }
  return Arguments;
}

}  // namespace Posix
