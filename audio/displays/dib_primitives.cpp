#include "audio/displays/dib_primitives.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace pmx {
namespace {

bool Inside(const TDIBDrawState& s, int x, int y) {
  return x >= s.clip.Left && x < s.clip.Right && y >= s.clip.Top && y < s.clip.Bottom;
}

uint8_t* PixelAddress(const TDIBDrawState& s, int x, int y) {
  return s.Row(y) + static_cast<ptrdiff_t>(x) * s.bytes_per_pixel;
}

void Store(const TDIBDrawState& s, uint8_t* p, uint32_t value) {
  if (s.bits == 8) {
    *p = static_cast<uint8_t>(value);
    return;
  }
  p[0] = static_cast<uint8_t>(value >> 16);  // blue
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value);
}

void Xor(const TDIBDrawState& s, uint8_t* p, uint32_t value) {
  if (s.bits == 8) {
    *p ^= static_cast<uint8_t>(value);
    return;
  }
  p[0] ^= static_cast<uint8_t>(value >> 16);
  p[1] ^= static_cast<uint8_t>(value >> 8);
  p[2] ^= static_cast<uint8_t>(value);
}

// The pixels start + k (k = 0 .. end - start - 1) of a row or column whose k % period
// is below on, clipped. The pattern stays anchored at start.
void PatternRun(const TDIBDrawState& s, int start, int end, int fixed, bool horizontal, int on,
                int period) {
  if (!s.pixels) return;
  const int low = horizontal ? s.clip.Left : s.clip.Top;
  const int high = horizontal ? s.clip.Right : s.clip.Bottom;
  const int fixed_low = horizontal ? s.clip.Top : s.clip.Left;
  const int fixed_high = horizontal ? s.clip.Bottom : s.clip.Right;
  if (fixed < fixed_low || fixed >= fixed_high) return;
  const int from = std::max(start, low);
  const int to = std::min(end, high);
  if (from >= to) return;
  if (horizontal && period == 1 && s.bits == 8) {
    std::memset(PixelAddress(s, from, fixed), static_cast<uint8_t>(s.draw_value), to - from);
    return;
  }
  for (int i = from; i < to; ++i) {
    if ((i - start) % period >= on) continue;
    Store(s, horizontal ? PixelAddress(s, i, fixed) : PixelAddress(s, fixed, i), s.draw_value);
  }
}

void SolidRun(const TDIBDrawState& s, int a, int b, int fixed, bool horizontal) {
  PatternRun(s, std::min(a, b), std::max(a, b), fixed, horizontal, 1, 1);
}

enum Outcode { kLeft = 1, kRight = 2, kAbove = 4, kBelow = 8 };

int OutcodeOf(const TRect& c, int64_t x, int64_t y) {
  int code = 0;
  if (x < c.Left) code |= kLeft;
  if (x > c.Right - 1) code |= kRight;
  if (y < c.Top) code |= kAbove;
  if (y > c.Bottom - 1) code |= kBelow;
  return code;
}

// Moves the end point (x, y) of a line with deltas dx, dy onto the clip edge it lies beyond.
void MoveOntoEdge(const TRect& c, int code, int64_t dx, int64_t dy, int64_t& x, int64_t& y) {
  if (code & (kBelow | kAbove)) {
    const int64_t edge = (code & kBelow) ? c.Bottom - 1 : c.Top;
    x += dx * (edge - y) / dy;
    y = edge;
  } else {
    const int64_t edge = (code & kRight) ? c.Right - 1 : c.Left;
    y += dy * (edge - x) / dx;
    x = edge;
  }
}

// Clips the line to the clip rectangle; false when nothing of it is inside.
bool ClipLine(const TRect& c, int64_t& x1, int64_t& y1, int64_t& x2, int64_t& y2) {
  const int64_t dx = x2 - x1;
  const int64_t dy = y2 - y1;
  for (;;) {
    const int code1 = OutcodeOf(c, x1, y1);
    const int code2 = OutcodeOf(c, x2, y2);
    if (code1 & code2) return false;
    if (!(code1 | code2)) return true;
    if (code1) {
      MoveOntoEdge(c, code1, dx, dy, x1, y1);
    } else {
      MoveOntoEdge(c, code2, dx, dy, x2, y2);
    }
  }
}

// max(|dx|, |dy|) pixels from the first point by the error-term method; the end
// point is not set.
void Bresenham(const TDIBDrawState& s, int x, int y, int x2, int y2) {
  const int adx = std::abs(x2 - x);
  const int ady = std::abs(y2 - y);
  const int sx = x2 > x ? 1 : -1;
  const int sy = y2 > y ? 1 : -1;
  const bool steep = ady > adx;
  const int major = steep ? ady : adx;
  const int minor = steep ? adx : ady;
  int error = 2 * minor - major;
  for (int i = 0; i < major; ++i) {
    if (Inside(s, x, y)) Store(s, PixelAddress(s, x, y), s.draw_value);
    if (error > 0) {
      steep ? x += sx : y += sy;
      error -= 2 * major;
    }
    error += 2 * minor;
    steep ? y += sy : x += sx;
  }
}

