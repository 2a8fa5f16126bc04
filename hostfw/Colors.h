#pragma once
// Colour values as the system writes them: 24 bits, blue in the high byte,
// then green, then red (0xFF0000 is blue, 0x0000FF is red).

#include <QColor>

#include <cstdint>

namespace Colors {

using TColor = std::uint32_t;

inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clBlack = 0x000000;
// The pale green of the extended palette.
inline constexpr TColor clMoneyGreen = 0xC0DCC0;

inline QColor ColorToQColor(TColor Value)
{
  return QColor(static_cast<int>(Value & 0xFF), static_cast<int>((Value >> 8) & 0xFF),
                static_cast<int>((Value >> 16) & 0xFF));
}

}  // namespace Colors
