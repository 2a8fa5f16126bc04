#include "package/SynZip.h"

#include "platform/AnsiCodePage.h"
#include "tests/support/TempEnvironment.h"
#include "tests/support/ZipCheck.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <zlib.h>

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <random>

using namespace SynZip;
using TestSupport::PythonZipInfo;
using TestSupport::ReadAll;
using TestSupport::UnzipTest;
using TestSupport::WriteAll;

namespace {

std::uint32_t ZlibCrc(const QByteArray& Data)
{
  return std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(Data.constData()), uInt(Data.size())));
}

std::string Json(const QJsonArray& Array) { return QJsonDocument(Array).toJson(QJsonDocument::Compact).toStdString(); }

// Screenshot-like and text-like contents of varied sizes.
QByteArray SampleContent(int Seed, int Size)
{
  QByteArray Data(Size, Qt::Uninitialized);
  for (int I = 0; I < Size; ++I)
    Data[I] = char((I / (Seed % 7 + 1)) % 251 ^ (Seed * 31));
  return Data;
}

class SynZipTest : public ::testing::Test {
protected:
  void SetUp() override { AnsiCodePage::SetACP(1252); }
  void TearDown() override { AnsiCodePage::SetACP(0); }

  QString PathOf(const QString& Name) const { return Env.Root() + QLatin1Char('/') + Name; }
  QString MakeFile(const QString& Name, const QByteArray& Content) const
  {
    const QString Path = PathOf(Name);
    QDir().mkpath(QFileInfo(Path).path());
    WriteAll(Path, Content);
    return Path;
  }

  // Both readers accept the archive, and every entry is what was put in:
  // names, sizes, CRC, method, flags, and zlib's own raw deflate stream.
  struct TExpected {
    QString Name;
    QByteArray Content;
    int Method = 8;
  };
  void ExpectReadable(const QString& Archive, const std::vector<TExpected>& Expected)
  {
    const TestSupport::TUnzipResult Unzip = UnzipTest(Archive);
    if (Expected.empty()) {
      EXPECT_TRUE(Unzip.Output.contains(QStringLiteral("zipfile is empty"))) << Unzip.Output.toStdString();
    } else {
      EXPECT_TRUE(Unzip.ExitCode == 0 && Unzip.Output.contains(QStringLiteral("No errors detected")))
        << Unzip.Output.toStdString();
    }

    const QJsonObject Info = PythonZipInfo(Archive);
    ASSERT_FALSE(Info.contains(QStringLiteral("error"))) << Info[QStringLiteral("error")].toString().toStdString();
    EXPECT_TRUE(Info[QStringLiteral("testzip")].isNull());
    const QJsonArray Entries = Info[QStringLiteral("entries")].toArray();
    ASSERT_EQ(Entries.size(), qsizetype(Expected.size()));
    for (std::size_t I = 0; I < Expected.size(); ++I) {
      const QJsonObject E = Entries[qsizetype(I)].toObject();
      const TExpected& X = Expected[I];
      SCOPED_TRACE(X.Name.toStdString());
      const bool Ascii = std::all_of(X.Name.cbegin(), X.Name.cend(), [](QChar C) { return C.unicode() <= 126; });
      EXPECT_EQ(E[QStringLiteral("name")].toString(), X.Name);
      EXPECT_EQ(E[QStringLiteral("flag")].toInt(), Ascii ? 0 : 0x800);
      EXPECT_EQ(E[QStringLiteral("local_flag")].toInt(), E[QStringLiteral("flag")].toInt());
      EXPECT_EQ(E[QStringLiteral("method")].toInt(), X.Method);
      EXPECT_EQ(E[QStringLiteral("local_method")].toInt(), X.Method);
      EXPECT_EQ(E[QStringLiteral("size")].toInteger(), X.Content.size());
      EXPECT_EQ(E[QStringLiteral("local_usize")].toInteger(), X.Content.size());
      EXPECT_EQ(E[QStringLiteral("local_csize")].toInteger(), E[QStringLiteral("csize")].toInteger());
      EXPECT_EQ(E[QStringLiteral("crc")].toInteger(), qint64(ZlibCrc(X.Content)));
      EXPECT_EQ(E[QStringLiteral("local_crc")].toInteger(), qint64(ZlibCrc(X.Content)));
      EXPECT_EQ(E[QStringLiteral("data_crc")].toInteger(), qint64(ZlibCrc(X.Content)));
      EXPECT_EQ(E[QStringLiteral("extract")].toInt(), 20);
      if (X.Method == 8) {
        EXPECT_TRUE(E[QStringLiteral("raw_is_zlib")].toBool());
      }
    }
  }

