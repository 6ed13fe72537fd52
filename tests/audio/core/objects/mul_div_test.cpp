#include "audio/core/objects/mul_div.h"

#include <cstdint>

#include <gtest/gtest.h>

namespace pmx {
namespace {

TEST(MulDiv, RoundingRules) {
  EXPECT_EQ(MulDivRound(5, 3, 2), 8);
  EXPECT_EQ(MulDivRound(-5, 3, 2), -8);
  EXPECT_EQ(MulDivRoundU(5, 3, 2), 8u);
  EXPECT_EQ(MulDiv32(5, 3, 2), 7);
  EXPECT_EQ(MulDiv32(-5, 3, 2), -7);
  EXPECT_EQ(ShiftRightArith(-8, 33), -4);
}

TEST(MulDiv, ProductsBeyond32BitsDoNotOverflow) {
  // One hour of 44.1 kHz stereo 16-bit in milliseconds, the devices' common case.
  EXPECT_EQ(MulDiv32(635040000, 1000, 176400), 3600000);
  EXPECT_EQ(MulDivRoundU(4000000000u, 3u, 4u), 3000000000u);
  EXPECT_EQ(MulDiv64(INT64_C(1) << 40, 1000, 3), INT64_C(366503875925333));
}

}  // namespace
}  // namespace pmx
