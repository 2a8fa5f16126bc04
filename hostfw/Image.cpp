#include "hostfw/Image.h"

#include <QMouseEvent>
#include <QPainter>

namespace Image {

TImage::TImage(QWidget* Parent) : QWidget(Parent)
{
  // Moves are reported without a button held, as the runtime's controls do.
  setMouseTracking(true);
}

void TImage::SetPicture(const QImage& Value)
{
  FPicture = Value;
  Invalidate();
}

void TImage::ClearPicture()
{
  FPicture = QImage();
  Invalidate();
}

void TImage::SetStretch(bool Value)
{
  FStretch = Value;
  Invalidate();
}

void TImage::SetProportional(bool Value)
{
  FProportional = Value;
  Invalidate();
}

void TImage::SetCenter(bool Value)
{
  FCenter = Value;
  Invalidate();
}

void TImage::SetTransparent(bool Value)
{
  FTransparent = Value;
  Invalidate();
}

void TImage::Invalidate()
{
  update();
}

QRect TImage::DestRect() const
{
  if (FPicture.isNull())
    return QRect();
  QSize Size = FPicture.size();
  if (FProportional) {
    const bool Larger = Size.width() > width() || Size.height() > height();
    if (FStretch || Larger)
      Size.scale(size(), Qt::KeepAspectRatio);
  } else if (FStretch) {
    Size = size();
  }
  QRect Rect(QPoint(0, 0), Size);
  if (FCenter)
    Rect.moveCenter(rect().center());
  return Rect;
}

void TImage::paintEvent(QPaintEvent*)
{
  if (FPicture.isNull())
    return;
  QPainter Painter(this);
  const QRect Dest = DestRect();
  // An opaque picture hides what lies behind it, its translucent pixels too.
  if (!FTransparent && FPicture.hasAlphaChannel())
    Painter.fillRect(Dest, palette().window());
  Painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
  Painter.drawImage(Dest, FPicture);
}

void TImage::mousePressEvent(QMouseEvent* Event)
{
  if (OnMouseDown) {
    const QPoint At = Event->position().toPoint();
    OnMouseDown(*this, Event->button(), At.x(), At.y());
  }
}

void TImage::mouseMoveEvent(QMouseEvent* Event)
{
  if (OnMouseMove) {
    const QPoint At = Event->position().toPoint();
    OnMouseMove(*this, At.x(), At.y());
  }
}

void TImage::mouseReleaseEvent(QMouseEvent* Event)
{
  if (OnMouseUp) {
    const QPoint At = Event->position().toPoint();
    OnMouseUp(*this, Event->button(), At.x(), At.y());
  }
}

}  // namespace Image
