#pragma once
// The writer of version blocks, for the build tool: a description file of
// texts becomes the VS_VERSIONINFO block that platform/VersionResource
// reads.

#include "platform/VersionResource.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace VersionResource {

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
