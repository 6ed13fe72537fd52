#include "recorder/recording_lifecycle.h"

#include <gmock/gmock.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <thread>

#include "audio/core/chain/wave_in.h"
#include "platform/main_loop.h"
#include "recorder/encoder_hand_off.h"
#include "recorder/event_log.h"
#include "tests/recorder/recorder_fixture.h"
#include "tests/recorder/wav_bytes.h"

namespace pmx::test {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using TimePoint = RecorderClock::TimePoint;

class FakeHost : public TRecordingHost {
 public:
  bool Recording() override { return recording; }
  void SetRecording(bool value) override { recording = value; }
  void SetErrorPanelVisible(bool visible) override { error_panel = visible; }
  void SetStatusText(const std::string& text) override { status = text; }
  void SetLengthText(const std::string& text) override { length = text; }
  TWindowState WindowState() override { return state; }
  int Left() override { return 100; }
  int Top() override { return 80; }
  void SetApplicationIcon(const std::string& file_name) override { icon = file_name; }

  bool recording = false;
  bool error_panel = false;
  std::string status, length, icon;
  TWindowState state = TWindowState::wsNormal;
};

// The chain as the lifecycle drives it: starting creates the file as the wave-file
// component does (sizes not yet written) and fires the device's start event.
class FakeChain : public TRecordingChain {
 public:
  void SetRecorderPcm(int sample_rate, int channels, int bits) override { pcm = {sample_rate, channels, bits}; }
  void SetRecorderFormat(const WaveFormatEx&) override { codec_format = true; }
  void SetFileName(const std::string& name) override { file_name = name; }
  std::string FileName() override { return file_name; }
  void ReleaseFile() override { released = true; }
  void StartRecorder() override {
    ++starts;
    monitor = false;
    if (refuse) throw EMMWaveInError(refuse_reason);
    WriteFile(file_name, WavBytes(16, "", std::string(), false));
    lifecycle->WaveRecorderStart();
  }
  void StopRecorder() override {
    ++stops;
    if (during_stop) during_stop();
  }
  void PauseRecorder() override {}
  void RestartRecorder() override {}
  bool StartMonitor() override { return monitor = true; }
  std::string Fault() override { return fault; }
  uint64_t LostFrames() override { return 0; }
  uint64_t Overruns() override { return 0; }
  uint64_t WriteLostFrames() override { return 0; }
  uint32_t CaptureRate() override { return 44100; }
  bool RoomToRecord() override { return true; }
  bool NearSizeLimit() override { return near_limit; }
  int64_t WrittenMs() override { return written_ms; }
  void SplitFile(const std::string& name) override { split_to = name; }
  std::string TakeFinishedSplit() override { return TakeFront(finished_splits); }
  std::string TakeCloseFailure() override { return TakeFront(close_failures); }
  TCreatedFile TakeCreatedFile() override { return {}; }
  static std::string TakeFront(std::deque<std::string>& list) {
    if (list.empty()) return "";
    std::string front = list.front();
    list.pop_front();
    return front;
  }

  TRecordingLifecycle* lifecycle = nullptr;
  std::vector<int> pcm;
  bool codec_format = false;
  std::string file_name;
  bool released = false, refuse = false, monitor = false;
  std::string fault;  // why the running recording no longer reaches the disk
  std::string refuse_reason = "waveInOpen:\n\rDevice or resource busy";
  // What happens while the device stops (a wait of the GUI thread).
  std::function<void()> during_stop;
  int starts = 0, stops = 0;
  std::deque<std::string> finished_splits;
  std::deque<std::string> close_failures;
  bool near_limit = false;
  int64_t written_ms = 0;
  std::string split_to;
};

class RecordingLifecycleTest : public RecorderTest {
 protected:
  RecordingLifecycleTest() {
    std::filesystem::create_directory(folder_);
    RecorderOptions.RecordingFolder = folder_.string();
    chain_.lifecycle = &lifecycle_;
    lifecycle_.SetEncoderFolder(encoders_);
  }

