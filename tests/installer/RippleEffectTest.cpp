#include "installer/u_rippleEffect.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <bit>
#include <cstring>

using namespace u_rippleEffect;

namespace {

constexpr TColor Teal = 0x808000;  // red 0, green 128, blue 128

class RippleEffect : public ::testing::Test {
protected:
  void SetUp() override
  {
    Banner.resize(771, 103);
    CreatOr(&Banner, Colors::clWhite);
  }
  void TearDown() override { DestrOyer(); }

  static int Nonzero(const TBuffer& Field)
  {
    int Count = 0;
    for (std::int8_t Cell : Field)
      Count += Cell != 0;
    return Count;
  }

  TImage Banner;
};

TEST_F(RippleEffect, StartsStillWithItsConstants)
{
  ASSERT_NE(ReadBuffer, nullptr);
  ASSERT_NE(WriteBuffer, nullptr);
  EXPECT_NE(ReadBuffer, WriteBuffer);
  EXPECT_EQ(Nonzero(*ReadBuffer) + Nonzero(*WriteBuffer), 0);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(DampingFactor), 0x3B03126Fu);
  EXPECT_EQ(DripRadius, 12);
  EXPECT_EQ(ImageFilename, QDir(QCoreApplication::applicationDirPath()).filePath("Reflect.bmp"));
}

TEST_F(RippleEffect, DripFallsOffToTheRadius)
{
  RippleMouseDown(100, 100);
  RippleMouseUp(100, 100);
  EXPECT_EQ(InBuffer(*WriteBuffer, 100, 100), 16);
  EXPECT_EQ(InBuffer(*WriteBuffer, 106, 100), 8);
  EXPECT_EQ(InBuffer(*WriteBuffer, 111, 100), 1);
  EXPECT_EQ(InBuffer(*WriteBuffer, 112, 100), 0);
  EXPECT_EQ(InBuffer(*WriteBuffer, 100, 112), 0);
  // The top row of the disc is dripped, the bottom row (y + 12) is not.
  EXPECT_EQ(InBuffer(*WriteBuffer, 100, 89), 1);
  EXPECT_EQ(InBuffer(*WriteBuffer, 100, 111), 1);
  EXPECT_EQ(Nonzero(*ReadBuffer), 0);
}

TEST_F(RippleEffect, DripsAreCutAtTheGridsEdges)
{
  MakeDrip(0, 0, 16);
  for (int y = 0; y < GridSize; ++y)
    for (int x = 0; x < GridSize; ++x)
      if (InBuffer(*WriteBuffer, x, y) != 0) {
        EXPECT_LT(x * x + y * y, 144) << x << "," << y;
      }
  EXPECT_EQ(InBuffer(*WriteBuffer, 0, 0), 16);
  EXPECT_EQ(InBuffer(*WriteBuffer, 11, 0), 1);

  // Column and row 255 are never dripped; a drip beyond the grid is lost.
  MakeDrip(250, 250, 16);
  for (int n = 0; n < GridSize; ++n) {
    EXPECT_EQ(InBuffer(*WriteBuffer, 255, n), 0);
    EXPECT_EQ(InBuffer(*WriteBuffer, n, 255), 0);
  }
  const TBuffer Before = *WriteBuffer;
  MakeDrip(300, 50, 16);
  MakeDrip(-13, 40, 16);
  EXPECT_EQ(*WriteBuffer, Before);
}

TEST_F(RippleEffect, DripDepthIsClampedSymmetrically)
{
  MakeDrip(50, 50, 1000);
  EXPECT_EQ(InBuffer(*WriteBuffer, 50, 50), 127);
  MakeDrip(50, 50, -1000);
  EXPECT_EQ(InBuffer(*WriteBuffer, 50, 50), -127);
  // (12 - d) * 6 / 12 lands on halves at odd distances: ties go to even.
  MakeDrip(50, 50, 6);
  EXPECT_EQ(InBuffer(*WriteBuffer, 55, 50), 4);  // 3.5
  EXPECT_EQ(InBuffer(*WriteBuffer, 57, 50), 2);  // 2.5
  EXPECT_EQ(InBuffer(*WriteBuffer, 59, 50), 2);  // 1.5
  EXPECT_EQ(InBuffer(*WriteBuffer, 61, 50), 0);  // 0.5
  EXPECT_EQ(InBuffer(*WriteBuffer, 50, 41), 2);  // 1.5 upwards too
}

