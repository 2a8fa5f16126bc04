// The error prompt on an X server (xvfb-run): a PNG of it is kept in the
// build tree, and the screenshot its OK button takes is the prompt itself.

#include "tests/package/TaskDialogTestSupport.h"

#include "package/Vesparo.h"
#include "tests/support/ZipCheck.h"

#include <QLabel>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

using namespace TaskDialogTests;

namespace {

// Width and height of a PNG file from its header, read by Python.
QList<int> PythonPngSize(const QString& FileName)
{
  return TestSupport::PythonNumbers(QStringLiteral(R"PY(
import struct, sys, zlib
b = open(sys.argv[1], 'rb').read()
if b[:8] == b'\x89PNG\r\n\x1a\n' and b[12:16] == b'IHDR':
    width, height = struct.unpack('>II', b[16:24])
    data = b''
    pos = 8
    while pos < len(b):
        length, kind = struct.unpack('>I4s', b[pos:pos + 8])
        if kind == b'IDAT':
            data += b[pos + 8:pos + 8 + length]
        pos += 12 + length
    zlib.decompress(data)
    print(width, height)
)PY"),
                                    FileName);
}

class PromptOnScreen : public TWithReport {};

}  // namespace

TEST_F(PromptOnScreen, APictureOfThePromptAndItsOwnScreenshot)
{
  ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "screen tests run under xvfb-run";
  const QString Png = QStringLiteral(CORVANE_BIN_DIR "/../prompt-on-screen.png");
  QFile::remove(Png);
  QSize DialogSize, FrameSize;
  QRect Panel, Inst;
  bool Saved = false;
  TOnScreen Hook([&](QDialog& Dialog) {
    if (!QTest::qWaitForWindowExposed(&Dialog))
      return Dialog.reject();
    QTest::qWait(200);
    DialogSize = Dialog.size();
    FrameSize = Dialog.windowHandle()->frameGeometry().size();
    Panel = Dialog.findChild<QWidget*>(QStringLiteral("Panel"))->geometry();
    Inst = Dialog.findChild<QLabel*>(QStringLiteral("Inst"))->geometry();
    Saved = Dialog.screen()->grabWindow(Dialog.winId()).save(Png, "PNG");
    ButtonWithResult(Dialog, 1)->click();
  });
  Vesparo::TCVVesparo Component;
  Component.ErrorMessageBySynTask(QStringLiteral("Access violation at address 00000000"), QStringLiteral("report"));
  ASSERT_TRUE(Saved);

  // A PNG of the dialog's size, as Python reads it.
  EXPECT_EQ(PythonPngSize(Png), (QList<int>{DialogSize.width(), DialogSize.height()}));
  // What it shows: the white panel, the dark blue main instruction on it,
  // the grey form below, and text and icons in many colours.
  const QImage Picture(Png);
  ASSERT_EQ(Picture.size(), DialogSize);
  EXPECT_EQ(QColor(Picture.pixel(Panel.right() - 2, Panel.bottom() - 2)), QColor(Qt::white));
  EXPECT_NE(QColor(Picture.pixel(2, DialogSize.height() - 2)), QColor(Qt::white));
  bool DarkBlue = false;
  QSet<QRgb> Colours;
  for (int Y = 0; Y < Picture.height(); ++Y)
    for (int X = 0; X < Picture.width(); ++X) {
      const QRgb Pixel = Picture.pixel(X, Y);
      Colours << Pixel;
      DarkBlue |= Inst.contains(X, Y) && qBlue(Pixel) > 2 * qRed(Pixel) + 40 && qBlue(Pixel) > 2 * qGreen(Pixel) + 40;
    }
  EXPECT_TRUE(DarkBlue);
  EXPECT_GT(Colours.size(), 20);

  // OK photographed the prompt, frame included, while it was on screen.
  const QList<int> Shot = TestSupport::PythonBitmapSize(Vesparoutil::sJpegFileName);
  ASSERT_EQ(Shot.size(), 3);
  EXPECT_EQ(Shot[0], FrameSize.width());
  EXPECT_EQ(Shot[1], FrameSize.height());
}
