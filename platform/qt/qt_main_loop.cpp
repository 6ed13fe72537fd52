#include "platform/qt/qt_main_loop.h"

#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <system_error>
#include <utility>

#include "platform/mm_timer.h"

namespace pmx {
namespace {

class QtLoopTimer : public LoopTimer {
 public:
  explicit QtLoopTimer(std::function<void()> tick)
      : tick_(std::make_shared<std::function<void()>>(std::move(tick))) {}

  bool Start(std::chrono::milliseconds period) {
    if (!clock_.Open(static_cast<unsigned>(std::max<int64_t>(period.count(), 1)))) return false;
    notifier_ = std::make_unique<QSocketNotifier>(clock_.Descriptor(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
      if (!clock_.TakeExpiries()) return;
      // Held here: the tick may destroy this timer, and the call with it.
      const std::shared_ptr<std::function<void()>> tick = tick_;
      (*tick)();
    });
    return true;
  }

 private:
  const std::shared_ptr<std::function<void()>> tick_;
  PeriodicClock clock_;
  std::unique_ptr<QSocketNotifier> notifier_;  // goes before the clock's descriptor
};

}  // namespace

QtMainLoop::QtMainLoop()
    : MainLoop(std::this_thread::get_id()),
      wake_fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      tick_fd_(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)) {
  if (wake_fd_ < 0 || tick_fd_ < 0) {
    const int error = errno;
    if (wake_fd_ >= 0) close(wake_fd_);
    if (tick_fd_ >= 0) close(tick_fd_);
    throw std::system_error(error, std::generic_category(), "eventfd");
  }
  notifier_ = std::make_unique<QSocketNotifier>(wake_fd_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { OnWake(); });
  tick_notifier_ = std::make_unique<QSocketNotifier>(tick_fd_, QSocketNotifier::Read);
  QObject::connect(tick_notifier_.get(), &QSocketNotifier::activated, [this] { OnTick(); });
  MainLoop::Install(this);
  gui_ticker::Attach(this);
}

QtMainLoop::~QtMainLoop() {
  gui_ticker::Detach(this);
  MainLoop::Install(nullptr);
  notifier_.reset();
  tick_notifier_.reset();
  close(wake_fd_);
  close(tick_fd_);
}

void QtMainLoop::ArmTicks(std::chrono::milliseconds period) {
  itimerspec spec{};
  spec.it_interval.tv_sec = static_cast<time_t>(period.count() / 1000);
  spec.it_interval.tv_nsec = static_cast<long>(period.count() % 1000) * 1000000L;
  spec.it_value = spec.it_interval;
  timerfd_settime(tick_fd_, 0, &spec, nullptr);
}

std::unique_ptr<LoopTimer> QtMainLoop::StartTimer(std::chrono::milliseconds period, Call tick) {
  auto timer = std::make_unique<QtLoopTimer>(std::move(tick));
  if (!timer->Start(period)) return nullptr;
  return timer;
}

void QtMainLoop::OnTick() {
  uint64_t expiries = 0;
  // Expiries missed while the GUI thread was busy make one tick, not a burst.
  if (read(tick_fd_, &expiries, sizeof expiries) != sizeof expiries) return;
  gui_ticker::Tick();
  // What the tick queued (the displays' pump) runs in this same wake-up.
  OnWake();
}

void QtMainLoop::NotifyGui() {
  // Unless a nested event loop has begun since the drain did.
  if (IsGuiThread() && draining_level_ == QThread::currentThread()->loopLevel()) return;
  const uint64_t one = 1;
  // A full counter already means a wake-up is pending.
  [[maybe_unused]] const ssize_t n = write(wake_fd_, &one, sizeof one);
}

void QtMainLoop::OnWake() {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = read(wake_fd_, &count, sizeof count);
  const int outer = std::exchange(draining_level_, QThread::currentThread()->loopLevel());
  ProcessPending();  // runs each call inside a catch: nothing escapes it
  draining_level_ = outer;
}

void QtMainLoop::ProcessPlatformEvents() { QCoreApplication::processEvents(); }

}  // namespace pmx

namespace pmx {

bool QtMainLoop::InsideHandler() const {
  return MainLoop::InsideHandler() || QThread::currentThread()->loopLevel() > 0;
}

}  // namespace pmx
