#include "platform/alsa/wave_out_device.h"

#include <numeric>

#include <gtest/gtest.h>

#include "platform/alsa/fake_wave_driver.h"
#include "tests/platform/alsa/wave_test_support.h"

namespace pmx {
namespace {

using test::WaveBuffers;
using test::WaveEvents;

std::vector<uint8_t> Source(std::size_t count) {
  std::vector<uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return bytes;
}

class WaveOutDeviceTest : public ::testing::Test {
 protected:
  // 16-bit mono: odd buffer sizes split frames between buffers.
  void Open(const std::vector<uint32_t>& sizes) {
    buffers_ = std::make_unique<WaveBuffers>(sizes);
    source_ = Source(std::accumulate(sizes.begin(), sizes.end(), std::size_t{0}));
    buffers_->Fill(source_);
    ASSERT_EQ(waveOutOpen(device_, 0, format_, events_.Callback(), 0), MMSYSERR_NOERROR);
    pcm_ = driver_.Last(WaveDirection::kOutput);
  }
  void WriteAll() {
    for (std::size_t i = 0; i < buffers_->size(); ++i) {
      ASSERT_EQ(device_->Write((*buffers_)[i]), MMSYSERR_NOERROR);
    }
  }
  bool Running() {
    return pcm_->Check([](const FakePcm& p) { return p.Running(); });
  }
  uint32_t Position() {
    MMTIME time{TIME_SAMPLES, 0};
    EXPECT_EQ(device_->GetPosition(time), MMSYSERR_NOERROR);
    return time.value;
  }
  // Waits until the device buffer holds frames (the I/O thread has caught up).
  void WaitBuffered(uint64_t frames) {
    ASSERT_TRUE(pcm_->WaitUntil([frames](const FakePcm& p) { return p.Buffered() == frames; }));
  }
  bool Done(std::size_t i) { return ((*buffers_)[i]->dwFlags & WHDR_DONE) != 0; }
  // Once the device has seen its stream run dry, the clock runs on for a second:
  // the device judges by this clock when what it was given last has had its time.
  void RunDry() {
    ASSERT_TRUE(pcm_->WaitUntil([](const FakePcm& p) { return p.Settled(); }));
    pcm_->Advance(format_.nSamplesPerSec());
  }

