#include "platform/mm_timer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

#include "platform/thread_start.h"

namespace pmx {
namespace {

timespec FromMs(unsigned ms) {
  timespec t{};
  t.tv_sec = ms / 1000;
  t.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  return t;
}

// Reads the 8-byte counter of a timerfd or eventfd; false when nothing was there.
bool Drain(int fd) {
  std::uint64_t count = 0;
  ssize_t n;
  do {
    n = ::read(fd, &count, sizeof count);
  } while (n < 0 && errno == EINTR);
  return n == sizeof count;
}

}  // namespace

bool PeriodicClock::Open(unsigned period_ms) {
  Close();
  if (period_ms == 0) period_ms = 1;
  timer_fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  stop_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  itimerspec spec{};
  spec.it_interval = FromMs(period_ms);
  spec.it_value = spec.it_interval;
  if (timer_fd_ < 0 || stop_fd_ < 0 || ::timerfd_settime(timer_fd_, 0, &spec, nullptr) != 0) {
    Close();
    return false;
  }
  return true;
}

void PeriodicClock::Close() {
  if (timer_fd_ >= 0) ::close(timer_fd_);
  if (stop_fd_ >= 0) ::close(stop_fd_);
  timer_fd_ = stop_fd_ = -1;
}

bool PeriodicClock::Wait() {
  pollfd fds[2] = {{stop_fd_, POLLIN, 0}, {timer_fd_, POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[0].revents != 0) return false;
    if (Drain(timer_fd_)) return true;
  }
}

bool PeriodicClock::TakeExpiries() { return Drain(timer_fd_); }

void PeriodicClock::Interrupt() {
  const std::uint64_t one = 1;
  while (::write(stop_fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

bool PeriodicTimer::Start(unsigned period_ms, Callback callback) {
  if (Running() || !callback || !clock_.Open(period_ms)) return false;
  callback_ = std::move(callback);
  try {
    thread_ = std::thread([this] {
      BeginThread("pmx-tick");
      while (clock_.Wait()) callback_();
    });
  } catch (const std::system_error&) {
    clock_.Close();
    callback_ = nullptr;
    return false;
  }
  return true;
}

void PeriodicTimer::Stop() {
  if (!thread_.joinable()) return;
  clock_.Interrupt();
  thread_.join();
  clock_.Close();
  callback_ = nullptr;
}

unsigned TimeGetTime() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<unsigned>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                               static_cast<std::uint64_t>(now.tv_nsec) / 1000000u);
}

}  // namespace pmx
