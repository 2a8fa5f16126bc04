#include "platform/DebugInfo.h"

#include <QByteArray>
#include <QFileInfo>

#include <dwarf.h>
#include <elf.h>
#include <elfutils/libdw.h>
#include <elfutils/libdwelf.h>
#include <gelf.h>
#include <fcntl.h>
#include <libdeflate.h>
#include <zlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <condition_variable>
#include <cstdio>
#include <cstdint>
#include <map>
#include <mutex>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace DebugInfo {

namespace {
QByteArray DebugRoot = "/usr/lib/debug";
}  // namespace

void SetDebugRoot(const QByteArray& Folder) { DebugRoot = Folder; }

const Dwfl_Callbacks ProcessCallbacks = {dwfl_linux_proc_find_elf, FindOnThisMachine, nullptr, nullptr};

namespace {

// A file that would inflate to more than this is left to libdw as it is.
constexpr std::uint64_t MaxInflatedSize = std::uint64_t(1) << 30;
constexpr std::uint64_t MaxAlignment = 4096;

// What a module's user data points at once its debug file was looked for:
// a later call for it looks for the shared file its debug file refers to.
char Searched;

class TMapping {
public:
  TMapping(void* Data, std::size_t Size) : FData(Data), FSize(Size) {}
  ~TMapping()
  {
    if (FData != MAP_FAILED)
      ::munmap(FData, FSize);
  }
  TMapping(const TMapping&) = delete;
  TMapping& operator=(const TMapping&) = delete;

  bool IsMapped() const { return FData != MAP_FAILED; }
  unsigned char* Bytes() const { return static_cast<unsigned char*>(FData); }

private:
  void* FData;
  std::size_t FSize;
};

// One compressed section and where it goes.
struct TInflation {
  const unsigned char* Source;
  std::size_t SourceSize;
  std::size_t Target;  // offset in the new file
  std::size_t TargetSize;
};

// How one section of the new file is made.
struct TPlan {
  enum { None, Empty, Copy, Inflate, Replace } How = None;
  std::uint64_t Size = 0;   // in the new file
  std::uint64_t Align = 1;  // in the new file
  std::size_t Source = 0;   // offset of its bytes (for Inflate, of its stream)
  std::size_t SourceSize = 0;
  QByteArray Bytes;  // for Replace
};

// The new file: its sections' headers and how each is made.
struct TLayout {
  std::size_t HeadSize = 0;  // file header and program headers, copied as they are
  std::vector<Elf64_Shdr> Sections;
  std::vector<TPlan> Plans;  // per section
  std::size_t SectionTable = 0;
  std::size_t Size = 0;

  bool IsCut() const
  {
    return std::any_of(Plans.begin(), Plans.end(), [](const TPlan& Plan) { return Plan.How == TPlan::Replace; });
  }
};

using TInflater = std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)>;

TInflater NewInflater() { return TInflater(libdeflate_alloc_decompressor(), &libdeflate_free_decompressor); }

// Inflates the zlib stream Source into exactly TargetSize bytes at Target.
bool InflateExactly(libdeflate_decompressor* Inflater, const unsigned char* Source, std::size_t SourceSize,
                    unsigned char* Target, std::size_t TargetSize)
{
  std::size_t Actual = 0;
  return Inflater &&
         libdeflate_zlib_decompress(Inflater, Source, SourceSize, Target, TargetSize, &Actual) == LIBDEFLATE_SUCCESS &&
         Actual == TargetSize;
}

bool Fits(std::uint64_t Offset, std::uint64_t Size, std::size_t Whole)
{
  return Offset <= Whole && Size <= Whole - Offset;
}

std::size_t AlignedUp(std::size_t Offset, std::uint64_t Alignment)
{
  return Alignment > 1 ? (Offset + Alignment - 1) & ~std::size_t(Alignment - 1) : Offset;
}

bool IsLocationList(std::string_view Name) { return Name == ".debug_loclists" || Name == ".debug_loc"; }

std::uint64_t Read64(const char* Bytes)
{
  std::uint64_t Value;
  std::memcpy(&Value, Bytes, sizeof Value);
  return Value;
}

std::uint32_t Read32(const char* Bytes)
{
  std::uint32_t Value;
  std::memcpy(&Value, Bytes, sizeof Value);
  return Value;
}

// One set of .debug_aranges: where it lies, and the unit it describes.
struct TArangeSet {
  qsizetype Start, End;
  std::uint64_t Unit;
  bool Needed;
};