  FakeWaveDriver driver_;
  ScopedWaveDriver installed_{driver_};
  WaveFormatEx format_ = WaveFormatEx::Pcm(8000, 16, 1);
  WaveEvents events_;
  std::unique_ptr<WaveBuffers> buffers_;
  std::vector<uint8_t> source_;
  std::unique_ptr<WaveOutDevice> device_;
  std::shared_ptr<FakePcm> pcm_;
};

TEST_F(WaveOutDeviceTest, PrimedWhilePausedThenPlaysEveryByteInOrder) {
  driver_.SetBufferFrames(256);
  Open({301, 401, 500});  // 601 frames
  ASSERT_EQ(device_->Pause(), MMSYSERR_NOERROR);
  WriteAll();
  // Nothing reaches the device while paused: a sound server plays what it is
  // given, started or not.
  EXPECT_TRUE(pcm_->Check([](const FakePcm& p) { return p.Buffered() == 0; }));
  EXPECT_FALSE(Running());
  pcm_->Advance(100);
  EXPECT_EQ(Position(), 0u);

  ASSERT_EQ(device_->Restart(), MMSYSERR_NOERROR);
  EXPECT_TRUE(Running());
  pcm_->Advance(150);
  EXPECT_EQ(Position(), 150u);
  EXPECT_FALSE(Done(0));  // 301 bytes: its last byte belongs to frame 150
  pcm_->Advance(1);
  EXPECT_EQ(Position(), 151u);
  EXPECT_TRUE(Done(0));
  EXPECT_FALSE(Done(1));

  for (int i = 0; i < 5; ++i) {
    WaitBuffered(std::min<uint64_t>(256, 601 - 151 - i * 100));
    pcm_->Advance(100);
  }
  ASSERT_TRUE(events_.WaitDone(3));
  const auto done = events_.Done();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(buffers_->IndexOf(done[i].header), i);
  EXPECT_EQ(pcm_->PlayedBytes(), source_);
  EXPECT_EQ(device_->Underruns(), 0u);  // running dry at the end is no underrun
  EXPECT_EQ(Position(), 601u);
}

TEST_F(WaveOutDeviceTest, PauseAndRestartNeitherRepeatNorSkip) {
  driver_.SetBufferFrames(128);
  Open({800, 800, 800});  // 1200 frames
  WriteAll();
  WaitBuffered(128);
  for (int round = 0; round < 4; ++round) {
    pcm_->Advance(90);
    ASSERT_EQ(device_->Pause(), MMSYSERR_NOERROR);
    pcm_->Advance(50);  // paused: nothing plays
    ASSERT_EQ(device_->Restart(), MMSYSERR_NOERROR);
    WaitBuffered(128);
  }
  EXPECT_EQ(Position(), 360u);
  for (uint64_t left = 1200 - 360; left > 0; left -= std::min<uint64_t>(left, 100)) {
    WaitBuffered(std::min<uint64_t>(left, 128));
    pcm_->Advance(100);
  }
  ASSERT_TRUE(events_.WaitDone(3));
  EXPECT_EQ(pcm_->PlayedBytes(), source_);
}

TEST_F(WaveOutDeviceTest, ResetReturnsEveryBufferAndZeroesThePosition) {
  driver_.SetBufferFrames(100);
  Open({400, 400, 400});
  WriteAll();
  WaitBuffered(100);
  pcm_->Advance(60);
  EXPECT_EQ(Position(), 60u);
  ASSERT_EQ(device_->Reset(), MMSYSERR_NOERROR);
  ASSERT_TRUE(events_.WaitDone(3));
  const auto done = events_.Done();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(buffers_->IndexOf(done[i].header), i);
  EXPECT_EQ(Position(), 0u);
  EXPECT_FALSE(Running());

  // Playback starts afresh with the next buffer.
  ASSERT_EQ(device_->Write((*buffers_)[0]), MMSYSERR_NOERROR);
  WaitBuffered(100);
  pcm_->Advance(100);
  WaitBuffered(100);
  pcm_->Advance(100);
  RunDry();
  ASSERT_TRUE(events_.WaitDone(4));
  std::vector<uint8_t> expected(source_.begin(), source_.begin() + 120);
  expected.insert(expected.end(), source_.begin(), source_.begin() + 400);
  EXPECT_EQ(pcm_->PlayedBytes(), expected);
  EXPECT_EQ(Position(), 200u);
}

TEST_F(WaveOutDeviceTest, UnderrunsAreCountedAndNothingIsLost) {
  driver_.SetBufferFrames(100);
  Open({400, 400});
  WriteAll();
  WaitBuffered(100);
  pcm_->Advance(150);  // the device runs dry while data waits
  ASSERT_TRUE(pcm_->WaitUntil([](const FakePcm& p) { return p.Running() && !p.Xrun(); }));
  EXPECT_EQ(device_->Underruns(), 1u);
  for (int i = 0; i < 3; ++i) {
    WaitBuffered(100);
    pcm_->Advance(100);
  }
  RunDry();
  ASSERT_TRUE(events_.WaitDone(2));
  EXPECT_EQ(pcm_->PlayedBytes(), source_);
  EXPECT_EQ(device_->Underruns(), 1u);
}

TEST_F(WaveOutDeviceTest, AFrameSplitOverABufferThatCameBackEarlyPlaysWhole) {
  Open({3, 3});  // 1.5 frames each
  ASSERT_EQ(device_->Write((*buffers_)[0]), MMSYSERR_NOERROR);
  WaitBuffered(1);
  pcm_->Advance(1);
  RunDry();
  ASSERT_TRUE(events_.WaitDone(1));  // the queue ran dry with half a frame left
  ASSERT_EQ(device_->Write((*buffers_)[1]), MMSYSERR_NOERROR);
  WaitBuffered(2);
  pcm_->Advance(2);
  RunDry();
  ASSERT_TRUE(events_.WaitDone(2));
  EXPECT_EQ(pcm_->PlayedBytes(), source_);
  EXPECT_EQ(Position(), 3u);
}

TEST_F(WaveOutDeviceTest, AFailingDeviceKeepsItsBuffersUntilReset) {
  driver_.SetBufferFrames(100);
  Open({400});
  pcm_->FailNext(FakePcm::kWrite, -EIO);
  WriteAll();
  pcm_->Advance(100);
  EXPECT_FALSE(Done(0));
  EXPECT_EQ(device_->Close(), WAVERR_STILLPLAYING);
  ASSERT_EQ(device_->Reset(), MMSYSERR_NOERROR);
  ASSERT_TRUE(events_.WaitDone(1));
  EXPECT_EQ(device_->Close(), MMSYSERR_NOERROR);
  EXPECT_EQ(events_.Messages(), (std::vector<uint32_t>{WOM_OPEN, WOM_DONE, WOM_CLOSE}));
}

}  // namespace
}  // namespace pmx
