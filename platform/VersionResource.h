#pragma once
// Version resources. A VS_VERSIONINFO block (the Windows binary layout: the
// fixed file information, StringFileInfo tables keyed by translation, and
// VarFileInfo\Translation) lives in the ELF section ".corvane.version" of an
// executable or library; the CMake function corvane_version_resource puts
// it there. The three calls below read it from any file path.

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

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

// What a version block says: one translation and its texts, in order.
struct TVersionDescription {
  std::uint16_t Language = 0x0409;
  std::uint16_t CodePage = 0x04E4;
  bool IsLibrary = false;
  std::vector<std::pair<QString, QString>> Strings;
};

// The VS_VERSIONINFO block of a description. The fixed file information
// takes its numbers from the FileVersion and ProductVersion texts.
QByteArray BuildVersionInfo(const TVersionDescription& Description);

// Reads a description file: UTF-8 lines "Key=Value" for the texts, in order,
// and "@Language=0409", "@CodePage=04E4", "@FileType=APP|DLL". Nullopt and
// a message in Error for a line it cannot take.
std::optional<TVersionDescription> ParseDescription(const QByteArray& Text, QString* Error);

// "1.1.0" gives {1, 1, 0, 0}; parts that are no numbers count 0.
std::array<std::uint16_t, 4> VersionNumbers(const QString& Text);

}  // namespace VersionResource