void Line(const TDIBDrawState& s, int x1, int y1, int x2, int y2) {
  if (!s.pixels) return;
  int64_t ax = x1, ay = y1, bx = x2, by = y2;
  if (!ClipLine(s.clip, ax, ay, bx, by)) return;
  if (ay == by)
    return SolidRun(s, static_cast<int>(ax), static_cast<int>(bx), static_cast<int>(ay), true);
  if (ax == bx)
    return SolidRun(s, static_cast<int>(ay), static_cast<int>(by), static_cast<int>(ax), false);
  Bresenham(s, static_cast<int>(ax), static_cast<int>(ay), static_cast<int>(bx),
            static_cast<int>(by));
}

// rect with sorted corners, clipped; empty when nothing is left.
TRect ClippedRect(const TDIBDrawState& s, const TRect& rect) {
  const TRect sorted{std::min(rect.Left, rect.Right), std::min(rect.Top, rect.Bottom),
                     std::max(rect.Left, rect.Right), std::max(rect.Top, rect.Bottom)};
  return {std::max(sorted.Left, s.clip.Left), std::max(sorted.Top, s.clip.Top),
          std::min(sorted.Right, s.clip.Right), std::min(sorted.Bottom, s.clip.Bottom)};
}

}  // namespace

void DIBSetPixel(TMMDIBCanvas& canvas, int x, int y, uint32_t value) {
  const TDIBDrawState& s = canvas.DrawState();
  if (s.pixels && Inside(s, x, y)) Store(s, PixelAddress(s, x, y), value);
}

int64_t DIBGetPixel(TMMDIBCanvas& canvas, int x, int y) {
  const TDIBDrawState& s = canvas.DrawState();
  if (!s.pixels || !Inside(s, x, y)) return -1;
  const uint8_t* p = PixelAddress(s, x, y);
  if (s.bits == 8) return *p;
  return p[2] | p[1] << 8 | p[0] << 16;
}

void DIBMoveTo(TMMDIBCanvas& canvas, int x, int y) {
  canvas.DrawState().current_x = x;
  canvas.DrawState().current_y = y;
}

void DIBLineTo(TMMDIBCanvas& canvas, int x, int y) {
  TDIBDrawState& s = canvas.DrawState();
  Line(s, s.current_x, s.current_y, x, y);
  s.current_x = x;
  s.current_y = y;
}

void DIBHorzLine(TMMDIBCanvas& canvas, int x1, int x2, int y) {
  SolidRun(canvas.DrawState(), x1, x2, y, true);
}

void DIBHorzLineDashed(TMMDIBCanvas& canvas, int x1, int x2, int y) {
  if (std::abs(x2 - x1) < 4) return;
  PatternRun(canvas.DrawState(), std::min(x1, x2), std::max(x1, x2), y, true, 4, 8);
}

void DIBHorzLineDotted(TMMDIBCanvas& canvas, int gap, int x1, int x2, int y) {
  PatternRun(canvas.DrawState(), std::min(x1, x2), std::max(x1, x2), y, true, 1,
             std::max(gap, 1) + 1);
}

void DIBVertLine(TMMDIBCanvas& canvas, int x, int y1, int y2) {
  SolidRun(canvas.DrawState(), y1, y2, x, false);
}

void DIBVertLineDashed(TMMDIBCanvas& canvas, int x, int y1, int y2) {
  PatternRun(canvas.DrawState(), std::min(y1, y2), std::max(y1, y2), x, false, 4, 8);
}

void DIBVertLineDotted(TMMDIBCanvas& canvas, int gap, int x, int y1, int y2) {
  PatternRun(canvas.DrawState(), std::min(y1, y2), std::max(y1, y2), x, false, 1,
             std::max(gap, 1) + 1);
}

void DIBDrawColumn(TMMDIBCanvas& canvas, int x, int y, const uint8_t* bytes, int count) {
  const TDIBDrawState& s = canvas.DrawState();
  if (!s.pixels || s.bits != 8 || x < s.clip.Left || x >= s.clip.Right) return;
  const int from = std::max(y, s.clip.Top);
  const int to = std::min(y + count, s.clip.Bottom);
  for (int row = from; row < to; ++row) *PixelAddress(s, x, row) = bytes[row - y];
}

