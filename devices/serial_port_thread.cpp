#include "devices/serial_port.h"

namespace pmx {
namespace {

constexpr std::chrono::milliseconds kTurn{75};
constexpr std::uint32_t kReceiveErrors =
    line_error::kRxOver | line_error::kOverrun | line_error::kRxParity | line_error::kFrame | line_error::kBreak;

}  // namespace

TWorkThread::~TWorkThread() { WaitFor(); }

void TWorkThread::Execute() {
  bool active = false;
  while (!Terminated() || active) {
    active = port_.active_.load();
    if (!active) {
      port_.busy_.store(false);
      port_.IdleWait(std::nullopt, false);  // a service without a remote line never wakes here
      continue;
    }
    port_.busy_.store(true);
    // Held for this turn only, so that a closed port is released before the
    // worker says it is idle.
    if (const std::shared_ptr<SerialDevice> device = port_.Device()) Turn(*device);
    active = port_.active_.load();
  }
  port_.busy_.store(false);
}

void TWorkThread::Turn(SerialDevice& device) {
  if (port_.active_.load()) CheckModemAndLine(device);
  if (port_.active_.load()) TryRead(device);
  if (!port_.active_.load()) return;
  std::uint32_t mask = 0;
  if (int error = device.WaitEvent(mask, kTurn)) {
    port_.ProcessError(9907, error, 0, "Error calling WaitCommEvent");
    // A line that keeps failing must not spin the worker.
    port_.IdleWait(kTurn, true);
    return;
  }
  if (!port_.active_.load()) return;
  CheckModemAndLine(device);
  if (mask != 0 && port_.active_.load()) port_.DeliverEvents(mask);
}

void TWorkThread::CheckModemAndLine(SerialDevice& device) {
  std::uint32_t status = 0;
  if (int error = device.ModemStatus(status)) {
    port_.ProcessError(9905, error, 0, "Error getting ModemStatus");
  } else {
    const std::uint32_t old = port_.modem_state_.exchange(status);
    if ((old ^ status) & modem_status::kRingOn) port_.Fire(&TSerialPort::OnRIEvent);
  }
  CheckLine(device);
}

void TWorkThread::CheckLine(SerialDevice& device) {
  for (;;) {
    SerialLineStatus line;
    if (int error = device.ClearError(line)) {
      port_.ProcessError(9803, error, 0, "Error ClearCommError");
      return;
    }
    if (line.errors == port_.comm_error_.load() && line.state_flags == port_.comm_state_flags_.load() &&
        line.in_queue == port_.in_queue_.load() && line.out_queue == port_.out_queue_.load()) {
      return;
    }
    port_.comm_error_.store(line.errors);
    port_.comm_state_flags_.store(line.state_flags);
    port_.in_queue_.store(line.in_queue);
    port_.out_queue_.store(line.out_queue);
    port_.Fire(&TSerialPort::OnCommStat);
  }
}

void TWorkThread::TryRead(SerialDevice& device) {
  const std::uint32_t queued = port_.in_queue_.load();
  if (queued == 0) {
    last_read_ = Clock::now();
    return;
  }
  if (!ReadDue(queued)) return;
  std::vector<std::uint8_t> data;
  const int error = device.Read(data, queued);
  port_.read_request_.store(false);
  if (error) {
    port_.ProcessError(9804, error, 0, "Error reading Data");
    return;
  }
  port_.DeliverCluster(std::move(data));
  last_read_ = Clock::now();
}

bool TWorkThread::ReadDue(std::uint32_t queued) const {
  if (port_.read_request_.load() || queued >= port_.cluster_size_.load()) return true;
  if (port_.comm_error_.load() & kReceiveErrors) return true;
  const auto quiet_for = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - last_read_);
  const std::uint64_t limit_ms =
      std::uint64_t{queued} * port_.rto_char_delay_.load() / 1000 + port_.rto_extra_delay_.load();
  return static_cast<std::uint64_t>(quiet_for.count()) > limit_ms;
}

}  // namespace pmx
