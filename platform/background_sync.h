#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/unique_fd.h"

namespace pmx {

// Puts a file's written data on the disk from a thread of its own, so the thread
// that writes the file never waits for a slow disk. Requests made while a sync
// runs, or within a second after one, fold into one more sync; the thread sleeps
// in between. A backlog written at disk speed (after a stall) thus costs one sync
// a second, not one for every few seconds of sound.
//
// Threads: Request and Error from any thread; the sync thread owns its duplicate
// of the descriptor. requested_ and quit_ are guarded by mutex_; error_ is atomic.
class BackgroundSync {
 public:
  // Syncs a duplicate of fd, so the caller may close its own at any time.
  using SyncFunction = std::function<int(int fd)>;  // 0, or -1 with errno set
  explicit BackgroundSync(int fd, SyncFunction sync = nullptr,
                          std::chrono::milliseconds spacing = std::chrono::seconds(1));
  // Waits for a sync in progress.
  ~BackgroundSync();
  BackgroundSync(const BackgroundSync&) = delete;
  BackgroundSync& operator=(const BackgroundSync&) = delete;

  // Returns at once.
  void Request();
  // The errno of the first sync that failed; 0 while all succeeded.
  int Error() const { return error_.load(); }

 private:
  void Run();

  UniqueFd fd_;
  const SyncFunction sync_;
  const std::chrono::milliseconds spacing_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool requested_ = false;
  bool quit_ = false;
  std::atomic<int> error_{0};
  std::thread thread_;
};

}  // namespace pmx
