#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/unique_fd.h"

namespace pmx {

// Puts a file's written data on the disk from a thread of its own, so the thread
// that writes the file never waits for a slow disk. Requests made while a sync
// runs fold into one more sync after it; the thread sleeps in between.
//
// Threads: Request and Error from any thread; the sync thread owns its duplicate
// of the descriptor. requested_ and quit_ are guarded by mutex_; error_ is atomic.
class BackgroundSync {
 public:
  // Syncs a duplicate of fd, so the caller may close its own at any time.
  explicit BackgroundSync(int fd);
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
  std::mutex mutex_;
  std::condition_variable wake_;
  bool requested_ = false;
  bool quit_ = false;
  std::atomic<int> error_{0};
  std::thread thread_;
};

}  // namespace pmx
