#include "devices/serial_port.h"

#include <cerrno>

#include "platform/gui_sync.h"
#include "platform/exception.h"
#include "platform/main_loop.h"

namespace pmx {
namespace {

constexpr std::chrono::milliseconds kTurn{75};
constexpr std::uint32_t kAllEvents = 0x1FF;

// Microseconds one character takes, from the lowest rate up: the last row whose
// rate the baud rate reaches wins.
constexpr struct {
  std::uint32_t baud;
  std::uint32_t micros;
} kCharDelays[] = {{110, 100000}, {300, 37000},  {600, 18000},  {1200, 9000},  {2400, 4500},
                   {4800, 2300},  {9600, 1100},  {14400, 760},  {19200, 570},  {38400, 290},
                   {56000, 200},  {57600, 190},  {115200, 95},  {128000, 85},  {256000, 43}};

}  // namespace

TSerialPort::TSerialPort(TComponent* owner) : TComponent(owner) {
  worker_ = std::make_unique<TWorkThread>(*this);
  if (!worker_->Start()) throw Exception("Could not create thread");
}

TSerialPort::~TSerialPort() {
  destroying_.store(true);
  MarkDestroying();
  SetActive(false);
  worker_->Terminate();
  WakeWorker();
  WaitWhileBusy(10);
  worker_->WaitFor();
}

void TSerialPort::SetActive(bool value) {
  if (active_.load()) Deactivate();
  if (value) Activate();
}

void TSerialPort::Deactivate() {
  ProcessError(100, 0, 2, "Msg start deactivating Port");
  const std::shared_ptr<SerialDevice> device = Device();
  if (!device) return;
  if (int error = device->SetEventMask(0)) ProcessError(101, error, 0, "Error disabling CommEvents");
  active_.store(false);
  if (int error = device->Purge()) ProcessError(102, error, 0, "Error clearing Queues");
  if (!WaitWhileBusy(15)) ProcessError(104, 0, 1, "Warning ThreadIsRunning");
  std::lock_guard lock(device_mutex_);
  // A worker still in its turn keeps its own reference; the line closes after it.
  device_.reset();
}

void TSerialPort::Activate() {
  ProcessError(110, 0, 2, "Msg start reactivating Port");
  int error = 0;
  std::shared_ptr<SerialDevice> device = opener_(comm_port_.substr(0, 79), error);
  if (!device) {
    ProcessError(112, static_cast<std::uint32_t>(error), 0, "Error reopening Port");
    return;
  }
  {
    std::lock_guard lock(device_mutex_);
    device_ = device;
  }
  active_.store(true);
  if (int e = device->SetQueueSizes(rx_queue_size_, tx_queue_size_)) ProcessError(111, e, 0, "Error setup Queuesize");
  ApplySettings(*device);
  SetDTRState(true);
  SetRTSState(true);
  if (int e = device->SetEventMask(kAllEvents)) ProcessError(201, e, 0, "Error activating CommEventMask");
  WakeWorker();
}

int TSerialPort::ComHandle() const {
  const std::shared_ptr<SerialDevice> device = Device();
  return device ? device->Handle() : -1;
}

void TSerialPort::SetCommPort(const std::string& value) {
  if (value == comm_port_) return;
  const bool was_active = active_.load();
  comm_port_ = value;
  if (was_active) {
    SetActive(false);
    SetActive(true);
  }
}

void TSerialPort::SetBaudRate(std::uint32_t value) {
  baud_rate_ = value;
  if (xto_auto_) ComputeCharDelays();
  ReapplySettings();
}

void TSerialPort::SetXTOAuto(bool value) {
  xto_auto_ = value;
  if (value) ComputeCharDelays();
}

void TSerialPort::ComputeCharDelays() {
  std::uint32_t delay = kDefaultCharDelay;
  for (const auto& row : kCharDelays) {
    if (baud_rate_ >= row.baud) delay = row.micros;
  }
  rto_char_delay_.store(delay);
  wto_char_delay_ = delay;
}

void TSerialPort::SetXONLimDiv(std::uint8_t value) { SetLimDiv(xon_lim_div_, value, "Warning XOnLimDef set to 100"); }

void TSerialPort::SetXOFFLimDiv(std::uint8_t value) {
  SetLimDiv(xoff_lim_div_, value, "Warning XOffLimDef set to 100");
}

void TSerialPort::SetLimDiv(std::uint8_t& field, std::uint8_t value, const char* warning) {
  if (value > 100) {
    ProcessError(100, value, 1, warning);
    value = 100;
  }
  Store(field, value);
}

void TSerialPort::SetRxQueueSize(std::uint16_t value) {
  rx_queue_size_ = value;
  SetQueueSizes(101);
}

void TSerialPort::SetTxQueueSize(std::uint16_t value) {
  tx_queue_size_ = value;
  SetQueueSizes(102);
}

void TSerialPort::SetQueueSizes(std::uint32_t place) {
  const std::shared_ptr<SerialDevice> device = Device();
  const int error = device ? device->SetQueueSizes(rx_queue_size_, tx_queue_size_) : EBADF;
  if (error) ProcessError(place, error, 0, "Error can not set Quesize");
}

void TSerialPort::SetRTSState(bool value) {
  SetLine(SerialLine::kRts, value, rts_state_, 500, "Error setting RTS", "Error clearing RTS");
}

void TSerialPort::SetDTRState(bool value) {
  SetLine(SerialLine::kDtr, value, dtr_state_, 600, "Error setting DTR", "Error clearing DTR");
}

void TSerialPort::SetBREAKState(bool value) {
  SetLine(SerialLine::kBreak, value, break_state_, 700, "Error setting BREAK State",
          "Error clearing BREAK State");
}

void TSerialPort::SetLine(SerialLine line, bool value, bool& field, std::uint32_t place,
                          const char* set_text, const char* clear_text) {
  const std::shared_ptr<SerialDevice> device = Device();
  if (!active_.load() || !device) return;
  if (int error = device->SetLine(line, value)) {
    ProcessError(place + (value ? 1 : 2), error, 0, value ? set_text : clear_text);
  }
  field = value;
}

void TSerialPort::ReapplySettings() {
  const std::shared_ptr<SerialDevice> device = Device();
  if (active_.load() && device) ApplySettings(*device);
}

void TSerialPort::ApplySettings(SerialDevice& device) {
  SerialSettings s;
  if (int error = device.GetSettings(s)) {
    ProcessError(801, error, 0, "Error getting DCB from CommState");
    return;
  }
  s.baud_rate = baud_rate_;
  s.flags = serial_flag::kBinary | flow_control_;
  if (parity_type_ != 0) s.flags |= serial_flag::kParity;
  if (parity_error_replacement_) s.flags |= serial_flag::kErrorChar;
  if (strip_null_chars_) s.flags |= serial_flag::kNull;
  s.parity = parity_type_;
  s.stop_bits = stop_bits_;
  s.data_bits = data_bits_;
  s.xon_char = xon_char_;
  s.xoff_char = xoff_char_;
  s.error_char = parity_error_char_;
  s.event_char = event_char_;
  s.xon_limit = rx_queue_size_ * xon_lim_div_ / 100u;
  s.xoff_limit = rx_queue_size_ * xoff_lim_div_ / 100u;
  if (int error = device.SetSettings(s)) {
    ProcessError(802, error, 0, "Error setting CommState, 87 indicate that Parms are incorrect");
  }
}

std::shared_ptr<SerialDevice> TSerialPort::Device() const {
  std::lock_guard lock(device_mutex_);
  return device_;
}

bool TSerialPort::WaitWhileBusy(int turns) {
  return MainLoop::Instance().PumpUntil([this] { return !busy_.load(); }, turns * kTurn);
}

std::size_t TSerialPort::ClusterCount() const {
  std::lock_guard lock(clusters_mutex_);
  return clusters_.size();
}

std::unique_ptr<TSerialCluster> TSerialPort::TakeCluster() {
  std::lock_guard lock(clusters_mutex_);
  if (clusters_.empty()) return nullptr;
  std::unique_ptr<TSerialCluster> cluster = std::move(clusters_.front());
  clusters_.pop_front();
  queued_bytes_ -= cluster->Size();
  return cluster;
}

void TSerialPort::ProcessError(std::uint32_t place, std::uint32_t code, std::uint8_t noise,
                               const std::string& msg) {
  if (worker_ && worker_->IsCurrent()) {
    RunOnGui([=, this] { Report(place, code, noise, msg); });
  } else {
    Report(place, code, noise, msg);
  }
}

void TSerialPort::Report(std::uint32_t place, std::uint32_t code, std::uint8_t noise, const std::string& msg) {
  if (destroying_.load() || error_noise_ < noise || !OnProcessError) return;
  OnProcessError(this, place, code, msg, noise);
}

void TSerialPort::Fire(TNotifyEvent TSerialPort::*event) {
  RunOnGui([this, event] {
    if (this->*event) (this->*event)(this);
  });
}

void TSerialPort::DeliverEvents(std::uint32_t mask) {
  if (destroying_.load()) return;
  comm_event_.store(mask);
  static constexpr struct {
    std::uint32_t bit;
    TNotifyEvent TSerialPort::*event;
  } kOrder[] = {{comm_event::kBreak, &TSerialPort::OnBreakEvent},
                {comm_event::kCts, &TSerialPort::OnCTSEvent},
                {comm_event::kDsr, &TSerialPort::OnDSREvent},
                {comm_event::kErr, &TSerialPort::OnLineErrorEvent},
                {comm_event::kRing, &TSerialPort::OnRingEvent},
                {comm_event::kRlsd, &TSerialPort::OnRLSDEvent},
                {comm_event::kRxChar, &TSerialPort::OnRxCharEvent},
                {comm_event::kRxFlag, &TSerialPort::OnRxEventCharEvent},
                {comm_event::kTxEmpty, &TSerialPort::OnTxQueueEmptyEvent}};
  RunOnGui([this, mask] {
    for (const auto& entry : kOrder) {
      if ((mask & entry.bit) && this->*entry.event) (this->*entry.event)(this);
    }
    if (mask != 0 && OnCommEvent) OnCommEvent(this);
  });
}

void TSerialPort::DeliverCluster(std::vector<std::uint8_t> data) {
  if (destroying_.load()) return;
  {
    std::lock_guard lock(clusters_mutex_);
    queued_bytes_ += data.size();
    clusters_.push_back(std::make_unique<TSerialCluster>(std::move(data), comm_error_.load()));
    while (queued_bytes_ > kMaxQueuedBytes && clusters_.size() > 1) {
      queued_bytes_ -= clusters_.front()->Size();
      clusters_.pop_front();
    }
  }
  Fire(&TSerialPort::OnRxClusterEvent);
}

void TSerialPort::RunOnGui(std::function<void()> fn) {
  if (quiet_.load() || destroying_.load()) return;
  SynchronizeFromWorker([this, &fn] {
    if (!destroying_.load()) fn();
  });
}

void TSerialPort::IdleWait(std::optional<std::chrono::milliseconds> timeout, bool while_active) {
  std::unique_lock lock(wake_mutex_);
  const auto woken = [&] { return active_.load() != while_active || worker_->Terminated(); };
  if (timeout) {
    wake_.wait_for(lock, *timeout, woken);
  } else {
    wake_.wait(lock, woken);
  }
}

void TSerialPort::WakeWorker() {
  std::lock_guard lock(wake_mutex_);
  wake_.notify_all();
}

}  // namespace pmx
