#include "recorder/control_tick.h"

#include <gmock/gmock.h>
#include <sys/ioctl.h>
#include <sys/time.h>

#include <memory>
#include <utility>

#include "devices/serial_port.h"
#include "platform/main_loop.h"
#include "platform/ports/fake_serial_device.h"
#include "platform/ports/port_io.h"
#include "tests/recorder/recorder_fixture.h"

namespace pmx::test {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using TimePoint = RecorderClock::TimePoint;

// 9 March 2026 is a Monday.
TimePoint At(int hour, int minute, int second, int millisecond = 0) {
  return LocalTimePoint(2026, 3, 9, hour, minute, second, millisecond);
}

// The main window as far as the tick sees it: a recorder whose position runs
// with the virtual clock, and the start and stop rules of the recording lifecycle.
class FakeHost : public TControlTickHost {
 public:
  FakeHost(const TimePoint& now, const TRecorderOptions& options, TRecorderState& state)
      : now_(now), options_(options), state_(state) {}

  bool Recording() override { return recording_; }
  int64_t RecordingPosition() override {
    return recording_ ? std::chrono::duration_cast<std::chrono::milliseconds>(now_ - started_).count() : 0;
  }
  bool RecorderPaused() override { return paused; }
  int LastPeak() override { return peak; }
  bool AlarmVisible() override { return alarm; }
  void SetAlarmVisible(bool visible) override { alarm = visible; }
  void StartRecording() override {
    if (recording_) return;
    recording_ = true;
    monitor = false;
    started_ = now_;
    state_.SilenceCount = 0;
    starts.push_back(now_);
  }
  void StopRecording() override {
    if (recording_) {
      recording_ = false;
      state_.SilenceCount = 0;
      stops.push_back(now_);
    }
    state_.GapCountdown = options_.SoftGap ? 20 : 2;
  }
  TRecordingWatch WatchRecording() override { return std::exchange(watch, {}); }
  void StartMonitor() override { monitor = true; }
  void CloseMonitor() override { monitor = false; }
  void SetPeakText(const std::string& text) override { peak_text = text; }
  void SetSilenceText(const std::string& text) override { silence_text = text; }
  void SetLengthText(const std::string& text) override { length_text = text; }
  void ShowSerialPins(bool dsr, bool cts) override { pins = {dsr, cts}; }
  void BroadcastAlarm(int state) override { broadcasts.push_back(state); }
  void EnableDelayStop(uint32_t interval_ms) override { delay_stop = interval_ms; }
  void DisableDelayStop() override { delay_stop = 0; }

  int peak = 0;
  TRecordingWatch watch;  // what the next tick's look at the recording finds
  bool paused = false;
  bool alarm = false;
  bool monitor = false;
  uint32_t delay_stop = 0;
  std::pair<bool, bool> pins;
  std::string peak_text, silence_text, length_text;
  std::vector<int> broadcasts;
  std::vector<TimePoint> starts, stops;

 private:
  const TimePoint& now_;
  const TRecorderOptions& options_;
  TRecorderState& state_;
  bool recording_ = false;
  TimePoint started_;
};

class ControlTickTest : public RecorderTest {
 protected:
  ~ControlTickTest() override { PortIo::Instance().SetOpener({}); }

  void AllowAllHours() {
    for (auto& row : RecorderOptions.Schedule) row.fill(false);
    RecorderOptions.Schedule[0].fill(true);
  }
  // LPT1 on a fake port.
  void UseFakeLpt() {
    PortIo::Instance().SetOpener(
        [this](int index) { return index == 0 ? lpt_ : std::shared_ptr<FakeParallelPort>(); });
    LptBase = 0x378;
    state_.PortAccess = true;
  }
  std::vector<uint8_t> DataWrites() const {
    std::vector<uint8_t> values;
    for (const auto& write : lpt_->Writes()) {
      if (write.reg == LptRegister::Data && (values.empty() || values.back() != write.value)) {
        values.push_back(write.value);
      }
    }
    return values;
  }
  // Ticks every 500 ms from now_ up to and excluding end.
  void RunUntil(TimePoint end) {
    for (; now_ < end; now_ += 500ms) tick_.StatusTimerTimer();
  }
  void TickAt(TimePoint when) {
    now_ = when;
    tick_.StatusTimerTimer();
  }
  // A recording whose silence is alarmed, then a tick whose watch alarms event.
  void AlarmSilenceThen(const std::string& event) {
    RecorderOptions.SaveMode = 5;
    RecorderOptions.SilenceDelay = 2;
    RecorderOptions.Threshold = 100;
    host_.StartRecording();
    RunUntil(now_ + 3s);
    ASSERT_TRUE(host_.alarm);
    host_.watch.alarms = {event};
    TickAt(now_ + 500ms);
  }
  std::vector<std::string> LogLinesWith(const std::string& event) {
    std::vector<std::string> found;
    for (const std::string& line : CrLfLines(ReadFile(Home("Month-03-log.txt")))) {
      if (line.ends_with(" " + event)) found.push_back(line);
    }
    return found;
  }

