#include "audio/core/ui/bevel.h"

#include <algorithm>

namespace pmx {

void TMMBevel::Assign(const TMMBevel& source) {
  if (&source == this) return;
  BeginUpdate();
  SetBevelInner(source.bevel_inner_);
  SetBevelOuter(source.bevel_outer_);
  SetBevelInnerWidth(source.bevel_inner_width_);
  SetBevelOuterWidth(source.bevel_outer_width_);
  SetBorderStyle(source.border_style_);
  SetBorderWidth(source.border_width_);
  SetBorderSpace(source.border_space_);
  for (int i = 0; i < static_cast<int>(colors_.size()); ++i) SetColors(i, source.colors_[i]);
  EndUpdate();
}

// A bevel is at least one pixel wide, a border band at least none.
void TMMBevel::SetBevelInnerWidth(TBevelWidth value) { Store(bevel_inner_width_, std::max(value, 1)); }

void TMMBevel::SetBevelOuterWidth(TBevelWidth value) { Store(bevel_outer_width_, std::max(value, 1)); }

void TMMBevel::SetBorderWidth(TBorderWidth value) { Store(border_width_, std::max(value, 0)); }

void TMMBevel::SetBorderSpace(TBorderWidth value) { Store(border_space_, std::max(value, 0)); }

void TMMBevel::SetColors(int index, TColor value) { Store(colors_.at(index), value); }

int TMMBevel::BevelExtent() const {
  int extent = border_width_ + border_space_;
  if (bevel_outer_ != TBevelCut::bvNone) extent += bevel_outer_width_;
  if (bevel_inner_ != TBevelCut::bvNone) extent += bevel_inner_width_;
  if (border_style_ != TBorderStyle::bsNone) extent += 1;
  return extent;
}

void TMMBevel::PaintBevel(QPainter& canvas, TRect& rect, TBevelCut cut, int width, TColor light,
                          TColor shadow) {
  if (cut == TBevelCut::bvLowered) Frame3D(canvas, rect, shadow, light, width);
  if (cut == TBevelCut::bvRaised) Frame3D(canvas, rect, light, shadow, width);
}

TRect TMMBevel::Paint(QPainter& canvas, const TRect& rect, bool fill_border) {
  TRect inner = rect;
  if (border_style_ == TBorderStyle::bsSingle) {
    Frame3D(canvas, inner, clWindowFrame, clWindowFrame, 1);
  }
  PaintBevel(canvas, inner, bevel_outer_, bevel_outer_width_, OuterLightColor(),
             OuterShadowColor());
  if (fill_border) {
    Frame3D(canvas, inner, BorderColor(), BorderColor(), border_width_);
  } else {
    inner = inner.Inset(border_width_);
  }
  PaintBevel(canvas, inner, bevel_inner_, bevel_inner_width_, InnerLightColor(),
             InnerShadowColor());
  if (border_space_ > 0) {
    Frame3D(canvas, inner, BorderSpaceColor(), BorderSpaceColor(), border_space_);
  }
  return inner;
}

}  // namespace pmx
