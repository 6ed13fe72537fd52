#pragma once

#include <cstdint>
#include <string>

#include "platform/byte_order.h"

namespace pmx::test {

inline void PutUint32(std::string& out, uint32_t value) {
  uint8_t bytes[4];
  StoreLE32(bytes, value);
  out.append(reinterpret_cast<const char*>(bytes), 4);
}

inline uint32_t Uint32At(const std::string& bytes, std::size_t offset) {
  return LoadLE32(reinterpret_cast<const uint8_t*>(&bytes.at(offset + 3)) - 3);
}

// A chunk with its header and the pad byte an odd body needs.
inline std::string Chunk(const std::string& id, const std::string& body) {
  std::string chunk = id;
  PutUint32(chunk, body.size());
  chunk += body;
  if (body.size() % 2 != 0) chunk += '\0';
  return chunk;
}

// "RIFF" "WAVE" with a "fmt " chunk of fmt_size bytes, the chunks between, then the
// "data" chunk. With sized false the RIFF and data sizes are 0, as in a file whose
// writer did not finish it.
inline std::string WavBytes(int fmt_size, const std::string& between, const std::string& data,
                            bool sized = true) {
  std::string fmt(fmt_size, '\0');
  fmt[0] = 1;
  std::string body = "WAVE" + Chunk("fmt ", fmt) + between + "data";
  PutUint32(body, sized ? data.size() : 0);
  body += data;
  std::string wav = "RIFF";
  PutUint32(wav, sized ? body.size() : 0);
  return wav + body;
}

}  // namespace pmx::test