// The sets of .debug_aranges (version 2, 64-bit addresses), each marked
// when it holds one of Addresses; none when they cannot be read so.
std::optional<std::vector<TArangeSet>> ArangeSets(const QByteArray& Aranges,
                                                  const std::vector<std::uint64_t>& Addresses)
{
  std::vector<TArangeSet> Sets;
  const char* Bytes = Aranges.constData();
  for (qsizetype At = 0; At + 4 <= Aranges.size();) {
    std::uint64_t Length = Read32(Bytes + At);
    qsizetype Header = 4;
    int OffsetSize = 4;
    if (Length == 0xffffffff) {
      if (At + 12 > Aranges.size())
        return std::nullopt;
      Length = Read64(Bytes + At + 4);
      Header = 12;
      OffsetSize = 8;
    } else if (Length >= 0xfffffff0) {
      return std::nullopt;
    }
    if (Length > std::uint64_t(Aranges.size() - At - Header) || Length < std::uint64_t(2 + OffsetSize + 2))
      return std::nullopt;
    const qsizetype End = At + Header + qsizetype(Length);
    const char* Set = Bytes + At + Header;
    std::uint16_t Version;
    std::memcpy(&Version, Set, sizeof Version);
    const std::uint64_t Unit = OffsetSize == 4 ? Read32(Set + 2) : Read64(Set + 2);
    if (Version != 2 || Set[2 + OffsetSize] != 8 || Set[3 + OffsetSize] != 0)
      return std::nullopt;
    // The pairs start at a multiple of their size from the set's start.
    // libdw reads pairs up to the end mark, past the set's end when it has
    // none: a set without one is read into the next, which a cut may drop.
    bool Needed = false;
    bool Ended = false;
    for (qsizetype Pair = At + ((Header + 2 + OffsetSize + 2 + 15) & ~qsizetype(15)); !Ended && Pair + 16 <= End;
         Pair += 16) {
      const std::uint64_t From = Read64(Bytes + Pair);
      const std::uint64_t Span = Read64(Bytes + Pair + 8);
      Ended = From == 0 && Span == 0;
      for (const std::uint64_t Address : Addresses)
        Needed = Needed || (Address >= From && Address - From < Span);
    }
    if (!Ended)
      return std::nullopt;
    Sets.push_back({At, End, Unit, Needed});
    At = End;
  }
  return Sets;
}

// Inflates the zlib stream Stream until Out holds Want bytes.
bool InflateTo(z_stream& Stream, QByteArray& Out, qsizetype Want)
{
  if (Out.size() < Want)
    Out.resize(Want);
  while (qsizetype(Stream.total_out) < Want) {
    Stream.next_out = reinterpret_cast<Bytef*>(Out.data()) + Stream.total_out;
    Stream.avail_out = uInt(std::min<qsizetype>(Want - qsizetype(Stream.total_out), 1 << 30));
    const int Result = inflate(&Stream, Z_NO_FLUSH);
    if (Result == Z_STREAM_END)
      return qsizetype(Stream.total_out) >= Want;
    if (Result != Z_OK)
      return false;
  }
  return true;
}

// What is left of .debug_info and .debug_aranges when only the units that
// hold given addresses are kept.
struct TCut {
  QByteArray Info;
  QByteArray Aranges;
};

// A cut pays when it leaves most of .debug_info uninflated; it is then
// inflated by the slower streaming inflater, and only so far.
constexpr double MaxCutShare = 0.4;

// .debug_info (the zlib stream Info, InfoSize bytes inflated) up to the end
// of the last unit that holds one of Addresses, with the address ranges of
// the units before that end: nothing after it is asked for. None when no
// unit holds one of them, the cut would not save much, or the sections
// cannot be read so.
std::optional<TCut> CutToUnits(const unsigned char* Info, std::size_t InfoStreamSize, std::uint64_t InfoSize,
                               const QByteArray& Aranges, const std::vector<std::uint64_t>& Addresses)
{
  const std::optional<std::vector<TArangeSet>> Sets = ArangeSets(Aranges, Addresses);
  if (!Sets)
    return std::nullopt;
  std::optional<std::uint64_t> Last;
  for (const TArangeSet& Set : *Sets) {
    if (Set.Needed)
      Last = std::max(Last.value_or(0), Set.Unit);
  }
  if (!Last || *Last + 12 > InfoSize || double(*Last) > MaxCutShare * double(InfoSize))
    return std::nullopt;

  z_stream Stream{};
  if (inflateInit(&Stream) != Z_OK)
    return std::nullopt;
  Stream.next_in = const_cast<Bytef*>(Info);
  Stream.avail_in = uInt(std::min<std::size_t>(InfoStreamSize, std::numeric_limits<uInt>::max()));
  TCut Cut;
  std::optional<TCut> Result;
  if (InflateTo(Stream, Cut.Info, qsizetype(*Last + 12))) {
    const char* Unit = Cut.Info.constData() + *Last;
    const std::uint32_t Short = Read32(Unit);
    const std::uint64_t Long = Short == 0xffffffff ? Read64(Unit + 4) : 0;
    const std::uint64_t End = Short == 0xffffffff   ? (Long <= InfoSize ? *Last + 12 + Long : InfoSize + 1)
                              : Short < 0xfffffff0 ? *Last + 4 + Short
                                                   : InfoSize + 1;
    if (End <= InfoSize && double(End) <= MaxCutShare * double(InfoSize) &&
        InflateTo(Stream, Cut.Info, qsizetype(End))) {
      Cut.Info.truncate(qsizetype(End));
      for (const TArangeSet& Set : *Sets) {
        if (Set.Unit < End)
          Cut.Aranges.append(Aranges.constData() + Set.Start, Set.End - Set.Start);
      }
      Result = std::move(Cut);
    }
  }
  inflateEnd(&Stream);
  return Result;
}

