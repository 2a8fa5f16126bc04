#pragma once
// The pixels of pictures that the gui and screen tests take.

#include <QColor>
#include <QImage>

namespace TestSupport {

// Whether a picture holds a pixel of a colour.
inline bool Holds(const QImage& Picture, const QColor& Colour)
{
  for (int Y = 0; Y < Picture.height(); ++Y)
    for (int X = 0; X < Picture.width(); ++X)
      if (Picture.pixelColor(X, Y).rgb() == Colour.rgb())
        return true;
  return false;
}

}  // namespace TestSupport
