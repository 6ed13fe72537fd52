#pragma once

#include <cstdint>

// The IMA step-index rule shared by the IMA ADPCM codec and the library's own
// step-index decoders. Pure state per channel; any thread.

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

}  // namespace pmx
