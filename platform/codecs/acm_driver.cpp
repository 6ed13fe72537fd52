#include "platform/codecs/acm_driver.h"

#include <algorithm>
#include <utility>

#include "platform/byte_order.h"

namespace pmx {

AcmBlockCodec::AcmBlockCodec(uint16_t channels, uint16_t spb, uint16_t block, bool encode)
    : AcmCodec(encode ? uint32_t{spb} * channels * 2 : block,
               encode ? uint32_t{spb} * channels * 2 : block,
               encode ? block : uint32_t{spb} * channels * 2),
      channels_(channels),
      spb_(spb),
      block_(block),
      encode_(encode),
      frames_(std::size_t{spb} * channels) {}

uint32_t AcmBlockCodec::Step(std::span<const uint8_t> src, uint8_t* out) {
  if (encode_) {
    if (src.empty()) return 0;
    std::fill(frames_.begin(), frames_.end(), 0);
    for (std::size_t i = 0; i < std::min(frames_.size(), src.size() / 2); ++i) {
      frames_[i] = LoadLES16(&src[2 * i]);
    }
    EncodeBlock(frames_.data(), out);
    return block_;
  }
  const uint32_t frames = std::min<uint32_t>(DecodeBlock(src, frames_.data()), spb_);
  for (std::size_t i = 0; i < std::size_t{frames} * channels_; ++i) {
    out[2 * i] = static_cast<uint8_t>(frames_[i]);
    out[2 * i + 1] = static_cast<uint8_t>(frames_[i] >> 8);
  }
  return frames * channels_ * 2;
}

std::unique_ptr<AcmCodec> AcmDriver::Open(const WaveFormatEx& src, const WaveFormatEx& dst) const {
  const WaveFormatEx none;
  const auto written = Natural(src, dst.wFormatTag(), AcmFixedFields{none, 0});
  if (!written || !(*written == dst)) return nullptr;
  return MakeCodec(src, dst);
}

AcmCodecDriver::AcmCodecDriver(uint16_t tag, std::vector<uint16_t> channels,
                               std::vector<uint32_t> rates)
    : tag_(tag), channels_(std::move(channels)), rates_(std::move(rates)) {}

std::vector<WaveFormatEx> AcmCodecDriver::StandardFormats(uint16_t tag) const {
  std::vector<WaveFormatEx> formats;
  if (tag != tag_) return formats;
  for (uint32_t rate : rates_) {
    for (uint16_t ch : channels_) formats.push_back(CodedFormat(rate, ch));
  }
  return formats;
}

bool AcmCodecDriver::TakesChannels(uint16_t channels) const {
  return std::find(channels_.begin(), channels_.end(), channels) != channels_.end();
}

bool AcmCodecDriver::Valid(const WaveFormatEx& f) const {
  return f.wFormatTag() == tag_ && TakesChannels(f.nChannels()) && f.nSamplesPerSec() != 0 && Reads(f);
}

std::optional<WaveFormatEx> AcmCodecDriver::Natural(const WaveFormatEx& src, uint16_t tag,
                                                    const AcmFixedFields&) const {
  if (tag == tag_ && src == AcmPcm16(src) && TakesChannels(src.nChannels())) {
    WaveFormatEx coded = CodedFormat(src.nSamplesPerSec(), src.nChannels());
    if (!AcmFormatSound(coded) || !Reads(coded)) return {};
    return coded;
  }
  if (tag == WAVE_FORMAT_PCM && Valid(src)) return AcmPcm16(src);
  return {};
}

bool AcmFormatSound(const WaveFormatEx& format) {
  return format.nChannels() != 0 && format.nSamplesPerSec() != 0 && format.nBlockAlign() != 0 &&
         (format.wFormatTag() == WAVE_FORMAT_PCM || format.ExtraComplete());
}

WaveFormatEx AcmPcm16(const WaveFormatEx& like) {
  return WaveFormatEx::Pcm(like.nSamplesPerSec(), 16, like.nChannels());
}

const std::vector<std::unique_ptr<AcmDriver>>& AcmDrivers() {
  static const std::vector<std::unique_ptr<AcmDriver>> drivers = [] {
    std::vector<std::unique_ptr<AcmDriver>> list;
    auto add = [&list](std::unique_ptr<AcmDriver> d) {
      if (d) list.push_back(std::move(d));
    };
    add(MakeAcmPcmDriver());
    add(MakeAcmG711Driver(WAVE_FORMAT_ALAW));
    add(MakeAcmG711Driver(WAVE_FORMAT_MULAW));
    add(MakeAcmImaAdpcmDriver());
    add(MakeAcmMsAdpcmDriver());
    add(MakeAcmGsmDriver());
    add(MakeAcmMp3DecodeDriver());
    add(MakeAcmMp3EncodeDriver());
    return list;
  }();
  return drivers;
}

}  // namespace pmx
