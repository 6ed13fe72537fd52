#pragma once

#include <chrono>
#include <functional>

namespace pmx {

// A GUI event loop that can deliver a periodic tick from its own wake-ups.
class TickSource {
 public:
  virtual ~TickSource() = default;
  // Starts (a period above 0) or stops the loop's expiries; any thread. Each expiry
  // calls gui_ticker::Tick on the GUI thread.
  virtual void ArmTicks(std::chrono::milliseconds period) = 0;
};

// The displays' periodic clock. While a GUI loop is attached it ticks on the GUI
// thread, so one wake-up serves the tick and the painting that follows it; without
// one (tests, programs without a window) a timer thread of its own ticks. The
// loop may come and go while the clock runs: the ticks move with it. While the
// clock is idle the loop's timer sleeps (the thread keeps ticking); while nobody
// can see the displays there are no ticks at all.
//
// Threads: Start, Stop and Running may be called from any thread but not from
// inside a tick; Stop returns only when no tick runs and none will. Attach and
// Detach belong to the loop's GUI thread. SetIdle may be called from anywhere, a
// tick included, and so may SetSeen and Seen. One lock orders the lifecycle, another the callback (a tick
// holds it), a third the loop's timer.
namespace gui_ticker {

// False when already running or when no timer can be had.
bool Start(std::chrono::milliseconds period, std::function<void()> tick);
void Stop();
bool Running();
// The loop that delivers the ticks from now on (Detach: until it goes).
void Attach(TickSource* source);
void Detach(TickSource* source);
// One expiry of the attached loop.
void Tick();
// Nothing needs ticks for now (true), or something does again.
void SetIdle(bool idle);
// Whether anybody can see the displays (true at start). While nobody can, the
// clock does not tick and the displays draw nothing.
void SetSeen(bool seen);
bool Seen();

}  // namespace gui_ticker
}  // namespace pmx
