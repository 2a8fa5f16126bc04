#include "platform/DebugInfo.h"

#include "platform/StackTraceRender.h"
#include "tests/support/FirstUnitWithCode.h"
#include "tests/support/TempEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <elfutils/libdw.h>

#include <arpa/inet.h>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

using TestSupport::ReadAll;
using TestSupport::WriteAll;

namespace {

// objcopy with Arguments in Folder; fails the test when it fails.
void ObjCopy(const QString& Folder, const QStringList& Arguments)
{
  QProcess Tool;
  Tool.setWorkingDirectory(Folder);
  Tool.start(QStringLiteral("objcopy"), Arguments);
  ASSERT_TRUE(Tool.waitForFinished(60000)) << "objcopy did not run";
  ASSERT_EQ(Tool.exitCode(), 0) << Tool.readAllStandardError().toStdString();
}

// In Folder: the fixture library without its debug information
// ("module.so", with a debug link to "module.debug" when Linked) and that
// information apart, compressed ("module.debug").
void SplitFixture(const QString& Folder, bool Linked)
{
  ASSERT_TRUE(QFile::copy(QStringLiteral(DEBUG_FIXTURE), Folder + QStringLiteral("/whole.so")));
  ObjCopy(Folder, {QStringLiteral("--only-keep-debug"), QStringLiteral("--compress-debug-sections=zlib"),
                   QStringLiteral("whole.so"), QStringLiteral("module.debug")});
  QStringList Strip{QStringLiteral("--strip-debug")};
  if (Linked)
    Strip << QStringLiteral("--add-gnu-debuglink=module.debug");
  ObjCopy(Folder, Strip << QStringLiteral("whole.so") << QStringLiteral("module.so"));
  QFile::remove(Folder + QStringLiteral("/whole.so"));
}

// The fixture's call, rendered as a frame of this process from the module
// at Path, loaded for it.
struct TCall {
  std::uintptr_t ReturnAddress = 0;
  int Line = 0;
  std::uintptr_t Base = 0;  // where the module is loaded
};

TCall CallIn(const QString& Path)
{
  void* Module = ::dlopen(QFile::encodeName(Path).constData(), RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(Module, nullptr) << ::dlerror();
  if (!Module)
    return {};
  using TCaller = void* (*)(int*);
  const auto Caller = reinterpret_cast<TCaller>(::dlsym(Module, "DebugFixtureCaller"));
  TCall Call;
  Call.ReturnAddress = reinterpret_cast<std::uintptr_t>(Caller(&Call.Line));
  Dl_info Info{};
  if (::dladdr(reinterpret_cast<void*>(Caller), &Info))
    Call.Base = reinterpret_cast<std::uintptr_t>(Info.dli_fbase);
  return Call;
}

QString Rendered(std::uintptr_t ReturnAddress)
{
  StackTrace::Render::TSession Session(0);
  QStringList Lines;
  StackTrace::Render::RenderFrames(Session, {ReturnAddress}, Lines, false, true, true, false);
  return Lines.join(QLatin1Char('\n'));
}

QString WithLine(int Line) { return QStringLiteral("DebugFixtureCaller (Line %1, \"DebugFixture.cpp\"").arg(Line); }

// The build ID of the ELF file at Path, in hex.
QByteArray BuildIdOf(const QString& Path)
{
  QFile File(Path);
  if (!File.open(QIODevice::ReadOnly))
    return {};
  Elf* Image = elf_begin(File.handle(), ELF_C_READ, nullptr);
  QByteArray Id;
  for (Elf_Scn* Section = nullptr; Image && (Section = elf_nextscn(Image, Section));) {
    GElf_Shdr Header;
    if (!gelf_getshdr(Section, &Header) || Header.sh_type != SHT_NOTE)
      continue;
    Elf_Data* Data = elf_getdata(Section, nullptr);
    GElf_Nhdr Note;
    std::size_t NameAt = 0;
    std::size_t DescAt = 0;
    for (std::size_t At = 0; Data && (At = gelf_getnote(Data, At, &Note, &NameAt, &DescAt)) > 0;) {
      if (Note.n_type == NT_GNU_BUILD_ID)
        Id = QByteArray(static_cast<const char*>(Data->d_buf) + DescAt, int(Note.n_descsz));
    }
  }
  if (Image)
    elf_end(Image);
  return Id.toHex();
}

// Each section of an ELF file by name: its flags and (inflated) bytes, as
// libelf reads them.
struct TSection {
  std::uint64_t Flags = 0;
  QByteArray Bytes;
};

std::map<std::string, TSection> SectionsOf(int Fd, bool Inflate)
{
  std::map<std::string, TSection> Sections;
  Elf* Image = elf_begin(Fd, ELF_C_READ, nullptr);
  std::size_t Names = 0;
  if (!Image || elf_getshdrstrndx(Image, &Names) != 0)
    return Sections;
  for (Elf_Scn* Section = nullptr; (Section = elf_nextscn(Image, Section));) {
    GElf_Shdr Header;
    gelf_getshdr(Section, &Header);
    if (Inflate && (Header.sh_flags & SHF_COMPRESSED))
      elf_compress(Section, 0, 0);
    TSection& Entry = Sections[elf_strptr(Image, Names, Header.sh_name)];
    Entry.Flags = Header.sh_flags;
    if (Elf_Data* Data = elf_getdata(Section, nullptr); Data && Data->d_buf && Header.sh_type != SHT_NOBITS)
      Entry.Bytes = QByteArray(static_cast<const char*>(Data->d_buf), qsizetype(Data->d_size));
  }
  elf_end(Image);
  return Sections;
}

// The line libdw reads for Address (in the module's own address space)
// from the debug file at Fd; 0 when it finds none.
int LineAt(int Fd, std::uint64_t Address)
{
  Dwarf* Debug = dwarf_begin(Fd, DWARF_C_READ);
  if (!Debug)
    return 0;
  int Line = 0;
  Dwarf_Die Unit;
  if (dwarf_addrdie(Debug, Address, &Unit)) {
    if (Dwarf_Line* Source = dwarf_getsrc_die(&Unit, Address))
      dwarf_lineno(Source, &Line);
  }
  dwarf_end(Debug);
  return Line;
}

// The header of the section called Name in the ELF file Bytes; null
// without one.
Elf64_Shdr* SectionHeader(QByteArray& Bytes, const char* Name)
{
  Elf64_Ehdr Header;
  std::memcpy(&Header, Bytes.constData(), sizeof Header);
  auto* Sections = reinterpret_cast<Elf64_Shdr*>(Bytes.data() + Header.e_shoff);
  const char* Names = Bytes.constData() + Sections[Header.e_shstrndx].sh_offset;
  for (int I = 0; I < Header.e_shnum; ++I) {
    if (std::strcmp(Names + Sections[I].sh_name, Name) == 0)
      return &Sections[I];
  }
  return nullptr;
}

class DebugInfoTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { elf_version(EV_CURRENT); }
  void TearDown() override { DebugInfo::SetDebugRoot("/usr/lib/debug"); }

  QTemporaryDir FDir;
};

}  // namespace

