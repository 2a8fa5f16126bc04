#include "installer/u_rippleEffectKernels.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define CORVANE_RIPPLE_X86 1
#define AVX2 __attribute__((target("avx2")))
#endif

// Every step must give the same bits on every build: single-precision
// operations rounded to single each time, never kept wider.
static_assert(FLT_EVAL_METHOD == 0, "single-precision steps must not keep excess precision");

namespace u_rippleEffect::Kernels {

namespace {

constexpr int Row = GridSize;
constexpr int First = 2;
constexpr int Last = GridSize - 3;
// Blocks of sixteen inside a row: whole ones from the left, then one that
// ends at the last cell and overlaps the one before. A cell computed twice
// must read its previous value both times, so the last block reads the
// previous values saved before the row was written.
constexpr int Blocks = (Last - First + 1) / 16;
constexpr int LastBlock = Last - 15;

constexpr int Offsets[12] = {-2 * Row, -Row - 1, -Row, -Row + 1, -2, -1, 1, 2, Row - 1, Row, Row + 1, 2 * Row};

// The next value of the cell at Index, from the twelve cells around it and
// its own previous value.
std::int8_t NextCell(const std::int8_t* Read, std::int8_t Previous, int Index, float Damping)
{
  int Sum = 0;
  for (int Offset : Offsets)
    Sum += Read[Index + Offset];
  float v = static_cast<float>(Sum) / 6.0f;
  v = v - static_cast<float>(Previous);
  v = v - v * Damping;
  // Rounds to even (the default rounding mode); the low 8 bits, wrapped.
  return static_cast<std::int8_t>(static_cast<std::uint8_t>(std::lrint(v) & 0xFF));
}

void StepCells(const std::int8_t* Read, std::int8_t* Write, int From, int To, float Damping)
{
  for (int Index = From; Index <= To; ++Index)
    Write[Index] = NextCell(Read, Write[Index], Index, Damping);
}

std::uint8_t ClampByte(int Value)
{
  return static_cast<std::uint8_t>(Value < 0 ? 0 : (Value > 255 ? 255 : Value));
}

void PaintCells(const std::int8_t* Heights, std::uint8_t* Pixels, int Count, TColor rippleColor)
{
  const int Red = static_cast<int>(rippleColor & 0xFF);
  const int Green = static_cast<int>((rippleColor >> 8) & 0xFF);
  const int Blue = static_cast<int>((rippleColor >> 16) & 0xFF);
  for (int i = 0; i < Count; ++i) {
    const int h = Heights[i];
    std::uint8_t* Pixel = Pixels + 4 * i;
    Pixel[0] = ClampByte(Blue + h);
    Pixel[1] = ClampByte(Green + h);
    Pixel[2] = ClampByte(Red + h);
  }
}

int ColourWord(TColor rippleColor)
{
  // Red lowest in the colour; blue lowest in the pixel.
  return static_cast<int>(((rippleColor & 0xFF) << 16) | (rippleColor & 0xFF00) | ((rippleColor >> 16) & 0xFF));
}

#if defined(CORVANE_RIPPLE_X86)
// ---- SSE2: sixteen cells widened in two halves of eight.

__m128i Load16(const std::int8_t* At) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(At)); }
__m128i WidenLow(__m128i Bytes) { return _mm_srai_epi16(_mm_unpacklo_epi8(Bytes, Bytes), 8); }
__m128i WidenHigh(__m128i Bytes) { return _mm_srai_epi16(_mm_unpackhi_epi8(Bytes, Bytes), 8); }
__m128 ToFloatLow(__m128i Words) { return _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(Words, Words), 16)); }
__m128 ToFloatHigh(__m128i Words) { return _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(Words, Words), 16)); }

__m128i StepFour(__m128 Sum, __m128 Previous, __m128 Damping)
{
  __m128 v = _mm_div_ps(Sum, _mm_set1_ps(6.0f));
  v = _mm_sub_ps(v, Previous);
  v = _mm_sub_ps(v, _mm_mul_ps(v, Damping));
  return _mm_and_si128(_mm_cvtps_epi32(v), _mm_set1_epi32(0xFF));
}

void StepSixteenSse2(const std::int8_t* Read, const std::int8_t* Previous, std::int8_t* Write, int Index,
                     __m128 Damping)
{
  __m128i SumLow = _mm_setzero_si128();
  __m128i SumHigh = _mm_setzero_si128();
  for (int Offset : Offsets) {
    const __m128i Cells = Load16(Read + Index + Offset);
    SumLow = _mm_add_epi16(SumLow, WidenLow(Cells));
    SumHigh = _mm_add_epi16(SumHigh, WidenHigh(Cells));
  }
  const __m128i Old = Load16(Previous);
  const __m128i OldLow = WidenLow(Old);
  const __m128i OldHigh = WidenHigh(Old);
  const __m128i R0 = StepFour(ToFloatLow(SumLow), ToFloatLow(OldLow), Damping);
  const __m128i R1 = StepFour(ToFloatHigh(SumLow), ToFloatHigh(OldLow), Damping);
  const __m128i R2 = StepFour(ToFloatLow(SumHigh), ToFloatLow(OldHigh), Damping);
  const __m128i R3 = StepFour(ToFloatHigh(SumHigh), ToFloatHigh(OldHigh), Damping);
  // Every lane holds 0 ... 255, so neither pack saturates.
  const __m128i Packed = _mm_packus_epi16(_mm_packs_epi32(R0, R1), _mm_packs_epi32(R2, R3));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(Write + Index), Packed);
}

