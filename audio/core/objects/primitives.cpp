#include "audio/core/objects/primitives.h"

#include <cstring>

namespace pmx {

void FillBytes(void* dest, size_t count, uint8_t value) {
  if (dest && count > 0) std::memset(dest, value, count);
}

void FillLong(void* dest, size_t count, uint32_t pattern) {
  if (!dest) return;
  auto* out = static_cast<uint8_t*>(dest);
  for (size_t i = 0; i < count / 4; ++i, out += 4) std::memcpy(out, &pattern, 4);
  FillBytes(out, count % 4, static_cast<uint8_t>(pattern));
}

void MoveBytes(const void* source, void* dest, size_t count) {
  if (count > 0) std::memmove(dest, source, count);
}

bool CompareBytes(const void* a, const void* b, size_t count) {
  return count == 0 || std::memcmp(a, b, count) == 0;
}

}  // namespace pmx
