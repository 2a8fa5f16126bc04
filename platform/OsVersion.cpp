#include "platform/OsVersion.h"

#include "platform/ReplaceableSource.h"

#include <charconv>
#include <cstring>
#include <string_view>
#include <sys/utsname.h>

namespace OsVersion {

namespace {

ReplaceableSource::TReplaceableSource<TSource> CurrentSource;

TSource Source() { return CurrentSource.Get(); }

// "6.1.106-3-amd64" gives 6, 1 and 106; missing parts stay 0.
void ParseRelease(std::string_view Release, OSVERSIONINFOEXW& Info)
{
  std::uint32_t* Parts[] = {&Info.dwMajorVersion, &Info.dwMinorVersion, &Info.dwBuildNumber};
  const char* P = Release.data();
  const char* End = P + Release.size();
  for (std::uint32_t* Part : Parts) {
    const auto [Next, Error] = std::from_chars(P, End, *Part);
    if (Error != std::errc())
      return;
    P = Next;
    if (P == End || *P != '.')
      return;
    ++P;
  }
}

bool RealGetVersionEx(OSVERSIONINFOEXW& Info)
{
  utsname Name{};
  if (::uname(&Name) != 0)
    return false;
  Info.dwPlatformId = VER_PLATFORM_WIN32s;
  ParseRelease(Name.release, Info);
  return true;
}

bool KernelIs64Bit()
{
  utsname Name{};
  if (::uname(&Name) != 0)
    return false;
  const std::string_view Machine(Name.machine);
  return Machine == "x86_64" || Machine == "aarch64" || Machine == "ppc64" || Machine == "ppc64le" ||
         Machine == "s390x" || Machine == "riscv64" || Machine == "mips64" || Machine == "loongarch64";
}

bool RealIsWow64Process(bool* Wow64Process)
{
  *Wow64Process = !ProcessIs64Bit() && KernelIs64Bit();
  return true;
}

// The entry point handed out while a test's WOW64 answer stands in.
bool CannedIsWow64Process(bool* Wow64Process)
{
  const TSource Current = Source();
  // The real machine came back since the entry point was looked up.
  if (!Current.Wow64)
    return RealIsWow64Process(Wow64Process);
  const auto Answer = Current.Wow64();
  if (!Answer)
    return false;
  *Wow64Process = Answer->second;
  return Answer->first;
}

}  // namespace

bool GetVersionExW(OSVERSIONINFOEXW* Info)
{
  if (!Info)
    return false;
  const std::uint32_t Size = Info->dwOSVersionInfoSize;
  if (Size != OsVersionInfoSize && Size != OsVersionInfoExSize)
    return false;
  OSVERSIONINFOEXW Filled{};
  Filled.dwOSVersionInfoSize = Size;
  const TSource Current = Source();
  const bool Ok = Current.Version ? Current.Version(Filled) : RealGetVersionEx(Filled);
  if (!Ok)
    return false;
  // A plain record has no room for the extended fields.
  std::memcpy(Info, &Filled, Size);
  Info->dwOSVersionInfoSize = Size;
  return true;
}

TIsWow64Process GetIsWow64ProcessEntry()
{
  const TSource Current = Source();
  if (!Current.Wow64)
    return &RealIsWow64Process;
  return Current.Wow64() ? &CannedIsWow64Process : nullptr;
}

bool ProcessIs64Bit()
{
  const TSource Current = Source();
  if (Current.ProcessIs64Bit)
    return Current.ProcessIs64Bit();
  return sizeof(void*) == 8;
}

void SetSource(TSource NewSource)
{
  CurrentSource.Set(std::move(NewSource));
}

}  // namespace OsVersion
