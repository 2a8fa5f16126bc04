#include "hostfw/Image.h"

#include <QTest>

#include <gtest/gtest.h>

#include <vector>

using Image::TImage;

namespace {

QImage Filled(int Width, int Height, QRgb Colour)
{
  QImage Picture(Width, Height, QImage::Format_RGB32);
  Picture.fill(Colour);
  return Picture;
}

TEST(Image, PlacesThePictureAsItsModesSay)
{
  TImage Control;
  Control.resize(771, 103);
  EXPECT_EQ(Control.DestRect(), QRect());
  Control.SetPicture(Filled(256, 256, 0xFF0000FFu));
  EXPECT_EQ(Control.DestRect(), QRect(0, 0, 256, 256));  // unscaled, top-left
  Control.SetStretch(true);
  EXPECT_EQ(Control.DestRect(), QRect(0, 0, 771, 103));
  Control.SetStretch(false);
  Control.SetProportional(true);
  EXPECT_EQ(Control.DestRect(), QRect(0, 0, 103, 103));
  Control.SetCenter(true);
  EXPECT_EQ(Control.DestRect().center(), Control.rect().center());

  // Proportional only shrinks, unless stretched as well.
  Control.SetCenter(false);
  Control.SetPicture(Filled(20, 10, 0xFF00FF00u));
  EXPECT_EQ(Control.DestRect(), QRect(0, 0, 20, 10));
  Control.SetStretch(true);
  EXPECT_EQ(Control.DestRect(), QRect(0, 0, 206, 103));
}

TEST(Image, StretchesItsPictureWhenPainted)
{
  TImage Control;
  Control.resize(300, 60);
  QImage Picture = Filled(4, 4, 0xFF102030u);
  Control.SetPicture(Picture);
  Control.SetStretch(true);
  const QImage Shown = Control.grab().toImage();
  EXPECT_EQ(Shown.pixel(299, 59), 0xFF102030u);
  EXPECT_EQ(Shown.pixel(150, 30), 0xFF102030u);

  // Written in place, shown after Invalidate.
  Control.Picture().fill(0xFF405060u);
  Control.Invalidate();
  EXPECT_EQ(Control.grab().toImage().pixel(10, 10), 0xFF405060u);
  Control.ClearPicture();
  EXPECT_TRUE(Control.Picture().isNull());
}

TEST(Image, ReportsTheMouseInItsOwnPixels)
{
  QWidget Form;
  Form.resize(400, 200);
  TImage Control(&Form);
  Control.setGeometry(100, 50, 200, 100);
  std::vector<std::tuple<char, Qt::MouseButton, int, int>> Seen;
  Control.OnMouseDown = [&](TImage& Sender, Qt::MouseButton Button, int X, int Y) {
    EXPECT_EQ(&Sender, &Control);
    Seen.emplace_back('d', Button, X, Y);
  };
  Control.OnMouseMove = [&](TImage&, int X, int Y) { Seen.emplace_back('m', Qt::NoButton, X, Y); };
  Control.OnMouseUp = [&](TImage&, Qt::MouseButton Button, int X, int Y) { Seen.emplace_back('u', Button, X, Y); };
  Form.show();
  QTest::mousePress(&Control, Qt::RightButton, {}, QPoint(7, 9));
  QTest::mouseMove(&Control, QPoint(30, 40));
  QTest::mouseRelease(&Control, Qt::RightButton, {}, QPoint(31, 41));
  ASSERT_GE(Seen.size(), 3u);
  EXPECT_EQ(Seen.front(), std::make_tuple('d', Qt::RightButton, 7, 9));
  EXPECT_EQ(Seen.back(), std::make_tuple('u', Qt::RightButton, 31, 41));
  EXPECT_NE(std::find(Seen.begin(), Seen.end(), std::make_tuple('m', Qt::NoButton, 30, 40)), Seen.end());
}

}  // namespace
