#pragma once
// The X server's cursor image, apart from the screen unit: the X headers
// define names (Screen, None, Bool) that clash with ours.

#include <QImage>
#include <QPoint>

namespace ScreenX11 {

// The current cursor of the X server the application talks to: its image,
// hot spot and position. False when the application runs on no X server,
// the server lacks the XFIXES extension, or the cursor is hidden.
bool ReadCursor(QImage& Image, QPoint& HotSpot, QPoint& Position);

}  // namespace ScreenX11
