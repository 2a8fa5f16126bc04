#pragma once
// The operating-system version record and the WOW64 test. On this platform
// the record describes the kernel: platform identifier 0 (no Windows family),
// major, minor and build from the kernel release. WOW64 means a 32-bit process
// on a 64-bit kernel.

#include <cstdint>
#include <functional>
#include <optional>

namespace OsVersion {

inline constexpr std::uint32_t VER_PLATFORM_WIN32s = 0;
inline constexpr std::uint32_t VER_PLATFORM_WIN32_WINDOWS = 1;
inline constexpr std::uint32_t VER_PLATFORM_WIN32_NT = 2;

// The plain record ends after szCSDVersion (276 bytes); the extended record
// adds the service-pack numbers and product details (284 bytes).
struct OSVERSIONINFOEXW {
  std::uint32_t dwOSVersionInfoSize;
  std::uint32_t dwMajorVersion;
  std::uint32_t dwMinorVersion;
  std::uint32_t dwBuildNumber;
  std::uint32_t dwPlatformId;
  char16_t szCSDVersion[128];
  std::uint16_t wServicePackMajor;
  std::uint16_t wServicePackMinor;
  std::uint16_t wSuiteMask;
  std::uint8_t wProductType;
  std::uint8_t wReserved;
};
inline constexpr std::uint32_t OsVersionInfoSize = 276;
inline constexpr std::uint32_t OsVersionInfoExSize = 284;
static_assert(sizeof(OSVERSIONINFOEXW) == OsVersionInfoExSize);

// Fills the record up to the size its size field names (plain or extended);
// any other size fails and leaves the record alone.
bool GetVersionExW(OSVERSIONINFOEXW* Info);

// The entry point of the WOW64 test, as looked up by name; may be missing.
using TIsWow64Process = bool (*)(bool* Wow64Process);
// Null when the entry point does not exist.
TIsWow64Process GetIsWow64ProcessEntry();

// Whether this process is a 64-bit process.
bool ProcessIs64Bit();

// What a test puts behind the calls above. Version: fills the record the
// caller prepared (its size field set) and answers like GetVersionExW.
// Wow64: nullopt = the entry point is missing; otherwise the call's result
// and flag. ProcessIs64Bit: the process's own bitness.
struct TSource {
  std::function<bool(OSVERSIONINFOEXW& Info)> Version;
  std::function<std::optional<std::pair<bool, bool>>()> Wow64;
  std::function<bool()> ProcessIs64Bit;
};
// Replaces the real machine (an empty member keeps the real call); a
// default-constructed source restores it.
void SetSource(TSource Source);

}  // namespace OsVersion
