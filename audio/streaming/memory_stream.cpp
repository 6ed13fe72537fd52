#include "audio/streaming/memory_stream.h"

#include <algorithm>
#include <cstring>

namespace pmx {

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  const int64_t size = static_cast<int64_t>(bytes_.size());
  const int64_t n = std::clamp<int64_t>(size - position_, 0, std::max<int64_t>(count, 0));
  if (n > 0) std::memcpy(buffer, bytes_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const auto end = static_cast<size_t>(position_ + count);
  if (end > bytes_.size()) bytes_.resize(end);
  std::memcpy(bytes_.data() + position_, buffer, static_cast<size_t>(count));
  position_ += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, Origin origin) {
  const int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? position_ : static_cast<int64_t>(bytes_.size());
  if (base + offset < 0) return -1;
  position_ = base + offset;
  return position_;
}

}  // namespace pmx