// A debug link is followed where debuggers follow it: beside the module,
// in its .debug folder, and below the debug root. The compressed file is
// read inflated. One whose checksum is not the link's is not the module's.
TEST_F(DebugInfoTest, FollowsDebugLinksToCompressedFiles)
{
  for (const QString& Place : {QStringLiteral("beside"), QStringLiteral(".debug"), QStringLiteral("root")}) {
    SCOPED_TRACE(Place.toStdString());
    const QString Folder = FDir.path() + QLatin1Char('/') + QString(Place).remove(QLatin1Char('.'));
    ASSERT_TRUE(QDir().mkpath(Folder));
    SplitFixture(Folder, true);
    const QString Debug = Folder + QStringLiteral("/module.debug");
    if (Place == QStringLiteral(".debug")) {
      QDir().mkpath(Folder + QStringLiteral("/.debug"));
      ASSERT_TRUE(QFile::rename(Debug, Folder + QStringLiteral("/.debug/module.debug")));
    } else if (Place == QStringLiteral("root")) {
      const QString Root = FDir.path() + QStringLiteral("/debug root");
      DebugInfo::SetDebugRoot(QFile::encodeName(Root));
      QDir().mkpath(Root + Folder);
      ASSERT_TRUE(QFile::rename(Debug, Root + Folder + QStringLiteral("/module.debug")));
    }
    const TCall Call = CallIn(Folder + QStringLiteral("/module.so"));
    const QString Line = Rendered(Call.ReturnAddress);
    EXPECT_TRUE(Line.contains(WithLine(Call.Line))) << Line.toStdString();
  }

  const QString Folder = FDir.path() + QStringLiteral("/changed");
  QDir().mkpath(Folder);
  SplitFixture(Folder, true);
  WriteAll(Folder + QStringLiteral("/module.debug"), ReadAll(Folder + QStringLiteral("/module.debug")) + "x");
  const TCall Call = CallIn(Folder + QStringLiteral("/module.so"));
  const QString Line = Rendered(Call.ReturnAddress);
  EXPECT_TRUE(Line.contains(QStringLiteral("DebugFixtureCaller"))) << Line.toStdString();
  EXPECT_FALSE(Line.contains(QStringLiteral("(Line"))) << Line.toStdString();

  // A large file of that name that is no ELF file is not read through for
  // its checksum: it is not all in the page cache after.
  const QString Large = FDir.path() + QStringLiteral("/large");
  QDir().mkpath(Large);
  SplitFixture(Large, true);
  const QByteArray LargePath = QFile::encodeName(Large + QStringLiteral("/module.debug"));
  WriteAll(QFile::decodeName(LargePath), "not an ELF file");
  constexpr std::size_t LargeSize = std::size_t(1) << 30;
  ASSERT_EQ(::truncate(LargePath.constData(), off_t(LargeSize)), 0);
  const TCall LargeCall = CallIn(Large + QStringLiteral("/module.so"));
  const QString Plain = Rendered(LargeCall.ReturnAddress);
  EXPECT_TRUE(Plain.contains(QStringLiteral("DebugFixtureCaller"))) << Plain.toStdString();
  EXPECT_FALSE(Plain.contains(QStringLiteral("(Line"))) << Plain.toStdString();
  const Posix::TFd LargeFile = Posix::Open(LargePath, O_RDONLY);
  void* Pages = ::mmap(nullptr, LargeSize, PROT_READ, MAP_SHARED, LargeFile.Get(), 0);
  ASSERT_NE(Pages, MAP_FAILED);
  std::vector<unsigned char> Cached(LargeSize / ::sysconf(_SC_PAGESIZE));
  ASSERT_EQ(::mincore(Pages, LargeSize, Cached.data()), 0);
  ::munmap(Pages, LargeSize);
  EXPECT_LT(std::count_if(Cached.begin(), Cached.end(), [](unsigned char Page) { return Page & 1; }),
            std::ptrdiff_t(Cached.size() / 100))
    << "the file was read through";
}

