#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/core/files/wave_file.h"
#include "platform/wave_types.h"
#include "recorder/recorder_clock.h"
#include "recorder/recorder_options.h"
#include "recorder/recorder_state.h"
#include "recorder/recording_keeper.h"

namespace pmx {

enum class TWindowState { wsNormal, wsMinimized, wsMaximized };

// What the recording lifecycle reads from and shows on the main window. The main
// window implements it.
class TRecordingHost {
 public:
  virtual ~TRecordingHost() = default;

  // The recording flag: the recording panel is red.
  virtual bool Recording() = 0;
  // Paints the recording panel red (true) or teal (false) at once.
  virtual void SetRecording(bool recording) = 0;
  // The "Recording could not be started..." panel.
  virtual void SetErrorPanelVisible(bool visible) = 0;
  // The status line and the length line.
  virtual void SetStatusText(const std::string& text) = 0;
  virtual void SetLengthText(const std::string& text) = 0;
  // The main window's state and its left and top edge; a minimized application
  // reports wsMinimized.
  virtual TWindowState WindowState() = 0;
  virtual int Left() = 0;
  virtual int Top() = 0;
  // Makes the icon file the application's icon.
  virtual void SetApplicationIcon(const std::string& file_name) = 0;
};

// The devices and the file of the recording chain (capture device -> level tap ->
// ring buffer -> wave file) and the monitor input, as far as the lifecycle drives
// them. Device errors of the steps that may fail are dropped inside: the result
// only says whether the step ran.
class TRecordingChain {
 public:
  virtual ~TRecordingChain() = default;

  // The capture format: a PCM choice (each a no-op while 0) or a complete format
  // handed through the format dialog.
  virtual void SetRecorderPcm(int sample_rate, int channels, int bits) = 0;
  virtual void SetRecorderFormat(const WaveFormatEx& format) = 0;
  // The wave-file component's file.
  virtual void SetFileName(const std::string& file_name) = 0;
  virtual std::string FileName() = 0;
  // Lets the wave-file component's wave let go of the closed file.
  virtual void ReleaseFile() = 0;
  // Stops and closes the monitor input, then opens and starts the capture device
  // (and with it the chain down to the file). The device's start event reaches
  // TRecordingLifecycle::WaveRecorderStart. Raises what the device or the file
  // refused with, after closing the chain again.
  virtual void StartRecorder() = 0;
  // Stops and closes the capture device, the chain and the file.
  virtual void StopRecorder() = 0;
  virtual void PauseRecorder() = 0;
  virtual void RestartRecorder() = 0;
  // Opens and starts the monitor input; false when the device refused.
  virtual bool StartMonitor() = 0;

  // Why a running recording no longer reaches the disk (the device failed, or the
  // file closed itself); empty while it does.
  virtual std::string Fault() = 0;
  // Frames the capture device lost to overruns since it opened, in how many
  // overruns, and its rate; kept after it closed.
  virtual uint64_t LostFrames() = 0;
  virtual uint64_t Overruns() = 0;
  // Frames that reached the file side but not the disk because writing failed,
  // since the file opened.
  virtual uint64_t WriteLostFrames() = 0;
  virtual uint32_t CaptureRate() = 0;
  // The recording folder's drive has room for a new recording.
  virtual bool RoomToRecord() = 0;
  // The file is close enough to its size limit that it must be split now.
  virtual bool NearSizeLimit() = 0;
  // Milliseconds of audio written to the file so far.
  virtual int64_t WrittenMs() = 0;
  // Goes on in a new file of this name from the next block written, without a gap.
  virtual void SplitFile(const std::string& file_name) = 0;
  // A file finished by a split, oldest first; empty when none is left.
  virtual std::string TakeFinishedSplit() = 0;
  // A recording file that could not be finished on the disk, and why; empty when
  // none is left.
  virtual std::string TakeCloseFailure() = 0;
  // A file the chain created, with a descriptor of its own, oldest first; an empty
  // name when none is left.
  virtual TCreatedFile TakeCreatedFile() = 0;
};

// What a look at the running recording found for the alarms: events to log and
// alarm as for silence, and whether every fault raised before has ended.
struct TRecordingWatch {
  std::vector<std::string> alarms;
  bool all_clear = false;
};

// Starts, stops, pauses and resumes recordings and hands each finished one to its
// encoder. Every request ends here: buttons, menus, the control tick, the serial
// stop, other instances and the start-up argument. Settings from the options it is
// lent, time from RecorderClock.
//
// One start or stop runs at a time: while one waits for its devices, the GUI thread
// serves the workers' synchronized calls, and a request arriving through one of them
// (a tick, a remote command, a device event) is kept and runs after it, in order.
// Requests made by the running one itself, outside such a wait, run at once.
// A start that fails shows the error panel and reports the reason once per run of
// failures (the application's error box and the monthly log); it is tried again
// on every tick until it works or a stop is asked for, so that a recorder started
// before its sound server or its disk is ready still records.
// Threads: GUI thread only, as are the host, the chain and the state it is given.
class TRecordingLifecycle {
 public:
  // state: the silence count and the restart gap it resets, shared with the control tick.
  TRecordingLifecycle(TRecordingHost& host, TRecordingChain& chain, const TRecorderOptions& options,
                      TRecorderState& state)
      : host_(host), chain_(chain), options_(options), state_(state) {}

