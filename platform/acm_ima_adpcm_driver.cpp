#include <algorithm>
#include <array>
#include <iterator>

#include "platform/acm_driver.h"

namespace pmx {
namespace {

constexpr std::array<int16_t, 89> kSteps = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int kIndexChange[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

struct ImaChannel {
  int predictor = 0;
  int index = 0;

  // Applies one code: the decoder's whole work and the encoder's tracking step.
  void Apply(int code) {
    const int step = kSteps[index];
    int diff = step >> 3;
    if (code & 4) diff += step;
    if (code & 2) diff += step >> 1;
    if (code & 1) diff += step >> 2;
    predictor = std::clamp(code & 8 ? predictor - diff : predictor + diff, -32768, 32767);
    index = std::clamp(index + kIndexChange[code & 7], 0, 88);
  }

  int Encode(int sample) {
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
};

uint16_t BlockAlign(uint32_t rate, uint16_t channels) {
  return static_cast<uint16_t>(256 * channels * std::max<uint32_t>(1, rate / 11025));
}

uint16_t SamplesPerBlock(uint16_t block, uint16_t channels) {
  return static_cast<uint16_t>((block - 4 * channels) * 8 / (4 * channels) + 1);
}

WaveFormatEx ImaFormat(uint32_t rate, uint16_t channels) {
  WaveFormatEx f;
  f.set_wFormatTag(WAVE_FORMAT_IMA_ADPCM);
  f.set_nChannels(channels);
  f.set_nSamplesPerSec(rate);
  const uint16_t block = BlockAlign(rate, channels);
  const uint16_t spb = SamplesPerBlock(block, channels);
  f.set_nBlockAlign(block);
  f.set_nAvgBytesPerSec(static_cast<uint32_t>(uint64_t{rate} * block / spb));
  f.set_wBitsPerSample(4);
  const uint8_t extra[2] = {static_cast<uint8_t>(spb), static_cast<uint8_t>(spb >> 8)};
  f.SetExtra(extra);
  return f;
}

// One block per step: PCM frames of one block in, one coded block out, or back.
class ImaCodec : public AcmCodec {
 public:
  ImaCodec(uint16_t channels, uint16_t block, bool encode)
      : AcmCodec(encode ? Pcm(channels, block) : block, encode ? Pcm(channels, block) : block,
                 encode ? block : Pcm(channels, block)),
        channels_(channels),
        block_(block),
        spb_(SamplesPerBlock(block, channels)),
        encode_(encode) {}

  uint32_t Step(std::span<const uint8_t> src, uint8_t* out) override {
    return encode_ ? EncodeBlock(src, out) : DecodeBlock(src, out);
  }
  void Reset() override { state_ = {}; }

 private:
  static uint32_t Pcm(uint16_t channels, uint16_t block) {
    return uint32_t{SamplesPerBlock(block, channels)} * channels * 2;
  }

  int Sample(std::span<const uint8_t> src, uint32_t frame, int ch) const {
    const std::size_t at = (std::size_t{frame} * channels_ + ch) * 2;
    // A tail shorter than a block is padded with silence.
    return at + 1 < src.size() ? static_cast<int16_t>(src[at] | src[at + 1] << 8) : 0;
  }

  uint32_t EncodeBlock(std::span<const uint8_t> src, uint8_t* out) {
    if (src.empty()) return 0;
    for (int ch = 0; ch < channels_; ++ch) {
      ImaChannel& s = state_[ch];
      s.predictor = Sample(src, 0, ch);
      out[4 * ch] = static_cast<uint8_t>(s.predictor);
      out[4 * ch + 1] = static_cast<uint8_t>(s.predictor >> 8);
      out[4 * ch + 2] = static_cast<uint8_t>(s.index);
      out[4 * ch + 3] = 0;
    }
    uint8_t* p = out + 4 * channels_;
    for (uint32_t frame = 1; frame < spb_; frame += 8) {
      for (int ch = 0; ch < channels_; ++ch, p += 4) {
        for (int i = 0; i < 8; ++i) {
          const int code = state_[ch].Encode(Sample(src, frame + i, ch));
          p[i / 2] = static_cast<uint8_t>(i % 2 ? p[i / 2] | code << 4 : code);
        }
      }
    }
    return block_;
  }

  uint32_t DecodeBlock(std::span<const uint8_t> src, uint8_t* out) {
    if (src.size() < block_) return 0;
    const auto put = [&](uint32_t frame, int ch, int v) {
      const std::size_t at = (std::size_t{frame} * channels_ + ch) * 2;
      out[at] = static_cast<uint8_t>(v);
      out[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    for (int ch = 0; ch < channels_; ++ch) {
      ImaChannel& s = state_[ch];
      s.predictor = static_cast<int16_t>(src[4 * ch] | src[4 * ch + 1] << 8);
      s.index = std::min<int>(src[4 * ch + 2], 88);
      put(0, ch, s.predictor);
    }
    const uint8_t* p = src.data() + 4 * channels_;
    for (uint32_t frame = 1; frame < spb_; frame += 8) {
      for (int ch = 0; ch < channels_; ++ch, p += 4) {
        for (int i = 0; i < 8; ++i) {
          state_[ch].Apply(i % 2 ? p[i / 2] >> 4 : p[i / 2] & 0x0F);
          put(frame + i, ch, state_[ch].predictor);
        }
      }
    }
    return uint32_t{spb_} * channels_ * 2;
  }

  uint16_t channels_;
  uint16_t block_;
  uint16_t spb_;
  bool encode_;
  std::array<ImaChannel, 2> state_{};
};

class ImaAdpcmDriver : public AcmCodecDriver {
 public:
  ImaAdpcmDriver()
      : AcmCodecDriver(WAVE_FORMAT_IMA_ADPCM, {1, 2},
                       {std::begin(kAcmStandardRates), std::end(kAcmStandardRates)}) {}

  std::string ShortName() const override { return "IMA ADPCM"; }
  std::string LongName() const override { return "IMA ADPCM codec"; }
 protected:
  WaveFormatEx CodedFormat(uint32_t rate, uint16_t channels) const override {
    return ImaFormat(rate, channels);
  }
  std::unique_ptr<AcmCodec> MakeCodec(const WaveFormatEx& src,
                                      const WaveFormatEx& dst) const override {
    const bool encode = Encodes(dst);
    const WaveFormatEx& coded = encode ? dst : src;
    return std::make_unique<ImaCodec>(coded.nChannels(), coded.nBlockAlign(), encode);
  }
};

}  // namespace

std::unique_ptr<AcmDriver> MakeAcmImaAdpcmDriver() { return std::make_unique<ImaAdpcmDriver>(); }

}  // namespace pmx
