#pragma once
// ZIP archives (PKWARE APPNOTE, version 2.0): the writer that packs a report
// and its screenshot, the deflating stream it compresses through, and a
// checked reader for archives that are extended or copied from.
//
// Archives hold no extra fields, comments, data descriptors, encryption or
// ZIP64 records, on a single disk. All fields are little-endian.

#include "hostfw/Exceptions.h"
#include "platform/Posix.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QIODevice>
#include <QString>

#include <bit>
#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

#include <zlib.h>

namespace SynZip {

// A truncated, corrupt or unsupported archive met by TZipRead.
class EZipReadError : public Exception {
public:
  using Exception::Exception;
};

static_assert(std::endian::native == std::endian::little, "the headers are written as they lie in memory");

#pragma pack(push, 1)
// The part shared by the local header and the central directory header.
struct TFileInfo {
  std::uint16_t neededVersion = 0;
  std::uint16_t flags = 0;
  std::uint16_t zzipMethod = 0;  // 0 stored, 8 deflated
  std::uint32_t zlastMod = 0;    // MS-DOS time in the low, date in the high 16 bits
  std::uint32_t zcrc32 = 0;
  std::uint32_t zzipSize = 0;
  std::uint32_t zfullSize = 0;
  std::uint16_t nameLen = 0;
  std::uint16_t extraLen = 0;

  // Bit 11: the stored name is UTF-8.
  bool GetUTF8FileName() const;
  void SetUTF8FileName();
  void UnSetUTF8FileName();
};

struct TFileHeader {
  std::uint32_t signature = 0;
  std::uint16_t madeBy = 0;
  TFileInfo fileInfo;
  std::uint16_t commentLen = 0;
  std::uint16_t firstDiskNo = 0;
  std::uint16_t intFileAttr = 0;
  std::uint32_t extFileAttr = 0;
  std::uint32_t localHeadOff = 0;

  // A central header for an entry taken over from an existing archive.
  void Init();
};

struct TLocalFileHeader {
  std::uint32_t signature = 0;
  TFileInfo fileInfo;
};

struct TLastHeader {
  std::uint32_t signature = 0;
  std::uint16_t thisDisk = 0;
  std::uint16_t headerDisk = 0;
  std::uint16_t thisFiles = 0;
  std::uint16_t totalFiles = 0;
  std::uint32_t headerSize = 0;
  std::uint32_t headerOffset = 0;
  std::uint16_t commentSize = 0;
};
#pragma pack(pop)

static_assert(sizeof(TFileInfo) == 26);
static_assert(sizeof(TFileHeader) == 46);
static_assert(sizeof(TLocalFileHeader) == 30);
static_assert(sizeof(TLastHeader) == 22);

// The three signatures. They are computed at run time so that none of their
// byte sequences stands in the library: a scanner looking for embedded
// archives inside it finds none.
std::uint32_t LocalFileHeaderSignature();
std::uint32_t CentralFileHeaderSignature();
std::uint32_t LastHeaderSignature();

// Local date and time as the 32-bit MS-DOS value (time low, date high);
// clamped to 1980-01-01 and 2107-12-31.
std::uint32_t DateTimeToDosDateTime(const QDateTime& Value);

// CRC-32 (zlib's, polynomial 0xEDB88320 reflected) of a block, continuing
// from Crc.
std::uint32_t Crc32(std::uint32_t Crc, const void* Data, std::size_t Size);

enum TSynZipCompressorFormat { szcfRaw, szcfZip, szcfGZ };

// A write-only stream: what is written to it is deflated into Dest, through
// one 64 KiB output buffer, with a running CRC-32 of the input. Raw format
// is a bare deflate stream; szcfZip adds zlib's header and Adler-32, szcfGZ
// the gzip header and trailer.
class TSynZipCompressor : public QIODevice {
  Q_OBJECT
public:
  TSynZipCompressor(QIODevice* Dest, int CompressionLevel, TSynZipCompressorFormat Format = szcfRaw);
  ~TSynZipCompressor() override;

  // Finishes the deflate stream and writes out everything buffered. Once
  // flushed, nothing more can be written.
  void Flush();

  // Only the position query (Origin 1, Offset 0: bytes consumed so far) and
  // a seek to the start before anything was written are supported.
  qint64 Seek(qint64 Offset, int Origin);

  std::uint32_t CRC() const { return FCRC; }
  qint64 SizeIn() const { return qint64(FStrm.total_in); }
  qint64 SizeOut() const { return qint64(FStrm.total_out); }

  bool isSequential() const override { return true; }
  qint64 pos() const override;
  bool seek(qint64 Pos) override;

protected:
  qint64 readData(char* Data, qint64 MaxSize) override;
  qint64 writeData(const char* Data, qint64 Size) override;

private:
  void Deflate(int FlushMode);
  void FlushBuffer();

  QIODevice* FDest;
  z_stream FStrm{};
  TSynZipCompressorFormat FFormat;
  std::uint32_t FCRC = 0;
  bool FInitialized = false;
  bool FFlushed = false;
  bool FFailed = false;
  bool FStreamEnd = false;
  std::vector<unsigned char> FBufferOut;
};

struct TZipEntry;

// One entry of the archive being written: the stored name and the header
// the central directory gets.
struct TZipWriteEntry {
  QByteArray intName;
  TFileHeader fhr;
};

// Writes a ZIP archive: local header and data per entry as they are added,
// the central directory and end record when the writer is destroyed. Only
// then is the file a valid archive.
//
// Its 32-bit fields describe archives below 4 GiB only: an entry that would
// take the archive (directory and end record included) to 4 GiB raises
// "<name> file too big for .zip" and leaves the archive as it was before
// it. When the directory cannot be written (a full disk), an archive the
// writer created is removed rather than left without it.
class TZipWrite {
public:
  // Creates (or truncates) the archive. When it cannot be created the
  // writer has no valid handle: the memory Add operations and Append then do
  // nothing and no archive appears.
  explicit TZipWrite(const QString& aFileName);
  // Opens an existing archive to add entries to it; creates a new one when
  // the file cannot be opened. A file that is no valid archive raises.
  static std::unique_ptr<TZipWrite> CreateFrom(const QString& aFileName);
  ~TZipWrite();
  TZipWrite(const TZipWrite&) = delete;
  TZipWrite& operator=(const TZipWrite&) = delete;

