#include "audio/core/objects/allocator.h"

#include <cstdlib>
#include <cstring>

namespace pmx {

void* TMMAllocator::AllocBuffer(uint32_t flags, size_t size) {
  const bool zero = (flags & GMEM_ZEROINIT) != 0;
  std::lock_guard lock(mutex_);
  for (Entry& e : entries_) {
    if (e.users == 0 && e.size == size) {
      e.users = 1;
      // A reused block holds its last user's bytes; the flag promises zeros.
      if (zero) std::memset(e.block, 0, size);
      return e.block;
    }
  }
  const size_t bytes = size == 0 ? 1 : size;
  void* block = zero ? std::calloc(1, bytes) : std::malloc(bytes);
  if (block) entries_.push_back({block, size, 1});
  return block;
}

void TMMAllocator::FreeBuffer(void*& block) {
  if (!block) return;
  std::lock_guard lock(mutex_);
  for (Entry& e : entries_) {
    if (e.block == block) {
      if (e.users > 0) --e.users;
      block = nullptr;
      return;
    }
  }
}

void TMMAllocator::FreeAll() {
  std::lock_guard lock(mutex_);
  while (!entries_.empty()) {
    std::free(entries_.back().block);
    entries_.pop_back();
  }
}

int TMMAllocator::Count() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(entries_.size());
}

}  // namespace pmx