  TimePoint now_ = At(9, 0, 0);
  ScopedRecorderClock clock_{[this] { return now_; }};
  TRecorderState state_;
  FakeHost host_{now_, RecorderOptions, state_};
  std::shared_ptr<FakeParallelPort> lpt_ = std::make_shared<FakeParallelPort>();
  TSerialPort serial_;
  TControlTick tick_{host_, serial_, settings_, state_};
};

class HourlySplit : public ControlTickTest, public ::testing::WithParamInterface<bool> {};

TEST_P(HourlySplit, StopsInSecondsElevenToFifteenAndStartsAfterTheGap) {
  RecorderOptions.StopDelay = 10;
  RecorderOptions.SoftGap = GetParam();
  RecorderOptions.Threshold = 100;
  RecorderOptions.SilenceDelay = 100;
  AllowAllHours();
  now_ = At(9, 59, 30);
  RunUntil(At(10, 0, 30));
  const TimePoint restart = At(10, 0, 11) + (GetParam() ? 10s : 1s);
  EXPECT_THAT(host_.stops, ElementsAre(At(10, 0, 11)));
  EXPECT_THAT(host_.starts, ElementsAre(At(9, 59, 30), restart));
  EXPECT_TRUE(LogLinesWith("Recording stopped: no recording until a scheduled hour").empty());
}

INSTANTIATE_TEST_SUITE_P(SoftGap, HourlySplit, ::testing::Bool());

TEST_F(ControlTickTest, SplitEndsTheTickSoSignalRestartsOnTheNext) {
  RecorderOptions.Threshold = 100;
  AllowAllHours();
  host_.peak = 500;
  now_ = At(9, 59, 50);
  RunUntil(At(10, 0, 8));
  EXPECT_THAT(host_.stops, ElementsAre(At(10, 0, 1)));
  EXPECT_THAT(host_.starts, ElementsAre(At(9, 59, 50), At(10, 0, 1, 500)));
}

// The split into an hour the schedule leaves out ends the recording, and the log says why.
TEST_F(ControlTickTest, DisallowedHourStartsNothingButStillSplits) {
  RecorderOptions.StopDelay = 10;
  RecorderOptions.Threshold = 100;
  RecorderOptions.Schedule[1][9] = true;  // Mondays at 9 only
  now_ = At(9, 59, 50);
  RunUntil(At(10, 0, 30));
  host_.peak = 500;
  RunUntil(At(10, 1, 0));
  EXPECT_THAT(host_.starts, ElementsAre(At(9, 59, 50)));
  EXPECT_THAT(host_.stops, ElementsAre(At(10, 0, 11)));
  EXPECT_EQ(LogLinesWith("Recording stopped: no recording until a scheduled hour").size(), 1u);
}

TEST_F(ControlTickTest, SplitsOfTheTwoAndFourHourModes) {
  struct Case {
    int mode;
    TimePoint started, tick;
    bool stops;
  };
  const Case cases[] = {
      {1, At(12, 0, 0), At(13, 0, 2), false},  {1, At(13, 0, 0), At(14, 0, 2), true},
      {1, At(13, 59, 57), At(14, 0, 2), false}, {1, At(13, 0, 0), At(14, 0, 6), false},
      {2, At(13, 0, 0), At(14, 0, 2), false},  {2, At(15, 0, 0), At(16, 0, 5), true},
  };
  for (const Case& c : cases) {
    RecorderOptions.SaveMode = c.mode;
    host_.stops.clear();
    now_ = c.started;
    host_.StartRecording();
    TickAt(c.tick);
    EXPECT_EQ(host_.stops.size(), c.stops ? 1u : 0u) << "mode " << c.mode;
    host_.StopRecording();
  }
}

TEST_F(ControlTickTest, SilenceAlarmIsLoggedTwiceAndNormalOnce) {
  RecorderOptions.SaveMode = 5;
  RecorderOptions.SilenceDelay = 30;
  RecorderOptions.Threshold = 100;
  RecorderOptions.AlarmOutputs = true;
  UseFakeLpt();
  host_.peak = 5000;
  now_ = At(9, 59, 59, 500);
  host_.StartRecording();
  RunUntil(At(10, 0, 0, 500));
  host_.peak = 0;
  RunUntil(At(10, 0, 30, 500));
  EXPECT_TRUE(host_.alarm);
  EXPECT_EQ(host_.silence_text, "Input signal below threshold: 30 sec.");
  RunUntil(At(10, 0, 40));
  host_.peak = 5000;
  RunUntil(At(10, 0, 41));

  const auto no_signal = LogLinesWith("no signal");
  ASSERT_EQ(no_signal.size(), 2u);
  EXPECT_NE(no_signal[0].find("10:00:30"), std::string::npos);
  EXPECT_NE(no_signal[1].find("10:00:30"), std::string::npos);
  ASSERT_EQ(LogLinesWith("normal").size(), 1u);
  EXPECT_NE(LogLinesWith("normal")[0].find("10:00:40"), std::string::npos);
  EXPECT_FALSE(host_.alarm);
  EXPECT_THAT(host_.broadcasts, ElementsAre(1, 1, 0));
  EXPECT_THAT(DataWrites(), ElementsAre(0x00, 0x1F, 0x0F, 0x1F, 0x0F, 0x20, 0x00));
  // Every data write is framed by the control register.
  const auto& writes = lpt_->Writes();
  ASSERT_GE(writes.size(), 3u);
  EXPECT_EQ(writes[0], (FakeParallelPort::RegisterWrite{LptRegister::Control, 1}));
  EXPECT_EQ(writes[2], (FakeParallelPort::RegisterWrite{LptRegister::Control, 0}));
}

TEST_F(ControlTickTest, ARecordingFaultIsAlarmedAsSilenceIsAndClearedWhenItEnds) {
  RecorderOptions.SaveMode = 5;
  RecorderOptions.AlarmOutputs = true;
  UseFakeLpt();
  host_.watch.alarms = {"recording device failed: read: No such device"};
  // stderr is a service's journal.
  testing::internal::CaptureStderr();
  TickAt(now_);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "pelmorax: recording device failed: read: No such device\n");
  EXPECT_TRUE(host_.alarm);
  EXPECT_TRUE(ReadFile(Home("alarm.txt")).ends_with(" recording device failed: read: No such device\r\n"));
  EXPECT_EQ(LogLinesWith("recording device failed: read: No such device").size(), 1u);
  host_.watch.all_clear = true;
  TickAt(now_ + 500ms);
  EXPECT_FALSE(host_.alarm);
  EXPECT_EQ(LogLinesWith("normal").size(), 1u);
  EXPECT_THAT(host_.broadcasts, ElementsAre(1, 0));
  EXPECT_THAT(DataWrites(), ElementsAre(0x1F, 0x0F, 0x20, 0x00));
}

