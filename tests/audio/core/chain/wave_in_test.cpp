#include "audio/core/chain/wave_in.h"

#include <gtest/gtest.h>

#include "platform/alsa/fake_wave_driver.h"
#include "platform/main_loop.h"
#include "platform/ui_hook.h"
#include "tests/support/chain_test_nodes.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;

class WaveInTest : public ::testing::TestWithParam<TMMCBMode> {
 protected:
  WaveInTest() { driver_.SetBufferFrames(1 << 20); }

  // An open, started capture of 8000 Hz mono 8-bit into sink_.
  void StartCapture(TMMWaveIn& in, int32_t buffer_size) {
    in.SetCallBackMode(GetParam());
    in.SetSampleRate(8000);
    in.SetBufferSize(buffer_size);
    in.SetOutput(&sink_);
    in.Start();
    pcm_ = driver_.Last(WaveDirection::kInput);
    ASSERT_NE(pcm_, nullptr);
  }

  bool Pump(const std::function<bool()>& done) { return loop_.PumpUntil(done, 20s); }

  std::vector<uint8_t> Ramp(std::size_t bytes) const {
    return FakePcm::Ramp(WaveFormatEx::Pcm(8000, 8, 1), 0, bytes);
  }

  PlainMainLoop loop_;
  ScopedMainLoop loop_scope_{loop_};
  FakeWaveDriver driver_;
  ScopedWaveDriver driver_scope_{driver_};
  test::TestSink sink_;
  std::shared_ptr<FakePcm> pcm_;
};

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EMMWaveInError& e) {
    return e.what();
  }
  return "no error";
}

TEST_F(WaveInTest, PropertiesClampAndRefuseChangesWhileOpen) {
  TMMWaveIn in;
  in.SetNumBuffers(1);
  EXPECT_EQ(in.NumBuffers(), 10);
  in.SetNumBuffers(5000);
  EXPECT_EQ(in.NumBuffers(), 4096);
  in.SetBufferSize(10);
  EXPECT_EQ(in.BufferSize(), 32);
  in.SetSampleRate(200000);
  EXPECT_EQ(in.SampleRate(), 100000);
  in.SetChannels(0);
  EXPECT_EQ(in.Channels(), 1);
  in.SetChannels(4);
  EXPECT_EQ(in.Mode(), TMMMode::mMultiChannel);
  in.SetMode(TMMMode::mMultiChannel);
  EXPECT_EQ(in.Channels(), 4);
  in.SetMode(TMMMode::mStereo);
  EXPECT_EQ(in.PWaveFormat()->nChannels(), 2);
  EXPECT_EQ(in.ProductName(), "Fake Input");
  std::string shown;
  SetMessageBoxHook([&](const std::string& text, const std::string& caption) {
    shown = caption + ": " + text;
  });
  in.SetCallBackMode(TMMCBMode::cmCallback);
  SetMessageBoxHook(nullptr);
  EXPECT_EQ(in.CallBackMode(), TMMCBMode::cmWindow);
  EXPECT_EQ(shown,
            "TMMWaveIn: \"CallBacks\" are called at interrupt time !\n\rThis is currently only "
            "supported under Windows 95");

  in.SetSampleRate(8000);
  in.SetMode(TMMMode::mMono);
  in.SetTimeFormat(TMMTimeFormats::tfMillisecond);
  in.SetMaxRecordTime(1000);
  in.SetTimeFormat(TMMTimeFormats::tfByte);
  EXPECT_EQ(in.MaxRecordTime(), 8000);

  in.Open();
  EXPECT_EQ(ErrorOf([&] { in.SetNumBuffers(20); }), "Change to property while device was open");
  EXPECT_EQ(ErrorOf([&] { in.SetSampleRate(16000); }), "Change to property while device was open");
  in.Close();
  in.SetSampleRate(16000);
  EXPECT_EQ(in.SampleRate(), 16000);
}

TEST_F(WaveInTest, OpenRefusesWithTheLibraryTexts) {
  driver_.SetDevices(WaveDirection::kInput, {{"A"}, {"B"}});
  {
    TMMWaveIn in;
    in.SetDeviceID(7);
    EXPECT_EQ(in.DeviceID(), InvalidId);
    EXPECT_EQ(in.ProductName(), "No wave audio recording device found");
    int errors = 0;
    in.OnError = [&](TObject*) { ++errors; };
    EXPECT_EQ(ErrorOf([&] { in.Open(); }), "Invalid DeviceID");
    EXPECT_EQ(errors, 1);
    in.SetDeviceID(1);
    EXPECT_EQ(in.ProductName(), "B");
  }
  {
    driver_.SetAccepts([](const WaveFormatEx& f) { return f.nSamplesPerSec() != 44100; });
    TMMWaveIn in;
    in.SetSampleRate(44100);
    EXPECT_EQ(ErrorOf([&] { in.Open(); }),
              "WaveInOpen:\n\rThe actual device can''t record this format");
    EXPECT_EQ(in.GetPosition(), 0);
  }
  {
    // The device answers the query but lacks the standard format's bit.
    driver_.SetAccepts(nullptr);
    driver_.SetDevices(WaveDirection::kInput, {{"Narrow", WAVE_FORMAT_1M08}});
    TMMWaveIn in;
    in.SetSampleRate(22050);
    EXPECT_EQ(ErrorOf([&] { in.Open(); }),
              "WaveInOpen:\n\rThe actual device can''t record this format");
    in.SetSampleRate(11025);
    in.Open();
    in.Close();
  }
  driver_.SetDevices(WaveDirection::kInput, {});
  TMMWaveIn in;
  EXPECT_EQ(ErrorOf([&] { in.Open(); }), "No wave audio recording device found");
}

