#include "audio/streaming/adpcm_decode.h"

#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include <gtest/gtest.h>

#include "audio/streaming/au_file_stream.h"
#include "audio/streaming/wav_header.h"
#include "platform/codecs/ms_adpcm.h"
#include "tests/support/file_bytes.h"
#include "tests/support/temp_dir.h"

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

// The platform's decoder, block by block, gives exactly sox's samples for a loud
// signal that drives the step high.
TEST(MsAdpcmDecode, PlatformDecoderMatchesSox) {
  test::TempDir dir;
  const std::string wav = (dir / "ms.wav").string(), raw = (dir / "ms.raw").string();
  ASSERT_EQ(std::system(("sox -n -r 22050 -c 2 -e ms-adpcm " + wav + " synth 1 square 50 whitenoise gain -0.1 2>/dev/null").c_str()), 0);
  ASSERT_EQ(std::system(("sox " + wav + " -t raw -e signed -b 16 " + raw).c_str()), 0);
  TAuFileStream file(wav, 0);
  const TWaveHeader h = ReadWaveHeader(file, true);
  ASSERT_EQ(h.kind, TWaveKind::MsAdpcm);
  std::vector<uint8_t> block(h.block_align);
  std::vector<int16_t> frames(size_t{h.samples_per_block} * 2), ours;
  while (file.Read(block.data(), h.block_align) == h.block_align) {
    const uint32_t n = MSADPCMDecodeBlock(std::span<const uint8_t>(block), 2, h.samples_per_block, frames.data());
    ours.insert(ours.end(), frames.begin(), frames.begin() + 2 * n);
  }
  const std::vector<uint8_t> sox = test::FileBytes(raw);
  ASSERT_EQ(sox.size(), ours.size() * 2);
  EXPECT_TRUE(std::memcmp(sox.data(), ours.data(), sox.size()) == 0);
}

}  // namespace
}  // namespace pmx
