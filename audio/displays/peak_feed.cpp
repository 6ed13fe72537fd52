#include "audio/displays/peak_feed.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/gui_ticker.h"

namespace pmx {

std::optional<int64_t> TMMPeakFeed::Scan(const void* data, const TMMPeakScanLayout& layout) {
  const int64_t peak = PcmBlockPeak(static_cast<const uint8_t*>(data), layout);
  if (gui_ticker::Seen()) return peak;
  last_peak_ = static_cast<int>(std::min<int64_t>(peak, INT32_MAX));
  Forget();
  return std::nullopt;
}

void TMMPeakFeed::Forget() {
  value_ = 0;
  peak_ = 0;
  countdown_ = 0;
  decay_.Reset();
  peak_changed_ = true;  // the picture shown may be an old one
}

bool TMMPeakFeed::Take(int64_t v, bool hold, const Map& map) {
  v = std::abs(v);
  last_peak_ = static_cast<int>(std::min<int64_t>(v, INT32_MAX));
  if (v == 0 && value_ == 0 && !peak_changed_) return false;
  const int m = map(decay_.Apply(v));
  const int held = peak_;
  if (hold && (rules_.hold_equal ? m >= held && m > 0 : m > held)) {
    peak_ = m;
    countdown_ = peak_delay_ * 2 + 1;
    peak_changed_ = true;
    // The tick runs under the timer's lock, so a peak set meanwhile wakes it after.
    timer_client_.SetIdle(false);
  }
  if (m == value_ && !peak_changed_) return false;
  peak_changed_ = false;
  value_ = m;
  return true;
}

void TMMPeakFeed::Reset() {
  value_ = 0;
  peak_ = 0;
  countdown_ = 0;
  last_peak_ = 0;
  decay_.Reset();
}

void TMMPeakFeed::Tick() {
  if (peak_ <= 0) {
    timer_client_.SetIdle(true);
    return;
  }
  if (--countdown_ > 0) return;
  const int speed = peak_speed_;
  const int floor = rules_.fall_to_value ? value_.load() : 0;
  if (speed == 0) {
    peak_ = floor;
    countdown_ = 0;
  } else {
    peak_ = std::max(peak_ - rules_.fall_step, floor);
    countdown_ = speed;
  }
  peak_changed_ = true;
}

template <class T>
bool TMMPeakFeed::SetHoldSetting(T& field, int value) {
  value = std::clamp(value, 0, 50);
  if (field == value) return false;
  field = value;
  ResetCountdown();
  return true;
}

bool TMMPeakFeed::SetPeakDelay(int value) { return SetHoldSetting(peak_delay_, value); }

bool TMMPeakFeed::SetPeakSpeed(int value) { return SetHoldSetting(peak_speed_, value); }

void TMMPeakFeed::AddTimerClient(bool suspended) { timer_client_.Add([this] { Tick(); }, suspended); }

int TMMPeakFeed::Percent(int value, int full, bool log_amp, int sensitivity, int gain) {
  if (value == 0) return 0;
  if (!log_amp) return static_cast<int>(std::nearbyint(value * 100.0 / full));
  // Without gain nothing maps back to an amplitude.
  if (gain == 0) return 0;
  const double db = (sensitivity - sensitivity * static_cast<double>(value) / full) / 20;
  return static_cast<int>(std::nearbyint(std::pow(10.0, db) * 8 / gain * 100));
}

int TMMPeakFeed::ToScale(int64_t amplitude, int full, float min_ratio, bool log_amp, int sensitivity) {
  const float a = static_cast<float>(amplitude);
  const float n = static_cast<float>(full);
  const float s = static_cast<float>(sensitivity);
  float x;
  if (log_amp) {
    const float db = 20 * std::log10(std::max(min_ratio, a / kFullScale));
    x = (db - s) * n / -s;
  } else {
    const float floor = kFullScale / std::pow(10.0f, -s / 20);
    x = (a - floor) * n / (kFullScale - floor);
  }
  return std::max(0, static_cast<int>(std::nearbyint(x)));
}

}  // namespace pmx