// The bytes a section copied or inflated gets.
std::optional<QByteArray> BytesOf(const unsigned char* File, const TPlan& Plan)
{
  if (Plan.How == TPlan::Copy)
    return QByteArray(reinterpret_cast<const char*>(File + Plan.Source), qsizetype(Plan.Size));
  if (Plan.How != TPlan::Inflate)
    return std::nullopt;
  QByteArray Bytes(qsizetype(Plan.Size), Qt::Uninitialized);
  if (!InflateExactly(NewInflater().get(), File + Plan.Source, Plan.SourceSize,
                      reinterpret_cast<unsigned char*>(Bytes.data()), Plan.Size))
    return std::nullopt;
  return Bytes;
}

// The layout of File inflated; none when nothing in it is compressed or it
// is not an ELF file of this machine with sound headers. With Addresses,
// only the units of .debug_info that hold them are kept, where that pays.
std::optional<TLayout> LayoutOf(const unsigned char* File, std::size_t Size,
                                const std::vector<std::uint64_t>& Addresses)
{
  static_assert(std::endian::native == std::endian::little);
  Elf64_Ehdr Header;
  if (Size < sizeof Header)
    return std::nullopt;
  std::memcpy(&Header, File, sizeof Header);
  if (std::memcmp(Header.e_ident, ELFMAG, SELFMAG) != 0 || Header.e_ident[EI_CLASS] != ELFCLASS64 ||
      Header.e_ident[EI_DATA] != ELFDATA2LSB || Header.e_shentsize != sizeof(Elf64_Shdr) || Header.e_shnum == 0 ||
      Header.e_shnum >= SHN_LORESERVE || Header.e_shstrndx >= Header.e_shnum ||
      !Fits(Header.e_shoff, std::uint64_t(Header.e_shnum) * sizeof(Elf64_Shdr), Size))
    return std::nullopt;

  TLayout Layout;
  Layout.HeadSize = sizeof Header;
  if (Header.e_phnum > 0) {
    const std::uint64_t Table = std::uint64_t(Header.e_phnum) * sizeof(Elf64_Phdr);
    if (Header.e_phentsize != sizeof(Elf64_Phdr) || !Fits(Header.e_phoff, Table, Size))
      return std::nullopt;
    Layout.HeadSize = std::max<std::size_t>(Layout.HeadSize, Header.e_phoff + Table);
  }
  Layout.Sections.resize(Header.e_shnum);
  std::memcpy(Layout.Sections.data(), File + Header.e_shoff, Header.e_shnum * sizeof(Elf64_Shdr));

  const Elf64_Shdr& Names = Layout.Sections[Header.e_shstrndx];
  if (Names.sh_type != SHT_STRTAB || (Names.sh_flags & SHF_COMPRESSED) || !Fits(Names.sh_offset, Names.sh_size, Size))
    return std::nullopt;
  const auto NameOf = [&](const Elf64_Shdr& Section) {
    if (Section.sh_name >= Names.sh_size)
      return std::string_view();
    const char* Start = reinterpret_cast<const char*>(File + Names.sh_offset + Section.sh_name);
    return std::string_view(Start, ::strnlen(Start, Names.sh_size - Section.sh_name));
  };

  // What each section becomes.
  std::vector<TPlan>& Plans = Layout.Plans;
  Plans.resize(Layout.Sections.size());
  std::optional<std::size_t> Info;
  std::optional<std::size_t> Aranges;
  bool AnyCompressed = false;
  for (std::size_t I = 1; I < Layout.Sections.size(); ++I) {
    const Elf64_Shdr& Section = Layout.Sections[I];
    TPlan& Plan = Plans[I];
    if (Section.sh_type == SHT_NOBITS || Section.sh_type == SHT_NULL)
      continue;
    if (!std::has_single_bit(std::max<std::uint64_t>(Section.sh_addralign, 1)) ||
        Section.sh_addralign > MaxAlignment || !Fits(Section.sh_offset, Section.sh_size, Size))
      return std::nullopt;
    const std::string_view Name = NameOf(Section);
    Plan.Align = Section.sh_addralign;
    if (IsLocationList(Name)) {
      Plan.How = TPlan::Empty;
      Plan.Size = 0;
    } else if (Section.sh_flags & SHF_COMPRESSED) {
      // libelf hands out inflated bytes of any type as bytes, but reads
      // plain ones by their type: a typed section stays with libelf.
      Elf64_Chdr Compression;
      if (Section.sh_type != SHT_PROGBITS || Section.sh_size < sizeof Compression)
        return std::nullopt;
      std::memcpy(&Compression, File + Section.sh_offset, sizeof Compression);
      if (Compression.ch_type != ELFCOMPRESS_ZLIB || Compression.ch_size > MaxInflatedSize ||
          !std::has_single_bit(std::max<std::uint64_t>(Compression.ch_addralign, 1)) ||
          Compression.ch_addralign > MaxAlignment)
        return std::nullopt;
      Plan = {TPlan::Inflate, Compression.ch_size, Compression.ch_addralign, Section.sh_offset + sizeof Compression,
              std::size_t(Section.sh_size - sizeof Compression), {}};
      AnyCompressed = true;
    } else {
      Plan = {TPlan::Copy, Section.sh_size, Plan.Align, Section.sh_offset, Section.sh_size, {}};
    }
    if (Name == ".debug_info")
      Info = I;
    else if (Name == ".debug_aranges")
      Aranges = I;
  }
  if (!AnyCompressed)
    return std::nullopt;

  if (!Addresses.empty() && Info && Aranges && Plans[*Info].How == TPlan::Inflate) {
    const std::optional<QByteArray> Ranges = BytesOf(File, Plans[*Aranges]);
    const TPlan& Whole = Plans[*Info];
    if (std::optional<TCut> Cut =
          Ranges ? CutToUnits(File + Whole.Source, Whole.SourceSize, Whole.Size, *Ranges, Addresses) : std::nullopt) {
      for (auto [I, Bytes] : {std::pair{*Info, &Cut->Info}, std::pair{*Aranges, &Cut->Aranges}}) {
        Plans[I].How = TPlan::Replace;
        Plans[I].Size = std::uint64_t(Bytes->size());
        Plans[I].Bytes = std::move(*Bytes);
      }
    }
  }

  std::size_t Cursor = Layout.HeadSize;
  for (std::size_t I = 1; I < Layout.Sections.size(); ++I) {
    const TPlan& Plan = Plans[I];
    if (Plan.How == TPlan::None)
      continue;
    Elf64_Shdr& Section = Layout.Sections[I];
    Section.sh_flags &= ~std::uint64_t(SHF_COMPRESSED);
    Section.sh_addralign = Plan.Align;
    Section.sh_size = Plan.Size;
    Section.sh_offset = AlignedUp(Cursor, Section.sh_addralign);
    Cursor = Section.sh_offset + Section.sh_size;
    if (Cursor > MaxInflatedSize)
      return std::nullopt;
  }
  Layout.SectionTable = AlignedUp(Cursor, alignof(Elf64_Shdr));
  Layout.Size = Layout.SectionTable + Layout.Sections.size() * sizeof(Elf64_Shdr);
  return Layout;
}

