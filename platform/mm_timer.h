#pragma once

#include <functional>
#include <thread>

namespace pmx {

// The expiries of a CLOCK_MONOTONIC timerfd, waited for on the owner's own thread,
// so a thread that runs periodic work needs no second one to wake it. Expiries
// that pass while the owner is busy fold into one.
//
// Threads: Open and Close belong to the owner; Wait to the one thread that waits;
// Interrupt may be called from any thread between Open and Close.
class PeriodicClock {
 public:
  PeriodicClock() = default;
  ~PeriodicClock() { Close(); }
  PeriodicClock(const PeriodicClock&) = delete;
  PeriodicClock& operator=(const PeriodicClock&) = delete;

  // Expires every period_ms (at least 1), first one period from now; false when
  // the system refuses a timer.
  bool Open(unsigned period_ms);
  void Close();
  // Blocks until the next expiry (true) or until Interrupt was called (false,
  // from then on at once).
  bool Wait();
  void Interrupt();
  // For an event loop that watches the clock instead of a thread that waits: the
  // descriptor that turns readable at an expiry, and whether any expiry came since
  // the last look (which takes them all).
  int Descriptor() const { return timer_fd_; }
  bool TakeExpiries();

 private:
  int timer_fd_ = -1;
  int stop_fd_ = -1;
};

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
  Callback callback_;
  std::thread thread_;
  PeriodicClock clock_;
};

// Milliseconds of the monotonic clock; wraps like a 32-bit tick count.
unsigned TimeGetTime();

}  // namespace pmx