TEST_F(RippleEffect, MouseDripsOnlyWhileDragging)
{
  RippleMouseMove(30, 30);
  EXPECT_EQ(Nonzero(*WriteBuffer), 0);
  RippleMouseDown(30, 30);
  EXPECT_TRUE(Dragging);
  RippleMouseMove(60, 30);
  EXPECT_EQ(InBuffer(*WriteBuffer, 60, 30), 16);
  RippleMouseUp(60, 30);
  EXPECT_FALSE(Dragging);
  RippleMouseMove(90, 30);
  EXPECT_EQ(InBuffer(*WriteBuffer, 90, 30), 0);
}

TEST_F(RippleEffect, StillWaterStaysStillAndShowsTheColour)
{
  for (int n = 0; n < 5; ++n)
    ProcessWater(&Banner, Teal);
  EXPECT_EQ(Nonzero(*ReadBuffer) + Nonzero(*WriteBuffer), 0);
  const QImage& Picture = Banner.Picture();
  ASSERT_EQ(Picture.size(), QSize(256, 256));
  for (int y = 0; y < GridSize; y += 17)
    for (int x = 0; x < GridSize; x += 13)
      ASSERT_EQ(Picture.pixel(x, y), 0xFF008080u) << x << "," << y;
}

TEST_F(RippleEffect, ValuesBeyondAByteWrap)
{
  OutBuffer(*ReadBuffer, 0, 0, 130);
  EXPECT_EQ(InBuffer(*ReadBuffer, 0, 0), -126);
  OutBuffer(*ReadBuffer, 0, 0, 0);

  // (20 / 6 + 127) less 0.2 % is 130.07: stored as -126, not clamped.
  OutBuffer(*ReadBuffer, 100, 98, 20);
  OutBuffer(*WriteBuffer, 100, 100, -127);
  ProcessWater(nullptr, Colors::clWhite);
  EXPECT_EQ(InBuffer(*ReadBuffer, 100, 100), -126);
}

TEST_F(RippleEffect, OneStepByHand)
{
  OutBuffer(*ReadBuffer, 40, 38, 4);
  OutBuffer(*ReadBuffer, 42, 40, 3);
  OutBuffer(*WriteBuffer, 40, 40, 3);
  ProcessWater(nullptr, Colors::clWhite);
  // 7 / 6 - 3 = -1.8333334, damped -1.8296667.
  EXPECT_EQ(InBuffer(*ReadBuffer, 40, 40), -2);
  // 4 / 6 damped is 0.665; 7 / 6 damped 1.1643333; 3 / 6 damped 0.499.
  EXPECT_EQ(InBuffer(*ReadBuffer, 40, 39), 1);
  EXPECT_EQ(InBuffer(*ReadBuffer, 42, 38), 1);
  EXPECT_EQ(InBuffer(*ReadBuffer, 41, 40), 0);
  // Only the field just computed is read next; the sources stay as they were.
  EXPECT_EQ(InBuffer(*WriteBuffer, 40, 38), 4);
  EXPECT_EQ(Nonzero(*ReadBuffer), 12);
}

TEST_F(RippleEffect, BordersKeepTheirDrip)
{
  MakeDrip(100, 1, 16);
  MakeDrip(1, 100, 16);
  MakeDrip(253, 100, 16);
  MakeDrip(100, 253, 16);
  TBuffer* const Dripped = WriteBuffer;
  const TBuffer Before = *Dripped;
  for (int n = 0; n < 7; ++n)
    ProcessWater(&Banner, Colors::clWhite);
  for (int k = 0; k < GridSize; ++k)
    for (int Edge : {0, 1, 254, 255}) {
      ASSERT_EQ(InBuffer(*Dripped, k, Edge), InBuffer(Before, k, Edge)) << k << "," << Edge;
      ASSERT_EQ(InBuffer(*Dripped, Edge, k), InBuffer(Before, Edge, k)) << Edge << "," << k;
    }
  EXPECT_NE(InBuffer(*Dripped, 100, 1), 0);
  EXPECT_NE(*Dripped, Before);  // the inside moved on
}

