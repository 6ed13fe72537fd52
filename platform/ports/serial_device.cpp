#include "platform/ports/serial_device.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace pmx {
namespace {

std::uint32_t ModemWord(int bits) {
  std::uint32_t status = 0;
  if (bits & TIOCM_CTS) status |= modem_status::kCtsOn;
  if (bits & TIOCM_DSR) status |= modem_status::kDsrOn;
  if (bits & TIOCM_RI) status |= modem_status::kRingOn;
  if (bits & TIOCM_CD) status |= modem_status::kRlsdOn;
  return status;
}

// A counter that moved since the last look raises its event (and error flag).
struct CounterRule {
  std::uint32_t SerialCounters::*counter;
  std::uint32_t event;
  std::uint32_t error;
};

constexpr CounterRule kLineCounters[] = {
    {&SerialCounters::cts, comm_event::kCts, 0},
    {&SerialCounters::dsr, comm_event::kDsr, 0},
    {&SerialCounters::dcd, comm_event::kRlsd, 0},
    {&SerialCounters::rng, comm_event::kRing, 0},
};

constexpr CounterRule kErrorCounters[] = {
    {&SerialCounters::frame, comm_event::kErr, line_error::kFrame},
    {&SerialCounters::overrun, comm_event::kErr, line_error::kOverrun},
    {&SerialCounters::parity, comm_event::kErr, line_error::kRxParity},
    {&SerialCounters::buf_overrun, comm_event::kErr, line_error::kRxOver},
    {&SerialCounters::brk, comm_event::kBreak, line_error::kBreak},
};

}  // namespace

SerialDevice::SerialDevice(std::shared_ptr<SerialBackend> backend)
    : backend_(std::move(backend)), counted_lines_(backend_->HasCounters()) {
  // What the lines and counters say at the start is the base, not an event.
  backend_->ModemBits(last_bits_);
  backend_->Counters(last_counters_);
}

int SerialDevice::SetQueueSizes(std::uint32_t rx, std::uint32_t tx) {
  (void)tx;  // the kernel keeps the output queue
  std::lock_guard lock(mutex_);
  rx_size_ = std::max<std::uint32_t>(rx, 1);
  return 0;
}

int SerialDevice::GetSettings(SerialSettings& settings) {
  std::lock_guard lock(mutex_);
  if (int error = backend_->CheckSettings()) return error;
  settings = settings_;
  return 0;
}

int SerialDevice::SetSettings(const SerialSettings& settings) {
  std::lock_guard lock(mutex_);
  if (int error = backend_->ApplySettings(settings)) return error;
  settings_ = settings;
  mark_state_ = 0;
  return 0;
}

int SerialDevice::SetLine(SerialLine line, bool on) {
  std::lock_guard lock(mutex_);
  switch (line) {
    case SerialLine::kRts:
      return backend_->SetModemBit(TIOCM_RTS, on);
    case SerialLine::kDtr:
      return backend_->SetModemBit(TIOCM_DTR, on);
    case SerialLine::kBreak:
      return backend_->SetBreak(on);
  }
  return EINVAL;
}

int SerialDevice::ModemStatus(std::uint32_t& status) {
  std::lock_guard lock(mutex_);
  if (int error = SampleModemLocked()) return error;
  status = ModemWord(last_bits_);
  return 0;
}

int SerialDevice::ClearError(SerialLineStatus& status) {
  std::lock_guard lock(mutex_);
  if (int error = SampleLocked()) return error;
  status.errors = std::exchange(pending_errors_, 0);
  status.state_flags = 0;  // the kernel does not tell why output holds
  status.in_queue = static_cast<std::uint32_t>(input_.size());
  return backend_->OutQueue(status.out_queue);
}

int SerialDevice::SetEventMask(std::uint32_t mask) {
  std::lock_guard lock(mutex_);
  mask_ = mask;
  pending_events_ = 0;
  if (mask == 0) backend_->Interrupt();
  return 0;
}

int SerialDevice::WaitEvent(std::uint32_t& mask, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  mask = 0;
  if (int error = SampleLocked()) return error;
  if ((pending_events_ & mask_) == 0) {
    const bool want_input = input_.size() < rx_size_;
    lock.unlock();
    if (int error = backend_->Wait(want_input, timeout)) return error;
    lock.lock();
    if (int error = SampleLocked()) return error;
  }
  mask = pending_events_ & mask_;
  pending_events_ = 0;
  return 0;
}

