#include "platform/wave_types.h"

#include <array>

#include <gtest/gtest.h>

namespace pmx {
namespace {

TEST(WaveFormatEx, PcmRecordHasTheCanonicalBytes) {
  const WaveFormatEx f = WaveFormatEx::Pcm(44100, 16, 2);
  const std::array<uint8_t, 18> expected = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1,
                                            2, 0, 4, 0, 16,   0,    0, 0};
  ASSERT_EQ(f.size(), 18u);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), f.data()));
  EXPECT_EQ(f.nAvgBytesPerSec(), 176400u);
}

TEST(WaveFormatEx, ShortInputIsPaddedAndExtraBytesAreKept) {
  const std::array<uint8_t, 14> pcm16 = {1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0};
  const WaveFormatEx f = WaveFormatEx::FromBytes(pcm16);
  EXPECT_EQ(f.size(), 18u);
  EXPECT_EQ(f.nSamplesPerSec(), 8000u);
  EXPECT_EQ(f.wBitsPerSample(), 0u);

  WaveFormatEx g;
  const std::array<uint8_t, 2> extra = {0xF4, 0x01};
  g.SetExtra(extra);
  EXPECT_EQ(g.cbSize(), 2u);
  EXPECT_EQ(g.size(), 20u);
  EXPECT_EQ(g.Extra()[0], 0xF4);
}

}  // namespace
}  // namespace pmx
