#include "recorder/recording_lifecycle.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <utility>

#include "audio/core/files/wave_file.h"
#include "platform/alsa/wave_driver.h"
#include "platform/exception.h"
#include "platform/main_loop.h"
#include "platform/ui_hook.h"
#include "recorder/encoder_hand_off.h"
#include "recorder/event_log.h"
#include "recorder/recorder_options.h"
#include "recorder/recording_files.h"
#include "recorder/recording_header.h"

namespace pmx {

namespace {

constexpr uint16_t kCodecFormat = 1;
constexpr int kSoftGapTicks = 20;
constexpr int kGapTicks = 2;
// A recording that faulted is tried again after 3 s; when resumed recordings keep
// faulting at once (a disk that takes a file but no data), the wait doubles up to
// about 3 minutes, so a broken disk is not filled with stubs.
constexpr int kResumeTicks = 6;
constexpr int kMaxResumeDoublings = 6;
constexpr auto kQuickFault = std::chrono::minutes(1);
// A loss alarm ends after 10 s without further loss.
constexpr int kLossQuietTicks = 20;

int SampleRateOf(uint16_t index) {
  constexpr std::array<int, 4> kRates = {8000, 16000, 32000, 44100};
  return index < kRates.size() ? kRates[index] : 0;
}

// Index 0..3: mono 8 bit, stereo 8 bit, mono 16 bit, stereo 16 bit.
int ChannelsOf(uint16_t index) { return index < 4 ? index % 2 + 1 : 0; }
int BitsOf(uint16_t index) { return index < 4 ? (index < 2 ? 8 : 16) : 0; }

}  // namespace

void TRecordingLifecycle::StartRecording() {
  Exclusive([this] { StartNow(); });
}

void TRecordingLifecycle::StopRecording() {
  Exclusive([this] { StopNow(); });
}

bool TRecordingLifecycle::MustWait() const {
  return depth_ > 0 && MainLoop::Instance().Serving();
}

void TRecordingLifecycle::Exclusive(std::function<void()> fn) {
  if (MustWait()) {
    deferred_.push_back(std::move(fn));
    return;
  }
  struct Section {
    TRecordingLifecycle& owner;
    explicit Section(TRecordingLifecycle& o) : owner(o) { ++owner.depth_; }
    ~Section() {
      if (--owner.depth_ == 0) owner.RunDeferred();
    }
  } section(*this);
  fn();
}

// Deferred requests run from the main loop, not nested in whatever ended the
// section, so each of them is again a request of its own.
void TRecordingLifecycle::RunDeferred() {
  if (deferred_.empty()) return;
  MainLoop::Instance().Post([weak = std::weak_ptr(self_), requests = std::move(deferred_)]() mutable {
    const auto self = weak.lock();
    if (!self) return;
    // One request's error must not drop the ones after it (a tick among them).
    for (auto& request : requests) {
      try {
        (*self)->Exclusive(std::move(request));
      } catch (...) {
        HandleApplicationException(std::current_exception());
      }
    }
  });
  deferred_.clear();
}

void TRecordingLifecycle::RetryFailedStart() {
  if (retry_wanted_ && !tried_) StartRecording();
  tried_ = false;
}

void TRecordingLifecycle::StartNow() {
  // After a fault every start (the clock's, the level's, the user's) waits for the
  // next try, so a broken disk or device is not hammered every tick.
  if (host_.Recording() || shut_down_ || (resume_pending_ && resume_countdown_ > 0)) return;
  tried_ = true;
  // Cleared by the device's start event.
  retry_wanted_ = true;
  ChooseFormat();
  // Made again at every start: the folder may have gone since the last one.
  if (const std::string reason = MakeRecordingFolder(options_.RecordingFolder); !reason.empty()) {
    StartFailed(options_.RecordingFolder, "the folder cannot be made (" + reason + ")");
    return;
  }
  const std::string file_name = NewRecordingFileName(options_.RecordingFolder);
  if (file_name.empty()) {
    StartFailed(options_.RecordingFolder, "the folder has no free file name");
    return;
  }
  chain_.SetFileName(file_name);
  host_.SetErrorPanelVisible(false);
  state_.SilenceCount = 0;
  reported_lost_ = 0;
  split_asked_ = false;
  finished_split_.clear();
  keeper_.Clear();
  try {
    chain_.StartRecorder();
  } catch (const Exception& e) {
    // The chain removed the file it made for this try.
    KeepCreatedFiles();
    keeper_.Clear();
    // The system's own reason for a device that would not open completes the error.
    const std::string system = WaveDriver::Instance().LastOpenFailure();
    StartFailed(file_name, e.what() + (system.empty() ? "" : " (" + system + ")"));
  }
}

void TRecordingLifecycle::StartFailed(const std::string& target, const std::string& reason) {
  host_.SetErrorPanelVisible(true);
  // A dead device is retried on every tick, each time with a new file name: one
  // report for the whole run.
  const std::string failure = options_.RecordingFolder + '\n' + reason;
  if (failure == start_failure_) return;
  start_failure_ = failure;
  const std::string message = "Recording to " + target + " could not be started: " + reason;
  host_.SetStatusText(OneLine(message));
  HandleApplicationException(std::make_exception_ptr(Exception(message)));
  // Alarmed by the next watch, until a recording runs again.
  pending_alarms_.push_back(message);
  fault_alarmed_ = true;
}

void TRecordingLifecycle::ChooseFormat() {
  if (options_.RecordFormat != kCodecFormat) {
    chain_.SetRecorderPcm(SampleRateOf(options_.SampleRateIndex),
                          ChannelsOf(options_.ChannelsIndex), BitsOf(options_.ChannelsIndex));
  } else if (options_.RecordingFormat != nullptr) {
    chain_.SetRecorderFormat(*options_.RecordingFormat);
  }
}

void TRecordingLifecycle::WaveRecorderStart() {
  start_failure_.clear();
  retry_wanted_ = false;
  host_.SetRecording(true);
  ShowIcon("Pelmovox.ico");
  start_time_ = RecorderClock::Now();
  host_.SetStatusText("Recording started at : " + DateTimeText(start_time_));
}

void TRecordingLifecycle::StopNow() {
  resume_pending_ = false;
  retry_wanted_ = false;
  if (host_.Recording()) {
    state_.SilenceCount = 0;
    EndRecording();
  }
  state_.GapCountdown = options_.SoftGap ? kSoftGapTicks : kGapTicks;
}

void TRecordingLifecycle::EndRecording() {
  chain_.StopRecorder();
  KeepCreatedFiles();
  ShowIdle();
  const std::string file_name = chain_.FileName();
  chain_.ReleaseFile();
  // Before the current file, whose start time the last split sets.
  FinishSplits();
  LogLostFrames(file_name);
  // A split that could not make its new file leaves the chain on the part it
  // finished already; that one must not reach its encoder twice.
  if (file_name != finished_split_) FinishFile(file_name, start_time_);
  if (options_.SaveMode == 6) chain_.StartMonitor();
}

void TRecordingLifecycle::LogLostFrames(const std::string& file_name) {
  const uint64_t device = chain_.LostFrames();
  const uint64_t file = chain_.WriteLostFrames();
  if (device + file == 0) return;
  std::string causes = device > 0 ? std::to_string(chain_.Overruns()) + " overruns" : "";
  // A sink stops at its first failure: there is at most one.
  if (file > 0) causes += (causes.empty() ? "" : " and ") + std::string("a write failure");
  AppendToMonthlyLog(std::filesystem::path(file_name).filename().string() + ": " +
                     std::to_string(device + file) + " frames lost in " + causes);
}

void TRecordingLifecycle::ShowIdle() {
  host_.SetStatusText("Recording stopped");
  host_.SetLengthText("Recording length");
  host_.SetRecording(false);
  ShowIcon("Pelmorax.ico");
}

RecorderClock::TimePoint TRecordingLifecycle::FinishFile(const std::string& name,
                                                         RecorderClock::TimePoint start) {
  // Raises when the file can't be saved or patched; the rest of the stop is then left out.
  const std::string file_name = keeper_.Restore(name, start, options_.RecordingFolder);
  if (file_name.empty()) return start;
  FixWaveHeader(file_name);
  StampFileTime(file_name, start);
  // Read before the encoder may take the file away.
  TMMFileInfo info;
  const bool known = TMMCustomWaveFile::GetFileInfo(file_name, info);
  TEncoderWindow window;
  if (host_.WindowState() == TWindowState::wsNormal) window = {host_.Left() + 50, host_.Top() + 100};
  StartEncoder(options_, encoder_folder_, file_name, window, options_.EncoderDelay * 1000);
  return known ? start + std::chrono::milliseconds(info.Length) : start;
}

TRecordingWatch TRecordingLifecycle::WatchRecording() {
  TRecordingWatch watch;
  KeepCreatedFiles();
  FinishSplits();
  if (host_.Recording()) {
    ReportLoss(watch);
    FollowGoneFile(watch);
    SplitBeforeLimit();
    const std::string fault = chain_.Fault();
    if (!fault.empty()) {
      watch.alarms.push_back(fault);
      Interrupt(fault);
    } else if (std::exchange(fault_alarmed_, false)) {
      // Also after a stop and a new start instead of the retry: the disk is reached again.
      watch.all_clear = true;
    }
  } else if (resume_pending_ && --resume_countdown_ <= 0) {
    TryResume(watch);
  }
  if (!pending_alarms_.empty()) {
    // Alarmed as a loss is: the alarm ends after a quiet while.
    watch.alarms.insert(watch.alarms.end(), pending_alarms_.begin(), pending_alarms_.end());
    pending_alarms_.clear();
    loss_quiet_ticks_ = 0;
  }
  return watch;
}

void TRecordingLifecycle::FinishSplits() {
  for (std::string name; !(name = chain_.TakeFinishedSplit()).empty();) {
    split_asked_ = false;
    finished_split_ = name;
    const RecorderClock::TimePoint start = std::exchange(start_time_, next_part_start_);
    // A part that can't be finished must not hold up the parts after it, nor the
    // recording going on.
    try {
      // The next part begins with the sample after this one's last.
      const RecorderClock::TimePoint end = FinishFile(name, start);
      if (end > start) start_time_ = end;
    } catch (const std::exception& error) {
      PartFailed(std::string("recording part not finished: ") + error.what());
    }
  }
  // The sound may be missing from the end of such a file.
  for (std::string failure; !(failure = chain_.TakeCloseFailure()).empty();) {
    PartFailed("recording file " + failure);
  }
}

void TRecordingLifecycle::PartFailed(const std::string& event) {
  AppendToMonthlyLog(event);
  pending_alarms_.push_back(event);
}

void TRecordingLifecycle::KeepCreatedFiles() {
  for (TCreatedFile file; !(file = chain_.TakeCreatedFile()).name.empty();) keeper_.Keep(std::move(file));
}

// A split already asked for brings the new file by itself.
void TRecordingLifecycle::FollowGoneFile(TRecordingWatch& watch) {
  const std::string gone = keeper_.Gone();
  if (gone.empty() || split_asked_) return;
  const std::string reason = MakeRecordingFolder(options_.RecordingFolder);
  if (gone != gone_alarmed_) {
    gone_alarmed_ = gone;
    loss_quiet_ticks_ = 0;
    watch.alarms.push_back("recording file " + gone + " deleted or moved away: " +
                           (reason.empty() ? "the recording goes on in a new file"
                                           : "the folder cannot be made again (" + reason + ")"));
  }
  if (!reason.empty()) {
    // The recording reaches no folder: its alarm stays up until it does again.
    loss_quiet_ticks_ = 0;
    return;
  }
  keeper_.ReserveGone();
  SplitNow();
}

void TRecordingLifecycle::SplitBeforeLimit() {
  if (!split_asked_ && chain_.NearSizeLimit()) SplitNow();
}

void TRecordingLifecycle::SplitNow() {
  // The writer is behind the input by what the ring holds and switches at the next
  // block it writes: that block's first sample names the part. The time is taken
  // again from the finished part's length once the switch is done.
  const RecorderClock::TimePoint first_sample =
      start_time_ + std::chrono::milliseconds(chain_.WrittenMs());
  const std::string next = NewRecordingFileName(options_.RecordingFolder, first_sample);
  if (next.empty()) return;
  chain_.SplitFile(next);
  split_asked_ = true;
  next_part_start_ = first_sample;
}

void TRecordingLifecycle::ReportLoss(TRecordingWatch& watch) {
  const uint64_t lost = chain_.LostFrames();
  if (lost > reported_lost_) {
    const uint64_t rate = std::max<uint32_t>(chain_.CaptureRate(), 1);
    const uint64_t ms = (lost - reported_lost_) * 1000 / rate;
    reported_lost_ = lost;
    loss_quiet_ticks_ = 0;
    watch.alarms.push_back("audio lost: " + std::to_string(ms) + " ms");
  } else if (loss_quiet_ticks_ >= 0 && ++loss_quiet_ticks_ >= kLossQuietTicks) {
    loss_quiet_ticks_ = -1;
    watch.all_clear = true;
  }
}

void TRecordingLifecycle::Interrupt(const std::string& fault) {
  const bool quick = RecorderClock::Now() - start_time_ < kQuickFault;
  quick_faults_ = quick ? quick_faults_ + 1 : 0;
  resume_pending_ = true;
  fault_alarmed_ = true;
  resume_countdown_ = ResumeTicks();
  state_.SilenceCount = 0;
  try {
    EndRecording();
  } catch (const std::exception& error) {
    // The disk that failed may refuse the header fix too; the recorder goes on.
    AppendToMonthlyLog(std::string("recording not finished: ") + error.what());
  }
  host_.SetStatusText(fault);
  host_.SetErrorPanelVisible(true);
}

int TRecordingLifecycle::ResumeTicks() const {
  return kResumeTicks << std::min(quick_faults_, kMaxResumeDoublings);
}

void TRecordingLifecycle::TryResume(TRecordingWatch& watch) {
  if (chain_.RoomToRecord()) StartRecording();
  if (!host_.Recording()) {
    resume_countdown_ = ResumeTicks();
    // StartRecording may have hidden the panel; the fault is still there.
    host_.SetErrorPanelVisible(true);
    return;
  }
  resume_pending_ = false;
  fault_alarmed_ = false;
  loss_quiet_ticks_ = -1;
  AppendToMonthlyLog("recording resumed in " +
                     std::filesystem::path(chain_.FileName()).filename().string());
  watch.all_clear = true;
}

void TRecordingLifecycle::ShowIcon(const char* file_name) {
  std::error_code error;
  if (std::filesystem::is_regular_file(file_name, error)) {
    host_.SetApplicationIcon((std::filesystem::current_path(error) / file_name).string());
  }
}

}  // namespace pmx
