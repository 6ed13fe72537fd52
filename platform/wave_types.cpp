#include "platform/wave_types.h"

#include <algorithm>

namespace pmx {

WaveFormatEx WaveFormatEx::FromBytes(std::span<const uint8_t> bytes) {
  WaveFormatEx record;
  record.bytes_.assign(bytes.begin(), bytes.end());
  if (record.bytes_.size() < kHeaderSize) record.bytes_.resize(kHeaderSize, 0);
  return record;
}

WaveFormatEx WaveFormatEx::Pcm(uint32_t samples_per_sec, uint16_t bits, uint16_t channels) {
  WaveFormatEx record;
  record.set_wFormatTag(WAVE_FORMAT_PCM);
  record.set_nChannels(channels);
  record.set_nSamplesPerSec(samples_per_sec);
  record.set_wBitsPerSample(bits);
  const auto block = static_cast<uint16_t>(channels * bits / 8);
  record.set_nBlockAlign(block);
  record.set_nAvgBytesPerSec(samples_per_sec * block);
  return record;
}

void WaveFormatEx::SetExtra(std::span<const uint8_t> extra) {
  const std::size_t count = std::min<std::size_t>(extra.size(), 0xFFFF);
  bytes_.resize(kHeaderSize);
  bytes_.insert(bytes_.end(), extra.begin(), extra.begin() + static_cast<std::ptrdiff_t>(count));
  set_cbSize(static_cast<uint16_t>(count));
}

}  // namespace pmx
