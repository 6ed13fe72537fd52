#pragma once

#include <QSocketNotifier>
#include <csignal>
#include <functional>
#include <memory>

#include "platform/unique_fd.h"

namespace pmx {

// SIGTERM, SIGINT and SIGHUP (a service manager's stop, Ctrl+C, a closed
// terminal) as events of the GUI thread's event loop: the signal handler only
// writes the signal's number into a pipe that the loop watches, and the loop
// calls on_signal with it, outside every other handler.
//
// Threads: create and destroy on the GUI thread; one at a time in a process.
class QtStopSignals {
 public:
  explicit QtStopSignals(std::function<void(int signal)> on_signal);
  // Signals that come later do nothing: by then the program is ending anyway,
  // and what it still does (closing its files) must not be cut short.
  ~QtStopSignals();
  QtStopSignals(const QtStopSignals&) = delete;
  QtStopSignals& operator=(const QtStopSignals&) = delete;

  static constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

 private:
  void OnReadable();

  std::function<void(int)> on_signal_;
  UniqueFd read_end_;
  UniqueFd write_end_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace pmx
