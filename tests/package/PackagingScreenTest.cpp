// The screenshot of a real window on an X server (xvfb-run), read back by
// Python.

#include "package/Vesparoutil.h"

#include "tests/support/TempEnvironment.h"
#include "tests/support/ZipCheck.h"

#include <QCursor>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

TEST(ScreenshotOnScreen, ThePictureIsTheActiveWindowWithTheCursor)
{
  ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "screen tests run under xvfb-run";
  TestSupport::TTempEnvironment Env;
  QWidget Window;
  QPalette Colours = Window.palette();
  Colours.setColor(QPalette::Window, QColor(0, 200, 0));
  Window.setPalette(Colours);
  Window.setAutoFillBackground(true);
  Window.setGeometry(60, 50, 301, 187);
  Window.show();
  Window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Window));
  QTest::qWait(200);
  const QRect Frame = Window.windowHandle()->frameGeometry();
  QCursor::setPos(Frame.center());
  QTest::qWait(50);

  Vesparoutil::TakeScreenShotAndSaveInapplicationFolder();
  const QList<int> Size = TestSupport::PythonBitmapSize(Vesparoutil::sJpegFileName);
  ASSERT_EQ(Size.size(), 3) << "no bitmap at " << Vesparoutil::sJpegFileName.toStdString();
  EXPECT_EQ(Size[0], Frame.width());
  EXPECT_EQ(Size[1], Frame.height());

  // The window's colour, and the cursor drawn where it stands.
  const QImage Picture(Vesparoutil::sJpegFileName);
  EXPECT_EQ(QColor(Picture.pixel(5, Picture.height() - 5)), QColor(0, 200, 0));
  int Other = 0;
  for (int Y = Frame.height() / 2 - 20; Y < Frame.height() / 2 + 20; ++Y)
    for (int X = Frame.width() / 2 - 20; X < Frame.width() / 2 + 20; ++X)
      Other += QColor(Picture.pixel(X, Y)) != QColor(0, 200, 0);
  EXPECT_GT(Other, 10);
}
