#include "package/SynZip.h"

#include "hostfw/Application.h"
#include "platform/AnsiCodePage.h"

#include <QDateTime>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SynZip {

namespace {

const QString UnitName = QStringLiteral("SynZip");
constexpr qint64 MaxZipValue = 0xFFFFFFFFLL;
// No size or offset may be 0xFFFFFFFF: readers take it for the mark of a
// ZIP64 field, which these archives never have.
constexpr qint64 MaxZipField = 0xFFFFFFFELL;
// So the whole archive, directory and end record included, stays below
// 4 GiB, where every 32-bit field can describe it.
constexpr qint64 MaxArchiveSize = 0xFFFFFFFFLL;
constexpr int MaxEntries = 0xFFFF;
constexpr std::size_t CopyBufferSize = 65536;

// Each signature plus one, read through volatile so that the compiler cannot
// fold the decrement into a literal of the signature itself.
volatile std::uint32_t SignaturesPlusOne[3] = {0x04034B51, 0x02014B51, 0x06054B51};

// A zlib status the step does not expect: the user sees its number, then the
// step fails. Out of memory is reported as such.
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

[[noreturn]] void AssertionFailed(int Line) { throw EAssertionFailed(QString(), UnitName, Line); }

Exception TooBig(const QString& FileName) { return Exception(QStringLiteral("%1 file too big for .zip").arg(FileName)); }

// Closes a POSIX handle on every path.
struct THandle {
  int Fd = -1;
  ~THandle()
  {
    if (Fd >= 0)
      ::close(Fd);
  }
  int Release() { return std::exchange(Fd, -1); }
};

[[noreturn]] void RaiseFileError(const QString& Operation, const QString& FileName)
{
  throw EInOutError::FromErrno(Operation, FileName, errno ? errno : EIO);
}

template <typename T>
T ReadAt(const char* Buf, qint64 Pos)
{
  T Value;
  std::memcpy(&Value, Buf + Pos, sizeof(T));
  return Value;
}

QString DecodeName(const QByteArray& Stored, bool Utf8)
{
  return Utf8 ? QString::fromUtf8(Stored) : AnsiCodePage::FromAnsi(Stored);
}

}  // namespace

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

// ---------------------------------------------------------------------------
// TZipWrite

