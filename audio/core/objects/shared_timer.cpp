#include "audio/core/objects/shared_timer.h"

#include <algorithm>
#include <atomic>

#include "platform/gui_ticker.h"

namespace pmx {
namespace {

// Set on the thread that walks the list, so a callback cannot re-enter Add or Remove.
thread_local bool t_in_tick = false;

struct SharedTimer {
  SharedTimer() {
    clients.SetOnNeed([](bool needed) { gui_ticker::SetIdle(!needed); });
  }
  std::mutex lifecycle;  // orders starting and stopping the platform timer
  std::atomic<bool> running{false};
  TMMTimerClients clients;
};

SharedTimer& Shared() {
  static SharedTimer shared;
  return shared;
}

}  // namespace

PMMTimerClient TMMTimerClients::Add(int interval, int suspend_count, TMMTimerCallback callback,
                                    void* data) {
  if (t_in_tick) return nullptr;
  std::lock_guard lock(mutex_);
  TMMTimerClient& client = clients_.emplace_back();
  client.interval = std::max(interval, kPeriod);
  client.data = data;
  client.callback = std::move(callback);
  client.suspend_count = suspend_count;
  Recount();
  return &client;
}

std::list<TMMTimerClient>::iterator TMMTimerClients::Find(PMMTimerClient client) {
  return std::find_if(clients_.begin(), clients_.end(),
                      [client](const TMMTimerClient& c) { return &c == client; });
}

bool TMMTimerClients::Remove(PMMTimerClient client) {
  if (t_in_tick || !client) return false;
  std::lock_guard lock(mutex_);
  const auto it = Find(client);
  if (it == clients_.end()) return false;
  clients_.erase(it);
  Recount();
  return true;
}

void TMMTimerClients::Suspend(PMMTimerClient client) {
  std::lock_guard lock(mutex_);
  if (client && Find(client) != clients_.end()) {
    ++client->suspend_count;
    client->elapsed = 0;
    Recount();
  }
}

void TMMTimerClients::Resume(PMMTimerClient client) {
  std::lock_guard lock(mutex_);
  if (client && Find(client) != clients_.end() && client->suspend_count > 0) {
    --client->suspend_count;
    Recount();
  }
}

void TMMTimerClients::SetIdle(PMMTimerClient client, bool idle) {
  std::lock_guard lock(mutex_);
  if (client && Find(client) != clients_.end() && client->idle != idle) {
    client->idle = idle;
    Recount();
  }
}

void TMMTimerClients::SetOnNeed(std::function<void(bool)> on_need) {
  std::lock_guard lock(mutex_);
  on_need_ = std::move(on_need);
}

void TMMTimerClients::Recount() {
  const int before = needing_;
  needing_ = static_cast<int>(std::count_if(clients_.begin(), clients_.end(), [](const TMMTimerClient& c) {
    return c.suspend_count == 0 && !c.idle;
  }));
  if ((before == 0) != (needing_ == 0) && on_need_) on_need_(needing_ > 0);
}

void TMMTimerClients::Tick() {
  std::lock_guard lock(mutex_);
  t_in_tick = true;
  for (TMMTimerClient& client : clients_) {
    if (client.suspend_count != 0 || client.idle) continue;
    client.elapsed += kPeriod;
    if (client.elapsed < client.interval) continue;
    client.elapsed = 0;
    if (client.callback) client.callback(&client, client.data);
  }
  t_in_tick = false;
}

int TMMTimerClients::Count() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(clients_.size());
}

PMMTimerClient MMTimerAddClient(int interval, int suspend_count, TMMTimerCallback callback,
                                void* data) {
  if (t_in_tick) return nullptr;
  SharedTimer& shared = Shared();
  std::lock_guard lock(shared.lifecycle);
  if (!shared.running.load() &&
      !gui_ticker::Start(std::chrono::milliseconds(TMMTimerClients::kPeriod),
                         [&shared] { shared.clients.Tick(); })) {
    return nullptr;
  }
  shared.running.store(true);
  return shared.clients.Add(interval, suspend_count, std::move(callback), data);
}

void MMTimerSuspendClient(PMMTimerClient client) { Shared().clients.Suspend(client); }

void MMTimerResumeClient(PMMTimerClient client) { Shared().clients.Resume(client); }

void MMTimerRemoveClient(PMMTimerClient client) {
  if (t_in_tick) return;  // a tick cannot wait for itself to end
  SharedTimer& shared = Shared();
  std::lock_guard lock(shared.lifecycle);
  // The list lock is not held here, so a tick in progress can finish while we join.
  if (shared.clients.Remove(client) && shared.clients.Count() == 0) {
    gui_ticker::Stop();
    shared.running.store(false);
  }
}

void MMTimerSetClientIdle(PMMTimerClient client, bool idle) { Shared().clients.SetIdle(client, idle); }

bool MMTimerRunning() { return Shared().running.load(); }

}  // namespace pmx
