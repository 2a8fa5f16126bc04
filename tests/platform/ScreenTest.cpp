// The real screen on an X server (xvfb-run): the active window's frame, the
// desktop's pixels, and the server's cursor.

#include "platform/Screen.h"

#include <QCursor>
#include <QGuiApplication>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

namespace {
const QColor WindowColour(0, 128, 255);

struct TColouredWindow : QWidget {
  TColouredWindow()
  {
    setWindowTitle(QStringLiteral("In front"));
    QPalette Colours = palette();
    Colours.setColor(QPalette::Window, WindowColour);
    setPalette(Colours);
    setAutoFillBackground(true);
    setGeometry(100, 80, 240, 160);
    show();
    activateWindow();
  }
};
}  // namespace

TEST(RealScreen, ActiveWindowDesktopPixelsAndTheServersCursor)
{
  ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "screen tests run under xvfb-run";
  Screen::TScreenSource& Real = Screen::Source();
  EXPECT_FALSE(Real.GetForegroundWindowRect());

  TColouredWindow Window;
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Window));
  QTest::qWait(200);  // painted and on the server

  const std::optional<QRect> Rect = Real.GetForegroundWindowRect();
  ASSERT_TRUE(Rect);
  EXPECT_EQ(*Rect, Window.windowHandle()->frameGeometry());
  const QImage Pixels = Real.GrabDesktop(*Rect);
  ASSERT_EQ(Pixels.size(), Rect->size());
  EXPECT_EQ(QColor(Pixels.pixel(Pixels.width() / 2, Pixels.height() / 2)), WindowColour);

  // Beyond the screen's edge the picture keeps its size, black there.
  const QImage Edge = Real.GrabDesktop(QRect(-10, -10, 30, 30));
  ASSERT_EQ(Edge.size(), QSize(30, 30));
  EXPECT_EQ(QColor(Edge.pixel(0, 0)), QColor(Qt::black));

  QCursor::setPos(150, 120);
  QTest::qWait(50);
  const std::optional<Screen::TCursorInfo> Cursor = Real.GetCursorInfo();
  ASSERT_TRUE(Cursor);
  EXPECT_FALSE(Cursor->Image.isNull());
  EXPECT_EQ(Cursor->Position, QPoint(150, 120));
  EXPECT_TRUE(QRect(QPoint(0, 0), Cursor->Image.size()).contains(Cursor->HotSpot));

  Window.hide();
  QTest::qWait(100);
  EXPECT_FALSE(Real.GetForegroundWindowRect());
}
