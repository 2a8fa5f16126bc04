// Draws the installer's artwork: the ripple banner's base picture
// Reflect.bmp (256 x 256), the logo (JPEG, 160 x 62) and the progress band
// (748 x 44, 24 bits per pixel). Run once, from this folder, and commit what
// it writes:
//
//   QT_QPA_PLATFORM=offscreen build/bin/make-installer-artwork installer/resources

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

// Deep water under a pale sky, with the light of a low sun on its swell.
QImage DrawReflection()
{
  QImage Picture(256, 256, QImage::Format_RGB888);
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      const double Depth = y / 255.0;
      const double Swell = std::sin(x * 0.09 + std::sin(y * 0.05) * 2.0) * std::cos(y * 0.21 + x * 0.02);
      const double Glint = std::exp(-std::pow((x - 160) / 48.0, 2) - std::pow((y - 70) / 90.0, 2));
      const double Light = 0.5 + 0.5 * Swell;
      const int Red = static_cast<int>(20 + 60 * (1 - Depth) + 120 * Glint * Light);
      const int Green = static_cast<int>(70 + 90 * (1 - Depth) + 110 * Glint * Light + 12 * Swell);
      const int Blue = static_cast<int>(120 + 100 * (1 - Depth) + 35 * Glint + 18 * Swell);
      Picture.setPixel(x, y, qRgb(qBound(0, Red, 255), qBound(0, Green, 255), qBound(0, Blue, 255)));
    }
  }
  return Picture;
}

// A dark bird's wing over a ring of water, and the name.
QImage DrawLogo()
{
  QImage Picture(160, 62, QImage::Format_RGB888);
  QPainter Painter(&Picture);
  Painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient Back(0, 0, 0, 62);
  Back.setColorAt(0, QColor(236, 242, 250));
  Back.setColorAt(1, QColor(196, 214, 236));
  Painter.fillRect(Picture.rect(), Back);

  Painter.setPen(QPen(QColor(40, 110, 190), 2.5));
  Painter.setBrush(Qt::NoBrush);
  Painter.drawEllipse(QPointF(31, 31), 22, 22);
  Painter.setPen(QPen(QColor(90, 160, 220), 1.5));
  Painter.drawEllipse(QPointF(31, 31), 15, 15);

  QPainterPath Wing;
  Wing.moveTo(12, 36);
  Wing.cubicTo(22, 18, 38, 10, 52, 14);
  Wing.cubicTo(42, 20, 38, 26, 36, 32);
  Wing.cubicTo(30, 30, 22, 31, 12, 36);
  Painter.setPen(Qt::NoPen);
  Painter.setBrush(QColor(24, 28, 44));
  Painter.drawPath(Wing);

  QFont Font(QStringLiteral("DejaVu Sans"));
  Font.setPixelSize(21);
  Font.setBold(true);
  Painter.setFont(Font);
  Painter.setPen(QColor(24, 28, 44));
  Painter.drawText(QRectF(58, 8, 100, 30), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Corvane"));
  Font.setPixelSize(10);
  Font.setBold(false);
  Painter.setFont(Font);
  Painter.setPen(QColor(40, 110, 190));
  Painter.drawText(QRectF(59, 36, 100, 16), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("bug reports"));
  return Picture;
}

// Slanted bars in a blue gradient that repeat across the width, so that
// turning the band by a few pixels looks like movement.
QImage DrawProgressBand()
{
  constexpr int Width = 748;
  constexpr int Height = 44;
  constexpr int Period = 44;  // 748 = 17 periods: the band wraps seamlessly
  QImage Picture(Width, Height, QImage::Format_RGB888);
  for (int y = 0; y < Height; ++y) {
    const double Shade = 0.75 + 0.25 * std::sin(std::numbers::pi * y / (Height - 1));
    for (int x = 0; x < Width; ++x) {
      const double Phase = std::fmod(x + y, Period) / Period;
      const double Bar = 0.5 + 0.5 * std::cos(2 * std::numbers::pi * Phase);
      const int Red = static_cast<int>((40 + 70 * Bar) * Shade);
      const int Green = static_cast<int>((110 + 90 * Bar) * Shade);
      const int Blue = static_cast<int>((190 + 65 * Bar) * Shade);
      Picture.setPixel(x, y, qRgb(Red, Green, Blue));
    }
  }
  return Picture;
}

bool Save(const QImage& Picture, const QDir& Folder, const char* Name, const char* Format, int Quality = -1)
{
  const QString Path = Folder.filePath(QString::fromLatin1(Name));
  if (Picture.save(Path, Format, Quality))
    return true;
  std::fprintf(stderr, "make-installer-artwork: cannot write %s\n", qPrintable(Path));
  return false;
}

}  // namespace

int main(int argc, char* argv[])
{
  QGuiApplication App(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-installer-artwork FOLDER\n");
    return 2;
  }
  const QDir Folder(QString::fromLocal8Bit(argv[1]));
  const bool Ok = Save(DrawReflection(), Folder, "Reflect.bmp", "BMP") &&
                  Save(DrawLogo(), Folder, "logo.jpg", "JPEG", 92) &&
                  Save(DrawProgressBand(), Folder, "progress.bmp", "BMP");
  return Ok ? 0 : 1;
}
