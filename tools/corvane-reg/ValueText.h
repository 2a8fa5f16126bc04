#pragma once
// How corvane-reg lists a value of the registry store: its type name
// ("REG_SZ", "REG_DWORD", "REG_BINARY"...) and its data as text ("0x1f" for
// numbers, hex digits for binary data).

#include "platform/RegistryFile.h"

#include <QString>

namespace ValueText {

QString TypeName(const RegistryFile::TValue& Value);
QString DisplayText(const RegistryFile::TValue& Value);

}  // namespace ValueText