bool Inflate(const std::vector<const TInflation*>& Work, unsigned char* Target)
{
  const TInflater Inflater = NewInflater();
  return std::all_of(Work.begin(), Work.end(), [&](const TInflation* Section) {
    return InflateExactly(Inflater.get(), Section->Source, Section->SourceSize, Target + Section->Target,
                          Section->TargetSize);
  });
}

// Inflates every section, the largest first, on this thread and Second
// (or a thread of its own), each taking what leaves the two most even.
bool InflateAll(const std::vector<TInflation>& Inflations, unsigned char* Target, TWorker* Second)
{
  std::vector<const TInflation*> BySize;
  for (const TInflation& Section : Inflations)
    BySize.push_back(&Section);
  std::sort(BySize.begin(), BySize.end(),
            [](const TInflation* A, const TInflation* B) { return A->SourceSize > B->SourceSize; });
  std::vector<const TInflation*> Shares[2];
  std::size_t Loads[2] = {0, 0};
  for (const TInflation* Section : BySize) {
    const int Lighter = Loads[1] < Loads[0] ? 1 : 0;
    Shares[Lighter].push_back(Section);
    Loads[Lighter] += Section->SourceSize;
  }
  if (Shares[1].empty())
    return Inflate(Shares[0], Target);
  std::optional<TWorker> Started;
  if (!Second)
    Second = &Started.emplace();
  bool Other = false;
  Second->Start([&] { Other = Inflate(Shares[1], Target); });
  const bool Own = Inflate(Shares[0], Target);
  Second->Wait();
  return Own && Other;
}