// The debug packages' place: by build ID below the debug root, with or
// without inflating ahead; a file there of another build ID is not taken.
TEST_F(DebugInfoTest, FindsDebugFilesByBuildId)
{
  const QString Root = FDir.path() + QStringLiteral("/root");
  DebugInfo::SetDebugRoot(QFile::encodeName(Root));
  for (const bool Ahead : {false, true}) {
    SCOPED_TRACE(Ahead ? "ahead" : "when needed");
    const QString Folder = FDir.path() + (Ahead ? QStringLiteral("/ahead") : QStringLiteral("/needed"));
    QDir().mkpath(Folder);
    SplitFixture(Folder, false);
    const QByteArray Id = BuildIdOf(Folder + QStringLiteral("/module.so"));
    ASSERT_GE(Id.size(), 4);
    const QString Place = Root + QStringLiteral("/.build-id/") + QString::fromLatin1(Id.left(2));
    QDir().mkpath(Place);
    QFile::remove(Place + QLatin1Char('/') + QString::fromLatin1(Id.mid(2)) + QStringLiteral(".debug"));
    ASSERT_TRUE(QFile::copy(Folder + QStringLiteral("/module.debug"),
                            Place + QLatin1Char('/') + QString::fromLatin1(Id.mid(2)) + QStringLiteral(".debug")));
    const TCall Call = CallIn(Folder + QStringLiteral("/module.so"));
    QString Line;
    if (Ahead) {
      DebugInfo::TInflationAhead Inflation(getpid());
      Inflation.Start({Call.ReturnAddress});
      Line = Rendered(Call.ReturnAddress);
    } else {
      Line = Rendered(Call.ReturnAddress);
    }
    EXPECT_TRUE(Line.contains(WithLine(Call.Line))) << Line.toStdString();
  }

  // The fixture's build ID, but the content of another file.
  const QString Folder = FDir.path() + QStringLiteral("/other");
  QDir().mkpath(Folder);
  SplitFixture(Folder, false);
  const QByteArray Id = BuildIdOf(Folder + QStringLiteral("/module.so"));
  const QString Debug = Root + QStringLiteral("/.build-id/") + QString::fromLatin1(Id.left(2)) + QLatin1Char('/') +
                        QString::fromLatin1(Id.mid(2)) + QStringLiteral(".debug");
  QFile::remove(Debug);
  WriteAll(Debug, ReadAll(QStringLiteral("/proc/self/exe")));
  const TCall Call = CallIn(Folder + QStringLiteral("/module.so"));
  EXPECT_FALSE(Rendered(Call.ReturnAddress).contains(QStringLiteral("(Line")));
}