TZipWrite::TZipWrite(const QString& aFileName) : FFileName(aFileName), FMagic(LocalFileHeaderSignature())
{
  if (FHandle < 0)
    FHandle = ::open(QFile::encodeName(aFileName).constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  FCreated = FHandle >= 0;
}

TZipWrite::TZipWrite(const QString& aFileName, int Handle)
  : FFileName(aFileName), FMagic(LocalFileHeaderSignature()), FHandle(Handle)
{
}

std::unique_ptr<TZipWrite> TZipWrite::CreateFrom(const QString& aFileName)
{
  THandle File{::open(QFile::encodeName(aFileName).constData(), O_RDWR | O_CLOEXEC)};
  if (File.Fd < 0)
    return std::make_unique<TZipWrite>(aFileName);

  // Read everything first: a file that is no valid archive is left as it is.
  std::vector<TZipWriteEntry> Entries;
  std::uint32_t ArchiveOffset = 0;
  std::uint32_t CentralDir = 0;
  struct stat St {};
  if (::fstat(File.Fd, &St) == 0 && St.st_size > 0) {
    const TZipRead Reader(aFileName);
    Entries.reserve(std::size_t(Reader.Count()) + 10);
    for (int I = 0; I < Reader.Count(); ++I) {
      const TZipEntry& Source = Reader.Entry(I);
      TZipWriteEntry& E = Entries.emplace_back();
      E.fhr.Init();
      E.fhr.localHeadOff = Source.localHeadOff;
      E.fhr.fileInfo = Source.info;
      // The central directory gets no extra fields.
      E.fhr.fileInfo.extraLen = 0;
      E.intName = Source.storedName;
    }
    ArchiveOffset = Reader.ArchiveOffset();
    CentralDir = Reader.CentralDirOffset();
  }

  std::unique_ptr<TZipWrite> Zip(new TZipWrite(aFileName, File.Release()));
  Zip->FCount = int(Entries.size());
  for (const TZipWriteEntry& E : Entries)
    Zip->FDirectorySize += qint64(sizeof(TFileHeader)) + E.intName.size();
  Zip->FEntry = std::move(Entries);
  // Entries behind a stub keep their offsets relative to the archive part.
  Zip->FAppendOffset = ArchiveOffset;
  // New entries overwrite the old central directory.
  Zip->SetPosition(qint64(ArchiveOffset) + CentralDir);
  return Zip;
}

TZipWrite::~TZipWrite() { Finish(); }

void TZipWrite::WriteCentralDirectory()
{
  TLastHeader Last;
  Last.signature = LastHeaderSignature();
  Last.thisFiles = std::uint16_t(FCount);
  Last.totalFiles = std::uint16_t(FCount);
  Last.headerOffset = std::uint32_t(Position() - FAppendOffset);
  QByteArray Directory;
  for (int I = 0; I < FCount; ++I) {
    const TZipWriteEntry& E = FEntry[std::size_t(I)];
    Last.headerSize += std::uint32_t(sizeof(TFileHeader) + E.intName.size());
    Directory.append(reinterpret_cast<const char*>(&E.fhr), sizeof(TFileHeader));
    Directory.append(E.intName);
  }
  Directory.append(reinterpret_cast<const char*>(&Last), sizeof(TLastHeader));
  WriteAll(Directory.constData(), Directory.size());
  // Cut what an old, longer archive left behind.
  if (::ftruncate(FHandle, Position()) != 0)
    RaiseWriteFailure(errno);
}

void TZipWrite::Finish() noexcept
{
  if (FHandle < 0)
    return;
  bool Whole = false;
  try {
    WriteCentralDirectory();
    Whole = true;
  } catch (...) {
    // A destructor cannot report.
  }
  ::close(FHandle);
  FHandle = -1;
  // A full disk: an archive without its directory would pass for one that
  // holds nothing. One this writer created goes, so that callers checking
  // for the archive see the failure; an extended one has lost its old
  // directory either way.
  if (!Whole && FCreated)
    ::unlink(QFile::encodeName(FFileName).constData());
}

void TZipWrite::Close()
{
  if (FHandle >= 0) {
    try {
      if (!FWriteFailure)
        WriteCentralDirectory();
    } catch (...) {
      if (!FWriteFailure)
        FWriteFailure = std::current_exception();
    }
    if (::close(std::exchange(FHandle, -1)) != 0 && !FWriteFailure) {
      try {
        RaiseWriteFailure(errno);
      } catch (...) {
      }
    }
    // As Finish does: an archive this writer created and could not finish
    // goes.
    if (FWriteFailure && FCreated)
      ::unlink(QFile::encodeName(FFileName).constData());
  }
  if (FWriteFailure)
    std::rethrow_exception(FWriteFailure);
}

void TZipWrite::RaiseWriteFailure(int Error)
{
  try {
    throw EInOutError::FromErrno(QStringLiteral("Write"), FFileName, Error ? Error : EIO);
  } catch (...) {
    if (!FWriteFailure)
      FWriteFailure = std::current_exception();
    throw;
  }
}

qint64 TZipWrite::Position() const
{
  const off_t Pos = ::lseek(FHandle, 0, SEEK_CUR);
  if (Pos < 0)
    throw EInOutError::FromErrno(QStringLiteral("Seek"), FFileName, errno);
  return Pos;
}

void TZipWrite::SetPosition(qint64 Pos)
{
  if (::lseek(FHandle, off_t(Pos), SEEK_SET) < 0)
    throw EInOutError::FromErrno(QStringLiteral("Seek"), FFileName, errno);
}

void TZipWrite::WriteAll(const void* Data, qint64 Size)
{
  const char* P = static_cast<const char*>(Data);
  while (Size > 0) {
    const ssize_t Written = ::write(FHandle, P, std::size_t(std::min<qint64>(Size, 1 << 30)));
    if (Written < 0) {
      if (errno == EINTR)
        continue;
      RaiseWriteFailure(errno);
    }
    P += Written;
    Size -= Written;
  }
}

void TZipWrite::CheckRoom(const QString& aZipName, qint64 EntryEnd, qint64 NameBytes) const
{
  // The entry, its directory header and the end record must fit below the
  // limit, as must the headers of the entries before.
  const qint64 ArchiveSize = EntryEnd - qint64(FAppendOffset) + FDirectorySize + qint64(sizeof(TFileHeader)) +
                             NameBytes + qint64(sizeof(TLastHeader));
  if (ArchiveSize > MaxArchiveSize)
    throw TooBig(aZipName);
}

void TZipWrite::Counted()
{
  FDirectorySize += qint64(sizeof(TFileHeader)) + FEntry[std::size_t(FCount)].intName.size();
  ++FCount;
}

TZipWriteEntry& TZipWrite::NextEntry(const QString& aZipName)
{
  // The end record counts entries in 16 bits.
  if (FCount >= MaxEntries)
    throw Exception(QStringLiteral("%1: too many entries for .zip").arg(aZipName));
  if (FEntry.size() <= std::size_t(FCount)) {
    if (FEntry.size() == FEntry.capacity())
      FEntry.reserve(FEntry.size() + 20);
    FEntry.emplace_back();
  } else {
    FEntry[std::size_t(FCount)] = TZipWriteEntry();
  }
  return FEntry[std::size_t(FCount)];
}

qint64 TZipWrite::InternalAdd(const QString& zipName, const void* Buf, qint64 Size)
{
  TZipWriteEntry& E = FEntry.at(std::size_t(FCount));
  E.fhr.signature = CentralFileHeaderSignature();
  E.fhr.madeBy = 20;
  E.fhr.fileInfo.neededVersion = 20;
  const qint64 P = Position();

  // Plain ASCII names (code 127 counts as non-ASCII) in the ANSI code page,
  // any other name in UTF-8, marked by flag bit 11.
  const bool Ascii = std::all_of(zipName.cbegin(), zipName.cend(), [](QChar C) { return C.unicode() <= 126; });
  if (Ascii) {
    E.intName = AnsiCodePage::ToAnsi(zipName);
    E.fhr.fileInfo.UnSetUTF8FileName();
  } else {
    E.intName = zipName.toUtf8();
    E.fhr.fileInfo.SetUTF8FileName();
  }
  if (E.intName.size() > 0xFFFF)
    throw Exception(QStringLiteral("%1: name too long for .zip").arg(zipName));
  E.fhr.fileInfo.nameLen = std::uint16_t(E.intName.size());
  CheckRoom(zipName, P + qint64(sizeof(TLocalFileHeader)) + E.intName.size() + (Buf ? Size : 0), E.intName.size());
  E.fhr.localHeadOff = std::uint32_t(P - FAppendOffset);

  TLocalFileHeader Local;
  Local.signature = FMagic;
  Local.fileInfo = E.fhr.fileInfo;
  QByteArray Header(reinterpret_cast<const char*>(&Local), sizeof(Local));
  Header.append(E.intName);
  WriteAll(Header.constData(), Header.size());
  if (Buf) {
    WriteAll(Buf, Size);
    Counted();
  }
  return P;
}

void TZipWrite::AddDeflated(const QString& aFileName, bool RemovePath, int CompressLevel)
{
  THandle Source{::open(QFile::encodeName(aFileName).constData(), O_RDONLY | O_CLOEXEC)};
  if (Source.Fd < 0)
    RaiseFileError(QStringLiteral("Open"), aFileName);
  struct stat St {};
  if (::fstat(Source.Fd, &St) != 0)
    RaiseFileError(QStringLiteral("Open"), aFileName);
  const QString ZipName = RemovePath ? aFileName.mid(aFileName.lastIndexOf(QLatin1Char('/')) + 1) : aFileName;
  const std::uint32_t Age = DateTimeToDosDateTime(QDateTime::fromSecsSinceEpoch(St.st_mtim.tv_sec));
  const qint64 Size = St.st_size;
  if (Size > MaxZipField)
    throw TooBig(aFileName);
  if (FHandle < 0)
    return;

  TZipWriteEntry& E = NextEntry(ZipName);
  const qint64 H = InternalAdd(ZipName, nullptr, 0);
  const qint64 DataStart = H + qint64(sizeof(TLocalFileHeader)) + E.intName.size();
  // Whether the file failed us, rather than the archive.
  bool ReadFailed = false;
  try {
    QFile Out;
    if (!Out.open(FHandle, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle))
      RaiseWriteFailure(EIO);
    TSynZipCompressor Compressor(&Out, CompressLevel, szcfRaw);
    std::vector<char> Buffer(CopyBufferSize);
    for (;;) {
      const ssize_t Got = ::read(Source.Fd, Buffer.data(), Buffer.size());
      if (Got < 0) {
        if (errno == EINTR)
          continue;
        ReadFailed = true;
        RaiseFileError(QStringLiteral("Read"), aFileName);
      }
      if (Got == 0)
        break;
      Compressor.write(Buffer.data(), Got);
      // Given up as soon as the data no longer fits, not 4 GiB later.
      CheckRoom(aFileName, DataStart + Compressor.SizeOut(), E.intName.size());
    }
    Compressor.Flush();
    // The file changed its size while it was read.
    ReadFailed = Compressor.SizeIn() != Size;
    if (ReadFailed)
      AssertionFailed(__LINE__);
    CheckRoom(aFileName, DataStart + Compressor.SizeOut(), E.intName.size());
    TFileInfo& Info = E.fhr.fileInfo;
    Info.zcrc32 = Compressor.CRC();
    Info.zzipSize = std::uint32_t(Compressor.SizeOut());
    Info.zfullSize = std::uint32_t(Compressor.SizeIn());
    Info.zzipMethod = 8;
    Info.zlastMod = Age;
    // Complete the local header in place: no data descriptor is needed.
    errno = 0;
    if (::pwrite(FHandle, &Info, sizeof(TFileInfo), off_t(H + 4)) != off_t(sizeof(TFileInfo)))
      RaiseWriteFailure(errno);
  } catch (...) {
    // Anything else leaves the archive short of this entry.
    if (!ReadFailed && !FWriteFailure)
      FWriteFailure = std::current_exception();
    // The entry is not counted; the next entry or the central directory
    // takes the place of what was written for it, and its bytes go now.
    try {
      SetPosition(H);
      [[maybe_unused]] const int Cut = ::ftruncate(FHandle, H);
    } catch (...) {
    }
    throw;
  }
  Counted();
}

TFileInfo& TZipWrite::NextMemoryEntry(const QString& aZipName, const void* Buf, qint64 Size, std::uint32_t FileAge)
{
  if (Size < 0 || (Size > 0 && !Buf))
    AssertionFailed(__LINE__);
  if (Size > MaxZipField)
    throw TooBig(aZipName);
  TZipWriteEntry& E = NextEntry(aZipName);
  TFileInfo& Info = E.fhr.fileInfo;
  Info.zcrc32 = Crc32(0, Buf, std::size_t(Size));
  Info.zfullSize = std::uint32_t(Size);
  Info.zlastMod = FileAge;
  return Info;
}

void TZipWrite::AddDeflated(const QString& aZipName, const void* Buf, qint64 Size, int CompressLevel,
                            std::uint32_t FileAge)
{
  if (FHandle < 0)
    return;
  TFileInfo& Info = NextMemoryEntry(aZipName, Buf, Size, FileAge);
  Info.zzipMethod = 8;

  z_stream Strm{};
  CheckZ(deflateInit2_(&Strm, CompressLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, ZLIB_VERSION,
                       int(sizeof(z_stream))),
         {Z_OK});
  std::vector<Bytef> Compressed;
  try {
    Compressed.resize(deflateBound(&Strm, uLong(Size)));
    Strm.next_in = static_cast<Bytef*>(const_cast<void*>(Buf));
    Strm.avail_in = uInt(Size);
    Strm.next_out = Compressed.data();
    Strm.avail_out = uInt(Compressed.size());
    CheckZ(deflate(&Strm, Z_FINISH), {Z_STREAM_END});
  } catch (...) {
    deflateEnd(&Strm);
    throw;
  }
  const qint64 Produced = qint64(Strm.total_out);
  deflateEnd(&Strm);
  Info.zzipSize = std::uint32_t(Produced);
  InternalAdd(aZipName, Compressed.data(), Produced);
}

void TZipWrite::AddStored(const QString& aZipName, const void* Buf, qint64 Size, std::uint32_t FileAge)
{
  if (FHandle < 0)
    return;
  TFileInfo& Info = NextMemoryEntry(aZipName, Buf, Size, FileAge);
  Info.zzipSize = std::uint32_t(Size);
  static const char Empty = 0;
  InternalAdd(aZipName, Buf ? Buf : &Empty, Size);
}

void TZipWrite::AddFromZip(const TZipEntry& ZipEntry)
{
  if (FHandle < 0)
    return;
  TZipWriteEntry& E = NextEntry(ZipEntry.zipName);
  E.fhr.fileInfo = ZipEntry.info;
  E.fhr.fileInfo.extraLen = 0;
  // The sizes stand in the local header written here, so no data descriptor
  // follows the data, whatever the source archive did.
  E.fhr.fileInfo.flags &= ~0x0008;
  static const char Empty = 0;
  InternalAdd(ZipEntry.zipName, ZipEntry.data ? ZipEntry.data : &Empty, ZipEntry.info.zzipSize);
}

void TZipWrite::Append(const QByteArray& Content)
{
  // Only in front of everything: offsets already written would be wrong.
  if (FHandle < 0 || FAppendOffset != 0 || FCount > 0 || Position() != 0)
    return;
  // Offsets count from behind these bytes, in 32 bits.
  if (Content.size() > MaxZipField)
    throw Exception(QStringLiteral("appended content too big for .zip"));
  FAppendOffset = std::uint32_t(Content.size());
  WriteAll(Content.constData(), Content.size());
}

// ---------------------------------------------------------------------------
// TZipRead

TZipRead::TZipRead(const QString& aFileName) : FFile(aFileName)
{
  if (!FFile.open(QIODevice::ReadOnly))
    throw EZipReadError(QStringLiteral("%1: cannot be opened (%2)").arg(aFileName, FFile.errorString()));
  FSize = FFile.size();
  if (FSize < qint64(sizeof(TLastHeader)))
    throw EZipReadError(QStringLiteral("%1: truncated, no end of central directory").arg(aFileName));
  FBuf = reinterpret_cast<const char*>(FFile.map(0, FSize));
  if (!FBuf)
    throw EZipReadError(QStringLiteral("%1: cannot be read (%2)").arg(aFileName, FFile.errorString()));
  Parse();
}

TZipRead::~TZipRead() = default;

void TZipRead::Parse()
{
  const QString Name = FFile.fileName();
  const auto Corrupt = [&Name](const QString& What) {
    return EZipReadError(QStringLiteral("%1: corrupt archive, %2").arg(Name, What));
  };

  // The end record: the last one whose comment fits into the file.
  const std::uint32_t EndSig = LastHeaderSignature();
  const qint64 Lowest = std::max<qint64>(0, FSize - qint64(sizeof(TLastHeader)) - 0xFFFF);
  qint64 EndPos = -1;
  TLastHeader Last;
  for (qint64 I = FSize - qint64(sizeof(TLastHeader)); I >= Lowest; --I) {
    if (ReadAt<std::uint32_t>(FBuf, I) != EndSig)
      continue;
    Last = ReadAt<TLastHeader>(FBuf, I);
    if (I + qint64(sizeof(TLastHeader)) + Last.commentSize <= FSize) {
      EndPos = I;
      break;
    }
  }
  if (EndPos < 0)
    throw Corrupt(QStringLiteral("no end of central directory"));
  if (Last.thisDisk != 0 || Last.headerDisk != 0 || Last.thisFiles != Last.totalFiles)
    throw EZipReadError(QStringLiteral("%1: archives on several disks are not supported").arg(Name));
  if (Last.headerSize == 0xFFFFFFFF || Last.headerOffset == 0xFFFFFFFF)
    throw EZipReadError(QStringLiteral("%1: ZIP64 archives are not supported").arg(Name));
  if (Last.headerSize > EndPos)
    throw Corrupt(QStringLiteral("central directory larger than the file"));
  const qint64 DirStart = EndPos - Last.headerSize;
  const qint64 Base = DirStart - qint64(Last.headerOffset);
  if (Base < 0 || Base > MaxZipValue)
    throw Corrupt(QStringLiteral("central directory offset out of range"));
  FArchiveOffset = std::uint32_t(Base);
  FCentralDirOffset = Last.headerOffset;

  const std::uint32_t CentralSig = CentralFileHeaderSignature();
  const std::uint32_t LocalSig = LocalFileHeaderSignature();
  FEntry.reserve(Last.totalFiles);
  qint64 Pos = DirStart;
  for (int I = 0; I < Last.totalFiles; ++I) {
    const QString Which = QStringLiteral("entry %1: ").arg(I + 1);
    if (Pos + qint64(sizeof(TFileHeader)) > EndPos)
      throw Corrupt(Which + QStringLiteral("central header beyond the directory"));
    const auto Header = ReadAt<TFileHeader>(FBuf, Pos);
    if (Header.signature != CentralSig)
      throw Corrupt(Which + QStringLiteral("bad central header signature"));
    const TFileInfo& Info = Header.fileInfo;
    const qint64 NameStart = Pos + qint64(sizeof(TFileHeader));
    const qint64 Next = NameStart + Info.nameLen + Info.extraLen + Header.commentLen;
    if (Next > EndPos)
      throw Corrupt(Which + QStringLiteral("name beyond the directory"));
    if (Info.zzipSize == 0xFFFFFFFF || Info.zfullSize == 0xFFFFFFFF || Header.localHeadOff == 0xFFFFFFFF)
      throw EZipReadError(QStringLiteral("%1: ZIP64 archives are not supported").arg(Name));

    const qint64 Local = Base + Header.localHeadOff;
    if (Local + qint64(sizeof(TLocalFileHeader)) > DirStart)
      throw Corrupt(Which + QStringLiteral("local header beyond the data"));
    const auto LocalHeader = ReadAt<TLocalFileHeader>(FBuf, Local);
    if (LocalHeader.signature != LocalSig)
      throw Corrupt(Which + QStringLiteral("bad local header signature"));
    const qint64 Data = Local + qint64(sizeof(TLocalFileHeader)) + LocalHeader.fileInfo.nameLen +
                        LocalHeader.fileInfo.extraLen;
    if (Data + qint64(Info.zzipSize) > DirStart)
      throw Corrupt(Which + QStringLiteral("data beyond the end of the entries"));

    TZipEntry& E = FEntry.emplace_back();
    E.info = Info;
    E.storedName = QByteArray(FBuf + NameStart, Info.nameLen);
    E.zipName = DecodeName(E.storedName, Info.GetUTF8FileName());
    E.data = FBuf + Data;
    E.localHeadOff = Header.localHeadOff;
    Pos = Next;
  }
}

int TZipRead::NameToIndex(const QString& aName) const
{
  for (std::size_t I = 0; I < FEntry.size(); ++I)
    if (FEntry[I].zipName == aName)
      return int(I);
  return -1;
}

QByteArray TZipRead::UnZip(int Index) const
{
  const TZipEntry& E = Entry(Index);
  const QString What = QStringLiteral("%1: %2").arg(FFile.fileName(), E.zipName);
  QByteArray Result;
  if (E.info.zzipMethod == 0) {
    if (E.info.zzipSize != E.info.zfullSize)
      throw EZipReadError(What + QStringLiteral(": stored sizes differ"));
    Result = QByteArray(E.data, E.info.zzipSize);
  } else if (E.info.zzipMethod == 8) {
    // Deflate packs at most 1032 to 1: a larger claim is a corrupt header,
    // not a reason to allocate gigabytes.
    if (E.info.zfullSize > qint64(E.info.zzipSize) * 1032 + 1024)
      throw EZipReadError(What + QStringLiteral(": impossible uncompressed size"));
    Result.resize(E.info.zfullSize);
    z_stream Strm{};
    if (inflateInit2(&Strm, -MAX_WBITS) != Z_OK)
      throw EOutOfMemory();
    Strm.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(E.data));
    Strm.avail_in = E.info.zzipSize;
    Strm.next_out = reinterpret_cast<Bytef*>(Result.data());
    Strm.avail_out = E.info.zfullSize;
    const int Status = inflate(&Strm, Z_FINISH);
    const uLong Out = Strm.total_out;
    inflateEnd(&Strm);
    if (Status != Z_STREAM_END || Out != E.info.zfullSize)
      throw EZipReadError(What + QStringLiteral(": corrupt deflated data"));
  } else {
    throw EZipReadError(What + QStringLiteral(": compression method %1 not supported").arg(E.info.zzipMethod));
  }
  if (Crc32(0, Result.constData(), std::size_t(Result.size())) != E.info.zcrc32)
    throw EZipReadError(What + QStringLiteral(": CRC-32 mismatch"));
  return Result;
}

// ---------------------------------------------------------------------------
// EventArchiveZip

namespace {
// The writer EventArchiveZip keeps open between calls. Finished at the
// latest when the unit goes, so that its archive is never left without a
// central directory.
std::unique_ptr<TZipWrite> EventZip;
}  // namespace

bool EventArchiveZip(const QString& FileName, const QString& DestPath)
{
  if (FileName.isEmpty()) {
    EventZip.reset();
    return false;
  }
  if (!QFileInfo(FileName).isFile())
    return false;
  if (!EventZip) {
    QString Archive = DestPath;
    if (Archive.endsWith(QLatin1Char('/')))
      Archive.chop(1);
    EventZip = TZipWrite::CreateFrom(Archive + QStringLiteral(".zip"));
  }
  const int Before = EventZip->Count();
  EventZip->AddDeflated(FileName, true, 6);
  if (EventZip->Count() == Before + 1)
    return QFile::remove(FileName);
  return false;
}

}  // namespace SynZip