  TestSupport::TTempEnvironment Env;
};

}  // namespace

TEST_F(SynZipTest, AnArchiveWithoutEntriesIsTheBareEndRecord)
{
  const QString Archive = PathOf(QStringLiteral("empty.zip"));
  { TZipWrite Zip(Archive); }
  EXPECT_EQ(ReadAll(Archive), QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0'));
  ExpectReadable(Archive, {});
}

TEST_F(SynZipTest, FilesOneTwoAndAThousandAreReadByEveryReader)
{
  for (const int Count : {1, 2, 1000}) {
    SCOPED_TRACE(Count);
    const QString Archive = PathOf(QStringLiteral("files%1.zip").arg(Count));
    std::vector<TExpected> Expected;
    {
      TZipWrite Zip(Archive);
      for (int I = 0; I < Count; ++I) {
        const QString Name = QStringLiteral("file %1.bin").arg(I);
        const QByteArray Content = SampleContent(I, I == 1 ? 300000 : (I * 37) % 2000);
        Zip.AddDeflated(MakeFile(QStringLiteral("in%1/").arg(Count) + Name, Content), true, 6);
        Expected.push_back({Name, Content});
      }
      EXPECT_EQ(Zip.Count(), Count);
    }
    ExpectReadable(Archive, Expected);
  }
}

TEST_F(SynZipTest, EmptyFilesAndNamesBeyondAsciiAndTheEntryTime)
{
  const QString Empty = MakeFile(QStringLiteral("empty.txt"), QByteArray());
  const QString Accented = MakeFile(QStringLiteral("Größe é.txt"), "accented");
  const QString Delete = MakeFile(QStringLiteral("del\x7f.txt"), "code 127");
  {
    QFile File(Accented);
    ASSERT_TRUE(File.open(QIODevice::ReadWrite));
    ASSERT_TRUE(File.setFileTime(QDateTime(QDate(2026, 3, 4), QTime(5, 6, 8)), QFileDevice::FileModificationTime));
  }
  const QString Archive = PathOf(QStringLiteral("names.zip"));
  {
    TZipWrite Zip(Archive);
    Zip.AddDeflated(Empty);
    Zip.AddDeflated(Accented);
    Zip.AddDeflated(Delete);
  }
  ExpectReadable(Archive, {{QStringLiteral("empty.txt"), {}},
                           {QStringLiteral("Größe é.txt"), "accented"},
                           {QStringLiteral("del\x7f.txt"), "code 127"}});
  const QJsonArray Entries = PythonZipInfo(Archive)[QStringLiteral("entries")].toArray();
  // An empty raw deflate stream is two bytes, with CRC 0.
  EXPECT_EQ(Entries[0].toObject()[QStringLiteral("csize")].toInt(), 2);
  EXPECT_EQ(Entries[0].toObject()[QStringLiteral("crc")].toInt(), 0);
  EXPECT_EQ(Json(Entries[1].toObject()[QStringLiteral("date_time")].toArray()), "[2026,3,4,5,6,8]");
  EXPECT_EQ(Entries[1].toObject()[QStringLiteral("create")].toInt(), 20);
}

TEST_F(SynZipTest, MemoryBlocksStoredAndDeflatedAndPathsKeptOnRequest)
{
  const QByteArray Text = SampleContent(3, 5000);
  const QString Archive = PathOf(QStringLiteral("memory.zip"));
  const QString Source = MakeFile(QStringLiteral("kept/path.txt"), "with its path");
  const std::uint32_t Age = DateTimeToDosDateTime(QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6)));
  {
    TZipWrite Zip(Archive);
    Zip.AddStored(QStringLiteral("stored.txt"), Text.constData(), Text.size(), Age);
    Zip.AddDeflated(QStringLiteral("sub/deflated.txt"), Text.constData(), Text.size(), 6, Age);
    Zip.AddStored(QStringLiteral("nothing"), nullptr, 0, Age);
    Zip.AddDeflated(Source, false, 6);
  }
  ExpectReadable(Archive, {{QStringLiteral("stored.txt"), Text, 0},
                           {QStringLiteral("sub/deflated.txt"), Text, 8},
                           {QStringLiteral("nothing"), {}, 0},
                           {Source, "with its path", 8}});
  const QJsonArray Entries = PythonZipInfo(Archive)[QStringLiteral("entries")].toArray();
  EXPECT_EQ(Json(Entries[1].toObject()[QStringLiteral("date_time")].toArray()), "[2001,2,3,4,5,6]");
  const TZipRead Reader(Archive);
  EXPECT_EQ(Reader.Entry(0).info.zlastMod, Age);
  EXPECT_EQ(Reader.UnZip(1), Text);
}

