#pragma once

#include <QImage>
#include <memory>
#include <vector>

#include "audio/core/objects/component.h"

namespace pmx {

// A paint bitmap.
using TBitmap = QImage;

// Lets controls that paint through an off-screen bitmap share one bitmap per size.
// A shared bitmap's content is not kept between holders: each paints it whole
// before showing it. The process-wide cache exists from the first request to the
// last release. GUI thread only.
class TBitmapCache : public TObject {
 public:
  TBitmapCache() = default;
  TBitmapCache(const TBitmapCache&) = delete;
  TBitmapCache& operator=(const TBitmapCache&) = delete;

  // The process-wide cache; null while no bitmap is held.
  static TBitmapCache* Instance();

  int Count() const { return static_cast<int>(entries_.size()); }
  // Holders of bitmap; 0 for one the cache does not hold.
  int RefCount(const TBitmap* bitmap) const;

 private:
  struct Entry {
    std::unique_ptr<TBitmap> bitmap;
    int refs = 1;
  };

  friend TBitmap* GetCachedBitmap(int width, int height);
  friend void ReleaseCachedBitmap(TBitmap*& bitmap);

  std::vector<Entry> entries_;
};

// The cached bitmap of exactly this size, shared with every other holder of it.
TBitmap* GetCachedBitmap(int width, int height);
// Gives up one hold on bitmap; the last holder's release frees it and clears the
// variable. Nothing for a null variable or a bitmap the cache does not hold.
void ReleaseCachedBitmap(TBitmap*& bitmap);

}  // namespace pmx
