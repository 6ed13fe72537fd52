#pragma once

#include <array>

#include "audio/core/objects/objects.h"
#include "audio/core/ui/graphics.h"

class QPainter;

namespace pmx {

// The frame around every visual control of the library: an optional single
// border, an outer bevel, a border band, an inner bevel and a spacing band,
// painted from the outside in. Each change fires OnChange. GUI thread only.
class TMMBevel : public TMMObject {
 public:
  // Indexes of the six colours.
  enum ColorIndex { ciBorder, ciBorderSpace, ciInnerLight, ciInnerShadow, ciOuterLight, ciOuterShadow };

  TMMBevel() = default;
  TMMBevel(const TMMBevel&) = delete;
  TMMBevel& operator=(const TMMBevel&) = delete;

  // Copies all properties inside one update batch.
  virtual void Assign(const TMMBevel& source);

  TBevelCut BevelInner() const { return bevel_inner_; }
  void SetBevelInner(TBevelCut value) { Store(bevel_inner_, value); }
  TBevelCut BevelOuter() const { return bevel_outer_; }
  void SetBevelOuter(TBevelCut value) { Store(bevel_outer_, value); }
  TBevelWidth BevelInnerWidth() const { return bevel_inner_width_; }
  void SetBevelInnerWidth(TBevelWidth value);
  TBevelWidth BevelOuterWidth() const { return bevel_outer_width_; }
  void SetBevelOuterWidth(TBevelWidth value);
  TBorderStyle BorderStyle() const { return border_style_; }
  void SetBorderStyle(TBorderStyle value) { Store(border_style_, value); }
  TBorderWidth BorderWidth() const { return border_width_; }
  void SetBorderWidth(TBorderWidth value);
  TBorderWidth BorderSpace() const { return border_space_; }
  void SetBorderSpace(TBorderWidth value);

  TColor Colors(int index) const { return colors_.at(index); }
  void SetColors(int index, TColor value);
  TColor BorderColor() const { return colors_[ciBorder]; }
  void SetBorderColor(TColor value) { SetColors(ciBorder, value); }
  TColor BorderSpaceColor() const { return colors_[ciBorderSpace]; }
  void SetBorderSpaceColor(TColor value) { SetColors(ciBorderSpace, value); }
  TColor InnerLightColor() const { return colors_[ciInnerLight]; }
  void SetInnerLightColor(TColor value) { SetColors(ciInnerLight, value); }
  TColor InnerShadowColor() const { return colors_[ciInnerShadow]; }
  void SetInnerShadowColor(TColor value) { SetColors(ciInnerShadow, value); }
  TColor OuterLightColor() const { return colors_[ciOuterLight]; }
  void SetOuterLightColor(TColor value) { SetColors(ciOuterLight, value); }
  TColor OuterShadowColor() const { return colors_[ciOuterShadow]; }
  void SetOuterShadowColor(TColor value) { SetColors(ciOuterShadow, value); }

  // The frame's total width on each side.
  int BevelExtent() const;
  // Paints the frame inside rect and returns the rectangle it leaves. Without
  // fill_border the border band is left as it was.
  virtual TRect Paint(QPainter& canvas, const TRect& rect, bool fill_border);

 private:
  template <class T>
  void Store(T& field, T value) {
    if (field == value) return;
    field = value;
    Changed();
  }
  void PaintBevel(QPainter& canvas, TRect& rect, TBevelCut cut, int width, TColor light,
                  TColor shadow);

  TBevelCut bevel_inner_ = TBevelCut::bvNone;
  TBevelCut bevel_outer_ = TBevelCut::bvLowered;
  TBevelWidth bevel_inner_width_ = 1;
  TBevelWidth bevel_outer_width_ = 1;
  TBorderStyle border_style_ = TBorderStyle::bsNone;
  TBorderWidth border_width_ = 0;
  TBorderWidth border_space_ = 0;
  std::array<TColor, 6> colors_ = {clBtnFace,      clBlack,        clBtnHighlight,
                                   clBtnShadow,    clBtnHighlight, clBtnShadow};
};

}  // namespace pmx