TEST_P(WaveInTest, RecordingLimitCutsTheCrossingBufferAndStops) {
  TMMWaveIn in;
  in.SetTimeFormat(TMMTimeFormats::tfMillisecond);
  in.SetMaxRecordTime(1000);
  int stops = 0;
  in.OnStop = [&](TObject*) { ++stops; };
  ASSERT_NO_FATAL_FAILURE(StartCapture(in, 3000));
  pcm_->Advance(12000);
  ASSERT_TRUE(Pump([&] { return stops == 1; }));

  EXPECT_EQ(sink_.Sizes(), (std::vector<uint32_t>{3000, 3000, 2000}));
  EXPECT_EQ(sink_.Bytes(), Ramp(8000));
  EXPECT_LE(in.GetPosition(), 1000);
  EXPECT_EQ(sink_.Stops(), 1);
  in.Close();
}

TEST_P(WaveInTest, StopPushesTheCapturedTail) {
  TMMWaveIn in;
  ASSERT_NO_FATAL_FAILURE(StartCapture(in, 3000));
  pcm_->Advance(3000);
  ASSERT_TRUE(sink_.WaitTotal(3000));
  pcm_->Advance(1500);
  in.Stop();
  EXPECT_EQ(sink_.Sizes(), (std::vector<uint32_t>{3000, 1500}));
  EXPECT_EQ(sink_.Bytes(), Ramp(4500));
  EXPECT_EQ(sink_.Stops(), 1);

  // A new start goes on with fresh buffers and loses nothing either.
  in.Start();
  driver_.Last(WaveDirection::kInput)->Advance(100);
  in.Pause();
  in.Restart();
  in.Close();
  EXPECT_EQ(sink_.Total(), 4600u);
  EXPECT_EQ(sink_.Bytes(), Ramp(4600));
}

TEST_P(WaveInTest, PositionGrowsPast32Bits) {
  driver_.SetStartFrame((uint64_t{1} << 32) - 3000);
  TMMWaveIn in;
  in.SetTimeFormat(TMMTimeFormats::tfSample);
  ASSERT_NO_FATAL_FAILURE(StartCapture(in, 2000));
  pcm_->Advance(2000);
  ASSERT_TRUE(sink_.WaitTotal(2000));
  EXPECT_EQ(in.GetPosition(), 0xFFFFFFFFLL - 999);
  pcm_->Advance(2000);
  ASSERT_TRUE(sink_.WaitTotal(4000));
  // One wrap of modulus 0xFFFFFFFF, then the driver's 1000.
  ASSERT_TRUE(Pump([&] { return in.GetPosition() == 0xFFFFFFFFLL + 1000; }));
  in.Close();
}

TEST_P(WaveInTest, OverrunsAreCounted) {
  TMMWaveIn in;
  ASSERT_NO_FATAL_FAILURE(StartCapture(in, 1000));
  pcm_->Advance(1000);
  ASSERT_TRUE(sink_.WaitTotal(1000));
  pcm_->InjectXrun();
  pcm_->Advance(1000);
  ASSERT_TRUE(Pump([&] { return in.Overruns() == 1; }));
  in.Close();
}

TEST_P(WaveInTest, CloseFromInsideAHandlerCompletesAfterIt) {
  TMMWaveIn in;
  int closes = 0;
  in.OnClose = [&](TObject*) { ++closes; };
  sink_.OnBufferReady = [&](TObject*, WAVEHDR*) { in.Close(); };
  ASSERT_NO_FATAL_FAILURE(StartCapture(in, 1000));
  pcm_->Advance(1000);
  ASSERT_TRUE(Pump([&] { return closes == 1; }));
  EXPECT_EQ(sink_.Total(), 1000u);
  EXPECT_FALSE(in.IsOpened());
}

INSTANTIATE_TEST_SUITE_P(Modes, WaveInTest,
                         ::testing::Values(TMMCBMode::cmWindow, TMMCBMode::cmThread));

}  // namespace
}  // namespace pmx