  // A program in the encoder's place that writes its working folder and its
  // arguments, one a line, to "<name>.argv" in the program folder.
  void PlaceRecordingEncoder(const std::string& name) {
    const auto out = Home(name + ".argv").string();
    WriteFile(encoders_ / name, "#!/bin/sh\n{ pwd; for a in \"$0\" \"$@\"; do echo \"$a\"; done; } > '" +
                                    out + ".part'\nmv '" + out + ".part' '" + out + "'\n");
    std::filesystem::permissions(encoders_ / name, std::filesystem::perms::owner_all);
  }

  std::vector<std::string> WaitForArgv(const std::string& name) {
    const auto path = Home(name + ".argv");
    for (auto until = std::chrono::steady_clock::now() + 20s;
         !std::filesystem::exists(path) && std::chrono::steady_clock::now() < until;) {
      std::this_thread::sleep_for(5ms);
    }
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(path));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // Records data between start and stop one hour later.
  std::string Record(const std::string& data) {
    now_ = start_;
    lifecycle_.StartRecording();
    std::ofstream(chain_.file_name, std::ios::binary | std::ios::app) << data;
    now_ = start_ + 1h;
    lifecycle_.StopRecording();
    return chain_.file_name;
  }

  std::filesystem::path folder_ = home_ / "My Rec";
  // Apart from the settings folder: the encoders are installed with the program.
  std::filesystem::path encoders_ = [this] {
    std::filesystem::create_directory(home_ / "bin");
    return home_ / "bin";
  }();
  const TimePoint start_ = LocalTimePoint(2026, 3, 7, 9, 5, 3);
  TimePoint now_ = start_;
  ScopedRecorderClock clock_{[this] { return now_; }};
  FakeHost host_;
  FakeChain chain_;
  TRecorderState state_;
  TRecordingLifecycle lifecycle_{host_, chain_, RecorderOptions, state_};
};

TEST_F(RecordingLifecycleTest, PcmRecordingGetsItsSizesAndStartTime) {
  RecorderOptions.SampleRateIndex = 3;
  RecorderOptions.ChannelsIndex = 2;
  RecorderOptions.SaveMode = 6;
  const std::string data(12345, '\x55');
  state_.SilenceCount = 9;
  const std::string file = Record(data);

  EXPECT_EQ(file, (folder_ / "20260307090503.wav").string());
  EXPECT_THAT(chain_.pcm, ElementsAre(44100, 1, 16));
  const std::string bytes = ReadFile(file);
  ASSERT_EQ(bytes.size(), 44 + data.size());
  EXPECT_EQ(Uint32At(bytes, 4), data.size() + 36);
  EXPECT_EQ(Uint32At(bytes, 40), data.size());
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mtim.tv_sec, std::chrono::system_clock::to_time_t(start_));

  EXPECT_FALSE(host_.recording);
  EXPECT_TRUE(chain_.released);
  EXPECT_TRUE(chain_.monitor);
  EXPECT_EQ(state_.SilenceCount, 0);
  EXPECT_EQ(state_.GapCountdown, 2);
  EXPECT_EQ(host_.status, "Recording stopped");
  EXPECT_EQ(host_.length, "Recording length");
  EXPECT_EQ(lifecycle_.RecordingStartTime(), start_);
}

TEST_F(RecordingLifecycleTest, StartShowsTheRecordingAndASecondStartDoesNothing) {
  RecorderOptions.SampleRateIndex = 7;
  RecorderOptions.ChannelsIndex = 1;
  state_.SilenceCount = 5;
  lifecycle_.StartRecording();
  EXPECT_TRUE(host_.recording);
  EXPECT_EQ(state_.SilenceCount, 0);
  EXPECT_THAT(chain_.pcm, ElementsAre(0, 2, 8));
  EXPECT_EQ(host_.status, "Recording started at : " + DateTimeText(start_));

  now_ = start_ + 5s;
  const std::string first = chain_.file_name;
  lifecycle_.StartRecording();
  EXPECT_EQ(chain_.starts, 1);
  EXPECT_EQ(chain_.file_name, first);
  EXPECT_EQ(lifecycle_.RecordingStartTime(), start_);
}