// A module without debug information anywhere is rendered from its symbols,
// without asking a debug-information server: a report must not wait for
// the network.
TEST_F(DebugInfoTest, NeverAsksADebugInformationServer)
{
  const int Server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(Server, 0);
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t Size = sizeof Address;
  ASSERT_EQ(::bind(Server, reinterpret_cast<sockaddr*>(&Address), sizeof Address), 0);
  ASSERT_EQ(::listen(Server, 8), 0);
  ASSERT_EQ(::getsockname(Server, reinterpret_cast<sockaddr*>(&Address), &Size), 0);
  TestSupport::TTempEnvironment Environment;
  Environment.Set("DEBUGINFOD_URLS", QStringLiteral("http://127.0.0.1:%1").arg(ntohs(Address.sin_port)));
  Environment.Set("DEBUGINFOD_TIMEOUT", QStringLiteral("2"));
  Environment.Set("DEBUGINFOD_CACHE_PATH", Environment.Root() + QStringLiteral("/cache"));

  DebugInfo::SetDebugRoot(QFile::encodeName(FDir.path() + QStringLiteral("/empty root")));
  SplitFixture(FDir.path(), false);
  QFile::remove(FDir.path() + QStringLiteral("/module.debug"));
  const TCall Call = CallIn(FDir.path() + QStringLiteral("/module.so"));
  const QString Line = Rendered(Call.ReturnAddress);
  EXPECT_TRUE(Line.contains(QStringLiteral("DebugFixtureCaller"))) << Line.toStdString();
  EXPECT_FALSE(Line.contains(QStringLiteral("(Line")));

  ::fcntl(Server, F_SETFL, O_NONBLOCK);
  const int Asked = ::accept(Server, nullptr, nullptr);
  EXPECT_LT(Asked, 0) << "a debug-information server was asked";
  if (Asked >= 0)
    ::close(Asked);
  ::close(Server);
  EXPECT_FALSE(ReadAll(QStringLiteral("/proc/self/maps")).contains("libdebuginfod"));
}