  // A file from disk, deflated in one pass straight into the archive. With
  // RemovePath the entry is named by the file name alone.
  void AddDeflated(const QString& aFileName, bool RemovePath = true, int CompressLevel = 6);
  // A memory block, deflated; FileAge is the MS-DOS date and time to store.
  void AddDeflated(const QString& aZipName, const void* Buf, qint64 Size, int CompressLevel = 6,
                   std::uint32_t FileAge = 0);
  void AddStored(const QString& aZipName, const void* Buf, qint64 Size, std::uint32_t FileAge = 0);
  // An entry of another archive, copied with its compressed data as it is.
  void AddFromZip(const TZipEntry& ZipEntry);
  // Raw bytes before the first entry (an archive behind another file's
  // content); once only, and only before anything else was written.
  void Append(const QByteArray& Content);

  // Writes the local header of the next entry record and, when Buf is given,
  // the data; returns the position of the header in the file.
  qint64 InternalAdd(const QString& zipName, const void* Buf, qint64 Size);

  // Writes the central directory and closes the archive, raising what went
  // wrong: a failed write of any earlier entry included, since such an
  // archive lacks what it was given. The destructor does the same quietly.
  void Close();

  const QString& FileName() const { return FFileName; }
  int Count() const { return FCount; }
  bool HasHandle() const { return FHandle.IsOpen(); }
  // An add failed in the archive, not in reading its file (a file that
  // cannot be opened or read does not count): the archive is short of
  // what it was given.
  bool WriteFailed() const { return static_cast<bool>(FWriteFailure); }

private:
  // A writer on a handle that is already open (CreateFrom).
  TZipWrite(const QString& aFileName, Posix::TFd Handle);
  // Makes sure a record exists at index Count for the entry being added,
  // fresh and zeroed; refuses an entry the end record could not count.
  TZipWriteEntry& NextEntry(const QString& aZipName);
  // The next entry for Size bytes at Buf, with their CRC, size and time.
  TFileInfo& NextMemoryEntry(const QString& aZipName, const void* Buf, qint64 Size, std::uint32_t FileAge);
  void WriteAll(const void* Data, qint64 Size);
  qint64 Position() const;
  void SetPosition(qint64 Pos);
  // Raises "... too big for .zip" unless an entry ending at EntryEnd, with
  // a name of NameBytes, leaves an archive every 32-bit field describes.
  void CheckRoom(const QString& aZipName, qint64 EntryEnd, qint64 NameBytes) const;
  // Counts the entry at index Count, written whole.
  void Counted();
  [[noreturn]] void RaiseWriteFailure(int Error);
  void WriteCentralDirectory();
  void Finish() noexcept;

  std::uint32_t FAppendOffset = 0;
  QString FFileName;
  std::uint32_t FMagic = 0;
  Posix::TFd FHandle;
  int FCount = 0;
  std::vector<TZipWriteEntry> FEntry;
  qint64 FDirectorySize = 0;  // of the central directory the counted entries need
  bool FCreated = false;      // by this writer, not opened by CreateFrom
  std::exception_ptr FWriteFailure;
};

// One entry as the reader found it. Data points into the reader's view of
// the file and lives as long as the reader.
struct TZipEntry {
  TFileInfo info;          // from the central directory
  QByteArray storedName;   // the name's bytes as stored
  QString zipName;         // decoded: UTF-8 with flag bit 11, else the ANSI code page
  const char* data = nullptr;  // the compressed data, info.zzipSize bytes
  std::uint32_t localHeadOff = 0;  // relative to the start of the archive part
};

// Reads the central directory of an archive and checks every offset and
// size against the file before anything is used: a truncated or corrupt
// archive raises EZipReadError and is never read outside its bytes. Bytes
// before the archive (self-extractor stubs, Append) are allowed.
class TZipRead {
public:
  explicit TZipRead(const QString& aFileName);
  ~TZipRead();
  TZipRead(const TZipRead&) = delete;
  TZipRead& operator=(const TZipRead&) = delete;

  int Count() const { return int(FEntry.size()); }
  const TZipEntry& Entry(int Index) const { return FEntry.at(std::size_t(Index)); }
  // Index of the entry of that (decoded) name, or -1.
  int NameToIndex(const QString& aName) const;
  // The stored data of an entry, inflated when deflated and checked against
  // its size and CRC-32.
  QByteArray UnZip(int Index) const;

  // Length of the bytes before the archive part.
  std::uint32_t ArchiveOffset() const { return FArchiveOffset; }
  // Offset of the central directory, relative to the archive part.
  std::uint32_t CentralDirOffset() const { return FCentralDirOffset; }

private:
  void Parse();

  QFile FFile;
  const char* FBuf = nullptr;
  qint64 FSize = 0;
  std::uint32_t FArchiveOffset = 0;
  std::uint32_t FCentralDirOffset = 0;
  std::vector<TZipEntry> FEntry;
};

// Moves a file into the archive DestPath without its final separator +
// ".zip", through one writer that stays open between calls; an empty
// FileName finishes that archive. True when the file was added and deleted.
bool EventArchiveZip(const QString& FileName, const QString& DestPath);

}  // namespace SynZip
