#include "platform/dir_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace pmx {
namespace {

constexpr std::uint32_t kEntryChanges =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE;
constexpr std::uint32_t kFolderGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;

}  // namespace

std::unique_ptr<DirWatch> DirWatch::Open(const std::string& folder, int& error) {
  UniqueFd inotify_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  UniqueFd wake_fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!inotify_fd || !wake_fd ||
      inotify_add_watch(inotify_fd.get(), folder.c_str(), kEntryChanges | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR) <
          0) {
    error = errno;
    return nullptr;
  }
  error = 0;
  return std::unique_ptr<DirWatch>(new DirWatch(std::move(inotify_fd), std::move(wake_fd)));
}

DirWatch::Result DirWatch::Wait(std::chrono::milliseconds timeout) {
  pollfd fds[2] = {{inotify_fd_.get(), POLLIN, 0}, {wake_fd_.get(), POLLIN, 0}};
  const int ready = poll(fds, 2, static_cast<int>(timeout.count()));
  if (ready < 0) return errno == EINTR ? Result::kTimedOut : Result::kGone;
  if (fds[1].revents & POLLIN) {
    std::uint64_t count = 0;
    if (read(wake_fd_.get(), &count, sizeof count) < 0) {
      // Taken by an earlier wait already.
    }
    return Result::kInterrupted;
  }
  if (ready == 0) return Result::kTimedOut;
  return Drain();
}

DirWatch::Result DirWatch::Drain() {
  alignas(inotify_event) char buffer[4096];
  Result result = Result::kTimedOut;
  for (;;) {
    const ssize_t n = read(inotify_fd_.get(), buffer, sizeof buffer);
    if (n <= 0) break;
    for (ssize_t offset = 0; offset < n;) {
      inotify_event event;
      std::memcpy(&event, buffer + offset, sizeof event);
      if (event.mask & kFolderGone) return Result::kGone;
      // An overflowed queue still means that something changed.
      result = Result::kChanged;
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
    }
  }
  return result;
}

void DirWatch::Interrupt() {
  const std::uint64_t one = 1;
  if (write(wake_fd_.get(), &one, sizeof one) < 0) {
    // The counter is full: a wake-up is pending already.
  }
}

}  // namespace pmx