// The inflated file holds what libelf's own inflating gives, section by
// section, except for the location lists, which nothing here reads.
TEST_F(DebugInfoTest, InflatesAsLibelfDoes)
{
  SplitFixture(FDir.path(), false);
  const QByteArray Path = QFile::encodeName(FDir.path() + QStringLiteral("/module.debug"));
  Posix::TFd Original = Posix::Open(Path, O_RDONLY);
  int Compressed = 0;
  for (const auto& [Name, Section] : SectionsOf(Original.Get(), false))
    Compressed += (Section.Flags & SHF_COMPRESSED) ? 1 : 0;
  EXPECT_GE(Compressed, 3);
  const std::map<std::string, TSection> Expected = SectionsOf(Original.Get(), true);
  const int Number = Original.Get();
  Posix::TFd Inflated = DebugInfo::Inflated(std::move(Original));
  ASSERT_NE(Inflated.Get(), Number) << "nothing was inflated";
  const std::map<std::string, TSection> Actual = SectionsOf(Inflated.Get(), false);

  ASSERT_EQ(Actual.size(), Expected.size());
  for (const auto& [Name, Section] : Expected) {
    SCOPED_TRACE(Name);
    ASSERT_EQ(Actual.count(Name), 1u);
    EXPECT_EQ(Actual.at(Name).Flags & SHF_COMPRESSED, 0u);
    if (Name == ".debug_loclists" || Name == ".debug_loc")
      EXPECT_TRUE(Actual.at(Name).Bytes.isEmpty());
    else
      EXPECT_EQ(Actual.at(Name).Bytes, Section.Bytes);
  }
  EXPECT_TRUE(Expected.count(".debug_info") && !Expected.at(".debug_info").Bytes.isEmpty());
}

// A file that cannot be read as compressed ELF comes back as it was given,
// for libdw to read as it is: no copy, no crash.
TEST_F(DebugInfoTest, LeavesUnreadableFilesAsTheyAre)
{
  SplitFixture(FDir.path(), false);
  const QByteArray Sound = ReadAll(FDir.path() + QStringLiteral("/module.debug"));
  const QByteArray Plain = ReadAll(FDir.path() + QStringLiteral("/module.so"));
  ASSERT_FALSE(Sound.isEmpty());

  // Where the first compressed section's header and stream are.
  Elf64_Ehdr Header;
  std::memcpy(&Header, Sound.constData(), sizeof Header);
  qsizetype Stream = -1;
  for (int I = 0; I < Header.e_shnum && Stream < 0; ++I) {
    Elf64_Shdr Section;
    std::memcpy(&Section, Sound.constData() + Header.e_shoff + I * sizeof Section, sizeof Section);
    if (Section.sh_flags & SHF_COMPRESSED)
      Stream = qsizetype(Section.sh_offset);
  }
  ASSERT_GT(Stream, 0);

  QByteArray Corrupt = Sound;
  for (qsizetype I = Stream + qsizetype(sizeof(Elf64_Chdr)) + 2; I < Stream + 64 && I < Corrupt.size(); ++I)
    Corrupt[I] = char(Corrupt[I] ^ 0x5A);
  QByteArray Longer = Sound;  // claims one byte more than it holds
  Elf64_Chdr Compression;
  std::memcpy(&Compression, Longer.constData() + Stream, sizeof Compression);
  ++Compression.ch_size;
  std::memcpy(Longer.data() + Stream, &Compression, sizeof Compression);
  QByteArray Huge = Sound;  // more than a whole file may inflate to
  Compression.ch_size = std::uint64_t(1) << 40;
  std::memcpy(Huge.data() + Stream, &Compression, sizeof Compression);

  const std::map<std::string, QByteArray> Cases = {{"empty", QByteArray()},
                                                   {"text", "not an ELF file at all\n"},
                                                   {"truncated", Sound.left(Sound.size() / 2)},
                                                   {"corrupt stream", Corrupt},
                                                   {"size too large", Longer},
                                                   {"huge", Huge},
                                                   {"uncompressed", Plain}};
  for (const auto& [Name, Bytes] : Cases) {
    SCOPED_TRACE(Name);
    const QString Path = FDir.path() + QStringLiteral("/case");
    QFile::remove(Path);
    WriteAll(Path, Bytes);
    Posix::TFd File = Posix::Open(QFile::encodeName(Path), O_RDONLY);
    const int Number = File.Get();
    ASSERT_GE(Number, 0);
    EXPECT_EQ(DebugInfo::Inflated(std::move(File)).Get(), Number);
  }
  // Not a regular file.
  Posix::TFd Folder = Posix::Open(QFile::encodeName(FDir.path()), O_RDONLY | O_DIRECTORY);
  const int Number = Folder.Get();
  EXPECT_EQ(DebugInfo::Inflated(std::move(Folder)).Get(), Number);
}

