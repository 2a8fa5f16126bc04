#pragma once
// The first unit of a debug file that holds code at an address of its own:
// where a cut of .debug_info keeps least. For the tests and the benchmark
// of debug-file inflating.

#include <elfutils/libdw.h>

#include <cstddef>
#include <utility>

namespace TestSupport {

// An address of code in that unit, and the offset of the unit's entry;
// {0, ~0} when no unit has one.
inline std::pair<Dwarf_Addr, Dwarf_Off> FirstUnitWithCode(Dwarf* Debug)
{
  Dwarf_Aranges* Ranges = nullptr;
  std::size_t Count = 0;
  std::pair<Dwarf_Addr, Dwarf_Off> First{0, ~Dwarf_Off(0)};
  if (dwarf_getaranges(Debug, &Ranges, &Count) != 0)
    return First;
  for (std::size_t I = 0; I < Count; ++I) {
    Dwarf_Addr Address = 0;
    Dwarf_Word Length = 0;
    Dwarf_Off Unit = 0;
    if (dwarf_getarangeinfo(dwarf_onearange(Ranges, I), &Address, &Length, &Unit) == 0 && Address != 0 &&
        Length > 0 && Unit < First.second)
      First = {Address, Unit};
  }
  return First;
}

}  // namespace TestSupport
