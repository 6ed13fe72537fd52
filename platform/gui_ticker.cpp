#include "platform/gui_ticker.h"

#include <atomic>
#include <mutex>

#include "platform/mm_timer.h"

namespace pmx::gui_ticker {
namespace {

struct State {
  std::mutex lifecycle;  // Start, Stop, Attach, Detach; never taken by a tick
  PeriodicTimer thread;
  // The loop's timer: period, source and idle, written under both locks. Taken
  // last of all locks, for the loop's timer alone, so a tick may go idle.
  std::mutex source_lock;
  std::chrono::milliseconds period{0};
  TickSource* source = nullptr;
  bool idle = false;
  std::atomic<bool> seen{true};  // also written under source_lock, with the timer
  std::mutex callback_lock;  // held while a tick runs
  std::function<void()> callback;  // empty while stopped
};

State& Shared() {
  static State state;
  return state;
}

// Sets the attached loop's timer from the state (source_lock held): it runs while
// the clock runs, is not idle and somebody can see the displays.
void ArmSource(State& s) {
  if (s.source == nullptr) return;
  s.source->ArmTicks(s.idle || !s.seen ? std::chrono::milliseconds(0) : s.period);
}

// Lets the attached loop or the thread deliver the ticks (lifecycle held).
bool Arm(State& s) {
  {
    std::lock_guard lock(s.source_lock);
    if (s.source != nullptr) {
      ArmSource(s);
      return true;
    }
  }
  return s.thread.Start(static_cast<unsigned>(s.period.count()), &Tick);
}

void Disarm(State& s) {
  {
    std::lock_guard lock(s.source_lock);
    if (s.source != nullptr) s.source->ArmTicks(std::chrono::milliseconds(0));
  }
  s.thread.Stop();  // joins: a thread's tick has ended
}

void SetPeriod(State& s, std::chrono::milliseconds period) {
  std::lock_guard lock(s.source_lock);
  s.period = period;
}

void SetSource(State& s, TickSource* source) {
  std::lock_guard lock(s.source_lock);
  s.source = source;
}

}  // namespace

bool Start(std::chrono::milliseconds period, std::function<void()> tick) {
  State& s = Shared();
  std::lock_guard lock(s.lifecycle);
  if (s.period.count() > 0 || !tick) return false;
  {
    std::lock_guard callback(s.callback_lock);
    s.callback = std::move(tick);
  }
  SetPeriod(s, period);
  if (Arm(s)) return true;
  SetPeriod(s, std::chrono::milliseconds(0));
  std::lock_guard callback(s.callback_lock);
  s.callback = nullptr;
  return false;
}

void Stop() {
  State& s = Shared();
  std::lock_guard lock(s.lifecycle);
  if (s.period.count() == 0) return;
  Disarm(s);
  SetPeriod(s, std::chrono::milliseconds(0));
  // A loop's expiry may already be on its way: it finds no callback.
  std::lock_guard callback(s.callback_lock);
  s.callback = nullptr;
}

bool Running() {
  State& s = Shared();
  std::lock_guard lock(s.lifecycle);
  return s.period.count() > 0;
}

void Attach(TickSource* source) {
  State& s = Shared();
  std::lock_guard lock(s.lifecycle);
  if (s.period.count() > 0) Disarm(s);
  SetSource(s, source);
  if (s.period.count() > 0) Arm(s);
}

void Detach(TickSource* source) {
  State& s = Shared();
  std::lock_guard lock(s.lifecycle);
  if (s.source != source) return;
  if (s.period.count() > 0) Disarm(s);
  SetSource(s, nullptr);
  if (s.period.count() > 0) Arm(s);
}

void SetIdle(bool idle) {
  State& s = Shared();
  std::lock_guard lock(s.source_lock);
  if (s.idle == idle) return;
  s.idle = idle;
  if (s.period.count() > 0) ArmSource(s);
}

void SetSeen(bool seen) {
  State& s = Shared();
  std::lock_guard lock(s.source_lock);
  if (s.seen == seen) return;
  s.seen = seen;
  if (s.period.count() > 0) ArmSource(s);
}

bool Seen() { return Shared().seen.load(); }

void Tick() {
  State& s = Shared();
  if (!s.seen) return;  // the thread's ticks, and an expiry already on its way
  std::lock_guard callback(s.callback_lock);
  if (s.callback) s.callback();
}

}  // namespace pmx::gui_ticker
