#include <algorithm>

#include <gtest/gtest.h>

#include "audio/core/chain/ring_buffer.h"
#include "audio/core/chain/wave_in.h"
#include "audio/core/chain/wave_out.h"
#include "audio/core/files/wave_file.h"
#include "platform/alsa/alsa_wave_driver.h"
#include "platform/alsa/fake_wave_driver.h"
#include "platform/codecs/acm.h"
#include "platform/main_loop.h"
#include "tests/support/acm_test_support.h"
#include "tests/support/alsa_file_pcm.h"
#include "tests/support/chain_test_nodes.h"
#include "tests/support/file_bytes.h"
#include "tests/support/temp_dir.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;

// Devices of ALSA file PCMs: capture reads in.raw, playback writes out.raw.
class WaveAlsaTest : public ::testing::Test {
 protected:
  // Stereo 16-bit at 44.1 kHz: frames of 4 bytes.
  std::vector<uint8_t> Ramp(std::size_t frames) const {
    return FakePcm::Ramp(WaveFormatEx::Pcm(44100, 16, 2), 0, frames);
  }

  // Records until in stops itself (its limit), then closes it; false on timeout.
  bool RecordUntilStopped(TMMWaveIn& in, std::chrono::seconds timeout) {
    int stops = 0;
    in.OnStop = [&](TObject*) { ++stops; };
    in.Start();
    const bool stopped = loop_.PumpUntil([&] { return stops == 1; }, timeout);
    in.Close();
    return stopped;
  }

  static void WriteTo(TMMWaveFile& file, const std::string& name) {
    file.Wave()->SetFileMustExist(false);
    file.Wave()->SetFileName(name);
  }

  test::TempDir dir_;
  AlsaWaveDriver driver_{test::FilePcmOptions(dir_)};
  ScopedWaveDriver driver_scope_{driver_};
  PlainMainLoop loop_;
  ScopedMainLoop loop_scope_{loop_};
};

TEST_F(WaveAlsaTest, CaptureOfARampReachesTheChainExactly) {
  // The file PCM repeats stale bytes past the end of its file: stop well before it.
  constexpr std::size_t kFileFrames = 2'000'000;
  test::PutFile(dir_ / "in.raw", Ramp(kFileFrames));
  // The limit stops the capture from inside a handler, well before the file's end
  // and in the middle of a buffer.
  constexpr int32_t kLimit = 4 * 150'001;
  for (TMMCBMode mode : {TMMCBMode::cmThread, TMMCBMode::cmWindow}) {
    test::TestSink sink;
    TMMWaveIn in;
    in.SetCallBackMode(mode);
    in.SetSampleRate(44100);
    in.SetBitLength(TMMBits::b16Bit);
    in.SetMode(TMMMode::mStereo);
    in.SetBufferSize(16002);  // 16000 once open: whole frames
    in.SetNumBuffers(8);
    in.SetMaxRecordTime(kLimit);
    int stops = 0;
    in.OnStop = [&](TObject*) { ++stops; };
    in.SetOutput(&sink);
    in.Start();
    ASSERT_TRUE(loop_.PumpUntil([&] { return stops == 1; }, 60s));
    in.Close();

    EXPECT_EQ(sink.Total(), static_cast<std::size_t>(kLimit));
    EXPECT_TRUE(sink.Bytes() == Ramp(kLimit / 4));
    EXPECT_EQ(in.Overruns(), 0u);
  }
}

// The bytes of chunk id of a RIFF/WAVE image; empty without one.
std::vector<uint8_t> Chunk(const std::vector<uint8_t>& image, const char* id) {
  auto le32 = [&](std::size_t at) {
    return static_cast<uint32_t>(image[at] | image[at + 1] << 8 | image[at + 2] << 16 |
                                 image[at + 3] << 24);
  };
  for (std::size_t at = 12; at + 8 <= image.size(); at += 8 + ((le32(at + 4) + 1) & ~1u)) {
    if (std::equal(image.begin() + static_cast<long>(at), image.begin() + static_cast<long>(at) + 4,
                   id)) {
      const std::size_t size = std::min<std::size_t>(le32(at + 4), image.size() - at - 8);
      return std::vector<uint8_t>(image.begin() + static_cast<long>(at) + 8,
                                  image.begin() + static_cast<long>(at + 8 + size));
    }
  }
  return {};
}

