#include "audio/streaming/adpcm_decode.h"

#include <span>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ms_adpcm.h"

namespace pmx {
namespace {

// A mono MS ADPCM block: predictor index, delta, sample 1, sample 2, then codes.
std::vector<uint8_t> MonoBlock(uint8_t predictor, int16_t delta, int16_t s1, int16_t s2,
                               const std::vector<uint8_t>& code_bytes) {
  std::vector<uint8_t> b{predictor};
  for (int16_t v : {delta, s1, s2}) b.insert(b.end(), {uint8_t(v), uint8_t(uint16_t(v) >> 8)});
  b.insert(b.end(), code_bytes.begin(), code_bytes.end());
  return b;
}

// Headers no encoder writes, but any file may carry: the arithmetic stays defined
// (the sanitizer builds stop on overflow) and the samples stay on the rails.
TEST(MsAdpcmDecode, HostileHeadersDecodeToClampedSamples) {
  // Six codes of -8 drive the delta up by three each time, past the point where
  // 32-bit products wrap; the +7 that follows must still swing to the top rail.
  const std::vector<uint8_t> codes{0x88, 0x88, 0x88, 0x7F};
  const std::vector<uint8_t> growing = MonoBlock(0, 32767, 0, 0, codes);
  const std::vector<int16_t> expected{0, 0, -32768, -32768, -32768, -32768, -32768, -32768, 32767};
  std::vector<int16_t> platform(9), streaming(9);
  ASSERT_EQ(MSADPCMDecodeBlock(std::span<const uint8_t>(growing), 1, 9, platform.data()), 9u);
  EXPECT_EQ(platform, expected);
  std::vector<int16_t> pairs;
  for (int i = 0; i < kMSADPCMCoefficients; ++i) pairs.insert(pairs.end(), {kMSADPCMCoefficient1[i], kMSADPCMCoefficient2[i]});
  ASSERT_EQ(DecodeMsAdpcmBlock(growing.data(), growing.size(), 1, 9, pairs, streaming.data()), 9);
  EXPECT_EQ(streaming, expected);

  // A file's own coefficient pair of -32768, -32768 on two samples of -32768:
  // the prediction is 2^23, not a wrapped sum; then (32768 x 32768 - 32767 x 32768) / 256.
  const std::vector<uint8_t> predicting = MonoBlock(0, 16, -32768, -32768, {0x00});
  std::vector<int16_t> out(4);
  ASSERT_EQ(DecodeMsAdpcmBlock(predicting.data(), predicting.size(), 1, 4, {-32768, -32768}, out.data()), 4);
  EXPECT_EQ(out, (std::vector<int16_t>{-32768, -32768, 32767, 128}));
}

}  // namespace
}  // namespace pmx
