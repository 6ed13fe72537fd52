#include "platform/gui_ticker.h"

#include <mutex>

#include "platform/mm_timer.h"

namespace pmx::gui_ticker {
namespace {

struct State {
  std::mutex lifecycle;  // Start, Stop, Attach, Detach; never taken by a tick
  std::chrono::milliseconds period{0};
  TickSource* source = nullptr;
  PeriodicTimer thread;
  std::mutex callback_lock;  // held while a tick runs
  std::function<void()> callback;  // empty while stopped
};

State& Shared() {
  static State state;
  return state;
}

// Lets the attached loop or the thread deliver the ticks (lifecycle held).
bool Arm(State& s) {
  if (s.source != nullptr) {
    s.source->ArmTicks(s.period);
    return true;
  }
  return s.thread.Start(static_cast<unsigned>(s.period.count()), &Tick);
}

void Disarm(State& s) {
  if (s.source != nullptr) s.source->ArmTicks(std::chrono::milliseconds(0));
  s.thread.Stop();  // joins: a thread's tick has ended
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
  s.period = period;
  if (Arm(s)) return true;
  s.period = std::chrono::milliseconds(0);
  std::lock_guard callback(s.callback_lock);
  s.callback = nullptr;
  return false;
}

void Stop() {
  State& s = Shared();
  std::lock_guard lock(s.lifecycle);
  if (s.period.count() == 0) return;
  Disarm(s);
  s.period = std::chrono::milliseconds(0);
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
  s.source = source;
  if (s.period.count() > 0) Arm(s);
}

void Detach(TickSource* source) {
  State& s = Shared();
  std::lock_guard lock(s.lifecycle);
  if (s.source != source) return;
  if (s.period.count() > 0) Disarm(s);
  s.source = nullptr;
  if (s.period.count() > 0) Arm(s);
}

void Tick() {
  State& s = Shared();
  std::lock_guard callback(s.callback_lock);
  if (s.callback) s.callback();
}

}  // namespace pmx::gui_ticker
