#include "audio/streaming/adpcm_decode.h"

#include <algorithm>
#include <array>
#include <string>

#include "audio/streaming/streaming.h"
#include "platform/byte_order.h"
#include "platform/ms_adpcm.h"

namespace pmx {
namespace {

constexpr std::array<int, 89> kImaSteps = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr std::array<int, 16> kImaIndexShift = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

struct ImaChannel {
  int predictor;
  int index;

  int16_t Next(int nibble) {
    const int step = kImaSteps[index];
    int diff = step >> 3;
    if (nibble & 1) diff += step >> 2;
    if (nibble & 2) diff += step >> 1;
    if (nibble & 4) diff += step;
    predictor = std::clamp(nibble & 8 ? predictor - diff : predictor + diff, -32767, 32767);
    index = std::clamp(index + kImaIndexShift[nibble], 0, 88);
    return static_cast<int16_t>(predictor);
  }
};


}  // namespace

int ImaAdpcmFramesIn(size_t bytes, int channels) {
  const size_t header = 4u * static_cast<size_t>(channels);
  if (bytes < header) return 0;
  // Stereo data comes in groups of 4 bytes a channel.
  const size_t data = channels == 1 ? bytes - header : (bytes - header) / 8 * 8;
  return static_cast<int>(1 + data * 2 / static_cast<size_t>(channels));
}

int MsAdpcmFramesIn(size_t bytes, int channels) {
  const size_t header = 7u * static_cast<size_t>(channels);
  return bytes < header ? 0 : static_cast<int>(2 + (bytes - header) * 2 / static_cast<size_t>(channels));
}

int DecodeImaAdpcmBlock(const uint8_t* block, size_t bytes, int channels, int samples_per_block, int16_t* out) {
  const int frames = std::min(ImaAdpcmFramesIn(bytes, channels), samples_per_block);
  if (frames == 0) return 0;
  std::array<ImaChannel, 2> state{};
  for (int c = 0; c < channels; ++c) {
    const uint8_t* h = block + 4 * c;
    if (h[2] > 88) throw EAuException("An IMA ADPCM block has the step index " + std::to_string(h[2]));
    state[c] = {LoadLES16(h), h[2]};
    out[c] = static_cast<int16_t>(state[c].predictor);
  }
  const uint8_t* data = block + 4 * channels;
  for (int i = 1; i < frames; ++i) {
    const int n = i - 1;  // the nibble's number within its channel
    for (int c = 0; c < channels; ++c) {
      // Mono: byte after byte. Stereo: 4 bytes of left, then 4 of right.
      const size_t at = channels == 1 ? n / 2 : (n / 8) * 8 + c * 4 + (n % 8) / 2;
      const int nibble = n % 2 == 0 ? data[at] & 0x0F : data[at] >> 4;
      out[i * channels + c] = state[c].Next(nibble);
    }
  }
  return frames;
}

int DecodeMsAdpcmBlock(const uint8_t* block, size_t bytes, int channels, int samples_per_block,
                       const std::vector<int16_t>& coefficients, int16_t* out) {
  const int frames = std::min(MsAdpcmFramesIn(bytes, channels), samples_per_block);
  if (frames < 2) return 0;  // the header alone holds two frames: less is no block
  std::array<MSADPCMChannel, 2> state{};
  const size_t pairs = coefficients.size() / 2;
  for (int c = 0; c < channels; ++c) {
    const uint8_t predictor = block[c];
    if (predictor >= pairs) throw EAuException("An MS ADPCM block names the coefficient pair " + std::to_string(predictor));
    const uint8_t* h = block + channels;  // deltas, then first samples, then second samples
    state[c].c1 = coefficients[2 * predictor];
    state[c].c2 = coefficients[2 * predictor + 1];
    state[c].SetDelta(LoadLES16(h + 2 * c));
    state[c].s1 = LoadLES16(h + 2 * channels + 2 * c);
    state[c].s2 = LoadLES16(h + 4 * channels + 2 * c);
    out[c] = static_cast<int16_t>(state[c].s2);
    out[channels + c] = static_cast<int16_t>(state[c].s1);
  }
  const uint8_t* data = block + 7 * channels;
  for (int i = 2; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) {
      const int n = (i - 2) * channels + c;  // high nibble first
      const int nibble = n % 2 == 0 ? data[n / 2] >> 4 : data[n / 2] & 0x0F;
      out[i * channels + c] = static_cast<int16_t>(state[c].Apply(nibble >= 8 ? nibble - 16 : nibble));
    }
  }
  return frames;
}

}  // namespace pmx
