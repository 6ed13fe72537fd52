#include "audio/core/fade_list.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <vector>

#include "audio/core/pcm_support.h"

namespace pmx {
namespace {

TMMFadePoint Point(int64_t position, int32_t gain) { return {position, gain, gain, gain}; }

std::vector<uint8_t> Constant16(int frames, int channels, int16_t value) {
  std::vector<uint8_t> data(frames * channels * 2);
  for (std::size_t i = 0; i < data.size(); i += 2) StoreLE16(&data[i], value);
  return data;
}

// The list the audio-file player builds: a rising ramp from silence to full level
// over the first 1000 bytes, applied from byte 0.
void MakeFadeIn(TMMFadeList& list) {
  list.Add(Point(0, 0));
  list.Add(Point(1000, kPCMUnityGain));
  list.SetPlayState({1, 0, 0, 0});
}

TEST(TMMFadeList, GrowthLimitsAndIndexErrors) {
  TMMFadeList list;
  std::vector<int> capacities;
  for (int i = 0; i < 33; ++i) {
    list.Add(Point(i, 0));
    if (capacities.empty() || capacities.back() != list.Capacity()) {
      capacities.push_back(list.Capacity());
    }
  }
  EXPECT_EQ(capacities, (std::vector<int>{4, 8, 16, 32, 48}));
  EXPECT_THROW(list.SetCapacity(32), EListError);
  EXPECT_THROW(list.SetCount(kMaxListSize + 1), EListError);
  try {
    list.GetItem(33);
    FAIL() << "no error";
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (33)");
  }
  list.SetCount(40);
  EXPECT_EQ(list.GetItem(39).Position, 0) << "new points are zero-filled";
  list.SetPlayState({2, 77, 5, 6});
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Capacity(), 0);
  EXPECT_EQ(list.PlayState().Position, 77) << "Clear leaves the play state";
}

TEST(TMMFadeList, SortAndAssign) {
  TMMFadeList list;
  std::mt19937 random(7);
  for (int i = 0; i < 500; ++i) {
    const int position = random() % 10000;
    list.Add({position, 3 * position, i, -i});
  }
  list.Sort();
  for (int i = 1; i < list.Count(); ++i) {
    ASSERT_LE(list.GetItem(i - 1).Position, list.GetItem(i).Position) << i;
    ASSERT_EQ(list.GetItem(i).Volume, 3 * list.GetItem(i).Position) << "whole points move";
    ASSERT_EQ(list.GetItem(i).LeftGain, -list.GetItem(i).RightGain);
  }
  TMMFadeList copy;
  copy.SetPlayState({3, 3, 3, 3});
  copy.Assign(&list);
  ASSERT_EQ(copy.Count(), 500);
  EXPECT_EQ(copy.GetItem(499).Volume, list.GetItem(499).Volume);
  EXPECT_EQ(copy.PlayState().Index, 3);
  copy.Assign(&copy);
  EXPECT_EQ(copy.Count(), 500);
  copy.Assign(nullptr);
  EXPECT_EQ(copy.Count(), 0);
}

TEST(TMMFadeList, VolumeAtInterpolates) {
  TMMFadeList list;
  EXPECT_EQ(list.VolumeAt(10), 0);
  list.Add(Point(1000, 0));
  EXPECT_EQ(list.VolumeAt(1000), 0) << "one point";
  list.Add(Point(2000, kPCMUnityGain));
  EXPECT_EQ(list.VolumeAt(1500), 8192);
  EXPECT_EQ(list.VolumeAt(1001), 16);
  EXPECT_EQ(list.VolumeAt(999), 0) << "before the first point";
  TMMFadeList same;
  same.Add(Point(500, 0));
  same.Add(Point(500, kPCMUnityGain));
  EXPECT_EQ(same.VolumeAt(500), 0);
}

TEST(ApplyFades, RampsTheFirstSegmentAndLeavesTheRestAlone) {
  TMMFadeList list;
  MakeFadeIn(list);
  const auto format = WaveFormatEx::Pcm(44100, 16, 1);
  auto data = Constant16(600, 1, 20000);
  EXPECT_FALSE(ApplyFades(format, data, list));
  for (int i = 0; i < 600; ++i) {
    const int gain = i < 500 ? kPCMUnityGain * i / 500 : kPCMUnityGain;
    ASSERT_EQ(LoadLES16(&data[2 * i]), (20000 * gain) >> 14) << "sample " << i;
  }
  EXPECT_EQ(list.PlayState().Position, 1000) << "the ramp position stops at the last point";
  EXPECT_EQ(list.PlayState().Index, 2);
  EXPECT_EQ(list.PlayState().LeftGain, kPCMUnityGain);
}

TEST(ApplyFades, BuffersContinueTheRampWhereTheLastOneEnded) {
  TMMFadeList whole;
  MakeFadeIn(whole);
  TMMFadeList pieces;
  MakeFadeIn(pieces);
  const auto format = WaveFormatEx::Pcm(44100, 16, 2);
  // Samples at unity carry the gain itself.
  auto expected = Constant16(400, 2, kPCMUnityGain);
  auto data = expected;
  ApplyFades(format, expected, whole);
  std::span<uint8_t> rest(data);
  for (std::size_t size : {4u, 100u, 252u, 600u, 644u}) {
    ApplyFades(format, rest.first(size), pieces);
    rest = rest.subspan(size);
  }
  for (std::size_t i = 0; i < data.size(); i += 2) {
    ASSERT_NEAR(LoadLES16(&data[i]), LoadLES16(&expected[i]), 2) << "byte " << i;
  }
  EXPECT_EQ(pieces.PlayState().Position, whole.PlayState().Position);
  EXPECT_EQ(pieces.PlayState().LeftGain, kPCMUnityGain);
}

TEST(ApplyFades, StereoGainsSilenceAndLimiting) {
  TMMFadeList list;
  list.Add({0, 0, 0, kPCMUnityGain});
  list.Add({4, 0, 0, kPCMUnityGain});
  list.Add({12, 0, 2 * kPCMUnityGain, kPCMUnityGain});
  list.SetPlayState({1, 0, 0, kPCMUnityGain});
  std::vector<uint8_t> data(12, 250);
  EXPECT_TRUE(ApplyFades(WaveFormatEx::Pcm(8000, 8, 2), data, list));
  // Left: silence up to byte 4, then 0 -> 2 x unity over four frames, the last one
  // limited; right stays at unity.
  EXPECT_EQ(data,
            (std::vector<uint8_t>{128, 250, 128, 250, 128, 250, 189, 250, 250, 250, 255, 250}));
  EXPECT_EQ(list.PlayState().LeftGain, 2 * kPCMUnityGain);
  std::vector<uint8_t> more{200, 10};
  EXPECT_FALSE(ApplyFades(WaveFormatEx::Pcm(8000, 8, 2), more, list));
  EXPECT_EQ(more, (std::vector<uint8_t>{200, 10})) << "after the last point";
}

TEST(ApplyFades, APositionBeyondThePointEndsAndResumesTheRamp) {
  TMMFadeList list;
  list.Add(Point(0, 0));
  list.Add(Point(1000, kPCMUnityGain));
  list.SetPlayState({0, 600, list.VolumeAt(600), list.VolumeAt(600)});
  auto data = Constant16(300, 1, 16384);
  ApplyFades(WaveFormatEx::Pcm(44100, 16, 1), data, list);
  EXPECT_EQ(LoadLES16(&data[0]), 16384 * 9830 >> 14);
  EXPECT_EQ(LoadLES16(&data[398]), 16384 * (9830 + (16384 - 9830) * 199 / 200) >> 14);
  EXPECT_EQ(LoadLES16(&data[400]), 16384);
  EXPECT_EQ(list.PlayState().Position, 1000);
}

TEST(ApplyFades, APointBetweenFramesKeepsTheFraming) {
  TMMFadeList list;
  list.Add(Point(0, 0));
  list.Add(Point(5, 0));  // inside the second 16-bit stereo frame
  list.Add(Point(13, kPCMUnityGain));
  list.SetPlayState({1, 0, 0, 0});
  auto data = Constant16(6, 2, 1000);
  ApplyFades(WaveFormatEx::Pcm(44100, 16, 2), data, list);
  // Two silent frames, then 0 -> unity over the two frames up to byte 13: every
  // sample of a frame gets the same gain.
  const std::vector<int> expected{0, 0, 0, 0, 0, 0, 500, 500, 1000, 1000, 1000, 1000};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(LoadLES16(&data[2 * i]), expected[i]) << "sample " << i;
  }
}

TEST(ApplyFades, ExtremeGainsLimitWithoutOverflow) {
  TMMFadeList list;
  list.Add(Point(4, INT32_MAX));
  list.SetPlayState({0, 0, INT32_MIN, INT32_MIN});
  auto data = Constant16(3, 1, 100);
  EXPECT_TRUE(ApplyFades(WaveFormatEx::Pcm(8000, 16, 1), data, list));
  EXPECT_EQ(LoadLES16(&data[0]), -32768);
  EXPECT_EQ(LoadLES16(&data[2]), -1) << "halfway the gain is -1";
  EXPECT_EQ(list.PlayState().LeftGain, INT32_MAX);
}

TEST(ApplyFades, OtherFormatsAreLeftAlone) {
  TMMFadeList list;
  MakeFadeIn(list);
  WaveFormatEx adpcm = WaveFormatEx::Pcm(8000, 16, 1);
  adpcm.set_wFormatTag(WAVE_FORMAT_ADPCM);
  auto data = Constant16(10, 1, 1000);
  const auto before = data;
  EXPECT_FALSE(ApplyFades(adpcm, data, list));
  EXPECT_EQ(data, before);
  EXPECT_EQ(list.PlayState().Position, 0);
}

}  // namespace
}  // namespace pmx
