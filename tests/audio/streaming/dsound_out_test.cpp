#include "audio/streaming/dsound_out.h"

#include <gtest/gtest.h>

#include "audio/streaming/streaming.h"
#include "audio/streaming/vorbis_in.h"
#include "audio/streaming/wm_in.h"
#include "platform/alsa/alsa_dsound.h"
#include "platform/alsa/fake_dsound.h"
#include "platform/main_loop.h"
#include "tests/audio/streaming/encoded_files.h"
#include "tests/audio/streaming/fake_streams.h"
#include "tests/support/alsa_file_pcm.h"
#include "tests/support/file_bytes.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;

// An output on a sound system, with its events counted on this (the GUI) thread.
struct Player {
  Player(SoundSystem& system, TAuInput& input) : output(nullptr, &system) {
    output.SetInput(&input);
    output.SetPollingInterval(10);
    output.OnDone = [this](TObject*) { ++done; };
    output.OnThreadException = [this](TObject*) { errors.push_back(output.ErrorText()); };
    output.OnUnderrun = [this](TObject*) { ++underruns; };
  }
  bool Play() {
    output.Run();
    return loop.PumpUntil([&] { return done > 0; }, 20s);
  }

  PlainMainLoop loop;
  ScopedMainLoop scope{loop};
  TDXAudioOut output;
  int done = 0;
  int underruns = 0;
  std::vector<std::string> errors;
};

bool AllBytesAre(const std::vector<uint8_t>& bytes, size_t from, uint8_t value) {
  return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(std::min(from, bytes.size())), bytes.end(),
                     [&](uint8_t b) { return b == value; });
}

// What a file input delivers when read on its own.
template <class Input>
std::vector<uint8_t> DecodedBytes(const std::string& path) {
  Input input;
  input.SetFileName(path);
  input.Init();
  std::vector<uint8_t> bytes(static_cast<size_t>(input.Size()) + 1000000);
  bool ended = false;
  bytes.resize(ReadFull(input, bytes.data(), static_cast<uint32_t>(bytes.size()), ended));
  input.Flush();
  return bytes;
}

// Plays an encoded file into an ALSA file PCM, pausing once in the middle: the
// device gets exactly the decoder's output, then only silence.
template <class Input>
void PlaysExactlyThroughAPause(const std::string& path) {
  test::TempDir dir;
  AlsaSoundSystem alsa(AlsaSoundSystem::Options{test::FilePcmOptions(dir).config, std::vector<SoundDevice>{{"Sink", "sink"}}});
  Input input;
  input.SetFileName(path);
  Player player(alsa, input);
  player.output.SetFramesInBuffer(8192);
  player.output.Run();
  ASSERT_TRUE(player.loop.PumpUntil([&] { return player.output.GetProgress() >= 40; }, 20s));
  player.output.Pause();
  EXPECT_EQ(player.output.GetStatus(), TAuStatus::kPaused);
  const size_t at_pause = test::FileBytes(dir / "out.raw").size();
  player.loop.PumpUntil([] { return false; }, 50ms);
  EXPECT_EQ(test::FileBytes(dir / "out.raw").size(), at_pause);
  player.output.Resume();
  ASSERT_TRUE(player.loop.PumpUntil([&] { return player.done > 0; }, 20s));
  EXPECT_TRUE(player.errors.empty()) << player.errors.front();

  const std::vector<uint8_t> expected = DecodedBytes<Input>(path);
  const std::vector<uint8_t> played = test::FileBytes(dir / "out.raw");
  ASSERT_GT(expected.size(), 400000u);
  ASSERT_GE(played.size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), played.begin()));
  EXPECT_TRUE(AllBytesAre(played, expected.size(), 0));
}

class DXAudioOutOggTest : public test::EncodedInputTest<TVorbisIn> {
 protected:
  static void SetUpTestSuite() {
    Encode("sine.ogg", [](const std::string& raw, const std::string& out) {
      return std::vector<std::string>{"oggenc", "-Q", "--raw", "--raw-bits=16", "--raw-chan=2",
                                      "--raw-rate=44100", "-o", out, raw};
    });
  }
};

TEST_F(DXAudioOutOggTest, PlaysTheDecodedStreamExactlyThroughAPause) {
  PlaysExactlyThroughAPause<TVorbisIn>(sine_->Path());
}

class DXAudioOutMP3Test : public test::EncodedInputTest<TMP3In> {
 protected:
  static void SetUpTestSuite() {
    Encode("sine.mp3", [](const std::string& raw, const std::string& out) {
      return std::vector<std::string>{"lame", "-S", "-r", "-s", "44.1", "-b", "128", raw, out};
    });
  }
};

TEST_F(DXAudioOutMP3Test, PlaysTheDecodedStreamExactlyThroughAPause) {
  PlaysExactlyThroughAPause<TMP3In>(sine_->Path());
}

