#pragma once
// The screen as the screenshot step sees it: the foreground window, the
// desktop's pixels and the mouse cursor. The real source reads the window
// system through Qt and the cursor from the X server (no cursor where its
// image cannot be read); a test may put a source of canned data in its place.

#include <QImage>
#include <QPoint>
#include <QRect>

#include <optional>

namespace Screen {

// A cursor that is showing: its image, the hot spot inside the image, and
// the position of the hot spot on the screen.
struct TCursorInfo {
  QImage Image;
  QPoint HotSpot;
  QPoint Position;
};

class TScreenSource {
public:
  virtual ~TScreenSource() = default;
  // Screen rectangle of the foreground window, frame included; nothing when
  // no window of the application is active.
  virtual std::optional<QRect> GetForegroundWindowRect() = 0;
  // The desktop's pixels inside Rect (screen coordinates), as an image of
  // Rect's size; what lies on no screen stays black.
  virtual QImage GrabDesktop(const QRect& Rect) = 0;
  // The cursor, when it is showing and its image can be read.
  virtual std::optional<TCursorInfo> GetCursorInfo() = 0;
};

// The source in use: the real screen unless a test has set another.
TScreenSource& Source();
// Sets the source (not owned); nullptr returns to the real screen.
void SetSource(TScreenSource* Source);

// The real screen.
class TRealScreen : public TScreenSource {
public:
  std::optional<QRect> GetForegroundWindowRect() override;
  QImage GrabDesktop(const QRect& Rect) override;
  std::optional<TCursorInfo> GetCursorInfo() override;
};

}  // namespace Screen
