#include "platform/Cpuid.h"

#include "platform/ReplaceableSource.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace Cpuid {

namespace {
ReplaceableSource::TReplaceableSource<std::function<TCpuidRegisters(std::uint32_t)>> CurrentSource;
}  // namespace

TCpuidRegisters Cpuid(std::uint32_t Leaf)
{
  if (const auto Source = CurrentSource.Get())
    return Source(Leaf);
  TCpuidRegisters Registers;
#if defined(__x86_64__) || defined(__i386__)
  // Executed as asked, also for leaves above the maximum: callers check the
  // maximum leaf themselves, as the processor's documentation says.
  __cpuid_count(Leaf, 0, Registers.Eax, Registers.Ebx, Registers.Ecx, Registers.Edx);
#else
  (void)Leaf;
#endif
  return Registers;
}

void SetSource(std::function<TCpuidRegisters(std::uint32_t Leaf)> Source)
{
  CurrentSource.Set(std::move(Source));
}

}  // namespace Cpuid