// 1000 Hz mono 16-bit: 2000 bytes a second.
TEST(DXAudioOut, SilentTailLastsTheBufferRoundedUpToWholeSeconds) {
  FakeSoundSystem fake;
  test::MemoryFileIn input(1400);
  Player player(fake, input);
  player.output.SetPollingInterval(100);
  player.output.SetFramesInBuffer(1400);  // 1.4 s: the tail must last 2 s
  ASSERT_TRUE(player.Play());
  EXPECT_TRUE(player.errors.empty());
  EXPECT_EQ(fake.SleptMs(), 100u + 2000u);
  const std::vector<uint8_t> written = fake.Written();
  ASSERT_GE(written.size(), 2800u);
  for (size_t i = 0; i < 2800; ++i) ASSERT_EQ(written[i], static_cast<uint8_t>(i)) << i;
  EXPECT_TRUE(AllBytesAre(written, 2800, 0));
  EXPECT_FALSE(fake.Playing());
}

TEST(DXAudioOut, UnderrunIsReportedAndPlaybackGoesOnWithoutLosingInput) {
  FakeSoundSystem fake;
  test::MemoryFileIn input(3000);
  Player player(fake, input);
  player.output.SetFramesInBuffer(200);
  player.output.SetPrefetchData(false);
  fake.StarveNextSleep();
  ASSERT_TRUE(player.Play());
  EXPECT_EQ(player.underruns, 1);
  EXPECT_TRUE(player.errors.empty());
  const std::vector<uint8_t> written = fake.Written();
  ASSERT_GE(written.size(), 6000u);
  for (size_t i = 0; i < 6000; ++i) ASSERT_EQ(written[i], static_cast<uint8_t>(i)) << i;
}

TEST(DXAudioOut, ShortPollsPrefetchNothingAndPlayTheWholeInput) {
  FakeSoundSystem fake;
  test::MemoryFileIn input(5000);
  Player player(fake, input);
  player.output.SetPollingInterval(1);  // a prefetch of less than a frame: nothing
  player.output.SetFramesInBuffer(100);
  ASSERT_TRUE(player.Play());
  EXPECT_TRUE(player.errors.empty());
  EXPECT_GE(fake.Written().size(), 10000u);
}

TEST(DXAudioOut, DeviceThatTakesNothingEndsTheRunAfterSixteenEmptyPolls) {
  FakeSoundSystem fake;
  test::MemoryFileIn input(100000);
  Player player(fake, input);
  player.output.SetFramesInBuffer(100);
  fake.Stall();
  ASSERT_TRUE(player.Play());
  ASSERT_EQ(player.errors.size(), 1u);
  EXPECT_EQ(player.errors[0], "Audio output error");
  EXPECT_EQ(fake.SleptMs(), 17u * 10u);
  EXPECT_FALSE(player.output.Busy());
}

TEST(DXAudioOut, DeviceNumbersAndWideFormats) {
  FakeSoundSystem fake(3);
  test::MemoryFileIn input(500);
  input.channels = 6;
  Player player(fake, input);
  EXPECT_THROW(player.output.SetDeviceNumber(-1), EAuException);
  player.output.SetDeviceNumber(5);  // checked when the run starts
  ASSERT_TRUE(player.Play());
  ASSERT_EQ(player.errors.size(), 1u);
  EXPECT_EQ(player.errors[0], "Invalid device number");
  EXPECT_EQ(fake.Buffers(), 0);

  player.errors.clear();
  player.output.SetDeviceNumber(2);
  player.done = 0;
  ASSERT_TRUE(player.Play());
  EXPECT_TRUE(player.errors.empty());
  const WaveFormatEx format = fake.Format();
  EXPECT_EQ(format.wFormatTag(), WAVE_FORMAT_EXTENSIBLE);
  EXPECT_EQ(format.nBlockAlign(), 12);
  ASSERT_EQ(format.cbSize(), 22);
  EXPECT_EQ(format.Extra()[2], 0x3F);
}

TEST(DXAudioOut, VolumeScalesEachSampleWidthAroundItsZero) {
  const double half = 0.5;
  std::vector<uint8_t> u8 = {128, 255, 0, 138};
  ScaleSamples(WaveFormatEx::Pcm(8000, 8, 1), u8.data(), 4, half);
  EXPECT_EQ(u8, (std::vector<uint8_t>{128, 192, 64, 133}));
  std::vector<uint8_t> s16 = {0x00, 0x80, 0xFF, 0x7F, 0x10, 0x00};  // -32768, 32767, 16
  ScaleSamples(WaveFormatEx::Pcm(8000, 16, 1), s16.data(), 6, half);
  EXPECT_EQ(s16, (std::vector<uint8_t>{0x00, 0xC0, 0x00, 0x40, 0x08, 0x00}));
  std::vector<uint8_t> s24 = {0x00, 0x00, 0x80, 0x02, 0x00, 0x00};  // -8388608, 2
  ScaleSamples(WaveFormatEx::Pcm(8000, 24, 1), s24.data(), 6, half);
  EXPECT_EQ(s24, (std::vector<uint8_t>{0x00, 0x00, 0xC0, 0x01, 0x00, 0x00}));
}

}  // namespace
}  // namespace pmx