bool Write(const unsigned char* File, const TLayout& Layout, unsigned char* Target, TWorker* Second)
{
  std::memcpy(Target, File, Layout.HeadSize);
  Elf64_Ehdr Header;
  std::memcpy(&Header, Target, sizeof Header);
  Header.e_shoff = Layout.SectionTable;
  std::memcpy(Target, &Header, sizeof Header);
  std::vector<TInflation> Inflations;
  for (std::size_t I = 0; I < Layout.Sections.size(); ++I) {
    const TPlan& Plan = Layout.Plans[I];
    unsigned char* Place = Target + Layout.Sections[I].sh_offset;
    if (Plan.How == TPlan::Copy)
      std::memcpy(Place, File + Plan.Source, Plan.Size);
    else if (Plan.How == TPlan::Replace)
      std::memcpy(Place, Plan.Bytes.constData(), Plan.Size);
    else if (Plan.How == TPlan::Inflate)
      Inflations.push_back({File + Plan.Source, Plan.SourceSize, Layout.Sections[I].sh_offset, Plan.Size});
  }
  std::memcpy(Target + Layout.SectionTable, Layout.Sections.data(), Layout.Sections.size() * sizeof(Elf64_Shdr));
  return InflateAll(Inflations, Target, Second);
}

// The build ID noted in the ELF file at Fd; empty without one.
QByteArray BuildIdOf(int Fd)
{
  Elf* File = elf_begin(Fd, ELF_C_READ_MMAP, nullptr);
  if (!File)
    return {};
  const void* Id = nullptr;
  const ssize_t Size = dwelf_elf_gnu_build_id(File, &Id);
  QByteArray Result = Size > 0 ? QByteArray(static_cast<const char*>(Id), int(Size)) : QByteArray();
  elf_end(File);
  return Result;
}

// The CRC-32 of the whole file at Fd, as a debug link notes it.
std::optional<std::uint32_t> Crc32Of(int Fd)
{
  struct stat Status;
  if (::fstat(Fd, &Status) != 0 || !S_ISREG(Status.st_mode))
    return std::nullopt;
  if (Status.st_size == 0)
    return libdeflate_crc32(0, nullptr, 0);
  const TMapping File(::mmap(nullptr, std::size_t(Status.st_size), PROT_READ, MAP_PRIVATE, Fd, 0),
                      std::size_t(Status.st_size));
  if (!File.IsMapped())
    return std::nullopt;
  return libdeflate_crc32(0, File.Bytes(), std::size_t(Status.st_size));
}

// Hands File, the debug file at Path, to libdwfl, with its name.
int Handed(Posix::TFd File, const QByteArray& Path, char** DebugFileName)
{
  if (DebugFileName)
    *DebugFileName = ::strdup(Path.constData());
  return File.Release();
}

// Hands the debug file at Path to libdwfl inflated.
int Found(Posix::TFd File, const QByteArray& Path, char** DebugFileName)
{
  return Handed(Inflated(std::move(File)), Path, DebugFileName);
}

bool IsElfFile(int Fd)
{
  char Magic[SELFMAG];
  return ::pread(Fd, Magic, SELFMAG, 0) == SELFMAG && std::memcmp(Magic, ELFMAG, SELFMAG) == 0;
}

bool IsRegularFile(int Fd)
{
  struct stat Status;
  return ::fstat(Fd, &Status) == 0 && S_ISREG(Status.st_mode);
}

// Where the system's debug packages put the debug file of build ID Id.
QByteArray BuildIdPath(const QByteArray& Id)
{
  return DebugRoot + "/.build-id/" + Id.left(1).toHex() + '/' + Id.mid(1).toHex() + ".debug";
}

// The debug file of build ID Id, opened when it is one.
Posix::TFd OpenByBuildId(const QByteArray& Id, const QByteArray& Path)
{
  Posix::TFd File = Posix::Open(Path, O_RDONLY | O_NONBLOCK);
  if (!File.IsOpen() || !IsRegularFile(File.Get()) || BuildIdOf(File.Get()) != Id)
    return {};
  return File;
}

// The debug files a TInflationAhead inflates, by path: empty while still
// to come, then the inflated file until a session takes it.
struct TAhead {
  std::mutex Mutex;
  std::condition_variable Ready;
  std::map<QByteArray, std::optional<Posix::TFd>> Files;
} Ahead;

// The inflated file at Path if one is (to be) inflated ahead; waits for it.
std::optional<Posix::TFd> TakeAhead(const QByteArray& Path)
{
  std::unique_lock Lock(Ahead.Mutex);
  auto It = Ahead.Files.end();
  Ahead.Ready.wait(Lock, [&] {
    It = Ahead.Files.find(Path);
    return It == Ahead.Files.end() || It->second.has_value();
  });
  if (It == Ahead.Files.end())
    return std::nullopt;
  std::optional<Posix::TFd> File = std::move(It->second);
  Ahead.Files.erase(It);
  return File;
}

