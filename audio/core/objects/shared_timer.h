#pragma once

#include <functional>
#include <list>
#include <mutex>

namespace pmx {

struct TMMTimerClient;
using PMMTimerClient = TMMTimerClient*;
using TMMTimerCallback = std::function<void(PMMTimerClient client, void* data)>;

// One registered client of the shared timer. Its fields belong to the client list
// and are guarded by the list's lock.
struct TMMTimerClient {
  int interval = 0;  // ms, at least one tick
  void* data = nullptr;
  TMMTimerCallback callback;
  int suspend_count = 0;  // the callback runs only while this is 0
  int elapsed = 0;        // ms since the last call
  bool idle = false;      // nothing to do until told otherwise: no ticks, elapsed kept
};

// The clients of a periodic tick, in registration order. Tick is what the shared
// 25 ms timer runs; the list is a class of its own so that its arithmetic can be
// driven tick by tick.
//
// Threads: every operation takes the list's lock. Tick calls the callbacks under
// it, so a callback may suspend and resume clients but not add or remove them
// (Add and Remove refuse on a thread inside Tick).
class TMMTimerClients {
 public:
  static constexpr int kPeriod = 25;

  // nullptr when called from inside a callback.
  PMMTimerClient Add(int interval, int suspend_count, TMMTimerCallback callback, void* data);
  // True when the client was in the list and is now gone.
  bool Remove(PMMTimerClient client);
  void Suspend(PMMTimerClient client);
  void Resume(PMMTimerClient client);
  void SetIdle(PMMTimerClient client, bool idle);
  void Tick();
  int Count() const;
  // Told, under the lock, when the first client comes to need ticks (true) and
  // when the last one stops needing them (false): suspended and idle ones do not.
  void SetOnNeed(std::function<void(bool)> on_need);

 private:
  // The entry of client, or end(); with the lock held.
  std::list<TMMTimerClient>::iterator Find(PMMTimerClient client);
  // Counts the clients that need ticks anew and tells of a change (lock held).
  void Recount();

  mutable std::recursive_mutex mutex_;
  std::list<TMMTimerClient> clients_;
  int needing_ = 0;
  std::function<void(bool)> on_need_;
};

// The process-wide 25 ms timer: it runs from the first client's registration to the
// last client's removal. Callbacks run where the displays' clock ticks (gui_ticker):
// on the GUI thread under a GUI loop, else on the clock's own thread.
// nullptr when the timer cannot be started (or when called from a callback).
PMMTimerClient MMTimerAddClient(int interval, int suspend_count, TMMTimerCallback callback,
                                void* data);
void MMTimerSuspendClient(PMMTimerClient client);
void MMTimerResumeClient(PMMTimerClient client);
void MMTimerRemoveClient(PMMTimerClient client);
// An idle client keeps its place and its elapsed time but is not called; while
// every client is idle or suspended the displays' clock sleeps. Any thread, the
// client's own callback included.
void MMTimerSetClientIdle(PMMTimerClient client, bool idle);
// True while the platform timer runs.
bool MMTimerRunning();

}  // namespace pmx
