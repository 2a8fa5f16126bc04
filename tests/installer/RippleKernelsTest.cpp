// Every instruction-set level of the ripple's loops gives the bits of the
// plain loop, on random fields with the extreme cells among them.

#include "installer/u_rippleEffectKernels.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace u_rippleEffect;
using Kernels::TLevel;

namespace {

TBuffer RandomField(std::mt19937& Random)
{
  std::uniform_int_distribution<int> Cell(-128, 127);
  TBuffer Field;
  for (std::int8_t& Value : Field)
    Value = static_cast<std::int8_t>(Cell(Random));
  for (int n = 0; n < 600; ++n)
    Field[Random() % Field.size()] = Random() % 2 ? -128 : 127;
  return Field;
}

class RippleKernels : public ::testing::TestWithParam<TLevel> {
protected:
  void SetUp() override
  {
    if (!Kernels::Supported(GetParam()))
      GTEST_SKIP() << "the processor lacks this level";
  }
};

TEST_P(RippleKernels, StepGivesThePlainLoopsBits)
{
  std::mt19937 Random(16);
  for (int Round = 0; Round < 20; ++Round) {
    // Small fields too, where quotients land near halves.
    TBuffer Read = RandomField(Random);
    if (Round % 2)
      for (std::int8_t& Value : Read)
        Value = static_cast<std::int8_t>(Value % 4);
    const TBuffer Previous = RandomField(Random);
    TBuffer Plain = Previous;
    TBuffer Fast = Previous;
    Kernels::StepField(Read, Plain, 0.002f, TLevel::Scalar);
    Kernels::StepField(Read, Fast, 0.002f, GetParam());
    ASSERT_EQ(Fast, Plain) << "round " << Round;
  }
}

TEST_P(RippleKernels, PaintGivesThePlainLoopsBits)
{
  std::mt19937 Random(6);
  const long Stride = 4 * GridSize + 12;  // rows apart by more than their width
  for (TColor Colour : {0xFFFFFFu, 0x000000u, 0x10E0FFu, 0x7F8081u}) {
    const TBuffer Heights = RandomField(Random);
    std::vector<unsigned char> Plain(static_cast<std::size_t>(Stride * GridSize));
    for (unsigned char& Byte : Plain)
      Byte = static_cast<unsigned char>(Random());
    std::vector<unsigned char> Fast = Plain;
    Kernels::PaintField(Heights, Plain.data(), Stride, Colour, TLevel::Scalar);
    Kernels::PaintField(Heights, Fast.data(), Stride, Colour, GetParam());
    ASSERT_EQ(Fast, Plain) << std::hex << Colour;
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, RippleKernels, ::testing::Values(TLevel::Sse2, TLevel::Avx2));

}  // namespace
