#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

#include "audio/displays/level_math.h"

namespace pmx {

// How a display's held peak behaves.
struct TMMPeakRules {
  bool hold_equal;     // a value equal to the held peak holds it anew (else only a higher one)
  int fall_step;       // how far a held peak falls every PeakSpeed ticks
  bool fall_to_value;  // a falling peak stops at the value, else at 0
};

// The feed the level bar and the needle meter share: each block's peak scan and
// LastPeak, the decay, the value on the display's own scale and the held peak that
// the shared timer lets fall. The display maps amplitudes to its scale and draws
// when the feed says something changed. The timer's client sleeps while nothing
// is held, and a new peak wakes it.
//
// While nobody can see the displays (gui_ticker::Seen) a block only updates
// LastPeak, which the recorder's silence detection reads; the value and the held
// peak start again from nothing, so the first block seen again is drawn as it is.
//
// Threads: everything but Tick belongs to the thread that feeds (the GUI thread
// unless a connector feeds from the pushing thread) and to the GUI thread's
// settings. Tick runs on the shared timer's thread and touches only the peak, its
// countdown and the peak-changed flag; those, the value and LastPeak are atomics.
class TMMPeakFeed {
 public:
  static constexpr int kFullScale = 32767;
  // Maps a decayed amplitude to the display's scale (gain, clamping and the
  // overflow event included).
  using Map = std::function<int(int64_t amplitude)>;

  explicit TMMPeakFeed(TMMPeakRules rules) : rules_(rules) {}

  // The block's peak, or none when there is nothing to draw: nobody sees it.
  std::optional<int64_t> Scan(const void* data, const TMMPeakScanLayout& layout);
  // One amplitude through decay, mapping and peak hold (hold: the display holds
  // peaks); true when the display has a new value or peak to show.
  bool Take(int64_t amplitude, bool hold, const Map& map);
  // Value, peak, countdown, LastPeak and decay back to nothing.
  void Reset();
  // Puts value and peak as they are, for a picture that no feed made.
  void Set(int value, int peak) {
    value_ = value;
    peak_ = peak;
  }
  // One tick of the peak hold.
  void Tick();

  int Value() const { return value_.load(); }
  int Peak() const { return peak_.load(); }
  int LastPeak() const { return last_peak_.load(); }

  int PeakDelay() const { return peak_delay_; }
  int PeakSpeed() const { return peak_speed_.load(); }
  // Clamped to 0..50; a change restarts the countdown. True when it changed.
  bool SetPeakDelay(int value);
  bool SetPeakSpeed(int value);
  void ResetCountdown() { countdown_ = 0; }
  TMMLevelDecay& Decay() { return decay_; }
  const TMMLevelDecay& Decay() const { return decay_; }

  PMMTimerClient TimerClient() const { return timer_client_.Client(); }
  void AddTimerClient(bool suspended);
  void SetTimerSuspended(bool suspended) { timer_client_.SetSuspended(suspended); }

  // value (0..full, a display's value on its scale) as the percentage Value shows.
  static int Percent(int value, int full, bool log_amp, int sensitivity, int gain);
  // An amplitude after gain (0..32767 is full scale) on a scale of 0..full from
  // sensitivity dB up, not clamped at the top: log_amp maps dB, with min_ratio of
  // full scale as the floor, else amplitude.
  static int ToScale(int64_t amplitude, int full, float min_ratio, bool log_amp, int sensitivity);

 private:
  // Forgets what was drawn: the next block seen is drawn as it is.
  void Forget();
  template <class T>
  bool SetHoldSetting(T& field, int value);

  const TMMPeakRules rules_;
  int peak_delay_ = 20;
  std::atomic<int> peak_speed_{0};
  std::atomic<int> value_{0};
  std::atomic<int> peak_{0};
  std::atomic<int> countdown_{0};
  std::atomic<bool> peak_changed_{false};
  std::atomic<int> last_peak_{0};
  TMMLevelDecay decay_;
  TMMPeakTimerClient timer_client_;  // last: its removal waits for a running tick
};

}  // namespace pmx
