#include "recorder/recording_chain.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <set>
#include <thread>

#include "audio/core/objects/utilities.h"
#include "platform/alsa/alsa_wave_driver.h"
#include "platform/alsa/fake_wave_driver.h"
#include "platform/main_loop.h"
#include "recorder/encoder_hand_off.h"
#include "recorder/event_log.h"
#include "tests/recorder/recorder_fixture.h"
#include "tests/recorder/wav_bytes.h"
#include "tests/support/file_bytes.h"

namespace pmx::test {
namespace {

using namespace std::chrono_literals;

class Window : public TRecordingHost {
 public:
  bool Recording() override { return recording; }
  void SetRecording(bool value) override { recording = value; }
  void SetErrorPanelVisible(bool visible) override { error_panel = visible; }
  void SetStatusText(const std::string&) override {}
  void SetLengthText(const std::string&) override {}
  TWindowState WindowState() override { return TWindowState::wsMaximized; }
  int Left() override { return 0; }
  int Top() override { return 0; }
  void SetApplicationIcon(const std::string&) override {}

  bool recording = false, error_panel = false;
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
  const std::vector<uint8_t> ramp_ = FakePcm::Ramp(WaveFormatEx::Pcm(44100, 16, 2), 0, 8'000'000);
  std::filesystem::path folder_ = home_ / "My Rec";
  AlsaWaveDriver driver_{FileOptions(home_)};
  ScopedWaveDriver driver_scope_{driver_};
  PlainMainLoop loop_;
  ScopedMainLoop loop_scope_{loop_};
  const RecorderClock::TimePoint start_ = LocalTimePoint(2026, 3, 7, 9, 5, 3);
  ScopedRecorderClock clock_{[this] { return start_; }};
  Window window_;
  TRecordingComponents chain_{RecorderOptions};
  TRecorderState state_;
  TRecordingLifecycle lifecycle_{window_, chain_, RecorderOptions, state_};
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
  EXPECT_EQ(data_size % 4, 0u);
  // The file PCM is not paced: on a loaded machine the stop can come after the
  // ramp ran out, and what it gives past its end is stale. The ramp's part is checked.
  const std::size_t checked = std::min(data_size, ramp_.size());
  EXPECT_TRUE(std::equal(ramp_.begin(), ramp_.begin() + static_cast<long>(checked),
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
  TRecordingComponents chain(RecorderOptions);
  TRecorderState state;
  TRecordingLifecycle lifecycle(window, chain, RecorderOptions, state);
  chain.SetLifecycle(&lifecycle);
  EXPECT_NO_THROW(lifecycle.StartRecording());
  EXPECT_FALSE(window.recording);
}

// Holds up the file writer while closed, as a disk that does not answer.
class Gate {
 public:
  void Pass() {
    std::unique_lock lock(mutex_);
    open_.wait(lock, [this] { return !closed_; });
  }
  void Set(bool closed) {
    std::lock_guard lock(mutex_);
    closed_ = closed;
    open_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable open_;
  bool closed_ = false;
};

constexpr uint64_t kRate = 44100;
constexpr uint64_t kStep = kRate / 10;

// The recorder's own chain and lifecycle, 44.1 kHz stereo 16-bit, over a fake device
// whose clock the test moves and a real folder; each tick is a WatchRecording.
class RecordingFaultTest : public RecorderTest {
 protected:
  RecordingFaultTest() {
    std::filesystem::create_directory(folder_);
    RecorderOptions.RecordingFolder = folder_.string();
    RecorderOptions.SampleRateIndex = 3;
    RecorderOptions.ChannelsIndex = 3;
    RecorderOptions.SaveMode = 5;
    driver_.SetBufferFrames(kRate / 2);  // as the ALSA driver's capture buffer
    chain_.SetLifecycle(&lifecycle_);
    chain_.WaveFileRecorder.SetDiskFreeQuery([this](const std::string& path, int64_t& free) {
      gate_.Pass();
      int64_t total = 0;
      return GetDiskFree(path, free, total);
    });
  }
  ~RecordingFaultTest() override { gate_.Set(false); }

  void Start() {
    lifecycle_.StartRecording();
    ASSERT_TRUE(window_.recording);
    pcm_ = driver_.Last(WaveDirection::kInput);
  }
  // Moves the device's clock in steps that the device takes before the next; false
  // when it stops taking them (the chain is full).
  bool Feed(uint64_t frames, std::chrono::milliseconds patience = 10s) {
    for (uint64_t done = 0; done < frames; done += kStep) {
      pcm_->Advance(std::min(kStep, frames - done));
      if (!pcm_->WaitUntil([](const FakePcm& p) { return p.Buffered() == 0; }, patience)) return false;
    }
    return true;
  }
  // Ticks until the recorder runs again.
  void TickUntilRecording() {
    for (int tick = 0; tick < 40 && !window_.recording; ++tick) lifecycle_.WatchRecording();
    ASSERT_TRUE(window_.recording);
    pcm_ = driver_.Last(WaveDirection::kInput);
  }
  // The device refuses to start refusals times; the start is tried on every tick
  // until it records, a second is recorded, and the names in the folder are given.
  std::set<std::string> RecordAfterRefusedStarts(int refusals) {
    chain_.WaveRecorder.OnOpen = [this, refusals](TObject*) mutable {
      if (refusals-- > 0) driver_.Last(WaveDirection::kInput)->FailNext(FakePcm::kStart, -EIO);
    };
    lifecycle_.StartRecording();
    for (int tick = 0; tick < 8 && !window_.recording; ++tick) lifecycle_.RetryFailedStart();
    std::set<std::string> names;
    if (!window_.recording) return names;
    pcm_ = driver_.Last(WaveDirection::kInput);
    EXPECT_TRUE(Feed(kRate));
    lifecycle_.StopRecording();
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  // The data chunk of a recording, checking that its sizes describe the file.
  std::vector<uint8_t> Data(const std::string& name) {
    const std::string bytes = ReadFile(folder_ / name);
    EXPECT_GE(bytes.size(), 44u);
    if (bytes.size() < 44) return {};
    EXPECT_EQ(Uint32At(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(Uint32At(bytes, 40), bytes.size() - 44);
    return {bytes.begin() + 44, bytes.end()};
  }
  // The name of a recording whose first sample was taken frames after the start.
  static std::string NameAt(uint64_t frames) {
    const std::tm local = LocalTime(kStartTime + std::chrono::milliseconds(frames * 1000 / kRate));
    char name[32];
    std::strftime(name, sizeof name, "%Y%m%d%H%M%S.wav", &local);
    return name;
  }
  static std::vector<uint8_t> Ramp(uint64_t first, uint64_t count) {
    return FakePcm::Ramp(WaveFormatEx::Pcm(kRate, 16, 2), first, count);
  }

  std::filesystem::path folder_ = home_ / "rec";
  FakeWaveDriver driver_;
  ScopedWaveDriver driver_scope_{driver_};
  PlainMainLoop loop_;
  ScopedMainLoop loop_scope_{loop_};
  static inline const RecorderClock::TimePoint kStartTime = LocalTimePoint(2026, 3, 7, 9, 5, 3);
  ScopedRecorderClock clock_{[] { return kStartTime; }};
  Gate gate_;
  Window window_;
  TRecordingComponents chain_{RecorderOptions};
  TRecorderState state_;
  TRecordingLifecycle lifecycle_{window_, chain_, RecorderOptions, state_};
  std::shared_ptr<FakePcm> pcm_;
};

TEST_F(RecordingFaultTest, AWriterStalledForEightSecondsLosesNoSample) {
  Start();
  ASSERT_TRUE(Feed(kRate));
  gate_.Set(true);
  ASSERT_TRUE(Feed(8 * kRate));
  gate_.Set(false);
  ASSERT_TRUE(Feed(kRate));
  lifecycle_.StopRecording();
  EXPECT_EQ(chain_.LostFrames(), 0u);
  EXPECT_EQ(Data("20260307090503.wav"), Ramp(0, 10 * kRate));
}

TEST_F(RecordingFaultTest, AStallLongerThanTheChainHoldsLogsTheExactLoss) {
  Start();
  ASSERT_TRUE(Feed(kRate));
  gate_.Set(true);
  uint64_t held = 0;
  while (held < 20 * kRate && Feed(kStep, 2s)) held += kStep;
  EXPECT_GE(held, 10 * kRate);  // the ring alone holds 10 s
  pcm_->Advance(3 * kRate);     // overruns the device
  gate_.Set(false);
  ASSERT_TRUE(loop_.PumpUntil([&] { return chain_.LostFrames() > 0; }, 10s));
  ASSERT_TRUE(Feed(kRate));
  const TRecordingWatch watch = lifecycle_.WatchRecording();
  lifecycle_.StopRecording();

  const uint64_t fed = kRate + held + kStep + 3 * kRate + kRate;
  const std::vector<uint8_t> data = Data("20260307090503.wav");
  const uint64_t kept = data.size() / 4;
  const uint64_t lost = fed - kept;
  ASSERT_EQ(chain_.LostFrames(), lost);
  // One hole, and the ramp goes on after it.
  const auto hole = std::mismatch(data.begin(), data.end(), Ramp(0, kept).begin()).first - data.begin();
  const uint64_t before = static_cast<uint64_t>(hole) / 4;
  EXPECT_EQ(std::vector<uint8_t>(data.begin() + hole, data.end()), Ramp(before + lost, kept - before));
  EXPECT_EQ(watch.alarms, std::vector<std::string>{"audio lost: " + std::to_string(lost * 1000 / kRate) + " ms"});
  EXPECT_NE(ReadFile(MonthlyLogFile(RecorderClock::Now())).find(std::to_string(lost) + " frames lost in 1 overruns"),
            std::string::npos);
}

// Every frame the device gave before a stop is in its file, however the stop meets
// the device: a read out, a buffer part filled, frames not read yet.
TEST_F(RecordingFaultTest, EachFileOfStopsAndStartsHoldsEveryFrameBeforeItsStop) {
  int second = 0;
  ScopedRecorderClock clock([&] { return kStartTime + std::chrono::seconds(second); });
  for (; second < 20; ++second) {
    Start();
    const uint64_t read = kStep * static_cast<uint64_t>(second % 4) + 977 * static_cast<uint64_t>(second);
    ASSERT_TRUE(Feed(read));
    const uint64_t unread = 1 + 131 * static_cast<uint64_t>(second);
    pcm_->Advance(unread);
    lifecycle_.StopRecording();
    EXPECT_EQ(Data(NameAt(second * kRate)), Ramp(0, read + unread)) << "file " << second;
  }
}

// A sound server drops what its client did not read in time, without an overrun:
// the shortfall against the device's clock is alarmed once, as an overrun's loss
// is, while a card that runs slow by nearly 0.1 % raises nothing.
TEST_F(RecordingFaultTest, AudioLostWithoutAnOverrunIsAlarmedOnceButDriftIsNot) {
  driver_.SetRateError(-900);
  Start();
  std::vector<std::string> alarms;
  const auto feed = [&](int seconds) {
    for (int second = 0; second < seconds; ++second) {
      ASSERT_TRUE(Feed(kRate));
      const TRecordingWatch watch = lifecycle_.WatchRecording();
      alarms.insert(alarms.end(), watch.alarms.begin(), watch.alarms.end());
    }
  };
  feed(150);
  EXPECT_EQ(alarms, std::vector<std::string>{});
  pcm_->LoseUnreported(2 * kRate);
  feed(3);
  lifecycle_.StopRecording();
  ASSERT_EQ(alarms.size(), 1u);
  ASSERT_TRUE(alarms[0].starts_with("audio lost: ")) << alarms[0];
  const int ms = std::stoi(alarms[0].substr(12));
  EXPECT_EQ(alarms[0], "audio lost: " + std::to_string(ms) + " ms");
  EXPECT_NEAR(ms, 2000, 60);
}

// A disk between the ring and the file whose every write call takes 400 ms, plus
// the time its bandwidth needs for the bytes: the device's clock moves on by that
// much during the call, as sound keeps coming while a real disk works. The calls
// are the ones the writer makes, as the kernel counts them. The device is a sound
// server's: a full buffer drops its oldest frames without a word.
class SlowDiskTest : public RecordingFaultTest {
 protected:
  static constexpr uint64_t kCallFrames = kRate * 400 / 1000;

  // Passes the writer's buffers on to the file, taking their time from the clock.
  class Disk : public TMMDSPComponent {
   public:
    explicit Disk(SlowDiskTest& test) : test_(test) { PublishLinks(true, true); }
    void BufferReady(WAVEHDR* header) override {
      std::lock_guard lock(busy);
      const uint64_t calls = WriteCalls();
      TMMDSPComponent::BufferReady(header);
      const uint64_t made = WriteCalls() - calls;
      test_.PassTime(made * kCallFrames + header->dwBytesRecorded * kRate / bytes_per_second);
    }
    std::mutex busy;  // held while a write call takes its time
    std::atomic<uint64_t> bytes_per_second{UINT32_MAX};

   private:
    SlowDiskTest& test_;
  };
  // Counts the frames the capture's handler has pushed into the ring.
  class Intake : public TMMDSPComponent {
   public:
    Intake() { PublishLinks(true, true); }
    void BufferReady(WAVEHDR* header) override {
      TMMDSPComponent::BufferReady(header);
      frames += header->dwBytesRecorded / 4;
    }
    std::atomic<uint64_t> frames{0};
  };

  SlowDiskTest() {
    driver_.SetDropsWhenFull(true);
    driver_.SetBufferFrames(2 * kRate);
    chain_.MMConnector1.SetOutput(&intake_);
    intake_.SetOutput(&chain_.MMRingBuffer1);
    chain_.MMRingBuffer1.SetOutput(&disk_);
    disk_.SetOutput(&chain_.WaveFileRecorder);
  }
  ~SlowDiskTest() override { chain_.WaveRecorder.Close(); }

  // Moves the clock in steps, each taken by the device before the next; a step
  // past a tick waits for the tick.
  void PassTime(uint64_t frames) {
    for (uint64_t done = 0; done < frames && clock_runs_.load(); done += kStep) {
      {
        std::unique_lock lock(tick_mutex_);
        ticked_.wait_for(lock, 10s,
                         [this] { return !clock_runs_.load() || Device(&FakePcm::Clock) < due_; });
      }
      pcm_->Advance(std::min(kStep, frames - done));
      Settle();
    }
  }
  // Waits until the chain did what it could with the time that passed: the device
  // read all it had, and its handler pushed every buffer it filled into the ring,
  // unless the ring is full and holds it up (long enough for a sanitizer build on
  // a busy machine). The threads are real; only the clock is the test's.
  void Settle() {
    const auto settled = [](const FakePcm& p) { return p.Settled(); };
    const uint64_t buffer_frames = static_cast<uint64_t>(chain_.WaveRecorder.BufferSize()) / 4;
    for (const auto end = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < end;) {
      if (pcm_->WaitUntil(settled, 10s) &&
          (intake_.frames + buffer_frames > Device(&FakePcm::Taken) || chain_.MMRingBuffer1.IsFull()) &&
          pcm_->Check(settled)) {
        return;
      }
      std::this_thread::sleep_for(200us);
    }
  }

  // What a tick saw: the clock, the frames the device had dropped so far, the alarms.
  struct Tick {
    uint64_t clock = 0;
    uint64_t dropped = 0;
    std::vector<std::string> alarms;
  };
  // Records for seconds of the device's clock, which moves on its own while the
  // disk is idle and no flush waits to start, ticking every half second.
  std::vector<Tick> Record(uint64_t seconds) {
    std::vector<Tick> ticks;
    const uint64_t end = Device(&FakePcm::Clock) + seconds * kRate;
    for (uint64_t now; (now = Device(&FakePcm::Clock)) < end;) {
      if (TickDue(now)) {
        ticks.push_back({now, Device(&FakePcm::Dropped), lifecycle_.WatchRecording().alarms});
        std::lock_guard lock(tick_mutex_);
        due_ += kRate / 2;
        ticked_.notify_all();
      } else if (std::unique_lock idle(disk_.busy, std::try_to_lock); idle && !chain_.MMRingBuffer1.IsBusy()) {
        pcm_->Advance(kStep);
        idle.unlock();
        Settle();
      } else {
        // The disk's call moves the clock; a flush asked for is on its way to the disk.
        pcm_->WaitUntil([now](const FakePcm& p) { return p.Clock() > now; }, 1ms);
      }
    }
    // The clock stops with the disk's call that is under way, so what the file
    // should hold is known.
    clock_runs_.store(false);
    ticked_.notify_all();
    std::lock_guard idle(disk_.busy);
    return ticks;
  }
  bool TickDue(uint64_t now) {
    std::lock_guard lock(tick_mutex_);
    return now >= due_;
  }
  // A count of the device, read under its lock.
  uint64_t Device(uint64_t (FakePcm::*count)() const) {
    uint64_t value = 0;
    pcm_->Check([&](const FakePcm& p) {
      value = (p.*count)();
      return true;
    });
    return value;
  }

  Disk disk_{*this};
  Intake intake_;
  std::mutex tick_mutex_;
  std::condition_variable ticked_;
  uint64_t due_ = kRate / 2;  // the clock of the next tick, under tick_mutex_
  std::atomic<bool> clock_runs_{true};
};

// Each call takes 400 ms, but a writer that fell behind writes all it holds in
// one call: the disk keeps up, and every sample reaches the file.
TEST_F(SlowDiskTest, ADiskSlowOverEveryCallButFastEnoughLosesNothing) {
  Start();
  const std::vector<Tick> ticks = Record(60);
  const uint64_t fed = Device(&FakePcm::Clock);
  lifecycle_.StopRecording();
  for (const Tick& tick : ticks) EXPECT_EQ(tick.alarms, std::vector<std::string>{}) << tick.clock;
  EXPECT_EQ(Device(&FakePcm::Dropped), 0u);
  EXPECT_EQ(chain_.LostFrames(), 0u);
  EXPECT_EQ(Data("20260307090503.wav"), Ramp(0, fed));
}

// A disk too slow for the sound never catches up: what the device drops is told
// within about two seconds, all along, and in all as much as the file misses.
TEST_F(SlowDiskTest, ADiskTooSlowForTheSoundHasItsLossToldWhileItGoesOn) {
  disk_.bytes_per_second = 100'000;
  Start();
  const std::vector<Tick> ticks = Record(60);
  const uint64_t fed = Device(&FakePcm::Clock);
  lifecycle_.StopRecording();
  ASSERT_GT(ticks.back().dropped, 10 * kRate) << "the disk was fast enough";
  constexpr std::size_t kLate = 5;  // ticks: 2.5 s
  uint64_t told_ms = 0;
  for (std::size_t i = 0; i < ticks.size(); ++i) {
    for (const std::string& alarm : ticks[i].alarms) {
      ASSERT_TRUE(alarm.starts_with("audio lost: ")) << alarm;
      told_ms += std::stoull(alarm.substr(12));
    }
    const uint64_t dropped_ms = i < kLate ? 0 : ticks[i - kLate].dropped * 1000 / kRate;
    EXPECT_GE(told_ms + 200, dropped_ms) << "untold at " << ticks[i].clock / kRate << " s";
  }
  const uint64_t missing_ms = (fed - Data("20260307090503.wav").size() / 4) * 1000 / kRate;
  EXPECT_NEAR(static_cast<double>(told_ms), static_cast<double>(missing_ms),
              std::max(0.3 * static_cast<double>(missing_ms), 3000.0));
}

TEST_F(RecordingFaultTest, ADeadDeviceEndsTheFileWithAllItGaveAndRecordingResumesWhenItReturns) {
  std::atomic<int> errors{0};
  chain_.WaveRecorder.OnError = [&](TObject*) { ++errors; };
  Start();
  ASSERT_TRUE(Feed(kRate + 1234));
  pcm_->FailNext(FakePcm::kRead, -ENODEV);
  pcm_->Advance(10);
  // The fault is readable a moment before the device's OnError has run.
  ASSERT_TRUE(loop_.PumpUntil([&] { return !chain_.Fault().empty() && errors.load() > 0; }, 10s));

  const TRecordingWatch watch = lifecycle_.WatchRecording();
  EXPECT_EQ(errors.load(), 1);
  EXPECT_EQ(watch.alarms, std::vector<std::string>{"recording device failed: read: No such device"});
  EXPECT_FALSE(window_.recording);
  EXPECT_TRUE(window_.error_panel);
  EXPECT_EQ(Data("20260307090503.wav"), Ramp(0, kRate + 1234));

  lifecycle_.StartRecording();  // as the clock or the level would: it waits for the try
  EXPECT_FALSE(window_.recording);
  driver_.FailNextOpen(MMSYSERR_NODRIVER);  // still unplugged at the first try
  TickUntilRecording();
  EXPECT_EQ(chain_.FileName(), (folder_ / "20260307090504.wav").string());
  EXPECT_FALSE(window_.error_panel);
  ASSERT_TRUE(Feed(kRate));
  lifecycle_.StopRecording();
  EXPECT_EQ(Data("20260307090504.wav"), Ramp(0, kRate));
  EXPECT_EQ(Data("20260307090503.wav"), Ramp(0, kRate + 1234));
}

TEST_F(RecordingFaultTest, AReadStuckInTheDriverHoldsUpNeitherPositionNorTick) {
  Start();
  pcm_->SetReadDelay(10s);
  pcm_->Advance(kStep);
  ASSERT_TRUE(pcm_->WaitUntil([](const FakePcm& p) { return p.ReadStuck(); }));
  for (int i = 0; i < 10; ++i) {
    chain_.WaveRecorder.GetPosition();
    lifecycle_.WatchRecording();
  }
  // Only the test ends the read: calls that had waited for it would find it over.
  EXPECT_TRUE(pcm_->Check([](const FakePcm& p) { return p.ReadStuck(); }));
  pcm_->SetReadDelay(0ms);
}

// A hanging device must not freeze the window: while the stop waits for a read
// stuck in the driver, the GUI thread goes on serving its loop, and the file keeps
// everything read before.
TEST_F(RecordingFaultTest, AStopDuringAReadStuckInTheDriverKeepsTheWindowServed) {
  Start();
  ASSERT_TRUE(Feed(kRate));
  pcm_->SetReadDelay(10s);
  pcm_->Advance(kStep);
  ASSERT_TRUE(pcm_->WaitUntil([](const FakePcm& p) { return p.ReadStuck(); }));
  bool served_while_stuck = false;
  loop_.Post([&] {
    served_while_stuck = pcm_->Check([](const FakePcm& p) { return p.ReadStuck(); });
    pcm_->SetReadDelay(0ms);
  });
  lifecycle_.StopRecording();
  EXPECT_TRUE(served_while_stuck);
  EXPECT_FALSE(window_.recording);
  EXPECT_EQ(Data("20260307090503.wav"), Ramp(0, kRate));
}

TEST_F(RecordingFaultTest, AFailedWriteKeepsEverythingBeforeItAndANewFileFollowsOnceWritingWorks) {
  constexpr rlim_t kLimit = 44 + 4 * 300'000;
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit low = old;
  low.rlim_cur = kLimit;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
  Start();
  ASSERT_TRUE(Feed(8 * kRate));
  ASSERT_TRUE(loop_.PumpUntil([&] { return !chain_.Fault().empty(); }, 10s));
  const TRecordingWatch watch = lifecycle_.WatchRecording();
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);

  EXPECT_EQ(watch.alarms, std::vector<std::string>{"recording file closed: Write error: File too large"});
  EXPECT_FALSE(window_.recording);
  EXPECT_TRUE(window_.error_panel);
  EXPECT_EQ(Data("20260307090503.wav"), Ramp(0, 300'000));
  // Every frame captured and not on the disk is told.
  const std::string lost = std::to_string(8 * kRate - 300'000) + " frames lost in a write failure";
  EXPECT_NE(ReadFile(MonthlyLogFile(RecorderClock::Now())).find("20260307090503.wav: " + lost),
            std::string::npos);
  TickUntilRecording();
  ASSERT_TRUE(Feed(kRate));
  lifecycle_.StopRecording();
  EXPECT_EQ(Data("20260307090504.wav"), Ramp(0, kRate));
}

// The folder is made at every start, with its parents. One that cannot be made
// fails the start with the folder and the system's reason, reported and alarmed
// once for the whole run of tries, and the start is tried on every tick until the
// folder can be made.
TEST_F(RecordingFaultTest, TheFolderIsMadeAtEveryStartOrTheStartFailsWithItsReason) {
  ReportedErrors reported(loop_);
  std::vector<std::string>& errors = reported.texts;
  std::filesystem::remove_all(folder_);
  RecorderOptions.RecordingFolder = (folder_ / "deep" / "er").string();
  Start();
  ASSERT_TRUE(Feed(kRate));
  lifecycle_.StopRecording();
  EXPECT_EQ(Data("deep/er/20260307090503.wav"), Ramp(0, kRate));
  EXPECT_NE(ReadFile(MonthlyLogFile(RecorderClock::Now())).find(RecorderOptions.RecordingFolder + " was missing"),
            std::string::npos);

  std::filesystem::remove_all(folder_);
  WriteFile(folder_, "a file where the folder was");
  const std::string too_long = (home_ / std::string(256, 'x') / "rec").string();
  for (const auto& [folder, reason] : {std::pair{(folder_ / "deep").string(), "Not a directory"},
                                       std::pair{folder_.string(), "Not a directory"},
                                       std::pair{too_long, "File name too long"}}) {
    errors.clear();
    RecorderOptions.RecordingFolder = folder;
    lifecycle_.StartRecording();
    for (int tick = 0; tick < 3; ++tick) lifecycle_.RetryFailedStart();
    loop_.ProcessPending();
    EXPECT_FALSE(window_.recording);
    EXPECT_TRUE(window_.error_panel);
    const std::string message =
        "Recording to " + folder + " could not be started: the folder cannot be made (" + reason + ")";
    EXPECT_EQ(errors, std::vector<std::string>{message}) << "one report for the run of tries";
    EXPECT_EQ(lifecycle_.WatchRecording().alarms, std::vector<std::string>{message});
  }
  std::filesystem::remove(folder_);
  RecorderOptions.RecordingFolder = folder_.string();
  lifecycle_.RetryFailedStart();
  ASSERT_TRUE(window_.recording) << "the next try after the folder can be made records";
  EXPECT_TRUE(lifecycle_.WatchRecording().all_clear);
  lifecycle_.StopRecording();
}

// A folder removed under a running recording is noticed by the next watch: alarmed,
// made again, and the recording goes on in a new file without a gap, while what the
// deleted file held is saved under its name and finished. A file deleted just
// before the stop is saved by the stop.
TEST_F(RecordingFaultTest, FilesDeletedDuringARecordingLoseNothing) {
  Start();
  ASSERT_TRUE(Feed(2 * kRate));
  std::filesystem::remove_all(folder_);
  ASSERT_TRUE(Feed(kRate));
  const TRecordingWatch watch = lifecycle_.WatchRecording();
  const std::string first = (folder_ / "20260307090503.wav").string();
  EXPECT_EQ(watch.alarms, std::vector<std::string>{"recording file " + first +
                                                   " deleted or moved away: the recording goes on in a new file"});
  ASSERT_TRUE(std::filesystem::is_directory(folder_));
  ASSERT_TRUE(Feed(kRate));
  // The writer switches at its next block; the watch after that saves the first file.
  ASSERT_TRUE(loop_.PumpUntil(
      [&] {
        lifecycle_.WatchRecording();
        return FileSize(first) > 0;
      },
      10s));
  EXPECT_TRUE(lifecycle_.WatchRecording().alarms.empty()) << "the new file is not gone";
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
    names.push_back(entry.path().filename().string());
  }
  ASSERT_EQ(names.size(), 2u);
  std::sort(names.begin(), names.end());
  std::filesystem::remove(folder_ / names[1]);
  ASSERT_TRUE(Feed(kRate));
  lifecycle_.StopRecording();

  std::vector<uint8_t> joined;
  for (const std::string& name : names) {
    const std::vector<uint8_t> data = Data(name);
    joined.insert(joined.end(), data.begin(), data.end());
  }
  EXPECT_EQ(joined, Ramp(0, 5 * kRate));
  const std::string log = ReadFile(MonthlyLogFile(RecorderClock::Now()));
  EXPECT_NE(log.find("recording " + first + " was deleted while it was written; what it held is saved in " + first),
            std::string::npos) << log;
}

// A folder replaced by a file under a running recording cannot be made again: the
// alarm is not cleared for as long as that lasts (longer than a loss alarm holds),
// and what the deleted file held, every sample, is saved in the settings folder
// when the recording ends.
TEST_F(RecordingFaultTest, AFolderReplacedByAFileKeepsTheAlarmAndTheRecordingIsSavedElsewhere) {
  Start();
  ASSERT_TRUE(Feed(2 * kRate));
  std::filesystem::remove_all(folder_);
  WriteFile(folder_, "a file where the folder was");
  const std::string first = (folder_ / "20260307090503.wav").string();
  EXPECT_EQ(lifecycle_.WatchRecording().alarms,
            std::vector<std::string>{
                "recording file " + first +
                " deleted or moved away: the folder cannot be made again (Not a directory)"});
  for (int tick = 0; tick < 30; ++tick) {
    ASSERT_TRUE(Feed(kStep));
    ASSERT_FALSE(lifecycle_.WatchRecording().all_clear) << "tick " << tick;
  }
  lifecycle_.StopRecording();
  const std::filesystem::path saved = Home("20260307090503.wav");
  EXPECT_EQ(Data(saved.string()), Ramp(0, 2 * kRate + 30 * kStep));
  const std::string log = ReadFile(MonthlyLogFile(RecorderClock::Now()));
  EXPECT_NE(log.find("recording " + first +
                     " was deleted while it was written and its folder cannot take it "
                     "again (Not a directory); what it held is saved in " +
                     saved.string()),
            std::string::npos)
      << log;
}

TEST_F(RecordingFaultTest, ALongRecordingGoesOnInANewFileBeforeTheSizeLimitWithoutAGap) {
  chain_.WaveFileRecorder.SetMaxFileSize(8'000'000);
  Start();
  for (int second = 0; second < 40; ++second) {
    ASSERT_TRUE(Feed(kRate));
    lifecycle_.WatchRecording();
  }
  lifecycle_.StopRecording();
  std::vector<uint8_t> joined = Data("20260307090503.wav");
  EXPECT_LE(joined.size() + 44, 8'000'000u);
  // Named by its first sample as foreseen when the split was asked; blocks the
  // writer took meanwhile still went to the first part, so the name is never later.
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
    names.insert(entry.path().filename().string());
  }
  ASSERT_EQ(names.size(), 2u);
  const std::string next = *names.rbegin();
  const uint64_t split = joined.size() / 4;
  EXPECT_GT(next, "20260307090503.wav");
  EXPECT_LE(next, NameAt(split));
  const std::vector<uint8_t> second = Data(next);
  joined.insert(joined.end(), second.begin(), second.end());
  EXPECT_EQ(joined, Ramp(0, 40 * kRate));
}

// A split whose new file cannot be made (its name taken meanwhile, with no free
// name to go to) ends the recording in the file it had: that file is finished and
// handed to its encoder once, and the other file is left as it was.
TEST_F(RecordingFaultTest, ASplitThatCannotMakeItsFileFinishesTheOldFileOnce) {
  chain_.WaveFileRecorder.SetFreeName({});
  RecorderOptions.RecordFormat = 3;
  lifecycle_.SetEncoderFolder(home_ / "no encoders here");
  chain_.WaveFileRecorder.SetMaxFileSize(8'000'000);
  Start();
  // The split names its part by the sample it will start at and switches at the
  // next block the writer writes: with the writer caught up on every whole buffer,
  // the name is known and can be taken before that block comes.
  const uint64_t buffer = static_cast<uint64_t>(chain_.WaveRecorder.BufferSize());
  std::vector<std::filesystem::path> taken;
  uint64_t fed = 0;
  for (int second = 0; second < 40 && taken.empty(); ++second) {
    ASSERT_TRUE(Feed(kRate));
    fed += kRate;
    const uint64_t delivered = fed * 4 / buffer * buffer;
    const auto caught_up = [&] { return static_cast<uint64_t>(chain_.WaveFileRecorder.DataBytes()) >= delivered; };
    ASSERT_TRUE(loop_.PumpUntil(caught_up, 10s));
    lifecycle_.WatchRecording();
    if (!chain_.NearSizeLimit()) continue;
    const std::filesystem::path name = folder_ / NameAt(chain_.WrittenMs() * kRate / 1000);
    WriteFile(name, "someone else's");
    taken.push_back(name);
  }
  ASSERT_FALSE(taken.empty());
  ASSERT_TRUE(Feed(kRate));
  ASSERT_TRUE(loop_.PumpUntil([&] { return !chain_.Fault().empty(); }, 10s));
  lifecycle_.WatchRecording();
  lifecycle_.StopRecording();

  EXPECT_FALSE(window_.recording);
  const std::vector<uint8_t> data = Data("20260307090503.wav");
  EXPECT_EQ(data, Ramp(0, data.size() / 4));
  for (const auto& name : taken) EXPECT_EQ(ReadFile(name), "someone else's") << name;
  size_t handed = 0;
  for (const std::string& line : CrLfLines(ReadFile(MonthlyLogFile(RecorderClock::Now())))) {
    handed += line.find("encoder not started") != std::string::npos;
  }
  EXPECT_EQ(handed, 1u) << "the file went to its encoder more than once";
}

// A device that opens but will not start is tried on every tick, each time with a
// new name: no try may leave a file behind, and the file of the one that works
// holds the recording.
TEST_F(RecordingFaultTest, StartsThatFailLeaveNoEmptyFilesBehind) {
  const std::set<std::string> names = RecordAfterRefusedStarts(3);
  ASSERT_EQ(names.size(), 1u) << ::testing::PrintToString(names);
  EXPECT_EQ(Data(*names.begin()), Ramp(0, kRate));
}

// Another recorder sharing the folder made a file of the chosen name between the
// choice and the create (both started in the same second): the start goes on under
// the next free name, and the other's files, as young and small as a failed
// start's, stay as they are, also when the device then refuses to start.
TEST_F(RecordingFaultTest, ANameAnotherRecorderTookGivesWayToTheNextFreeOne) {
  const std::string other = "RIFF of the other recorder";
  driver_.SetAccepts([&](const WaveFormatEx&) {
    if (!std::filesystem::exists(chain_.FileName())) WriteFile(chain_.FileName(), other);
    return true;
  });
  EXPECT_EQ(
      RecordAfterRefusedStarts(1),
      (std::set<std::string>{"20260307090503.wav", "20260307090504.wav", "20260307090505.wav"}));
  EXPECT_EQ(ReadFile(folder_ / "20260307090503.wav"), other);
  EXPECT_EQ(ReadFile(folder_ / "20260307090504.wav"), other);
  EXPECT_EQ(Data("20260307090505.wav"), Ramp(0, kRate));
}

}  // namespace
}  // namespace pmx::test
