#include "installer/u_rippleEffect.h"

#include "installer/Logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPainter>

#include <cfloat>
#include <cmath>
#include <memory>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Every step must give the same bits on every build: single-precision
// operations rounded to single each time, never kept wider.
static_assert(FLT_EVAL_METHOD == 0, "single-precision steps must not keep excess precision");

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

// The next value of the cell at Index, from the twelve cells around it and
// its own previous value.
std::int8_t NextCell(const std::int8_t* Read, std::int8_t Previous, int Index)
{
  const int Sum = Read[Index - 2 * Row] + Read[Index - Row - 1] + Read[Index - Row] +
                  Read[Index - Row + 1] + Read[Index - 2] + Read[Index - 1] + Read[Index + 1] +
                  Read[Index + 2] + Read[Index + Row - 1] + Read[Index + Row] +
                  Read[Index + Row + 1] + Read[Index + 2 * Row];
  float v = static_cast<float>(Sum) / 6.0f;
  v = v - static_cast<float>(Previous);
  v = v - v * DampingFactor;
  // Rounds to even (the default rounding mode); the low 8 bits, wrapped.
  return static_cast<std::int8_t>(static_cast<std::uint8_t>(std::lrint(v) & 0xFF));
}

#if defined(__SSE2__)
// Sixteen cells of one row at a time, lane for lane the same operations as
// NextCell: the division, subtractions and product are IEEE single
// operations in every lane, and the conversion rounds to even.
__m128i WidenLow(__m128i Bytes) { return _mm_srai_epi16(_mm_unpacklo_epi8(Bytes, Bytes), 8); }
__m128i WidenHigh(__m128i Bytes) { return _mm_srai_epi16(_mm_unpackhi_epi8(Bytes, Bytes), 8); }

__m128 ToFloatLow(__m128i Words) { return _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(Words, Words), 16)); }
__m128 ToFloatHigh(__m128i Words) { return _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(Words, Words), 16)); }

__m128i Load16(const std::int8_t* At) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(At)); }

__m128i StepQuarter(__m128 Sum, __m128 Previous, __m128 Six, __m128 Damping)
{
  __m128 v = _mm_div_ps(Sum, Six);
  v = _mm_sub_ps(v, Previous);
  v = _mm_sub_ps(v, _mm_mul_ps(v, Damping));
  return _mm_and_si128(_mm_cvtps_epi32(v), _mm_set1_epi32(0xFF));
}

void NextSixteen(const std::int8_t* Read, std::int8_t* Write, int Index, __m128 Six, __m128 Damping)
{
  static constexpr int Offsets[12] = {-2 * Row, -Row - 1, -Row, -Row + 1, -2, -1,
                                      1,        2,        Row - 1, Row, Row + 1, 2 * Row};
  __m128i SumLow = _mm_setzero_si128();
  __m128i SumHigh = _mm_setzero_si128();
  for (int Offset : Offsets) {
    const __m128i Cells = Load16(Read + Index + Offset);
    SumLow = _mm_add_epi16(SumLow, WidenLow(Cells));
    SumHigh = _mm_add_epi16(SumHigh, WidenHigh(Cells));
  }
  const __m128i Old = Load16(Write + Index);
  const __m128i OldLow = WidenLow(Old);
  const __m128i OldHigh = WidenHigh(Old);
  const __m128i R0 = StepQuarter(ToFloatLow(SumLow), ToFloatLow(OldLow), Six, Damping);
  const __m128i R1 = StepQuarter(ToFloatHigh(SumLow), ToFloatHigh(OldLow), Six, Damping);
  const __m128i R2 = StepQuarter(ToFloatLow(SumHigh), ToFloatLow(OldHigh), Six, Damping);
  const __m128i R3 = StepQuarter(ToFloatHigh(SumHigh), ToFloatHigh(OldHigh), Six, Damping);
  // Every lane holds 0 ... 255, so neither pack saturates.
  const __m128i Packed = _mm_packus_epi16(_mm_packs_epi32(R0, R1), _mm_packs_epi32(R2, R3));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(Write + Index), Packed);
}
#endif