void StepFieldSse2(const std::int8_t* Read, std::int8_t* Write, float Damping)
{
  const __m128 DampingLanes = _mm_set1_ps(Damping);
  for (int j = First; j <= Last; ++j) {
    std::int8_t Previous[16];
    std::memcpy(Previous, Write + LastBlock + Row * j, sizeof Previous);
    int Index = First + Row * j;
    for (int Block = 0; Block < Blocks; ++Block, Index += 16)
      StepSixteenSse2(Read, Write + Index, Write, Index, DampingLanes);
    StepSixteenSse2(Read, Previous, Write, LastBlock + Row * j, DampingLanes);
  }
}

// The pixels of sixteen heights: the colour's bytes raised by h with
// unsigned saturation, or lowered by |h| (-128 gives 128).
void PaintLineSse2(const std::int8_t* Heights, std::uint8_t* Pixels, TColor rippleColor)
{
  const __m128i Zero = _mm_setzero_si128();
  const __m128i Colour = _mm_set1_epi32(ColourWord(rippleColor));
  const __m128i Reserved = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  for (int i = 0; i < GridSize; i += 16) {
    const __m128i h = Load16(Heights + i);
    const __m128i Negative = _mm_cmplt_epi8(h, Zero);
    const __m128i Up = _mm_andnot_si128(Negative, h);
    const __m128i Down = _mm_and_si128(Negative, _mm_sub_epi8(Zero, h));
    const __m128i UpPairs[2] = {_mm_unpacklo_epi8(Up, Up), _mm_unpackhi_epi8(Up, Up)};
    const __m128i DownPairs[2] = {_mm_unpacklo_epi8(Down, Down), _mm_unpackhi_epi8(Down, Down)};
    for (int Quarter = 0; Quarter < 4; ++Quarter) {
      const __m128i UpPair = UpPairs[Quarter / 2];
      const __m128i DownPair = DownPairs[Quarter / 2];
      const __m128i UpQuad = Quarter % 2 ? _mm_unpackhi_epi16(UpPair, UpPair) : _mm_unpacklo_epi16(UpPair, UpPair);
      const __m128i DownQuad =
          Quarter % 2 ? _mm_unpackhi_epi16(DownPair, DownPair) : _mm_unpacklo_epi16(DownPair, DownPair);
      const __m128i Shade = _mm_subs_epu8(_mm_adds_epu8(Colour, UpQuad), DownQuad);
      __m128i* At = reinterpret_cast<__m128i*>(Pixels + 4 * (i + 4 * Quarter));
      const __m128i Old = _mm_loadu_si128(At);
      _mm_storeu_si128(At, _mm_or_si128(_mm_and_si128(Old, Reserved), _mm_andnot_si128(Reserved, Shade)));
    }
  }
}

// ---- AVX2: sixteen cells widened at once, eight lanes of single each.

AVX2 __m256i Widen16(const std::int8_t* At)
{
  return _mm256_cvtepi8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(At)));
}

AVX2 __m256i StepEight(__m128i Sum, __m128i Previous, __m256 Damping)
{
  __m256 v = _mm256_div_ps(_mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(Sum)), _mm256_set1_ps(6.0f));
  v = _mm256_sub_ps(v, _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(Previous)));
  v = _mm256_sub_ps(v, _mm256_mul_ps(v, Damping));
  return _mm256_and_si256(_mm256_cvtps_epi32(v), _mm256_set1_epi32(0xFF));
}

