#include "audio/core/pcm_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace pmx {
namespace {

WaveFormatEx Pcm(uint32_t rate, uint16_t bits, uint16_t channels) {
  WaveFormatEx f;
  FillPCMFormat(f, bits, channels, rate);
  return f;
}

std::vector<uint8_t> Samples16(std::initializer_list<int> samples) {
  std::vector<uint8_t> bytes(samples.size() * 2);
  std::size_t at = 0;
  for (int s : samples) StoreLE16(&bytes[at++ * 2], s);
  return bytes;
}

bool Valid(WaveFormatEx f) { return ValidPCMFormat(&f); }

TEST(PCMFormat, ValidityLimits) {
  EXPECT_TRUE(Valid(WaveFormatEx::Pcm(44100, 16, 2)));
  EXPECT_TRUE(Valid(WaveFormatEx::Pcm(100000, 8, 4)));
  EXPECT_FALSE(Valid(WaveFormatEx::Pcm(44100, 16, 3)));
  EXPECT_FALSE(Valid(WaveFormatEx::Pcm(3000, 16, 2)));
  EXPECT_FALSE(Valid(WaveFormatEx::Pcm(100001, 16, 2)));
  EXPECT_FALSE(Valid(WaveFormatEx::Pcm(44100, 24, 2)));
  EXPECT_FALSE(ValidPCMFormat(nullptr));
  WaveFormatEx adpcm = WaveFormatEx::Pcm(44100, 16, 2);
  adpcm.set_wFormatTag(WAVE_FORMAT_ADPCM);
  EXPECT_FALSE(Valid(adpcm));
}

TEST(PCMFormat, FillBuildsACompleteRecordOverAnOldOne) {
  WaveFormatEx f = WaveFormatEx::Pcm(8000, 8, 1);
  f.set_wFormatTag(WAVE_FORMAT_GSM610);
  f.set_cbSize(2);
  FillPCMFormat(f, 16, 2, 44100);
  EXPECT_EQ(f, WaveFormatEx::Pcm(44100, 16, 2)) << "bits and extra size included";
  EXPECT_EQ(f.nBlockAlign(), 4);
  EXPECT_EQ(f.nAvgBytesPerSec(), 176400u);
  EXPECT_EQ(PCMFormatCode(f), kPCMStereo16);
  EXPECT_EQ(PCMFormatCode(Pcm(0, 16, 2)), -1);
  EXPECT_EQ(PCMFormatCode(Pcm(8000, 8, 4)), -1);
}

TEST(PCMFindTrigger, EightBitThresholds) {
  const auto mono8 = Pcm(8000, 8, 1);
  const std::vector<uint8_t> rise{100, 127, 128, 200, 200};
  EXPECT_EQ(PCMFindTrigger(mono8, rise, 0, tmRising, 0), 2);
  // Falling at 50 % compares with 65: 66 -> 65 crosses, 67 -> 66 does not.
  const std::vector<uint8_t> fall{200, 67, 66, 65, 10};
  EXPECT_EQ(PCMFindTrigger(mono8, fall, 50, tmFalling, 0), 3);
  const std::vector<uint8_t> fall2{200, 100, 50, 10};
  EXPECT_EQ(PCMFindTrigger(mono8, fall2, 50, tmFalling, 0), 2);
  EXPECT_EQ(PCMFindTrigger(mono8, fall2, 50, tmNone, 0), -1);
  EXPECT_EQ(PCMFindTrigger(mono8, {}, 50, tmFalling, 0), -1);
}

TEST(PCMFindTrigger, NeverReturnsTheLastFrame) {
  const auto mono8 = Pcm(8000, 8, 1);
  const std::vector<uint8_t> late{200, 100, 50};
  EXPECT_EQ(PCMFindTrigger(mono8, late, 50, tmFalling, 0), -1);
  const auto mono16 = Pcm(8000, 16, 1);
  // The odd trailing byte does not count as a sample.
  auto data = Samples16({-1000, 1000, 1000});
  data.push_back(0);
  EXPECT_EQ(PCMFindTrigger(mono16, data, 0, tmRising, 0), 2);
  EXPECT_EQ(PCMFindTrigger(mono16, Samples16({1000, -1000, 1000}), 0, tmRising, 0), -1);
}

TEST(PCMFindTrigger, StereoChannelsAndOffsets) {
  const auto stereo16 = Pcm(44100, 16, 2);
  // Both channels rise between frames 0 and 1: the left crossing wins.
  const auto both = Samples16({-500, -500, 500, 500, 500, 500, 500, 500});
  EXPECT_EQ(PCMFindTrigger(stereo16, both, 0, tmRising, 0), 4);
  EXPECT_EQ(PCMFindTrigger(stereo16, both, 0, tmRising, 2), 6);
  const auto left_only = Samples16({-500, -500, 500, -500, 500, -500, 500, -500});
  EXPECT_EQ(PCMFindTrigger(stereo16, left_only, 0, tmRising, 1), 4);
  EXPECT_EQ(PCMFindTrigger(stereo16, left_only, 0, tmRising, 2), -1);
  EXPECT_EQ(PCMFindTrigger(stereo16, left_only, 0, tmRising, 3), -1);
  const std::vector<uint8_t> stereo8{128, 100, 128, 200, 128, 200};
  EXPECT_EQ(PCMFindTrigger(Pcm(8000, 8, 2), stereo8, 10, tmRising, 0), 3);
  // 16-bit threshold is level x 327.
  EXPECT_EQ(PCMFindTrigger(Pcm(8000, 16, 1), Samples16({0, 3269, 3270, 0}), 10, tmRising, 0), 4);
}

std::array<int32_t, 4> Peaks(const WaveFormatEx& format, std::span<const uint8_t> data) {
  const TPCMPeaks p = PCMFindPeaks(format, data);
  return {p.First1, p.Second1, p.First2, p.Second2};
}

TEST(PCMFindPeaks, ExtremesInTimeOrder) {
  // Left: max before min; right: min before max; ties keep the first.
  const auto data = Samples16({900, -5, 0, -5, -900, 7, 900, 7, 20, 1});
  using P = std::array<int32_t, 4>;
  EXPECT_EQ(Peaks(Pcm(44100, 16, 2), data), (P{900, -900, -5, 7}));
  EXPECT_EQ(Peaks(Pcm(8000, 8, 1), std::vector<uint8_t>{128, 10, 250, 128}), (P{10, 250, 10, 250}));
  const std::vector<uint8_t> partial{1, 2, 3};
  EXPECT_EQ(Peaks(Pcm(44100, 16, 2), partial), (P{0, 0, 0, 0}));
  EXPECT_EQ(Peaks(Pcm(8000, 8, 2), std::span(partial).first(1)), (P{128, 128, 128, 128}));

  const TPCMPeakSample loudest = PCMFindPeakSample(Pcm(44100, 16, 2), data);
  EXPECT_EQ(loudest.Channel1, 900);
  EXPECT_EQ(loudest.Channel2, 7);
  const std::vector<uint8_t> mono8{128, 20, 236, 130};
  EXPECT_EQ(PCMFindPeakSample(Pcm(8000, 8, 1), mono8).Channel2, 20) << "first on ties";
}

TEST(PCMScale, LimitsAndTheCallersClipFlag) {
  bool clipped = false;
  EXPECT_EQ(PCMClip8(127, clipped) + PCMClip16(-32768, clipped), 127 - 32768);
  EXPECT_FALSE(clipped);
  EXPECT_EQ(PCMClip16(40000, clipped), 32767);
  EXPECT_EQ(PCMClip8(0, clipped), 0);
  EXPECT_TRUE(clipped) << "set when limited, never cleared";

  bool own = false;
  EXPECT_EQ(PCMScaleSample8(64, 32768, own), 0);
  EXPECT_EQ(PCMScaleSample16(-32768, 16384, own), -32768);
  EXPECT_EQ(PCMScaleSample16(-3, 8192, own), -2) << "arithmetic shift rounds down";
  EXPECT_FALSE(own) << "exactly the lower limit is not limited";
  EXPECT_EQ(PCMScaleSample8(192, 32768, own), 255);
  EXPECT_TRUE(own);
}

TEST(PCMScale, BuffersReportLimiting) {
  auto mono = Samples16({1000, -1000, 20000, -20000});
  EXPECT_TRUE(PCMScaleMono16(32768, mono));
  EXPECT_EQ(mono, Samples16({2000, -2000, 32767, -32768}));
  EXPECT_FALSE(PCMScaleMono16(8192, mono));
  EXPECT_EQ(mono, Samples16({1000, -1000, 16383, -16384}));

  auto stereo = Samples16({1000, 1000, -1000, -1000});
  stereo.push_back(0x55);  // a partial frame stays as it is
  EXPECT_FALSE(PCMScaleStereo16(16384, 0, stereo));
  stereo.pop_back();
  EXPECT_EQ(stereo, Samples16({1000, 0, -1000, 0}));

  std::vector<uint8_t> stereo8{192, 192, 64, 64};
  EXPECT_TRUE(PCMScaleStereo8(16384, 40000, stereo8));
  EXPECT_EQ(stereo8, (std::vector<uint8_t>{192, 255, 64, 0}));
  std::vector<uint8_t> mono8{128, 138, 118};
  EXPECT_FALSE(PCMScaleMono8(8192, mono8));
  EXPECT_EQ(mono8, (std::vector<uint8_t>{128, 133, 123}));
}

}  // namespace
}  // namespace pmx
