#include "recorder/recording_chain.h"

#include <sys/stat.h>

#include "platform/alsa_wave_driver.h"
#include "platform/fake_wave_driver.h"
#include "platform/main_loop.h"
#include "recorder/control_tick.h"
#include "tests/recorder/recorder_fixture.h"
#include "tests/recorder/wav_bytes.h"

namespace pmx::test {
namespace {

using namespace std::chrono_literals;

class Window : public TRecordingHost {
 public:
  bool Recording() override { return recording; }
  void SetRecording(bool value) override { recording = value; }
  void SetErrorPanelVisible(bool) override {}
  void SetStatusText(const std::string&) override {}
  void SetLengthText(const std::string&) override {}
  TWindowState WindowState() override { return TWindowState::wsMaximized; }
  int Left() override { return 0; }
  int Top() override { return 0; }
  void SetApplicationIcon(const std::string&) override {}

  bool recording = false;
};

uintmax_t FileSize(const std::filesystem::path& file) {
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(file, error);
  return error ? 0 : size;
}

// The recorder's chain capturing an ALSA file PCM that plays a ramp.
class RecordingChainTest : public RecorderTest {
 protected:
  RecordingChainTest() {
    std::filesystem::create_directory(folder_);
    RecorderOptions.RecordingFolder = folder_.string();
    RecorderOptions.SampleRateIndex = 3;
    RecorderOptions.ChannelsIndex = 3;
    RecorderOptions.SaveMode = 6;
    chain_.SetLifecycle(&lifecycle_);
    // The file PCM captures far faster than real time; a ring that dropped what the
    // disk can't take at that pace would hide what the test looks for.
    chain_.MMRingBuffer1.SetWaitIfFull(true);
  }

  // Puts the ramp where the device reads it, before the driver looks at it.
  AlsaWaveDriver::Options FileOptions(const TempDir& dir) const {
    std::ofstream(dir / "in.raw", std::ios::binary)
        .write(reinterpret_cast<const char*>(ramp_.data()), static_cast<std::streamsize>(ramp_.size()));
    AlsaWaveDriver::Options options;
    options.config = "pcm.ramp { type file slave.pcm { type null } file \"/dev/null\" infile \"" +
                     (dir / "in.raw").string() + "\" format raw }\n";
    options.mapper = "ramp";
    options.inputs = std::vector<AlsaWaveDriver::Device>{{"Ramp", "ramp"}};
    options.outputs = std::vector<AlsaWaveDriver::Device>{};
    return options;
  }

  // Stereo 16-bit at 44.1 kHz; the file PCM repeats stale bytes past its end.
  const std::vector<uint8_t> ramp_ = FakePcm::Ramp(WaveFormatEx::Pcm(44100, 16, 2), 0, 2'000'000);
  std::filesystem::path folder_ = home_ / "My Rec";
  AlsaWaveDriver driver_{FileOptions(home_)};
  ScopedWaveDriver driver_scope_{driver_};
  PlainMainLoop loop_;
  ScopedMainLoop loop_scope_{loop_};
  const RecorderClock::TimePoint start_ = LocalTimePoint(2026, 3, 7, 9, 5, 3);
  ScopedRecorderClock clock_{[this] { return start_; }};
  Window window_;
  TRecordingComponents chain_;
  TRecordingLifecycle lifecycle_{window_, chain_};
};

TEST_F(RecordingChainTest, RecordingHoldsEveryCapturedByteWithItsSizesAndStartTime) {
  ASSERT_TRUE(chain_.StartMonitor());
  lifecycle_.StartRecording();
  ASSERT_TRUE(window_.recording);
  const auto file = folder_ / "20260307090503.wav";
  ASSERT_TRUE(loop_.PumpUntil([&] { return FileSize(file) > 300'000; }, 60s));
  lifecycle_.StopRecording();
  EXPECT_FALSE(window_.recording);
  EXPECT_EQ(chain_.FileName(), "");

  const std::string bytes = ReadFile(file);
  const std::size_t data_at = bytes.find("data");
  ASSERT_NE(data_at, std::string::npos);
  const std::size_t data_size = bytes.size() - data_at - 8;
  EXPECT_EQ(Uint32At(bytes, 4), bytes.size() - 8);
  EXPECT_EQ(Uint32At(bytes, data_at + 4), data_size);
  ASSERT_LT(data_size, ramp_.size());
  EXPECT_EQ(data_size % 4, 0u);
  EXPECT_TRUE(std::equal(ramp_.begin(), ramp_.begin() + static_cast<long>(data_size),
                         reinterpret_cast<const uint8_t*>(bytes.data() + data_at + 8)));
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mtim.tv_sec, std::chrono::system_clock::to_time_t(start_));
}

TEST_F(RecorderTest, ARefusingDeviceLeavesTheRecorderIdle) {
  RecorderOptions.RecordingFolder = home_.path().string();
  FakeWaveDriver driver;
  ScopedWaveDriver driver_scope(driver);
  driver.FailNextOpen(MMSYSERR_ALLOCATED);
  Window window;
  TRecordingComponents chain;
  TRecordingLifecycle lifecycle(window, chain);
  chain.SetLifecycle(&lifecycle);
  EXPECT_NO_THROW(lifecycle.StartRecording());
  EXPECT_FALSE(window.recording);
}

}  // namespace
}  // namespace pmx::test
