#include "recorder/control_tick.h"

#include "devices/serial_port.h"
#include "platform/ports/port_io.h"
#include "recorder/event_log.h"
#include "recorder/level_text.h"
#include "recorder/recorder_clock.h"
#include "recorder/recorder_options.h"
#include "recorder/recording_files.h"

namespace pmx {

namespace {

// Parallel status bits: pin 11 (BUSY), pin 10 (ACK), pin 12 (paper end), pin 13 (select).
constexpr uint8_t kPin11 = 0x80;
constexpr uint8_t kPin10 = 0x40;
constexpr uint8_t kPin12 = 0x20;
constexpr uint8_t kPin13 = 0x10;

// What the alarm outputs on the parallel data lines show.
constexpr uint8_t kOutputsAlarm = 0x0F;
constexpr uint8_t kOutputsQuiet = 0x00;
constexpr uint8_t kOutputsSignalBack = 0x20;
constexpr uint8_t kOutputsNoSignal = 0x1F;

// A peak this high is taken for a fault on the line, not for programme.
constexpr int kImplausiblePeak = 10000;

}  // namespace

std::string PeakText(int peak) { return "Last peak: " + DecibelText(peak); }

std::string LengthText(int64_t position_ms) {
  const auto part = [](int64_t value) { return TwoDigits(static_cast<int>(value)); };
  return "Recording length : " + part(position_ms / 3600000) + ":" + part(position_ms % 3600000 / 60000) +
         ":" + part(position_ms % 60000 / 1000);
}

void TControlTick::StatusTimerTimer() {
  const Clock start = ReadClock();
  if (start.hour % 4 == 0 && start.minute == 0 && start.second == 0)
    DeleteExpiredRecordings(settings_.RecorderOptions);
  if (state_.GapCountdown > 0) --state_.GapCountdown;
  Watch();
  DriveAlarmOutputs();
  const int peak = host_.LastPeak();
  if (host_.Recording()) CountSilence(peak);
  host_.SetPeakText(PeakText(peak));
  const Clock now = ReadClock();
  if (ApplySplitRule(now)) return;
  if (host_.Recording()) ShowLength();
  if (HourAllowed(now)) ApplyStartRules(peak);
  Sample();
}

void TControlTick::tmrDelayStopTimer() {
  // Off first, so a stop that fails is not retried on every interval.
  host_.DisableDelayStop();
  host_.StopRecording();
}

TControlTick::Clock TControlTick::ReadClock() {
  const std::tm local = LocalTime(RecorderClock::Now());
  // ISO weekday: 1 Monday .. 7 Sunday.
  return {local.tm_hour, local.tm_min, local.tm_sec, (local.tm_wday + 6) % 7 + 1};
}

bool TControlTick::LptReady() const { return settings_.LptBase != 0 && state_.PortAccess; }

uint8_t TControlTick::LptStatus() const { return PortIn(settings_.LptBase + 1); }

void TControlTick::DataWrite(uint8_t value) const {
  PortOut(settings_.LptBase + 2, 1);
  PortOut(settings_.LptBase, value);
  PortOut(settings_.LptBase + 2, 0);
}

void TControlTick::DriveAlarmOutputs() {
  if (!settings_.RecorderOptions.AlarmOutputs) return;
  const bool alarm = host_.AlarmVisible();
  if (LptReady()) DataWrite(alarm ? kOutputsAlarm : kOutputsQuiet);
  if (settings_.ComNumber != 0 && serial_port_.Active()) serial_port_.SetDTRState(alarm);
}

void TControlTick::CountSilence(int peak) {
  if (peak < settings_.RecorderOptions.Threshold) {
    ++state_.SilenceCount;
  } else {
    // The signal's return ends the silence, not a fault or a loss that holds.
    if (state_.SilenceCount > 0 && !fault_alarmed_) {
      if (host_.AlarmVisible()) SignalBack();
      host_.SetAlarmVisible(false);
    }
    state_.SilenceCount = 0;
  }
  // A count of 0 is signal, whatever SilenceDelay says.
  if (state_.SilenceCount > 0 && state_.SilenceCount / 2 == settings_.RecorderOptions.SilenceDelay)
    RaiseAlarm("no signal");
  host_.SetSilenceText("Input signal below threshold: " + std::to_string(state_.SilenceCount / 2) +
                       " sec.");
}

void TControlTick::SignalBack() {
  if (settings_.RecorderOptions.AlarmOutputs) {
    if (LptReady()) DataWrite(kOutputsSignalBack);
    host_.BroadcastAlarm(0);
  }
  LogEvent("normal");
}

void TControlTick::Watch() {
  const TRecordingWatch watch = host_.WatchRecording();
  for (const std::string& event : watch.alarms) RaiseAlarm(event);
  if (!watch.alarms.empty()) {
    fault_alarmed_ = true;
  } else if (watch.all_clear) {
    fault_alarmed_ = false;
  }
  // The silence alarm is raised once; a silence that goes on keeps it when a fault
  // or a loss ends, and only the signal's return clears it.
  const bool silent = host_.Recording() && state_.SilenceCount > 0 &&
                      state_.SilenceCount / 2 >= settings_.RecorderOptions.SilenceDelay;
  if (!fault_alarmed_ && watch.all_clear && host_.AlarmVisible() && !silent) {
    SignalBack();
    host_.SetAlarmVisible(false);
  }
}

void TControlTick::RaiseAlarm(const std::string& event) {
  if (settings_.RecorderOptions.AlarmOutputs) {
    if (LptReady()) DataWrite(kOutputsNoSignal);
    host_.BroadcastAlarm(1);
  }
  LogEvent(event);
  if (!host_.RecorderPaused()) host_.SetAlarmVisible(true);
}

bool TControlTick::ApplySplitRule(const Clock& now) {
  const TRecorderOptions& options = settings_.RecorderOptions;
  const bool top_of_hour = now.minute == 0 && now.second <= 5;
  bool stop = false;
  switch (options.SaveMode) {
    case 0:
      stop = now.minute == 0 && options.StopDelay < now.second && now.second <= options.StopDelay + 5 &&
             host_.RecordingPosition() > options.StopDelay * 1000 + 6000;
      break;
    case 1:
      stop = now.hour % 2 == 0 && top_of_hour && host_.RecordingPosition() > 6000;
      break;
    case 2:
      stop = now.hour % 4 == 0 && top_of_hour && host_.RecordingPosition() > 6000;
      break;
    case 3:
      return host_.Recording() && LptReady() && LptStopEdge(kPin11, false);
    case 4:
      return host_.Recording() && LptReady() && LptStopEdge(kPin13, true);
    case 6:
      if (state_.SilenceCount / 2 > options.SilenceDelay) {
        host_.StopRecording();
        host_.StartMonitor();
      }
      return false;
    case 7:
      if (serial_port_.Active() && !serial_port_.CTSState() && state_.PrevCTS) {
        state_.PrevCTS = false;
        host_.EnableDelayStop(options.StopDelay * 1000u + 1);
      }
      return false;
    default:
      return false;
  }
  if (stop) {
    host_.StopRecording();
    // Nothing follows in an hour the weekly schedule leaves out: say why it went quiet.
    if (!HourAllowed(now))
      NoteInMonthlyLog("Recording stopped: no recording until a scheduled hour");
  }
  return stop;
}

bool TControlTick::LptStopEdge(uint8_t bit, bool to_level) {
  const bool now = LptStatus() & bit;
  const bool before = state_.PrevLptStatus & bit;
  if (now != to_level || before == to_level) return false;
  host_.StopRecording();
  state_.PrevLptStatus = LptStatus();
  return true;
}

void TControlTick::ShowLength() { host_.SetLengthText(LengthText(host_.RecordingPosition())); }

bool TControlTick::HourAllowed(const Clock& now) const {
  const auto& schedule = settings_.RecorderOptions.Schedule;
  return schedule[0][now.hour] || schedule[now.weekday][now.hour];
}

void TControlTick::ApplyStartRules(int peak) {
  if (host_.Recording()) return;
  const TRecorderOptions& options = settings_.RecorderOptions;
  switch (options.SaveMode) {
    case 0:
    case 1:
    case 2:
      if (state_.GapCountdown == 0) host_.StartRecording();
      break;
    case 3:
      if (LptReady() && LptStartEdge(kPin10)) host_.StartRecording();
      break;
    case 4:
      if (LptReady() && LptStartEdge(kPin12)) host_.StartRecording();
      break;
    case 7:
      if (serial_port_.Active() && serial_port_.DSRState() && !state_.PrevDSR) {
        state_.PrevDSR = true;
        host_.DisableDelayStop();
        host_.StartRecording();
      }
      break;
    default:
      break;
  }
  if (!host_.Recording() && options.Threshold <= peak && peak < kImplausiblePeak) {
    host_.CloseMonitor();
    host_.StartRecording();
  }
}

bool TControlTick::LptStartEdge(uint8_t bit) {
  return !(LptStatus() & bit) && (state_.PrevLptStatus & bit);
}

void TControlTick::Sample() {
  if (state_.PortAccess) state_.PrevLptStatus = LptStatus();
  if (serial_port_.Active()) {
    state_.PrevDSR = serial_port_.DSRState();
    state_.PrevCTS = serial_port_.CTSState();
    host_.ShowSerialPins(state_.PrevDSR, state_.PrevCTS);
  }
}

}  // namespace pmx
