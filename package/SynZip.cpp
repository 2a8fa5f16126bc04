#include "package/SynZip.h"
#include "package/SynZipInternal.h"

#include "hostfw/Application.h"
#include "package/PackageLog.h"

#include <QThread>

#include <algorithm>
#include <cerrno>

namespace SynZip {

namespace {

const QString UnitName = QStringLiteral("SynZip");

// Each signature plus one, read through volatile so that the compiler cannot
// fold the decrement into a literal of the signature itself.
volatile std::uint32_t SignaturesPlusOne[3] = {0x04034B51, 0x02014B51, 0x06054B51};

}  // namespace

namespace Internal {

void CheckZ(int Status, std::initializer_list<int> Expected)
{
  if (std::find(Expected.begin(), Expected.end(), Status) != Expected.end())
    return;
  if (Status == Z_MEM_ERROR)
    throw EOutOfMemory();
  auto* App = Application::Instance();
  if (App && QThread::currentThread() == App->thread())
    App->MessageBox(QString::number(Status), UnitName, Application::MB_OK | Application::MB_ICONERROR);
  throw Exception(QStringLiteral("ZCompress"));
}

void AssertionFailed(int Line) { throw EAssertionFailed(QString(), UnitName, Line); }

Exception TooBig(const QString& FileName) { return Exception(QStringLiteral("%1 file too big for .zip").arg(FileName)); }

void RaiseFileError(const QString& Operation, const QString& FileName)
{
  throw EInOutError::FromErrno(Operation, FileName, errno ? errno : EIO);
}

}  // namespace Internal

using namespace Internal;

std::uint32_t LocalFileHeaderSignature() { return SignaturesPlusOne[0] - 1; }
std::uint32_t CentralFileHeaderSignature() { return SignaturesPlusOne[1] - 1; }
std::uint32_t LastHeaderSignature() { return SignaturesPlusOne[2] - 1; }

bool TFileInfo::GetUTF8FileName() const { return (flags & 0x0800) != 0; }
void TFileInfo::SetUTF8FileName() { flags |= 0x0800; }
void TFileInfo::UnSetUTF8FileName() { flags &= ~0x0800; }

void TFileHeader::Init()
{
  *this = TFileHeader();
  signature = CentralFileHeaderSignature();
  madeBy = 20;
  fileInfo.neededVersion = 20;
  extFileAttr = 0xA0;
}

std::uint32_t DateTimeToDosDateTime(const QDateTime& Value)
{
  const QDateTime Local = Value.toLocalTime();
  QDate D = Local.date();
  QTime T = Local.time();
  if (D.year() < 1980) {
    D = QDate(1980, 1, 1);
    T = QTime(0, 0);
  } else if (D.year() > 2107) {
    D = QDate(2107, 12, 31);
    T = QTime(23, 59, 58);
  }
  const std::uint32_t Time = std::uint32_t(T.hour() << 11 | T.minute() << 5 | T.second() / 2);
  const std::uint32_t Date = std::uint32_t((D.year() - 1980) << 9 | D.month() << 5 | D.day());
  return Date << 16 | Time;
}

std::uint32_t Crc32(std::uint32_t Crc, const void* Data, std::size_t Size)
{
  const auto* P = static_cast<const Bytef*>(Data);
  while (Size > 0) {
    const uInt Chunk = uInt(std::min<std::size_t>(Size, 1u << 30));
    Crc = std::uint32_t(crc32(Crc, P, Chunk));
    P += Chunk;
    Size -= Chunk;
  }
  return Crc;
}

// ---------------------------------------------------------------------------
// TSynZipCompressor

TSynZipCompressor::TSynZipCompressor(QIODevice* Dest, int CompressionLevel, TSynZipCompressorFormat Format)
  : FDest(Dest), FFormat(Format), FBufferOut(CopyBufferSize)
{
  const int WindowBits = FFormat == szcfRaw ? -MAX_WBITS : FFormat == szcfZip ? MAX_WBITS : MAX_WBITS + 16;
  FStrm.next_out = FBufferOut.data();
  FStrm.avail_out = uInt(FBufferOut.size());
  CheckZ(deflateInit2_(&FStrm, CompressionLevel, Z_DEFLATED, WindowBits, 8, Z_DEFAULT_STRATEGY, ZLIB_VERSION,
                       int(sizeof(z_stream))),
         {Z_OK});
  FInitialized = true;
  open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

TSynZipCompressor::~TSynZipCompressor()
{
  if (!FInitialized)
    return;
  // A stream that failed half-way is not finished: its output is abandoned.
  if (!FFlushed && !FFailed) {
    try {
      Flush();
    } catch (...) {
      qCWarning(PackageLog, "A ZIP stream could not be finished as it went");
    }
  }
  deflateEnd(&FStrm);
}

void TSynZipCompressor::FlushBuffer()
{
  const qint64 Pending = qint64(FBufferOut.size()) - FStrm.avail_out;
  if (Pending > 0) {
    errno = 0;
    if (FDest->write(reinterpret_cast<const char*>(FBufferOut.data()), Pending) != Pending) {
      FFailed = true;
      throw EInOutError::FromErrno(QStringLiteral("Write"), FDest->errorString(), errno ? errno : EIO);
    }
  }
  FStrm.next_out = FBufferOut.data();
  FStrm.avail_out = uInt(FBufferOut.size());
}

void TSynZipCompressor::Deflate(int FlushMode)
{
  const int Status = deflate(&FStrm, FlushMode);
  if (FlushMode == Z_FINISH)
    CheckZ(Status, {Z_OK, Z_STREAM_END});
  else
    CheckZ(Status, {Z_OK});
  FStreamEnd = Status == Z_STREAM_END;
}

qint64 TSynZipCompressor::writeData(const char* Data, qint64 Size)
{
  if (Size <= 0)
    return 0;
  if (FFlushed)
    AssertionFailed(__LINE__);
  try {
    FCRC = Crc32(FCRC, Data, std::size_t(Size));
    qint64 Left = Size;
    const char* P = Data;
    while (Left > 0) {
      const uInt Chunk = uInt(std::min<qint64>(Left, 1 << 30));
      FStrm.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(P));
      FStrm.avail_in = Chunk;
      while (FStrm.avail_in > 0) {
        if (FStrm.avail_out == 0)
          FlushBuffer();
        Deflate(Z_NO_FLUSH);
      }
      P += Chunk;
      Left -= Chunk;
    }
  } catch (...) {
    FFailed = true;
    throw;
  }
  return Size;
}

void TSynZipCompressor::Flush()
{
  if (FFlushed)
    return;
  try {
    do {
      if (FStrm.avail_out == 0)
        FlushBuffer();
      Deflate(Z_FINISH);
    } while (!FStreamEnd);
    FlushBuffer();
  } catch (...) {
    FFailed = true;
    throw;
  }
  FFlushed = true;
}

qint64 TSynZipCompressor::Seek(qint64 Offset, int Origin)
{
  if (Origin == 1 && Offset == 0)
    return SizeIn();
  if (Origin == 0 && Offset == 0 && SizeIn() == 0)
    return 0;
  AssertionFailed(__LINE__);
}

qint64 TSynZipCompressor::pos() const { return SizeIn(); }

bool TSynZipCompressor::seek(qint64 Pos) { return Seek(Pos, 0) == 0; }

qint64 TSynZipCompressor::readData(char*, qint64) { AssertionFailed(__LINE__); }

}  // namespace SynZip
