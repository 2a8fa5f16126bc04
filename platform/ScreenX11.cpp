#include "platform/ScreenX11.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#if QT_CONFIG(xcb)
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#endif

namespace ScreenX11 {

bool ReadCursor(QImage& Image, QPoint& HotSpot, QPoint& Position)
{
#if QT_CONFIG(xcb)
  auto* X11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  Display* XDisplay = X11 ? X11->display() : nullptr;
  if (!XDisplay)
    return false;
  int EventBase = 0;
  int ErrorBase = 0;
  if (!XFixesQueryExtension(XDisplay, &EventBase, &ErrorBase))
    return false;
  XFixesCursorImage* Cursor = XFixesGetCursorImage(XDisplay);
  if (!Cursor)
    return false;
  const bool Showing = Cursor->width > 0 && Cursor->height > 0;
  if (Showing) {
    // One premultiplied ARGB pixel in each (long) element.
    Image = QImage(Cursor->width, Cursor->height, QImage::Format_ARGB32_Premultiplied);
    for (int Y = 0; Y < Cursor->height; ++Y) {
      auto* Line = reinterpret_cast<QRgb*>(Image.scanLine(Y));
      for (int X = 0; X < Cursor->width; ++X)
        Line[X] = QRgb(Cursor->pixels[Y * Cursor->width + X] & 0xFFFFFFFFu);
    }
    HotSpot = QPoint(Cursor->xhot, Cursor->yhot);
    Position = QPoint(Cursor->x, Cursor->y);
  }
  XFree(Cursor);
  return Showing;
#else
  Q_UNUSED(Image);
  Q_UNUSED(HotSpot);
  Q_UNUSED(Position);
  return false;
#endif
}

}  // namespace ScreenX11
