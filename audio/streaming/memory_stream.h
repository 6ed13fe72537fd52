#pragma once

#include <cstdint>
#include <vector>

#include "audio/streaming/au_file_stream.h"

namespace pmx {

// A stream over bytes it owns, growing as it is written. Single-threaded.
class TMemoryStream : public TStream {
 public:
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, Origin origin) override;

  std::vector<uint8_t>& Bytes() { return bytes_; }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  int64_t position_ = 0;
};

}  // namespace pmx
