#include <iterator>

#include "platform/acm_driver.h"
#include "platform/byte_order.h"

namespace pmx {
namespace {

uint8_t MuLawEncode(int16_t sample) {
  constexpr int kBias = 0x84;
  int v = sample;
  const int sign = v < 0 ? 0x80 : 0;
  if (sign) v = -v;
  if (v > 32635) v = 32635;
  v += kBias;
  int exponent = 7;
  for (int mask = 0x4000; !(v & mask) && exponent > 0; mask >>= 1) --exponent;
  const int mantissa = (v >> (exponent + 3)) & 0x0F;
  return static_cast<uint8_t>(~(sign | exponent << 4 | mantissa));
}

int16_t MuLawDecode(uint8_t code) {
  const int u = static_cast<uint8_t>(~code);
  const int exponent = (u >> 4) & 7;
  const int magnitude = ((((u & 0x0F) << 3) + 0x84) << exponent) - 0x84;
  return static_cast<int16_t>(u & 0x80 ? -magnitude : magnitude);
}

uint8_t ALawEncode(int16_t sample) {
  int v = sample >> 3;
  int mask = 0xD5;
  if (v < 0) {
    mask = 0x55;
    v = -v - 1;
  }
  int segment = 0;
  while (segment < 8 && v > (0x20 << segment) - 1) ++segment;
  if (segment >= 8) return static_cast<uint8_t>(0x7F ^ mask);
  const int mantissa = segment < 2 ? (v >> 1) & 0x0F : (v >> segment) & 0x0F;
  return static_cast<uint8_t>((segment << 4 | mantissa) ^ mask);
}

int16_t ALawDecode(uint8_t code) {
  const int a = code ^ 0x55;
  int t = (a & 0x0F) << 4;
  const int segment = (a & 0x70) >> 4;
  t += segment == 0 ? 8 : 0x108;
  if (segment > 1) t <<= segment - 1;
  return static_cast<int16_t>(a & 0x80 ? t : -t);
}

constexpr uint32_t kUnitFrames = 4096;

class G711Codec : public AcmCodec {
 public:
  G711Codec(bool alaw, bool encode, uint16_t channels)
      : AcmCodec(channels * (encode ? 2u : 1u), kUnitFrames * channels * (encode ? 2u : 1u),
                 kUnitFrames * channels * (encode ? 1u : 2u)),
        alaw_(alaw),
        encode_(encode) {}

  uint32_t Step(std::span<const uint8_t> src, uint8_t* out) override {
    if (encode_) {
      const std::size_t n = src.size() / 2;
      for (std::size_t i = 0; i < n; ++i) {
        const auto s = LoadLES16(&src[2 * i]);
        out[i] = alaw_ ? ALawEncode(s) : MuLawEncode(s);
      }
      return static_cast<uint32_t>(n);
    }
    for (std::size_t i = 0; i < src.size(); ++i) {
      const int16_t s = alaw_ ? ALawDecode(src[i]) : MuLawDecode(src[i]);
      StoreLE16(&out[2 * i], static_cast<uint16_t>(s));
    }
    return static_cast<uint32_t>(src.size() * 2);
  }

 private:
  bool alaw_;
  bool encode_;
};

class G711Driver : public AcmCodecDriver {
 public:
  explicit G711Driver(uint16_t tag)
      : AcmCodecDriver(tag, {1, 2}, {std::begin(kAcmStandardRates), std::end(kAcmStandardRates)}) {}

  std::string ShortName() const override { return Alaw() ? "A-Law" : "mu-Law"; }
  std::string LongName() const override {
    return Alaw() ? "CCITT A-Law codec" : "CCITT mu-Law codec";
  }

 protected:
  WaveFormatEx CodedFormat(uint32_t rate, uint16_t channels) const override {
    WaveFormatEx f = WaveFormatEx::Pcm(rate, 8, channels);
    f.set_wFormatTag(Tag());
    return f;
  }
  std::unique_ptr<AcmCodec> MakeCodec(const WaveFormatEx& src,
                                      const WaveFormatEx& dst) const override {
    return std::make_unique<G711Codec>(Alaw(), Encodes(dst), src.nChannels());
  }

 private:
  bool Alaw() const { return Tag() == WAVE_FORMAT_ALAW; }
};

}  // namespace

std::unique_ptr<AcmDriver> MakeAcmG711Driver(uint16_t tag) {
  return std::make_unique<G711Driver>(tag);
}

}  // namespace pmx
