#include "audio/displays/peak_display.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "audio/core/dsp/pcm_support.h"

namespace pmx {

void TMMPeakDisplay::SetGain(int value) {
  if (value < -8 || value > 32 || gain_ == value + 8) return;
  gain_ = value + 8;
  update();
}

void TMMPeakDisplay::SetSamples(int value) {
  value = std::max(1, value);
  if (samples_ == value) return;
  samples_ = value;
  UpdateBytesPerRefresh();
}

void TMMPeakDisplay::SetLogAmp(bool value) {
  if (log_amp_ == value) return;
  log_amp_ = value;
  update();
}

void TMMPeakDisplay::SetValue(int value) {
  value = std::clamp(value, 0, 100);
  SetValueInternal(static_cast<int64_t>(std::nearbyint(value * static_cast<double>(kFullScale) / 100)));
}

void TMMPeakDisplay::UpdateBytesPerRefresh() {
  bytes_per_refresh_ = (static_cast<int>(bits_) + 1) * (mode_ + 1) * samples_;
}

void TMMPeakDisplay::AddTimerClient() { feed_.AddTimerClient(!enabled_ || !HoldsPeaks()); }

void TMMPeakDisplay::SetDesignMode(bool value) {
  TMMDIBGraphicControl::SetDesignMode(value);
  if (!Designing()) AddTimerClient();
}

bool TMMPeakDisplay::TakeFormat(PWaveFormatEx format) {
  if (!ValidPCMFormat(format)) return false;
  SetBitLength(static_cast<TMMBits>(format->wBitsPerSample() / 8 - 1));
  SetMode(static_cast<TMMMode>(format->nChannels() - 1));
  return true;
}

void TMMPeakDisplay::RefreshPCMData(const void* data) {
  if (!enabled_ || !Visible() || !data) return;
  const std::optional<int64_t> peak =
      feed_.Scan(data, {bits_, mode_, channel_, samples_, dc_offset_l_, dc_offset_r_});
  if (!peak) return;
  if (*peak >= kFullScale && OnPcmOverflow) OnPcmOverflow(this);
  SetValueInternal(*peak);
}

}  // namespace pmx
