#include "audio/core/chain/connector_pump.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>

#include "audio/core/chain/connector.h"
#include "audio/core/objects/shared_timer.h"
#include "audio/core/objects/utilities.h"
#include "platform/main_loop.h"

namespace pmx::connector_pump {
namespace {

constexpr int64_t kNone = INT64_MAX;

// The pump rides the displays' shared timer: the blocks of a buffer fall due every
// millisecond or so, but a display shows no more than one frame per tick, and the
// tick that lets the GUI thread paint also brings the pump; the blocks due
// meanwhile are handed over in one pump, so none is skipped.
struct State {
  std::mutex mutex;  // list, highest_speed, armed, client
  std::vector<TMMConnector*> list;
  int highest_speed = 0;
  int armed = 0;
  std::atomic<PMMTimerClient> client{nullptr};
  std::atomic<int64_t> due{kNone};  // GetMicroTime of the next pump asked for
  std::atomic<uint64_t> wakes{0};
  std::atomic<bool> pump_posted{false};
};

State& Shared() {
  static State state;
  return state;
}

// On the shared timer's tick: posts the pump once it is due; with nothing asked
// for, the pump needs no ticks until WakeIn.
void OnTick(PMMTimerClient client) {
  State& s = Shared();
  int64_t due = s.due.load();
  if (due == kNone) {
    MMTimerSetClientIdle(client, true);  // the tick holds the timer's lock: a WakeIn now wakes it after
    return;
  }
  if (due > GetMicroTime() || !s.due.compare_exchange_strong(due, kNone)) return;
  s.wakes.fetch_add(1);
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
  s.due.store(kNone);
  s.wakes.store(0);
  s.client = MMTimerAddClient(TMMTimerClients::kPeriod, 0, [](PMMTimerClient c, void*) { OnTick(c); }, nullptr);
}

void Disarm() {
  State& s = Shared();
  std::lock_guard lock(s.mutex);
  if (s.armed == 0 || --s.armed > 0) return;
  // The tick only posts, so waiting for it under the lock is safe.
  MMTimerRemoveClient(s.client.exchange(nullptr));
}

void WakeIn(int64_t micros) {
  State& s = Shared();
  const int64_t when = GetMicroTime() + std::max<int64_t>(0, micros);
  // An earlier request stands.
  int64_t due = s.due.load();
  while (when < due && !s.due.compare_exchange_weak(due, when)) {
  }
  MMTimerSetClientIdle(s.client.load(), false);
}

uint64_t Wakes() { return Shared().wakes.load(); }

int ArmedCount() {
  State& s = Shared();
  std::lock_guard lock(s.mutex);
  return s.armed;
}

bool Pumping() {
  State& s = Shared();
  std::lock_guard lock(s.mutex);
  return s.client != nullptr;
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
