#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "audio/core/chain/display_feed.h"
#include "audio/core/objects/mm_types.h"
#include "audio/core/objects/shared_timer.h"
#include "audio/displays/dib_graphic_control.h"
#include "audio/displays/peak_display.h"
#include "platform/exception.h"

namespace pmx {

class EMMLevelError : public Exception {
 public:
  using Exception::Exception;
};

enum class TMMLevelKind { lkHorizontal, lkVertical };
enum class TMMLevelDirection { dirNormal, dirReversed, dirSymetric };

using TMMLevelDrawBar = std::function<void(TObject* Sender, TMMDIBCanvas& DIB, const TRect& Rect,
                                           int nSpots, int Peak)>;

// An LED bar meter: a row of equal spots lit from one end in proportion to the
// peak of the PCM data it is fed (or to Value), in three colour zones, with an
// optional held peak and optional decay. The unlit bar is drawn once into a canvas
// of its own; a frame is drawn only when the lit count or the peak changed, once
// the GUI thread has finished feeding (only the last frame of a run of blocks can
// be seen), and it redraws only the spots that look different from the frame
// drawn before (from the unlit bar, or lit) and shows only the area they cover.
//
// Threads: properties, layout and painting belong to the GUI thread, and so does
// the feed (the connector's refresh) unless a connector feeds it from the pushing
// thread, in which case properties must not change while it feeds. The shared
// timer's thread runs PeakTimer, which touches only the feed's peak hold (see
// TMMPeakFeed). What the working canvas shows (shown_,
// its generations and the lit colours) is touched only while drawing on it, under
// the control's paint lock; the background's generation is an atomic.
class TMMCustomLevel : public TMMPeakDisplay {
 public:
  explicit TMMCustomLevel(TComponent* owner = nullptr, QWidget* parent = nullptr);
  ~TMMCustomLevel() override;

  void SetEnabled(bool value);
  TMMLevelKind Kind() const { return kind_; }
  void SetKind(TMMLevelKind value);
  TMMLevelDirection Direction() const { return direction_; }
  void SetDirection(TMMLevelDirection value);
  int SpotSpace() const { return spot_space_; }
  void SetSpotSpace(int value);
  int SpotWidth() const { return spot_width_; }
  void SetSpotWidth(int value);
  TColor Bar1Color() const { return bar_colors_[0]; }
  void SetBar1Color(TColor value) { SetLook(bar_colors_[0], value); }
  TColor Bar2Color() const { return bar_colors_[1]; }
  void SetBar2Color(TColor value) { SetLook(bar_colors_[1], value); }
  TColor Bar3Color() const { return bar_colors_[2]; }
  void SetBar3Color(TColor value) { SetLook(bar_colors_[2], value); }
  TColor Inactive1Color() const { return inactive_colors_[0]; }
  void SetInactive1Color(TColor value) { SetLook(inactive_colors_[0], value); }
  TColor Inactive2Color() const { return inactive_colors_[1]; }
  void SetInactive2Color(TColor value) { SetLook(inactive_colors_[1], value); }
  TColor Inactive3Color() const { return inactive_colors_[2]; }
  void SetInactive3Color(TColor value) { SetLook(inactive_colors_[2], value); }
  bool InactiveDoted() const { return inactive_doted_; }
  void SetInactiveDoted(bool value) { SetLook(inactive_doted_, value); }
  bool ActiveDoted() const { return active_doted_; }
  void SetActiveDoted(bool value) { SetLook(active_doted_, value); }
  int Point1() const { return point1_; }
  void SetPoint1(int value);
  int Point2() const { return point2_; }
  void SetPoint2(int value);
  void SetSensitivy(int value);
  int NumPeaks() const { return num_peaks_; }
  void SetNumPeaks(int value);
  int Value() const;
  const TMMLevelDrawBar& OnDrawBar() const { return on_draw_bar_; }
  void SetOnDrawBar(TMMLevelDrawBar value);

  // Spots lit now and the held peak spot (0 for none).
  int LitSpots() const { return feed_.Value(); }
  int PeakSpot() const { return feed_.Peak(); }
  int SpotCount() const { return spots_; }

  void SetPCMWaveFormat(PWaveFormatEx format) override;
  void ResetData() override;

  void SetBitsPerPixel(int bits) override;
  void Paint(QPainter& canvas) override;

  TNotifyEvent OnPaint;

 protected:
  bool HoldsPeaks() const override { return num_peaks_ > 0; }
  void SetValueInternal(int64_t v) override;
  void Loaded() override;
  void BevelChanged() override;
  void ColorChanged() override;
  void BoundsChanged() override { BevelChanged(); }

 private:
  template <class T>
  void SetLook(T& field, T value);
  // Stores a value of the layout and lays the bar out anew when it changed.
  void SetLayoutField(int& field, int value);
  void UpdateLayout();
  void BuildBackground();
  // A decayed amplitude in spots, with gain, direction and the overflow event.
  int MapToSpots(int64_t amplitude);
  // Brings the working canvas to the current frame, redrawing only the spots that
  // differ from the frame drawn last when it still holds that, and shows it on
  // canvas: all of it, or with changed_only the area that changed.
  void DrawLevel(QPainter& canvas, bool changed_only = false);
  // The frame of the bar: the zone colour each spot is drawn in (-1: not drawn),
  // later spots of the drawing order over earlier ones.
  void LayOutFrame(std::vector<int8_t>& frame, int value, bool full, int peak) const;
  void DrawFrame(TMMDIBCanvas& dib, const std::vector<int8_t>& frame,
                 const std::array<uint32_t, 3>& zones, bool dotted) const;
  // Redraws the spots where frame_ differs from shown_; the area they cover.
  TRect DrawChanges(TMMDIBCanvas& work, const uint8_t* unlit) const;
  bool ShowsFrameOf(const TMMDIBCanvas& work) const;
  TRect SpotRect(int k) const;
  void DrawSpot(TMMDIBCanvas& dib, int k, uint32_t value, bool dotted) const;
  int Zone(int k) const { return k <= p1_ ? 0 : k <= p2_ ? 1 : 2; }

  TMMLevelKind kind_ = TMMLevelKind::lkHorizontal;
  TMMLevelDirection direction_ = TMMLevelDirection::dirNormal;
  int spot_space_ = 1;
  int spot_width_ = 1;
  std::array<TColor, 3> bar_colors_{16776960, 16776960, 255};
  std::array<TColor, 3> inactive_colors_{8421376, 8421376, 128};
  bool inactive_doted_ = false;
  bool active_doted_ = false;
  int point1_ = 50;
  int point2_ = 85;
  int num_peaks_ = 1;
  TMMLevelDrawBar on_draw_bar_;

  int inner_width_ = 1;
  int inner_height_ = 1;
  TRect inner_;
  int spots_ = 1;
  int margin_ = 0;
  int p1_ = 0;
  int p2_ = 0;

  std::unique_ptr<TMMDIBCanvas> background_bar_;
  std::atomic<uint64_t> background_generation_{0};
  std::vector<int8_t> frame_;
  std::vector<int8_t> shown_;
  uint64_t shown_canvas_generation_ = 0;
  uint64_t shown_background_generation_ = 0;
  std::array<uint32_t, 3> lit_values_{};
};

class TMMLevel : public TMMCustomLevel {
 public:
  using TMMCustomLevel::TMMCustomLevel;
};

}  // namespace pmx
