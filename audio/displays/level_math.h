#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "audio/core/objects/mm_types.h"
#include "audio/core/objects/shared_timer.h"

namespace pmx {

// How a block of PCM bytes is laid out and which channel a peak scan reads.
struct TMMPeakScanLayout {
  TMMBits bits = TMMBits::b8Bit;
  int mode = 0;  // channels - 1; the first two channels are left and right
  TMMChannel channel = TMMChannel::chBoth;
  int samples = 1;
  int dc_offset_l = 0;
  int dc_offset_r = 0;
};

// The largest magnitude in a block on the 16-bit scale (8-bit samples are
// centred and scaled up), 0..32768.
int64_t PcmBlockPeak(const uint8_t* data, const TMMPeakScanLayout& layout);

// The fall-back of a level display: a value either drops slowly after a rise
// (step-up), follows a first-order lag (exponential) or is the running mean of
// the last values (uniform). Owned by whichever thread feeds the display.
class TMMLevelDecay {
 public:
  TMMLevelDecay() { Configure(); }

  TMMDecayMode Mode() const { return mode_; }
  void SetMode(TMMDecayMode value);
  int Decay() const { return decay_; }
  // Clamped to 1..16: the higher, the slower the fall.
  void SetDecay(int value);

  void Reset();
  int64_t Apply(int64_t v);

 private:
  void Configure();

  TMMDecayMode mode_ = TMMDecayMode::dmNone;
  int decay_ = 1;
  float factor_ = 0.01f;
  int ring_length_ = 1;
  std::array<int64_t, 32> ring_{};
  int ring_position_ = 0;
  int ring_count_ = 0;
  int64_t ring_sum_ = 0;
  float smoothed_ = 0;
};

// A display's client on the shared timer that ticks its peak hold every 25 ms;
// removing it on destruction waits for a tick under way. Declare it after every
// field the tick touches. GUI thread.
class TMMPeakTimerClient {
 public:
  TMMPeakTimerClient() = default;
  ~TMMPeakTimerClient();
  TMMPeakTimerClient(const TMMPeakTimerClient&) = delete;
  TMMPeakTimerClient& operator=(const TMMPeakTimerClient&) = delete;

  PMMTimerClient Client() const { return client_; }
  // Adds the client once, running tick on the timer's thread.
  void Add(std::function<void()> tick, bool suspended);
  void SetSuspended(bool suspended);
  // Nothing to hold or let fall: no ticks until there is again (any thread).
  void SetIdle(bool idle) const { MMTimerSetClientIdle(client_, idle); }

 private:
  PMMTimerClient client_ = nullptr;
  std::function<void()> tick_;
  bool suspended_ = false;
};

}  // namespace pmx
