#include "platform/codecs/ima_adpcm.h"

#include <algorithm>
#include <array>

#include "platform/byte_order.h"

namespace pmx {
namespace {

constexpr std::array<int16_t, kImaMaxStepIndex + 1> kSteps = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int kIndexChange[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

}  // namespace

void ImaAdpcmChannel::Apply(int code) {
  const int step = kSteps[index];
  int diff = step >> 3;
  if (code & 4) diff += step;
  if (code & 2) diff += step >> 1;
  if (code & 1) diff += step >> 2;
  predictor = std::clamp(code & 8 ? predictor - diff : predictor + diff, -32768, 32767);
  index = std::clamp(index + kIndexChange[code & 7], 0, kImaMaxStepIndex);
}

int ImaAdpcmChannel::Encode(int sample) {
  int diff = sample - predictor;
  int code = 0;
  if (diff < 0) {
    code = 8;
    diff = -diff;
  }
  int step = kSteps[index];
  for (int bit = 4; bit > 0; bit >>= 1, step >>= 1) {
    if (diff >= step) {
      code |= bit;
      diff -= step;
    }
  }
  Apply(code);
  return code;
}

uint16_t IMAADPCMSamplesPerBlock(const WaveFormatEx& f) {
  const uint32_t channels = f.nChannels();
  if (f.wFormatTag() != WAVE_FORMAT_IMA_ADPCM || f.wBitsPerSample() != 4 || channels < 1 || channels > 2 ||
      f.cbSize() < 2 || f.Extra().size() < 2 || f.nBlockAlign() < 4 * channels) {
    return 0;
  }
  const uint16_t spb = LoadLE16(f.Extra().data());
  const uint32_t most = (f.nBlockAlign() - 4 * channels) / (4 * channels) * 8 + 1;
  return spb <= most ? spb : 0;
}

}  // namespace pmx