// The debug file named by the module's build ID, where the system's
// debug packages put it.
int FindByBuildId(const QByteArray& Id, char** DebugFileName)
{
  if (Id.size() < 2)
    return -1;
  const QByteArray Path = BuildIdPath(Id);
  if (std::optional<Posix::TFd> Taken = TakeAhead(Path); Taken && Taken->IsOpen())
    return Handed(std::move(*Taken), Path, DebugFileName);
  Posix::TFd File = OpenByBuildId(Id, Path);
  return File.IsOpen() ? Found(std::move(File), Path, DebugFileName) : -1;
}

// A module of a process, and where in its file the addresses it holds are.
struct TModuleAt {
  QByteArray File;
  std::vector<std::uint64_t> Offsets;
};

// The modules of process Pid that hold the return addresses Addresses (the
// calls one byte before them), each once, in the order of the addresses.
std::vector<TModuleAt> ModulesAt(pid_t Pid, const std::vector<std::uintptr_t>& Addresses)
{
  struct TRange {
    std::uintptr_t Start, End;
    std::uint64_t Offset;
    QByteArray File;
  };
  std::vector<TRange> Ranges;
  const std::optional<QByteArray> Maps =
    Posix::ReadFileAt(AT_FDCWD, QByteArray("/proc/" + QByteArray::number(Pid) + "/maps").constData());
  for (const QByteArray& Line : Maps.value_or(QByteArray()).split('\n')) {
    unsigned long long Start = 0;
    unsigned long long End = 0;
    unsigned long long Offset = 0;
    int PathAt = 0;
    if (std::sscanf(Line.constData(), "%llx-%llx %*s %llx %*s %*s %n", &Start, &End, &Offset, &PathAt) < 3 ||
        PathAt <= 0 || PathAt >= Line.size() || Line[PathAt] != '/')
      continue;
    Ranges.push_back({std::uintptr_t(Start), std::uintptr_t(End), Offset, Line.mid(PathAt)});
  }
  std::vector<TModuleAt> Modules;
  for (const std::uintptr_t Address : Addresses) {
    const std::uintptr_t Call = Address - 1;
    const auto Range = std::find_if(Ranges.begin(), Ranges.end(),
                                    [Call](const TRange& R) { return Call >= R.Start && Call < R.End; });
    if (Range == Ranges.end())
      continue;
    auto Module = std::find_if(Modules.begin(), Modules.end(),
                               [&](const TModuleAt& M) { return M.File == Range->File; });
    if (Module == Modules.end())
      Module = Modules.insert(Modules.end(), TModuleAt{Range->File, {}});
    Module->Offsets.push_back(Range->Offset + (Call - Range->Start));
  }
  return Modules;
}

// The file offsets Offsets of the ELF file at Fd as the addresses its
// program headers load them at: the addresses its debug file speaks of.
std::vector<std::uint64_t> LinkAddresses(int Fd, const std::vector<std::uint64_t>& Offsets)
{
  std::vector<std::uint64_t> Addresses;
  Elf* Image = elf_begin(Fd, ELF_C_READ_MMAP, nullptr);
  std::size_t Count = 0;
  if (Image && elf_getphdrnum(Image, &Count) == 0) {
    for (const std::uint64_t Offset : Offsets) {
      for (std::size_t I = 0; I < Count; ++I) {
        GElf_Phdr Segment;
        if (gelf_getphdr(Image, int(I), &Segment) && Segment.p_type == PT_LOAD && Offset >= Segment.p_offset &&
            Offset - Segment.p_offset < Segment.p_filesz) {
          Addresses.push_back(Offset - Segment.p_offset + Segment.p_vaddr);
          break;
        }
      }
    }
  }
  if (Image)
    elf_end(Image);
  return Addresses;
}

// Most stacks pass through a handful of modules; a stack through more
// inflates the rest when it comes to them.
constexpr std::size_t MaxModulesAhead = 8;

