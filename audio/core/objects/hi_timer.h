#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/core/objects/cb_mode.h"
#include "audio/core/objects/objects.h"
#include "platform/exception.h"
#include "platform/main_loop.h"
#include "platform/mm_timer.h"

namespace pmx {

class EMMHiTimerError : public Exception {
 public:
  using Exception::Exception;
};

// The class library's error for a system out of timers or handles.
class EOutOfResources : public Exception {
 public:
  using Exception::Exception;
};

class TMMHiTimer;

// Runs OnTimer of its timer once per expiry of its own clock, on the GUI thread
// (synchronized) or on itself: the thread sleeps on the clock, so a tick wakes
// no other thread on its way.
//
// Threads: constructed, armed, stopped and joined on the GUI thread; the clock is
// waited for by this thread alone, and stop_ is atomic. Once stopped, the thread
// never touches its timer again.
class TMMTimerThread : public TMMThreadEx {
 public:
  TMMTimerThread(TMMHiTimer& timer, bool synchronize)
      : TMMThreadEx("pmx-timer"), timer_(timer), synchronize_(synchronize) {}
  ~TMMTimerThread() override;

  // Before Start: ticks every period_ms; false when the system has no timer.
  bool Arm(unsigned period_ms) { return clock_.Open(period_ms); }
  void Stop();

 protected:
  void Execute() override;

 private:
  TMMHiTimer& timer_;
  const bool synchronize_;
  std::atomic<bool> stop_{false};
  PeriodicClock clock_;
};

// Fires OnTimer every Interval ms. cmWindow posts each tick of a platform timer to
// the GUI thread, at most 10 unhandled at a time; in cmThread a TMMTimerThread
// ticks by itself, or, synchronized under a main loop with timers of its own, that
// loop's timer runs OnTimer on the GUI thread (the thread would only hand every
// tick over to it, and wait). cmCallback (the handler at interrupt time) is not
// offered on this system.
//
// Threads: properties belong to the GUI thread. Every change stops the platform
// timer and the timer thread before the new value is stored, so a handler that
// runs off the GUI thread never sees a property change under it. A thread stopped
// from inside its own synchronized OnTimer cannot be joined there; it is kept and
// joined by a later stop or the destructor.
class TMMHiTimer : public TMMNonVisualComponent {
 public:
  static constexpr int kMaxPendingTicks = 10;

  explicit TMMHiTimer(TComponent* owner = nullptr);
  ~TMMHiTimer() override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  int Interval() const { return interval_; }
  void SetInterval(int value);
  TMMCBMode CallBackMode() const { return mode_; }
  void SetCallBackMode(TMMCBMode value);
  TThreadPriority Priority() const { return priority_; }
  void SetPriority(TThreadPriority value);
  bool Synchronize() const { return synchronize_; }
  void SetSynchronize(bool value);
  // The thread is always joined when the timer stops; kept so forms can set it.
  bool WaitForTerminate() const { return wait_for_terminate_; }
  void SetWaitForTerminate(bool value) { wait_for_terminate_ = value; }
  const TNotifyEvent& OnTimer() const { return on_timer_; }
  void SetOnTimer(TNotifyEvent value);

  void SetDesignMode(bool value) override;
  // Ticks posted in cmWindow mode that the GUI thread has not handled yet.
  int PendingTicks() const;

 protected:
  virtual void DoTimer();

 private:
  friend class TMMTimerThread;
  struct Window;

  template <class T>
  void Change(T& field, T value);
  void Disarm();
  void Arm();
  void StartThread();
  void StopThread();
  void RunSynchronized();

  bool enabled_ = true;
  int interval_ = 1000;
  TMMCBMode mode_ = TMMCBMode::cmWindow;
  TThreadPriority priority_ = TThreadPriority::tpNormal;
  bool synchronize_ = true;
  bool wait_for_terminate_ = false;
  TNotifyEvent on_timer_;

  PeriodicTimer timer_;  // cmWindow
  std::shared_ptr<Window> window_;  // cmWindow while armed
  std::unique_ptr<TMMTimerThread> thread_;  // cmThread while armed
  std::unique_ptr<LoopTimer> loop_timer_;  // instead of thread_ where the loop can
  std::vector<std::unique_ptr<TMMTimerThread>> retired_;  // stopped, not yet joined
  bool in_synchronized_call_ = false;  // GUI thread only
};

}  // namespace pmx
