#include <gsm.h>

#include <cstring>
#include <iterator>

#include "platform/codecs/acm_driver.h"
#include "platform/shared_library.h"

namespace pmx {
namespace {

// libgsm's entry points, bound at run time.
struct GsmLibrary {
  SharedLibrary library{"libgsm.so.1"};
  decltype(&gsm_create) create = library.Bind<decltype(gsm_create)>("gsm_create");
  decltype(&gsm_destroy) destroy = library.Bind<decltype(gsm_destroy)>("gsm_destroy");
  decltype(&gsm_option) option = library.Bind<decltype(gsm_option)>("gsm_option");
  decltype(&gsm_encode) encode = library.Bind<decltype(gsm_encode)>("gsm_encode");
  decltype(&gsm_decode) decode = library.Bind<decltype(gsm_decode)>("gsm_decode");

  bool Complete() const { return create && destroy && option && encode && decode; }
};

constexpr uint16_t kBlock = 65;
constexpr uint16_t kSamplesPerBlock = 320;
constexpr uint16_t kFrameSamples = 160;

// Two GSM frames per block in the WAV packing: 32 bytes and then 33, with a
// nibble of the first in the 33rd byte; decoding reads 33 and then 32.
class GsmCodec : public AcmBlockCodec {
 public:
  GsmCodec(std::shared_ptr<const GsmLibrary> lib, bool encode)
      : AcmBlockCodec(1, kSamplesPerBlock, kBlock, encode), lib_(std::move(lib)) {
    Reset();
  }
  ~GsmCodec() override {
    if (state_) lib_->destroy(state_);
  }

  void Reset() override {
    if (state_) lib_->destroy(state_);
    state_ = lib_->create();
    int wav49 = 1;
    if (state_) lib_->option(state_, GSM_OPT_WAV49, &wav49);
  }

 protected:
  void EncodeBlock(const int16_t* frames, uint8_t* out) override {
    gsm_signal samples[kFrameSamples];
    gsm_byte packed[33];
    std::memcpy(samples, frames, sizeof samples);
    lib_->encode(state_, samples, packed);
    std::memcpy(out, packed, 32);
    std::memcpy(samples, frames + kFrameSamples, sizeof samples);
    lib_->encode(state_, samples, packed);
    std::memcpy(out + 32, packed, 33);
  }

  uint32_t DecodeBlock(std::span<const uint8_t> block, int16_t* frames) override {
    if (block.size() < kBlock || !state_) return 0;
    gsm_byte packed[kBlock];
    std::memcpy(packed, block.data(), kBlock);
    gsm_signal samples[kFrameSamples];
    if (lib_->decode(state_, packed, samples) != 0) return 0;
    std::memcpy(frames, samples, sizeof samples);
    if (lib_->decode(state_, packed + 33, samples) != 0) return kFrameSamples;
    std::memcpy(frames + kFrameSamples, samples, sizeof samples);
    return kSamplesPerBlock;
  }

 private:
  std::shared_ptr<const GsmLibrary> lib_;
  gsm state_ = nullptr;
};

class GsmDriver : public AcmCodecDriver {
 public:
  explicit GsmDriver(std::shared_ptr<const GsmLibrary> lib)
      : AcmCodecDriver(WAVE_FORMAT_GSM610, {1},
                       {std::begin(kAcmStandardRates), std::end(kAcmStandardRates)}),
        lib_(std::move(lib)) {}

  std::string ShortName() const override { return "GSM 6.10"; }
  std::string LongName() const override { return "GSM 6.10 audio codec"; }

 protected:
  WaveFormatEx CodedFormat(uint32_t rate, uint16_t channels) const override {
    WaveFormatEx f;
    f.set_wFormatTag(WAVE_FORMAT_GSM610);
    f.set_nChannels(channels);
    f.set_nSamplesPerSec(rate);
    f.set_nAvgBytesPerSec(static_cast<uint32_t>(uint64_t{rate} * kBlock / kSamplesPerBlock));
    f.set_nBlockAlign(kBlock);
    const uint8_t extra[2] = {static_cast<uint8_t>(kSamplesPerBlock),
                              static_cast<uint8_t>(kSamplesPerBlock >> 8)};
    f.SetExtra(extra);
    return f;
  }
  std::unique_ptr<AcmCodec> MakeCodec(const WaveFormatEx&,
                                      const WaveFormatEx& dst) const override {
    return std::make_unique<GsmCodec>(lib_, Encodes(dst));
  }

 private:
  std::shared_ptr<const GsmLibrary> lib_;
};

}  // namespace

std::unique_ptr<AcmDriver> MakeAcmGsmDriver() {
  auto lib = std::make_shared<const GsmLibrary>();
  if (!lib->Complete()) return nullptr;
  return std::make_unique<GsmDriver>(std::move(lib));
}

}  // namespace pmx
