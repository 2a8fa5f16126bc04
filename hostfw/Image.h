#pragma once
// An image control as the runtime's forms have it: it holds a picture and
// draws it unscaled from its top-left corner, stretched over its own size,
// or proportionally; mouse presses, moves and releases are reported with the
// position in the control's own pixels.

#include <QImage>
#include <QWidget>

#include <functional>

namespace Image {

class TImage;

// Button and position within the control that received the event.
using TMouseEvent = std::function<void(TImage& Sender, Qt::MouseButton Button, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TImage& Sender, int X, int Y)>;

class TImage : public QWidget {
  Q_OBJECT
  Q_PROPERTY(bool Stretch READ Stretch WRITE SetStretch)
  Q_PROPERTY(bool Proportional READ Proportional WRITE SetProportional)
  Q_PROPERTY(bool Center READ Center WRITE SetCenter)
  Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)

public:
  explicit TImage(QWidget* Parent = nullptr);

  // The picture itself, writable in place (scan lines); call Invalidate
  // after writing so that the control repaints.
  QImage& Picture() { return FPicture; }
  const QImage& Picture() const { return FPicture; }
  void SetPicture(const QImage& Value);
  // An empty picture; the control then draws nothing.
  void ClearPicture();

  // Over the whole control, ignoring the aspect ratio.
  bool Stretch() const { return FStretch; }
  void SetStretch(bool Value);
  // Scaled to fit the control, keeping the aspect ratio (only down unless
  // Stretch is set).
  bool Proportional() const { return FProportional; }
  void SetProportional(bool Value);
  // Centred in the control instead of at its top-left corner.
  bool Center() const { return FCenter; }
  void SetCenter(bool Value);
  // The parent shows through where the picture does not cover the control
  // or has transparent pixels; otherwise the rest is the window colour.
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool Value);

  // Schedules a repaint of the whole control.
  void Invalidate();

  // Where the picture lands within the control.
  QRect DestRect() const;

  TMouseEvent OnMouseDown;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseUp;

protected:
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;

private:
  QImage FPicture;
  bool FStretch = false;
  bool FProportional = false;
  bool FCenter = false;
  bool FTransparent = false;
};

}  // namespace Image
