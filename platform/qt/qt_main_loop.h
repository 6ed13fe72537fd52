#pragma once

#include <QSocketNotifier>
#include <atomic>
#include <memory>

#include "platform/gui_ticker.h"
#include "platform/main_loop.h"

namespace pmx {

// MainLoop over Qt's event loop. A worker's call wakes the GUI thread through an
// eventfd watched by a socket notifier, so nothing Qt allocates crosses threads.
// It also delivers the displays' clock (gui_ticker) from a timerfd watched the same
// way. Create it on the GUI thread after the QApplication; it installs itself as
// the instance and the clock's source for its lifetime.
class QtMainLoop : public MainLoop, public TickSource {
 public:
  QtMainLoop();
  ~QtMainLoop() override;

  void ArmTicks(std::chrono::milliseconds period) override;
  // A periodic clock watched like the wake-up descriptor: one wake-up per tick.
  std::unique_ptr<LoopTimer> StartTimer(std::chrono::milliseconds period, Call tick) override;

 protected:
  void NotifyGui() override;
  void ProcessPlatformEvents() override;
  // Also inside the event loop: every event handler runs there.
  bool InsideHandler() const override;

 private:
  void OnWake();
  void OnTick();

  int wake_fd_;
  int tick_fd_;
  // The event loop level at which OnWake drains the queue, -1 outside it (GUI
  // thread): a call queued there from the GUI thread is run by that same drain.
  int draining_level_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::unique_ptr<QSocketNotifier> tick_notifier_;
};

}  // namespace pmx
