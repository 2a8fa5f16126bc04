#pragma once
// The computer name and the system directory. The computer name is the host
// name without its domain, cut to the 15 characters a computer name can hold;
// the system directory is the folder of the system's shared libraries.

#include <QString>

#include <cstdint>
#include <functional>

namespace SystemInfo {

inline constexpr std::uint32_t MAX_COMPUTERNAME_LENGTH = 15;
inline constexpr QLatin1String SystemDirectory("/usr/lib");

// Copies the name and its NUL into Buffer. Size: in, the buffer's length in
// characters; out, the name's length without NUL, or on failure (buffer too
// small) the length needed with NUL, the buffer untouched.
bool GetComputerNameW(char16_t* Buffer, std::uint32_t* Size);

// Copies the folder and its NUL into Buffer when it fits and returns its
// length without NUL; otherwise returns the length needed with NUL and
// writes nothing. 0 on failure.
std::uint32_t GetSystemDirectoryW(char16_t* Buffer, std::uint32_t Size);

// The machine's host name, from the source below when one is set; "" when
// it cannot be read. Every reader of the host name asks here.
QString HostName();

// The computer name for a host name.
QString ComputerNameFor(const QString& HostName);

// Replaces the host name the computer name is taken from (empty function:
// the real one). A source that returns nothing makes GetComputerNameW fail.
void SetHostNameSource(std::function<QString()> Source);

}  // namespace SystemInfo
