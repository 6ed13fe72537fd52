#include <algorithm>
#include <array>
#include <iterator>

#include "platform/acm_driver.h"
#include "platform/byte_order.h"
#include "platform/ima_adpcm.h"

namespace pmx {
namespace {

uint16_t BlockAlign(uint32_t rate, uint16_t channels) {
  return static_cast<uint16_t>(256 * channels * std::max<uint32_t>(1, rate / 11025));
}

uint16_t ImaSamplesPerBlock(uint16_t block, uint16_t channels) {
  return static_cast<uint16_t>((block - 4 * channels) * 8 / (4 * channels) + 1);
}

WaveFormatEx ImaFormat(uint32_t rate, uint16_t channels) {
  WaveFormatEx f;
  f.set_wFormatTag(WAVE_FORMAT_IMA_ADPCM);
  f.set_nChannels(channels);
  f.set_nSamplesPerSec(rate);
  const uint16_t block = BlockAlign(rate, channels);
  const uint16_t spb = ImaSamplesPerBlock(block, channels);
  f.set_nBlockAlign(block);
  f.set_nAvgBytesPerSec(static_cast<uint32_t>(uint64_t{rate} * block / spb));
  f.set_wBitsPerSample(4);
  uint8_t extra[2];
  StoreLE16(extra, spb);
  f.SetExtra(extra);
  return f;
}

class ImaCodec : public AcmBlockCodec {
 public:
  ImaCodec(uint16_t channels, uint16_t block, bool encode)
      : AcmBlockCodec(channels, ImaSamplesPerBlock(block, channels), block, encode) {}

  void Reset() override { state_ = {}; }

 protected:
  void EncodeBlock(const int16_t* frames, uint8_t* out) override {
    const int channels = Channels();
    for (int ch = 0; ch < channels; ++ch) {
      ImaAdpcmChannel& s = state_[ch];
      s.predictor = frames[ch];
      out[4 * ch] = static_cast<uint8_t>(s.predictor);
      out[4 * ch + 1] = static_cast<uint8_t>(s.predictor >> 8);
      out[4 * ch + 2] = static_cast<uint8_t>(s.index);
      out[4 * ch + 3] = 0;
    }
    uint8_t* p = out + 4 * channels;
    for (uint32_t frame = 1; frame < SamplesPerBlock(); frame += 8) {
      for (int ch = 0; ch < channels; ++ch, p += 4) {
        for (int i = 0; i < 8; ++i) {
          const int code = state_[ch].Encode(frames[(frame + i) * channels + ch]);
          p[i / 2] = static_cast<uint8_t>(i % 2 ? p[i / 2] | code << 4 : code);
        }
      }
    }
  }

  uint32_t DecodeBlock(std::span<const uint8_t> src, int16_t* frames) override {
    const int channels = Channels();
    if (src.size() < BlockBytes()) return 0;
    for (int ch = 0; ch < channels; ++ch) {
      ImaAdpcmChannel& s = state_[ch];
      s.predictor = LoadLES16(&src[4 * ch]);
      s.index = std::min<int>(src[4 * ch + 2], kImaMaxStepIndex);
      frames[ch] = static_cast<int16_t>(s.predictor);
    }
    const uint8_t* p = src.data() + 4 * channels;
    for (uint32_t frame = 1; frame < SamplesPerBlock(); frame += 8) {
      for (int ch = 0; ch < channels; ++ch, p += 4) {
        for (int i = 0; i < 8; ++i) {
          state_[ch].Apply(i % 2 ? p[i / 2] >> 4 : p[i / 2] & 0x0F);
          frames[(frame + i) * channels + ch] = static_cast<int16_t>(state_[ch].predictor);
        }
      }
    }
    return SamplesPerBlock();
  }

 private:
  std::array<ImaAdpcmChannel, 2> state_{};
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