TEST_F(RecordingLifecycleTest, StopWhileIdleOnlySetsTheGap) {
  RecorderOptions.SoftGap = true;
  RecorderOptions.RecordFormat = 2;
  state_.SilenceCount = 7;
  lifecycle_.StopRecording();
  EXPECT_EQ(state_.GapCountdown, 20);
  EXPECT_EQ(state_.SilenceCount, 7);
  EXPECT_EQ(chain_.stops, 0);
  EXPECT_TRUE(host_.status.empty());
}

TEST_F(RecordingLifecycleTest, AFolderThatCannotBeMadeShowsTheErrorPanelUntilAStartWorks) {
  MainLoop& loop = MainLoop::Instance();
  ReportedErrors errors(loop);
  std::vector<std::string>& reported = errors.texts;
  std::filesystem::remove(folder_);
  WriteFile(folder_, "a file where the folder was");
  lifecycle_.StartRecording();
  EXPECT_TRUE(host_.error_panel);
  EXPECT_EQ(chain_.starts, 0);
  EXPECT_FALSE(host_.recording);
  loop.ProcessPending();
  reported.clear();

  std::filesystem::remove(folder_);  // the next start makes the folder
  chain_.refuse = true;
  lifecycle_.StartRecording();
  lifecycle_.RetryFailedStart();  // the tick that asked needs no second try
  EXPECT_EQ(chain_.starts, 1);
  now_ += 1s;                      // the next tick tries again, with another name
  lifecycle_.RetryFailedStart();
  loop.ProcessPending();
  EXPECT_TRUE(host_.error_panel) << "a device that cannot be opened is shown";
  EXPECT_FALSE(host_.recording);
  EXPECT_EQ(chain_.starts, 2);
  ASSERT_EQ(reported.size(), 1u) << "one report for a run of failures";
  EXPECT_EQ(reported[0], "Recording to " + (folder_ / "20260307090503.wav").string() +
                             " could not be started: " + chain_.refuse_reason);

  chain_.refuse = false;
  lifecycle_.RetryFailedStart();
  EXPECT_TRUE(host_.recording);
  EXPECT_FALSE(host_.error_panel);
  lifecycle_.StopRecording();
  lifecycle_.RetryFailedStart();
  EXPECT_EQ(chain_.starts, 3) << "a recording that ran is not started again";

  chain_.refuse = true;
  lifecycle_.StartRecording();
  lifecycle_.StopRecording();
  lifecycle_.RetryFailedStart();
  lifecycle_.RetryFailedStart();
  EXPECT_EQ(chain_.starts, 4) << "a stop ends the retries";
}

TEST_F(RecordingLifecycleTest, RequestsArrivingDuringAStopRunAfterItInOrder) {
  lifecycle_.StartRecording();
  MainLoop& loop = MainLoop::Instance();
  std::vector<std::string> order;
  int inside = 0;
  chain_.during_stop = [&] {
    ++inside;
    order.push_back(inside == 1 ? "stop" : "nested stop");
    // A worker's synchronized call, served by the wait, asks for a stop and a start.
    std::atomic<bool> served{false};
    std::thread worker([&] {
      loop.Synchronize([&] {
        lifecycle_.StopRecording();
        lifecycle_.Exclusive([] { throw EInOutError("I/O error writing"); });
        lifecycle_.Exclusive([&] { order.push_back("tick"); });
        lifecycle_.StartRecording();
      });
      served = true;
    });
    ASSERT_TRUE(loop.PumpUntil([&] { return served.load(); }, 10s));
    worker.join();
    --inside;
  };
  lifecycle_.StopRecording();
  EXPECT_THAT(order, ElementsAre("stop"));
  EXPECT_EQ(chain_.starts, 1);

  chain_.during_stop = nullptr;
  int errors = 0;
  loop.SetExceptionHandler([&](std::exception_ptr) { ++errors; });
  loop.ProcessPending();
  loop.SetExceptionHandler({});
  EXPECT_EQ(errors, 1);
  EXPECT_THAT(order, ElementsAre("stop", "tick")) << "an error drops none of the requests after it";
  EXPECT_EQ(chain_.stops, 1) << "the second stop found the recorder idle";
  EXPECT_EQ(chain_.starts, 2) << "the start ran after the stop";
  EXPECT_TRUE(host_.recording);
}

