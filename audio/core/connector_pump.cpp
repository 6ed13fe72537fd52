#include "audio/core/connector_pump.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>

#include "audio/core/connector.h"
#include "platform/main_loop.h"
#include "platform/mm_timer.h"

namespace pmx::connector_pump {
namespace {

// The displays' refresh, the period of their shared timer: the blocks of a buffer
// fall due every millisecond or so, but a display shows no more than this; the
// blocks due meanwhile are handed over in one pump, so none is skipped.
constexpr std::chrono::milliseconds kRefreshGap{25};

struct State {
  std::mutex mutex;
  std::vector<TMMConnector*> list;
  int highest_speed = 0;
  int armed = 0;
  DeadlineTimer timer;
  std::atomic<bool> pump_posted{false};
};

State& Shared() {
  static State state;
  return state;
}

void PostPump() {
  State& s = Shared();
  if (s.pump_posted.exchange(true)) return;
  MainLoop::Instance().Post(&Pump);
}

void RecomputeSpeed(State& s) {
  s.highest_speed = 0;
  for (const TMMConnector* c : s.list) s.highest_speed = std::max(s.highest_speed, c->Speed());
}

}  // namespace

void Register(TMMConnector* connector) {
  State& s = Shared();
  std::lock_guard lock(s.mutex);
  if (std::find(s.list.begin(), s.list.end(), connector) == s.list.end()) {
    s.list.push_back(connector);
  }
  RecomputeSpeed(s);
}

void Unregister(TMMConnector* connector) {
  State& s = Shared();
  std::lock_guard lock(s.mutex);
  std::erase(s.list, connector);
  RecomputeSpeed(s);
}

bool Registered(const TMMConnector* connector) {
  State& s = Shared();
  std::lock_guard lock(s.mutex);
  return std::find(s.list.begin(), s.list.end(), connector) != s.list.end();
}

int Count() {
  State& s = Shared();
  std::lock_guard lock(s.mutex);
  return static_cast<int>(s.list.size());
}

void SpeedChanged() {
  State& s = Shared();
  std::lock_guard lock(s.mutex);
  RecomputeSpeed(s);
}

int HighestSpeed() {
  State& s = Shared();
  std::lock_guard lock(s.mutex);
  return s.highest_speed;
}

void Arm() {
  State& s = Shared();
  std::lock_guard lock(s.mutex);
  if (++s.armed > 1) return;
  // A pump left queued in a loop that has since gone must not block new ones.
  s.pump_posted.store(false);
  s.timer.Start(kRefreshGap, &PostPump);
}

void Disarm() {
  State& s = Shared();
  std::lock_guard lock(s.mutex);
  if (s.armed == 0 || --s.armed > 0) return;
  s.timer.Stop();  // the call only posts, so joining it under the lock is safe
}

void WakeIn(int64_t micros) {
  Shared().timer.WakeAt(DeadlineTimer::Clock::now() +
                        std::chrono::microseconds(std::max<int64_t>(0, micros)));
}

uint64_t Wakes() { return Shared().timer.Calls(); }

int ArmedCount() {
  State& s = Shared();
  std::lock_guard lock(s.mutex);
  return s.armed;
}

bool Pumping() {
  State& s = Shared();
  std::lock_guard lock(s.mutex);
  return s.timer.Running();
}

void Pump() {
  State& s = Shared();
  s.pump_posted.store(false);
  std::vector<TMMConnector*> list;
  {
    std::lock_guard lock(s.mutex);
    if (s.armed == 0) return;
    list = s.list;
  }
  if (MainLoop::Instance().Closing()) return;
  // A handler of one connector may free another: each is looked up again.
  std::optional<int64_t> next;
  for (TMMConnector* c : list) {
    if (!Registered(c) || !c->DueForPump()) continue;
    c->Refresh(true);
    if (!Registered(c)) continue;  // its own handler may have freed it
    if (const std::optional<int64_t> due = c->NextDueIn()) next = std::min(next.value_or(*due), *due);
  }
  if (next) WakeIn(*next);
}

}  // namespace pmx::connector_pump
