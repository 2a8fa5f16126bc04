#include "platform/MemoryStatus.h"

#include "platform/ReplaceableSource.h"

#include <QFile>

#include <algorithm>

namespace MemoryStatus {

namespace {

ReplaceableSource::TReplaceableSource<std::function<std::optional<QByteArray>()>> CurrentSource;

std::optional<QByteArray> ReadMeminfo()
{
  if (const auto Source = CurrentSource.Get())
    return Source();
  QFile File(QStringLiteral("/proc/meminfo"));
  if (!File.open(QIODevice::ReadOnly))
    return std::nullopt;
  // A file of the proc file system reports no size: read until the end.
  return File.readAll();
}

// The value of "Name:   1234 kB" in bytes.
std::optional<std::uint64_t> Field(const QByteArray& Text, const QByteArray& Name)
{
  for (const QByteArray& Line : Text.split('\n')) {
    if (!Line.startsWith(Name + ':'))
      continue;
    const QList<QByteArray> Parts = Line.mid(Name.size() + 1).simplified().split(' ');
    bool Ok = false;
    const std::uint64_t Value = Parts.value(0).toULongLong(&Ok);
    if (!Ok)
      return std::nullopt;
    const QByteArray Unit = Parts.value(1);
    if (Unit.isEmpty())
      return Value;
    if (Unit == "kB" && Value <= UINT64_MAX / 1024)
      return Value * 1024;
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

std::optional<MEMORYSTATUSEX> FromMeminfo(const QByteArray& Text)
{
  const auto Total = Field(Text, "MemTotal");
  if (!Total || *Total == 0)
    return std::nullopt;
  auto Avail = Field(Text, "MemAvailable");
  if (!Avail)
    Avail = Field(Text, "MemFree");
  MEMORYSTATUSEX Status{};
  Status.dwLength = sizeof(MEMORYSTATUSEX);
  Status.ullTotalPhys = *Total;
  Status.ullAvailPhys = std::min(Avail.value_or(0), *Total);
  // Rounded to the nearest percent; computed in long double so that huge
  // counts cannot overflow.
  const long double Used = static_cast<long double>(*Total - Status.ullAvailPhys);
  Status.dwMemoryLoad = static_cast<std::uint32_t>(Used * 100 / static_cast<long double>(*Total) + 0.5L);
  return Status;
}

bool GlobalMemoryStatusEx(MEMORYSTATUSEX* Buffer)
{
  if (!Buffer || Buffer->dwLength != sizeof(MEMORYSTATUSEX))
    return false;
  const auto Text = ReadMeminfo();
  if (!Text)
    return false;
  const auto Status = FromMeminfo(*Text);
  if (!Status)
    return false;
  *Buffer = *Status;
  return true;
}

void SetSource(std::function<std::optional<QByteArray>()> Source)
{
  CurrentSource.Set(std::move(Source));
}

}  // namespace MemoryStatus