// A loss that ends must not end the alarm of a silence that goes on: the silence
// alarm is raised once, so cleared it would stay silent until the signal returns.
TEST_F(ControlTickTest, AnEndedLossLeavesTheAlarmOfAnOngoingSilence) {
  AlarmSilenceThen("audio lost: 40 ms");
  host_.watch.all_clear = true;
  TickAt(now_ + 500ms);
  EXPECT_TRUE(host_.alarm);
  EXPECT_TRUE(LogLinesWith("normal").empty());
  host_.peak = 5000;
  TickAt(now_ + 500ms);
  EXPECT_FALSE(host_.alarm);
  EXPECT_EQ(LogLinesWith("normal").size(), 1u);
}

// The other way round: the signal's return ends the silence, not a device fault or
// a loss that still holds; "normal" waits for the last cause to end.
TEST_F(ControlTickTest, ReturningSignalLeavesTheAlarmOfAFaultThatHolds) {
  AlarmSilenceThen("recording device failed: read: No such device");
  host_.peak = 5000;
  TickAt(now_ + 500ms);
  EXPECT_TRUE(host_.alarm);
  EXPECT_TRUE(LogLinesWith("normal").empty());

  host_.peak = 0;  // a dip too short for an alarm of its own
  TickAt(now_ + 500ms);
  host_.peak = 5000;
  TickAt(now_ + 500ms);
  EXPECT_TRUE(host_.alarm);
  host_.watch.all_clear = true;
  TickAt(now_ + 500ms);
  EXPECT_FALSE(host_.alarm);
  EXPECT_EQ(LogLinesWith("normal").size(), 1u);
}

