#include "installer/u_rippleEffect.h"

#include "installer/InstallerLog.h"
#include "installer/u_rippleEffectKernels.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPainter>

#include <cmath>
#include <memory>
#include <utility>

namespace u_rippleEffect {

pBuffer ReadBuffer = nullptr;
pBuffer WriteBuffer = nullptr;
float DampingFactor = 0.002f;
int DripRadius = 12;
bool Dragging = false;
QImage BitmapBase;
QString ImageFilename;

namespace {

constexpr int Row = GridSize;
constexpr int DripDepth = 16;

// Both fields in one block; ReadBuffer and WriteBuffer point into it and
// trade places every step.
std::unique_ptr<std::array<TBuffer, 2>> Buffers;

bool IsGridImage(const QImage& Picture)
{
  return Picture.width() == GridSize && Picture.height() == GridSize &&
         (Picture.format() == QImage::Format_RGB32 || Picture.format() == QImage::Format_ARGB32);
}

// The plain base: the colour, outlined by a one-pixel black frame.
QImage PlainBase(int widthImage, int heightImage, TColor rippleColor)
{
  if (widthImage <= 0 || heightImage <= 0)
    return QImage();
  QImage Plain(widthImage, heightImage, QImage::Format_RGB888);
  QPainter Painter(&Plain);
  Painter.setPen(Qt::black);
  Painter.setBrush(Colors::ColorToQColor(rippleColor));
  Painter.drawRect(0, 0, widthImage - 1, heightImage - 1);
  return Plain;
}

}  // namespace

std::int8_t InBuffer(const TBuffer& buffer, int x, int y)
{
  return buffer[static_cast<std::size_t>(x + Row * y)];
}

void OutBuffer(TBuffer& buffer, int x, int y, int value)
{
  buffer[static_cast<std::size_t>(x + Row * y)] = static_cast<std::int8_t>(static_cast<std::uint8_t>(value & 0xFF));
}

int CalcDistanceSquared(int sx, int sy, int dx, int dy)
{
  return (dx - sx) * (dx - sx) + (dy - sy) * (dy - sy);
}

void UpdateData()
{
  DripRadius = 12;
  DampingFactor = 0.002f;
}

bool UpdateBaseImage(TImage* ImageToRipple, int widthImage, int heightImage, TColor rippleColor)
{
  BitmapBase = QImage();
  bool Used = false;
  if (QFileInfo(ImageFilename).isFile()) {
    const QImage Loaded(ImageFilename);
    if (Loaded.isNull()) {
      qCWarning(Logging::Installer).noquote() << ImageFilename << "cannot be read as a picture; the banner ripples on a plain base";
    } else if (Loaded.size() != QSize(GridSize, GridSize)) {
      qCWarning(Logging::Installer).noquote() << ImageFilename << "is" << Loaded.width() << "x" << Loaded.height()
                                              << "pixels, not 256 x 256; the banner ripples on a plain base";
    } else {
      BitmapBase = Loaded.convertToFormat(QImage::Format_RGB32);
      Used = true;
    }
  }
  if (!Used)
    BitmapBase = PlainBase(widthImage, heightImage, rippleColor);
  if (ImageToRipple)
    ImageToRipple->SetPicture(BitmapBase);
  return Used;
}

void CreatOr(TImage* ImageToRipple, TColor rippleColor)
{
  ImageFilename = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Reflect.bmp"));
  // The buffers first: whatever the picture file holds, a step never runs
  // without them.
  Buffers = std::make_unique<std::array<TBuffer, 2>>();
  ReadBuffer = &(*Buffers)[0];
  WriteBuffer = &(*Buffers)[1];
  Dragging = false;
  UpdateData();
  const QSize Size = ImageToRipple ? ImageToRipple->size() : QSize();
  UpdateBaseImage(ImageToRipple, Size.width(), Size.height(), rippleColor);
}

void DestrOyer()
{
  BitmapBase = QImage();
  ReadBuffer = nullptr;
  WriteBuffer = nullptr;
  Buffers.reset();
  Dragging = false;
}

void MakeDrip(int x, int y, int depth)
{
  if (!WriteBuffer)
    return;
  const int RadiusSquared = DripRadius * DripRadius;
  for (int j = y - DripRadius; j <= y + DripRadius - 1; ++j) {
    for (int i = x - DripRadius; i <= x + DripRadius; ++i) {
      // Column 255 and row 255 are never dripped.
      if (i < 0 || i >= GridSize - 1 || j < 0 || j >= GridSize - 1)
        continue;
      const int d2 = CalcDistanceSquared(x, y, i, j);
      if (d2 >= RadiusSquared)
        continue;
      const long double Exact =
          (static_cast<long double>(DripRadius) - std::sqrt(static_cast<long double>(d2))) * depth / DripRadius;
      long long FinalDepth = std::llrint(Exact);
      if (FinalDepth > 127)
        FinalDepth = 127;
      else if (FinalDepth < -127)
        FinalDepth = -127;
      OutBuffer(*WriteBuffer, i, j, static_cast<int>(FinalDepth));
    }
  }
}

void SetDisplay(TImage* ImageRipple, TColor rippleColor)
{
  if (!ReadBuffer || !WriteBuffer)
    return;
  std::swap(ReadBuffer, WriteBuffer);
  if (!ImageRipple)
    return;
  QImage& Picture = ImageRipple->Picture();
  if (!IsGridImage(Picture)) {
    if (Picture.size() == QSize(GridSize, GridSize)) {
      Picture = Picture.convertToFormat(QImage::Format_RGB32);
    } else {
      Picture = QImage(GridSize, GridSize, QImage::Format_RGB32);
      Picture.fill(0xFF000000u);
    }
  }
  Kernels::PaintField(*ReadBuffer, Picture.bits(), static_cast<long>(Picture.bytesPerLine()), rippleColor);
  ImageRipple->Invalidate();
}

void ProcessWater(TImage* RippleImage, TColor rippleColor)
{
  if (!ReadBuffer || !WriteBuffer)
    return;
  Kernels::StepField(*ReadBuffer, *WriteBuffer, DampingFactor);
  SetDisplay(RippleImage, rippleColor);
}

void RippleMouseDown(int X, int Y)
{
  Dragging = true;
  MakeDrip(X, Y, DripDepth);
}

void RippleMouseMove(int X, int Y)
{
  if (Dragging)
    MakeDrip(X, Y, DripDepth);
}

void RippleMouseUp(int, int)
{
  Dragging = false;
}

}  // namespace u_rippleEffect
