#include "audio/displays/level_math.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>

#include "platform/byte_order.h"

namespace pmx {

int64_t PcmBlockPeak(const uint8_t* data, const TMMPeakScanLayout& layout) {
  const bool wide = layout.bits == TMMBits::b16Bit;
  const int frame = (wide ? 2 : 1) * (layout.mode + 1);
  auto sample = [wide](const uint8_t* at) -> int64_t {
    return wide ? LoadLES16(at) : at[0];
  };
  int64_t peak = 0;
  for (int i = 0; i < layout.samples; ++i) {
    const uint8_t* at = data + static_cast<ptrdiff_t>(i) * frame;
    const int64_t left = sample(at) - layout.dc_offset_l;
    int64_t s = left;
    if (layout.mode > 0) {
      const int64_t right = sample(at + (wide ? 2 : 1)) - layout.dc_offset_r;
      if (layout.channel == TMMChannel::chBoth) s = (left + right) / 2;
      if (layout.channel == TMMChannel::chRight) s = right;
    }
    if (!wide) s = (s - 128) * 256;
    peak = std::max(peak, std::abs(s));
  }
  return peak;
}

void TMMLevelDecay::SetMode(TMMDecayMode value) {
  if (mode_ == value) return;
  mode_ = value;
  Reset();
}

void TMMLevelDecay::SetDecay(int value) {
  value = std::clamp(value, 1, 16);
  if (decay_ == value) return;
  decay_ = value;
  Configure();
  if (mode_ == TMMDecayMode::dmUniform) Reset();
}

void TMMLevelDecay::Configure() {
  factor_ = 0.0001f;
  for (int i = 0; i < decay_; ++i) factor_ = std::sqrt(factor_);
  ring_length_ = std::clamp(2 * (decay_ - 1), 1, 32);
}

void TMMLevelDecay::Reset() {
  ring_position_ = ring_count_ = 0;
  ring_sum_ = 0;
  smoothed_ = 0;
  ring_.fill(0);
}

int64_t TMMLevelDecay::Apply(int64_t v) {
  if (mode_ == TMMDecayMode::dmNone) return v;
  if (++ring_position_ >= ring_length_) ring_position_ = 0;
  ring_count_ = std::min(ring_count_ + 1, ring_length_);
  const float f = factor_;
  switch (mode_) {
    case TMMDecayMode::dmStepUp:
      smoothed_ *= f;
      if (static_cast<float>(v) > smoothed_) {
        smoothed_ = static_cast<float>(v);
        return v;
      }
      return static_cast<int64_t>(smoothed_);
    case TMMDecayMode::dmExponential:
      smoothed_ = smoothed_ * f + (1 - f) * static_cast<float>(v);
      return static_cast<int64_t>(std::floor(smoothed_));
    default:
      ring_sum_ += v - ring_[ring_position_];
      ring_[ring_position_] = v;
      return ring_sum_ / ring_count_;
  }
}

TMMPeakTimerClient::~TMMPeakTimerClient() {
  if (client_) MMTimerRemoveClient(client_);
}

void TMMPeakTimerClient::Add(std::function<void()> tick, bool suspended) {
  if (client_) return;
  constexpr int kInterval = 25;
  tick_ = std::move(tick);
  // Added suspended: a tick that came before client_ is set would read it as it is written.
  client_ = MMTimerAddClient(
      kInterval, 1, [](PMMTimerClient, void* data) { (*static_cast<std::function<void()>*>(data))(); },
      &tick_);
  suspended_ = true;
  SetSuspended(suspended);
}

void TMMPeakTimerClient::SetSuspended(bool suspended) {
  if (!client_ || suspended_ == suspended) return;
  suspended ? MMTimerSuspendClient(client_) : MMTimerResumeClient(client_);
  suspended_ = suspended;
}

}  // namespace pmx
