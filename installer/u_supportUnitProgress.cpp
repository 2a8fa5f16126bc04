// The progress band under the IDE list.

#include "installer/u_supportUnit.h"

#include "hostfw/Image.h"

#include <QImage>

#include <cstring>

namespace u_supportUnit {

void UpdateImageProgress(Image::TImage* Image)
{
  constexpr int Step = 4;
  if (!Image)
    return;
  const QImage& Old = Image->Picture();
  const int W = Old.width(), BytesPerPixel = Old.depth() / 8;
  if (W < Step || BytesPerPixel == 0)
    return;
  // Column x of the old picture goes to column x + 4, wrapping round.
  QImage Turned(Old.size(), Old.format());
  const size_t Head = size_t(W - Step) * size_t(BytesPerPixel), Tail = size_t(Step) * size_t(BytesPerPixel);
  for (int Y = 0; Y < Old.height(); ++Y) {
    const uchar* From = Old.constScanLine(Y);
    uchar* To = Turned.scanLine(Y);
    std::memcpy(To + Tail, From, Head);
    std::memcpy(To, From + Head, Tail);
  }
  Image->SetPicture(Turned);
}

}  // namespace u_supportUnit