void DIBFillRect(TMMDIBCanvas& canvas, const TRect& rect) {
  const TDIBDrawState& s = canvas.DrawState();
  if (!s.pixels) return;
  const TRect r = ClippedRect(s, rect);
  for (int y = r.Top; y < r.Bottom; ++y) SolidRun(s, r.Left, r.Right, y, true);
}

void DIBFillRect2(TMMDIBCanvas& canvas, const TRect& rect) {
  const TDIBDrawState& s = canvas.DrawState();
  if (!s.pixels) return;
  const TRect r = ClippedRect(s, rect);
  for (int y = r.Top; y < r.Bottom; ++y) {
    for (int x = r.Left; x < r.Right; ++x) Xor(s, PixelAddress(s, x, y), s.draw_value);
  }
}

void DIBFillRectMode(TMMDIBCanvas& canvas, const TRect& rect, int mode) {
  if (mode != 1) return DIBFillRect(canvas, rect);
  const TDIBDrawState& s = canvas.DrawState();
  if (!s.pixels) return;
  const int left = std::min(rect.Left, rect.Right);
  const int top = std::min(rect.Top, rect.Bottom);
  const TRect r = ClippedRect(s, rect);
  for (int y = r.Top; y < r.Bottom; ++y) {
    if ((y - top) % 2 == 0) PatternRun(s, left, r.Right, y, true, 1, 2);
  }
}

void DIBClear(TMMDIBCanvas& canvas) {
  const TDIBDrawState& s = canvas.DrawState();
  if (!s.pixels || s.clip.Width() <= 0 || s.clip.Height() <= 0) return;
  if (s.bits == 8) {
    std::memset(s.pixels, static_cast<uint8_t>(s.draw_value),
                static_cast<size_t>(s.stride) * s.height);
    return;
  }
  for (int y = 0; y < s.height; ++y) {
    for (int x = 0; x < s.width; ++x) Store(s, PixelAddress(s, x, y), s.draw_value);
  }
}

void DIBCopyRect(TMMDIBCanvas& canvas, int dx, int dy, int width, int height, int sx, int sy,
                 const uint8_t* source) {
  const TDIBDrawState& s = canvas.DrawState();
  if (!s.pixels || !source || width < 1 || height < 1) return;
  // Clip the source to the picture and the target to the clip rectangle, moving both.
  const int skip_x = std::max({0, -sx, s.clip.Left - dx});
  const int skip_y = std::max({0, -sy, s.clip.Top - dy});
  const int w = std::min({width, s.width - sx, s.clip.Right - dx}) - skip_x;
  const int h = std::min({height, s.height - sy, s.clip.Bottom - dy}) - skip_y;
  if (w <= 0 || h <= 0) return;
  const size_t bytes = static_cast<size_t>(w) * s.bytes_per_pixel;
  const auto row_at = [&](const uint8_t* base, int x, int y) {
    return base + static_cast<ptrdiff_t>(s.height - 1 - y) * s.stride +
           static_cast<ptrdiff_t>(x) * s.bytes_per_pixel;
  };
  const uint8_t* from = row_at(source, sx + skip_x, sy + skip_y);
  uint8_t* to = PixelAddress(s, dx + skip_x, dy + skip_y);
  // Rows lower in the picture lie lower in memory: when the target lies after the
  // source, the block's top rows (highest addresses) go first.
  for (int i = 0; i < h; ++i) {
    const int row = to > from ? i : h - 1 - i;
    std::memmove(to - static_cast<ptrdiff_t>(row) * s.stride,
                 from - static_cast<ptrdiff_t>(row) * s.stride, bytes);
  }
}

void DIBEllipse(TMMDIBCanvas& canvas, int cx, int cy, int rx, int ry) {
  if (rx < 1 || ry < 1) return;
  const int64_t a = static_cast<int64_t>(rx) * rx;
  const int64_t b = static_cast<int64_t>(ry) * ry;
  int64_t x = 0;
  int64_t y = ry;
  int64_t d = b - 2 * ry * a + a;
  std::vector<std::pair<int64_t, int64_t>> spans;  // half width, row offset
  const auto diagonal = [&] {
    ++x;
    --y;
    d += 2 * x * b - 2 * y * a + a + b;
  };
  while (y >= 0) {
    spans.emplace_back(x, y);
    if (d >= 0) {
      if (2 * d - 2 * x * b > b) {
        --y;
        d += a - 2 * y * a;
      } else {
        diagonal();
      }
    } else if (2 * d + 2 * y * a > a) {
      diagonal();
    } else {
      ++x;
      d += 2 * x * b + b;
    }
  }
  for (const auto& [half, row] : spans) {
    for (const int64_t line : {cy - row, cy + row}) {
      DIBHorzLine(canvas, static_cast<int>(cx - half), static_cast<int>(cx + half + 1),
                  static_cast<int>(line));
    }
  }
}

}  // namespace pmx