TEST_F(SynZipTest, CreateFromKeepsTheEntriesAndAddsNewOnes)
{
  // One archive of our own, one made by Info-ZIP (extra fields in its
  // headers): both keep their entries readable and take new ones.
  const QString Ours = PathOf(QStringLiteral("ours.zip"));
  {
    TZipWrite Zip(Ours);
    Zip.AddDeflated(MakeFile(QStringLiteral("a.txt"), "first entry"));
    Zip.AddStored(QStringLiteral("b.txt"), "second", 6);
  }
  MakeFile(QStringLiteral("info/one.txt"), SampleContent(5, 4000));
  QProcess Zip;
  Zip.setWorkingDirectory(PathOf(QStringLiteral("info")));
  Zip.start(QStringLiteral("zip"), {QStringLiteral("-q"), QStringLiteral("-6"), QStringLiteral("../infozip.zip"),
                                    QStringLiteral("one.txt")});
  ASSERT_TRUE(Zip.waitForFinished() && Zip.exitCode() == 0);

  const QByteArray Added = SampleContent(9, 70000);
  for (const QString& Archive : {Ours, PathOf(QStringLiteral("infozip.zip"))}) {
    SCOPED_TRACE(Archive.toStdString());
    {
      const std::unique_ptr<TZipWrite> Writer = TZipWrite::CreateFrom(Archive);
      EXPECT_EQ(Writer->Count(), Archive == Ours ? 2 : 1);
      Writer->AddDeflated(MakeFile(QStringLiteral("added.bin"), Added));
    }
    if (Archive == Ours) {
      ExpectReadable(Archive, {{QStringLiteral("a.txt"), "first entry"},
                               {QStringLiteral("b.txt"), "second", 0},
                               {QStringLiteral("added.bin"), Added}});
      // Entries taken over are marked as such; new ones are not.
      const QJsonArray Entries = PythonZipInfo(Archive)[QStringLiteral("entries")].toArray();
      EXPECT_EQ(Entries[0].toObject()[QStringLiteral("external")].toInt(), 0xA0);
      EXPECT_EQ(Entries[2].toObject()[QStringLiteral("external")].toInt(), 0);
    }
    else
      ExpectReadable(Archive, {{QStringLiteral("one.txt"), SampleContent(5, 4000)}, {QStringLiteral("added.bin"), Added}});
  }

  // No file yet: a new archive.
  { TZipWrite::CreateFrom(PathOf(QStringLiteral("new.zip")))->AddStored(QStringLiteral("x"), "x", 1); }
  ExpectReadable(PathOf(QStringLiteral("new.zip")), {{QStringLiteral("x"), "x", 0}});
}

TEST_F(SynZipTest, AnArchiveBehindAppendedBytesStaysReadableAndExtensible)
{
  const QString Archive = PathOf(QStringLiteral("behind.zip"));
  const QByteArray Stub("#!/bin/sh\necho a stub in front of the archive\nexit 0\n");
  {
    TZipWrite Zip(Archive);
    Zip.Append(Stub);
    Zip.Append("twice");  // once only
    Zip.AddDeflated(MakeFile(QStringLiteral("one.txt"), "one"));
  }
  EXPECT_TRUE(ReadAll(Archive).startsWith(Stub + "PK"));
  {
    const std::unique_ptr<TZipWrite> Writer = TZipWrite::CreateFrom(Archive);
    Writer->AddDeflated(MakeFile(QStringLiteral("two.txt"), "two"));
  }
  const QJsonObject Info = PythonZipInfo(Archive);
  ASSERT_EQ(Info[QStringLiteral("entries")].toArray().size(), 2) << QJsonDocument(Info).toJson().toStdString();
  EXPECT_TRUE(Info[QStringLiteral("testzip")].isNull());
  EXPECT_EQ(Info[QStringLiteral("entries")].toArray()[1].toObject()[QStringLiteral("data")].toString(),
            QStringLiteral("two"));
  // Info-ZIP warns about the bytes in front, and finds no error.
  const TestSupport::TUnzipResult Unzip = UnzipTest(Archive);
  EXPECT_LE(Unzip.ExitCode, 1);
  EXPECT_TRUE(Unzip.Output.contains(QStringLiteral("No errors detected"))) << Unzip.Output.toStdString();

  // Nothing can be put in front once entries were written.
  const QString Late = PathOf(QStringLiteral("late.zip"));
  {
    TZipWrite Zip(Late);
    Zip.AddStored(QStringLiteral("x"), "x", 1);
    Zip.Append(Stub);
  }
  ExpectReadable(Late, {{QStringLiteral("x"), "x", 0}});
}