// Inflated for the addresses of one frame, a file keeps .debug_info only up
// to the end of the unit that holds them, when that leaves most of it out,
// and the address ranges of just the units it keeps: what libdw reads of
// it is whole. Addresses in the last unit give the whole file.
TEST_F(DebugInfoTest, CutsDebugInfoAfterTheUnitsAskedFor)
{
  SplitFixture(FDir.path(), false);
  const QByteArray Path = QFile::encodeName(FDir.path() + QStringLiteral("/module.debug"));
  const TCall Call = CallIn(FDir.path() + QStringLiteral("/module.so"));
  ASSERT_NE(Call.Base, 0u);
  const std::uint64_t InFirstUnit = Call.ReturnAddress - 1 - Call.Base;

  Posix::TFd Whole = DebugInfo::Inflated(Posix::Open(Path, O_RDONLY));
  const std::map<std::string, TSection> Full = SectionsOf(Whole.Get(), false);
  Posix::TFd Cut = DebugInfo::Inflated(Posix::Open(Path, O_RDONLY), nullptr, {InFirstUnit});
  const std::map<std::string, TSection> Kept = SectionsOf(Cut.Get(), false);
  const QByteArray Info = Kept.at(".debug_info").Bytes;
  ASSERT_FALSE(Info.isEmpty());
  EXPECT_LT(Info.size(), Full.at(".debug_info").Bytes.size() * 4 / 10);
  EXPECT_TRUE(Full.at(".debug_info").Bytes.startsWith(Info));
  EXPECT_LT(Kept.at(".debug_aranges").Bytes.size(), Full.at(".debug_aranges").Bytes.size());
  EXPECT_EQ(Kept.at(".debug_line").Bytes, Full.at(".debug_line").Bytes);

  // libdw finds the frame's unit and line in what is left.
  EXPECT_EQ(LineAt(Cut.Get(), InFirstUnit), Call.Line);

  // The second unit holds DebugFixtureBulk: asked for too, nothing is cut.
  void* Module = ::dlopen(QFile::encodeName(FDir.path() + QStringLiteral("/module.so")).constData(), RTLD_NOW);
  const auto Bulk = reinterpret_cast<std::uintptr_t>(::dlsym(Module, "DebugFixtureBulk"));
  ASSERT_NE(Bulk, 0u);
  Posix::TFd Both =
    DebugInfo::Inflated(Posix::Open(Path, O_RDONLY), nullptr, {InFirstUnit, Bulk + 4 - Call.Base});
  EXPECT_EQ(SectionsOf(Both.Get(), false).at(".debug_info").Bytes, Full.at(".debug_info").Bytes);
}

// The units of C++ code use every form of DWARF 5 (constants kept in the
// abbreviations among them): a cut is still made there, and libdw finds the
// unit in it.
TEST_F(DebugInfoTest, CutsTheDebugInfoOfCppUnits)
{
  const QString Debug = FDir.path() + QStringLiteral("/platform.debug");
  ObjCopy(FDir.path(), {QStringLiteral("--only-keep-debug"), QStringLiteral("--compress-debug-sections=zlib"),
                        QStringLiteral(PLATFORM_LIBRARY), Debug});
  const QByteArray Path = QFile::encodeName(Debug);
  Posix::TFd Whole = DebugInfo::Inflated(Posix::Open(Path, O_RDONLY));
  const qsizetype WholeInfo = SectionsOf(Whole.Get(), false).at(".debug_info").Bytes.size();

  Dwarf* Units = dwarf_begin(Whole.Get(), DWARF_C_READ);
  ASSERT_NE(Units, nullptr);
  const auto [Low, UnitOffset] = TestSupport::FirstUnitWithCode(Units);
  dwarf_end(Units);
  ASSERT_NE(Low, 0u);

  Posix::TFd Cut = DebugInfo::Inflated(Posix::Open(Path, O_RDONLY), nullptr, {Low});
  EXPECT_LT(SectionsOf(Cut.Get(), false).at(".debug_info").Bytes.size(), WholeInfo * 4 / 10);
  Dwarf* Kept = dwarf_begin(Cut.Get(), DWARF_C_READ);
  ASSERT_NE(Kept, nullptr);
  Dwarf_Die Unit;
  ASSERT_NE(dwarf_addrdie(Kept, Low, &Unit), nullptr);
  EXPECT_EQ(dwarf_dieoffset(&Unit), UnitOffset);
  dwarf_end(Kept);
}

