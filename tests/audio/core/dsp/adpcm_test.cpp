#include "audio/core/dsp/adpcm.h"

#include <gtest/gtest.h>

#include <vector>

#include "audio/core/dsp/pcm_support.h"
#include "platform/codecs/ms_adpcm.h"

namespace pmx {
namespace {

TEST(ADPCMFormat, PcmGivesStandardMsAdpcmAndBack) {
  WaveFormatEx adpcm;
  ASSERT_TRUE(ADPCMConvertFormat(WaveFormatEx::Pcm(8000, 16, 1), adpcm, 0, 0, 0));
  EXPECT_EQ(adpcm.wFormatTag(), WAVE_FORMAT_ADPCM);
  EXPECT_EQ(adpcm.nBlockAlign(), 256);
  EXPECT_EQ(MSADPCMSamplesPerBlock(adpcm), 500);
  EXPECT_EQ(adpcm.nAvgBytesPerSec(), 4112u);
  EXPECT_EQ(adpcm.cbSize(), 32);
  EXPECT_TRUE(IsStandardMSADPCM(adpcm));

  WaveFormatEx pcm;
  ASSERT_TRUE(ADPCMConvertFormat(adpcm, pcm, 8, 0, 2));
  EXPECT_EQ(pcm.wFormatTag(), WAVE_FORMAT_PCM);
  EXPECT_EQ(pcm.wBitsPerSample(), 8);
  EXPECT_EQ(pcm.nChannels(), 2);
  EXPECT_EQ(pcm.nSamplesPerSec(), 8000u);

  WaveFormatEx untouched = WaveFormatEx::Pcm(44100, 16, 2);
  const WaveFormatEx before = untouched;
  WaveFormatEx gsm;
  gsm.set_wFormatTag(WAVE_FORMAT_GSM610);
  EXPECT_FALSE(ADPCMConvertFormat(gsm, untouched, 16, 0, 0));
  EXPECT_EQ(untouched, before);
}

TEST(ADPCMDecode, StereoPieceOfFourBlocksGivesFourBlocksOfFrames) {
  const WaveFormatEx adpcm = MSADPCMFormat(22050, 2);
  ASSERT_EQ(adpcm.nBlockAlign(), 1024);
  const uint16_t spb = MSADPCMSamplesPerBlock(adpcm);
  ASSERT_EQ(spb, 1012);
  std::vector<int16_t> frames(2u * spb);
  for (std::size_t i = 0; i < frames.size(); ++i) frames[i] = static_cast<int16_t>(i * 37 % 4000);
  std::vector<uint8_t> piece(4096);
  for (int b = 0; b < 4; ++b) MSADPCMEncodeBlock(frames.data(), 2, spb, &piece[b * 1024], 1024);
  const WaveFormatEx pcm = WaveFormatEx::Pcm(22050, 16, 2);
  std::vector<int16_t> out(MSADPCMDecodeSize(adpcm, 4096) / 2);
  EXPECT_EQ(MSADPCMDecode(adpcm, pcm, piece, out.data()), 4u * 1012 * 4);

  piece[1024] = 7;  // the second block names a predictor that does not exist
  EXPECT_EQ(MSADPCMDecode(adpcm, pcm, piece, out.data()), 0u);
}

TEST(ADPCMDecode, StepIndexRefusesOtherLayoutsAndNonFourBitFormats) {
  WaveFormatEx f;
  f.set_wFormatTag(kMediavisionADPCMTag);
  f.set_nChannels(1);
  f.set_wBitsPerSample(32);  // tag 3 with 32 bits is float audio, not ADPCM
  EXPECT_FALSE(IsStepIndexADPCM(f));
  TStepIndexState state{};
  const uint8_t src[4] = {1, 2, 3, 4};
  int16_t out[8];
  EXPECT_EQ(StepIndexDecode(f, state, src, out), 0u);
  f.set_wBitsPerSample(4);
  f.set_nChannels(4);
  EXPECT_EQ(StepIndexDecode(f, state, src, out), 0u);
  f.set_nChannels(1);
  EXPECT_EQ(StepIndexDecode(f, state, src, out), 16u);
}

}  // namespace
}  // namespace pmx