TEST_F(RippleEffect, PaintsTroughsDarkAndCrestsClampedKeepingTheFourthByte)
{
  OutBuffer(*WriteBuffer, 10, 10, 100);
  OutBuffer(*WriteBuffer, 11, 10, -128);
  OutBuffer(*WriteBuffer, 12, 10, -5);
  // The fourth byte of the picture stays whatever it was.
  QImage Picture(256, 256, QImage::Format_ARGB32);
  Picture.fill(0x40000000u);
  Banner.SetPicture(Picture);
  SetDisplay(&Banner, 0x2080F0);  // red F0, green 80, blue 20
  const QImage& Shown = Banner.Picture();
  EXPECT_EQ(Shown.pixel(10, 10), 0x40FFE484u);
  EXPECT_EQ(Shown.pixel(11, 10), 0x40700000u);
  EXPECT_EQ(Shown.pixel(12, 10), 0x40EB7B1Bu);
  EXPECT_EQ(Shown.pixel(13, 10), 0x40F08020u);
}

TEST_F(RippleEffect, NoStepWithoutBuffers)
{
  DestrOyer();
  EXPECT_EQ(ReadBuffer, nullptr);
  ProcessWater(&Banner, Colors::clWhite);
  SetDisplay(&Banner, Colors::clWhite);
  RippleMouseDown(10, 10);
  RippleMouseUp(10, 10);
  CreatOr(&Banner, Colors::clWhite);
  EXPECT_EQ(Nonzero(*WriteBuffer), 0);
}

TEST_F(RippleEffect, ArtworkBesideTheProgramIsTheBase)
{
  ASSERT_TRUE(QFileInfo(ImageFilename).isFile()) << "Reflect.bmp is shipped beside the programs";
  EXPECT_EQ(BitmapBase.size(), QSize(256, 256));
  EXPECT_EQ(BitmapBase.format(), QImage::Format_RGB32);
  EXPECT_EQ(Banner.Picture(), BitmapBase);
}

TEST_F(RippleEffect, UnusableArtworkFallsBackToAPlainBaseThatStillRipples)
{
  QTemporaryDir Dir;
  const QString Wrong = Dir.filePath("Reflect.bmp");
  ASSERT_TRUE(QImage(100, 50, QImage::Format_RGB32).save(Wrong, "BMP"));
  const QString Broken = Dir.filePath("broken.bmp");
  QFile File(Broken);
  ASSERT_TRUE(File.open(QIODevice::WriteOnly));
  File.write("BM not a bitmap at all");
  File.close();

  for (const QString& Name : {Wrong, Broken, Dir.filePath("missing.bmp")}) {
    ImageFilename = Name;
    EXPECT_FALSE(UpdateBaseImage(&Banner, 771, 103, Teal)) << Name.toStdString();
    const QImage& Plain = Banner.Picture();
    ASSERT_EQ(Plain.size(), QSize(771, 103));
    EXPECT_EQ(Plain.pixel(0, 0), 0xFF000000u);      // the black outline
    EXPECT_EQ(Plain.pixel(770, 102), 0xFF000000u);
    EXPECT_EQ(Plain.pixel(300, 50), 0xFF008080u);   // the fill
  }
  // The first step paints the whole 256 x 256 field over the plain base.
  MakeDrip(128, 128, 16);
  ProcessWater(&Banner, Teal);
  EXPECT_EQ(Banner.Picture().size(), QSize(256, 256));
  EXPECT_EQ(Banner.Picture().pixel(0, 0), 0xFF008080u);
  EXPECT_NE(Banner.Picture().pixel(128, 128), 0xFF008080u);
}

}  // namespace