AVX2 void StepSixteenAvx2(const std::int8_t* Read, const std::int8_t* Previous, std::int8_t* Write, int Index,
                          __m256 Damping)
{
  __m256i Sum = _mm256_setzero_si256();
  for (int Offset : Offsets)
    Sum = _mm256_add_epi16(Sum, Widen16(Read + Index + Offset));
  const __m256i Old = Widen16(Previous);
  const __m256i R0 = StepEight(_mm256_castsi256_si128(Sum), _mm256_castsi256_si128(Old), Damping);
  const __m256i R1 = StepEight(_mm256_extracti128_si256(Sum, 1), _mm256_extracti128_si256(Old, 1), Damping);
  // The pack works within each half; the permutation puts the cells back
  // in order.
  const __m256i Words = _mm256_permute4x64_epi64(_mm256_packs_epi32(R0, R1), 0xD8);
  const __m128i Bytes = _mm_packus_epi16(_mm256_castsi256_si128(Words), _mm256_extracti128_si256(Words, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(Write + Index), Bytes);
}

AVX2 void StepFieldAvx2(const std::int8_t* Read, std::int8_t* Write, float Damping)
{
  const __m256 DampingLanes = _mm256_set1_ps(Damping);
  for (int j = First; j <= Last; ++j) {
    std::int8_t Previous[16];
    std::memcpy(Previous, Write + LastBlock + Row * j, sizeof Previous);
    int Index = First + Row * j;
    for (int Block = 0; Block < Blocks; ++Block, Index += 16)
      StepSixteenAvx2(Read, Write + Index, Write, Index, DampingLanes);
    StepSixteenAvx2(Read, Previous, Write, LastBlock + Row * j, DampingLanes);
  }
}

// Eight pixels a time: each height spread over the pixel's three colour
// bytes (the fourth gets 0) by one byte shuffle.
AVX2 void PaintLineAvx2(const std::int8_t* Heights, std::uint8_t* Pixels, TColor rippleColor)
{
  const __m128i Zero = _mm_setzero_si128();
  const __m256i Colour = _mm256_set1_epi32(ColourWord(rippleColor));
  const __m256i Reserved = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  const __m256i Spread = _mm256_setr_epi8(0, 0, 0, -128, 1, 1, 1, -128, 2, 2, 2, -128, 3, 3, 3, -128,  //
                                          4, 4, 4, -128, 5, 5, 5, -128, 6, 6, 6, -128, 7, 7, 7, -128);
  for (int i = 0; i < GridSize; i += 16) {
    const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Heights + i));
    const __m128i Negative = _mm_cmplt_epi8(h, Zero);
    const __m128i Up = _mm_andnot_si128(Negative, h);
    const __m128i Down = _mm_and_si128(Negative, _mm_sub_epi8(Zero, h));
    for (int Half = 0; Half < 2; ++Half) {
      const __m128i UpEight = Half ? _mm_srli_si128(Up, 8) : Up;
      const __m128i DownEight = Half ? _mm_srli_si128(Down, 8) : Down;
      const __m256i UpQuads = _mm256_shuffle_epi8(_mm256_broadcastq_epi64(UpEight), Spread);
      const __m256i DownQuads = _mm256_shuffle_epi8(_mm256_broadcastq_epi64(DownEight), Spread);
      const __m256i Shade = _mm256_subs_epu8(_mm256_adds_epu8(Colour, UpQuads), DownQuads);
      __m256i* At = reinterpret_cast<__m256i*>(Pixels + 4 * (i + 8 * Half));
      const __m256i Old = _mm256_loadu_si256(At);
      _mm256_storeu_si256(At, _mm256_or_si256(_mm256_and_si256(Old, Reserved), _mm256_andnot_si256(Reserved, Shade)));
    }
  }
}
#endif

}  // namespace

bool Supported(TLevel Level)
{
#if defined(CORVANE_RIPPLE_X86)
  if (Level == TLevel::Avx2)
    return __builtin_cpu_supports("avx2");
  return true;
#else
  return Level == TLevel::Scalar;
#endif
}

TLevel BestLevel()
{
  static const TLevel Best = Supported(TLevel::Avx2) ? TLevel::Avx2
                             : Supported(TLevel::Sse2) ? TLevel::Sse2
                                                       : TLevel::Scalar;
  return Best;
}

void StepField(const TBuffer& Read, TBuffer& Write, float Damping, TLevel Level)
{
  if (!Supported(Level))
    Level = TLevel::Scalar;
#if defined(CORVANE_RIPPLE_X86)
  if (Level == TLevel::Avx2)
    return StepFieldAvx2(Read.data(), Write.data(), Damping);
  if (Level == TLevel::Sse2)
    return StepFieldSse2(Read.data(), Write.data(), Damping);
#endif
  for (int j = First; j <= Last; ++j)
    StepCells(Read.data(), Write.data(), First + Row * j, Last + Row * j, Damping);
}

void PaintField(const TBuffer& Heights, unsigned char* Pixels, long Stride, TColor rippleColor, TLevel Level)
{
  if (!Supported(Level))
    Level = TLevel::Scalar;
  for (int j = 0; j < GridSize; ++j) {
    const std::int8_t* Line = Heights.data() + Row * j;
    std::uint8_t* Out = Pixels + Stride * j;
#if defined(CORVANE_RIPPLE_X86)
    if (Level == TLevel::Avx2) {
      PaintLineAvx2(Line, Out, rippleColor);
      continue;
    }
    if (Level == TLevel::Sse2) {
      PaintLineSse2(Line, Out, rippleColor);
      continue;
    }
#endif
    PaintCells(Line, Out, GridSize, rippleColor);
  }
}

}  // namespace u_rippleEffect::Kernels
