#include "audio/core/chain/wave_out.h"

#include <cstring>
#include <numeric>

#include <gtest/gtest.h>

#include "platform/alsa/fake_wave_driver.h"
#include "platform/main_loop.h"
#include "tests/support/chain_test_nodes.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;

std::vector<uint8_t> Counting(std::size_t bytes) {
  std::vector<uint8_t> data(bytes);
  std::iota(data.begin(), data.end(), uint8_t{7});
  return data;
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EMMWaveOutError& e) {
    return e.what();
  }
  return "no error";
}

// 8000 Hz mono 8-bit playback of a counting source through the fake driver.
class WaveOutTest : public ::testing::TestWithParam<TMMCBMode> {
 protected:
  void SetUpChain(std::size_t source_bytes) {
    source_ = std::make_unique<test::TestSource>(Counting(source_bytes));
    const WaveFormatEx format = WaveFormatEx::Pcm(8000, 8, 1);
    source_->SetPWaveFormat(&format);
    out_.SetCallBackMode(GetParam());
    out_.SetBufferSize(1000);
    out_.SetNumBuffers(4);
    out_.SetInput(source_.get());
    out_.SetOutput(&sink_);
    out_.OnStop = [this](TObject*) { ++stops_; };
  }

  // Plays in steps of frames until done holds.
  bool PlayUntil(const std::function<bool()>& done, uint64_t frames = 250) {
    return loop_.PumpUntil(
        [&] {
          if (auto pcm = driver_.Last(WaveDirection::kOutput)) pcm->Advance(frames);
          return done();
        },
        20s);
  }

  std::vector<uint8_t> Played() { return driver_.Last(WaveDirection::kOutput)->PlayedBytes(); }

  PlainMainLoop loop_;
  ScopedMainLoop loop_scope_{loop_};
  FakeWaveDriver driver_;
  ScopedWaveDriver driver_scope_{driver_};
  std::unique_ptr<test::TestSource> source_;
  test::TestSink sink_;
  TMMWaveOut out_;
  int stops_ = 0;
};

TEST_F(WaveOutTest, PropertiesAndRefusals) {
  TMMWaveOut out;
  out.SetNumBuffers(600);
  EXPECT_EQ(out.NumBuffers(), 500);
  out.SetNumBuffers(1);
  EXPECT_EQ(out.NumBuffers(), 500);
  EXPECT_EQ(ErrorOf([&] { out.Open(); }), "WaveOutOpen:\n\rInvalid wave format");

  test::TestSource empty({});
  const WaveFormatEx format = WaveFormatEx::Pcm(22050, 16, 2);
  empty.SetPWaveFormat(&format);
  out.SetInput(&empty);
  int errors = 0;
  out.OnError = [&](TObject*) { ++errors; };
  EXPECT_EQ(ErrorOf([&] { out.Start(); }), "WaveOutStart:\n\rUnable to start device");
  EXPECT_GE(errors, 1);
  EXPECT_FALSE(out.IsOpened());

  driver_.SetAccepts([](const WaveFormatEx& f) { return f.nChannels() == 1; });
  EXPECT_EQ(ErrorOf([&] { out.Open(); }),
            "WaveOutOpen:\n\rThe actual device can''t play this format");
  out.SetDeviceID(3);
  EXPECT_EQ(out.DeviceID(), InvalidId);
  EXPECT_EQ(ErrorOf([&] { out.Open(); }), "Invalid DeviceID");

  driver_.SetDevices(WaveDirection::kOutput, {});
  TMMWaveOut none;
  EXPECT_EQ(none.ProductName(), "No wave audio playing device found");
  none.SetInput(&empty);
  EXPECT_EQ(ErrorOf([&] { none.Open(); }), "No wave audio playing device found");
}

