#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/unique_fd.h"

namespace pmx {

// Tells when the entries of one folder (not those below it) change: names,
// attributes, sizes and write times. A wait can be ended early from another
// thread.
//
// Threads: one thread waits; Interrupt may be called from any thread.
class DirWatch {
 public:
  enum class Result { kChanged, kTimedOut, kInterrupted, kGone };

  // nullptr and error (errno) when the folder cannot be watched.
  static std::unique_ptr<DirWatch> Open(const std::string& folder, int& error);
  DirWatch(const DirWatch&) = delete;
  DirWatch& operator=(const DirWatch&) = delete;

  // Waits for changes and takes every one queued so far. kGone: the folder was
  // deleted, moved or unmounted, and nothing more will come.
  Result Wait(std::chrono::milliseconds timeout);
  void Interrupt();

 private:
  DirWatch(UniqueFd inotify_fd, UniqueFd wake_fd) : inotify_fd_(std::move(inotify_fd)), wake_fd_(std::move(wake_fd)) {}
  Result Drain();

  const UniqueFd inotify_fd_;
  const UniqueFd wake_fd_;
};

}  // namespace pmx
