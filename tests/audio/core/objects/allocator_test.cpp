#include "audio/core/objects/allocator.h"

#include <cstring>

#include <gtest/gtest.h>

namespace pmx {
namespace {

TEST(Allocator, ReusesAFreedBlockOfTheSameSizeOnly) {
  TMMAllocator pool;
  void* a = pool.AllocBuffer(GHND, 1000);
  ASSERT_NE(a, nullptr);
  std::memset(a, 0xAB, 1000);
  void* keep = a;
  pool.FreeBuffer(a);
  EXPECT_EQ(a, nullptr);
  void* other = pool.AllocBuffer(GHND, 999);  // a different size takes a new block
  EXPECT_NE(other, keep);
  void* again = pool.AllocBuffer(GHND, 1000);
  EXPECT_EQ(again, keep);
  // Reused with the zero-fill flag, it holds no trace of its last user.
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(static_cast<unsigned char*>(again)[i], 0) << i;
  void* second = pool.AllocBuffer(GHND, 1000);  // the first is handed out
  EXPECT_NE(second, keep);
  EXPECT_EQ(pool.Count(), 3);
  pool.FreeAll();
  EXPECT_EQ(pool.Count(), 0);
}

TEST(Allocator, LeavesForeignPointersAlone) {
  TMMAllocator pool, other;
  int local = 0;
  int* p = &local;
  pool.FreeBuffer(p);
  EXPECT_EQ(p, &local);
  void* theirs = other.AllocBuffer(0, 64);
  pool.FreeBuffer(theirs);
  EXPECT_NE(theirs, nullptr);
  void* none = nullptr;
  pool.FreeBuffer(none);  // nothing to do
  other.FreeBuffer(theirs);
  EXPECT_EQ(theirs, nullptr);
}

}  // namespace
}  // namespace pmx