TEST_P(WaveOutTest, PlaysTheSourceAndStopsByItself) {
  SetUpChain(10'500);
  std::vector<WAVEHDR*> linked;
  sink_.OnBufferReady = [&](TObject*, WAVEHDR* h) { linked.push_back(h->LinkedHeader); };
  out_.Start();
  ASSERT_TRUE(PlayUntil([&] { return stops_ == 1; }));

  EXPECT_EQ(Played(), Counting(10'500));
  // Every played buffer went on, in order, linked to the one sounding after it.
  EXPECT_EQ(sink_.Bytes(), Counting(10'500));
  ASSERT_EQ(linked.size(), 11u);
  EXPECT_NE(linked[0], nullptr);
  out_.Close();
}

TEST_P(WaveOutTest, ASourceShorterThanOneBufferPlaysAndStops) {
  SetUpChain(300);
  out_.Start();
  ASSERT_TRUE(PlayUntil([&] { return stops_ == 1; }));
  EXPECT_EQ(Played(), Counting(300));
  out_.Close();
}

TEST_P(WaveOutTest, PauseKeepsAndResetDropsOnlyWhatWasQueued) {
  SetUpChain(20'000);
  out_.Start();
  ASSERT_TRUE(PlayUntil([&] { return sink_.Total() >= 2000; }));
  out_.Pause();
  const std::size_t paused_at = Played().size();
  driver_.Last(WaveDirection::kOutput)->Advance(5000);
  EXPECT_EQ(Played().size(), paused_at);
  EXPECT_EQ(out_.GetPosition(), static_cast<int64_t>(paused_at));
  out_.Restart();
  ASSERT_TRUE(PlayUntil([&] { return sink_.Total() >= 6000; }));

  out_.ResetDevice();
  const std::size_t heard = Played().size();
  // The reset primed four fresh buffers from the source.
  const std::size_t pulled = source_->Delivered() - 4 * 1000;
  ASSERT_TRUE(PlayUntil([&] { return stops_ == 1; }));

  // What was queued at the reset is gone; the rest of the source follows it.
  const std::vector<uint8_t> all = Counting(20'000);
  std::vector<uint8_t> expected(all.begin(), all.begin() + static_cast<long>(heard));
  expected.insert(expected.end(), all.begin() + static_cast<long>(pulled), all.end());
  EXPECT_EQ(Played(), expected);
  out_.Close();
}

TEST_P(WaveOutTest, StopFromInsideAHandlerCompletesAfterIt) {
  SetUpChain(20'000);
  sink_.OnBufferReady = [&](TObject*, WAVEHDR*) { out_.Stop(); };
  out_.Start();
  ASSERT_TRUE(PlayUntil([&] { return stops_ == 1; }));
  EXPECT_EQ(sink_.Total(), 1000u);
  EXPECT_FALSE(out_.IsStarted());
  out_.Close();
}

// A source that starts again from its beginning while the pulled header asks
// for loops, marking the header that ends a pass.
class LoopingSource : public TMMDSPComponent {
 public:
  explicit LoopingSource(std::vector<uint8_t> data) : data_(std::move(data)) {
    PublishLinks(false, true);
  }

  void BufferLoad(WAVEHDR* h, bool& more) override {
    const std::size_t take = std::min<std::size_t>(h->dwBufferLength, data_.size() - at_);
    if (take > 0) std::memcpy(h->lpData, data_.data() + at_, take);
    h->dwBytesRecorded = static_cast<uint32_t>(take);
    at_ += take;
    more = at_ < data_.size();
    if (more || !h->LoopFlag) return;
    if (h->LoopCount > 0) --h->LoopsRemaining;
    if (h->LoopCount == 0 || h->LoopsRemaining >= 0) {
      at_ = 0;
      h->LoopRestart = true;
      more = true;
    }
  }

 private:
  const std::vector<uint8_t> data_;
  std::size_t at_ = 0;  // the pulling thread's
};

TEST_P(WaveOutTest, LoopingPlaysTheSourceAgainAsOftenAsAsked) {
  std::vector<uint8_t> expected;
  for (int i = 0; i < 3; ++i) {
    const std::vector<uint8_t> once = Counting(2500);
    expected.insert(expected.end(), once.begin(), once.end());
  }
  // Refilled as it plays, and all queued at the start.
  for (int32_t buffers : {2, 10}) {
    LoopingSource source(Counting(2500));
    const WaveFormatEx format = WaveFormatEx::Pcm(8000, 8, 1);
    source.SetPWaveFormat(&format);
    TMMWaveOut out;
    out.SetCallBackMode(GetParam());
    out.SetBufferSize(1000);
    out.SetNumBuffers(buffers);
    out.SetInput(&source);
    out.SetLooping(true);
    out.SetLoopCount(2);
    int loops = 0;
    int stops = 0;
    out.OnLooping = [&](TObject*) { ++loops; };
    out.OnStop = [&](TObject*) { ++stops; };
    out.Start();
    ASSERT_TRUE(PlayUntil([&] { return stops == 1; }));
    EXPECT_EQ(Played(), expected);
    EXPECT_EQ(loops, 2) << buffers;
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, WaveOutTest,
                         ::testing::Values(TMMCBMode::cmWindow, TMMCBMode::cmThread));

}  // namespace
}  // namespace pmx
