#include "platform/alsa/dsound.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/alsa/alsa_dsound.h"
#include "platform/byte_order.h"

namespace pmx {
namespace {

template <class Read, class Put>
void ScaleEach(uint8_t* data, uint32_t bytes, uint32_t width, double gain, Read read, Put put) {
  for (uint32_t at = 0; at + width <= bytes; at += width) {
    put(data + at, static_cast<int64_t>(std::nearbyint(static_cast<double>(read(data + at)) * gain)));
  }
}

int64_t Clamp(int64_t v, int64_t low, int64_t high) { return std::clamp(v, low, high); }

}  // namespace

void ScaleSamples(const WaveFormatEx& format, uint8_t* data, uint32_t bytes, double gain) {
  switch (format.wBitsPerSample()) {
    case 8:
      ScaleEach(data, bytes, 1, gain, [](const uint8_t* p) { return int64_t{*p} - 128; },
                [](uint8_t* p, int64_t v) { *p = static_cast<uint8_t>(Clamp(v, -128, 127) + 128); });
      break;
    case 16:
      ScaleEach(data, bytes, 2, gain, [](const uint8_t* p) { return int64_t{LoadLES16(p)}; },
                [](uint8_t* p, int64_t v) {
                  StoreLE16(p, static_cast<uint16_t>(Clamp(v, INT16_MIN, INT16_MAX)));
                });
      break;
    case 24:
      ScaleEach(data, bytes, 3, gain,
                [](const uint8_t* p) { return int64_t{LoadLES24(p)}; },
                [](uint8_t* p, int64_t v) {
                  const auto s = static_cast<uint32_t>(Clamp(v, -0x800000, 0x7FFFFF));
                  p[0] = static_cast<uint8_t>(s);
                  p[1] = static_cast<uint8_t>(s >> 8);
                  p[2] = static_cast<uint8_t>(s >> 16);
                });
      break;
    case 32:
      ScaleEach(data, bytes, 4, gain,
                [](const uint8_t* p) { return int64_t{LoadLES32(p)}; },
                [](uint8_t* p, int64_t v) { StoreLE32(p, static_cast<uint32_t>(Clamp(v, INT32_MIN, INT32_MAX))); });
      break;
    default: break;
  }
}

int SoundBuffer::InitOutput(const WaveFormatEx& format, uint32_t bytes) {
  format_ = format;
  return Open(format, bytes);
}

int SoundBuffer::Write(const uint8_t* data, uint32_t bytes) {
  trailing_silence_ = 0;
  const int volume = std::clamp(volume_.load(), -10000, 0);
  if (volume == 0) return WriteBytes(data, bytes);
  scaled_.assign(data, data + bytes);
  ScaleSamples(format_, scaled_.data(), bytes, std::pow(10.0, volume / 2000.0));
  return WriteBytes(scaled_.data(), bytes);
}

int SoundBuffer::FillSilence(uint8_t byte) {
  uint32_t free = 0;
  const int result = GetFreeSpace(free);
  if (result != 0 || free == 0) return result;
  const std::vector<uint8_t> silence(free, byte);
  trailing_silence_ += free;
  return WriteBytes(silence.data(), free);
}

int SoundBuffer::Drop() {
  trailing_silence_ = 0;
  return DropUnplayed();
}

int SoundBuffer::UnplayedData(uint32_t& bytes) {
  uint32_t unplayed = 0;
  const int result = Unplayed(unplayed);
  bytes = unplayed > trailing_silence_ ? static_cast<uint32_t>(unplayed - trailing_silence_) : 0;
  return result;
}

SoundSystem& DefaultSoundSystem() {
  static AlsaSoundSystem system;
  return system;
}

}  // namespace pmx