void InflateAhead(pid_t Pid, const std::vector<std::uintptr_t>& Addresses, TWorker& Second)
{
  // Each file is first announced, then inflated: a session that comes to
  // one meanwhile waits for it instead of inflating it a second time.
  struct TWork {
    QByteArray Path;
    Posix::TFd File;
    std::vector<std::uint64_t> Addresses;
  };
  std::vector<TWork> Work;
  std::vector<TModuleAt> Modules = ModulesAt(Pid, Addresses);
  Modules.resize(std::min(Modules.size(), MaxModulesAhead));
  for (const TModuleAt& Module : Modules) {
    const Posix::TFd ModuleFile = Posix::Open(Module.File, O_RDONLY | O_NONBLOCK);
    if (!ModuleFile.IsOpen() || !IsRegularFile(ModuleFile.Get()))
      continue;
    const QByteArray Id = BuildIdOf(ModuleFile.Get());
    if (Id.size() < 2)
      continue;
    const QByteArray Path = BuildIdPath(Id);
    Posix::TFd File = OpenByBuildId(Id, Path);
    if (!File.IsOpen())
      continue;
    const std::lock_guard Lock(Ahead.Mutex);
    if (Ahead.Files.emplace(Path, std::nullopt).second)
      Work.push_back({Path, std::move(File), LinkAddresses(ModuleFile.Get(), Module.Offsets)});
  }
  for (TWork& Item : Work) {
    Posix::TFd Inflation = Inflated(std::move(Item.File), &Second, Item.Addresses);
    const std::lock_guard Lock(Ahead.Mutex);
    Ahead.Files[Item.Path] = std::move(Inflation);
    Ahead.Ready.notify_all();
  }
}

// The debug file named by the module's debug link: beside the module, in
// its .debug folder, or below the debug root, for the module's folder as
// named and as resolved. Its CRC and build ID must be the module's.
int FindByLink(const QByteArray& Id, const char* FileName, const char* Link, GElf_Word Crc, char** DebugFileName)
{
  if (!FileName || !Link || !*Link || std::strchr(Link, '/'))
    return -1;
  const QFileInfo Module(QFile::decodeName(FileName));
  QList<QByteArray> Folders{QFile::encodeName(Module.absolutePath())};
  const QString Resolved = Module.canonicalPath();
  if (!Resolved.isEmpty() && QFile::encodeName(Resolved) != Folders.first())
    Folders.append(QFile::encodeName(Resolved));
  QList<QByteArray> Candidates;
  for (const QByteArray& Folder : Folders)
    Candidates << Folder + '/' + Link << Folder + "/.debug/" + Link << DebugRoot + Folder + '/' + Link;
  Candidates << DebugRoot + '/' + Link;
  const QByteArray ModulePath = QFile::encodeName(Module.canonicalFilePath());
  for (const QByteArray& Path : Candidates) {
    Posix::TFd File = Posix::Open(Path, O_RDONLY | O_NONBLOCK);
    if (!File.IsOpen() || !IsRegularFile(File.Get()) || QFile::encodeName(QFileInfo(QFile::decodeName(Path))
                                                                             .canonicalFilePath()) == ModulePath)
      continue;
    // The checksum reads the whole file: what is no ELF file, or one of
    // another build, is passed over first.
    if (!IsElfFile(File.Get()))
      continue;
    if (!Id.isEmpty()) {
      const QByteArray Own = BuildIdOf(File.Get());
      if (!Own.isEmpty() && Own != Id)
        continue;
    }
    if (Crc != 0 && Crc32Of(File.Get()) != Crc)
      continue;
    return Found(std::move(File), Path, DebugFileName);
  }
  return -1;
}

// File (Size bytes) inflated into a new memfd, as LayoutOf plans it for
// Addresses; not open when it cannot be. Cut says whether .debug_info was
// cut.
Posix::TFd Written(const unsigned char* File, std::size_t Size, TWorker* Second,
                   const std::vector<std::uint64_t>& Addresses, bool& Cut)
{
  const std::optional<TLayout> Layout = LayoutOf(File, Size, Addresses);
  if (!Layout)
    return {};
  Cut = Layout->IsCut();
  Posix::TFd Memory(::memfd_create("corvane-debug-info", MFD_CLOEXEC));
  if (!Memory.IsOpen() || ::ftruncate(Memory.Get(), off_t(Layout->Size)) != 0)
    return {};
  const TMapping Target(::mmap(nullptr, Layout->Size, PROT_READ | PROT_WRITE, MAP_SHARED, Memory.Get(), 0),
                        Layout->Size);
  if (!Target.IsMapped() || !Write(File, *Layout, Target.Bytes(), Second))
    return {};
  return Memory;
}

// Whether a reference in the unit Unit may lead out of it: to another unit
// (which a cut may have left out) or to a type unit. Told by the forms its
// abbreviations use, without reading its entries.
bool RefersOutside(Dwarf_Die* Unit)
{
  std::size_t Length = 0;
  for (Dwarf_Off Offset = 0;; Offset += Length) {
    Dwarf_Abbrev* Abbreviation = dwarf_getabbrev(Unit, Offset, &Length);
    if (Abbreviation == DWARF_END_ABBREV)
      return false;
    if (!Abbreviation || Length == 0)
      return true;
    // Up to the pair that ends the list, which libdw counts as well.
    unsigned Form = 0;
    Dwarf_Sword Constant = 0;
    for (std::size_t I = 0; dwarf_getabbrevattr_data(Abbreviation, I, nullptr, &Form, &Constant, nullptr) == 0; ++I) {
      if (Form == DW_FORM_ref_addr || Form == DW_FORM_ref_sig8 || Form == DW_FORM_indirect)
        return true;
    }
  }
}

