#include "recorder/recording_lifecycle.h"

#include <array>
#include <filesystem>
#include <system_error>

#include "platform/exception.h"
#include "platform/main_loop.h"
#include "platform/ui_hook.h"
#include "platform/wave_driver.h"
#include "recorder/control_tick.h"
#include "recorder/encoder_hand_off.h"
#include "recorder/event_log.h"
#include "recorder/recorder_options.h"
#include "recorder/recording_files.h"
#include "recorder/recording_header.h"

namespace pmx {

RecorderClock::TimePoint RecordingStartTime{};

namespace {

constexpr uint16_t kCodecFormat = 1;
constexpr int kSoftGapTicks = 20;
constexpr int kGapTicks = 2;

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
  if (host_.Recording() || shut_down_) return;
  tried_ = true;
  // Cleared by the device's start event.
  retry_wanted_ = true;
  ChooseFormat();
  const std::string file_name = NewRecordingFileName();
  if (file_name.empty()) {
    host_.SetErrorPanelVisible(true);
    return;
  }
  chain_.SetFileName(file_name);
  host_.SetErrorPanelVisible(false);
  SilenceCount = 0;
  try {
    chain_.StartRecorder();
  } catch (const Exception& e) {
    StartFailed(file_name, e.what());
  }
}

// The system's own reason for a device that would not open completes the error.
void TRecordingLifecycle::StartFailed(const std::string& file_name, const std::string& error) {
  host_.SetErrorPanelVisible(true);
  const std::string system = WaveDriver::Instance().LastOpenFailure();
  const std::string reason = error + (system.empty() ? "" : " (" + system + ")");
  // A dead device is retried on every tick, each time with a new file name: one
  // report for the whole run.
  if (reason == start_failure_) return;
  start_failure_ = reason;
  HandleApplicationException(
      std::make_exception_ptr(Exception("Recording to " + file_name + " could not be started: " + reason)));
}

void TRecordingLifecycle::ChooseFormat() {
  const TRecorderOptions& options = RecorderOptions;
  if (options.RecordFormat != kCodecFormat) {
    chain_.SetRecorderPcm(SampleRateOf(options.SampleRateIndex), ChannelsOf(options.ChannelsIndex),
                          BitsOf(options.ChannelsIndex));
  } else if (options.RecordingFormat != nullptr) {
    chain_.SetRecorderFormat(*options.RecordingFormat);
  }
}

void TRecordingLifecycle::WaveRecorderStart() {
  start_failure_.clear();
  retry_wanted_ = false;
  host_.SetRecording(true);
  ShowIcon("Pelmovox.ico");
  RecordingStartTime = RecorderClock::Now();
  host_.SetStatusText("Recording started at : " + DateTimeText(RecordingStartTime));
}

void TRecordingLifecycle::StopNow() {
  retry_wanted_ = false;
  if (host_.Recording()) {
    SilenceCount = 0;
    chain_.StopRecorder();
    ShowIdle();
    const std::string file_name = chain_.FileName();
    chain_.ReleaseFile();
    FinishFile(file_name);
  }
  GapCountdown = RecorderOptions.SoftGap ? kSoftGapTicks : kGapTicks;
}

void TRecordingLifecycle::ShowIdle() {
  host_.SetStatusText("Recording stopped");
  host_.SetLengthText("Recording length");
  host_.SetRecording(false);
  ShowIcon("Pelmorax.ico");
}

void TRecordingLifecycle::FinishFile(const std::string& file_name) {
  // Raises when the file can't be patched; the rest of the stop is then left out.
  FixWaveHeader(file_name);
  if (RecorderOptions.SaveMode == 6) chain_.StartMonitor();
  StampFileTime(file_name, RecordingStartTime);
  TEncoderWindow window;
  if (host_.WindowState() == TWindowState::wsNormal) window = {host_.Left() + 50, host_.Top() + 100};
  StartEncoder(file_name, window, RecorderOptions.EncoderDelay * 1000);
}

void TRecordingLifecycle::ShowIcon(const char* file_name) {
  std::error_code error;
  if (std::filesystem::is_regular_file(file_name, error)) {
    host_.SetApplicationIcon((std::filesystem::current_path(error) / file_name).string());
  }
}

}  // namespace pmx
