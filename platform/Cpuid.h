#pragma once
// The processor's identification instruction.

#include <cstdint>
#include <functional>

namespace Cpuid {

struct TCpuidRegisters {
  std::uint32_t Eax = 0, Ebx = 0, Ecx = 0, Edx = 0;
};

// Executes the instruction with EAX = Leaf (ECX = 0). All zero on a
// processor without it.
TCpuidRegisters Cpuid(std::uint32_t Leaf);

// Replaces the processor (an empty function restores it).
void SetSource(std::function<TCpuidRegisters(std::uint32_t Leaf)> Source);

}  // namespace Cpuid