TEST_F(SynZipTest, FromZipCopiesEntriesAsTheyAre)
{
  // Info-ZIP writing to a pipe marks its entries with data descriptors.
  MakeFile(QStringLiteral("piped.txt"), SampleContent(2, 9000));
  QProcess Shell;
  Shell.setWorkingDirectory(Env.Root());
  Shell.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("zip -q - piped.txt | cat > piped.zip")});
  ASSERT_TRUE(Shell.waitForFinished() && Shell.exitCode() == 0);
  const TZipRead Source(PathOf(QStringLiteral("piped.zip")));
  ASSERT_EQ(Source.Count(), 1);
  EXPECT_TRUE(Source.Entry(0).info.flags & 0x0008);
  const QString Archive = PathOf(QStringLiteral("copied.zip"));
  {
    TZipWrite Zip(Archive);
    Zip.AddFromZip(Source.Entry(0));
    Zip.AddStored(QStringLiteral("after.txt"), "after", 5);
  }
  ExpectReadable(Archive, {{QStringLiteral("piped.txt"), SampleContent(2, 9000)}, {QStringLiteral("after.txt"), "after", 0}});
  EXPECT_EQ(PythonZipInfo(Archive)[QStringLiteral("entries")].toArray()[0].toObject()[QStringLiteral("flag")].toInt(), 0);
}

TEST_F(SynZipTest, FailedEntriesLeaveAValidArchiveWithTheEntriesBefore)
{
  const QString Archive = PathOf(QStringLiteral("failures.zip"));
  // A sparse file of 4 GiB: too big, and nothing of it is written.
  const QString Huge = PathOf(QStringLiteral("huge.bin"));
  {
    QFile File(Huge);
    ASSERT_TRUE(File.open(QIODevice::WriteOnly));
    ASSERT_TRUE(File.resize(qint64(1) << 32));
  }
  const QString Missing = PathOf(QStringLiteral("missing.bmp"));
  {
    TZipWrite Zip(Archive);
    Zip.AddDeflated(MakeFile(QStringLiteral("before.txt"), "before"));
    try {
      Zip.AddDeflated(Huge);
      ADD_FAILURE() << "no error for a file of 4 GiB";
    } catch (const Exception& Error) {
      EXPECT_EQ(Error.Message(), Huge + QStringLiteral(" file too big for .zip"));
    }
    EXPECT_THROW(Zip.AddDeflated(Missing), EInOutError);
    // A level zlib refuses fails the entry after its header was written;
    // the next entry takes its place.
    try {
      Zip.AddDeflated(MakeFile(QStringLiteral("level.txt"), "level 42"), true, 42);
      ADD_FAILURE() << "no error for level 42";
    } catch (const Exception& Error) {
      EXPECT_EQ(Error.Message(), QStringLiteral("ZCompress"));
    }
    Zip.AddDeflated(MakeFile(QStringLiteral("after.txt"), "after"));
    EXPECT_EQ(Zip.Count(), 2);
  }
  ExpectReadable(Archive, {{QStringLiteral("before.txt"), "before"}, {QStringLiteral("after.txt"), "after"}});
  EXPECT_EQ(UnzipTest(Archive).ExitCode, 0);

  // An archive that cannot be created: nothing is written, nothing raised.
  TZipWrite Nowhere(PathOf(QStringLiteral("no folder/x.zip")));
  EXPECT_FALSE(Nowhere.HasHandle());
  Nowhere.AddStored(QStringLiteral("x"), "x", 1);
  Nowhere.AddDeflated(MakeFile(QStringLiteral("y.txt"), "y"));
  EXPECT_EQ(Nowhere.Count(), 0);
}

