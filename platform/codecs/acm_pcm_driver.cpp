#include <algorithm>
#include <numeric>

#include "platform/codecs/acm_driver.h"

namespace pmx {
namespace {

bool PcmLayout(const WaveFormatEx& f) {
  const uint16_t bits = f.wBitsPerSample();
  const uint16_t ch = f.nChannels();
  return f.wFormatTag() == WAVE_FORMAT_PCM && (bits == 8 || bits == 16) && (ch == 1 || ch == 2) &&
         f.nSamplesPerSec() != 0 && f.nBlockAlign() == ch * bits / 8 &&
         f.nAvgBytesPerSec() == f.nSamplesPerSec() * f.nBlockAlign();
}

// The rate accumulator of the PCM routines starts afresh on every call; after
// a whole period of max(rates) / gcd(rates) source frames it is back at its
// start, so steps of whole periods join into the output of one long call.
// Rates whose period is longer than kMaxPeriod step frame by frame instead.
uint32_t PeriodFrames(uint32_t rs, uint32_t rd) {
  constexpr uint32_t kMaxPeriod = 16384;
  const uint32_t period = std::max(rs, rd) / std::gcd(rs, rd);
  return period <= kMaxPeriod ? period : 1;
}

uint32_t UnitFrames(uint32_t period) {
  constexpr uint32_t kUnitFrames = 4096;
  return std::max(period, kUnitFrames / period * period);
}

class PcmCodec : public AcmCodec {
 public:
  PcmCodec(std::shared_ptr<const TAcmServices> services, const WaveFormatEx& src,
           const WaveFormatEx& dst, uint32_t period, uint32_t max_out)
      : AcmCodec(period * src.nBlockAlign(), UnitFrames(period) * src.nBlockAlign(), max_out),
        services_(std::move(services)),
        src_(src),
        dst_(dst) {}

  uint32_t Step(std::span<const uint8_t> src, uint8_t* out) override {
    // The tail at the end of a stream may hold less than a period.
    const uint32_t frame = src_.nBlockAlign();
    const uint32_t whole = static_cast<uint32_t>(src.size()) / frame * frame;
    const int64_t n = services_->PcmConvert(src.first(whole), src_, {out, MaxOut()}, dst_);
    return n > 0 ? static_cast<uint32_t>(n) : 0;
  }

 private:
  std::shared_ptr<const TAcmServices> services_;
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
    if (tag != WAVE_FORMAT_PCM || !PcmLayout(src) || !AcmServices()->PcmConvert) return {};
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
    if (!PcmLayout(src) || !PcmLayout(dst)) return nullptr;
    return MakeCodec(src, dst);
  }

 protected:
  std::unique_ptr<AcmCodec> MakeCodec(const WaveFormatEx& src,
                                      const WaveFormatEx& dst) const override {
    auto services = AcmServices();
    if (!services->PcmConvert || !services->PcmConvertSize) return nullptr;
    const uint32_t period = PeriodFrames(src.nSamplesPerSec(), dst.nSamplesPerSec());
    const int64_t max_out =
        services->PcmConvertSize(src, dst, int64_t{UnitFrames(period)} * src.nBlockAlign());
    if (max_out <= 0) return nullptr;
    return std::make_unique<PcmCodec>(std::move(services), src, dst, period,
                                      static_cast<uint32_t>(max_out));
  }
};

}  // namespace

std::unique_ptr<AcmDriver> MakeAcmPcmDriver() { return std::make_unique<PcmDriver>(); }

}  // namespace pmx
