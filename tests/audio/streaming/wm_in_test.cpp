#include "audio/streaming/wm_in.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "audio/streaming/streaming.h"
#include "tests/audio/streaming/encoded_files.h"
#include "tests/support/file_bytes.h"

namespace pmx {
namespace {

class MP3InTest : public test::EncodedInputTest<TMP3In> {
 protected:
  static void SetUpTestSuite() {
    Encode("sine.mp3", [](const std::string& raw, const std::string& out) {
      return std::vector<std::string>{"lame", "-S",   "-r",   "-s",   "44.1", "-b", "192",  "--id3v2-only", "--ta",
                                      "\xC3\x89mile", "--tt", "Song", "--tl", "Album", "--ty", "2024", "--tn", "7",
                                      raw,  out};
    });
  }
};

TEST_F(MP3InTest, DecodesTheSignalWithFormatSizeAndTags) {
  EXPECT_EQ(input_.GetChannels(), 2);
  EXPECT_EQ(input_.GetSampleRate(), kRate);
  EXPECT_EQ(input_.GetBitsPerSample(), 16);
  EXPECT_EQ(input_.Size(), (kFrames + kRate / 3) * 4);
  EXPECT_EQ(input_.Id3v2Tags().Artist(), u"\u00C9mile");
  EXPECT_EQ(input_.Id3v2Tags().Title(), u"Song");
  EXPECT_EQ(input_.Id3v2Tags().Album(), u"Album");
  EXPECT_EQ(input_.Id3v2Tags().Track(), "7");
  EXPECT_EQ(input_.Id3v2Tags().Year(), "2024");

  input_.Init();
  const std::vector<int16_t> decoded = ReadSamples((kFrames + kRate) * 4);
  EXPECT_EQ(decoded.size(), static_cast<size_t>(kFrames * 2));
  EXPECT_GT(test::BestCorrelation(Source(), decoded, 2, 0), 0.99);
  input_.Flush();
}

TEST_F(MP3InTest, SeekingLandsOnTheSample) {
  input_.Init();
  ReadSamples(100000);
  const int64_t target = 300000;
  ASSERT_TRUE(input_.SeekSample(target));
  EXPECT_EQ(input_.Position(), target * 4);
  const std::vector<int16_t> decoded = ReadSamples(40000);
  ASSERT_EQ(decoded.size(), 20000u);
  const std::vector<int16_t> expected(Source().begin() + target * 2, Source().begin() + target * 2 + 20000);
  EXPECT_GT(test::BestCorrelation(expected, decoded, 2, 0), 0.99);
  input_.Flush();

  // Exactly the sample asked for, whatever the rounding of its time: the same
  // samples a straight read gives there.
  input_.Init();
  const std::vector<int16_t> straight = ReadSamples(60000 * 4);
  for (const int64_t sample : {3, 2047, 12345, 50000}) {
    ASSERT_TRUE(input_.SeekSample(sample));
    const std::vector<int16_t> got = ReadSamples(400);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), straight.begin() + sample * 2)) << "at sample " << sample;
  }
  input_.Flush();
}

TEST_F(MP3InTest, ChannelWishesAndPrecision) {
  input_.SetHighPrecision(true);
  EXPECT_TRUE(input_.HighPrecision());
  EXPECT_EQ(input_.GetChannels(), 2);  // open: the setters reopen it
  input_.SetOutputChannels(cn5dot1);
  EXPECT_TRUE(input_.HighPrecision());
  input_.SetHighPrecision(false);
  EXPECT_TRUE(input_.HighPrecision()) << "ignored unless mono or stereo is asked for";
  // A stereo file has no six-channel output: no format, and Init refuses.
  EXPECT_EQ(input_.GetChannels(), 0);
  EXPECT_THROW(input_.Init(), EAuException);
  input_.SetOutputChannels(cnMaxAvailable);
  EXPECT_EQ(input_.GetChannels(), 2);
}

// A file joined from the stereo sine and a mono part at another rate reads as
// stereo at the rate it began with throughout: the mono part on both channels,
// resampled, never a layout that changes midway.
TEST_F(MP3InTest, AFileJoinedFromPartsKeepsTheFormatItBeganWith) {
  const std::vector<int16_t> mono = test::Sine(48000, 48000, 1, 480);
  test::PutRaw(*sine_ / "mono.raw", mono);
  ASSERT_EQ(test::RunTool({"lame", "-S", "-r", "-s", "48", "-m", "m", "-b", "64",
                           (*sine_ / "mono.raw").string(), (*sine_ / "mono.mp3").string()}),
            0);
  std::vector<uint8_t> joined = test::FileBytes(sine_->Path());
  const std::vector<uint8_t> part = test::FileBytes(*sine_ / "mono.mp3");
  joined.insert(joined.end(), part.begin(), part.end());
  test::PutFile(*sine_ / "joined.mp3", joined);
  TMP3In in;
  in.SetFileName((*sine_ / "joined.mp3").string());
  ASSERT_EQ(in.GetChannels(), 2);
  in.Init();
  const std::vector<int16_t> decoded = test::ReadSamples(in, (kFrames + 3 * kRate) * 4);
  in.Flush();
  // One more second at 44.1 kHz, give or take the encoders' padding.
  EXPECT_NEAR(static_cast<double>(decoded.size()) / 2, static_cast<double>(kFrames + kRate), 3 * 1152);
  // Half a second into the mono part, both channels carry the same sample.
  const std::size_t at = static_cast<std::size_t>(kFrames + kRate / 2) * 2;
  ASSERT_GT(decoded.size(), at + 2000);
  for (std::size_t i = at; i < at + 2000; i += 2) ASSERT_EQ(decoded[i], decoded[i + 1]) << i;
}

TEST_F(MP3InTest, BadFilesRaiseOrEndAndNeverCrash) {
  TMP3In unnamed;
  EXPECT_THROW(unnamed.GetChannels(), EAuException);

  test::PutFile(*sine_ / "garbage.mp3", std::vector<uint8_t>(5000, 0x5A));
  TMP3In garbage;
  garbage.SetFileName((*sine_ / "garbage.mp3").string());
  EXPECT_EQ(garbage.GetChannels(), 0);
  EXPECT_THROW(garbage.Init(), EAuException);
  EXPECT_FALSE(garbage.Busy());

  const std::vector<uint8_t> whole = test::FileBytes(*sine_ / "sine.mp3");
  test::PutFile(*sine_ / "cut.mp3", std::vector<uint8_t>(whole.begin(), whole.begin() + whole.size() / 2));
  TMP3In cut;
  cut.SetFileName((*sine_ / "cut.mp3").string());
  cut.Init();
  const size_t got = test::ReadSamples(cut, kFrames * 4).size();
  EXPECT_GT(got, static_cast<size_t>(kFrames / 2));
  EXPECT_LT(got, static_cast<size_t>(kFrames * 2));
  cut.Flush();
}

}  // namespace
}  // namespace pmx
