#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "audio/core/objects/component.h"

namespace pmx {

// Allocation flags of AllocBuffer.
inline constexpr uint32_t GMEM_MOVEABLE = 0x0002;
inline constexpr uint32_t GMEM_ZEROINIT = 0x0040;
inline constexpr uint32_t GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// A small pool of heap blocks reused by exact size, so that devices and rings take
// the same blocks on every open instead of going to the heap.
//
// Threads: any thread; the pool is guarded by mutex_.
class TMMAllocator : public TObject {
 public:
  TMMAllocator() = default;
  ~TMMAllocator() override { FreeAll(); }
  TMMAllocator(const TMMAllocator&) = delete;
  TMMAllocator& operator=(const TMMAllocator&) = delete;

  // A free block of exactly size bytes from the pool, else a new one; zero-filled
  // when flags hold GMEM_ZEROINIT. nullptr when the heap refuses.
  void* AllocBuffer(uint32_t flags, size_t size);
  // Gives the block back to the pool and clears the pointer; a pointer that is
  // not from this pool is left as it is.
  void FreeBuffer(void*& block);
  template <class T>
  void FreeBuffer(T*& block) {
    void* raw = block;
    FreeBuffer(raw);
    block = static_cast<T*>(raw);
  }
  // Frees every block of the pool, handed out or not.
  void FreeAll();
  // Blocks in the pool, free or handed out.
  int Count() const;

 private:
  struct Entry {
    void* block;
    size_t size;
    int users;
  };

  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace pmx
