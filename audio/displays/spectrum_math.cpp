#include "audio/displays/spectrum_math.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <limits>

#include "platform/byte_order.h"

namespace pmx {

int16_t SaturateInt16(double v) {
  v = std::trunc(v);
  if (!(v > std::numeric_limits<int16_t>::min())) return std::numeric_limits<int16_t>::min();
  if (v > std::numeric_limits<int16_t>::max()) return std::numeric_limits<int16_t>::max();
  return static_cast<int16_t>(v);
}

void ReadChannelFrames(const uint8_t* data, const TMMChannelLayout& layout, int count,
                       int32_t* out) {
  const bool wide = layout.bits == TMMBits::b16Bit;
  const int width = wide ? 2 : 1;
  const ptrdiff_t frame = static_cast<ptrdiff_t>(width) * (layout.mode + 1);
  auto sample = [wide](const uint8_t* at) -> int32_t {
    return wide ? LoadLES16(at) : at[0];
  };
  for (int i = 0; i < count; ++i) {
    const uint8_t* at = data + i * frame;
    if (layout.mode == 0 || layout.channel == TMMChannel::chLeft) {
      out[i] = sample(at);
    } else if (layout.channel == TMMChannel::chRight) {
      out[i] = sample(at + width);
    } else {
      const int32_t sum = sample(at) + sample(at + width);
      out[i] = wide ? sum / 2 : sum >> 1;
    }
  }
}

TMMSpectrumTransform::TMMSpectrumTransform() { SetLengthBits(3); }

TMMSpectrumTransform::~TMMSpectrumTransform() { FreeFFTPlan(plan_); }

void TMMSpectrumTransform::SetLengthBits(int bits) {
  bits = std::clamp(bits, 3, 12);
  if (bits == bits_) return;
  TFFTPlan* plan = CreateFFTPlan(bits);
  FreeFFTPlan(plan_);
  plan_ = plan;
  bits_ = bits;
  length_ = 1 << bits;
  FillFFTWindow(window_table_.data(), window_, bits_);
}

void TMMSpectrumTransform::SetWindow(TMMFFTWindow window) {
  window_ = window;
  FillFFTWindow(window_table_.data(), window_, bits_);
}

void TMMSpectrumTransform::Run(const int32_t* values, bool eight_bit) {
  std::array<float, kMaxLength> buffer;
  const int64_t scale = eight_bit ? 128 : 32768;
  for (int i = 0; i < length_; ++i) {
    buffer[i] = static_cast<float>(static_cast<int64_t>(values[i]) * window_table_[i] / scale);
  }
  DoRealFFT(plan_, buffer.data(), 1);
  const double half = length_ / 2;
  for (int i = 0; i < length_; ++i) spectrum_[i] = SaturateInt16(buffer[i] / half);
}

bool TMMFrequencyInput::SetLength(int value) {
  value = static_cast<int>(std::bit_floor(static_cast<unsigned>(std::clamp(value, 8, TMMSpectrumTransform::kMaxLength))));
  if (value == transform_.Length()) return false;
  transform_.SetLengthBits(std::countr_zero(static_cast<unsigned>(value)));
  return true;
}

bool TMMFrequencyInput::SetSampleRate(int value) {
  value = std::clamp(value, 8000, 100000);
  if (sample_rate_ == value && rate_ == value) return false;
  sample_rate_ = rate_ = value;
  return true;
}

bool TMMFrequencyInput::SetFormat(const WaveFormatEx& format) {
  const int rate = static_cast<int>(format.nSamplesPerSec());
  const bool changed = rate != rate_;
  SetSampleRate(rate);
  rate_ = rate;
  layout_.bits = static_cast<TMMBits>(format.wBitsPerSample() / 8 - 1);
  layout_.mode = format.nChannels() - 1;
  return changed;
}

void TMMFrequencyInput::SetBits(TMMBits value) { layout_.bits = value; }

void TMMFrequencyInput::SetMode(int value) { layout_.mode = value; }

void TMMFrequencyInput::SetChannel(TMMChannel value) { layout_.channel = value; }

int TMMFrequencyInput::BytesPerRefresh() const {
  return (static_cast<int>(layout_.bits) + 1) * (layout_.mode + 1) * transform_.Length();
}

int TMMFrequencyInput::Read(const void* data, int32_t* out, int32_t overflow_from) const {
  const int n = transform_.Length();
  ReadChannelFrames(static_cast<const uint8_t*>(data), layout_, n, out);
  return static_cast<int>(std::count_if(out, out + n, [&](int32_t v) { return v >= overflow_from; }));
}

int TMMFrequencyInput::ReadEmphasized(const void* data, int order, int32_t* out) const {
  const int n = transform_.Length();
  const bool eight_bit = EightBit();
  const bool mean = layout_.mode > 0 && layout_.channel == TMMChannel::chBoth;
  std::array<int32_t, TMMSpectrumTransform::kMaxLength> raw;
  const int overflows = Read(data, raw.data(), eight_bit ? 255 : (mean && order != 2 ? 32766 : 32767));
  // The history of the differences starts at the block's first raw value (the
  // left channel's for the mean of both).
  const auto* first = static_cast<const uint8_t*>(data);
  const int32_t start =
      !mean ? raw[0] : (eight_bit ? first[0] : LoadLES16(first));
  int32_t previous = start;
  int32_t second = start;
  for (int i = 0; i < n; ++i) {
    const int32_t s = raw[i];
    if (order == 0) {
      out[i] = eight_bit ? s - 128 : s;
    } else if (order == 1) {
      out[i] = s - previous;
    } else {
      out[i] = s + second - 2 * previous;
    }
    second = previous;
    previous = s;
  }
  return overflows;
}

TMMBinDecay::TMMBinDecay(float initial_factor)
    : factor_(initial_factor),
      hold_(kMaxBins),
      sum_(kMaxBins),
      history_(static_cast<size_t>(kMaxRing) * kMaxBins) {}

void TMMBinDecay::SetMode(TMMDecayMode value) {
  if (mode_ == value) return;
  mode_ = value;
  Reset();
}

void TMMBinDecay::SetDecay(int value) {
  value = std::clamp(value, 1, 16);
  if (decay_ == value) return;
  decay_ = value;
  factor_ = 0.0001f;
  for (int i = 0; i < decay_; ++i) factor_ = std::sqrt(factor_);
  ring_length_ = std::clamp(2 * decay_ - 2, 1, kMaxRing);
  if (mode_ == TMMDecayMode::dmUniform) Reset();
}

void TMMBinDecay::Reset() {
  ring_index_ = fill_count_ = 0;
  std::fill(hold_.begin(), hold_.end(), 0.0f);
  std::fill(sum_.begin(), sum_.end(), 0);
  std::fill(history_.begin(), history_.end(), 0);
}

void TMMBinDecay::Advance() {
  if (++ring_index_ >= ring_length_) ring_index_ = 0;
  fill_count_ = std::min(fill_count_ + 1, ring_length_);
}

int32_t TMMBinDecay::Apply(int bin, int32_t value) {
  switch (mode_) {
    case TMMDecayMode::dmNone:
      return value;
    case TMMDecayMode::dmStepUp: {
      float& hold = hold_[bin];
      hold *= factor_;
      if (static_cast<float>(value) >= hold) {
        hold = static_cast<float>(value);
        return value;
      }
      return static_cast<int32_t>(hold);
    }
    case TMMDecayMode::dmExponential: {
      float& hold = hold_[bin];
      hold = hold * factor_ + (1 - factor_) * static_cast<float>(value);
      return static_cast<int32_t>(std::floor(hold));
    }
    default: {
      int32_t& slot = history_[static_cast<size_t>(ring_index_) * kMaxBins + bin];
      sum_[bin] += value - slot;
      slot = value;
      return static_cast<int32_t>(sum_[bin] / fill_count_);
    }
  }
}

}  // namespace pmx
