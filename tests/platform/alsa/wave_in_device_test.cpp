#include "platform/alsa/wave_in_device.h"

#include <cerrno>
#include <cstring>
#include <future>

#include <gtest/gtest.h>

#include "platform/alsa/fake_wave_driver.h"
#include "platform/alsa/wave_out_device.h"
#include "platform/main_loop.h"
#include "tests/platform/alsa/wave_test_support.h"

namespace pmx {
namespace {

using test::WaveBuffers;
using test::WaveEvents;

class WaveInDeviceTest : public ::testing::Test {
 protected:
  void Open() {
    ASSERT_EQ(waveInOpen(device_, 0, format_, events_.Callback(), 0), MMSYSERR_NOERROR);
    pcm_ = driver_.Last(WaveDirection::kInput);
  }
  void Queue(WaveBuffers& buffers) {
    for (std::size_t i = 0; i < buffers.size(); ++i) {
      ASSERT_EQ(device_->AddBuffer(buffers[i]), MMSYSERR_NOERROR);
    }
  }
  bool Running() {
    return pcm_->Check([](const FakePcm& p) { return p.Running(); });
  }
  uint32_t Position(uint32_t type = TIME_SAMPLES) {
    MMTIME time{type, 0};
    EXPECT_EQ(device_->GetPosition(time), MMSYSERR_NOERROR);
    EXPECT_EQ(time.wType, type);
    return time.value;
  }

