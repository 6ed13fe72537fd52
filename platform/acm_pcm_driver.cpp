#include "platform/acm_driver.h"

namespace pmx {
namespace {

bool PcmLayout(const WaveFormatEx& f) {
  const uint16_t bits = f.wBitsPerSample();
  const uint16_t ch = f.nChannels();
  return f.wFormatTag() == WAVE_FORMAT_PCM && (bits == 8 || bits == 16) && (ch == 1 || ch == 2) &&
         f.nSamplesPerSec() != 0 && f.nBlockAlign() == ch * bits / 8 &&
         f.nAvgBytesPerSec() == f.nSamplesPerSec() * f.nBlockAlign();
}

// Converts frames in steps of kUnitFrames; each step restarts the rate
// accumulator, which a step of that size makes inaudible.
class PcmCodec : public AcmCodec {
 public:
  static constexpr uint32_t kUnitFrames = 4096;

  PcmCodec(const WaveFormatEx& src, const WaveFormatEx& dst, uint32_t max_out)
      : AcmCodec(src.nBlockAlign(), kUnitFrames * src.nBlockAlign(), max_out),
        src_(src),
        dst_(dst) {}

  uint32_t Step(std::span<const uint8_t> src, uint8_t* out) override {
    const uint32_t whole = static_cast<uint32_t>(src.size()) / Grain() * Grain();
    const int64_t n = AcmServices().PcmConvert(src.first(whole), src_, {out, MaxOut()}, dst_);
    return n > 0 ? static_cast<uint32_t>(n) : 0;
  }

 private:
  WaveFormatEx src_;
  WaveFormatEx dst_;
};

class PcmDriver : public AcmDriver {
 public:
  std::string ShortName() const override { return "PCM"; }
  std::string LongName() const override { return "PCM format converter"; }
  uint32_t Support() const override { return ACMDRIVERDETAILS_SUPPORTF_CONVERTER; }
  std::vector<uint16_t> Tags() const override { return {WAVE_FORMAT_PCM}; }

  std::vector<WaveFormatEx> StandardFormats(uint16_t tag) const override {
    std::vector<WaveFormatEx> formats;
    if (tag != WAVE_FORMAT_PCM) return formats;
    for (uint32_t rate : kAcmStandardRates) {
      for (uint16_t bits : {8, 16}) {
        for (uint16_t ch : {1, 2}) formats.push_back(WaveFormatEx::Pcm(rate, bits, ch));
      }
    }
    return formats;
  }

  bool Valid(const WaveFormatEx& f) const override { return PcmLayout(f); }

  std::optional<WaveFormatEx> Natural(const WaveFormatEx& src, uint16_t tag,
                                      const AcmFixedFields& fixed) const override {
    if (tag != WAVE_FORMAT_PCM || !PcmLayout(src) || !AcmServices().PcmConvert) return {};
    const WaveFormatEx& d = fixed.dst;
    const uint32_t rate =
        fixed.Fixes(ACM_FORMATSUGGESTF_NSAMPLESPERSEC) ? d.nSamplesPerSec() : src.nSamplesPerSec();
    const uint16_t bits =
        fixed.Fixes(ACM_FORMATSUGGESTF_WBITSPERSAMPLE) ? d.wBitsPerSample() : src.wBitsPerSample();
    const uint16_t ch =
        fixed.Fixes(ACM_FORMATSUGGESTF_NCHANNELS) ? d.nChannels() : src.nChannels();
    WaveFormatEx result = WaveFormatEx::Pcm(rate, bits, ch);
    if (!PcmLayout(result)) return {};
    return result;
  }

  std::unique_ptr<AcmCodec> Open(const WaveFormatEx& src,
                                 const WaveFormatEx& dst) const override {
    if (!PcmLayout(src) || !PcmLayout(dst) || !AcmServices().PcmConvert) return nullptr;
    return MakeCodec(src, dst);
  }

 protected:
  std::unique_ptr<AcmCodec> MakeCodec(const WaveFormatEx& src,
                                      const WaveFormatEx& dst) const override {
    const int64_t max_out =
        AcmServices().PcmConvertSize(src, dst, PcmCodec::kUnitFrames * src.nBlockAlign());
    if (max_out <= 0) return nullptr;
    return std::make_unique<PcmCodec>(src, dst, static_cast<uint32_t>(max_out));
  }
};

}  // namespace

std::unique_ptr<AcmDriver> MakeAcmPcmDriver() { return std::make_unique<PcmDriver>(); }

}  // namespace pmx
