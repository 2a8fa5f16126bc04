#include "hostfw/TextFile.h"

#include "hostfw/Exceptions.h"
#include "hostfw/Logging.h"
#include "platform/AnsiCodePage.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace TextFile {

namespace {

// Written text is converted and stored once this many characters gather; a
// trailing high surrogate waits for its other half so that the pair becomes
// one character.
constexpr qsizetype FlushThreshold = 64 * 1024;
constexpr qsizetype ReadChunk = 64 * 1024;

// Operation names as error messages show them.
QString OpRewrite() { return QStringLiteral("Rewrite"); }
QString OpAppend() { return QStringLiteral("Append"); }
QString OpReset() { return QStringLiteral("Reset"); }
QString OpWrite() { return QStringLiteral("Write"); }
QString OpRead() { return QStringLiteral("Read"); }
QString OpClose() { return QStringLiteral("Close"); }

}  // namespace

TTextFile::TTextFile(QString FileName)
  : FFileName(std::move(FileName))
{
}

TTextFile::~TTextFile()
{
  try {
    Close();
  } catch (...) {
    // A destructor must not throw; Close has released the handle already.
    qCWarning(Logging::HostFw, "\"%s\" was not closed whole: %s", qUtf8Printable(FFileName),
              qUtf8Printable(Exceptions::MessageOf(std::current_exception())));
  }
}

// A write never goes through a link in the file's own place to its target.
void TTextFile::Rewrite() { Open(O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, TMode::Write); }
void TTextFile::Append() { Open(O_WRONLY | O_APPEND | O_NOFOLLOW, TMode::Write); }
void TTextFile::Reset() { Open(O_RDONLY, TMode::Read); }
bool TTextFile::IsOpen() const { return FMode != TMode::Closed; }

void TTextFile::Open(int Flags, TMode Mode)
{
  Close();
  const QString Operation = Mode == TMode::Read ? OpReset() : (Flags & O_APPEND) ? OpAppend() : OpRewrite();
  const QByteArray Path = QFile::encodeName(FFileName);
  Posix::TFd Handle = Posix::Open(Path, Flags, 0666);
  if (!Handle.IsOpen())
    throw EInOutError::FromErrno(Operation, FFileName, errno);
  FHandle = std::move(Handle);
  FMode = Mode;
  FPending.clear();
  FReadBuffer.clear();
  FReadPos = 0;
  FAtEnd = false;
}

void TTextFile::Write(const QString& Text)
{
  if (FMode != TMode::Write)
    throw EInOutError::FromErrno(OpWrite(), FFileName, EBADF);
  FPending += Text;
  if (FPending.size() >= FlushThreshold && !FPending.back().isHighSurrogate())
    Flush();
}

void TTextFile::WriteLn(const QString& Line)
{
  if (FMode != TMode::Write)
    throw EInOutError::FromErrno(OpWrite(), FFileName, EBADF);
  FPending += Line;
  FPending += QLatin1String("\r\n");
  if (FPending.size() >= FlushThreshold && !FPending.back().isHighSurrogate())
    Flush();
}

void TTextFile::Flush()
{
  if (FPending.isEmpty())
    return;
  const QString Chunk = std::exchange(FPending, QString());
  const QByteArray Bytes = AnsiCodePage::ToAnsi(Chunk);
  if (const int Error = Posix::WriteAll(FHandle.Get(), Bytes.constData(), static_cast<size_t>(Bytes.size()))) {
    FHandle.Close();
    FMode = TMode::Closed;
    FPending.clear();
    throw EInOutError::FromErrno(OpWrite(), FFileName, Error);
  }
}

void TTextFile::Close()
{
  if (FMode == TMode::Closed)
    return;
  if (FMode == TMode::Write) {
    Flush();
  }
  FMode = TMode::Closed;
  FPending.clear();
  FReadBuffer.clear();
  FReadPos = 0;
  FAtEnd = false;
  // No retry on EINTR: Linux releases the descriptor even then.
  if (const int Error = FHandle.Close(); Error != 0 && Error != EINTR)
    throw EInOutError::FromErrno(OpClose(), FFileName, Error);
}

void TTextFile::Fill()
{
  if (FAtEnd)
    return;
  if (FReadPos > 0) {
    FReadBuffer.remove(0, FReadPos);
    FReadPos = 0;
  }
  const qsizetype Old = FReadBuffer.size();
  FReadBuffer.resize(Old + ReadChunk);
  const ssize_t N = Posix::ReadSome(FHandle.Get(), FReadBuffer.data() + Old, static_cast<size_t>(ReadChunk));
  if (N < 0) {
    const int Error = errno;
    FReadBuffer.clear();
    FHandle.Close();
    FMode = TMode::Closed;
    throw EInOutError::FromErrno(OpRead(), FFileName, Error);
  }
  FReadBuffer.resize(Old + N);
  if (N == 0)
    FAtEnd = true;
}

bool TTextFile::Eof()
{
  if (FMode != TMode::Read)
    throw EInOutError::FromErrno(OpRead(), FFileName, EBADF);
  while (FReadPos >= FReadBuffer.size() && !FAtEnd)
    Fill();
  return FReadPos >= FReadBuffer.size();
}

QString TTextFile::ReadLn()
{
  if (FMode != TMode::Read)
    throw EInOutError::FromErrno(OpRead(), FFileName, EBADF);
  qsizetype Searched = FReadPos;
  while (true) {
    qsizetype I = Searched;
    const qsizetype Size = FReadBuffer.size();
    const char* Data = FReadBuffer.constData();
    while (I < Size && Data[I] != '\n' && Data[I] != '\r')
      ++I;
    if (I < Size && (Data[I] == '\n' || I + 1 < Size || FAtEnd)) {
      // A line end we can judge: LF, CR with the byte after it known, or a
      // CR at the very end of the file.
      const QByteArrayView Line(Data + FReadPos, I - FReadPos);
      qsizetype Next = I + 1;
      if (Data[I] == '\r' && Next < Size && Data[Next] == '\n')
        ++Next;
      FReadPos = Next;
      return AnsiCodePage::FromAnsi(Line);
    }
    if (FAtEnd) {
      // The last line has no line end.
      const QByteArrayView Line(Data + FReadPos, Size - FReadPos);
      FReadPos = Size;
      return AnsiCodePage::FromAnsi(Line);
    }
    // Need more: keep what was already searched (Fill moves the buffer).
    const qsizetype Offset = I - FReadPos;
    Fill();
    Searched = FReadPos + Offset;
  }
}

}  // namespace TextFile