TEST_F(ControlTickTest, PausedRecorderLogsTheAlarmWithoutShowingIt) {
  RecorderOptions.SilenceDelay = 1;
  RecorderOptions.Threshold = 100;
  RecorderOptions.SaveMode = 5;
  host_.StartRecording();
  host_.paused = true;
  RunUntil(now_ + 2s);
  EXPECT_EQ(LogLinesWith("no signal").size(), 2u);
  EXPECT_FALSE(host_.alarm);
}

TEST_F(ControlTickTest, NoSilenceDelayRaisesNoAlarmWhileSignalIsThere) {
  RecorderOptions.SaveMode = 5;
  RecorderOptions.Threshold = 100;
  host_.peak = 5000;
  host_.StartRecording();
  RunUntil(now_ + 5s);
  EXPECT_FALSE(host_.alarm);
  EXPECT_FALSE(std::filesystem::exists(Home("Month-03-log.txt")));
}

TEST_F(ControlTickTest, VoiceSenseStopsOnSilenceAndStartsOnSignal) {
  RecorderOptions.SaveMode = 6;
  RecorderOptions.SilenceDelay = 2;
  RecorderOptions.Threshold = 100;
  AllowAllHours();
  host_.monitor = true;
  host_.peak = 500;
  RunUntil(now_ + 1s);
  ASSERT_EQ(host_.starts.size(), 1u);
  EXPECT_FALSE(host_.monitor);
  host_.peak = 0;
  RunUntil(now_ + 3s);
  ASSERT_EQ(host_.stops.size(), 1u);
  EXPECT_TRUE(host_.monitor);
  EXPECT_TRUE(host_.alarm);  // a stop leaves the alarm standing

  host_.peak = 500;
  RunUntil(now_ + 1s);
  EXPECT_EQ(host_.starts.size(), 2u);
  EXPECT_TRUE(host_.alarm);  // no silent tick in this recording yet
  host_.peak = 0;
  RunUntil(now_ + 500ms);
  host_.peak = 500;
  RunUntil(now_ + 500ms);
  EXPECT_FALSE(host_.alarm);
  EXPECT_EQ(LogLinesWith("normal").size(), 1u);
}

TEST_F(ControlTickTest, ImplausiblePeakNeverStarts) {
  RecorderOptions.SaveMode = 5;
  RecorderOptions.Threshold = 100;
  AllowAllHours();
  for (int peak : {10000, 32767}) {
    host_.peak = peak;
    RunUntil(now_ + 2s);
  }
  EXPECT_TRUE(host_.starts.empty());
  host_.peak = 9999;
  RunUntil(now_ + 500ms);
  EXPECT_EQ(host_.starts.size(), 1u);
}

struct LptMode {
  int mode;
  uint8_t idle, started, stopped;
};

class LptEdges : public ControlTickTest, public ::testing::WithParamInterface<LptMode> {};

TEST_P(LptEdges, ContactsStartAndStopOnEdgesSeenAcrossASampling) {
  const LptMode& p = GetParam();
  RecorderOptions.SaveMode = p.mode;
  RecorderOptions.Threshold = 20000;
  AllowAllHours();
  UseFakeLpt();
  lpt_->SetStatus(p.idle);
  tick_.StatusTimerTimer();
  lpt_->SetStatus(p.started);
  lpt_->SetStatus(p.idle);  // gone again before the tick: lost
  tick_.StatusTimerTimer();
  EXPECT_TRUE(host_.starts.empty());

  lpt_->SetStatus(p.started);
  tick_.StatusTimerTimer();
  tick_.StatusTimerTimer();
  EXPECT_EQ(host_.starts.size(), 1u);
  lpt_->SetStatus(p.stopped);
  tick_.StatusTimerTimer();
  EXPECT_EQ(host_.stops.size(), 1u);
  EXPECT_EQ(state_.PrevLptStatus, p.stopped);
}