TEST_F(SynZipTest, NoMoreEntriesThanTheEndRecordCanCount)
{
  const QString Archive = PathOf(QStringLiteral("many.zip"));
  {
    TZipWrite Zip(Archive);
    for (int I = 0; I < 65535; ++I)
      Zip.AddStored(QString::number(I), "", 0);
    EXPECT_THROW(Zip.AddStored(QStringLiteral("one too many"), "", 0), Exception);
    EXPECT_EQ(Zip.Count(), 65535);
  }
  EXPECT_EQ(TZipRead(Archive).Count(), 65535);
  EXPECT_EQ(PythonZipInfo(Archive)[QStringLiteral("entries")].toArray().size(), 65535);
}

namespace {

// An archive just below 4 GiB without writing 4 GiB: one stored entry of
// zeros that lie in a hole of a sparse file, then its directory, so that
// Room bytes are left for the local header, data and directory header of
// one more entry and its directory header.
QString SparseArchive(const QString& Path, qint64 Room)
{
  const QByteArray Name = "big";
  const qint64 Directory = qint64(sizeof(TFileHeader)) + Name.size();
  const qint64 Data =
    0xFFFFFFFFLL - Room - qint64(sizeof(TLastHeader)) - Directory - qint64(sizeof(TLocalFileHeader)) - Name.size();
  // The CRC-32 of that many zeros, from the CRCs of powers of two.
  uLong Crc = 0;
  uLong Power = crc32(0, reinterpret_cast<const Bytef*>("\0"), 1);
  for (qint64 Bit = 1, Left = Data; Left > 0; Bit <<= 1, Left >>= 1) {
    if (Left & 1)
      Crc = crc32_combine(Crc, Power, Bit);
    Power = crc32_combine(Power, Power, Bit);
  }
  TFileHeader Central;
  Central.signature = CentralFileHeaderSignature();
  Central.madeBy = 20;
  Central.fileInfo.neededVersion = 20;
  Central.fileInfo.zcrc32 = std::uint32_t(Crc);
  Central.fileInfo.zzipSize = Central.fileInfo.zfullSize = std::uint32_t(Data);
  Central.fileInfo.nameLen = std::uint16_t(Name.size());
  TLocalFileHeader Local;
  Local.signature = LocalFileHeaderSignature();
  Local.fileInfo = Central.fileInfo;
  TLastHeader Last;
  Last.signature = LastHeaderSignature();
  Last.thisFiles = Last.totalFiles = 1;
  Last.headerSize = std::uint32_t(Directory);
  Last.headerOffset = std::uint32_t(qint64(sizeof(Local)) + Name.size() + Data);
  QFile File(Path);
  EXPECT_TRUE(File.open(QIODevice::WriteOnly));
  File.write(reinterpret_cast<const char*>(&Local), sizeof(Local));
  File.write(Name);
  File.seek(Last.headerOffset);  // the hole
  File.write(reinterpret_cast<const char*>(&Central), sizeof(Central));
  File.write(Name);
  File.write(reinterpret_cast<const char*>(&Last), sizeof(Last));
  return Path;
}

// Names, sizes and header offsets of every entry as Python's zipfile lists
// them, and the CRC-32 of the data of every entry below 1 MiB, read and
// checked by zipfile.
QJsonObject PythonListing(const QString& Archive)
{
  QProcess Python;
  Python.start(QStringLiteral("python3"), {QStringLiteral("-c"), QStringLiteral(R"PY(
import json, sys, zipfile, zlib
try:
    with zipfile.ZipFile(sys.argv[1]) as z:
        print(json.dumps({
            'entries': [[i.filename, i.file_size, i.header_offset] for i in z.infolist()],
            'small': [zlib.crc32(z.read(i)) for i in z.infolist() if i.file_size < 1 << 20]}))
except Exception as error:
    print(json.dumps({'error': repr(error)}))
)PY"),
                                           Archive});
  Python.waitForFinished(120000);
  return QJsonDocument::fromJson(Python.readAllStandardOutput()).object();
}

}  // namespace

