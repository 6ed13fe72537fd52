#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "audio/core/objects/mm_types.h"
#include "audio/displays/fft.h"
#include "platform/wave_types.h"

namespace pmx {

// The arithmetic the frequency displays share: reading one channel out of a PCM
// block, the windowed transform into a 16-bit spectrum, the power of a bin and the
// per-bin fall-back. Everything here belongs to the thread that feeds the display.

// v truncated toward zero and brought into the 16-bit range: a DC offset under a
// window or a strong pre-emphasis would otherwise wrap to the opposite sign.
int16_t SaturateInt16(double v);

// re^2 + im^2 of a bin; two full-scale 16-bit parts pass 2^31.
inline int64_t BinPower(int re, int im) {
  return static_cast<int64_t>(re) * re + static_cast<int64_t>(im) * im;
}

// How a PCM block is laid out and which channel a frequency display reads.
struct TMMChannelLayout {
  TMMBits bits = TMMBits::b8Bit;
  int mode = 0;  // channels - 1; of more than two, the first two are left and right
  TMMChannel channel = TMMChannel::chBoth;
};

// The raw value of one channel (or the mean of left and right) of each of the
// count frames at data: unsigned bytes for 8 bits, signed for 16.
void ReadChannelFrames(const uint8_t* data, const TMMChannelLayout& layout, int count,
                       int32_t* out);

// The forward transform of a display: plan and fixed-point window for N = 2^bits
// points (8 .. 4096), and the last spectrum as N/2 (real, imaginary) pairs, each
// the transform's output divided by N/2 and saturated to 16 bits.
class TMMSpectrumTransform {
 public:
  static constexpr int kMaxLength = 4096;

  TMMSpectrumTransform();
  ~TMMSpectrumTransform();
  TMMSpectrumTransform(const TMMSpectrumTransform&) = delete;
  TMMSpectrumTransform& operator=(const TMMSpectrumTransform&) = delete;

  int Length() const { return length_; }
  void SetLengthBits(int bits);
  TMMFFTWindow Window() const { return window_; }
  void SetWindow(TMMFFTWindow window);
  // Windows the N values (8-bit: centred values on the 128 scale, else on 32768),
  // transforms them and stores the spectrum.
  void Run(const int32_t* values, bool eight_bit);
  void Clear() { spectrum_.fill(0); }
  int16_t Re(int bin) const { return spectrum_[2 * bin]; }
  int16_t Im(int bin) const { return spectrum_[2 * bin + 1]; }
  int64_t Power(int bin) const { return BinPower(Re(bin), Im(bin)); }

 private:
  int bits_ = 0;
  int length_ = 0;
  TMMFFTWindow window_ = TMMFFTWindow::fwHamming;
  TFFTPlan* plan_ = nullptr;
  std::array<int32_t, kMaxLength> window_table_{};
  std::array<int16_t, kMaxLength> spectrum_{};
};

// The feed side of a frequency display: the layout of the PCM it is fed, the
// rate its frequencies are labelled by, and its transform.
class TMMFrequencyInput {
 public:
  TMMSpectrumTransform& Transform() { return transform_; }
  const TMMSpectrumTransform& Transform() const { return transform_; }
  int Length() const { return transform_.Length(); }
  // Clamped to 8 .. 4096 and rounded down to a power of two; true when it changed.
  bool SetLength(int value);
  // The property, clamped to 8000 .. 100000; true when it or the rate changed.
  int SampleRate() const { return sample_rate_; }
  bool SetSampleRate(int value);
  // The stream's own rate, which the property's range may not hold: a 4 kHz
  // stream is labelled by 4 kHz.
  int Rate() const { return rate_; }
  // Rate, width and channels of a format that passed the PCM test; true when the
  // rate changed.
  bool SetFormat(const WaveFormatEx& format);
  const TMMChannelLayout& Layout() const { return layout_; }
  void SetBits(TMMBits value);
  void SetMode(int value);
  void SetChannel(TMMChannel value);
  int BytesPerRefresh() const;
  bool EightBit() const { return layout_.bits == TMMBits::b8Bit; }
  // Reads the channel values of one block; returns how many reach overflow_from.
  int Read(const void* data, int32_t* out, int32_t overflow_from) const;
  // The values of one block ready for the transform after a pre-emphasis of order
  // 0 (none), 1 (first difference) or 2 (second difference); returns how many raw
  // values reached full scale.
  int ReadEmphasized(const void* data, int order, int32_t* out) const;

 private:
  TMMSpectrumTransform transform_;
  TMMChannelLayout layout_;
  int sample_rate_ = 11025;
  int rate_ = 11025;
};

// The fall-back of a display per frequency bin, as the level bar's for one value:
// step-up, exponential or a moving average over a ring of up to 32 refreshes.
class TMMBinDecay {
 public:
  static constexpr int kMaxBins = TMMSpectrumTransform::kMaxLength / 2;
  static constexpr int kMaxRing = 32;

  // initial_factor: the fall factor until Decay is first set.
  explicit TMMBinDecay(float initial_factor);

  TMMDecayMode Mode() const { return mode_; }
  void SetMode(TMMDecayMode value);
  int Decay() const { return decay_; }
  void SetDecay(int value);
  float Factor() const { return factor_; }
  int RingLength() const { return ring_length_; }

  void Reset();
  // Moves the ring on; once per refresh, before the bins.
  void Advance();
  int32_t Apply(int bin, int32_t value);

 private:
  TMMDecayMode mode_ = TMMDecayMode::dmNone;
  int decay_ = 1;
  float factor_;
  int ring_length_ = 1;
  int ring_index_ = 0;
  int fill_count_ = 0;
  std::vector<float> hold_;
  std::vector<int64_t> sum_;
  std::vector<int32_t> history_;  // kMaxRing rows of kMaxBins
};

}  // namespace pmx
