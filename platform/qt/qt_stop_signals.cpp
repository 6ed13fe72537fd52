#include "platform/qt/qt_stop_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

namespace pmx {
namespace {

std::atomic<int> g_write_end{-1};

void WriteSignal(int signal) {
  const int saved = errno;
  // Without a pipe (none made yet, or gone) the write fails and nothing happens.
  const unsigned char number = static_cast<unsigned char>(signal);
  // A full pipe already holds a stop that is still to be handled.
  [[maybe_unused]] const ssize_t n = write(g_write_end.load(), &number, 1);
  errno = saved;
}

}  // namespace

QtStopSignals::QtStopSignals(std::function<void(int)> on_signal) : on_signal_(std::move(on_signal)) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
  read_end_ = UniqueFd(fds[0]);
  write_end_ = UniqueFd(fds[1]);
  g_write_end.store(fds[1]);
  notifier_ = std::make_unique<QSocketNotifier>(fds[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { OnReadable(); });
  struct sigaction action {};
  action.sa_handler = WriteSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : kSignals) sigaction(signal, &action, nullptr);
}

// The handler stays, writing nowhere: unlike an ignored signal it is not passed
// on to the programs started later (an encoder must stay stoppable). The pipe
// stays open, so that a handler running just now never writes into a file that
// takes its number.
QtStopSignals::~QtStopSignals() {
  g_write_end.store(-1);
  notifier_.reset();
  static_cast<void>(read_end_.Release());
  static_cast<void>(write_end_.Release());
}

void QtStopSignals::OnReadable() {
  unsigned char number = 0;
  while (read(read_end_.get(), &number, 1) == 1) on_signal_(number);
}

}  // namespace pmx