TEST_F(SynZipTest, NothingGrowsAnArchiveTo4GiBAndWhatWasThereStays)
{
  // Room for a last entry of 1000 bytes, exactly.
  const QString Archive = SparseArchive(PathOf(QStringLiteral("nearly 4 GiB.zip")),
                                        qint64(sizeof(TLocalFileHeader)) + 1 + 1000 + qint64(sizeof(TFileHeader)) + 1);
  const qint64 Before = QFileInfo(Archive).size();
  const QByteArray Last = SampleContent(3, 1000);
  {
    const std::unique_ptr<TZipWrite> Zip = TZipWrite::CreateFrom(Archive);
    ASSERT_EQ(Zip->Count(), 1);
    // Streamed and deflated: given up once its data no longer fits.
    QByteArray Noise(200000, Qt::Uninitialized);
    std::generate(Noise.begin(), Noise.end(), std::mt19937(7));
    const QString NoiseFile = MakeFile(QStringLiteral("noise.bin"), Noise);
    try {
      Zip->AddDeflated(NoiseFile);
      ADD_FAILURE() << "an entry beyond 4 GiB";
    } catch (const Exception& Error) {
      EXPECT_EQ(Error.Message(), NoiseFile + QStringLiteral(" file too big for .zip"));
    }
    EXPECT_EQ(QFileInfo(Archive).size(), Before - 22 - 46 - 3) << "the refused entry's bytes stay behind";
    // Memory blocks: one byte more than the room, or a header more.
    EXPECT_THROW(Zip->AddStored(QStringLiteral("n"), Last.constData(), Last.size() + 1), Exception);
    Zip->AddStored(QStringLiteral("n"), Last.constData(), Last.size());
    EXPECT_THROW(Zip->AddStored(QStringLiteral("m"), "", 0), Exception);
    EXPECT_THROW(Zip->AddDeflated(QStringLiteral("m"), "m", qint64(1)), Exception);
    EXPECT_EQ(Zip->Count(), 2);
  }
  EXPECT_EQ(QFileInfo(Archive).size(), 0xFFFFFFFFLL);

  const TZipRead Reader(Archive);
  ASSERT_EQ(Reader.Count(), 2);
  EXPECT_EQ(Reader.UnZip(1), Last);
  const QJsonObject Listing = PythonListing(Archive);
  ASSERT_FALSE(Listing.contains(QStringLiteral("error"))) << Listing[QStringLiteral("error")].toString().toStdString();
  const QJsonArray Entries = Listing[QStringLiteral("entries")].toArray();
  ASSERT_EQ(Entries.size(), 2);
  EXPECT_EQ(Entries[0].toArray()[0].toString(), QStringLiteral("big"));
  EXPECT_EQ(Entries[1].toArray()[0].toString(), QStringLiteral("n"));
  EXPECT_EQ(Entries[1].toArray()[2].toInteger(), Before - 22 - 46 - 3);
  EXPECT_EQ(Listing[QStringLiteral("small")].toArray(), QJsonArray{qint64(ZlibCrc(Last))});
  QProcess Unzip;  // the new entry only: testing the big one reads 4 GiB
  Unzip.setProcessChannelMode(QProcess::MergedChannels);
  Unzip.start(QStringLiteral("unzip"), {QStringLiteral("-t"), Archive, QStringLiteral("n")});
  ASSERT_TRUE(Unzip.waitForFinished(120000));
  EXPECT_EQ(Unzip.exitCode(), 0) << Unzip.readAll().toStdString();
}

