#include "audio/displays/bitmap_cache.h"

#include <gtest/gtest.h>

namespace pmx {
namespace {

TEST(BitmapCache, OneBitmapPerSizeHeldUntilTheLastRelease) {
  ASSERT_EQ(TBitmapCache::Instance(), nullptr);
  TBitmap* first = GetCachedBitmap(200, 40);
  TBitmap* second = GetCachedBitmap(200, 40);
  TBitmap* turned = GetCachedBitmap(40, 200);
  ASSERT_NE(TBitmapCache::Instance(), nullptr);
  EXPECT_EQ(first, second);
  EXPECT_NE(first, turned);
  EXPECT_EQ(first->width(), 200);
  EXPECT_EQ(first->height(), 40);
  EXPECT_EQ(TBitmapCache::Instance()->RefCount(first), 2);

  TBitmap* kept = first;
  ReleaseCachedBitmap(first);
  EXPECT_EQ(first, kept);  // still held by the other holder
  EXPECT_EQ(TBitmapCache::Instance()->RefCount(second), 1);
  second->fill(Qt::red);   // and still alive for it

  ReleaseCachedBitmap(second);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(TBitmapCache::Instance()->Count(), 1);
  ReleaseCachedBitmap(turned);
  EXPECT_EQ(turned, nullptr);
  EXPECT_EQ(TBitmapCache::Instance(), nullptr);
}

TEST(BitmapCache, ForeignAndEmptyReleasesChangeNothing) {
  TBitmap* none = nullptr;
  ReleaseCachedBitmap(none);
  TBitmap foreign(200, 40, QImage::Format_RGB32);
  TBitmap* pointer = &foreign;
  ReleaseCachedBitmap(pointer);  // no cache at all
  EXPECT_EQ(pointer, &foreign);

  TBitmap* held = GetCachedBitmap(200, 40);
  ReleaseCachedBitmap(pointer);
  EXPECT_EQ(pointer, &foreign);
  EXPECT_EQ(TBitmapCache::Instance()->RefCount(held), 1);
  ReleaseCachedBitmap(held);
  EXPECT_EQ(TBitmapCache::Instance(), nullptr);
}

}  // namespace
}  // namespace pmx
