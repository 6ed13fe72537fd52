#include "recorder/recording_header.h"

#include <sys/stat.h>

#include <gmock/gmock.h>

#include "audio/core/files/wave.h"
#include "recorder/encoder_hand_off.h"
#include "recorder/event_log.h"
#include "tests/recorder/recorder_fixture.h"
#include "tests/recorder/wav_bytes.h"

namespace pmx::test {
namespace {

using RecordingHeaderTest = RecorderTest;

TEST_F(RecordingHeaderTest, FindsTheDataChunkBehindALongFormatAndAList) {
  const std::string list = Chunk("LIST", "INFOISFT" + std::string("\x05\0\0\0abcde", 9));
  const std::string data(1001, '\x7F');
  const std::string unfinished = WavBytes(20, list, data, false);
  const auto file = Home("codec.wav");
  WriteFile(file, unfinished);

  ASSERT_TRUE(FixWaveHeader(file));
  const std::string fixed = ReadFile(file);
  ASSERT_EQ(fixed.size(), unfinished.size());
  EXPECT_EQ(fixed, WavBytes(20, list, data));
}

TEST_F(RecordingHeaderTest, FinishedRecordingOfTheWaveComponentStaysAsItIs) {
  const auto file = Home("finished.wav").string();
  for (const WaveFormatEx& format : {WaveFormatEx::Pcm(8000, 8, 1), WaveFormatEx::Pcm(22050, 16, 2)}) {
    std::filesystem::remove(file);
    TMMWave wave;
    WaveFormatEx copy = format;
    wave.CreateWaveFile(file, &copy);
    const std::string data(1001, '\x41');
    ASSERT_GT(wave.WriteData(data.data(), data.size()), 0);
    wave.CloseWaveFile();
    const std::string written = ReadFile(file);
    ASSERT_TRUE(FixWaveHeader(file));
    EXPECT_EQ(ReadFile(file), written);
  }
}

TEST_F(RecordingHeaderTest, DataFollowedByCompleteChunksKeepsItsSize) {
  const std::string wav = WavBytes(16, "", "0123456789") + Chunk("DISP", "abc");
  std::string stale_riff = wav;
  stale_riff.replace(4, 4, std::string(4, '\0'));
  const auto file = Home("tail.wav");
  WriteFile(file, stale_riff);
  ASSERT_TRUE(FixWaveHeader(file));
  const std::string fixed = ReadFile(file);
  EXPECT_EQ(Uint32At(fixed, 4), wav.size() - 8);
  EXPECT_EQ(Uint32At(fixed, 40), 10u);
}

TEST_F(RecordingHeaderTest, LeavesNonWavesAloneAndRaisesForMissingFiles) {
  const auto text = Home("notes.wav");
  const std::string bytes = "RIFF\0\0\0\0AVI LIST" + std::string(40, 'x');
  WriteFile(text, bytes);
  EXPECT_FALSE(FixWaveHeader(text));
  EXPECT_EQ(ReadFile(text), bytes);

  const auto no_data = Home("nodata.wav");
  const std::string header_only = WavBytes(16, "", "").substr(0, 36);
  WriteFile(no_data, header_only);
  EXPECT_FALSE(FixWaveHeader(no_data));
  EXPECT_EQ(ReadFile(no_data), header_only);

  EXPECT_THROW(FixWaveHeader(Home("gone.wav")), EInOutError);
}

TEST_F(RecordingHeaderTest, StampSetsTheModificationTime) {
  const auto file = Home("a.wav");
  WriteFile(file, "x");
  const auto when = LocalTimePoint(2025, 11, 2, 3, 4, 5, 250);
  ASSERT_TRUE(StampFileTime(file, when));
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mtim.tv_sec, std::chrono::system_clock::to_time_t(when));
  EXPECT_EQ(info.st_mtim.tv_nsec, 250000000);
  EXPECT_FALSE(StampFileTime(Home("gone.wav"), when));
}

TEST_F(RecordingHeaderTest, EncoderParameterTexts) {
  RecorderOptions.BitRateIndex = 9;
  RecorderOptions.WavDays = 0;
  EXPECT_EQ(Mp3Parameters(RecorderOptions, "/tmp/My Rec/20260307090503.wav", {150, 180}, 2000),
            "/tmp/My*Rec/20260307090503.wav 128 150 180 2001 delete");
  RecorderOptions.WavDays = 1;
  RecorderOptions.QualityIndex = 11;
  EXPECT_EQ(OggParameters(RecorderOptions, "/r/a b c.wav", {0, 0}, 0), "/r/a*b*c.wav 1 0 0 0");

  EXPECT_EQ(OggQuality(0), "-0.1");
  EXPECT_EQ(OggQuality(1), "0");
  EXPECT_EQ(OggQuality(3), "0.2");
  EXPECT_EQ(OggQuality(11), "1");
  EXPECT_EQ(Mp3BitRate(0), 8);
  EXPECT_EQ(Mp3BitRate(7), 64);
  EXPECT_EQ(Mp3BitRate(8), 96);
  EXPECT_EQ(Mp3BitRate(11), 256);
  EXPECT_EQ(Mp3BitRate(12), 0);
}

}  // namespace
}  // namespace pmx::test