TEST_F(SynZipTest, SizesOfExactly0xFFFFFFFFAreRefusedBeforeAnythingIsRead)
{
  const QString Archive = PathOf(QStringLiteral("ffffffff.zip"));
  const QString Huge = PathOf(QStringLiteral("ffffffff.bin"));
  {
    QFile File(Huge);
    ASSERT_TRUE(File.open(QIODevice::WriteOnly));
    ASSERT_TRUE(File.resize(0xFFFFFFFFLL));  // sparse
  }
  // Address space only: any read of it would be a fault of the writer.
  void* const Block = ::mmap(nullptr, 0xFFFFFFFFUL, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(Block, MAP_FAILED);
  {
    TZipWrite Zip(Archive);
    Zip.AddStored(QStringLiteral("before"), "before", 6);
    try {
      Zip.AddDeflated(Huge);
      ADD_FAILURE() << "a file of 0xFFFFFFFF bytes";
    } catch (const Exception& Error) {
      EXPECT_EQ(Error.Message(), Huge + QStringLiteral(" file too big for .zip"));
    }
    EXPECT_THROW(Zip.AddStored(QStringLiteral("block"), Block, 0xFFFFFFFFLL), Exception);
    EXPECT_THROW(Zip.AddDeflated(QStringLiteral("block"), Block, 0xFFFFFFFFLL), Exception);
    EXPECT_EQ(Zip.Count(), 1);
  }
  ::munmap(Block, 0xFFFFFFFFUL);
  ExpectReadable(Archive, {{QStringLiteral("before"), "before", 0}});
}

TEST_F(SynZipTest, AnArchiveWhoseDirectoryCannotBeWrittenIsRemoved)
{
  const QString Archive = PathOf(QStringLiteral("full disk.zip"));
  const QByteArray Content = SampleContent(5, 5000);
  // A file size limit stands in for the full disk, in a process of its own.
  const pid_t Child = ::fork();
  if (Child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    {
      TZipWrite Zip(Archive);
      Zip.AddStored(QStringLiteral("a"), Content.constData(), Content.size());
      const rlimit Limit{rlim_t(QFileInfo(Archive).size() + 10), RLIM_INFINITY};
      ::setrlimit(RLIMIT_FSIZE, &Limit);
    }
    ::_exit(QFileInfo::exists(Archive) ? 1 : 0);
  }
  int Status = -1;
  ASSERT_EQ(::waitpid(Child, &Status, 0), Child);
  EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0) << Status;
  EXPECT_FALSE(QFileInfo::exists(Archive));

  // An archive that is finished is kept, whatever came before.
  {
    TZipWrite Zip(Archive);
    Zip.AddStored(QStringLiteral("a"), Content.constData(), Content.size());
  }
  ExpectReadable(Archive, {{QStringLiteral("a"), Content, 0}});
}

TEST_F(SynZipTest, TheReaderRefusesEveryTruncatedOrCorruptArchive)
{
  const QString Good = PathOf(QStringLiteral("good.zip"));
  {
    TZipWrite Zip(Good);
    Zip.AddDeflated(MakeFile(QStringLiteral("a.txt"), SampleContent(1, 3000)));
    Zip.AddStored(QStringLiteral("b.txt"), "bbbb", 4);
  }
  const QByteArray Bytes = ReadAll(Good);
  const QString Bad = PathOf(QStringLiteral("bad.zip"));
  for (qsizetype Length = 0; Length < Bytes.size(); ++Length) {
    WriteAll(Bad, Bytes.left(Length));
    EXPECT_THROW(TZipRead{Bad}, EZipReadError) << "truncated to " << Length;
  }

  // Every field that points somewhere, pointing beyond the file.
  const qsizetype End = Bytes.size() - 22;
  const qsizetype Central = Bytes.indexOf(QByteArray("PK\x01\x02", 4));
  const auto Patched = [&](qsizetype Offset, QByteArray Value) {
    QByteArray Copy = Bytes;
    Copy.replace(Offset, Value.size(), Value);
    return Copy;
  };
  const QByteArray Big("\xF0\xFF\xFF\x7F", 4);
  for (const QByteArray& Corrupt : {
         Patched(End + 12, Big),                      // central directory size
         Patched(End + 16, Big),                      // central directory offset
         Patched(End + 8, QByteArray("\x09\x00\x09\x00", 4)),  // more entries than there are
         Patched(Central + 28, QByteArray("\xFF\xFF", 2)),     // name length
         Patched(Central + 20, Big),                  // compressed size
         Patched(Central + 42, Big),                  // local header offset
         Patched(Central + 42, QByteArray("\x01\x00\x00\x00", 4)),  // no local header there
         Patched(0, QByteArray("PK\x03\x05", 4)),     // local signature
         Patched(26, QByteArray("\xFF\xFF", 2)),      // local name length
       }) {
    WriteAll(Bad, Corrupt);
    EXPECT_THROW(TZipRead{Bad}, EZipReadError);
    // Nor is such a file taken over: it stays as it was.
    EXPECT_THROW(TZipWrite::CreateFrom(Bad), EZipReadError);
    EXPECT_EQ(ReadAll(Bad), Corrupt);
  }

  // Damaged data is found when it is read.
  QByteArray Damaged = Bytes;
  Damaged[40] = char(Damaged[40] ^ 0x55);
  WriteAll(Bad, Damaged);
  const TZipRead Reader(Bad);
  EXPECT_THROW(Reader.UnZip(0), EZipReadError);
  EXPECT_EQ(Reader.UnZip(1), QByteArray("bbbb"));
  EXPECT_EQ(Reader.NameToIndex(QStringLiteral("b.txt")), 1);

  // An uncompressed size deflate could never reach is refused before any
  // memory is taken for it.
  WriteAll(Bad, Patched(Central + 24, Big));
  EXPECT_THROW(TZipRead(Bad).UnZip(0), EZipReadError);
}