// Whether the units of the debug file at Fd that hold Addresses refer only
// within themselves. Any other unit is there or not, as a cut left it.
bool SelfContained(int Fd, const std::vector<std::uint64_t>& Addresses)
{
  Dwarf* Debug = dwarf_begin(Fd, DWARF_C_READ);
  if (!Debug)
    return false;
  bool Contained = true;
  for (const std::uint64_t Address : Addresses) {
    Dwarf_Die Unit;
    if (dwarf_addrdie(Debug, Address, &Unit) && RefersOutside(&Unit)) {
      Contained = false;
      break;
    }
  }
  dwarf_end(Debug);
  return Contained;
}

}  // namespace

Posix::TFd Inflated(Posix::TFd File, TWorker* Second, const std::vector<std::uint64_t>& Addresses)
{
  struct stat Status;
  if (!File.IsOpen() || ::fstat(File.Get(), &Status) != 0 || !S_ISREG(Status.st_mode) ||
      Status.st_size < off_t(sizeof(Elf64_Ehdr)))
    return File;
  const std::size_t Size = std::size_t(Status.st_size);
  const TMapping Source(::mmap(nullptr, Size, PROT_READ, MAP_PRIVATE, File.Get(), 0), Size);
  if (!Source.IsMapped())
    return File;
  bool Cut = false;
  Posix::TFd Memory = Written(Source.Bytes(), Size, Second, Addresses, Cut);
  // A cut file whose units refer past themselves is inflated whole.
  if (Memory.IsOpen() && Cut && !SelfContained(Memory.Get(), Addresses))
    Memory = Written(Source.Bytes(), Size, Second, {}, Cut);
  return Memory.IsOpen() ? std::move(Memory) : std::move(File);
}

TWorker::TWorker()
{
  try {
    FThread = std::thread([this] { Loop(); });
  } catch (const std::system_error&) {
    // Jobs run on the caller's thread.
  }
}

TWorker::~TWorker()
{
  {
    const std::lock_guard Lock(FMutex);
    FStopping = true;
  }
  FChanged.notify_all();
  if (FThread.joinable())
    FThread.join();
}

void TWorker::Start(std::function<void()> Job)
{
  if (!FThread.joinable()) {
    Job();
    return;
  }
  std::unique_lock Lock(FMutex);
  FChanged.wait(Lock, [this] { return !FJob; });
  FJob = std::move(Job);
  FChanged.notify_all();
}

void TWorker::Wait()
{
  std::unique_lock Lock(FMutex);
  FChanged.wait(Lock, [this] { return !FJob; });
}

void TWorker::Loop()
{
  std::unique_lock Lock(FMutex);
  for (;;) {
    FChanged.wait(Lock, [this] { return FStopping || FJob; });
    if (!FJob)
      return;
    Lock.unlock();
    FJob();
    Lock.lock();
    FJob = nullptr;
    FChanged.notify_all();
  }
}

void TInflationAhead::Start(std::vector<std::uintptr_t> Addresses)
{
  FLead.Start([this, Addresses = std::move(Addresses)] { InflateAhead(FPid, Addresses, FSecond); });
}

TInflationAhead::~TInflationAhead()
{
  FLead.Wait();
  const std::lock_guard Lock(Ahead.Mutex);
  Ahead.Files.clear();
}

int FindOnThisMachine(Dwfl_Module* Module, void** UserData, const char* ModuleName, Dwarf_Addr Base,
                      const char* FileName, const char* DebuglinkFile, GElf_Word DebuglinkCrc, char** DebugFileName)
{
  // The shared file (dwz) a debug file refers to is found by its build ID,
  // as libdwfl's own lookup finds it.
  if (*UserData == &Searched)
    return dwfl_build_id_find_debuginfo(Module, UserData, ModuleName, Base, FileName, DebuglinkFile, DebuglinkCrc,
                                        DebugFileName);
  *UserData = &Searched;
  const unsigned char* Bits = nullptr;
  GElf_Addr Address = 0;
  const int Bytes = dwfl_module_build_id(Module, &Bits, &Address);
  const QByteArray Id = Bytes > 0 ? QByteArray(reinterpret_cast<const char*>(Bits), Bytes) : QByteArray();
  const int Fd = FindByBuildId(Id, DebugFileName);
  return Fd >= 0 ? Fd : FindByLink(Id, FileName, DebuglinkFile, DebuglinkCrc, DebugFileName);
}

}  // namespace DebugInfo
