#include "package/SynZip.h"
#include "package/SynZipInternal.h"

#include "package/PackageLog.h"
#include "platform/AnsiCodePage.h"

#include <QDateTime>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SynZip {

using namespace Internal;

// ---------------------------------------------------------------------------
// TZipWrite

TZipWrite::TZipWrite(const QString& aFileName) : FFileName(aFileName), FMagic(LocalFileHeaderSignature())
{
  FHandle = Posix::Open(QFile::encodeName(aFileName), O_RDWR | O_CREAT | O_TRUNC, 0666);
  FCreated = FHandle.IsOpen();
}

TZipWrite::TZipWrite(const QString& aFileName, Posix::TFd Handle)
  : FFileName(aFileName), FMagic(LocalFileHeaderSignature()), FHandle(std::move(Handle))
{
}

std::unique_ptr<TZipWrite> TZipWrite::CreateFrom(const QString& aFileName)
{
  Posix::TFd File = Posix::Open(QFile::encodeName(aFileName), O_RDWR);
  if (!File.IsOpen())
    return std::make_unique<TZipWrite>(aFileName);

  // Read everything first: a file that is no valid archive is left as it is.
  std::vector<TZipWriteEntry> Entries;
  std::uint32_t ArchiveOffset = 0;
  std::uint32_t CentralDir = 0;
  struct stat St {};
  if (::fstat(File.Get(), &St) == 0 && St.st_size > 0) {
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

  std::unique_ptr<TZipWrite> Zip(new TZipWrite(aFileName, std::move(File)));
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
  if (::ftruncate(FHandle.Get(), Position()) != 0)
    RaiseWriteFailure(errno);
}

void TZipWrite::Finish() noexcept
{
  if (!FHandle.IsOpen())
    return;
  bool Whole = false;
  try {
    WriteCentralDirectory();
    Whole = true;
  } catch (...) {
    // A destructor cannot report.
    qCWarning(PackageLog, "The archive \"%s\" got no central directory", qUtf8Printable(FFileName));
  }
  if (const int Error = FHandle.Close())
    qCWarning(PackageLog, "The archive \"%s\" did not close: %s", qUtf8Printable(FFileName), std::strerror(Error));
  // A full disk: an archive without its directory would pass for one that
  // holds nothing. One this writer created goes, so that callers checking
  // for the archive see the failure; an extended one has lost its old
  // directory either way.
  if (!Whole && FCreated)
    ::unlink(QFile::encodeName(FFileName).constData());
}

void TZipWrite::Close()
{
  if (FHandle.IsOpen()) {
    try {
      if (!FWriteFailure)
        WriteCentralDirectory();
    } catch (...) {
      if (!FWriteFailure)
        FWriteFailure = std::current_exception();
    }
    if (const int Error = FHandle.Close(); Error != 0 && !FWriteFailure) {
      try {
        RaiseWriteFailure(Error);
      } catch (...) {
        // Kept in FWriteFailure, raised below.
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
  const off_t Pos = ::lseek(FHandle.Get(), 0, SEEK_CUR);
  if (Pos < 0)
    throw EInOutError::FromErrno(QStringLiteral("Seek"), FFileName, errno);
  return Pos;
}

void TZipWrite::SetPosition(qint64 Pos)
{
  if (::lseek(FHandle.Get(), off_t(Pos), SEEK_SET) < 0)
    throw EInOutError::FromErrno(QStringLiteral("Seek"), FFileName, errno);
}

void TZipWrite::WriteAll(const void* Data, qint64 Size)
{
  if (const int Error = Posix::WriteAll(FHandle.Get(), Data, std::size_t(Size)))
    RaiseWriteFailure(Error);
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
  const Posix::TFd Source = Posix::Open(QFile::encodeName(aFileName), O_RDONLY);
  if (!Source.IsOpen())
    RaiseFileError(QStringLiteral("Open"), aFileName);
  struct stat St {};
  if (::fstat(Source.Get(), &St) != 0)
    RaiseFileError(QStringLiteral("Open"), aFileName);
  const QString ZipName = RemovePath ? aFileName.mid(aFileName.lastIndexOf(QLatin1Char('/')) + 1) : aFileName;
  const std::uint32_t Age = DateTimeToDosDateTime(QDateTime::fromSecsSinceEpoch(St.st_mtim.tv_sec));
  const qint64 Size = St.st_size;
  if (Size > MaxZipField)
    throw TooBig(aFileName);
  if (!FHandle.IsOpen())
    return;

  TZipWriteEntry& E = NextEntry(ZipName);
  const qint64 H = InternalAdd(ZipName, nullptr, 0);
  const qint64 DataStart = H + qint64(sizeof(TLocalFileHeader)) + E.intName.size();
  // Whether the file failed us, rather than the archive.
  bool ReadFailed = false;
  try {
    QFile Out;
    if (!Out.open(FHandle.Get(), QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle))
      RaiseWriteFailure(EIO);
    TSynZipCompressor Compressor(&Out, CompressLevel, szcfRaw);
    std::vector<char> Buffer(CopyBufferSize);
    for (;;) {
      const ssize_t Got = Posix::ReadSome(Source.Get(), Buffer.data(), Buffer.size());
      if (Got < 0) {
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
    if (const int Error = Posix::WriteAllAt(FHandle.Get(), &Info, sizeof(TFileInfo), off_t(H + 4)))
      RaiseWriteFailure(Error);
  } catch (...) {
    // Anything else leaves the archive short of this entry.
    if (!ReadFailed && !FWriteFailure)
      FWriteFailure = std::current_exception();
    // The entry is not counted; the next entry or the central directory
    // takes the place of what was written for it, and its bytes go now.
    try {
      SetPosition(H);
      if (::ftruncate(FHandle.Get(), H) != 0)
        qCWarning(PackageLog, "The archive \"%s\" keeps the bytes of an entry it could not finish: %s",
                  qUtf8Printable(FFileName), std::strerror(errno));
    } catch (...) {
      qCWarning(PackageLog, "The archive \"%s\" lost its place after an entry it could not finish",
                qUtf8Printable(FFileName));
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
  if (!FHandle.IsOpen())
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
  if (!FHandle.IsOpen())
    return;
  TFileInfo& Info = NextMemoryEntry(aZipName, Buf, Size, FileAge);
  Info.zzipSize = std::uint32_t(Size);
  static const char Empty = 0;
  InternalAdd(aZipName, Buf ? Buf : &Empty, Size);
}

void TZipWrite::AddFromZip(const TZipEntry& ZipEntry)
{
  if (!FHandle.IsOpen())
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
  if (!FHandle.IsOpen() || FAppendOffset != 0 || FCount > 0 || Position() != 0)
    return;
  // Offsets count from behind these bytes, in 32 bits.
  if (Content.size() > MaxZipField)
    throw Exception(QStringLiteral("appended content too big for .zip"));
  FAppendOffset = std::uint32_t(Content.size());
  WriteAll(Content.constData(), Content.size());
}

}  // namespace SynZip
