#include "audio/core/objects/primitives.h"

#include <array>
#include <cstdint>

#include <gtest/gtest.h>

#include "audio/core/objects/maths.h"

namespace pmx {
namespace {

TEST(Primitives, ClampTestsTheLowBoundFirst) {
  EXPECT_EQ(Clamp(5, 10, 1), 10);
  EXPECT_EQ(ClampBetween(5, 10, 1), 5);
  EXPECT_EQ(ClampBetween(12, 10, 1), 10);
  EXPECT_EQ(ClampBetween(-3, 10, 1), 1);
  EXPECT_FALSE(InRange(5, 10, 1));
  EXPECT_TRUE(InRangeBetween(5, 10, 1));
  EXPECT_TRUE(InRangeBetween(10, 10, 1));
  EXPECT_FALSE(InRangeBetween(11, 10, 1));
  EXPECT_EQ(ClampExtended(5.0L, 10.0L, 1.0L), 10.0L);
}

TEST(Primitives, FillLongWritesWholeWordsThenTheLowByte) {
  std::array<uint8_t, 8> buffer{};
  buffer.fill(0xEE);
  FillLong(buffer.data(), 7, 0x11223344u);
  const std::array<uint8_t, 8> expected = {0x44, 0x33, 0x22, 0x11, 0x44, 0x44, 0x44, 0xEE};
  EXPECT_EQ(buffer, expected);
  FillLong(nullptr, 7, 1);  // nothing to fill, nothing happens
  FillBytes(buffer.data(), 0, 0);
  EXPECT_EQ(buffer, expected);
  FillBytes(buffer.data() + 1, 2, 0x80);
  EXPECT_EQ(buffer[0], 0x44);
  EXPECT_EQ(buffer[1], 0x80);
  EXPECT_EQ(buffer[2], 0x80);
  EXPECT_EQ(buffer[3], 0x11);
}

TEST(Primitives, MoveBytesCopiesOverlappingRangesIntact) {
  std::array<uint8_t, 6> up = {1, 2, 3, 4, 5, 6};
  MoveBytes(up.data(), up.data() + 2, 4);
  EXPECT_EQ(up, (std::array<uint8_t, 6>{1, 2, 1, 2, 3, 4}));
  std::array<uint8_t, 6> down = {1, 2, 3, 4, 5, 6};
  MoveBytes(down.data() + 2, down.data(), 4);
  EXPECT_EQ(down, (std::array<uint8_t, 6>{3, 4, 5, 6, 5, 6}));
  EXPECT_TRUE(CompareBytes(up.data(), up.data() + 2, 2));
  EXPECT_FALSE(CompareBytes(up.data(), down.data(), 1));
}

TEST(Maths, FloorAndPowers) {
  EXPECT_EQ(FloorToInt(-2.5L), -3);
  EXPECT_EQ(FloorToInt(2.5L), 2);
  EXPECT_EQ(FloorToInt(-3.0L), -3);
  EXPECT_EQ(MaxExtended(1.0L, 2.0L), 2.0L);
  EXPECT_NEAR(static_cast<double>(PowerExt(10.0L, 2.0L)), 100.0, 1e-12);
  EXPECT_NEAR(static_cast<double>(Log10Ext(1000.0L)), 3.0, 1e-15);
  EXPECT_NEAR(static_cast<double>(Log2Ext(8.0L)), 3.0, 1e-15);
}

}  // namespace
}  // namespace pmx
