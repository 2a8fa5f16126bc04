#pragma once
// The reader of store files, as the tree uses it: the value lines a key left
// unread, made into values when they are first wanted.

#include "platform/RegistryFile.h"

#include <QByteArrayView>

#include <vector>

namespace RegistryFile {

// The values of a section's value lines, in their order. Raises TParseError
// for a line that is no value.
std::vector<TValue> ParseValueLines(QByteArrayView ValueLines);

}  // namespace RegistryFile
