#include "platform/Screen.h"

#include "platform/ReplaceableSource.h"
#include "platform/ScreenX11.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QWindow>

namespace Screen {

namespace {

ReplaceableSource::TReplaceableSource<TScreenSource*> CurrentSource;

QWindow* TopLevelOf(QWindow* Window)
{
  while (Window && Window->parent())
    Window = Window->parent();
  return Window;
}

// Where the window system cannot hand out the desktop's pixels (the
// offscreen platform), the desktop is what the top-level windows show, the
// focus window on top.
void ComposeWindows(QPainter& Painter, const QRect& Rect, const QRect& Part)
{
  QWindow* Focus = TopLevelOf(QGuiApplication::focusWindow());
  if (!Focus)
    Focus = TopLevelOf(QGuiApplication::modalWindow());
  QWindowList Windows;
  for (QWindow* Window : QGuiApplication::topLevelWindows())
    if (Window != Focus)
      Windows << Window;
  if (Focus)
    Windows << Focus;
  Painter.save();
  Painter.setClipRect(Part.translated(-Rect.topLeft()));
  for (QWindow* Window : Windows) {
    if (!Window->isVisible() || Window->type() == Qt::Desktop || !Window->geometry().intersects(Part))
      continue;
    QScreen* OnScreen = Window->screen();
    const QPixmap Pixels = OnScreen ? OnScreen->grabWindow(Window->winId()) : QPixmap();
    if (!Pixels.isNull())
      Painter.drawPixmap(Window->geometry().topLeft() - Rect.topLeft(), Pixels);
  }
  Painter.restore();
}


}  // namespace

TScreenSource& Source()
{
  static TRealScreen Real;
  TScreenSource* const Current = CurrentSource.Get();
  return Current ? *Current : Real;
}

void SetSource(TScreenSource* Source) { CurrentSource.Set(Source); }

std::optional<QRect> TRealScreen::GetForegroundWindowRect()
{
  if (!qGuiApp)
    return std::nullopt;
  // A window system that tracks no activation (offscreen) still has the
  // modal window in front, holding the input.
  QWindow* Window = TopLevelOf(QGuiApplication::focusWindow());
  if (!Window)
    Window = TopLevelOf(QGuiApplication::modalWindow());
  if (!Window || !Window->isVisible())
    return std::nullopt;
  return Window->frameGeometry();
}

QImage TRealScreen::GrabDesktop(const QRect& Rect)
{
  if (Rect.isEmpty())
    return {};
  QImage Result(Rect.size(), QImage::Format_RGB32);
  Result.fill(Qt::black);
  if (!qGuiApp)
    return Result;
  QPainter Painter(&Result);
  for (QScreen* OnScreen : QGuiApplication::screens()) {
    const QRect Part = Rect & OnScreen->geometry();
    if (Part.isEmpty())
      continue;
    const QRect Local = Part.translated(-OnScreen->geometry().topLeft());
    const QPixmap Pixels = OnScreen->grabWindow(0, Local.x(), Local.y(), Local.width(), Local.height());
    if (Pixels.size() == Part.size())
      Painter.drawPixmap(Part.topLeft() - Rect.topLeft(), Pixels);
    else
      ComposeWindows(Painter, Rect, Part);
  }
  return Result;
}

std::optional<TCursorInfo> TRealScreen::GetCursorInfo()
{
  if (!qGuiApp)
    return std::nullopt;
  // A cursor the window system cannot show us is left out of the picture,
  // rather than one drawn that may not be what the user saw.
  TCursorInfo Cursor;
  if (ScreenX11::ReadCursor(Cursor.Image, Cursor.HotSpot, Cursor.Position))
    return Cursor;
  return std::nullopt;
}

}  // namespace Screen
