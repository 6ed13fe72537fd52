#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace pmx {

// Little-endian 16-bit PCM bytes: the values in turn, repeat times over.
inline std::vector<uint8_t> Samples16(std::initializer_list<int16_t> values, int repeat) {
  std::vector<uint8_t> bytes;
  for (int r = 0; r < repeat; ++r) {
    for (int16_t v : values) {
      bytes.push_back(static_cast<uint8_t>(v));
      bytes.push_back(static_cast<uint8_t>(v >> 8));
    }
  }
  return bytes;
}

}  // namespace pmx
