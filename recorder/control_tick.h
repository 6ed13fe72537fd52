#pragma once

#include <cstdint>
#include <string>

#include "recorder/recorder_options.h"
#include "recorder/recorder_state.h"
#include "recorder/recording_lifecycle.h"

namespace pmx {

class TSerialPort;

// What the control tick reads from and does to the main window. The main window
// implements it; the tick only decides.
class TControlTickHost {
 public:
  virtual ~TControlTickHost() = default;

  // The recording flag (the recording panel is red).
  virtual bool Recording() = 0;
  // The recorder's position in milliseconds.
  virtual int64_t RecordingPosition() = 0;
  virtual bool RecorderPaused() = 0;
  // The level bar's last peak in 16-bit sample units.
  virtual int LastPeak() = 0;
  // The "No signal" panel; its visibility is the alarm state.
  virtual bool AlarmVisible() = 0;
  virtual void SetAlarmVisible(bool visible) = 0;

  virtual void StartRecording() = 0;
  virtual void StopRecording() = 0;
  // Looks after the running recording (TRecordingLifecycle::WatchRecording).
  virtual TRecordingWatch WatchRecording() = 0;
  // Opens and starts, or stops and closes, the monitor input.
  virtual void StartMonitor() = 0;
  virtual void CloseMonitor() = 0;

  // "Last peak: ...", "Input signal below threshold: ..." and "Recording length : ...".
  virtual void SetPeakText(const std::string& text) = 0;
  virtual void SetSilenceText(const std::string& text) = 0;
  virtual void SetLengthText(const std::string& text) = 0;
  // The options dialog's "Pin 6 (Start)" and "Pin 8 (Stop)" boxes.
  virtual void ShowSerialPins(bool dsr, bool cts) = 0;

  // Sends the alarm message to every instance: 1 no signal, 0 normal.
  virtual void BroadcastAlarm(int state) = 0;

  // The delayed stop timer: enable it with an interval, or disable it.
  virtual void EnableDelayStop(uint32_t interval_ms) = 0;
  virtual void DisableDelayStop() = 0;
};

// The recorder's own decisions, taken every 500 ms: retention sweep, restart
// gap, the recording's faults and losses (alarmed as silence is), alarm outputs,
// silence alarm, labels, file splits by SaveMode and the start rules of the weekly
// schedule. Time comes from RecorderClock, settings from the ones it is lent, the
// parallel port through PortIn/PortOut; the counts and the last samples are kept
// in the state it is lent.
// Threads: GUI thread only, as are the host, the serial port and the state it is given.
class TControlTick {
 public:
  TControlTick(TControlTickHost& host, TSerialPort& serial_port, const TRecorderSettings& settings,
               TRecorderState& state)
      : host_(host), serial_port_(serial_port), settings_(settings), state_(state) {}

  // One tick.
  void StatusTimerTimer();
  // The delayed serial stop has come due.
  void tmrDelayStopTimer();

 private:
  struct Clock {
    int hour, minute, second, weekday;
  };
  static Clock ReadClock();
  bool LptReady() const;
  uint8_t LptStatus() const;
  void DataWrite(uint8_t value) const;

  void DriveAlarmOutputs();
  void CountSilence(int peak);
  void Watch();
  void SignalBack();
  void RaiseAlarm(const std::string& event);
  // True when the rule stopped the recording and the tick ends.
  bool ApplySplitRule(const Clock& now);
  // Stops on a change of the status bit to to_level since the last sampling.
  bool LptStopEdge(uint8_t bit, bool to_level);
  void ShowLength();
  bool HourAllowed(const Clock& now) const;
  void ApplyStartRules(int peak);
  bool LptStartEdge(uint8_t bit);
  void Sample();

  TControlTickHost& host_;
  TSerialPort& serial_port_;
  const TRecorderSettings& settings_;
  TRecorderState& state_;
  // A fault or loss alarmed by the recording's watch has not been cleared by it yet.
  bool fault_alarmed_ = false;
};

// "Last peak: " text of a peak: dB below full scale with one decimal.
std::string PeakText(int peak);
// "Recording length : hh:mm:ss" of a position in milliseconds.
std::string LengthText(int64_t position_ms);

}  // namespace pmx
