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
#include "audio/displays/peak_feed.h"
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
class TMMCustomMeter : public TMMDIBGraphicControl, public TMMDisplayFeed {
 public:
  static constexpr int kFullScale = 32767;

  explicit TMMCustomMeter(TComponent* owner = nullptr, QWidget* parent = nullptr);
  ~TMMCustomMeter() override;

  // The meter's own switch, not the widget's enabled state.
  bool Enabled() const { return enabled_; }
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
  TMMBits BitLength() const { return bits_; }
  void SetBitLength(TMMBits value) { SetFormatField(bits_, value); }
  TMMChannel Channel() const { return channel_; }
  void SetChannel(TMMChannel value) { SetFormatField(channel_, value); }
  // A four-channel stream makes this 3, past the named modes.
  TMMMode Mode() const { return static_cast<TMMMode>(mode_); }
  void SetMode(TMMMode value) { SetFormatField(mode_, static_cast<int>(value)); }
  int Gain() const { return gain_ - 8; }
  void SetGain(int value);
  int Samples() const { return samples_; }
  void SetSamples(int value);
  int Sensitivy() const { return sensitivity_; }
  void SetSensitivy(int value) { SetLook(sensitivity_, std::clamp(value, -90, -9)); }
  bool LogAmp() const { return log_amp_; }
  void SetLogAmp(bool value) { SetLook(log_amp_, value); }
  TMMDecayMode DecayMode() const { return feed_.Decay().Mode(); }
  void SetDecayMode(TMMDecayMode value) { feed_.Decay().SetMode(value); }
  int Decay() const { return feed_.Decay().Decay(); }
  void SetDecay(int value) { feed_.Decay().SetDecay(value); }
  bool ShowPeak() const { return show_peak_; }
  void SetShowPeak(bool value);
  int PeakDelay() const { return feed_.PeakDelay(); }
  void SetPeakDelay(int value) {
    if (feed_.SetPeakDelay(value)) update();
  }
  int PeakSpeed() const { return feed_.PeakSpeed(); }
  void SetPeakSpeed(int value) {
    if (feed_.SetPeakSpeed(value)) update();
  }
  int Value() const;
  void SetValue(int value);
  int DCOffsetL() const { return dc_offset_l_; }
  void SetDCOffsetL(int value) { dc_offset_l_ = value; }
  int DCOffsetR() const { return dc_offset_r_; }
  void SetDCOffsetR(int value) { dc_offset_r_ = value; }
  const QString& Caption() const { return caption_; }
  void SetCaption(const QString& value) { SetLook(caption_, value); }
  // The colour of the caption and the scale labels.
  TColor FontColor() const { return font_color_; }
  void SetFontColor(TColor value) { SetLook(font_color_, value); }

  // The absolute block peak before decay and gain, 0..32768.
  int LastPeak() const { return feed_.LastPeak(); }
  // Needle and held peak on the 0..32767 scale.
  int NeedleValue() const { return feed_.Value(); }
  int PeakValue() const { return feed_.Peak(); }
  // The point of value a (0..32767) at radius r, in inner coordinates.
  QPoint ArcPoint(int a, int r) const;
  QPoint Pivot() const { return {inner_width_ / 2, inner_height_ + needle_offset_}; }
  int ScaleRadius() const { return inner_height_ + needle_offset_ - top_space_; }
  // The client on the shared timer, none at design time.
  PMMTimerClient PeakTimerClient() const { return feed_.TimerClient(); }

  void SetPCMWaveFormat(PWaveFormatEx format) override;
  void RefreshPCMData(const void* data) override;
  void ResetData() override;
  int BytesPerRefresh() const override { return bytes_per_refresh_; }

  // One tick of the peak hold; the shared timer calls it every 25 ms.
  void PeakTimer() { feed_.Tick(); }

  void SetDesignMode(bool value) override;
  void Paint(QPainter& canvas) override;

  TNotifyEvent OnGainOverflow;
  TNotifyEvent OnPcmOverflow;
  TNotifyEvent OnPostPaint;

 protected:
  void BevelChanged() override;
  void BoundsChanged() override { BevelChanged(); }

 private:
  template <class T, class V>
  void SetLook(T& field, V value) {
    if (field == value) return;
    field = value;
    update();
  }
  template <class T, class V>
  void SetFormatField(T& field, V value) {
    if (field == value) return;
    field = value;
    UpdateBytesPerRefresh();
    update();
  }
  void UpdateBytesPerRefresh();
  void AddTimerClient();
  void SetValueInternal(int64_t v);
  // A decayed amplitude on the needle's scale, with gain and the overflow event.
  int MapToNeedle(int64_t amplitude);
  float LinearFloor() const;
  void DrawFromCache(QPainter& canvas);
  void DrawBackground();
  void DrawTicks(QPainter& canvas);
  void DrawLabel(QPainter& canvas, int i);
  void DrawCaption(QPainter& canvas);
  void DrawFrame(QPainter& canvas);

  bool enabled_ = true;
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
  TMMBits bits_ = TMMBits::b8Bit;
  TMMChannel channel_ = TMMChannel::chBoth;
  int mode_ = 0;  // channels - 1
  int gain_ = 8;  // the multiplier G, applied as v x G div 8
  int samples_ = 50;
  int sensitivity_ = -50;
  bool log_amp_ = true;
  bool show_peak_ = true;
  int dc_offset_l_ = 0;
  int dc_offset_r_ = 0;
  QString caption_ = QStringLiteral("dB");
  TColor font_color_ = 12632256;

  TRect inner_;
  int inner_width_ = 0;
  int inner_height_ = 0;
  int bytes_per_refresh_ = 50;
  QImage work_;
  QImage cache_;

  // The needle is the feed's value. Last: its timer client's removal waits for a
  // running tick.
  TMMPeakFeed feed_{{.hold_equal = false, .fall_step = 500, .fall_to_value = true}};
};

class TMMMeter : public TMMCustomMeter {
 public:
  using TMMCustomMeter::TMMCustomMeter;
};

}  // namespace pmx
