#include "platform/qt/qt_main_loop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QThread>
#include <cstdint>
#include <system_error>

namespace pmx {

QtMainLoop::QtMainLoop()
    : MainLoop(std::this_thread::get_id()), wake_fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (wake_fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  notifier_ = std::make_unique<QSocketNotifier>(wake_fd_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { OnWake(); });
  MainLoop::Install(this);
}

QtMainLoop::~QtMainLoop() {
  MainLoop::Install(nullptr);
  notifier_.reset();
  close(wake_fd_);
}

void QtMainLoop::NotifyGui() {
  const uint64_t one = 1;
  // A full counter already means a wake-up is pending.
  [[maybe_unused]] const ssize_t n = write(wake_fd_, &one, sizeof one);
}

void QtMainLoop::OnWake() {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = read(wake_fd_, &count, sizeof count);
  ProcessPending();
}

void QtMainLoop::ProcessPlatformEvents() { QCoreApplication::processEvents(); }

}  // namespace pmx

namespace pmx {

bool QtMainLoop::InsideHandler() const {
  return MainLoop::InsideHandler() || QThread::currentThread()->loopLevel() > 0;
}

}  // namespace pmx
