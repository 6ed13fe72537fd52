#include "platform/background_sync.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/thread_start.h"

namespace pmx {

BackgroundSync::BackgroundSync(int fd, SyncFunction sync, std::chrono::milliseconds spacing)
    : fd_(::fcntl(fd, F_DUPFD_CLOEXEC, 0)),
      sync_(sync ? std::move(sync) : SyncFunction(::fdatasync)),
      spacing_(spacing) {
  if (!fd_) {
    error_.store(errno);
    return;
  }
  thread_ = std::thread([this] { Run(); });
}

BackgroundSync::~BackgroundSync() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void BackgroundSync::Request() {
  {
    std::lock_guard lock(mutex_);
    requested_ = true;
  }
  wake_.notify_one();
}

void BackgroundSync::Run() {
  BeginThread("pmx-sync");
  std::unique_lock lock(mutex_);
  auto next = std::chrono::steady_clock::now();
  for (;;) {
    wake_.wait(lock, [this] { return requested_ || quit_; });
    wake_.wait_until(lock, next, [this] { return quit_; });
    if (quit_) return;  // the owner's closing sync takes what is left
    requested_ = false;
    lock.unlock();
    if (sync_(fd_.get()) != 0) {
      int expected = 0;
      error_.compare_exchange_strong(expected, errno);
    }
    next = std::chrono::steady_clock::now() + spacing_;
    lock.lock();
  }
}

}  // namespace pmx
