#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace pmx {

// A periodic timer: one thread of its own that sleeps on a CLOCK_MONOTONIC timerfd
// and calls the callback once per expiry. Expiries that pass while a callback still
// runs are folded into one call, so a slow callback never causes a backlog.
//
// Threads: Start, Stop and the destructor belong to the owning thread (they may not
// be called from the callback, which runs on the timer thread). The callback is
// fixed between Start and Stop; Stop joins the thread, so once it returns the
// callback is not running and will not run again.
class PeriodicTimer {
 public:
  using Callback = std::function<void()>;

  PeriodicTimer() = default;
  ~PeriodicTimer() { Stop(); }
  PeriodicTimer(const PeriodicTimer&) = delete;
  PeriodicTimer& operator=(const PeriodicTimer&) = delete;

  // Starts ticking every period_ms (at least 1); the first call comes one period
  // from now. False when already running or the system refuses a timer or thread.
  bool Start(unsigned period_ms, Callback callback);
  void Stop();
  bool Running() const { return thread_.joinable(); }

 private:
  void Run();
  void CloseFds();

  Callback callback_;
  std::thread thread_;
  int timer_fd_ = -1;
  int stop_fd_ = -1;
};

// A timer that sleeps until it is asked for a call: one thread of its own that runs
// the callback once the earliest requested time has come, never sooner than
// min_gap after its previous call, and then sleeps again until the next request.
// Requests made while a call runs are kept, so none is lost.
//
// Threads: Start, Stop and the destructor belong to the owning thread (not the
// callback). WakeAt may be called from any thread, the callback included; mutex_
// guards the deadline, the time of the last call, the thread's sleep and the stop
// flag. Stop joins the thread, so once it returns the callback is not running and
// will not run again.
class DeadlineTimer {
 public:
  using Clock = std::chrono::steady_clock;
  using Callback = std::function<void()>;

  DeadlineTimer() = default;
  ~DeadlineTimer() { Stop(); }
  DeadlineTimer(const DeadlineTimer&) = delete;
  DeadlineTimer& operator=(const DeadlineTimer&) = delete;

  // False when already running, without a callback, or when no thread can be had.
  bool Start(Clock::duration min_gap, Callback callback);
  void Stop();
  bool Running() const { return thread_.joinable(); }
  // One call at when (at once when it has passed); an earlier request stands.
  void WakeAt(Clock::time_point when);
  // Calls made since Start.
  std::uint64_t Calls() const;

 private:
  void Run();
  // When the next call is due; none without a request (under mutex_).
  std::optional<Clock::time_point> DueLocked() const;

  Callback callback_;
  Clock::duration min_gap_{};
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<Clock::time_point> deadline_;
  Clock::time_point last_call_{};
  // Until when the thread sleeps; min() while it is awake.
  Clock::time_point sleeping_until_ = Clock::time_point::max();
  std::uint64_t calls_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

// Milliseconds of the monotonic clock; wraps like a 32-bit tick count.
unsigned TimeGetTime();

}  // namespace pmx