  void StartRecording();
  void StopRecording();
  void PauseRecording() { chain_.PauseRecorder(); }
  void RestartRecording() { chain_.RestartRecorder(); }
  // The capture device has started: the recorder shows that it records.
  void WaveRecorderStart();
  // Run by every control tick. A recording that stopped reaching the disk (dead
  // device, full disk, write error) is ended with its file finished, and resumed
  // in a new file once the device opens and the disk has room again (other starts
  // wait for those tries; a stop ends them); audio lost to overruns is reported; a
  // file nearing the WAV size limit is split; a file deleted or moved away while
  // it is written is alarmed and the recording goes on in a new file, without a
  // gap, while what the deleted one held is saved once it is finished.
  TRecordingWatch WatchRecording();

  // Called after each control tick: tries a failed start again unless the tick
  // tried itself.
  void RetryFailedStart();
  // When the running recording (or its current part) started; kept after its stop
  // until the next start.
  RecorderClock::TimePoint RecordingStartTime() const { return start_time_; }

  // Where the encoders are installed: beside the running program, unless a test
  // set another folder (empty restores it).
  void SetEncoderFolder(std::filesystem::path folder) { encoder_folder_ = std::move(folder); }

  // The program is ending: no start runs any more, not even one asked before.
  void Shutdown() { shut_down_ = true; }

  // Runs fn at once, or after the start or stop that is waiting for its devices.
  void Exclusive(std::function<void()> fn);
  // fn would not run at once.
  bool MustWait() const;

 private:
  void StartNow();
  void StopNow();
  void RunDeferred();
  // Shows, logs and alarms why the start to target (a file or the folder) failed.
  void StartFailed(const std::string& target, const std::string& reason);
  void ChooseFormat();
  void EndRecording();
  // The month's log line of the frames the ended recording lost, if any.
  void LogLostFrames(const std::string& file_name);
  void ShowIdle();
  // Fixes, stamps and encodes the file; gives when its audio ends (start when its
  // length can't be read).
  RecorderClock::TimePoint FinishFile(const std::string& file_name, RecorderClock::TimePoint start);
  void ShowIcon(const char* file_name);
  void FinishSplits();
  // Logs a part or file that failed to finish and alarms it as a loss is alarmed.
  void PartFailed(const std::string& event);
  void SplitBeforeLimit();
  // Goes on in a new file named after its first sample.
  void SplitNow();
  void KeepCreatedFiles();
  void FollowGoneFile(TRecordingWatch& watch);
  void ReportLoss(TRecordingWatch& watch);
  void Interrupt(const std::string& fault);
  void TryResume(TRecordingWatch& watch);
  int ResumeTicks() const;

  TRecordingHost& host_;
  TRecordingChain& chain_;
  const TRecorderOptions& options_;
  TRecorderState& state_;
  RecorderClock::TimePoint start_time_{};
  std::filesystem::path encoder_folder_;
  uint64_t reported_lost_ = 0;       // frames of this recording's losses reported
  int loss_quiet_ticks_ = -1;        // ticks since the last loss or unfinished part; -1 without one
  bool split_asked_ = false;         // a split is on its way to the file
  std::string finished_split_;       // the last file a split of this recording finished
  TRecordingKeeper keeper_;          // the recording's files, to save one deleted under it
  std::string gone_alarmed_;         // the file last alarmed as gone
  RecorderClock::TimePoint next_part_start_{};  // the next part's first sample, as foreseen
  std::vector<std::string> pending_alarms_;  // failed starts and parts, for the next watch to alarm
  bool resume_pending_ = false;      // a fault ended the recording; it is to go on
  bool fault_alarmed_ = false;       // a fault's or failed start's alarm waits for a recording that works
  int resume_countdown_ = 0;         // ticks until the next attempt
  int quick_faults_ = 0;             // faults of recordings that had just started
  int depth_ = 0;                    // Exclusive sections running
  std::deque<std::function<void()>> deferred_;
  // The folder and the reason the last start failed; empty once a start succeeded.
  std::string start_failure_;
  bool retry_wanted_ = false;  // a start failed and no stop was asked since
  bool tried_ = false;         // a start ran since the last RetryFailedStart
  bool shut_down_ = false;
  // Lets deferred requests posted to the main loop outlive nothing they call.
  std::shared_ptr<TRecordingLifecycle*> self_ = std::make_shared<TRecordingLifecycle*>(this);
};

}  // namespace pmx
