#pragma once

#include <cstdint>
#include <span>

#include "platform/byte_order.h"
#include "platform/wave_types.h"

// Free routines on plain PCM data: 8-bit unsigned or 16-bit signed little-endian
// samples, mono or interleaved stereo. They work on caller-owned memory, keep no
// state between calls and hold no lock; where a routine limits a value it says so
// through its result or through a flag the caller owns, so that chains running on
// different threads never share one.

namespace pmx {

// Gains are integers with this value as unity; a gain is applied as
// sample x gain shifted right by 14.
constexpr int32_t kPCMUnityGain = 16384;

// Tag 1, 8 or 16 bits, 1, 2 or 4 channels, 4000..100000 Hz. False for none.
bool ValidPCMFormat(const WaveFormatEx* format);
// A PCM record with derived block alignment (16-bit arithmetic) and average bytes.
void FillPCMFormat(WaveFormatEx& format, uint16_t bits, uint16_t channels, uint32_t rate);

// Layout codes: bit 1 stereo, bit 2 16 bits. -1 when the format has none
// (not tag 1, not 1 or 2 channels, not 8 or 16 bits, or a zero rate).
constexpr int kPCMMono8 = 0;
constexpr int kPCMStereo8 = 2;
constexpr int kPCMMono16 = 4;
constexpr int kPCMStereo16 = 6;
int PCMFormatCode(const WaveFormatEx& format);
constexpr int PCMFrameBytes(int code) { return (code & 2 ? 2 : 1) * (code & 4 ? 2 : 1); }
constexpr int64_t PCMBytesToFrames(int64_t count, int code) { return count / PCMFrameBytes(code); }
constexpr int64_t PCMFramesToBytes(int64_t count, int code) { return count * PCMFrameBytes(code); }

enum TPCMTriggerMode { tmNone = 0, tmRising = 1, tmFalling = 2 };
// Byte offset of the sample just after the first crossing of level percent, or -1.
// channel: 0 left then right, 1 left only, 2 right only; mono data has one channel.
int64_t PCMFindTrigger(const WaveFormatEx& format, std::span<const uint8_t> data, int level,
                       int mode, int channel);

// Each channel's two extremes in the order in which they occur; mono copies
// channel 1 into channel 2. 8-bit values are the stored unsigned samples.
struct TPCMPeaks {
  int32_t First1 = 0;
  int32_t Second1 = 0;
  int32_t First2 = 0;
  int32_t Second2 = 0;
};
TPCMPeaks PCMFindPeaks(const WaveFormatEx& format, std::span<const uint8_t> data);

// The sample of largest magnitude per channel (first one on ties).
struct TPCMPeakSample {
  int32_t Channel1 = 0;
  int32_t Channel2 = 0;
};
TPCMPeakSample PCMFindPeakSample(const WaveFormatEx& format, std::span<const uint8_t> data);

// Limit to -128..127 / -32768..32767; clipped is set (never cleared) when limited.
int32_t PCMClip8(int32_t value, bool& clipped);
int32_t PCMClip16(int32_t value, bool& clipped);
// One sample scaled by gain and limited to its range (sets clipped when limited).
// The limits are tested on the product before the shift. Inline: the buffer
// routines and the fade ramps call them per sample.
inline uint8_t PCMScaleSample8(uint8_t sample, int32_t gain, bool& clipped) {
  const int64_t product = int64_t{sample - 128} * gain;
  if (product >= 2097152 || product < -2097152) {
    clipped = true;
    return product < 0 ? 0 : 255;
  }
  return static_cast<uint8_t>((product >> 14) + 128);
}

inline int16_t PCMScaleSample16(int16_t sample, int32_t gain, bool& clipped) {
  const int64_t product = int64_t{sample} * gain;
  if (product >= 536870912 || product < -536870912) {
    clipped = true;
    return product < 0 ? -32768 : 32767;
  }
  return static_cast<int16_t>(product >> 14);
}

// In place; True when any sample had to be limited. Unity gains return False at once.
bool PCMScaleMono8(int32_t gain, std::span<uint8_t> data);
bool PCMScaleMono16(int32_t gain, std::span<uint8_t> data);
bool PCMScaleStereo8(int32_t left_gain, int32_t right_gain, std::span<uint8_t> data);
bool PCMScaleStereo16(int32_t left_gain, int32_t right_gain, std::span<uint8_t> data);

}  // namespace pmx