// The alarm of a fault ends once a recording reaches the disk again, also when
// someone stopped the recorder and started it anew instead of waiting for the retry.
TEST_F(RecordingLifecycleTest, AFaultAlarmEndsWithTheNextRecordingThatWorks) {
  lifecycle_.StartRecording();
  chain_.fault = "recording device failed: read: No such device";
  EXPECT_EQ(lifecycle_.WatchRecording().alarms, std::vector<std::string>{chain_.fault});
  EXPECT_FALSE(host_.recording);
  lifecycle_.StopRecording();
  chain_.fault.clear();
  now_ += 2s;
  lifecycle_.StartRecording();
  ASSERT_TRUE(host_.recording);
  const TRecordingWatch watch = lifecycle_.WatchRecording();
  EXPECT_TRUE(watch.alarms.empty());
  EXPECT_TRUE(watch.all_clear);
}

TEST_F(RecordingLifecycleTest, StopOfAVanishedFileRaisesAndLeavesTheRestOut) {
  RecorderOptions.SaveMode = 6;
  lifecycle_.StartRecording();
  std::filesystem::remove(chain_.file_name);
  state_.GapCountdown = 9;
  EXPECT_THROW(lifecycle_.StopRecording(), EInOutError);
  EXPECT_FALSE(host_.recording);
  EXPECT_FALSE(chain_.monitor);
  EXPECT_EQ(state_.GapCountdown, 9);
}

// A part of the recording that can't be finished (removed from the disk), or a
// file whose end didn't reach the disk, is logged and alarmed; the recording that
// ends is still finished and encoded.
TEST_F(RecordingLifecycleTest, AnUnfinishablePartLeavesTheRecordingToItsEncoder) {
  PlaceRecordingEncoder("mosquill");
  RecorderOptions.RecordFormat = 2;
  const std::string lost_part = (folder_ / "20260307080503.wav").string();
  chain_.finished_splits.push_back(lost_part);
  const std::string lost_end = "20260307070503.wav: not finished on the disk (Input/output error)";
  chain_.close_failures.push_back(lost_end);
  std::string file;
  EXPECT_NO_THROW(file = Record("abcd"));

  EXPECT_TRUE(chain_.released);
  const std::string bytes = ReadFile(file);
  EXPECT_EQ(Uint32At(bytes, 40), 4u);
  const auto argv = WaitForArgv("mosquill");
  ASSERT_GE(argv.size(), 3u);
  std::string starred = file;
  std::replace(starred.begin(), starred.end(), ' ', '*');
  EXPECT_EQ(argv[2], starred);
  const std::string log = ReadFile(MonthlyLogFile(now_));
  EXPECT_NE(log.find(lost_part), std::string::npos);
  EXPECT_NE(log.find(lost_end), std::string::npos);
  const TRecordingWatch watch = lifecycle_.WatchRecording();
  ASSERT_EQ(watch.alarms.size(), 2u);
  EXPECT_NE(watch.alarms[0].find(lost_part), std::string::npos) << watch.alarms[0];
  EXPECT_NE(watch.alarms[1].find(lost_end), std::string::npos) << watch.alarms[1];
}

