// Fonts, glyphs and icons of the task dialog, and the measures of its texts.

#include "package/halvernSynTaskDialogInternal.h"
#include "package/halvernSynTaskDialogMeasureCache.h"

#include "package/Edition.h"

#include <QApplication>
#include <QBitmap>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QStyle>

#include <climits>
#include <map>
#include <optional>

namespace halvernSynTaskDialog {

namespace {

// What the unit draws and measures once and keeps. Graphics need the GUI:
// they are made on first use and released with the application object,
// before the GUI goes away.
std::optional<QFont> GDefaultFont;
// Glyphs and icons by name, in a map so that references handed out stay.
std::map<QString, QPixmap> GPixmaps;
TMeasureCache GMeasures;
bool GPostRoutineAdded = false;

void ReleaseUnitGraphics()
{
  GDefaultFont.reset();
  GPixmaps.clear();
  GMeasures.Clear();
  GPostRoutineAdded = false;
}

void ReleaseWithTheApplication()
{
  if (!GPostRoutineAdded) {
    qAddPostRoutine(ReleaseUnitGraphics);
    GPostRoutineAdded = true;
  }
}

// The pixmap kept under Key, made by Make the first time it is asked for.
template <typename TMake>
const QPixmap& KeptPixmap(const QString& Key, TMake Make)
{
  auto Found = GPixmaps.find(Key);
  if (Found == GPixmaps.end()) {
    ReleaseWithTheApplication();
    Found = GPixmaps.emplace(Key, Make()).first;
  }
  return Found->second;
}

// A measure from the cache, or taken by Measure and kept.
template <typename TMeasure>
int Measured(const QFont& Font, int Width, const QString& Text, TMeasure Measure)
{
  if (const std::optional<int> Known = GMeasures.Find(Font, Width, Text))
    return *Known;
  const int Value = Measure();
  ReleaseWithTheApplication();
  GMeasures.Add(Font, Width, Text, Value);
  return Value;
}

#if !defined(CORVANE_EDITION_INSTALLER)
// The package's glyphs are drawn here; the installer's are bitmaps of its
// own resources.

// The 16 colours of the glyphs; index 0 is the transparent one.
const QList<QRgb>& SixteenColours()
{
  static const QList<QRgb> Colours{
    qRgba(0, 0, 0, 0),     qRgb(0, 0, 0),       qRgb(128, 0, 0),     qRgb(0, 128, 0),
    qRgb(128, 128, 0),     qRgb(0, 0, 128),     qRgb(128, 0, 128),   qRgb(0, 128, 128),
    qRgb(192, 192, 192),   qRgb(128, 128, 128), qRgb(255, 0, 0),     qRgb(0, 255, 0),
    qRgb(255, 255, 0),     qRgb(0, 0, 255),     qRgb(255, 0, 255),   qRgb(255, 255, 255),
  };
  return Colours;
}

// Down to the 16 colours: each pixel takes the nearest colour, pixels that
// are mostly transparent the transparent one.
QImage ToSixteenColours(const QImage& Drawn)
{
  const QList<QRgb>& Colours = SixteenColours();
  QImage Result(Drawn.size(), QImage::Format_Indexed8);
  Result.setColorTable(Colours);
  for (int Y = 0; Y < Drawn.height(); ++Y) {
    for (int X = 0; X < Drawn.width(); ++X) {
      const QRgb Pixel = Drawn.pixel(X, Y);
      int Best = 0;
      if (qAlpha(Pixel) >= 128) {
        int BestDistance = INT_MAX;
        for (int I = 1; I < Colours.size(); ++I) {
          const int DR = qRed(Pixel) - qRed(Colours[I]), DG = qGreen(Pixel) - qGreen(Colours[I]),
                    DB = qBlue(Pixel) - qBlue(Colours[I]);
          const int Distance = DR * DR + DG * DG + DB * DB;
          if (Distance < BestDistance) {
            BestDistance = Distance;
            Best = I;
          }
        }
      }
      Result.setPixel(X, Y, uint(Best));
    }
  }
  return Result;
}

// Our own artwork, drawn in dark green on a transparent square of Size
// pixels and brought down to the 16 colours: a tick for OK, an arrow for
// command links.
template <typename TDraw>
QPixmap Glyph(int Size, TDraw Draw)
{
  QImage Image(Size, Size, QImage::Format_ARGB32);
  Image.fill(Qt::transparent);
  {
    QPainter Painter(&Image);
    Painter.setRenderHint(QPainter::Antialiasing, false);
    Draw(Painter, QColor(0, 128, 0));
  }
  return QPixmap::fromImage(ToSixteenColours(Image));
}

QPixmap DrawOkGlyph()
{
  return Glyph(24, [](QPainter& Painter, const QColor& Green) {
    Painter.setPen(QPen(Green, 4, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    Painter.drawPolyline(QPolygon({QPoint(4, 12), QPoint(9, 18), QPoint(20, 5)}));
  });
}

QPixmap DrawArrowGlyph()
{
  return Glyph(16, [](QPainter& Painter, const QColor& Green) {
    Painter.setPen(Qt::NoPen);
    Painter.setBrush(Green);
    Painter.drawRect(2, 6, 7, 4);
    Painter.drawPolygon(QPolygon({QPoint(8, 2), QPoint(14, 8), QPoint(8, 14)}));
  });
}

#endif

QPixmap DrawSystemIcon(int Id)
{
  QStyle::StandardPixmap Which;
  switch (Id) {
  case 32513: Which = QStyle::SP_MessageBoxCritical; break;
  case 32514: Which = QStyle::SP_MessageBoxQuestion; break;
  case 32515: Which = QStyle::SP_MessageBoxWarning; break;
  case 32516: Which = QStyle::SP_MessageBoxInformation; break;
  case 32517: Which = QStyle::SP_ComputerIcon; break;
  default: return {};
  }
  // Always the system icon's size, whatever size the style draws it at.
  QPixmap Icon(SystemIconSize, SystemIconSize);
  Icon.fill(Qt::transparent);
  QPainter Painter(&Icon);
  const QPixmap Drawn = QApplication::style()->standardIcon(Which).pixmap(SystemIconSize, SystemIconSize);
  Painter.drawPixmap((SystemIconSize - Drawn.width()) / 2, (SystemIconSize - Drawn.height()) / 2, Drawn);
  return Icon;
}

QPixmap DrawHalfSizeIcon(const QPixmap& Icon, const QColor& Background)
{
  if (Icon.isNull())
    return {};
  QPixmap Half(Icon.width() / 2, Icon.height() / 2);
  Half.fill(Background);
  QPainter Painter(&Half);
  Painter.setRenderHint(QPainter::SmoothPixmapTransform);
  Painter.drawPixmap(Half.rect(), Icon);
  return Half;
}

}  // namespace

// Fonts.

const QFont& DefaultFont()
{
  if (!GDefaultFont) {
    const QStringList Families = QFontDatabase::families();
    QFont Font;
    if (Families.contains(QStringLiteral("Calibri"))) {
      Font = QFont(QStringLiteral("Calibri"));
      Font.setPixelSize(14);
    } else {
      Font = QFont(Families.contains(QStringLiteral("Tahoma")) ? QStringLiteral("Tahoma") : QStringLiteral("Arial"));
      Font.setPixelSize(13);
    }
    Font.setWeight(QFont::Normal);
    Font.setItalic(false);
    Font.setUnderline(false);
    Font.setStrikeOut(false);
    // Glyph by glyph, as the system's own dialogs draw their texts: scripts
    // that need shaping still get it, Latin text skips the shaper, by far
    // the largest cost of building a dialog.
    Font.setStyleStrategy(QFont::PreferNoShaping);
    GDefaultFont = Font;
    ReleaseWithTheApplication();
  }
  return *GDefaultFont;
}

QFont WithHeight(QFont Font, int Height)
{
  Font.setPixelSize(-Height);
  return Font;
}

int FontHeight(const QFont& Font)
{
  return Measured(Font, TMeasureCache::FontPixelSize, QString(), [&Font] { return -QFontInfo(Font).pixelSize(); });
}

int TextWidthIn(const QFont& Font, const QString& Text)
{
  return Measured(Font, TMeasureCache::NoWrap, Text,
                  [&Font, &Text] { return QFontMetrics(Font).horizontalAdvance(Text); });
}

int WrappedHeightIn(const QFont& Font, int Width, const QString& Text)
{
  return Measured(Font, Width, Text, [&Font, Width, &Text] {
    return QFontMetrics(Font).boundingRect(QRect(0, 0, Width, INT_MAX / 2), Qt::TextWordWrap, Text).height();
  });
}

// Glyphs.

#if defined(CORVANE_EDITION_INSTALLER)
namespace {

const QString GlyphOK = QStringLiteral("BTNOK");
const QString GlyphArrow = QStringLiteral("BTNARROW");

// A bitmap of the program's resources, transparent where it has the colour
// of its lower left pixel, as transparent bitmaps are.
QPixmap TransparentBitmap(const QString& FileName)
{
  QImage Image(FileName);
  if (Image.isNull())
    return {};
  if (Image.format() == QImage::Format_Indexed8) {
    QList<QRgb> Colours = Image.colorTable();
    const int Ground = Image.pixelIndex(0, Image.height() - 1);
    Colours[Ground] = qRgba(0, 0, 0, 0);
    Image.setColorTable(Colours);
    return QPixmap::fromImage(Image);
  }
  QPixmap Pixmap = QPixmap::fromImage(Image);
  Pixmap.setMask(QBitmap::fromImage(Image.createMaskFromColor(Image.pixel(0, Image.height() - 1))));
  return Pixmap;
}

}  // namespace

QPixmap LoadBitmapResource(const QString& Name)
{
  if (Name != GlyphOK && Name != GlyphArrow)
    return {};
  return TransparentBitmap(QStringLiteral(":/SynTaskDialog/%1.bmp").arg(Name));
}
#else
namespace {

const QString GlyphOK = QStringLiteral("BTNOKHMLD");
const QString GlyphArrow = QStringLiteral("BTNARROWHMLD");

}  // namespace

QPixmap LoadBitmapResource(const QString& Name)
{
  if (Name == GlyphOK)
    return DrawOkGlyph();
  if (Name == GlyphArrow)
    return DrawArrowGlyph();
  return {};
}
#endif

const QPixmap& BitmapOK()
{
  return KeptPixmap(GlyphOK, [] { return LoadBitmapResource(GlyphOK); });
}

const QPixmap& BitmapArrow()
{
  return KeptPixmap(GlyphArrow, [] { return LoadBitmapResource(GlyphArrow); });
}

// Icons: loaded once, as the system shares them between windows.

QPixmap LoadSystemIcon(int Id)
{
  return KeptPixmap(QStringLiteral("icon %1").arg(Id), [Id] { return DrawSystemIcon(Id); });
}

QPixmap LoadHalfSizeIcon(int Id, const QColor& Background)
{
  // Kept apart by their ground: one ground's drawing is not another's.
  return KeptPixmap(QStringLiteral("half icon %1 on %2").arg(Id).arg(Background.rgba()),
                    [Id, &Background] { return DrawHalfSizeIcon(LoadSystemIcon(Id), Background); });
}

}  // namespace halvernSynTaskDialog
