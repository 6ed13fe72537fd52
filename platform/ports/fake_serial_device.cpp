#include "platform/ports/fake_serial_device.h"

#include <sys/ioctl.h>

#include <cerrno>

namespace pmx {

void FakeSerialDevice::SetInputLines(int bits) {
  std::lock_guard lock(mutex_);
  const int changed = bits ^ input_bits_;
  if (changed & TIOCM_CTS) ++counters_.cts;
  if (changed & TIOCM_DSR) ++counters_.dsr;
  if (changed & TIOCM_RI) ++counters_.rng;
  if (changed & TIOCM_CD) ++counters_.dcd;
  input_bits_ = bits;
  ChangedLocked();
}

void FakeSerialDevice::Receive(const std::vector<std::uint8_t>& bytes) {
  std::lock_guard lock(mutex_);
  input_.insert(input_.end(), bytes.begin(), bytes.end());
  ChangedLocked();
}

void FakeSerialDevice::AddFrameErrors(std::uint32_t count) {
  std::lock_guard lock(mutex_);
  counters_.frame += count;
  ChangedLocked();
}

void FakeSerialDevice::AddBreaks(std::uint32_t count) {
  std::lock_guard lock(mutex_);
  counters_.brk += count;
  ChangedLocked();
}

void FakeSerialDevice::Fail(Op op, int error) {
  std::lock_guard lock(mutex_);
  failures_[op] = error;
}

void FakeSerialDevice::SetOpenError(int error) {
  std::lock_guard lock(mutex_);
  open_error_ = error;
}

std::vector<std::pair<int, bool>> FakeSerialDevice::LineHistory() const {
  std::lock_guard lock(mutex_);
  return history_;
}

int FakeSerialDevice::OutputLines() const {
  std::lock_guard lock(mutex_);
  return output_bits_;
}

bool FakeSerialDevice::BreakOn() const {
  std::lock_guard lock(mutex_);
  return break_on_;
}

SerialSettings FakeSerialDevice::Settings() const {
  std::lock_guard lock(mutex_);
  return settings_;
}

int FakeSerialDevice::Opens() const {
  std::lock_guard lock(mutex_);
  return opens_;
}

SerialOpener FakeSerialDevice::Opener() {
  std::weak_ptr<FakeSerialDevice> weak = weak_from_this();
  return [weak](const std::string&, int& error) -> std::unique_ptr<SerialDevice> {
    const std::shared_ptr<FakeSerialDevice> self = weak.lock();
    if (!self) {
      error = ENOENT;
      return nullptr;
    }
    {
      std::lock_guard lock(self->mutex_);
      error = self->open_error_;
      if (error != 0) return nullptr;
      ++self->opens_;
    }
    return std::make_unique<SerialDevice>(self);
  };
}

int FakeSerialDevice::CheckSettings() {
  std::lock_guard lock(mutex_);
  return FailureLocked(Op::kCheckSettings);
}

int FakeSerialDevice::ApplySettings(const SerialSettings& settings) {
  std::lock_guard lock(mutex_);
  if (int error = FailureLocked(Op::kApplySettings)) return error;
  settings_ = settings;
  return 0;
}

int FakeSerialDevice::ModemBits(int& bits) {
  std::lock_guard lock(mutex_);
  if (int error = FailureLocked(Op::kModemBits)) return error;
  bits = input_bits_ | output_bits_;
  sampled_ = generation_;
  return 0;
}

int FakeSerialDevice::SetModemBit(int bit, bool on) {
  std::lock_guard lock(mutex_);
  if (int error = FailureLocked(Op::kSetModemBit)) return error;
  output_bits_ = on ? (output_bits_ | bit) : (output_bits_ & ~bit);
  history_.emplace_back(bit, on);
  return 0;
}

int FakeSerialDevice::SetBreak(bool on) {
  std::lock_guard lock(mutex_);
  break_on_ = on;
  return 0;
}

int FakeSerialDevice::Counters(SerialCounters& counters) {
  std::lock_guard lock(mutex_);
  if (int error = FailureLocked(Op::kCounters)) return error;
  counters = counters_;
  return 0;
}

int FakeSerialDevice::ReadAvailable(std::uint8_t* data, std::size_t max, std::size_t& got) {
  std::lock_guard lock(mutex_);
  got = 0;
  if (int error = FailureLocked(Op::kRead)) return error;
  for (; got < max && !input_.empty(); ++got) {
    data[got] = input_.front();
    input_.pop_front();
  }
  return 0;
}

int FakeSerialDevice::OutQueue(std::uint32_t& bytes) {
  bytes = 0;
  return 0;
}

int FakeSerialDevice::Flush() {
  std::lock_guard lock(mutex_);
  input_.clear();
  return 0;
}

int FakeSerialDevice::Wait(bool want_input, std::chrono::milliseconds timeout) {
  (void)want_input;
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] { return interrupted_ || generation_ != sampled_; });
  interrupted_ = false;
  return 0;
}

void FakeSerialDevice::Interrupt() {
  {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
  }
  changed_.notify_all();
}

int FakeSerialDevice::FailureLocked(Op op) const {
  const auto it = failures_.find(op);
  return it == failures_.end() ? 0 : it->second;
}

void FakeSerialDevice::ChangedLocked() {
  ++generation_;
  changed_.notify_all();
}

}  // namespace pmx
