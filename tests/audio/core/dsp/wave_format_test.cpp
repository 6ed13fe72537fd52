#include "audio/core/dsp/wave_format.h"

#include <array>

#include <gtest/gtest.h>

namespace pmx {
namespace {

WaveFormatEx Compressed(uint16_t tag, uint16_t extra_bytes) {
  WaveFormatEx f = WaveFormatEx::Pcm(22050, 4, 1);
  f.set_wFormatTag(tag);
  f.set_nBlockAlign(256);
  f.set_nAvgBytesPerSec(11155);
  std::vector<uint8_t> extra(extra_bytes);
  for (std::size_t i = 0; i < extra.size(); ++i) extra[i] = static_cast<uint8_t>(i + 1);
  f.SetExtra(extra);
  return f;
}

TEST(WaveFormat, SizeAndCopyFollowTheTag) {
  EXPECT_EQ(wfGetSize(nullptr), 0u);
  EXPECT_EQ(wfCopyFormat(nullptr), nullptr);

  // A PCM record is 18 bytes whatever cbSize claims; its copy says 0.
  WaveFormatEx pcm = WaveFormatEx::Pcm(44100, 16, 2);
  pcm.set_cbSize(22);
  EXPECT_EQ(wfGetSize(&pcm), 18u);
  const auto pcm_copy = wfCopyFormat(&pcm);
  ASSERT_NE(pcm_copy, nullptr);
  EXPECT_EQ(pcm_copy->size(), 18u);
  EXPECT_EQ(pcm_copy->cbSize(), 0u);
  EXPECT_EQ(pcm_copy->nAvgBytesPerSec(), 176400u);

  const WaveFormatEx adpcm = Compressed(WAVE_FORMAT_IMA_ADPCM, 32);
  EXPECT_EQ(wfGetSize(&adpcm), 50u);
  const auto adpcm_copy = wfCopyFormat(&adpcm);
  ASSERT_NE(adpcm_copy, nullptr);
  EXPECT_EQ(*adpcm_copy, adpcm);
  EXPECT_NE(adpcm_copy.get(), &adpcm);
}

TEST(WaveFormat, CopyHoldsOnlyTheAnnouncedExtraBytes) {
  const WaveFormatEx announced = Compressed(WAVE_FORMAT_ADPCM, 4);
  std::vector<uint8_t> bytes(announced.Bytes().begin(), announced.Bytes().end());
  bytes.insert(bytes.end(), {0xEE, 0xEE});  // trailing bytes beyond cbSize
  const WaveFormatEx f = WaveFormatEx::FromBytes(bytes);
  const auto copy = wfCopyFormat(&f);
  EXPECT_EQ(copy->size(), 22u);
  EXPECT_EQ(copy->Extra()[3], 4);
}

TEST(WaveFormat, RecordsThatWouldBeOverReadOrDividedByZeroAreRefused) {
  // cbSize announces more extra bytes than the record holds.
  WaveFormatEx short_extra = Compressed(WAVE_FORMAT_ADPCM, 2);
  short_extra.set_cbSize(40);
  EXPECT_THROW(wfGetSize(&short_extra), EMMWaveFormatError);
  EXPECT_THROW(wfCopyFormat(&short_extra), EMMWaveFormatError);
  EXPECT_THROW(wfGetFormatString(&short_extra), EMMWaveFormatError);

  const WaveFormatEx good = WaveFormatEx::Pcm(44100, 16, 2);
  WaveFormatEx no_align = good;
  no_align.set_nBlockAlign(0);
  WaveFormatEx no_rate = good;
  no_rate.set_nSamplesPerSec(0);
  WaveFormatEx no_channels = good;
  no_channels.set_nChannels(0);
  for (const WaveFormatEx* bad : {&no_align, &no_rate, &no_channels}) {
    EXPECT_FALSE(wfValidFormat(bad));
    EXPECT_THROW(wfSamplesToBytes(bad, 3), EMMWaveFormatError);
    EXPECT_THROW(wfSamplesToMs(bad, 3), EMMWaveFormatError);
    EXPECT_THROW(wfMsToBytes(bad, 3), EMMWaveFormatError);
    EXPECT_THROW(wfSamplesToBytes64(bad, 3), EMMWaveFormatError);
    EXPECT_THROW(wfSamplesToMs64(bad, 3), EMMWaveFormatError);
    EXPECT_THROW(wfGetFormatString(bad), EMMWaveFormatError);
  }
  WaveFormatEx no_byte_rate = good;
  no_byte_rate.set_nAvgBytesPerSec(0);
  EXPECT_THROW(wfBytesToSamples(&no_byte_rate, 3), EMMWaveFormatError);
  EXPECT_THROW(wfBytesToMs(&no_byte_rate, 3), EMMWaveFormatError);
  EXPECT_THROW(wfBytesToMs(nullptr, 3), EMMWaveFormatError);
  EXPECT_STREQ(EMMWaveFormatError().what(), "Invalid wave format");
}

TEST(WaveFormat, ConversionsRoundToNearestAndUpToABlock) {
  const WaveFormatEx cd = WaveFormatEx::Pcm(44100, 16, 2);
  EXPECT_EQ(wfMsToBytes(&cd, 1), 176);
  EXPECT_EQ(wfMsToBytes(&cd, 3), 532);  // 529.2 -> 529 -> next block
  EXPECT_EQ(wfSamplesToMs(&cd, 44099), 1000);
  EXPECT_EQ(wfSamplesToMs64(&cd, 44099), 999);
  EXPECT_EQ(wfMsToSamples(&cd, 1000), 44100);
  EXPECT_EQ(wfBytesToMs(&cd, 176400), 1000);
  EXPECT_EQ(wfSamplesToBytes64(&cd, 44100LL * 3600 * 24), 176400LL * 3600 * 24);

  const WaveFormatEx phone = WaveFormatEx::Pcm(11025, 16, 1);
  EXPECT_EQ(wfBytesToSamples(&phone, 3), 2);  // 1.5 rounds up
  EXPECT_EQ(wfSamplesToBytes(&phone, 3), 6);
  EXPECT_EQ(wfMsToBytes(&phone, 1), 22);
  EXPECT_EQ(wfBytesToSamples(&phone, -3), -2);  // halves away from zero

  // A 256-byte ADPCM block: sample counts turn into whole blocks.
  const WaveFormatEx adpcm = Compressed(WAVE_FORMAT_IMA_ADPCM, 2);
  EXPECT_EQ(wfSamplesToBytes(&adpcm, 1), 256);
  EXPECT_EQ(wfSamplesToBytes64(&adpcm, 22050), 11264);
}

TEST(WaveFormat, TagNamesComeFromTheTable) {
  WaveFormatEx f;
  f.set_wFormatTag(17);
  EXPECT_EQ(wfGetFormatName(&f), "IMA ADPCM");
  f.set_wFormatTag(99);
  EXPECT_EQ(wfGetFormatName(&f), "Unknown");
  f.set_wFormatTag(521);
  EXPECT_EQ(wfGetFormatName(&f), "Dolby AC2");
  f.set_wFormatTag(65535);
  EXPECT_EQ(wfGetFormatName(&f), "*DEVELOPMENT ONLY TAG*");
  EXPECT_EQ(wfGetFormatName(nullptr), "Unknown");
}

// Installs a separator source for one test and restores the default after it.
class FormatText : public ::testing::Test {
 protected:
  void Use(char list, char decimal) {
    SetFormatSeparatorSource([=] { return TFormatSeparators{list, decimal}; });
  }
  void TearDown() override {
    Use(',', '.');
    wfGetFormatString(&stereo_);
    SetFormatSeparatorSource(nullptr);
  }
  const WaveFormatEx stereo_ = WaveFormatEx::Pcm(44100, 16, 2);
};

TEST_F(FormatText, UsesTheSeparatorsInForce) {
  Use(',', '.');
  EXPECT_EQ(wfGetFormatString(&stereo_), "44.100 kHz, 16 Bit, Stereo");
  const WaveFormatEx six = WaveFormatEx::Pcm(48000, 16, 6);
  EXPECT_EQ(wfGetFormatString(&six), "48.000 kHz, 16 Bit, 6 Channels");
  const WaveFormatEx mono = WaveFormatEx::Pcm(8000, 8, 1);
  EXPECT_EQ(wfGetFormatString(&mono), "8.000 kHz, 8 Bit, Mono");
  EXPECT_EQ(wfGetFormatString(nullptr), "Unknown");

  Use(';', ',');
  const WaveFormatEx radio = WaveFormatEx::Pcm(22050, 16, 2);
  EXPECT_EQ(wfGetFormatString(&radio), "22,050 kHz; 16 Bit; Stereo");
  // A source without an opinion keeps what is in force.
  Use(0, 0);
  EXPECT_EQ(wfGetFormatString(&radio), "22,050 kHz; 16 Bit; Stereo");
  EXPECT_EQ(FormatSeparators().List, ';');
}

TEST_F(FormatText, CompressedFormatsShowAverageBitsPerSample) {
  Use(',', '.');
  const WaveFormatEx adpcm = Compressed(WAVE_FORMAT_IMA_ADPCM, 2);
  EXPECT_EQ(wfGetFormatString(&adpcm), "22.050 kHz, 4 Bit, Mono");
}

}  // namespace
}  // namespace pmx