TEST_F(SynZipTest, CompressorFormatsAndItsOnlyPositions)
{
  const QByteArray Text = SampleContent(4, 200000);
  for (const auto Format : {szcfRaw, szcfZip, szcfGZ}) {
    QBuffer Out;
    Out.open(QIODevice::WriteOnly);
    {
      TSynZipCompressor Compressor(&Out, 6, Format);
      EXPECT_EQ(Compressor.Seek(0, 0), 0);
      EXPECT_EQ(Compressor.write(Text.left(1000)), 1000);
      EXPECT_EQ(Compressor.write(Text.mid(1000)), Text.size() - 1000);
      EXPECT_EQ(Compressor.Seek(0, 1), Text.size());
      EXPECT_THROW(Compressor.Seek(0, 0), EAssertionFailed);
      EXPECT_EQ(Compressor.CRC(), ZlibCrc(Text));
    }  // destruction flushes
    // zlib reads each format back with its own window bits.
    const int WindowBits = Format == szcfRaw ? -15 : Format == szcfZip ? 15 : 31;
    QByteArray Back(Text.size(), Qt::Uninitialized);
    z_stream Strm{};
    ASSERT_EQ(inflateInit2(&Strm, WindowBits), Z_OK);
    Strm.next_in = reinterpret_cast<Bytef*>(Out.buffer().data());
    Strm.avail_in = uInt(Out.buffer().size());
    Strm.next_out = reinterpret_cast<Bytef*>(Back.data());
    Strm.avail_out = uInt(Back.size());
    EXPECT_EQ(inflate(&Strm, Z_FINISH), Z_STREAM_END) << Format;
    EXPECT_EQ(Strm.avail_in, 0u);
    inflateEnd(&Strm);
    EXPECT_EQ(Back, Text);
  }
}

TEST_F(SynZipTest, EventArchiveZipMovesFilesIntoOneArchive)
{
  const QString Dest = PathOf(QStringLiteral("events/"));
  const QString A = MakeFile(QStringLiteral("a.log"), "first event");
  const QString B = MakeFile(QStringLiteral("b.log"), "second event");
  EXPECT_TRUE(EventArchiveZip(A, Dest));
  EXPECT_FALSE(EventArchiveZip(PathOf(QStringLiteral("missing.log")), Dest));
  EXPECT_TRUE(EventArchiveZip(B, Dest));
  EXPECT_FALSE(QFileInfo::exists(A));
  EXPECT_FALSE(QFileInfo::exists(B));
  EXPECT_FALSE(EventArchiveZip(QString(), Dest));  // finishes the archive
  ExpectReadable(PathOf(QStringLiteral("events.zip")),
                 {{QStringLiteral("a.log"), "first event"}, {QStringLiteral("b.log"), "second event"}});
  // The next file opens the same archive again and adds to it.
  EXPECT_TRUE(EventArchiveZip(MakeFile(QStringLiteral("c.log"), "third"), Dest));
  EventArchiveZip(QString(), Dest);
  EXPECT_EQ(TZipRead(PathOf(QStringLiteral("events.zip"))).Count(), 3);
}

TEST(SynZipLibraries, HoldNoneOfTheThreeSignatures)
{
  const QList<QByteArray> Signatures{QByteArray("PK\x03\x04", 4), QByteArray("PK\x01\x02", 4),
                                     QByteArray("PK\x05\x06", 4)};
  int Scanned = 0;
  QDirIterator Libraries(QStringLiteral(CORVANE_LIB_DIR), {QStringLiteral("*.so")}, QDir::Files);
  while (Libraries.hasNext()) {
    const QString Library = Libraries.next();
    const QByteArray Bytes = ReadAll(Library);
    ++Scanned;
    for (const QByteArray& Signature : Signatures)
      EXPECT_FALSE(Bytes.contains(Signature)) << Library.toStdString() << " holds " << Signature.toHex().toStdString();
  }
  // The three editions at least, built with the writer in them.
  EXPECT_GE(Scanned, 3);
  EXPECT_EQ(LocalFileHeaderSignature(), 0x04034B50u);
  EXPECT_EQ(CentralFileHeaderSignature(), 0x02014B50u);
  EXPECT_EQ(LastHeaderSignature(), 0x06054B50u);
}
