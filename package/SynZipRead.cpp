#include "package/SynZip.h"
#include "package/SynZipInternal.h"

#include "platform/AnsiCodePage.h"

#include <QFileInfo>

#include <algorithm>
#include <cstring>

namespace SynZip {

using namespace Internal;

namespace {

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