  FakeWaveDriver driver_;
  ScopedWaveDriver installed_{driver_};
  WaveFormatEx format_ = WaveFormatEx::Pcm(8000, 16, 2);
  WaveEvents events_;
  std::unique_ptr<WaveInDevice> device_;
  std::shared_ptr<FakePcm> pcm_;
};

TEST_F(WaveInDeviceTest, BuffersComeBackInOrderHoldingTheRampWithoutGaps) {
  Open();
  // 1002 bytes are 250.5 frames: every other buffer boundary splits a frame.
  WaveBuffers buffers({1002, 1002, 1002, 1002});
  Queue(buffers);
  ASSERT_EQ(device_->Start(), MMSYSERR_NOERROR);
  for (int i = 0; i < 11; ++i) pcm_->Advance(100);
  ASSERT_TRUE(events_.WaitDone(4));

  const auto done = events_.Done();
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(buffers.IndexOf(done[i].header), i);
    EXPECT_EQ(done[i].message, WIM_DATA);
    EXPECT_EQ(done[i].header->dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
  }
  EXPECT_EQ(test::Joined(done), FakePcm::Ramp(format_, 0, 1002));
  EXPECT_EQ(Position(), 1002u);
  EXPECT_EQ(device_->Overruns(), 0u);
  ASSERT_EQ(device_->Close(), MMSYSERR_NOERROR);
  EXPECT_EQ(events_.Messages().front(), WIM_OPEN);
  EXPECT_EQ(events_.Messages().back(), WIM_CLOSE);
}

TEST_F(WaveInDeviceTest, StopReturnsWhatWasCapturedAndResetReturnsNothing) {
  Open();
  WaveBuffers buffers({4000, 4000, 4000});
  Queue(buffers);
  ASSERT_EQ(device_->Start(), MMSYSERR_NOERROR);
  pcm_->Advance(300);
  // Stop takes what the device holds even if the I/O thread has not read it yet.
  ASSERT_EQ(device_->Stop(), MMSYSERR_NOERROR);
  ASSERT_TRUE(events_.WaitDone(1));
  EXPECT_EQ(Position(), 300u);
  EXPECT_EQ(Position(TIME_BYTES), 1200u);
  EXPECT_FALSE(Running());

  ASSERT_EQ(device_->Reset(), MMSYSERR_NOERROR);
  ASSERT_TRUE(events_.WaitDone(3));
  const auto done = events_.Done();
  EXPECT_EQ(buffers.IndexOf(done[0].header), 0);
  EXPECT_EQ(done[0].bytes, FakePcm::Ramp(format_, 0, 300));
  EXPECT_EQ(buffers.IndexOf(done[1].header), 1);
  EXPECT_EQ(buffers.IndexOf(done[2].header), 2);
  EXPECT_TRUE(done[1].bytes.empty());
  EXPECT_TRUE(done[2].bytes.empty());
  EXPECT_EQ(Position(), 0u);
}

TEST_F(WaveInDeviceTest, OverrunsAreCountedAndCaptureGoesOn) {
  driver_.SetBufferFrames(100);
  Open();
  ASSERT_EQ(device_->Start(), MMSYSERR_NOERROR);
  pcm_->Advance(150);  // no buffer queued: the device overruns
  WaveBuffers buffers({200});
  Queue(buffers);
  ASSERT_TRUE(pcm_->WaitUntil([](const FakePcm& p) { return p.Running() && !p.Xrun(); }));
  pcm_->Advance(50);
  ASSERT_TRUE(events_.WaitDone(1));
  EXPECT_EQ(device_->Overruns(), 1u);
  // The frames lost in the overrun are missing, nothing is repeated.
  EXPECT_EQ(events_.Done()[0].bytes, FakePcm::Ramp(format_, 150, 50));
  EXPECT_EQ(device_->LostFrames(), 150u);

  // The clock runs on while the device is overrun: those frames are lost too.
  pcm_->InjectXrun();
  pcm_->Advance(30);
  WaveBuffers more({200});
  ASSERT_EQ(device_->AddBuffer(more[0]), MMSYSERR_NOERROR);
  ASSERT_TRUE(pcm_->WaitUntil([](const FakePcm& p) { return p.Running() && !p.Xrun(); }));
  pcm_->Advance(50);
  ASSERT_TRUE(events_.WaitDone(2));
  EXPECT_EQ(device_->Overruns(), 2u);
  EXPECT_EQ(device_->LostFrames(), 180u);
  EXPECT_EQ(events_.Done()[1].bytes, FakePcm::Ramp(format_, 230, 50));

  // An overrun the device cannot come back from (a sound server gone away) is a
  // failure, not a loss: no frames are guessed from its time stamps.
  pcm_->FailNext(FakePcm::kPrepare, -EIO);
  pcm_->InjectXrun();
  pcm_->Advance(1000);
  WaveBuffers last({200});
  ASSERT_EQ(device_->AddBuffer(last[0]), MMSYSERR_NOERROR);
  ASSERT_TRUE(events_.WaitMessage(WIM_FAILED));
  EXPECT_EQ(device_->Failure(), "restart after overrun: " + std::string(std::strerror(EIO)));
  EXPECT_EQ(device_->Overruns(), 2u);
  EXPECT_EQ(device_->LostFrames(), 180u);
  device_.reset();  // hands the last buffer back while it still exists
}

TEST_F(WaveInDeviceTest, AReadStuckInTheDriverHoldsUpNeitherPositionNorQueueing) {
  Open();
  WaveBuffers buffers({400, 400});
  ASSERT_EQ(device_->AddBuffer(buffers[0]), MMSYSERR_NOERROR);
  ASSERT_EQ(device_->Start(), MMSYSERR_NOERROR);
  pcm_->SetReadDelay(std::chrono::milliseconds(200));
  pcm_->Advance(100);
  ASSERT_TRUE(pcm_->WaitUntil([](const FakePcm& p) { return p.ReadStuck(); }));
  const auto started = std::chrono::steady_clock::now();
  for (int i = 0; i < 20; ++i) Position();
  ASSERT_EQ(device_->AddBuffer(buffers[1]), MMSYSERR_NOERROR);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(100));
  ASSERT_TRUE(events_.WaitDone(1));
  EXPECT_EQ(events_.Done()[0].bytes, FakePcm::Ramp(format_, 0, 100));
  pcm_->SetReadDelay(std::chrono::milliseconds(0));
  ASSERT_EQ(device_->Reset(), MMSYSERR_NOERROR);  // before the buffers go
  ASSERT_TRUE(events_.WaitDone(2));
}

// A read stuck in the driver (a hanging USB device) must not hold up the thread
// that stops, resets or starts. The buffers are handed back; the I/O thread
// delivers them and drops the stream once the read returns, what that read brings
// is no one's, and the start that followed records afresh.
TEST_F(WaveInDeviceTest, StopAndResetDoNotWaitForAReadStuckInTheDriver) {
  const auto stuck = [](const FakePcm& p) { return p.ReadStuck(); };
  Open();
  WaveBuffers buffers({400, 400, 400});
  ASSERT_EQ(device_->AddBuffer(buffers[0]), MMSYSERR_NOERROR);
  ASSERT_EQ(device_->AddBuffer(buffers[1]), MMSYSERR_NOERROR);
  ASSERT_EQ(device_->Start(), MMSYSERR_NOERROR);
  pcm_->Advance(60);
  ASSERT_TRUE(pcm_->WaitUntil([](const FakePcm& p) { return p.Buffered() == 0; }));
  pcm_->SetReadDelay(std::chrono::seconds(10));
  pcm_->Advance(20);
  ASSERT_TRUE(pcm_->WaitUntil(stuck));
  ASSERT_EQ(device_->Stop(), MMSYSERR_NOERROR);
  ASSERT_EQ(device_->Reset(), MMSYSERR_NOERROR);
  ASSERT_EQ(device_->Start(), MMSYSERR_NOERROR);
  EXPECT_TRUE(pcm_->Check(stuck)) << "a call waited for the stuck read";
  pcm_->SetReadDelay(std::chrono::milliseconds(0));
  ASSERT_TRUE(events_.WaitDone(2));
  const auto done = events_.Done();
  EXPECT_EQ(done[0].bytes, FakePcm::Ramp(format_, 0, 60));
  EXPECT_TRUE(done[1].bytes.empty());
  ASSERT_TRUE(pcm_->WaitUntil([](const FakePcm& p) { return p.Starts() == 2; }));
  ASSERT_EQ(device_->AddBuffer(buffers[2]), MMSYSERR_NOERROR);
  pcm_->Advance(100);
  ASSERT_TRUE(events_.WaitDone(3));
  EXPECT_EQ(events_.Done()[2].bytes, FakePcm::Ramp(format_, 80, 100));
  ASSERT_EQ(device_->Reset(), MMSYSERR_NOERROR);
  EXPECT_EQ(device_->Close(), MMSYSERR_NOERROR);
}

TEST_F(WaveInDeviceTest, PositionWrapsAt32Bits) {
  driver_.SetStartFrame((uint64_t{1} << 32) - 100);
  Open();
  EXPECT_EQ(Position(), 0xFFFFFF9Cu);
  WaveBuffers buffers({1200});
  Queue(buffers);
  ASSERT_EQ(device_->Start(), MMSYSERR_NOERROR);
  pcm_->Advance(300);
  ASSERT_TRUE(events_.WaitDone(1));
  EXPECT_EQ(Position(), 200u);
  EXPECT_EQ(Position(TIME_BYTES), static_cast<uint32_t>(((uint64_t{1} << 32) + 200) * 4));
  // A unit the device does not count in is answered in samples.
  MMTIME time{TIME_MS, 0};
  ASSERT_EQ(device_->GetPosition(time), MMSYSERR_NOERROR);
  EXPECT_EQ(time.wType, TIME_SAMPLES);
  EXPECT_EQ(time.value, 200u);
}

TEST_F(WaveInDeviceTest, MisuseGetsTheResultCodes) {
  Open();
  WaveBuffers buffers({400, 400});
  buffers[0]->dwFlags = 0;
  EXPECT_EQ(device_->AddBuffer(buffers[0]), WAVERR_UNPREPARED);
  ASSERT_EQ(device_->AddBuffer(buffers[1]), MMSYSERR_NOERROR);
  EXPECT_EQ(device_->AddBuffer(buffers[1]), MMSYSERR_INVALPARAM);
  EXPECT_EQ(device_->UnprepareHeader(buffers[1]), WAVERR_STILLPLAYING);
  EXPECT_EQ(device_->Close(), WAVERR_STILLPLAYING);
  ASSERT_EQ(device_->Reset(), MMSYSERR_NOERROR);
  EXPECT_EQ(device_->UnprepareHeader(buffers[1]), MMSYSERR_NOERROR);
  EXPECT_EQ(buffers[1]->dwFlags & WHDR_PREPARED, 0u);

  // Close is refused from inside the callback.
  std::promise<MMRESULT> from_callback;
  events_.SetHook([&](WaveDevice& d, WAVEHDR* header) {
    if (header == buffers[0]) from_callback.set_value(d.Close());
  });
  ASSERT_EQ(device_->PrepareHeader(buffers[0]), MMSYSERR_NOERROR);
  ASSERT_EQ(device_->AddBuffer(buffers[0]), MMSYSERR_NOERROR);
  ASSERT_EQ(device_->Reset(), MMSYSERR_NOERROR);
  auto result = from_callback.get_future();
  ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(result.get(), MMSYSERR_HANDLEBUSY);
  ASSERT_EQ(device_->Close(), MMSYSERR_NOERROR);

  MMTIME time;
  EXPECT_EQ(device_->GetPosition(time), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(device_->Close(), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(device_->AddBuffer(buffers[1]), MMSYSERR_INVALHANDLE);
}

// The recorder retries a failed start on every tick and reports the run of
// failures itself: the device layer must not write to the journal each time.
TEST_F(WaveInDeviceTest, AFailedStartIsToldToTheCallerAloneAndSaysWhy) {
  Open();
  pcm_->FailNext(FakePcm::kStart, -EIO);
  testing::internal::CaptureStderr();
  for (int attempt = 0; attempt < 3; ++attempt) EXPECT_EQ(device_->Start(), MMSYSERR_ERROR);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(device_->Failure(), "start: " + std::string(std::strerror(EIO)));
  EXPECT_FALSE(Running());
}

TEST_F(WaveInDeviceTest, CloseServesACallbackWaitingForTheGuiThread) {
  PlainMainLoop loop;
  ScopedMainLoop installed(loop);
  bool served = false;
  auto callback = [&](WaveDevice&, uint32_t message, WAVEHDR*) {
    if (message == WIM_CLOSE) loop.Synchronize([&] { served = true; });
  };
  ASSERT_EQ(waveInOpen(device_, 0, format_, callback, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(device_->Close(), MMSYSERR_NOERROR);
  EXPECT_TRUE(served);
  EXPECT_EQ(device_->Start(), MMSYSERR_INVALHANDLE);
}

TEST_F(WaveInDeviceTest, OpenChecksDeviceFormatAndFlags) {
  std::unique_ptr<WaveInDevice> handle;
  EXPECT_EQ(waveInOpen(handle, 1, format_, nullptr, 0), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveInOpen(handle, -2, format_, nullptr, 0), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveInOpen(handle, 0, format_, nullptr, 0x100), MMSYSERR_INVALFLAG);
  EXPECT_EQ(waveInOpen(handle, 0, WaveFormatEx(), nullptr, 0), WAVERR_BADFORMAT);
  driver_.SetAccepts([](const WaveFormatEx& f) { return f.nChannels() == 1; });
  EXPECT_EQ(waveInOpen(handle, WAVE_MAPPER, format_, nullptr, WAVE_FORMAT_QUERY),
            WAVERR_BADFORMAT);
  EXPECT_EQ(waveInOpen(handle, WAVE_MAPPER, WaveFormatEx::Pcm(8000, 8, 1), nullptr,
                       WAVE_FORMAT_QUERY),
            MMSYSERR_NOERROR);
  EXPECT_EQ(handle, nullptr);
  driver_.FailNextOpen(MMSYSERR_ALLOCATED);
  EXPECT_EQ(waveInOpen(handle, 0, WaveFormatEx::Pcm(8000, 8, 1), nullptr, 0),
            MMSYSERR_ALLOCATED);
  EXPECT_EQ(handle, nullptr);
}

TEST(WaveDriverTest, ErrorTextsAndCapabilities) {
  std::string text;
  std::vector<std::string> texts;
  for (MMRESULT code : {MMSYSERR_NOERROR, MMSYSERR_ERROR, MMSYSERR_BADDEVICEID,
                        MMSYSERR_ALLOCATED, MMSYSERR_INVALHANDLE, MMSYSERR_NOMEM,
                        MMSYSERR_INVALPARAM, WAVERR_BADFORMAT, WAVERR_STILLPLAYING,
                        WAVERR_UNPREPARED}) {
    ASSERT_EQ(waveInGetErrorText(code, text), MMSYSERR_NOERROR) << code;
    EXPECT_LT(text.size(), 256u);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), text), 0) << text;
    texts.push_back(text);
  }
  text = "kept";
  EXPECT_EQ(waveOutGetErrorText(999, text), MMSYSERR_BADERRNUM);
  EXPECT_EQ(text, "kept");

  EXPECT_EQ(StandardWaveFormatBit(8000, 1, 8), WAVE_FORMAT_1M08);
  EXPECT_EQ(StandardWaveFormatBit(22050, 2, 8), WAVE_FORMAT_2S08);
  EXPECT_EQ(StandardWaveFormatBit(22051, 1, 16), WAVE_FORMAT_4M16);
  EXPECT_EQ(StandardWaveFormatBit(48000, 2, 16), WAVE_FORMAT_4S16);
  EXPECT_EQ(StandardWaveFormatBit(48001, 2, 16), 0u);
  EXPECT_EQ(StandardWaveFormatBit(44100, 3, 16), 0u);

  FakeWaveDriver driver;
  ScopedWaveDriver installed(driver);
  driver.SetDevices(WaveDirection::kInput,
                    {{"Line", WAVE_FORMAT_4S16, 2}, {"Mic", WAVE_FORMAT_1M08, 1}});
  EXPECT_EQ(waveInGetNumDevs(), 2u);
  EXPECT_EQ(waveOutGetNumDevs(), 1u);
  WAVEINCAPS caps;
  ASSERT_EQ(waveInGetDevCaps(1, caps), MMSYSERR_NOERROR);
  EXPECT_EQ(caps.szPname, "Mic");
  EXPECT_EQ(caps.dwFormats, WAVE_FORMAT_1M08);
  EXPECT_EQ(caps.wChannels, 1);
  ASSERT_EQ(waveInGetDevCaps(WAVE_MAPPER, caps), MMSYSERR_NOERROR);
  EXPECT_EQ(caps.szPname, "Line");
  EXPECT_EQ(waveInGetDevCaps(2, caps), MMSYSERR_BADDEVICEID);
  WAVEOUTCAPS out;
  ASSERT_EQ(waveOutGetDevCaps(0, out), MMSYSERR_NOERROR);
  EXPECT_EQ(out.szPname, "Fake Output");
}

}  // namespace
}  // namespace pmx
