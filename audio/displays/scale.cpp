#include "audio/displays/scale.h"

#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace pmx {

struct TMMCustomScale::Zones {
  bool on = false;
  float zone1 = 0;
  float zone2 = 0;
  float unit = 0;
};

void TMMCustomScale::SetVisible(bool value) {
  if (value == visible_) return;
  visible_ = value;
  Changed();
}

void TMMCustomScale::SetColor(TColor value) {
  if (value == color_) return;
  color_ = zone_color2_ = zone_color3_ = value;
  Changed();
}

void TMMCustomScale::SetZones(TColor color1, TColor color2, TColor color3, int tick1, int tick2) {
  color_ = color1;
  zone_color2_ = color2;
  zone_color3_ = color3;
  zone_tick1_ = tick1;
  zone_tick2_ = tick2;
}

void TMMCustomScale::SetStyle(TMMScaleStyle value) {
  if (value == style_) return;
  style_ = value;
  Changed();
}

void TMMCustomScale::SetTickCount(int value) {
  value = std::max(value, 2);
  if (value == tick_count_) return;
  tick_count_ = value;
  Changed();
}

void TMMCustomScale::SetEnlargeEvery(int value) {
  value = std::max(value, 1);
  if (value == enlarge_every_) return;
  enlarge_every_ = value;
  Changed();
}

void TMMCustomScale::SetSize(int value) {
  value = std::max(value, 1);
  if (value == size_) return;
  size_ = value;
  Changed();
}

void TMMCustomScale::SetOrigin(TMMScaleOrigin value) {
  if (value == origin_) return;
  origin_ = value;
  Changed();
}

void TMMCustomScale::SetConnect(bool value) {
  if (value == connect_) return;
  connect_ = value;
  Changed();
}

int TMMCustomScale::TotalSize() const {
  int total = size_;
  if (connect_) {
    ++total;
    if (style_ != TMMScaleStyle::stColor) ++total;
  }
  return total;
}

void TMMCustomScale::Assign(const TMMCustomScale& source) {
  visible_ = source.visible_;
  color_ = source.color_;
  style_ = source.style_;
  tick_count_ = source.tick_count_;
  enlarge_every_ = source.enlarge_every_;
  size_ = source.size_;
  origin_ = source.origin_;
  connect_ = source.connect_;
  Changed();
}

void TMMCustomScale::Changed() {
  if (on_change_) on_change_(*this);
}

TMMCustomScale::Zones TMMCustomScale::ComputeZones(float length) const {
  Zones z;
  const bool one_colour = color_ == zone_color2_ && color_ == zone_color3_;
  z.on = !(one_colour || zone_tick1_ < 0 || zone_tick2_ < zone_tick1_ ||
           zone_tick1_ > tick_count_ || zone_tick2_ > tick_count_ ||
           style_ != TMMScaleStyle::stColor);
  if (z.on) {
    z.zone1 = static_cast<float>(zone_tick1_) / tick_count_ * length;
    z.zone2 = static_cast<float>(zone_tick2_) / tick_count_ * length;
    z.unit = length / tick_count_;
  }
  return z;
}

void TMMCustomScale::Draw(const TRect& rect, int side) {
  const bool vertical = rect.Height() >= rect.Width();
  const float length = static_cast<float>(vertical ? rect.Height() : rect.Width());
  const Zones z = ComputeZones(length);
  const bool at_start = (side == 0) == (origin_ == TMMScaleOrigin::soInner);
  const int k = connect_ && style_ != TMMScaleStyle::stColor ? 1 : 0;
  if (connect_) DrawConnection(rect, vertical, at_start, k, z);
  DrawTicks(rect, vertical, at_start, k, z);
}

void TMMCustomScale::DrawConnection(const TRect& rect, bool vertical, bool at_start, int k,
                                    const Zones& z) {
  // The line runs along one coordinate from start to end; fixed is the other one.
  const int fixed = vertical ? (at_start ? rect.Left : rect.Right - k - 1)
                             : (at_start ? rect.Top - 1 : rect.Bottom - k);
  const int start = vertical ? rect.Top + 1 : rect.Left;
  const int end = vertical ? rect.Bottom + 1 : rect.Right + 1;
  auto piece = [&](int from, int to, TColor color) {
    if (vertical) {
      Line(fixed, from, fixed, to, color);
    } else {
      Line(from, fixed, to, fixed, color);
    }
  };
  if (!z.on) {
    piece(start, end, color_);
    return;
  }
  const int split1 = static_cast<int>(start + z.zone1 + z.unit);
  const int split2 = static_cast<int>(start + z.zone2 + z.unit);
  piece(start, split1, color_);
  piece(split1, split2, zone_color2_);
  piece(split2, end, zone_color3_);
}

void TMMCustomScale::DrawTicks(const TRect& rect, bool vertical, bool at_start, int k,
                               const Zones& z) {
  const float length = static_cast<float>(vertical ? rect.Height() : rect.Width());
  for (int c = 0; c < tick_count_; ++c) {
    const float p = length / static_cast<float>(tick_count_ - 1) * static_cast<float>(c);
    const int m = c % enlarge_every_ == 0 ? size_ : size_ / 2;
    TColor color = color_;
    if (z.on && p > z.zone2) {
      color = zone_color3_;
    } else if (z.on && p > z.zone1) {
      color = zone_color2_;
    }
    if (vertical) {
      const int y = rect.Top + static_cast<int>(std::nearbyint(p));
      const int x1 = at_start ? rect.Left + k : rect.Right - k - m;
      Line(x1, y, x1 + m, y, color);
    } else {
      const int x = rect.Left + static_cast<int>(p);
      const int y1 = at_start ? rect.Top : rect.Bottom - m;
      Line(x, y1, x, y1 + m, color);
    }
  }
}

namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

// A line from (x1, y1) to (x2, y2) without its end pixel, in the pen's colour.
void PenLine(QPainter& canvas, int x1, int y1, int x2, int y2, TColor color) {
  if (x1 == x2 && y1 == y2) return;
  QPen pen = canvas.pen();
  pen.setColor(ToQColor(color));
  canvas.setPen(pen);
  const int dx = x2 - x1;
  const int dy = y2 - y1;
  if (std::abs(dx) >= std::abs(dy)) {
    x2 -= Sign(dx);
  } else {
    y2 -= Sign(dy);
  }
  canvas.drawLine(x1, y1, x2, y2);
}

}  // namespace

void TMMCustomScale::Line(int x1, int y1, int x2, int y2, TColor color) {
  if (!canvas_) throw EMMScaleError("Canvas needed for this operation");
  if (style_ == TMMScaleStyle::stColor) {
    PenLine(*canvas_, x1, y1, x2, y2, color);
    return;
  }
  const bool lowered = style_ == TMMScaleStyle::stLowered;
  PenLine(*canvas_, x1, y1, x2, y2, lowered ? clBlack : clWhite);
  int sx = 0;
  int sy = 0;
  if (std::abs(y1 - y2) < std::abs(x2 - x1)) {
    sy = 1;
  } else {
    // A vertical line counts as a non-negative slope.
    const bool non_negative = x2 == x1 || (y1 - y2) * Sign(x2 - x1) >= 0;
    sx = non_negative ? 1 : -1;
  }
  PenLine(*canvas_, x1 + sx, y1 + sy, x2 + sx, y2 + sy, lowered ? clWhite : clBlack);
}

}  // namespace pmx
