#include <algorithm>
#include <array>
#include <iterator>

#include "platform/byte_order.h"
#include "platform/codecs/acm_driver.h"
#include "platform/codecs/ima_adpcm.h"

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
  ImaCodec(const WaveFormatEx& coded, bool encode)
      : AcmBlockCodec(coded.nChannels(), IMAADPCMSamplesPerBlock(coded), coded.nBlockAlign(), encode) {}

  void Reset() override { state_ = {}; }

 protected:
  void EncodeBlock(const int16_t* frames, uint8_t* out) override {
    const int channels = Channels();
    std::fill(out, out + BlockBytes(), 0);
    for (int ch = 0; ch < channels; ++ch) {
      ImaAdpcmChannel& s = state_[ch];
      s.predictor = frames[ch];
      out[4 * ch] = static_cast<uint8_t>(s.predictor);
      out[4 * ch + 1] = static_cast<uint8_t>(s.predictor >> 8);
      out[4 * ch + 2] = static_cast<uint8_t>(s.index);
      out[4 * ch + 3] = 0;
    }
    ForEachCode(out, [&](int ch, uint32_t frame, uint8_t& byte, bool high) {
      const int code = state_[ch].Encode(frames[frame * channels + ch]);
      byte = static_cast<uint8_t>(high ? byte | code << 4 : code);
    });
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
    ForEachCode(src.data(), [&](int ch, uint32_t frame, const uint8_t& byte, bool high) {
      state_[ch].Apply(high ? byte >> 4 : byte & 0x0F);
      frames[frame * channels + ch] = static_cast<int16_t>(state_[ch].predictor);
    });
    return SamplesPerBlock();
  }

 private:
  // Visits the codes after the block's headers in their order: groups of 8 frames,
  // 4 bytes per channel, low nibble first. Frames past the block's samples are
  // left out, so a group may end early.
  template <typename Byte, typename Visit>
  void ForEachCode(Byte* block, Visit visit) const {
    const int channels = Channels();
    const uint32_t spb = SamplesPerBlock();
    Byte* p = block + 4 * channels;
    for (uint32_t first = 1; first < spb; first += 8) {
      for (int ch = 0; ch < channels; ++ch, p += 4) {
        for (uint32_t i = 0; i < 8 && first + i < spb; ++i) visit(ch, first + i, p[i / 2], i % 2 == 1);
      }
    }
  }

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
  // Any block size other programs chose, and any byte rate they announce.
  bool Reads(const WaveFormatEx& format) const override { return IMAADPCMSamplesPerBlock(format) != 0; }
  std::unique_ptr<AcmCodec> MakeCodec(const WaveFormatEx& src,
                                      const WaveFormatEx& dst) const override {
    const bool encode = Encodes(dst);
    return std::make_unique<ImaCodec>(encode ? dst : src, encode);
  }
};

}  // namespace

std::unique_ptr<AcmDriver> MakeAcmImaAdpcmDriver() { return std::make_unique<ImaAdpcmDriver>(); }

}  // namespace pmx
