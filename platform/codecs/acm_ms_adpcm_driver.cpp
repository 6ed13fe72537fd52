#include <iterator>

#include "platform/codecs/acm_driver.h"
#include "platform/codecs/ms_adpcm.h"

namespace pmx {
namespace {

class MsAdpcmCodec : public AcmBlockCodec {
 public:
  MsAdpcmCodec(const WaveFormatEx& coded, bool encode)
      : AcmBlockCodec(coded.nChannels(), MSADPCMSamplesPerBlock(coded), coded.nBlockAlign(),
                      encode) {}

 protected:
  void EncodeBlock(const int16_t* frames, uint8_t* out) override {
    MSADPCMEncodeBlock(frames, Channels(), SamplesPerBlock(), out, BlockBytes());
  }
  uint32_t DecodeBlock(std::span<const uint8_t> block, int16_t* frames) override {
    return MSADPCMDecodeBlock(block, Channels(), SamplesPerBlock(), frames);
  }
};

class MsAdpcmDriver : public AcmCodecDriver {
 public:
  MsAdpcmDriver()
      : AcmCodecDriver(WAVE_FORMAT_ADPCM, {1, 2},
                       {std::begin(kAcmStandardRates), std::end(kAcmStandardRates)}) {}

  std::string ShortName() const override { return "MS ADPCM"; }
  std::string LongName() const override { return "Microsoft ADPCM codec"; }

 protected:
  WaveFormatEx CodedFormat(uint32_t rate, uint16_t channels) const override {
    return MSADPCMFormat(rate, channels);
  }
  // Any block size other programs chose, and any byte rate they announce; the
  // codec knows only the standard coefficients.
  bool Reads(const WaveFormatEx& format) const override {
    return IsStandardMSADPCM(format) && MSADPCMSamplesPerBlock(format) != 0;
  }
  std::unique_ptr<AcmCodec> MakeCodec(const WaveFormatEx& src,
                                      const WaveFormatEx& dst) const override {
    const bool encode = Encodes(dst);
    return std::make_unique<MsAdpcmCodec>(encode ? dst : src, encode);
  }
};

}  // namespace

std::unique_ptr<AcmDriver> MakeAcmMsAdpcmDriver() { return std::make_unique<MsAdpcmDriver>(); }

}  // namespace pmx
