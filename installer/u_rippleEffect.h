#pragma once
// Water ripples on the installer's banner: drips disturb a 256 x 256 height
// field, every step spreads and damps them and paints the field onto the
// banner's picture (a 256 x 256 picture of 32 bits per pixel, bytes blue,
// green, red, reserved, which the control stretches over its own size).
//
// The arithmetic is exact to the bit: single precision rounded after every
// operation, results rounded to the nearest integer with ties to even and
// wrapped to 8 bits; drips in extended precision clamped to -127 ... 127.
// One effect per program, kept in the unit's globals.

#include "hostfw/Colors.h"
#include "hostfw/Image.h"

#include <QImage>
#include <QString>

#include <array>
#include <cstdint>

namespace u_rippleEffect {

inline constexpr int GridSize = 256;

// Cell of column x and row y at x + 256 * y.
using TBuffer = std::array<std::int8_t, GridSize * GridSize>;
using pBuffer = TBuffer*;

// The current field and the other one (previous, then next). Null before
// CreatOr and after DestrOyer; a step without them does nothing.
extern pBuffer ReadBuffer;
extern pBuffer WriteBuffer;
extern float DampingFactor;
extern int DripRadius;
extern bool Dragging;
extern QImage BitmapBase;
extern QString ImageFilename;

// Red in the lowest byte, as every colour value here.
using Colors::TColor;
using Image::TImage;

// Base image and buffers. Never raises for the picture file: a missing,
// unreadable or wrongly sized "Reflect.bmp" gives the plain base image (the
// last two reported on the log category corvane.installer), and the
// buffers are there in every case.
void CreatOr(TImage* ImageToRipple, TColor rippleColor);
void DestrOyer();

// One step: spreads and damps the field, then paints it (SetDisplay).
void ProcessWater(TImage* RippleImage, TColor rippleColor);

// Mouse hooks; X, Y are the position within the control, used as grid
// coordinates unscaled (positions outside the grid drip nothing).
void RippleMouseDown(int X, int Y);
void RippleMouseMove(int X, int Y);
void RippleMouseUp(int X, int Y);

// Loads "Reflect.bmp" into BitmapBase (or fills widthImage x heightImage
// with rippleColor, outlined in black, when it is missing or unusable) and
// gives the control a copy. Returns whether the file was used.
bool UpdateBaseImage(TImage* ImageToRipple, int widthImage, int heightImage, TColor rippleColor);
void UpdateData();
void MakeDrip(int x, int y, int depth);
// Swaps the buffers and paints ReadBuffer into the control's picture, which
// it makes 256 x 256 at 32 bits per pixel first if it is not.
void SetDisplay(TImage* ImageRipple, TColor rippleColor);

std::int8_t InBuffer(const TBuffer& buffer, int x, int y);
void OutBuffer(TBuffer& buffer, int x, int y, int value);
int CalcDistanceSquared(int sx, int sy, int dx, int dy);

}  // namespace u_rippleEffect
