#include "audio/displays/level.h"

#include <QFont>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "audio/core/dsp/pcm_support.h"
#include "audio/core/objects/mm_strings.h"
#include "audio/displays/dib_primitives.h"

namespace pmx {
namespace {

constexpr int kSymmetricHalfBlock = 2;
// Spots drawn lie between 1 - (5 peak spots - 1) and N + the symmetric half block.
constexpr int kFirstSpot = -3;
constexpr int kSpotsPastN = kSymmetricHalfBlock;

// Holds a canvas's drawing section for a scope, so that a raising callback still
// ends it.
class DrawingSection {
 public:
  explicit DrawingSection(TMMDIBCanvas& canvas) : canvas_(canvas) { canvas_.BeginDrawing(); }
  ~DrawingSection() { canvas_.EndDrawing(); }
  DrawingSection(const DrawingSection&) = delete;
  DrawingSection& operator=(const DrawingSection&) = delete;

 private:
  TMMDIBCanvas& canvas_;
};

// The pixel values of the three zones' colours: the nearest palette entry is a
// search, done once per picture.
std::array<uint32_t, 3> ZoneValues(const TMMDIBCanvas& dib, const std::array<TColor, 3>& colors) {
  std::array<uint32_t, 3> values;
  for (int z = 0; z < 3; ++z) values[z] = dib.NearestColor(colors[z]);
  return values;
}

}  // namespace


TMMCustomLevel::TMMCustomLevel(TComponent* owner, QWidget* parent)
    : TMMPeakDisplay(owner, parent, {.hold_equal = true, .fall_step = 1, .fall_to_value = false}, -35) {
  background_bar_ = std::make_unique<TMMDIBCanvas>(this);
  SetColor(clBlack);
  setFont(QFont("Small Fonts", 7));
  SetBounds(0, 0, 200, 17);
  UpdateBytesPerRefresh();
  if (!Designing()) AddTimerClient();
}

TMMCustomLevel::~TMMCustomLevel() = default;

// ---- properties ----

template <class T>
void TMMCustomLevel::SetLook(T& field, T value) {
  if (field == value) return;
  field = value;
  BuildBackground();
  update();
}

// The header's setters of the look use these.
template void TMMCustomLevel::SetLook<bool>(bool&, bool);
template void TMMCustomLevel::SetLook<TColor>(TColor&, TColor);

void TMMCustomLevel::SetEnabled(bool value) {
  if (enabled_ == value) return;
  enabled_ = value;
  if (!value) {
    ResetData();
    feed_.SetTimerSuspended(true);
  } else {
    UpdateLayout();
    if (num_peaks_ > 0) feed_.SetTimerSuspended(false);
  }
  update();
}

void TMMCustomLevel::SetKind(TMMLevelKind value) {
  if (kind_ == value) return;
  kind_ = value;
  const bool horizontal = value == TMMLevelKind::lkHorizontal;
  if (horizontal ? height() > width() : width() > height()) {
    SetBounds(x(), y(), height(), width());
  }
  BevelChanged();
}

void TMMCustomLevel::SetDirection(TMMLevelDirection value) { SetLook(direction_, value); }

void TMMCustomLevel::SetLayoutField(int& field, int value) {
  if (field == value) return;
  field = value;
  UpdateLayout();
  update();
}

void TMMCustomLevel::SetSpotSpace(int value) { SetLayoutField(spot_space_, std::clamp(value, 0, 10)); }

void TMMCustomLevel::SetSpotWidth(int value) {
  const int length = kind_ == TMMLevelKind::lkHorizontal ? inner_width_ : inner_height_;
  SetLayoutField(spot_width_, std::clamp(value, 1, std::max(1, length / 3)));
}

void TMMCustomLevel::SetPoint1(int value) { SetLayoutField(point1_, std::clamp(value, 1, 100)); }

void TMMCustomLevel::SetPoint2(int value) { SetLayoutField(point2_, std::clamp(value, 1, 100)); }

void TMMCustomLevel::SetSensitivy(int value) { sensitivity_ = std::clamp(value, -90, -9); }

void TMMCustomLevel::SetNumPeaks(int value) {
  value = std::clamp(value, 0, 5);
  if (num_peaks_ == value) return;
  num_peaks_ = value;
  feed_.ResetCountdown();
  if (value == 0) {
    feed_.SetTimerSuspended(true);
  } else if (enabled_) {
    feed_.SetTimerSuspended(false);
  }
  update();
}

void TMMCustomLevel::SetOnDrawBar(TMMLevelDrawBar value) {
  on_draw_bar_ = std::move(value);
  if (!on_draw_bar_) BuildBackground();
  update();
}

int TMMCustomLevel::Value() const {
  return TMMPeakFeed::Percent(feed_.Value(), spots_, log_amp_, sensitivity_, gain_);
}

// ---- feed ----

void TMMCustomLevel::SetPCMWaveFormat(PWaveFormatEx format) {
  if (!TakeFormat(format)) throw EMMLevelError(LoadMMResString(SInvalidWaveFormatDisplay));
}

void TMMCustomLevel::ResetData() {
  feed_.Reset();
  PaintDirect([this](QPainter& canvas) { DrawLevel(canvas); });
}

void TMMCustomLevel::SetValueInternal(int64_t v) {
  if (!feed_.Take(v, num_peaks_ > 0, [this](int64_t a) { return MapToSpots(a); })) return;
  // Only the frame the feed leaves can be seen: drawn when the GUI thread is free.
  if (enabled_ && Visible()) PaintDirectSoon([this](QPainter& canvas) { DrawLevel(canvas, true); });
}

int TMMCustomLevel::MapToSpots(int64_t amplitude) {
  int spots = TMMPeakFeed::ToScale(amplitude * gain_ / 8, spots_, 1e-6f, log_amp_, sensitivity_);
  if (direction_ == TMMLevelDirection::dirSymetric) spots /= 2;
  if (spots > spots_) {
    if (OnGainOverflow) OnGainOverflow(this);
    spots = spots_;
  }
  return spots;
}

// ---- layout and drawing ----

void TMMCustomLevel::BevelChanged() {
  inner_ = GetInnerRect();
  inner_width_ = std::max(1, inner_.Width());
  inner_height_ = std::max(1, inner_.Height());
  DIBCanvas().SetSize(inner_width_, inner_height_);
  background_bar_->SetSize(inner_width_, inner_height_);
  UpdateLayout();
  update();
}

void TMMCustomLevel::UpdateLayout() {
  const int length = kind_ == TMMLevelKind::lkHorizontal ? inner_width_ : inner_height_;
  spot_width_ = std::max(1, spot_width_);
  const int pitch = spot_width_ + spot_space_;
  spots_ = std::max(1, (length + spot_space_) / pitch);
  margin_ = (length - (spots_ * pitch - spot_space_)) / 2;
  p1_ = point1_ * spots_ / 100;
  p2_ = point2_ * spots_ / 100;
  BuildBackground();
  if (Designing() && enabled_) {
    // A sample picture for the form designer.
    if (spots_ > p2_) {
      feed_.Set(p2_ + (spots_ - p2_) / 2, feed_.Peak());
    } else if (spots_ > p1_) {
      feed_.Set(p1_ + (spots_ - p1_) / 2, feed_.Peak());
    } else {
      feed_.Set(spots_ - spots_ / 4, feed_.Peak());
    }
  } else {
    feed_.Set(0, 0);
  }
}

void TMMCustomLevel::ColorChanged() {
  BuildBackground();
  TMMDIBGraphicControl::ColorChanged();
}

void TMMCustomLevel::Loaded() {
  TMMDIBGraphicControl::Loaded();
  BuildBackground();
  update();
}

void TMMCustomLevel::SetBitsPerPixel(int bits) {
  DIBCanvas().SetBitsPerPixel(bits);
  background_bar_->SetBitsPerPixel(bits);
  BuildBackground();
  update();
}

void TMMCustomLevel::BuildBackground() {
  ++background_generation_;  // the layout or the look changed: the next frame is drawn whole
  if (Loading() || !background_bar_ || on_draw_bar_) return;
  DrawingSection section(*background_bar_);
  background_bar_->SetDrawColor(Color());
  DIBClear(*background_bar_);
  std::vector<int8_t> frame;
  LayOutFrame(frame, spots_, true, 0);
  DrawFrame(*background_bar_, frame, ZoneValues(*background_bar_, inactive_colors_), inactive_doted_);
}

void TMMCustomLevel::Paint(QPainter& canvas) {
  TMMDIBGraphicControl::Paint(canvas);
  DrawLevel(canvas);
}

void TMMCustomLevel::DrawLevel(QPainter& canvas, bool changed_only) {
  if (OnPaint) OnPaint(this);
  TMMDIBCanvas& work = DIBCanvas();
  DrawingSection section(work);
  TRect area{0, 0, inner_width_, inner_height_};
  if (on_draw_bar_) {
    on_draw_bar_(this, work, area, feed_.Value(), feed_.Peak());
    shown_.clear();
  } else {
    if (enabled_) {
      LayOutFrame(frame_, feed_.Value(), false, feed_.Peak());
    } else {
      frame_.assign(static_cast<size_t>(spots_ - kFirstSpot + kSpotsPastN + 1), -1);
    }
    DrawingSection background(*background_bar_);
    const uint8_t* unlit = background_bar_->DrawState().pixels;
    if (ShowsFrameOf(work)) {
      const TRect changed = DrawChanges(work, unlit);
      if (changed_only) area = changed;
    } else {
      if (unlit) DIBCopyRect(work, 0, 0, inner_width_, inner_height_, 0, 0, unlit);
      lit_values_ = ZoneValues(work, bar_colors_);
      DrawFrame(work, frame_, lit_values_, active_doted_);
      shown_canvas_generation_ = work.Generation();
      shown_background_generation_ = background_generation_;
    }
    shown_.swap(frame_);
  }
  const QRect shown(inner_.Left + area.Left, inner_.Top + area.Top, std::max(0, area.Width()),
                    std::max(0, area.Height()));
  // A frame that changed no spot leaves the screen alone.
  if (changed_only) ChangedArea(shown);
  if (shown.isEmpty()) return;
  work.DrawToDC(canvas, shown, area.Left, area.Top);
}

bool TMMCustomLevel::ShowsFrameOf(const TMMDIBCanvas& work) const {
  return shown_.size() == frame_.size() && shown_canvas_generation_ == work.Generation() &&
         shown_background_generation_ == background_generation_;
}

TRect TMMCustomLevel::DrawChanges(TMMDIBCanvas& work, const uint8_t* unlit) const {
  TRect area{inner_width_, inner_height_, 0, 0};
  for (size_t i = 0; i < frame_.size(); ++i) {
    if (frame_[i] == shown_[i]) continue;
    const int k = static_cast<int>(i) + kFirstSpot;
    const TRect spot = SpotRect(k);
    // A dotted spot leaves the unlit picture between its dots.
    if (unlit) DIBCopyRect(work, spot.Left, spot.Top, spot.Width(), spot.Height(), spot.Left, spot.Top, unlit);
    if (frame_[i] >= 0) DrawSpot(work, k, lit_values_[frame_[i]], active_doted_);
    area = {std::min(area.Left, spot.Left), std::min(area.Top, spot.Top), std::max(area.Right, spot.Right),
            std::max(area.Bottom, spot.Bottom)};
  }
  return {std::max(area.Left, 0), std::max(area.Top, 0), std::min(area.Right, inner_width_),
          std::min(area.Bottom, inner_height_)};
}

void TMMCustomLevel::LayOutFrame(std::vector<int8_t>& frame, int value, bool full, int peak) const {
  frame.assign(static_cast<size_t>(spots_ - kFirstSpot + kSpotsPastN + 1), -1);
  const auto put = [&](int k, int zone) {
    const int i = k - kFirstSpot;
    if (i >= 0 && i < static_cast<int>(frame.size())) frame[static_cast<size_t>(i)] = static_cast<int8_t>(zone);
  };
  int drawn = value;
  if (direction_ != TMMLevelDirection::dirSymetric || full) {
    for (int k = 1; k <= value; ++k) put(k, Zone(k));
  } else {
    drawn = std::clamp(value, 1, spots_);
    for (int k = drawn - kSymmetricHalfBlock; k <= drawn + kSymmetricHalfBlock; ++k) put(k, Zone(drawn));
  }
  if (num_peaks_ == 0 || peak <= drawn) return;
  const bool symmetric = direction_ == TMMLevelDirection::dirSymetric && !full;
  const int outer = symmetric ? peak + kSymmetricHalfBlock : peak;
  for (int i = 0; i < num_peaks_; ++i) put(outer - i, Zone(peak - i));
}

void TMMCustomLevel::DrawFrame(TMMDIBCanvas& dib, const std::vector<int8_t>& frame,
                               const std::array<uint32_t, 3>& zones, bool dotted) const {
  for (size_t i = 0; i < frame.size(); ++i) {
    if (frame[i] >= 0) DrawSpot(dib, static_cast<int>(i) + kFirstSpot, zones[frame[i]], dotted);
  }
}

TRect TMMCustomLevel::SpotRect(int k) const {
  const int start = margin_ + (k - 1) * (spot_width_ + spot_space_);
  if (kind_ == TMMLevelKind::lkHorizontal) {
    const int left =
        direction_ == TMMLevelDirection::dirNormal ? start : inner_width_ - start - spot_width_;
    return {left, 0, left + spot_width_, inner_height_};
  }
  const int top =
      direction_ == TMMLevelDirection::dirNormal ? inner_height_ - start - spot_width_ : start;
  return {0, top, inner_width_, top + spot_width_};
}

void TMMCustomLevel::DrawSpot(TMMDIBCanvas& dib, int k, uint32_t value, bool dotted) const {
  const TRect spot = SpotRect(k);
  dib.SetDrawIndex(value);
  if (dotted) {
    DIBFillRectMode(dib, spot, 1);
  } else {
    DIBFillRect(dib, spot);
  }
}

}  // namespace pmx
