#include "platform/background_sync.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace pmx {

BackgroundSync::BackgroundSync(int fd) : fd_(::fcntl(fd, F_DUPFD_CLOEXEC, 0)) {
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
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return requested_ || quit_; });
    if (quit_) return;
    requested_ = false;
    lock.unlock();
    if (::fdatasync(fd_.get()) != 0) {
      int expected = 0;
      error_.compare_exchange_strong(expected, errno);
    }
    lock.lock();
  }
}

}  // namespace pmx
