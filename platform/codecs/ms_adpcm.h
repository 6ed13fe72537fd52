#pragma once

#include <cstdint>
#include <span>

#include "platform/wave_types.h"

// Microsoft ADPCM blocks (tag 2, 4 bits, the seven standard coefficient pairs):
// the format, the block decoder and an encoder. Pure functions; any thread.

namespace pmx {

constexpr int kMSADPCMCoefficients = 7;
extern const int16_t kMSADPCMCoefficient1[kMSADPCMCoefficients];
extern const int16_t kMSADPCMCoefficient2[kMSADPCMCoefficients];

// The standard format for a rate and channel count: block 256 x channels,
// times rate div 11000 above 11025 Hz; sizes in 16-bit arithmetic.
WaveFormatEx MSADPCMFormat(uint32_t rate, uint16_t channels);
// Tag 2, 4 bits, 1 to 4 channels, the seven standard pairs in order.
bool IsStandardMSADPCM(const WaveFormatEx& format);
// The samples per block the format announces, when they fit its blocks (tag 2,
// 4 bits, 1 to 4 channels, at least the two of the block header); 0 for a format
// no decoder can trust.
uint16_t MSADPCMSamplesPerBlock(const WaveFormatEx& format);

// One channel's prediction state. A block header may carry any coefficient pair
// and any delta, so the prediction and the step are taken in 64 bits and clamped:
// samples to 16 bits, the delta to 16..kMostDelta. Valid streams never reach the
// bound; a hostile one decodes to noise, not to undefined arithmetic.
struct MSADPCMChannel {
  static constexpr int kLeastDelta = 16;
  static constexpr int kMostDelta = 1 << 22;

  int c1 = 256;
  int c2 = 0;
  int delta = kLeastDelta;
  int s1 = 0;  // the last sample
  int s2 = 0;  // the one before

  // A header's delta, within the bounds.
  void SetDelta(int header_delta);
  // Rounded down, as encoders predict.
  int Predict() const;
  // Applies one signed code (-8..7); returns the new sample.
  int Apply(int code);
};

// Decodes one block of at most spb frames into 16-bit samples; stops where the
// block's bytes end. Result: frames written; 0 for a predictor index out of
// range or a block shorter than its header.
uint32_t MSADPCMDecodeBlock(std::span<const uint8_t> block, uint16_t channels, uint16_t spb,
                            int16_t* out);
// Encodes spb frames of interleaved samples into one block of block bytes.
void MSADPCMEncodeBlock(const int16_t* frames, uint16_t channels, uint16_t spb, uint8_t* out,
                        uint16_t block);

}  // namespace pmx