// Files that are odd but that libdw reads are read as well inflated, cut
// or not: a set of address ranges without its end mark, which libdw reads
// on into the next set, and a compressed section of another type than
// plain bits, which libelf reads by its type once inflated.
TEST_F(DebugInfoTest, OddFilesThatLibdwReadsKeepTheirLines)
{
  SplitFixture(FDir.path(), false);
  const TCall Call = CallIn(FDir.path() + QStringLiteral("/module.so"));
  ASSERT_NE(Call.Base, 0u);
  const std::uint64_t InFirstUnit = Call.ReturnAddress - 1 - Call.Base;

  // The ranges of the call's unit run on without an end mark.
  ObjCopy(FDir.path(), {QStringLiteral("--decompress-debug-sections"), QStringLiteral("module.debug"),
                        QStringLiteral("plain.debug")});
  ObjCopy(FDir.path(), {QStringLiteral("--dump-section"), QStringLiteral(".debug_aranges=aranges"),
                        QStringLiteral("plain.debug")});
  QByteArray Ranges = ReadAll(FDir.path() + QStringLiteral("/aranges"));
  // The end mark of the set that holds the call (32-bit sets of 64-bit
  // pairs, the first pair 16 bytes into its set).
  qsizetype Mark = -1;
  for (qsizetype At = 0; Mark < 0 && At + 16 <= Ranges.size();) {
    std::uint32_t Length = 0;
    std::memcpy(&Length, Ranges.constData() + At, sizeof Length);
    bool Holds = false;
    for (qsizetype Pair = At + 16; Pair + 16 <= At + 4 + qsizetype(Length); Pair += 16) {
      std::uint64_t From = 0;
      std::uint64_t Span = 0;
      std::memcpy(&From, Ranges.constData() + Pair, sizeof From);
      std::memcpy(&Span, Ranges.constData() + Pair + 8, sizeof Span);
      Holds = Holds || (InFirstUnit >= From && InFirstUnit - From < Span);
      if (From == 0 && Span == 0) {
        Mark = Holds ? Pair : -1;
        break;
      }
    }
    At += 4 + qsizetype(Length);
  }
  ASSERT_GT(Mark, 0) << "no set of ranges holds the call";
  Ranges[Mark + 8] = 0x10;
  WriteAll(FDir.path() + QStringLiteral("/aranges"), Ranges);
  // In two steps: objcopy leaves an updated section uncompressed, marked
  // compressed.
  ObjCopy(FDir.path(), {QStringLiteral("--update-section"), QStringLiteral(".debug_aranges=aranges"),
                        QStringLiteral("plain.debug")});
  ObjCopy(FDir.path(), {QStringLiteral("--compress-debug-sections=zlib"), QStringLiteral("plain.debug"),
                        QStringLiteral("unended.debug")});

  QByteArray Typed = ReadAll(FDir.path() + QStringLiteral("/module.debug"));
  Elf64_Shdr* Lists = SectionHeader(Typed, ".debug_rnglists");
  ASSERT_NE(Lists, nullptr);
  ASSERT_TRUE(Lists->sh_flags & SHF_COMPRESSED);
  Lists->sh_type = SHT_SYMTAB;
  WriteAll(FDir.path() + QStringLiteral("/typed.debug"), Typed);

  for (const char* Name : {"unended.debug", "typed.debug"}) {
    SCOPED_TRACE(Name);
    const QByteArray Path = QFile::encodeName(FDir.path() + QLatin1Char('/') + QLatin1String(Name));
    ASSERT_EQ(LineAt(Posix::Open(Path, O_RDONLY).Get(), InFirstUnit), Call.Line) << "libdw does not read it";
    EXPECT_EQ(LineAt(DebugInfo::Inflated(Posix::Open(Path, O_RDONLY)).Get(), InFirstUnit), Call.Line);
    EXPECT_EQ(LineAt(DebugInfo::Inflated(Posix::Open(Path, O_RDONLY), nullptr, {InFirstUnit}).Get(), InFirstUnit),
              Call.Line);
  }
}