int SerialDevice::Read(std::vector<std::uint8_t>& data, std::size_t n) {
  std::lock_guard lock(mutex_);
  if (int error = PullInputLocked()) return error;
  n = std::min(n, input_.size());
  data.assign(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
  input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
  return 0;
}

int SerialDevice::Purge() {
  std::lock_guard lock(mutex_);
  input_.clear();
  pending_events_ = 0;
  mark_state_ = 0;
  backend_->Interrupt();
  return backend_->Flush();
}

int SerialDevice::SampleLocked() {
  if (int error = SampleModemLocked()) return error;
  if (int error = SampleCountersLocked()) return error;
  if (int error = PullInputLocked()) return error;
  std::uint32_t out = 0;
  if (int error = backend_->OutQueue(out)) return error;
  if (output_busy_ && out == 0) pending_events_ |= comm_event::kTxEmpty;
  output_busy_ = out != 0;
  return 0;
}

int SerialDevice::SampleModemLocked() {
  int bits = 0;
  if (int error = backend_->ModemBits(bits)) return error;
  const int changed = counted_lines_ ? 0 : bits ^ last_bits_;
  if (changed & TIOCM_CTS) pending_events_ |= comm_event::kCts;
  if (changed & TIOCM_DSR) pending_events_ |= comm_event::kDsr;
  if (changed & TIOCM_CD) pending_events_ |= comm_event::kRlsd;
  if (changed & TIOCM_RI) pending_events_ |= comm_event::kRing;
  last_bits_ = bits;
  return 0;
}

int SerialDevice::SampleCountersLocked() {
  SerialCounters counters;
  if (int error = backend_->Counters(counters)) return error;
  auto apply = [&](const CounterRule& rule) {
    if (counters.*rule.counter == last_counters_.*rule.counter) return;
    pending_events_ |= rule.event;
    pending_errors_ |= rule.error;
  };
  if (counted_lines_) std::for_each(std::begin(kLineCounters), std::end(kLineCounters), apply);
  std::for_each(std::begin(kErrorCounters), std::end(kErrorCounters), apply);
  last_counters_ = counters;
  return 0;
}

int SerialDevice::PullInputLocked() {
  if (input_.size() >= rx_size_) return 0;  // the kernel holds the rest
  std::vector<std::uint8_t> chunk(rx_size_ - input_.size());
  std::size_t got = 0;
  if (int error = backend_->ReadAvailable(chunk.data(), chunk.size(), got)) return error;
  const bool strip_null = settings_.flags & serial_flag::kNull;
  const bool marked = settings_.MarksErrors();
  bool any = false;
  for (std::size_t i = 0; i < got; ++i) {
    std::uint8_t byte = chunk[i];
    if (marked && !UnmarkLocked(byte)) continue;
    if (strip_null && byte == 0) continue;
    if (byte == static_cast<std::uint8_t>(settings_.event_char)) pending_events_ |= comm_event::kRxFlag;
    input_.push_back(byte);
    any = true;
  }
  if (any) pending_events_ |= comm_event::kRxChar;
  return 0;
}

bool SerialDevice::UnmarkLocked(std::uint8_t& byte) {
  switch (mark_state_) {
    case 0:
      mark_state_ = byte == 0xFF ? 1 : 0;
      return mark_state_ == 0;
    case 1:
      mark_state_ = byte == 0x00 ? 2 : 0;
      return mark_state_ == 0;  // FF FF stands for one FF
    default:
      mark_state_ = 0;
      byte = static_cast<std::uint8_t>(settings_.error_char);
      return true;
  }
}

std::string SerialDevicePath(const std::string& name) {
  if (!name.empty() && name.front() == '/') return name;
  if (name.size() > 3 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "com") == 0) &&
      std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    const std::string digits = name.substr(3);
    if (const char* path = std::getenv(("PELMORAX_COM" + digits).c_str()); path && *path) return path;
    const long number = std::strtol(digits.c_str(), nullptr, 10);
    if (number >= 1) return "/dev/ttyS" + std::to_string(number - 1);
  }
  return "/dev/" + name;
}

}  // namespace pmx
