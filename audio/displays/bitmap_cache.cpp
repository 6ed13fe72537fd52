#include "audio/displays/bitmap_cache.h"

#include <algorithm>

namespace pmx {
namespace {

std::unique_ptr<TBitmapCache>& Cache() {
  static std::unique_ptr<TBitmapCache> cache;
  return cache;
}

}  // namespace

TBitmapCache* TBitmapCache::Instance() { return Cache().get(); }

int TBitmapCache::RefCount(const TBitmap* bitmap) const {
  for (const Entry& entry : entries_) {
    if (entry.bitmap.get() == bitmap) return entry.refs;
  }
  return 0;
}

TBitmap* GetCachedBitmap(int width, int height) {
  std::unique_ptr<TBitmapCache>& cache = Cache();
  if (!cache) cache = std::make_unique<TBitmapCache>();
  for (TBitmapCache::Entry& entry : cache->entries_) {
    if (entry.bitmap->width() == width && entry.bitmap->height() == height) {
      ++entry.refs;
      return entry.bitmap.get();
    }
  }
  auto bitmap = std::make_unique<TBitmap>(width, height, QImage::Format_RGB32);
  cache->entries_.push_back({std::move(bitmap), 1});
  return cache->entries_.back().bitmap.get();
}

void ReleaseCachedBitmap(TBitmap*& bitmap) {
  std::unique_ptr<TBitmapCache>& cache = Cache();
  if (!bitmap || !cache) return;
  auto& entries = cache->entries_;
  auto found = std::find_if(entries.begin(), entries.end(),
                            [&](const TBitmapCache::Entry& e) { return e.bitmap.get() == bitmap; });
  if (found != entries.end() && --found->refs == 0) {
    entries.erase(found);
    bitmap = nullptr;
  }
  if (entries.empty()) cache.reset();
}

}  // namespace pmx
