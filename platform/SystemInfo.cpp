#include "platform/SystemInfo.h"

#include "platform/ReplaceableSource.h"

#include <QFile>

#include <algorithm>
#include <climits>
#include <unistd.h>

namespace SystemInfo {

namespace {

ReplaceableSource::TReplaceableSource<std::function<QString()>> CurrentSource;

// Copies Text and a NUL when Size characters hold them.
bool CopyOut(const QString& Text, char16_t* Buffer, std::uint32_t Size)
{
  const auto Length = static_cast<std::uint32_t>(Text.size());
  if (!Buffer || Size < Length + 1)
    return false;
  std::copy_n(reinterpret_cast<const char16_t*>(Text.utf16()), Length, Buffer);
  Buffer[Length] = u'\0';
  return true;
}

}  // namespace

QString HostName()
{
  if (const auto Source = CurrentSource.Get())
    return Source();
  char Name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(Name, sizeof Name - 1) != 0)
    return {};
  return QFile::decodeName(Name);
}

QString ComputerNameFor(const QString& HostName)
{
  return HostName.section(QLatin1Char('.'), 0, 0).left(MAX_COMPUTERNAME_LENGTH);
}

bool GetComputerNameW(char16_t* Buffer, std::uint32_t* Size)
{
  if (!Size)
    return false;
  const QString Name = ComputerNameFor(HostName());
  if (Name.isEmpty())
    return false;
  if (!CopyOut(Name, Buffer, *Size)) {
    *Size = static_cast<std::uint32_t>(Name.size()) + 1;
    return false;
  }
  *Size = static_cast<std::uint32_t>(Name.size());
  return true;
}

std::uint32_t GetSystemDirectoryW(char16_t* Buffer, std::uint32_t Size)
{
  const QString Folder(SystemDirectory);
  if (!CopyOut(Folder, Buffer, Size))
    return static_cast<std::uint32_t>(Folder.size()) + 1;
  return static_cast<std::uint32_t>(Folder.size());
}

void SetHostNameSource(std::function<QString()> Source)
{
  CurrentSource.Set(std::move(Source));
}

}  // namespace SystemInfo
