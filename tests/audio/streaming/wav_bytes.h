#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/file_bytes.h"

namespace pmx::test {

// Builds RIFF/WAVE files byte by byte, so that tests can break them at will.
struct WavBytes {
  std::vector<uint8_t> bytes;

  WavBytes& Raw(const std::string& text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    return *this;
  }
  WavBytes& U16(uint16_t v) {
    bytes.insert(bytes.end(), {uint8_t(v), uint8_t(v >> 8)});
    return *this;
  }
  WavBytes& U32(uint32_t v) { return U16(uint16_t(v)).U16(uint16_t(v >> 16)); }
  WavBytes& Chunk(const std::string& id, const std::vector<uint8_t>& body) {
    Raw(id).U32(static_cast<uint32_t>(body.size()));
    bytes.insert(bytes.end(), body.begin(), body.end());
    return *this;
  }
  // A plain format chunk body.
  static std::vector<uint8_t> Format(uint16_t tag, int channels, int rate, int bits) {
    WavBytes f;
    const int align = channels * bits / 8;
    f.U16(tag).U16(uint16_t(channels)).U32(uint32_t(rate)).U32(uint32_t(rate * align)).U16(uint16_t(align)).U16(uint16_t(bits));
    return f.bytes;
  }
  // "RIFF" <size> "WAVE" fmt data, 16-bit PCM.
  static WavBytes Pcm16(int channels, int rate, const std::vector<int16_t>& samples) {
    WavBytes w;
    std::vector<uint8_t> data;
    for (int16_t s : samples) data.insert(data.end(), {uint8_t(s), uint8_t(s >> 8)});
    w.Raw("RIFF").U32(uint32_t(4 + 8 + 16 + 8 + data.size())).Raw("WAVE");
    w.Chunk("fmt ", Format(1, channels, rate, 16)).Chunk("data", data);
    return w;
  }
  void Save(const std::filesystem::path& path) const { PutFile(path, bytes); }
};

}  // namespace pmx::test