// Mode 3: pin 10 (bit 6) falls to start, pin 11 (bit 7) falls to stop.
// Mode 4: pin 12 (bit 5) falls to start, pin 13 (bit 4) rises to stop.
INSTANTIATE_TEST_SUITE_P(Modes, LptEdges,
                         ::testing::Values(LptMode{3, 0xC0, 0x80, 0x00}, LptMode{4, 0x20, 0x00, 0x10}));

TEST_F(ControlTickTest, SerialLinesStartAndDelayTheStop) {
  auto line = std::make_shared<FakeSerialDevice>();
  RecorderOptions.SaveMode = 7;
  RecorderOptions.StopDelay = 3;
  RecorderOptions.Threshold = 20000;
  RecorderOptions.AlarmOutputs = true;
  ComNumber = 1;
  AllowAllHours();
  line->SetInputLines(TIOCM_DSR);
  tick_.StatusTimerTimer();  // the port is not open: nothing
  EXPECT_TRUE(host_.starts.empty());

  line->SetInputLines(0);
  serial_.SetOpener(line->Opener());
  serial_.SetCommPort("COM1");
  serial_.SetActive(true);
  tick_.StatusTimerTimer();
  line->SetInputLines(TIOCM_DSR | TIOCM_CTS);
  ASSERT_TRUE(MainLoop::Instance().PumpUntil([&] { return serial_.CTSState(); }, 5s));
  host_.delay_stop = 1;
  tick_.StatusTimerTimer();
  EXPECT_EQ(host_.starts.size(), 1u);
  EXPECT_EQ(host_.delay_stop, 0u);
  EXPECT_EQ(host_.pins, std::make_pair(true, true));

  line->SetInputLines(TIOCM_DSR);
  ASSERT_TRUE(MainLoop::Instance().PumpUntil([&] { return !serial_.CTSState(); }, 5s));
  tick_.StatusTimerTimer();
  EXPECT_EQ(host_.delay_stop, 3001u);
  EXPECT_TRUE(host_.stops.empty());
  tick_.tmrDelayStopTimer();
  EXPECT_EQ(host_.stops.size(), 1u);
  EXPECT_EQ(host_.delay_stop, 0u);

  EXPECT_FALSE(line->OutputLines() & TIOCM_DTR);
  host_.alarm = true;  // the alarm drives DTR
  tick_.StatusTimerTimer();
  EXPECT_TRUE(line->OutputLines() & TIOCM_DTR);
  host_.alarm = false;
  tick_.StatusTimerTimer();
  EXPECT_FALSE(line->OutputLines() & TIOCM_DTR);
  serial_.SetActive(false);
}

TEST_F(ControlTickTest, RetentionSweepRunsEveryFourHoursOnTheHour) {
  const std::filesystem::path folder = Home("rec");
  std::filesystem::create_directory(folder);
  RecorderOptions.RecordingFolder = folder.string();
  RecorderOptions.WavDays = 1;
  RecorderOptions.CompressedDays = 1;
  RecorderOptions.SaveMode = 5;
  const std::filesystem::path old = folder / "20260301090000.wav";
  WriteFile(old, "RIFF");
  const timeval times[2] = {{std::chrono::system_clock::to_time_t(At(9, 0, 0) - 240h), 0},
                            {std::chrono::system_clock::to_time_t(At(9, 0, 0) - 240h), 0}};
  ASSERT_EQ(utimes(old.c_str(), times), 0);
  TickAt(At(9, 0, 0));
  TickAt(At(8, 0, 1));
  EXPECT_TRUE(std::filesystem::exists(old));
  TickAt(At(8, 0, 0, 500));
  EXPECT_FALSE(std::filesystem::exists(old));
}

TEST(ControlTickTexts, PeakAndLength) {
  EXPECT_EQ(PeakText(32766), "Last peak: 0.0 dB");
  EXPECT_EQ(PeakText(32765), "Last peak: 0.0 dB") << "no negative zero";
  EXPECT_EQ(PeakText(0), "Last peak: -45.2 dB");
  EXPECT_EQ(LengthText(3723999), "Recording length : 01:02:03");
  EXPECT_EQ(LengthText(360000000), "Recording length : 100:00:00");
}

}  // namespace
}  // namespace pmx::test
