#pragma once
// The ripple's inner loops, exact to the bit at every instruction-set level:
// each lane performs the same IEEE single operations as the plain loop, so
// the levels differ only in speed. The unit picks the best one the
// processor has; tests hold every level against the plain one.

#include "installer/u_rippleEffect.h"

namespace u_rippleEffect::Kernels {

enum class TLevel { Scalar, Sse2, Avx2 };

// The best level this processor runs.
TLevel BestLevel();
bool Supported(TLevel Level);

// One step of the inside of the field (rows and columns 2 ... 253) from
// Read into Write, which also holds each cell's previous value.
void StepField(const TBuffer& Read, TBuffer& Write, float Damping, TLevel Level = BestLevel());

// The field painted into 256 rows of 256 pixels (bytes blue, green, red,
// reserved), rows Stride bytes apart; the reserved bytes stay.
void PaintField(const TBuffer& Heights, unsigned char* Pixels, long Stride, TColor rippleColor,
                TLevel Level = BestLevel());

}  // namespace u_rippleEffect::Kernels
