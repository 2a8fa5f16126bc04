// The viewer window on an X server (xvfb-run): the pixels the server shows
// hold no selection colour until the user gives a text the focus.

#include "tests/package/ViewerTestSupport.h"

#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

using namespace ViewerTests;
using u_errorFileReader::TFrmErroReader;

TEST(ErrorFileReaderOnScreen, NoTextIsDrawnSelected)
{
  ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "screen tests run under xvfb-run";
  const TReportFile File(FullReport());
  TFrmErroReader Form(nullptr, File.Name());
  Form.show();
  Form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Form));
  // What the server shows of an edit, from the window's own pixels.
  const auto OnScreen = [&Form](RichEdit::TRichEdit* Edit) {
    QTest::qWait(100);
    const QRect Area(Edit->mapTo(&Form, QPoint(0, 0)), Edit->size());
    return Form.screen()->grabWindow(Form.winId(), Area.x(), Area.y(), Area.width(), Area.height()).toImage();
  };
  ExpectEachTextAtItsTopWithNothingSelected(Form, OnScreen);

  // Once the user gives the call stack the focus and scrolls to its
  // selection, the selection is drawn.
  RichEdit::TRichEdit* Stack = Form.RichEditErrorCallStack();
  Stack->setFocus();
  Stack->ensureCursorVisible();
  EXPECT_TRUE(HoldsSelectionColour(OnScreen(Stack)));
}
