#include "platform/VersionResource.h"

#include <QFile>
#include <QStringList>

#include <cstring>
#include <elf.h>
#include <optional>

namespace VersionResource {

namespace {

using namespace Layout;

std::uint16_t Word(const std::uint8_t* P) { return static_cast<std::uint16_t>(P[0] | P[1] << 8); }

// A node found inside [Begin, Begin + Size): its parts, all inside it.
struct TNode {
  const std::uint8_t* Begin = nullptr;
  std::size_t Length = 0;
  std::uint16_t ValueLength = 0;
  std::uint16_t Type = 0;
  QString Key;
  std::size_t ValueOffset = 0;  // from Begin
  std::size_t ValueBytes = 0;
  std::size_t ChildrenOffset = 0;
};

std::optional<TNode> ReadNode(const std::uint8_t* Begin, std::size_t Available)
{
  if (Available < HeaderSize)
    return std::nullopt;
  TNode N;
  N.Begin = Begin;
  N.Length = Word(Begin);
  N.ValueLength = Word(Begin + 2);
  N.Type = Word(Begin + 4);
  if (N.Length < HeaderSize + 2 || N.Length > Available)
    return std::nullopt;
  std::size_t Offset = HeaderSize;
  while (true) {
    if (Offset + 2 > N.Length)
      return std::nullopt;  // key without NUL
    const std::uint16_t C = Word(Begin + Offset);
    Offset += 2;
    if (C == 0)
      break;
    N.Key.append(QChar(C));
  }
  N.ValueOffset = Align4(Offset);
  N.ValueBytes = N.Type == TextType ? std::size_t(N.ValueLength) * 2 : N.ValueLength;
  if (N.ValueBytes > 0 && N.ValueOffset + N.ValueBytes > N.Length)
    return std::nullopt;
  N.ChildrenOffset = Align4(N.ValueOffset + N.ValueBytes);
  return N;
}

std::optional<TNode> FindChild(const TNode& Parent, const QString& Key)
{
  std::size_t Offset = Parent.ChildrenOffset;
  while (Offset + HeaderSize <= Parent.Length) {
    const auto Child = ReadNode(Parent.Begin + Offset, Parent.Length - Offset);
    if (!Child)
      return std::nullopt;
    if (Child->Key.compare(Key, Qt::CaseInsensitive) == 0)
      return Child;
    Offset = Align4(Offset + Child->Length);
  }
  return std::nullopt;
}

// The root node, checked: key and fixed file information as they must be.
std::optional<TNode> ReadRoot(const std::uint8_t* Block, std::size_t Available)
{
  const auto Root = ReadNode(Block, Available);
  if (!Root || Root->Key != QLatin1String("VS_VERSION_INFO"))
    return std::nullopt;
  if (Root->ValueBytes != 0 && Root->ValueBytes != sizeof(VS_FIXEDFILEINFO))
    return std::nullopt;
  return Root;
}

// ---- the ELF section -------------------------------------------------------

template <typename T>
bool ReadAt(QFile& File, quint64 Offset, T& Out)
{
  return File.seek(static_cast<qint64>(Offset)) && File.read(reinterpret_cast<char*>(&Out), sizeof Out) == sizeof Out;
}

template <typename Ehdr, typename Shdr>
std::optional<QByteArray> SectionOf(QFile& File, const char* Wanted)
{
  Ehdr Header;
  if (!ReadAt(File, 0, Header) || Header.e_shoff == 0 || Header.e_shentsize != sizeof(Shdr))
    return std::nullopt;
  Shdr First;
  if (!ReadAt(File, Header.e_shoff, First))
    return std::nullopt;
  // Many sections: the real count and string-table index sit in section 0.
  const quint64 Count = Header.e_shnum ? Header.e_shnum : First.sh_size;
  const quint64 NamesIndex = Header.e_shstrndx == SHN_XINDEX ? First.sh_link : Header.e_shstrndx;
  const quint64 FileSize = static_cast<quint64>(File.size());
  if (Count == 0 || NamesIndex >= Count || Count > FileSize / sizeof(Shdr))
    return std::nullopt;
  Shdr NamesHeader;
  if (!ReadAt(File, Header.e_shoff + NamesIndex * sizeof(Shdr), NamesHeader) || NamesHeader.sh_type != SHT_STRTAB ||
      NamesHeader.sh_size > FileSize || NamesHeader.sh_offset > FileSize - NamesHeader.sh_size)
    return std::nullopt;
  if (!File.seek(static_cast<qint64>(NamesHeader.sh_offset)))
    return std::nullopt;
  const QByteArray Names = File.read(static_cast<qint64>(NamesHeader.sh_size));
  const std::size_t WantedLength = std::strlen(Wanted);
  for (quint64 I = 1; I < Count; ++I) {
    Shdr Section;
    if (!ReadAt(File, Header.e_shoff + I * sizeof(Shdr), Section))
      return std::nullopt;
    const quint64 NameAt = Section.sh_name;
    if (NameAt + WantedLength + 1 > static_cast<quint64>(Names.size()) ||
        std::memcmp(Names.constData() + NameAt, Wanted, WantedLength + 1) != 0)
      continue;
    if (Section.sh_type == SHT_NOBITS || Section.sh_size > MaxBlockSize || Section.sh_size > FileSize ||
        Section.sh_offset > FileSize - Section.sh_size || !File.seek(static_cast<qint64>(Section.sh_offset)))
      return std::nullopt;
    QByteArray Bytes = File.read(static_cast<qint64>(Section.sh_size));
    if (static_cast<quint64>(Bytes.size()) != Section.sh_size)
      return std::nullopt;
    return Bytes;
  }
  return std::nullopt;
}

// The file's version block, cut to the length its root states.
std::optional<QByteArray> VersionBlockOf(const QString& FileName)
{
  QFile File(FileName);
  if (!File.open(QIODevice::ReadOnly))
    return std::nullopt;
  unsigned char Ident[EI_NIDENT];
  if (File.read(reinterpret_cast<char*>(Ident), EI_NIDENT) != EI_NIDENT || std::memcmp(Ident, ELFMAG, SELFMAG) != 0)
    return std::nullopt;
  // Headers are read in this machine's byte order.
  const int Native = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? ELFDATA2LSB : ELFDATA2MSB;
  if (Ident[EI_DATA] != Native)
    return std::nullopt;
  std::optional<QByteArray> Section;
  if (Ident[EI_CLASS] == ELFCLASS64)
    Section = SectionOf<Elf64_Ehdr, Elf64_Shdr>(File, SectionName);
  else if (Ident[EI_CLASS] == ELFCLASS32)
    Section = SectionOf<Elf32_Ehdr, Elf32_Shdr>(File, SectionName);
  if (!Section)
    return std::nullopt;
  const auto* Bytes = reinterpret_cast<const std::uint8_t*>(Section->constData());
  const auto Root = ReadRoot(Bytes, static_cast<std::size_t>(Section->size()));
  if (!Root)
    return std::nullopt;
  return Section->left(static_cast<qsizetype>(Root->Length));
}

}  // namespace

std::uint32_t GetFileVersionInfoSizeW(const QString& FileName, std::uint32_t* Handle)
{
  if (Handle)
    *Handle = 0;
  const auto Block = VersionBlockOf(FileName);
  return Block ? static_cast<std::uint32_t>(Block->size()) : 0;
}

bool GetFileVersionInfoW(const QString& FileName, std::uint32_t Handle, std::uint32_t Length, void* Data)
{
  (void)Handle;
  const auto Block = VersionBlockOf(FileName);
  if (!Block || !Data || Length == 0)
    return false;
  const std::uint32_t Copied = std::min<std::uint32_t>(Length, static_cast<std::uint32_t>(Block->size()));
  std::memcpy(Data, Block->constData(), Copied);
  // A shorter buffer holds a cut block: make its root length say so, so
  // that reading it never goes past the buffer.
  if (Copied < Block->size()) {
    auto* Bytes = static_cast<std::uint8_t*>(Data);
    if (Copied >= 2) {
      Bytes[0] = static_cast<std::uint8_t>(Copied & 0xFF);
      Bytes[1] = static_cast<std::uint8_t>(Copied >> 8);
    }
  }
  return true;
}

bool VerQueryValueW(const void* Block, const QString& SubBlock, const void** Buffer, std::uint32_t* Length)
{
  if (!Block || !Buffer || !Length)
    return false;
  *Buffer = nullptr;
  *Length = 0;
  const auto* Bytes = static_cast<const std::uint8_t*>(Block);
  auto Node = ReadRoot(Bytes, Word(Bytes));
  if (!Node)
    return false;
  const QStringList Path = SubBlock.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
  for (const QString& Name : Path) {
    Node = FindChild(*Node, Name);
    if (!Node)
      return false;
  }
  static const char16_t Empty[1] = {u'\0'};
  if (Node->ValueBytes == 0) {
    // A key without value text still is an (empty) text.
    if (Path.isEmpty())
      return false;
    *Buffer = Empty;
    return true;
  }
  *Buffer = Node->Begin + Node->ValueOffset;
  *Length = Node->Type == TextType ? Node->ValueLength : static_cast<std::uint32_t>(Node->ValueBytes);
  return true;
}

}  // namespace VersionResource
