#include "platform/alsa/alsa_wave_driver.h"

#include <atomic>
#include <future>
#include <numeric>

#include <gtest/gtest.h>

#include "platform/alsa/alsa_pcm.h"
#include "platform/alsa/alsa_wave_stream.h"
#include "platform/alsa/fake_wave_driver.h"
#include "platform/alsa/wave_in_device.h"
#include "platform/alsa/wave_out_device.h"
#include "tests/platform/alsa/wave_test_support.h"
#include "tests/support/alsa_file_pcm.h"
#include "tests/support/file_bytes.h"
#include "tests/support/temp_dir.h"

namespace pmx {
namespace {

using test::WaveBuffers;
using test::WaveEvents;

class AlsaWaveDriverTest : public ::testing::Test {
 protected:
  void SetUp() override { test::PutFile(dir_ / "in.raw", FakePcm::Ramp(format_, 0, 200000)); }

  test::TempDir dir_;
  AlsaWaveDriver driver_{test::FilePcmOptions(dir_)};
  ScopedWaveDriver installed_{driver_};
  WaveFormatEx format_ = WaveFormatEx::Pcm(44100, 16, 2);
  WaveEvents events_;
};

TEST(AlsaDeviceList, DefaultIsDeviceZeroWithOrWithoutCards) {
  using Device = AlsaWaveDriver::Device;
  const std::vector<Device> alone = AlsaWaveDriver::DeviceList("default", {});
  ASSERT_EQ(alone.size(), 1u);
  EXPECT_EQ(alone[0].pcm, "default");
  const std::vector<Device> two =
      AlsaWaveDriver::DeviceList("default", {{"Card A", "plughw:CARD=A,DEV=0"}, {"Card B", "plughw:CARD=B,DEV=0"}});
  ASSERT_EQ(two.size(), 3u);
  EXPECT_EQ(two[0].pcm, "default");
  EXPECT_EQ(two[1].pcm, "plughw:CARD=A,DEV=0");
  EXPECT_EQ(two[2].name, "Card B");
}

// A machine whose only capture is its "default" PCM (a sound server, an .asoundrc).
TEST(AlsaDeviceList, TheSystemListOpensDefaultAsDeviceZero) {
  test::TempDir dir;
  test::PutFile(dir / "in.raw", std::vector<uint8_t>(4000, 7));
  AlsaWaveDriver::Options options = test::FilePcmOptions(dir);
  options.inputs.reset();  // the cards of this machine, if any, after it
  AlsaWaveDriver driver(options);
  ASSERT_GE(driver.NumDevs(WaveDirection::kInput), 1u);
  WaveDeviceCaps caps;
  ASSERT_EQ(driver.GetCaps(WaveDirection::kInput, 0, caps), MMSYSERR_NOERROR);
  EXPECT_EQ(caps.name, "ramp");
  std::unique_ptr<WaveStream> stream;
  EXPECT_EQ(driver.Open(WaveDirection::kInput, 0, WaveFormatEx::Pcm(44100, 16, 2), false, stream),
            MMSYSERR_NOERROR);
  EXPECT_NE(stream, nullptr);
}

// A sound server takes a playback stream's start threshold, as a 32-bit count
// of bytes, for how much to hold before it plays. Told nothing (the boundary
// overflows it) it plays from the prepare on and drops every frame written
// later than its reading position: the first writes of each run, and whatever
// came late under load.
TEST(AlsaPcmSetUp, PlaybackStartsOnlyWhenToldYetASoundServerHoldsItsFrames) {
  snd_config_t* config = LoadAlsaConfig("pcm.out { type null }\n");
  ASSERT_NE(config, nullptr);
  snd_pcm_t* pcm = nullptr;
  ASSERT_EQ(OpenAlsaPcm(&pcm, "out", WaveDirection::kOutput, config), 0);
  const AlsaPcmRequest request{.sample = SND_PCM_FORMAT_S16_LE, .channels = 2, .rate = 44100,
                               .buffer_us = 100000, .period_us = 25000};
  AlsaPcmGeometry got;
  ASSERT_EQ(SetUpAlsaPcm(pcm, request, got), 0);
  snd_pcm_sw_params_t* sw;
  snd_pcm_sw_params_alloca(&sw);
  ASSERT_EQ(snd_pcm_sw_params_current(pcm, sw), 0);
  snd_pcm_uframes_t start = 0;
  ASSERT_EQ(snd_pcm_sw_params_get_start_threshold(sw, &start), 0);
  EXPECT_LE(start * 4, uint64_t{UINT32_MAX});
  // A full buffer does not start it.
  const std::vector<int16_t> frames(2 * got.buffer_frames, 5);
  EXPECT_EQ(snd_pcm_writei(pcm, frames.data(), got.buffer_frames),
            static_cast<snd_pcm_sframes_t>(got.buffer_frames));
  EXPECT_EQ(snd_pcm_state(pcm), SND_PCM_STATE_PREPARED);
  snd_pcm_close(pcm);
  snd_config_delete(config);
}

// Capabilities come from the first open of a device: an open that configured a
// format must not leave that format behind as the device's only one.
TEST(AlsaDeviceCaps, AnOpenTellsWhatAProbeWould) {
  AlsaWaveDriver::Options options;
  options.config =
      "pcm.mono { type multi slaves.a { pcm { type null } channels 1 }"
      " bindings.0 { slave a channel 0 } }\n";
  options.mapper = "mono";
  options.inputs = std::vector<AlsaWaveDriver::Device>{{"Mono", "mono"}};
  AlsaWaveDriver probed(options);
  AlsaWaveDriver opened(options);
  std::unique_ptr<WaveStream> stream;
  ASSERT_EQ(opened.Open(WaveDirection::kInput, 0, WaveFormatEx::Pcm(22050, 8, 1), false, stream),
            MMSYSERR_NOERROR);
  WaveDeviceCaps by_probe;
  WaveDeviceCaps by_open;
  ASSERT_EQ(probed.GetCaps(WaveDirection::kInput, 0, by_probe), MMSYSERR_NOERROR);
  ASSERT_EQ(opened.GetCaps(WaveDirection::kInput, 0, by_open), MMSYSERR_NOERROR);
  EXPECT_EQ(by_open.name, "Mono");
  EXPECT_EQ(by_open.formats, by_probe.formats);
  EXPECT_EQ(by_open.channels, by_probe.channels);
  EXPECT_EQ(by_probe.formats & StandardWaveFormatBit(44100, 2, 16), 0u);
  EXPECT_NE(by_probe.formats & StandardWaveFormatBit(44100, 1, 16), 0u);
}

TEST_F(AlsaWaveDriverTest, CaptureOfARampIsExactWithoutGapOrRepeat) {
  // The file PCM repeats stale bytes past the end of its file: stop well before it.
  constexpr std::size_t kTarget = 4 * 150000;
  std::unique_ptr<WaveInDevice> device;
  ASSERT_EQ(waveInOpen(device, 0, format_, events_.Callback(), 0), MMSYSERR_NOERROR);

  std::atomic<std::size_t> captured{0};
  std::atomic<int> queued{0};
  std::promise<void> enough;
  events_.SetHook([&](WaveDevice& d, WAVEHDR* header) {
    // Runs on the I/O thread, one call after the other.
    const bool more = captured < kTarget;
    captured += header->dwBytesRecorded;
    if (captured < kTarget) {
      ASSERT_EQ(static_cast<WaveInDevice&>(d).AddBuffer(header), MMSYSERR_NOERROR);
      ++queued;
    } else if (more) {
      enough.set_value();
    }
  });
  WaveBuffers buffers(std::vector<uint32_t>(8, 16002));  // frames straddle buffers
  for (std::size_t i = 0; i < buffers.size(); ++i) {
    ASSERT_EQ(device->AddBuffer(buffers[i]), MMSYSERR_NOERROR);
    ++queued;
  }
  ASSERT_EQ(device->Start(), MMSYSERR_NOERROR);
  ASSERT_EQ(enough.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
  ASSERT_EQ(device->Stop(), MMSYSERR_NOERROR);
  ASSERT_EQ(device->Reset(), MMSYSERR_NOERROR);
  ASSERT_TRUE(events_.WaitDone(static_cast<std::size_t>(queued.load())));
  ASSERT_EQ(device->Close(), MMSYSERR_NOERROR);

  const std::vector<uint8_t> got = test::Joined(events_.Done());
  ASSERT_GE(got.size(), kTarget);
  ASSERT_LT(got.size(), 4u * 200000);
  std::vector<uint8_t> ramp = FakePcm::Ramp(format_, 0, got.size() / 4 + 1);
  ramp.resize(got.size());
  EXPECT_EQ(test::FirstDifference(got, ramp), -1) << got.size();
  EXPECT_EQ(device->Overruns(), 0u);
}

// Each period wakes the sound server and the capture thread: a recorder's large
// buffers get periods as long, but a running stream keeps what it has.
TEST_F(AlsaWaveDriverTest, CapturePeriodFollowsTheBuffersUntilTheStreamRuns) {
  std::unique_ptr<WaveStream> opened;
  ASSERT_EQ(driver_.Open(WaveDirection::kInput, 0, format_, false, opened), MMSYSERR_NOERROR);
  auto* stream = dynamic_cast<AlsaWaveStream*>(opened.get());
  ASSERT_NE(stream, nullptr);
  const snd_pcm_uframes_t short_period = stream->PeriodFrames();
  EXPECT_LE(short_period, 44100u / 40);
  stream->SetWakeFrames(4000);
  EXPECT_GE(stream->PeriodFrames(), 3900u);
  EXPECT_LE(stream->PeriodFrames(), 4100u);
  ASSERT_EQ(stream->Start(), 0);
  const snd_pcm_uframes_t running = stream->PeriodFrames();
  stream->SetWakeFrames(8000);
  EXPECT_EQ(stream->PeriodFrames(), running);
  std::vector<uint8_t> data(4000 * 4);
  long got = 0;
  for (int tries = 0; tries < 100 && got == 0; ++tries) {
    stream->Wait(true, 100);
    got = stream->Read(data.data(), 4000);
  }
  ASSERT_GT(got, 0);
  std::vector<uint8_t> ramp = FakePcm::Ramp(format_, 0, static_cast<std::size_t>(got));
  data.resize(ramp.size());
  EXPECT_EQ(test::FirstDifference(data, ramp), -1);
}

// A recorder that nobody watches wakes no sooner than its driver says, whatever
// its buffers; the recording stays exact.
TEST_F(AlsaWaveDriverTest, CaptureWithALeastWakeTakesLongPeriodsAndStaysExact) {
  AlsaWaveDriver::Options options = test::FilePcmOptions(dir_);
  options.capture_buffer_ms = 1000;
  options.capture_wake_ms = 250;
  AlsaWaveDriver unwatched(options);
  std::unique_ptr<WaveStream> opened;
  ASSERT_EQ(unwatched.Open(WaveDirection::kInput, 0, format_, false, opened), MMSYSERR_NOERROR);
  auto* stream = dynamic_cast<AlsaWaveStream*>(opened.get());
  ASSERT_NE(stream, nullptr);
  EXPECT_GE(stream->PeriodFrames(), 44100u / 4 - 100);
  stream->SetWakeFrames(4000);
  EXPECT_GE(stream->PeriodFrames(), 44100u / 4 - 100);
  EXPECT_LE(stream->PeriodFrames(), 44100u / 2);
  ASSERT_EQ(stream->Start(), 0);
  std::vector<uint8_t> data;
  std::vector<uint8_t> chunk(4000 * 4);
  for (int tries = 0; tries < 100 && data.size() < 30000 * 4; ++tries) {
    stream->Wait(true, 100);
    const long got = stream->Read(chunk.data(), 4000);
    if (got > 0) data.insert(data.end(), chunk.begin(), chunk.begin() + got * 4);
  }
  ASSERT_GE(data.size(), 30000u * 4);
  EXPECT_EQ(test::FirstDifference(data, FakePcm::Ramp(format_, 0, data.size() / 4)), -1);
}

TEST_F(AlsaWaveDriverTest, PlaybackWritesExactlyTheQueuedBytes) {
  WaveBuffers buffers({17640, 4002, 1001, 30001, 4});  // 13162 frames
  std::vector<uint8_t> source(17640 + 4002 + 1001 + 30001 + 4);
  std::iota(source.begin(), source.end(), uint8_t{3});
  buffers.Fill(source);
  std::unique_ptr<WaveOutDevice> device;
  ASSERT_EQ(waveOutOpen(device, 0, format_, events_.Callback(), 0), MMSYSERR_NOERROR);
  ASSERT_EQ(device->Pause(), MMSYSERR_NOERROR);
  ASSERT_EQ(device->Write(buffers[0]), MMSYSERR_NOERROR);
  ASSERT_EQ(device->Write(buffers[1]), MMSYSERR_NOERROR);
  ASSERT_EQ(device->Restart(), MMSYSERR_NOERROR);
  ASSERT_EQ(device->Pause(), MMSYSERR_NOERROR);
  for (std::size_t i = 2; i < buffers.size(); ++i) {
    ASSERT_EQ(device->Write(buffers[i]), MMSYSERR_NOERROR);
  }
  ASSERT_EQ(device->Restart(), MMSYSERR_NOERROR);
  ASSERT_TRUE(events_.WaitDone(5));
  MMTIME position{TIME_BYTES, 0};
  ASSERT_EQ(device->GetPosition(position), MMSYSERR_NOERROR);
  EXPECT_EQ(position.value, source.size());

  // After Reset the next buffer plays from its start.
  ASSERT_EQ(device->Reset(), MMSYSERR_NOERROR);
  ASSERT_EQ(device->Write(buffers[0]), MMSYSERR_NOERROR);
  ASSERT_TRUE(events_.WaitDone(6));
  ASSERT_EQ(device->Close(), MMSYSERR_NOERROR);
  device.reset();

  source.insert(source.end(), source.begin(), source.begin() + 17640);
  EXPECT_EQ(test::FirstDifference(test::FileBytes(dir_ / "out.raw"), source), -1)
      << test::FileBytes(dir_ / "out.raw").size() << " of " << source.size();
  EXPECT_EQ(events_.Messages().back(), WOM_CLOSE);
}

TEST_F(AlsaWaveDriverTest, CapabilitiesAndFormatQueries) {
  WaveFormatEx mp3 = format_;
  mp3.set_wFormatTag(WAVE_FORMAT_MPEGLAYER3);
  std::unique_ptr<WaveInDevice> device;
  EXPECT_EQ(waveInOpen(device, 0, mp3, nullptr, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
  EXPECT_EQ(waveInOpen(device, 0, format_, nullptr, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
  EXPECT_EQ(waveInOpen(device, WAVE_MAPPER, WaveFormatEx::Pcm(8000, 8, 1), nullptr,
                       WAVE_FORMAT_QUERY),
            MMSYSERR_NOERROR);
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(waveInOpen(device, 1, format_, nullptr, 0), MMSYSERR_BADDEVICEID);

  WAVEINCAPS caps;
  ASSERT_EQ(waveInGetDevCaps(0, caps), MMSYSERR_NOERROR);
  EXPECT_EQ(caps.szPname, "Ramp");
  EXPECT_EQ(caps.dwFormats, kAllStandardWaveFormats);
  EXPECT_EQ(waveInGetNumDevs(), 1u);

  AlsaWaveDriver::Options broken;
  broken.config = "pcm.x { type";
  broken.inputs = std::vector<AlsaWaveDriver::Device>{{"X", "x"}};
  AlsaWaveDriver unusable(broken);
  std::unique_ptr<WaveStream> stream;
  EXPECT_NE(unusable.Open(WaveDirection::kInput, 0, format_, false, stream), MMSYSERR_NOERROR);

  for (const auto& device_entry : AlsaWaveDriver::CardDevices(WaveDirection::kOutput)) {
    EXPECT_EQ(device_entry.pcm.rfind("plughw:", 0), 0u) << device_entry.pcm;
  }
}

}  // namespace
}  // namespace pmx
