#include "audio/core/pcm_support.h"

#include <cstdlib>

namespace pmx {

namespace {

// A scanned channel: where its samples lie and how to read them as signed values
// around silence (8-bit samples are stored with 128 as silence).
template <bool k16>
struct Channel {
  static constexpr int kSampleBytes = k16 ? 2 : 1;
  static constexpr int32_t kSilence = k16 ? 0 : 128;
  static int32_t Stored(const uint8_t* p) {
    if constexpr (k16) {
      return LoadLES16(p);
    } else {
      return *p;
    }
  }
  static int32_t Centered(const uint8_t* p) { return Stored(p) - kSilence; }
};

template <bool k16>
int64_t FindTrigger(const uint8_t* data, int64_t count, int channels, int64_t threshold,
                    bool rising, int channel) {
  using C = Channel<k16>;
  const int frame = C::kSampleBytes * channels;
  const int64_t usable = count - count % frame;
  const auto crosses = [&](int64_t at) {
    const int32_t s = C::Stored(data + at);
    const int32_t next = C::Stored(data + at + frame);
    return rising ? s < threshold && next >= threshold : s > threshold && next <= threshold;
  };
  const bool left = channels == 1 || channel == 0 || channel == 1;
  const bool right = channels == 2 && (channel == 0 || channel == 2);
  // The trigger point is never in the last frame, so a display always has a sample
  // after it.
  for (int64_t at = 0; usable - at > 2 * frame; at += frame) {
    if (left && crosses(at)) return at + frame;
    if (right && crosses(at + C::kSampleBytes)) return at + frame + C::kSampleBytes;
  }
  return -1;
}

template <bool k16>
void ScanExtremes(const uint8_t* data, int64_t frames, int channels, int index, int32_t& first,
                  int32_t& second) {
  using C = Channel<k16>;
  const int frame = C::kSampleBytes * channels;
  const uint8_t* p = data + index * C::kSampleBytes;
  int32_t low = k16 ? 32767 : 127;
  int32_t high = -low;
  int64_t low_at = 0;
  int64_t high_at = 0;
  for (int64_t f = 0; f < frames; ++f, p += frame) {
    const int32_t s = C::Centered(p);
    if (s < low) low = s, low_at = f;
    if (s > high) high = s, high_at = f;
  }
  const bool high_first = high_at < low_at;
  first = (high_first ? high : low) + C::kSilence;
  second = (high_first ? low : high) + C::kSilence;
}

template <bool k16>
struct FindPeaks {
  static TPCMPeaks Run(const uint8_t* data, int64_t count, int channels);
};

template <bool k16>
TPCMPeaks FindPeaks<k16>::Run(const uint8_t* data, int64_t count, int channels) {
  TPCMPeaks peaks;
  const int64_t frames = count / (Channel<k16>::kSampleBytes * channels);
  if (frames == 0) {
    const int32_t silence = Channel<k16>::kSilence;
    return {silence, silence, silence, silence};
  }
  ScanExtremes<k16>(data, frames, channels, 0, peaks.First1, peaks.Second1);
  if (channels == 2) {
    ScanExtremes<k16>(data, frames, channels, 1, peaks.First2, peaks.Second2);
  } else {
    peaks.First2 = peaks.First1;
    peaks.Second2 = peaks.Second1;
  }
  return peaks;
}

template <bool k16>
int32_t LoudestSample(const uint8_t* data, int64_t frames, int channels, int index) {
  using C = Channel<k16>;
  const int frame = C::kSampleBytes * channels;
  const uint8_t* p = data + index * C::kSampleBytes;
  int32_t loudest = C::kSilence;
  int32_t magnitude = 0;
  for (int64_t f = 0; f < frames; ++f, p += frame) {
    const int32_t m = std::abs(C::Centered(p));
    if (m > magnitude) magnitude = m, loudest = C::Stored(p);
  }
  return loudest;
}

template <bool k16>
struct FindPeakSample {
  static TPCMPeakSample Run(const uint8_t* data, int64_t count, int channels) {
    const int64_t frames = count / (Channel<k16>::kSampleBytes * channels);
    const int32_t left = LoudestSample<k16>(data, frames, channels, 0);
    return {left, channels == 2 ? LoudestSample<k16>(data, frames, channels, 1) : left};
  }
};

// Runs a scan for the depth and channels of a format with a layout code; a format
// without one gives the scan's empty result.
template <template <bool> class Scan>
auto ByLayout(const WaveFormatEx& format, std::span<const uint8_t> data) {
  using Result = decltype(Scan<true>::Run(nullptr, 0, 1));
  const int code = PCMFormatCode(format);
  if (code < 0) return Result{};
  const auto count = static_cast<int64_t>(data.size());
  const int channels = code & 2 ? 2 : 1;
  return code & 4 ? Scan<true>::Run(data.data(), count, channels)
                  : Scan<false>::Run(data.data(), count, channels);
}

template <int32_t kLow, int32_t kHigh>
int32_t Clip(int32_t value, bool& clipped) {
  if (value < kLow || value > kHigh) {
    clipped = true;
    return value < kLow ? kLow : kHigh;
  }
  return value;
}

// Scales every sample of one channel in place (stride in bytes between its samples).
bool ScaleChannel8(std::span<uint8_t> data, int index, int stride, int32_t gain) {
  bool clipped = false;
  for (std::size_t at = index; at < data.size(); at += stride) {
    data[at] = PCMScaleSample8(data[at], gain, clipped);
  }
  return clipped;
}

bool ScaleChannel16(std::span<uint8_t> data, int index, int stride, int32_t gain) {
  bool clipped = false;
  const std::size_t end = data.size() - data.size() % 2;
  for (std::size_t at = 2 * index; at < end; at += stride) {
    StoreLE16(&data[at], PCMScaleSample16(LoadLES16(&data[at]), gain, clipped));
  }
  return clipped;
}

}  // namespace

bool ValidPCMFormat(const WaveFormatEx* format) {
  if (format == nullptr) return false;
  const auto bits = format->wBitsPerSample();
  const auto channels = format->nChannels();
  const auto rate = format->nSamplesPerSec();
  return format->wFormatTag() == WAVE_FORMAT_PCM && (bits == 8 || bits == 16) &&
         (channels == 1 || channels == 2 || channels == 4) && rate >= 4000 && rate <= 100000;
}

void FillPCMFormat(WaveFormatEx& format, uint16_t bits, uint16_t channels, uint32_t rate) {
  // A fresh record: the extra bytes of whatever format was there before go with it.
  format = WaveFormatEx::Pcm(rate, bits, channels);
}

int PCMFormatCode(const WaveFormatEx& format) {
  const auto bits = format.wBitsPerSample();
  const auto channels = format.nChannels();
  if (format.wFormatTag() != WAVE_FORMAT_PCM || (bits != 8 && bits != 16) ||
      (channels != 1 && channels != 2) || format.nSamplesPerSec() == 0) {
    return -1;
  }
  return (channels == 2 ? 2 : 0) | (bits == 16 ? 4 : 0);
}

int64_t PCMFindTrigger(const WaveFormatEx& format, std::span<const uint8_t> data, int level,
                       int mode, int channel) {
  const int code = PCMFormatCode(format);
  if (code < 0 || data.empty() || (mode != tmRising && mode != tmFalling)) return -1;
  const int64_t percent = mode == tmFalling ? -int64_t{level} : level;
  const auto count = static_cast<int64_t>(data.size());
  const int channels = code & 2 ? 2 : 1;
  const bool rising = mode == tmRising;
  if (code & 4)
    return FindTrigger<true>(data.data(), count, channels, percent * 327, rising, channel);
  return FindTrigger<false>(data.data(), count, channels, percent * 127 / 100 + 128, rising,
                            channel);
}

TPCMPeaks PCMFindPeaks(const WaveFormatEx& format, std::span<const uint8_t> data) {
  return ByLayout<FindPeaks>(format, data);
}

TPCMPeakSample PCMFindPeakSample(const WaveFormatEx& format, std::span<const uint8_t> data) {
  return ByLayout<FindPeakSample>(format, data);
}

int32_t PCMClip8(int32_t value, bool& clipped) { return Clip<-128, 127>(value, clipped); }

int32_t PCMClip16(int32_t value, bool& clipped) { return Clip<-32768, 32767>(value, clipped); }

bool PCMScaleMono8(int32_t gain, std::span<uint8_t> data) {
  return gain != kPCMUnityGain && ScaleChannel8(data, 0, 1, gain);
}

bool PCMScaleMono16(int32_t gain, std::span<uint8_t> data) {
  return gain != kPCMUnityGain && ScaleChannel16(data, 0, 2, gain);
}

bool PCMScaleStereo8(int32_t left_gain, int32_t right_gain, std::span<uint8_t> data) {
  if (left_gain == kPCMUnityGain && right_gain == kPCMUnityGain) return false;
  std::span<uint8_t> frames = data.first(data.size() - data.size() % 2);
  const bool left = ScaleChannel8(frames, 0, 2, left_gain);
  return ScaleChannel8(frames, 1, 2, right_gain) || left;
}

bool PCMScaleStereo16(int32_t left_gain, int32_t right_gain, std::span<uint8_t> data) {
  if (left_gain == kPCMUnityGain && right_gain == kPCMUnityGain) return false;
  std::span<uint8_t> frames = data.first(data.size() - data.size() % 4);
  const bool left = ScaleChannel16(frames, 0, 4, left_gain);
  return ScaleChannel16(frames, 1, 4, right_gain) || left;
}

}  // namespace pmx
