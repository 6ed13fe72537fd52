#pragma once

#include <cstdint>

#include "platform/wave_types.h"

// The IMA step-index rule shared by the IMA ADPCM codec and the library's own
// step-index decoders, and the IMA ADPCM block format. Pure; any thread.

namespace pmx {

constexpr int kImaMaxStepIndex = 88;

struct ImaAdpcmChannel {
  int predictor = 0;
  int index = 0;

  // Applies one 4-bit code: the decoder's whole work and the encoder's tracking step.
  void Apply(int code);
  // Chooses the code for a sample and applies it.
  int Encode(int sample);
};

// The samples per block the format announces, when they fit its blocks (tag
// 0x11, 4 bits, mono or stereo); 0 for a format no decoder can trust. A block
// holds per channel a 4-byte header (the first sample and the step index), then
// groups of 4 bytes per channel, 8 samples each.
uint16_t IMAADPCMSamplesPerBlock(const WaveFormatEx& format);

}  // namespace pmx