// The writer switches files only when the ring's backlog reaches the split, so the
// next part is named and stamped after its first sample, not after the request.
TEST_F(RecordingLifecycleTest, ASplitPartIsNamedAndStampedAtItsFirstSample) {
  lifecycle_.StartRecording();
  const std::string first = chain_.file_name;
  now_ = start_ + 1h + 12s;
  chain_.written_ms = 3600300;
  chain_.near_limit = true;
  lifecycle_.WatchRecording();
  ASSERT_EQ(chain_.split_to, (folder_ / "20260307100503.wav").string());

  // The switch, with 200 ms more in the first part: 8000 bytes a second, sparse.
  std::string fmt;
  PutUint32(fmt, 1 | 1 << 16);  // PCM, mono
  PutUint32(fmt, 8000);
  PutUint32(fmt, 8000);
  PutUint32(fmt, 1 | 8 << 16);  // 1-byte frames of 8 bits
  const std::string no_size(4, '\0');
  WriteFile(first, "RIFF" + no_size + "WAVE" + Chunk("fmt ", fmt) + "data" + no_size);
  std::filesystem::resize_file(first, 44 + 8 * 3600500ull);
  chain_.file_name = chain_.split_to;
  WriteFile(chain_.file_name, WavBytes(16, "", "abcd"));
  chain_.finished_splits.push_back(first);
  now_ += 1s;
  lifecycle_.WatchRecording();
  EXPECT_EQ(lifecycle_.RecordingStartTime(), start_ + 3600500ms);
  lifecycle_.StopRecording();
  struct stat info {};
  ASSERT_EQ(stat(chain_.file_name.c_str(), &info), 0);
  EXPECT_EQ(info.st_mtim.tv_sec, std::chrono::system_clock::to_time_t(start_ + 1h));
}

TEST_F(RecordingLifecycleTest, Mp3EncoderGetsTheRecordingAndItsSettings) {
  PlaceRecordingEncoder("mosquill");
  RecorderOptions.RecordFormat = 2;
  RecorderOptions.BitRateIndex = 9;
  RecorderOptions.EncoderDelay = 2;
  RecorderOptions.WavDays = 0;
  const std::string file = Record("abcd");
  std::string starred = file;
  std::replace(starred.begin(), starred.end(), ' ', '*');
  EXPECT_THAT(WaitForArgv("mosquill"), ElementsAre(folder_.string(), (encoders_ / "mosquill").string(), starred,
                                                   "128", "150", "180", "2001", "delete"));
}

TEST_F(RecordingLifecycleTest, OggEncoderOfAMinimizedWindowKeepingTheWav) {
  PlaceRecordingEncoder("kobrinvert");
  RecorderOptions.RecordFormat = 3;
  RecorderOptions.QualityIndex = 3;
  RecorderOptions.EncoderDelay = 1;
  RecorderOptions.WavDays = 1;
  host_.state = TWindowState::wsMinimized;
  Record("abcd");
  const auto argv = WaitForArgv("kobrinvert");
  ASSERT_EQ(argv.size(), 7u);
  EXPECT_THAT(std::vector(argv.begin() + 3, argv.end()), ElementsAre("0.2", "0", "0", "1000"));
}

TEST_F(RecordingLifecycleTest, MissingEncoderIsLoggedAndToldOnStderr) {
  RecorderOptions.RecordFormat = 3;
  testing::internal::CaptureStderr();
  Record("abcd");
  const std::string said = testing::internal::GetCapturedStderr();
  const std::string line =
      "encoder not started: " + (encoders_ / "kobrinvert").string() + ": No such file or directory";
  EXPECT_NE(ReadFile(MonthlyLogFile(now_)).find(line), std::string::npos);
  EXPECT_NE(said.find("pelmorax: " + line + "\n"), std::string::npos) << said;
  EXPECT_FALSE(std::filesystem::exists(Home("alarm.txt")));
}

}  // namespace
}  // namespace pmx::test
