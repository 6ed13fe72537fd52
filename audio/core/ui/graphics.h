#pragma once

#include <QColor>
#include <QRect>
#include <cstdint>

class QPainter;

namespace pmx {

// A colour as 0x00BBGGRR, or a system colour (top byte 0xFF, low byte its index)
// that the current palette resolves.
using TColor = uint32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clOlive = 0x008080;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clPurple = 0x800080;
inline constexpr TColor clTeal = 0x808000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clFuchsia = 0xFF00FF;
inline constexpr TColor clAqua = 0xFFFF00;
inline constexpr TColor clWhite = 0xFFFFFF;

inline constexpr TColor clSystemColor = 0xFF000000;
inline constexpr TColor clActiveCaption = clSystemColor | 2;
inline constexpr TColor clWindow = clSystemColor | 5;
inline constexpr TColor clWindowFrame = clSystemColor | 6;
inline constexpr TColor clWindowText = clSystemColor | 8;
inline constexpr TColor clHighlight = clSystemColor | 13;
inline constexpr TColor clHighlightText = clSystemColor | 14;
inline constexpr TColor clBtnFace = clSystemColor | 15;
inline constexpr TColor clBtnShadow = clSystemColor | 16;
inline constexpr TColor clBtnText = clSystemColor | 18;
inline constexpr TColor clBtnHighlight = clSystemColor | 20;

constexpr TColor RGBColor(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<TColor>(r) | static_cast<TColor>(g) << 8 | static_cast<TColor>(b) << 16;
}

// The 0x00BBGGRR value of a colour, system colours taken from the application palette.
TColor ColorToRGB(TColor color);
QColor ToQColor(TColor color);
TColor FromQColor(const QColor& color);

// A rectangle by its edges; Right and Bottom lie just outside it.
struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;

  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  // Moved in by n on every side (out for negative n).
  TRect Inset(int n) const { return {Left + n, Top + n, Right - n, Bottom - n}; }
  QRect ToQRect() const { return QRect(Left, Top, Width(), Height()); }
  bool operator==(const TRect&) const = default;
};

enum class TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
enum class TBorderStyle { bsNone, bsSingle };
enum class TAlignment { taLeftJustify, taRightJustify, taCenter };
using TBevelWidth = int;
using TBorderWidth = int;

// Fills rect with a solid colour.
void FillRect(QPainter& canvas, const TRect& rect, TColor color);
// Draws width nested 1-pixel frames, top and left edges in top_left, bottom and
// right edges (with both outer corners) in bottom_right, and moves rect in by width.
void Frame3D(QPainter& canvas, TRect& rect, TColor top_left, TColor bottom_right, int width);

}  // namespace pmx
