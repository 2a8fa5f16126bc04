#pragma once
// What the sources of the ZIP unit share among themselves: the limits of
// the format and the unit's ways of failing.

#include "hostfw/Exceptions.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace SynZip::Internal {

inline constexpr qint64 MaxZipValue = 0xFFFFFFFFLL;
// No size or offset may be 0xFFFFFFFF: readers take it for the mark of a
// ZIP64 field, which these archives never have.
inline constexpr qint64 MaxZipField = 0xFFFFFFFELL;
// So the whole archive, directory and end record included, stays below
// 4 GiB, where every 32-bit field can describe it.
inline constexpr qint64 MaxArchiveSize = 0xFFFFFFFFLL;
inline constexpr int MaxEntries = 0xFFFF;
inline constexpr std::size_t CopyBufferSize = 65536;

// A zlib status the step does not expect: the user sees its number, then the
// step fails. Out of memory is reported as such.
void CheckZ(int Status, std::initializer_list<int> Expected);
[[noreturn]] void AssertionFailed(int Line);
Exception TooBig(const QString& FileName);
// Raises the error errno holds for an operation on FileName (EIO for none).
[[noreturn]] void RaiseFileError(const QString& Operation, const QString& FileName);

}  // namespace SynZip::Internal
