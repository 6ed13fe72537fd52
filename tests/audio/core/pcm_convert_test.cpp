#include "audio/core/pcm_convert.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "audio/core/pcm_support.h"

namespace pmx {
namespace {

WaveFormatEx Layout(int code, uint32_t rate) {
  return WaveFormatEx::Pcm(rate, code & 4 ? 16 : 8, code & 2 ? 2 : 1);
}

// Converts into a buffer of exactly PCMConvertSize bytes, so that the sanitizers
// catch any write past what a caller allocates.
std::vector<uint8_t> Convert(const std::vector<uint8_t>& source, const WaveFormatEx& from,
                             const WaveFormatEx& to) {
  std::vector<uint8_t> dest(PCMConvertSize(from, to, static_cast<int64_t>(source.size())));
  const int64_t written = PCMConvert(source, from, dest, to);
  EXPECT_GE(written, 0);
  dest.resize(written);
  return dest;
}

std::vector<uint8_t> Ramp(std::size_t bytes) {
  std::vector<uint8_t> data(bytes);
  for (std::size_t i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
  return data;
}

TEST(PCMConvertBits, BothRoutinesOnTheEdgeValues) {
  std::vector<uint8_t> minus_one{0xFF, 0xFF};
  std::vector<uint8_t> one(1);
  EXPECT_EQ(PCMConvertBits(8, one, 16, minus_one), 1);
  EXPECT_EQ(one[0], 128) << "s div 256 truncates towards zero";
  EXPECT_EQ(Convert(minus_one, Layout(kPCMMono16, 8000), Layout(kPCMMono8, 8000)),
            std::vector<uint8_t>{127})
      << "the layout conversion takes the high byte";

  std::vector<uint8_t> loud{255, 0};
  std::vector<uint8_t> wide(4);
  EXPECT_EQ(PCMConvertBits(16, wide, 8, loud), 4);
  EXPECT_EQ(LoadLES16(&wide[0]), 32512);
  EXPECT_EQ(LoadLES16(&wide[2]), -32768);
  const auto via_layout = Convert(loud, Layout(kPCMMono8, 8000), Layout(kPCMMono16, 8000));
  EXPECT_EQ(via_layout, wide);
}

TEST(PCMConvertBits, InPlaceBothWays) {
  std::vector<uint8_t> buffer{0x00, 0x80, 0xFF, 0x7F, 0x00, 0x01, 0xAA, 0xAA};
  const std::span<uint8_t> all(buffer);
  EXPECT_EQ(PCMConvertBits(8, all, 16, all.first(6)), 3);
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 3),
            (std::vector<uint8_t>{0, 255, 129}));
  EXPECT_EQ(PCMConvertBits(16, all, 8, all.first(3)), 6);
  EXPECT_EQ(LoadLES16(&buffer[0]), -32768);
  EXPECT_EQ(LoadLES16(&buffer[2]), 32512);
  EXPECT_EQ(LoadLES16(&buffer[4]), 256);
}

TEST(PCMConvert, RateDropsAndRepeatsFrames) {
  const std::vector<uint8_t> frames{0, 1, 2, 3, 4, 5, 6, 7};
  EXPECT_EQ(Convert(frames, Layout(kPCMMono8, 22050), Layout(kPCMMono8, 11025)),
            (std::vector<uint8_t>{1, 3, 5, 7}));
  EXPECT_EQ(Convert({9, 8, 7}, Layout(kPCMMono8, 11025), Layout(kPCMMono8, 22050)),
            (std::vector<uint8_t>{9, 9, 8, 8, 7, 7}));
  EXPECT_EQ(Convert(frames, Layout(kPCMMono8, 8000), Layout(kPCMMono8, 8000)), frames);
}

TEST(PCMConvert, ASingleFrameFitsTheSizeItAskedFor) {
  const std::vector<uint8_t> frame{1, 2, 3, 4};
  const auto from = Layout(kPCMStereo16, 11025);
  const auto to = Layout(kPCMStereo16, 8000);
  EXPECT_EQ(PCMConvertSize(from, to, 4), 4);
  EXPECT_EQ(Convert(frame, from, to), frame);
  std::vector<uint8_t> none;
  EXPECT_EQ(PCMConvert({}, from, none, to), 0);
  EXPECT_EQ(PCMConvertSize(from, to, 3), 0);
}

TEST(PCMConvert, NeverWritesBeyondTheSizeRule) {
  const uint32_t rates[] = {4000, 8000, 11025, 16000, 22050, 32000, 44100, 48000, 96000, 100000};
  for (uint32_t rs : rates) {
    for (uint32_t rd : rates) {
      for (int64_t frames : {1, 2, 3, 7, 100, 1001}) {
        const auto from = Layout(kPCMStereo8, rs);
        const auto to = Layout(kPCMMono16, rd);
        const auto out = Convert(Ramp(frames * 2), from, to);
        EXPECT_LE(static_cast<int64_t>(out.size()), PCMConvertSize(from, to, frames * 2))
            << rs << " -> " << rd << ", " << frames << " frames";
        // Repeating starts half a period in, so the first frame may be short of copies.
        EXPECT_GE(static_cast<int64_t>(out.size()) / 2, frames * rd / rs - rd / rs);
      }
    }
  }
}

TEST(PCMConvert, RefusesBadFormatsAndShortDestinations) {
  const auto source = Ramp(8);
  std::vector<uint8_t> dest(64, 0xAA);
  const auto stereo = Layout(kPCMStereo16, 44100);
  EXPECT_EQ(PCMConvert(source, WaveFormatEx::Pcm(44100, 16, 4), dest, stereo), -1);
  EXPECT_EQ(PCMConvert(source, stereo, dest, Layout(kPCMMono8, 0)), -1);
  EXPECT_EQ(PCMConvertSize(stereo, WaveFormatEx::Pcm(44100, 24, 2), 8), -1);
  std::span<uint8_t> short_dest(dest.data(), 8);
  EXPECT_EQ(PCMConvert(source, stereo, short_dest, Layout(kPCMStereo16, 48000)), -1);
  EXPECT_EQ(PCMConvertBits(16, short_dest.first(7), 8, std::span(source).first(4)), -1);
  EXPECT_EQ(PCMConvertBits(24, dest, 8, source), -1);
  EXPECT_EQ(dest, std::vector<uint8_t>(64, 0xAA));
}

TEST(PCMConvert, StereoToMonoAveragesUnsignedValues) {
  const std::vector<uint8_t> stereo16{0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0x7F, 0x00, 0x80};
  const auto mono16 = Convert(stereo16, Layout(kPCMStereo16, 8000), Layout(kPCMMono16, 8000));
  ASSERT_EQ(mono16.size(), 4u);
  EXPECT_EQ(LoadLES16(&mono16[0]), -2) << "(32767 + 32766) div 2 - 32768";
  EXPECT_EQ(LoadLES16(&mono16[2]), -1);
  EXPECT_EQ(Convert({0, 255, 3, 4}, Layout(kPCMStereo8, 8000), Layout(kPCMMono8, 8000)),
            (std::vector<uint8_t>{127, 3}));
  EXPECT_EQ(Convert({3, 4}, Layout(kPCMStereo8, 8000), Layout(kPCMMono16, 8000)),
            (std::vector<uint8_t>{0x00, 0x83}));
  EXPECT_EQ(Convert({7, 9}, Layout(kPCMMono8, 8000), Layout(kPCMStereo8, 8000)),
            (std::vector<uint8_t>{7, 7, 9, 9}));
}

// Stereo frames carry the same value in both channels, so that every layout can
// hold them; there and back loses at most one LSB of the coarser depth.
TEST(PCMConvert, ThereAndBackStaysWithinOneLSB) {
  std::mt19937 random(4711);
  std::uniform_int_distribution<int> sample(-32768, 32767);
  const int codes[] = {kPCMMono8, kPCMStereo8, kPCMMono16, kPCMStereo16};
  const std::pair<uint32_t, uint32_t> rate_pairs[] = {
      {8000, 8000}, {11025, 22050}, {8000, 32000}, {22050, 44100}, {11025, 44100}};
  for (int from : codes) {
    for (int to : codes) {
      for (auto [rs, rd] : rate_pairs) {
        const int frames = 257;
        std::vector<uint8_t> source(PCMFramesToBytes(frames, from));
        const int frame_bytes = PCMFrameBytes(from);
        for (int f = 0; f < frames; ++f) {
          const int s = sample(random);
          for (int c = 0; c < (from & 2 ? 2 : 1); ++c) {
            uint8_t* at = &source[f * frame_bytes + c * (from & 4 ? 2 : 1)];
            if (from & 4) {
              StoreLE16(at, s);
            } else {
              *at = static_cast<uint8_t>((s + 32768) >> 8);
            }
          }
        }
        const auto there = Convert(source, Layout(from, rs), Layout(to, rd));
        const auto back = Convert(there, Layout(to, rd), Layout(from, rs));
        ASSERT_EQ(back.size(), source.size()) << from << " -> " << to << " at " << rs << "/" << rd;
        const int lsb = (from & 4) && !(to & 4) ? 255 : 0;
        for (std::size_t i = 0; i < source.size(); i += (from & 4 ? 2 : 1)) {
          const int a = from & 4 ? LoadLES16(&source[i]) : source[i];
          const int b = from & 4 ? LoadLES16(&back[i]) : back[i];
          ASSERT_LE(std::abs(a - b), lsb) << from << " -> " << to << " byte " << i;
        }
      }
    }
  }
}

// Chains on different threads convert and scale at the same time: neither results
// nor limit reports may leak from one to another.
TEST(PCMConvert, ConcurrentChainsDoNotShareState) {
  struct Chain {
    uint32_t from_rate;
    uint32_t to_rate;
    int32_t gain;
    std::vector<uint8_t> converted;
    bool clipped = false;
  };
  std::vector<Chain> chains{
      {44100, 8000, 8192, {}}, {8000, 44100, 65536, {}}, {22050, 11025, 16384, {}}, {11025, 48000, 40000, {}}};
  const auto source = Ramp(4 * 10007);
  const auto run = [&](Chain& chain) {
    for (int round = 0; round < 20; ++round) {
      chain.converted = Convert(source, Layout(kPCMStereo16, chain.from_rate),
                                Layout(kPCMStereo16, chain.to_rate));
      chain.clipped = PCMScaleStereo16(chain.gain, chain.gain, chain.converted);
    }
  };
  std::vector<Chain> alone = chains;
  for (Chain& chain : alone) run(chain);
  std::vector<std::thread> threads;
  for (Chain& chain : chains) threads.emplace_back(run, std::ref(chain));
  for (std::thread& t : threads) t.join();
  for (std::size_t i = 0; i < chains.size(); ++i) {
    EXPECT_EQ(chains[i].converted, alone[i].converted) << i;
    EXPECT_EQ(chains[i].clipped, alone[i].clipped) << i;
  }
  EXPECT_FALSE(alone[0].clipped);
  EXPECT_TRUE(alone[1].clipped);
}

}  // namespace
}  // namespace pmx
