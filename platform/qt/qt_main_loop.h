#pragma once

#include <QSocketNotifier>
#include <atomic>
#include <memory>

#include "platform/main_loop.h"

namespace pmx {

// MainLoop over Qt's event loop. A worker's call wakes the GUI thread through an
// eventfd watched by a socket notifier, so nothing Qt allocates crosses threads.
// Create it on the GUI thread after the QApplication; it installs itself as the
// instance for its lifetime.
class QtMainLoop : public MainLoop {
 public:
  QtMainLoop();
  ~QtMainLoop() override;

 protected:
  void NotifyGui() override;
  void ProcessPlatformEvents() override;
  // Also inside the event loop: every event handler runs there.
  bool InsideHandler() const override;

 private:
  void OnWake();

  int wake_fd_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace pmx