TEST_F(WaveAlsaTest, AMinuteRecordedThroughRingAndFileHoldsTheRampExactly) {
  constexpr std::size_t kFrames = 60 * 44100;
  test::PutFile(dir_ / "in.raw", Ramp(kFrames + 4 * 44100));
  const std::string name = dir_ / "rec.wav";
  TMMWaveIn in;
  in.SetCallBackMode(TMMCBMode::cmThread);
  in.SetSampleRate(44100);
  in.SetBitLength(TMMBits::b16Bit);
  in.SetMode(TMMMode::mStereo);
  in.SetBufferSize(16000);
  in.SetNumBuffers(20);
  in.SetTimeFormat(TMMTimeFormats::tfMillisecond);
  in.SetMaxRecordTime(60'000);
  TMMRingBuffer ring;
  ring.SetQueueMode(TMMQueueMode::qmWrite);
  ring.SetWaitIfFull(true);  // the file PCM captures faster than real time
  TMMWaveFile file;
  WriteTo(file, name);
  in.SetOutput(&ring);
  ring.SetOutput(&file);
  ASSERT_TRUE(RecordUntilStopped(in, 120s));

  const std::vector<uint8_t> data = Chunk(test::FileBytes(name), "data");
  ASSERT_EQ(data.size(), 4 * kFrames);
  EXPECT_TRUE(data == Ramp(kFrames));
  EXPECT_EQ(in.Overruns(), 0u);
}

TEST_F(WaveAlsaTest, RecordingInACodecFormatWritesBlocksThatDecodeToTheInput) {
  const WaveFormatEx pcm = WaveFormatEx::Pcm(8000, 16, 1);
  const std::vector<uint8_t> tone = test::TonePcm16(pcm, 3.0);
  test::PutFile(dir_ / "in.raw", tone);
  for (const auto& [tag, floor_db] : {std::pair{WAVE_FORMAT_IMA_ADPCM, 25.0},
                                      std::pair{WAVE_FORMAT_GSM610, 8.0}}) {
    WaveFormatEx codec;
    codec.set_wFormatTag(tag);
    ASSERT_EQ(acmFormatSuggest(nullptr, pcm, codec, 1024, ACM_FORMATSUGGESTF_WFORMATTAG),
              MMSYSERR_NOERROR);
    const std::string name = dir_ / ("rec" + std::to_string(tag) + ".wav");
    TMMWaveIn in;
    in.SetCallBackMode(TMMCBMode::cmThread);
    in.SetPWaveFormat(&codec);
    in.SetBufferSize(4000);
    in.SetTimeFormat(TMMTimeFormats::tfMillisecond);
    in.SetMaxRecordTime(2000);  // the file PCM repeats stale bytes past its end
    TMMWaveFile file;
    WriteTo(file, name);
    in.SetOutput(&file);
    ASSERT_TRUE(RecordUntilStopped(in, 60s));

    const std::vector<uint8_t> image = test::FileBytes(name);
    EXPECT_TRUE(std::ranges::equal(Chunk(image, "fmt "), codec.Bytes())) << tag;
    const std::vector<uint8_t> data = Chunk(image, "data");
    ASSERT_FALSE(data.empty());
    EXPECT_EQ(data.size() % codec.nBlockAlign(), 0u);
    const auto decoded = test::Convert(codec, pcm, data);
    EXPECT_GE(decoded.size(), 2u * 8000 * 2);
    EXPECT_GE(test::DelayedSnrDb(tone, decoded, 1, 400), floor_db) << tag;
    EXPECT_EQ(in.Overruns(), 0u);
  }
}

TEST_F(WaveAlsaTest, PlaybackWritesTheSourceInOrderAcrossPauseAndReset) {
  constexpr std::size_t kBytes = 4 * 300'000;
  const std::vector<uint8_t> data = Ramp(kBytes / 4);
  test::TestSource source(data);
  const WaveFormatEx format = WaveFormatEx::Pcm(44100, 16, 2);
  source.SetPWaveFormat(&format);
  test::TestSink sink;
  TMMWaveOut out;
  out.SetBufferSize(16000);
  out.SetNumBuffers(4);
  out.SetInput(&source);
  out.SetOutput(&sink);
  int stops = 0;
  out.OnStop = [&](TObject*) { ++stops; };

  out.Start();
  ASSERT_TRUE(sink.WaitTotal(64'000));
  out.Pause();
  out.Restart();
  ASSERT_TRUE(sink.WaitTotal(160'000));
  out.ResetDevice();
  // The reset dropped what was queued and primed four buffers afresh.
  const std::size_t pulled = source.Delivered() - 4 * 16'000;
  ASSERT_TRUE(loop_.PumpUntil([&] { return stops == 1; }, 60s));
  out.Close();

  const std::vector<uint8_t> written = test::FileBytes(dir_ / "out.raw");
  ASSERT_GE(written.size(), kBytes - pulled);
  const std::size_t heard = written.size() - (kBytes - pulled);
  ASSERT_LE(heard, pulled);
  EXPECT_EQ(heard % 4, 0u);
  std::vector<uint8_t> expected(data.begin(), data.begin() + static_cast<long>(heard));
  expected.insert(expected.end(), data.begin() + static_cast<long>(pulled), data.end());
  EXPECT_TRUE(written == expected) << heard << " of " << pulled;
}

}  // namespace
}  // namespace pmx