void StepField(const TBuffer& ReadField, TBuffer& WriteField)
{
  const std::int8_t* Read = ReadField.data();
  std::int8_t* Write = WriteField.data();
  constexpr int First = 2;
  constexpr int Last = GridSize - 3;
#if defined(__SSE2__)
  // Blocks must not overlap: a cell computed twice would read its own new
  // value as the previous one.
  constexpr int Blocks = (Last - First + 1) / 16;
  const __m128 Six = _mm_set1_ps(6.0f);
  const __m128 Damping = _mm_set1_ps(DampingFactor);
#else
  constexpr int Blocks = 0;
#endif
  for (int j = First; j <= Last; ++j) {
    int i = First;
#if defined(__SSE2__)
    for (int Block = 0; Block < Blocks; ++Block, i += 16)
      NextSixteen(Read, Write, i + Row * j, Six, Damping);
#endif
    for (; i <= Last; ++i) {
      const int Index = i + Row * j;
      Write[Index] = NextCell(Read, Write[Index], Index);
    }
  }
}

#if !defined(__SSE2__)
std::uint8_t ClampByte(int Value)
{
  return static_cast<std::uint8_t>(Value < 0 ? 0 : (Value > 255 ? 255 : Value));
}
#endif

// One scan line: each pixel's blue, green and red are the colour's raised
// by the height and clamped to 0 ... 255; the fourth byte stays.
void PaintLine(const std::int8_t* Heights, std::uint8_t* Pixels, TColor rippleColor)
{
  const int Red = static_cast<int>(rippleColor & 0xFF);
  const int Green = static_cast<int>((rippleColor >> 8) & 0xFF);
  const int Blue = static_cast<int>((rippleColor >> 16) & 0xFF);
#if defined(__SSE2__)
  const __m128i Zero = _mm_setzero_si128();
  const __m128i Colour = _mm_set1_epi32(Blue | (Green << 8) | (Red << 16));
  const __m128i Reserved = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  for (int i = 0; i < GridSize; i += 16) {
    const __m128i h = Load16(Heights + i);
    const __m128i Negative = _mm_cmplt_epi8(h, Zero);
    // |h| as an unsigned byte: -128 gives 128.
    const __m128i Up = _mm_andnot_si128(Negative, h);
    const __m128i Down = _mm_and_si128(Negative, _mm_sub_epi8(Zero, h));
    const __m128i UpPairs[2] = {_mm_unpacklo_epi8(Up, Up), _mm_unpackhi_epi8(Up, Up)};
    const __m128i DownPairs[2] = {_mm_unpacklo_epi8(Down, Down), _mm_unpackhi_epi8(Down, Down)};
    for (int Quarter = 0; Quarter < 4; ++Quarter) {
      const __m128i UpQuad = Quarter % 2 ? _mm_unpackhi_epi16(UpPairs[Quarter / 2], UpPairs[Quarter / 2])
                                         : _mm_unpacklo_epi16(UpPairs[Quarter / 2], UpPairs[Quarter / 2]);
      const __m128i DownQuad = Quarter % 2 ? _mm_unpackhi_epi16(DownPairs[Quarter / 2], DownPairs[Quarter / 2])
                                           : _mm_unpacklo_epi16(DownPairs[Quarter / 2], DownPairs[Quarter / 2]);
      const __m128i Shade = _mm_subs_epu8(_mm_adds_epu8(Colour, UpQuad), DownQuad);
      __m128i* At = reinterpret_cast<__m128i*>(Pixels + 4 * (i + 4 * Quarter));
      const __m128i Old = _mm_loadu_si128(At);
      _mm_storeu_si128(At, _mm_or_si128(_mm_and_si128(Old, Reserved), _mm_andnot_si128(Reserved, Shade)));
    }
  }
#else
  for (int i = 0; i < GridSize; ++i) {
    const int h = Heights[i];
    std::uint8_t* Pixel = Pixels + 4 * i;
    Pixel[0] = ClampByte(Blue + h);
    Pixel[1] = ClampByte(Green + h);
    Pixel[2] = ClampByte(Red + h);
  }
#endif
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
  for (int j = 0; j < GridSize; ++j)
    PaintLine(ReadBuffer->data() + Row * j, Picture.scanLine(j), rippleColor);
  ImageRipple->Invalidate();
}

void ProcessWater(TImage* RippleImage, TColor rippleColor)
{
  if (!ReadBuffer || !WriteBuffer)
    return;
  StepField(*ReadBuffer, *WriteBuffer);
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
