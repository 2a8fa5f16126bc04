#pragma once
// Version resources. A VS_VERSIONINFO block (the Windows binary layout: the
// fixed file information, StringFileInfo tables keyed by translation, and
// VarFileInfo\Translation) lives in the ELF section ".corvane.version" of an
// executable or library; the CMake function corvane_version_resource puts
// it there (its writer is the build tool tools/version-resource). The three
// calls below read it from any file path.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace VersionResource {

inline constexpr char SectionName[] = ".corvane.version";

// Size of the file's version block in bytes; 0 when the file cannot be read,
// is no ELF file or holds no valid block. Handle is set to 0.
std::uint32_t GetFileVersionInfoSizeW(const QString& FileName, std::uint32_t* Handle);
// Copies at most Length bytes of the block into Data; false as above.
bool GetFileVersionInfoW(const QString& FileName, std::uint32_t Handle, std::uint32_t Length, void* Data);
// Finds a value in a block read by GetFileVersionInfoW. SubBlock "\" is the
// fixed file information; "\VarFileInfo\Translation" the translations;
// "\StringFileInfo\<lang><codepage>\<key>" a text, its Length in characters
// with the NUL. The leading "\" may be left out; names compare without
// regard to case. Buffer points into Block. False when not found or when the
// block is damaged.
bool VerQueryValueW(const void* Block, const QString& SubBlock, const void** Buffer, std::uint32_t* Length);

inline constexpr std::uint32_t VS_FFI_SIGNATURE = 0xFEEF04BD;
struct VS_FIXEDFILEINFO {
  std::uint32_t dwSignature;
  std::uint32_t dwStrucVersion;
  std::uint32_t dwFileVersionMS;
  std::uint32_t dwFileVersionLS;
  std::uint32_t dwProductVersionMS;
  std::uint32_t dwProductVersionLS;
  std::uint32_t dwFileFlagsMask;
  std::uint32_t dwFileFlags;
  std::uint32_t dwFileOS;
  std::uint32_t dwFileType;
  std::uint32_t dwFileSubtype;
  std::uint32_t dwFileDateMS;
  std::uint32_t dwFileDateLS;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);

// The layout every node of a block shares: a header of three words
// (wLength, wValueLength, wType), the key, the value, the children, each
// aligned to four bytes. A block is bounded by its 16-bit length field.
namespace Layout {
inline constexpr std::uint16_t TextType = 1;
inline constexpr std::uint16_t BinaryType = 0;
inline constexpr std::size_t HeaderSize = 6;
inline constexpr std::size_t MaxBlockSize = 0xFFFF;
constexpr std::size_t Align4(std::size_t Offset) { return (Offset + 3) & ~std::size_t(3); }
}  // namespace Layout

}  // namespace VersionResource
