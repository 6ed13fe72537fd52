#pragma once

#include <cstdint>

namespace pmx {

// Finds audio that a capture device lost without reporting it, such as a sound
// server that drops what its client did not read in time: the frames delivered,
// plus those ready to read (or held), fall behind the time since capture began,
// or fall back when the server drops what it held.
//
// A card's clock runs a little fast or slow against the system's. Drift up to
// kMaxDriftPpm is allowed for, and the comparison starts afresh every kWindowNs, so
// days of drift raise nothing. A shortfall counts only when it has held for
// kConfirmNs (a sound server catching up after a stall delivers in bursts), and
// counting starts afresh once it is reported. Frames a device may hold before it
// shows them (its period) are allowed for as the caller says.
//
// Threads: one owner; no locking of its own.
class CaptureClock {
 public:
  static constexpr int64_t kThresholdMs = 100;
  static constexpr int64_t kMaxDriftPpm = 1000;
  static constexpr int64_t kWindowNs = 60'000'000'000;
  static constexpr int64_t kConfirmNs = 1'000'000'000;

  void SetRate(uint32_t rate) { rate_ = rate; }
  // The stream starts anew (a start, or a loss counted some other way) with frames
  // delivered so far. The time a device takes to deliver its first frames is no loss.
  void Rebase(uint64_t frames) {
    based_ = false;
    start_frames_ = frames;
  }
  // frames: delivered since the stream started plus ready now, counted at stamp_ns
  // on the monotonic clock; unseen: what the device may hold without showing it.
  // Gives the frames found lost, 0 most of the time.
  uint64_t Check(uint64_t frames, int64_t stamp_ns, uint64_t unseen);

 private:
  void Base(uint64_t frames, int64_t stamp_ns);

  uint32_t rate_ = 0;
  bool based_ = false;
  uint64_t start_frames_ = 0;
  uint64_t base_frames_ = 0;
  int64_t base_ns_ = 0;
  bool suspect_ = false;   // a shortfall over the allowance was seen
  int64_t suspect_ns_ = 0;  // when first
};

}  // namespace pmx
