#include "platform/alsa/capture_clock.h"

namespace pmx {

void CaptureClock::Base(uint64_t frames, int64_t stamp_ns) {
  based_ = true;
  suspect_ = false;
  base_frames_ = frames;
  base_ns_ = stamp_ns;
}

uint64_t CaptureClock::Check(uint64_t frames, int64_t stamp_ns, uint64_t unseen) {
  if (!based_ && frames <= start_frames_) return 0;
  if (!based_ || rate_ == 0 || stamp_ns < base_ns_) {
    Base(frames, stamp_ns);
    return 0;
  }
  const int64_t elapsed = stamp_ns - base_ns_;
  const auto expected = static_cast<int64_t>(static_cast<__int128>(elapsed) * rate_ / 1'000'000'000);
  // Fewer frames than at the base is no new start (Rebase says when one is): a sound
  // server that drops a block of what it held for a slow reader shows just that.
  const int64_t shortfall = expected - (static_cast<int64_t>(frames) - static_cast<int64_t>(base_frames_));
  // Ahead of time: the base was counted while frames were on their way, or the
  // card runs fast. Either way this is the better base.
  if (shortfall <= 0) {
    Base(frames, stamp_ns);
    return 0;
  }
  const int64_t allowed = int64_t{rate_} * kThresholdMs / 1000 + static_cast<int64_t>(unseen) +
                          expected * kMaxDriftPpm / 1'000'000;
  if (shortfall <= allowed) {
    suspect_ = false;
    if (elapsed >= kWindowNs) Base(frames, stamp_ns);
    return 0;
  }
  if (!suspect_) {
    suspect_ = true;
    suspect_ns_ = stamp_ns;
    return 0;
  }
  if (stamp_ns - suspect_ns_ < kConfirmNs) return 0;
  Base(frames, stamp_ns);
  return static_cast<uint64_t>(shortfall);
}

}  // namespace pmx
