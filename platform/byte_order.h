#pragma once

#include <cstdint>
#include <vector>

namespace pmx {

// Little-endian fields as every RIFF/WAVE file and wave format record stores
// them. Callers check the bounds; these only assemble and spread the bytes.

constexpr uint16_t LoadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
constexpr int16_t LoadLES16(const uint8_t* p) { return static_cast<int16_t>(LoadLE16(p)); }
constexpr uint32_t LoadLE32(const uint8_t* p) {
  return uint32_t{LoadLE16(p)} | uint32_t{LoadLE16(p + 2)} << 16;
}
constexpr int32_t LoadLES32(const uint8_t* p) { return static_cast<int32_t>(LoadLE32(p)); }
constexpr uint64_t LoadLE64(const uint8_t* p) { return uint64_t{LoadLE32(p)} | uint64_t{LoadLE32(p + 4)} << 32; }
// A 24-bit sample, sign-extended.
constexpr int32_t LoadLES24(const uint8_t* p) {
  return static_cast<int32_t>((uint32_t{LoadLE16(p)} | uint32_t{p[2]} << 16) << 8) >> 8;
}

constexpr void StoreLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
constexpr void StoreLE32(uint8_t* p, uint32_t v) {
  StoreLE16(p, static_cast<uint16_t>(v));
  StoreLE16(p + 2, static_cast<uint16_t>(v >> 16));
}

// A big-endian field of up to four bytes, as MPEG frame and tag headers store them.
constexpr uint32_t LoadBE(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | p[i];
  return v;
}

inline void AppendLE32(std::vector<uint8_t>& out, uint32_t v) {
  uint8_t bytes[4];
  StoreLE32(bytes, v);
  out.insert(out.end(), bytes, bytes + 4);
}

}  // namespace pmx
