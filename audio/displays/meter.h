#pragma once

#include <QImage>
#include <QPoint>
#include <QString>
#include <algorithm>
#include <array>
#include <cstdint>

#include "audio/core/chain/display_feed.h"
#include "audio/core/objects/mm_types.h"
#include "audio/core/objects/shared_timer.h"
#include "audio/displays/dib_graphic_control.h"
#include "audio/displays/peak_display.h"
#include "audio/displays/scale.h"
#include "platform/exception.h"

namespace pmx {

class EMMMeterError : public Exception {
 public:
  using Exception::Exception;
};

// An analogue VU meter: a needle swinging over an arc scale with dB labels, a
// second needle holding the peak, an optional background picture and a caption.
// It is fed like the level bar and keeps its value on a 0..32767 scale. The scale,
// labels, caption and picture are drawn once per full paint into a cache; a new
// value only copies the cache, draws the two needles and shows the result.
//
// Threads: properties, layout and painting belong to the GUI thread, and so does
// the feed unless a connector feeds it from the pushing thread, in which case
// properties must not change while it feeds. The work and cache pictures are drawn
// only under the back-store lock (Paint and PaintDirect hold it). The shared
// timer's thread runs PeakTimer, which touches only the feed's peak hold (see
// TMMPeakFeed).
class TMMCustomMeter : public TMMPeakDisplay {
 public:
  explicit TMMCustomMeter(TComponent* owner = nullptr, QWidget* parent = nullptr);
  ~TMMCustomMeter() override;

  void SetEnabled(bool value);
  TColor Scale1Color() const { return scale_colors_[0]; }
  void SetScale1Color(TColor value) { SetLook(scale_colors_[0], value); }
  TColor Scale2Color() const { return scale_colors_[1]; }
  void SetScale2Color(TColor value) { SetLook(scale_colors_[1], value); }
  TColor Scale3Color() const { return scale_colors_[2]; }
  void SetScale3Color(TColor value) { SetLook(scale_colors_[2], value); }
  TColor NeedleColor() const { return needle_color_; }
  void SetNeedleColor(TColor value) { SetLook(needle_color_, value); }
  TColor PeakColor() const { return peak_color_; }
  void SetPeakColor(TColor value) { SetLook(peak_color_, value); }
  int NeedleOffset() const { return needle_offset_; }
  void SetNeedleOffset(int value) { SetLook(needle_offset_, std::max(0, value)); }
  int NeedleWidth() const { return needle_width_; }
  void SetNeedleWidth(int value) { SetLook(needle_width_, std::max(0, value)); }
  TMMScaleOrigin ScaleOrigin() const { return scale_origin_; }
  void SetScaleOrigin(TMMScaleOrigin value) { SetLook(scale_origin_, value); }
  int ScaleHeight1() const { return scale_height1_; }
  void SetScaleHeight1(int value) { SetLook(scale_height1_, std::max(0, value)); }
  int ScaleHeight2() const { return scale_height2_; }
  void SetScaleHeight2(int value) { SetLook(scale_height2_, std::max(0, value)); }
  int ScaleAngle() const { return scale_angle_; }
  void SetScaleAngle(int value) { SetLook(scale_angle_, std::clamp(value, 45, 180)); }
  int ScaleTicks() const { return scale_ticks_; }
  void SetScaleTicks(int value) { SetLook(scale_ticks_, value); }
  int ScaleTicksEnlargeEvery() const { return enlarge_every_; }
  void SetScaleTicksEnlargeEvery(int value) { SetLook(enlarge_every_, value); }
  int ScaleTicksTextEvery() const { return text_every_; }
  void SetScaleTicksTextEvery(int value) { SetLook(text_every_, value); }
  bool DrawScale() const { return draw_scale_; }
  void SetDrawScale(bool value) { SetLook(draw_scale_, value); }
  int TopSpace() const { return top_space_; }
  void SetTopSpace(int value) { SetLook(top_space_, value); }
  int Point1() const { return point1_; }
  void SetPoint1(int value) { SetLook(point1_, std::clamp(value, 1, 100)); }
  int Point2() const { return point2_; }
  void SetPoint2(int value) { SetLook(point2_, std::clamp(value, 1, 100)); }
  void SetSensitivy(int value) { SetLook(sensitivity_, std::clamp(value, -90, -9)); }
  bool ShowPeak() const { return show_peak_; }
  void SetShowPeak(bool value);
  int Value() const;
  const QString& Caption() const { return caption_; }
  void SetCaption(const QString& value) { SetLook(caption_, value); }
  // The colour of the caption and the scale labels.
  TColor FontColor() const { return font_color_; }
  void SetFontColor(TColor value) { SetLook(font_color_, value); }

  // Needle and held peak on the 0..32767 scale.
  int NeedleValue() const { return feed_.Value(); }
  int PeakValue() const { return feed_.Peak(); }
  // The point of value a (0..32767) at radius r, in inner coordinates.
  QPoint ArcPoint(int a, int r) const;
  QPoint Pivot() const { return {inner_width_ / 2, inner_height_ + needle_offset_}; }
  int ScaleRadius() const { return inner_height_ + needle_offset_ - top_space_; }

  void SetPCMWaveFormat(PWaveFormatEx format) override;
  void ResetData() override;
  void Paint(QPainter& canvas) override;

  TNotifyEvent OnPostPaint;

 protected:
  bool HoldsPeaks() const override { return show_peak_; }
  void SetValueInternal(int64_t v) override;
  void BevelChanged() override;
  void BoundsChanged() override { BevelChanged(); }

 private:
  template <class T, class V>
  void SetLook(T& field, V value) {
    if (field == value) return;
    field = value;
    update();
  }
  // A decayed amplitude on the needle's scale, with gain and the overflow event.
  int MapToNeedle(int64_t amplitude);
  float LinearFloor() const;
  void DrawFromCache(QPainter& canvas);
  void DrawBackground();
  void DrawTicks(QPainter& canvas);
  void DrawLabel(QPainter& canvas, int i);
  void DrawCaption(QPainter& canvas);
  void DrawFrame(QPainter& canvas);

  std::array<TColor, 3> scale_colors_{32768, 65535, 255};
  TColor needle_color_ = 16777215;
  TColor peak_color_ = 255;
  int needle_offset_ = 30;
  int needle_width_ = 1;
  TMMScaleOrigin scale_origin_ = TMMScaleOrigin::soInner;
  int scale_height1_ = 4;
  int scale_height2_ = 8;
  int scale_angle_ = 90;
  int scale_ticks_ = 41;
  int enlarge_every_ = 4;
  int text_every_ = 8;
  bool draw_scale_ = true;
  int top_space_ = 14;
  int point1_ = 60;
  int point2_ = 80;
  bool show_peak_ = true;
  QString caption_ = QStringLiteral("dB");
  TColor font_color_ = 12632256;

  TRect inner_;
  int inner_width_ = 0;
  int inner_height_ = 0;
  QImage work_;
  QImage cache_;
};

class TMMMeter : public TMMCustomMeter {
 public:
  using TMMCustomMeter::TMMCustomMeter;
};

}  // namespace pmx
