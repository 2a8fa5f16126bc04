#pragma once
// Physical memory status from /proc/meminfo. Byte counts are 64-bit: machines
// with more than 4 GiB are the rule.

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <optional>

namespace MemoryStatus {

struct MEMORYSTATUSEX {
  std::uint32_t dwLength;      // set by the caller to sizeof(MEMORYSTATUSEX)
  std::uint32_t dwMemoryLoad;  // percent of physical memory in use, 0 to 100
  std::uint64_t ullTotalPhys;
  std::uint64_t ullAvailPhys;
};

// Fills the record; false (record untouched) when the length field is wrong
// or the figures cannot be read.
bool GlobalMemoryStatusEx(MEMORYSTATUSEX* Buffer);

// The figures of a /proc/meminfo text (MemTotal, MemAvailable; MemFree where
// an old kernel has no MemAvailable); nullopt when MemTotal is missing or 0.
std::optional<MEMORYSTATUSEX> FromMeminfo(const QByteArray& Text);

// Replaces /proc/meminfo with canned text (an empty function restores it).
void SetSource(std::function<std::optional<QByteArray>()> Source);

}  // namespace MemoryStatus
