#pragma once

#include <atomic>
#include <bitset>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "audio/core/objects/component.h"
#include "audio/core/objects/thread.h"
#include "platform/ports/serial_device.h"

namespace pmx {

class TSerialPort;

using TNotifyErrorEvent = std::function<void(TObject* sender, std::uint32_t place, std::uint32_t code,
                                             const std::string& msg, std::uint8_t noise)>;

enum TComStateFlag { fCtlHold, fDsrHold, fRlsHold, fXoffHold, fXOffSent, fEof, fTxim };
using TComStateFlags = std::bitset<7>;

// One block of received bytes with the line errors at the time it was read.
class TSerialCluster : public TObject {
 public:
  TSerialCluster(std::vector<std::uint8_t> data, std::uint32_t error)
      : data_(std::move(data)), error_(error) {}
  const std::uint8_t* Data() const { return data_.empty() ? nullptr : data_.data(); }
  std::uint32_t Size() const { return static_cast<std::uint32_t>(data_.size()); }
  std::uint32_t Error() const { return error_; }

 private:
  std::vector<std::uint8_t> data_;
  std::uint32_t error_;
};

// The port's worker: watches the lines and the queues, reads clusters and hands
// every event to the GUI thread.
//
// Threads: Execute and last_read_ belong to the worker; what it shares with the
// GUI thread lives in the port (see there).
class TWorkThread : public TThread {
 public:
  explicit TWorkThread(TSerialPort& port) : TThread("pmx-serial"), port_(port) {}
  ~TWorkThread() override;

 protected:
  void Execute() override;

 private:
  using Clock = std::chrono::steady_clock;
  void Turn(SerialDevice& device);
  void CheckModemAndLine(SerialDevice& device);
  void CheckLine(SerialDevice& device);
  void TryRead(SerialDevice& device);
  bool ReadDue(std::uint32_t queued) const;

  TSerialPort& port_;
  Clock::time_point last_read_ = Clock::now();
};

// A serial port with its settings, modem lines and a worker that reports what
// happens on the line.
//
// Threads: properties, events and Active belong to the GUI thread. The worker
// writes the line state (ModemState and the states read from it, CommError,
// CommStateFlags, the queue counts, CommEvent, WrittenBytes) and clears
// ReadRequest; those are atomics, as are the flags both sides read (active,
// busy, destroying, quiet mode) and the read timing the worker uses. The open
// device is shared: the GUI thread opens and drops it under device_mutex_, the
// worker holds its own reference for one turn. The cluster list is guarded by
// clusters_mutex_. Events and error reports of the worker run on the GUI thread
// through MainLoop::Synchronize.
class TSerialPort : public TComponent {
 public:
  static constexpr std::uint32_t kDefaultCharDelay = 1100;
  // Received clusters nobody takes are dropped, oldest first, beyond this much.
  static constexpr std::size_t kMaxQueuedBytes = 1 << 20;

  explicit TSerialPort(TComponent* owner = nullptr);
  ~TSerialPort() override;

  bool Active() const { return active_.load(); }
  void SetActive(bool value);
  int ComHandle() const;
  const std::string& CommPort() const { return comm_port_; }
  void SetCommPort(const std::string& value);
  std::uint32_t BaudRate() const { return baud_rate_; }
  void SetBaudRate(std::uint32_t value);
  std::uint8_t ParityType() const { return parity_type_; }
  void SetParityType(std::uint8_t value) { Store(parity_type_, value); }
  char ParityErrorChar() const { return parity_error_char_; }
  void SetParityErrorChar(char value) { Store(parity_error_char_, value); }
  bool ParityErrorReplacement() const { return parity_error_replacement_; }
  void SetParityErrorReplacement(bool value) { Store(parity_error_replacement_, value); }
  std::uint8_t StopBits() const { return stop_bits_; }
  void SetStopBits(std::uint8_t value) { Store(stop_bits_, value); }
  std::uint8_t DataBits() const { return data_bits_; }
  void SetDataBits(std::uint8_t value) { Store(data_bits_, value); }
  char XONChar() const { return xon_char_; }
  void SetXONChar(char value) { Store(xon_char_, value); }
  char XOFFChar() const { return xoff_char_; }
  void SetXOFFChar(char value) { Store(xoff_char_, value); }
  std::uint8_t XONLimDiv() const { return xon_lim_div_; }
  void SetXONLimDiv(std::uint8_t value);
  std::uint8_t XOFFLimDiv() const { return xoff_lim_div_; }
  void SetXOFFLimDiv(std::uint8_t value);
  std::uint32_t FlowControl() const { return flow_control_; }
  void SetFlowControl(std::uint32_t value) { Store(flow_control_, value); }
  bool StripNullChars() const { return strip_null_chars_; }
  void SetStripNullChars(bool value) { Store(strip_null_chars_, value); }
  char EventChar() const { return event_char_; }
  void SetEventChar(char value) { Store(event_char_, value); }
  std::uint32_t RTOCharDelayTime() const { return rto_char_delay_.load(); }
  void SetRTOCharDelayTime(std::uint32_t value) { rto_char_delay_.store(value); }
  std::uint16_t RTOExtraDelayTime() const { return rto_extra_delay_.load(); }
  void SetRTOExtraDelayTime(std::uint16_t value) { rto_extra_delay_.store(value); }
  std::uint32_t WTOCharDelayTime() const { return wto_char_delay_; }
  void SetWTOCharDelayTime(std::uint32_t value) { Store(wto_char_delay_, value); }
  std::uint16_t WTOExtraDelayTime() const { return wto_extra_delay_; }
  void SetWTOExtraDelayTime(std::uint16_t value) { Store(wto_extra_delay_, value); }
  bool XTOAuto() const { return xto_auto_; }
  void SetXTOAuto(bool value);
  std::uint16_t ClusterSize() const { return cluster_size_.load(); }
  void SetClusterSize(std::uint16_t value) { cluster_size_.store(value); }
  std::uint16_t RxQueueSize() const { return rx_queue_size_; }
  void SetRxQueueSize(std::uint16_t value);
  std::uint16_t TxQueueSize() const { return tx_queue_size_; }
  void SetTxQueueSize(std::uint16_t value);
  bool RTSState() const { return rts_state_; }
  void SetRTSState(bool value);
  bool DTRState() const { return dtr_state_; }
  void SetDTRState(bool value);
  bool BREAKState() const { return break_state_; }
  void SetBREAKState(bool value);
  bool CTSState() const { return ModemState() & modem_status::kCtsOn; }
  bool DSRState() const { return ModemState() & modem_status::kDsrOn; }
  bool RingState() const { return ModemState() & modem_status::kRingOn; }
  bool RLSDState() const { return ModemState() & modem_status::kRlsdOn; }
  std::uint8_t ErrorNoise() const { return error_noise_; }
  void SetErrorNoise(std::uint8_t value) { error_noise_ = value; }
  bool ReadRequest() const { return read_request_.load(); }
  void SetReadRequest(bool value) { read_request_.store(value); }
  // Nothing here starts a write, so these stay false and 0.
  bool SendInProgress() const { return false; }
  std::uint32_t WrittenBytes() const { return 0; }
  std::uint32_t CommError() const { return comm_error_.load(); }
  TComStateFlags CommStateFlags() const { return TComStateFlags(comm_state_flags_.load()); }
  std::uint32_t CommStateInQueue() const { return in_queue_.load(); }
  std::uint32_t CommStateOutQueue() const { return out_queue_.load(); }
  std::uint32_t ModemState() const { return modem_state_.load(); }
  std::uint32_t CommEvent() const { return comm_event_.load(); }
  bool ThreadQuietMode() const { return quiet_.load(); }
  void SetThreadQuietMode(bool value) { quiet_.store(value); }
  bool AutoReadRequest() const { return auto_read_request_; }
  void SetAutoReadRequest(bool value) { auto_read_request_ = value; }

  // Received clusters, oldest first; any thread.
  std::size_t ClusterCount() const;
  std::unique_ptr<TSerialCluster> TakeCluster();

  // How ports are opened; tests open a fake line.
  void SetOpener(SerialOpener opener) { opener_ = std::move(opener); }

  TNotifyEvent OnCommEvent, OnCommStat, OnTxQueueEmptyEvent, OnWriteDone, OnBreakEvent,
      OnCTSEvent, OnDSREvent, OnLineErrorEvent, OnRingEvent, OnRIEvent, OnRLSDEvent,
      OnRxClusterEvent, OnRxCharEvent, OnRxEventCharEvent;
  TNotifyErrorEvent OnProcessError;

 private:
  friend class TWorkThread;

  template <typename T>
  void Store(T& field, T value) {
    field = value;
    ReapplySettings();
  }
  void Deactivate();
  void Activate();
  void ReapplySettings();
  void ApplySettings(SerialDevice& device);
  void SetLimDiv(std::uint8_t& field, std::uint8_t value, const char* warning);
  void SetQueueSizes(std::uint32_t place);
  void SetLine(SerialLine line, bool value, bool& field, std::uint32_t place, const char* set_text,
               const char* clear_text);
  void ComputeCharDelays();
  std::shared_ptr<SerialDevice> Device() const;
  bool WaitWhileBusy(int turns);

  // Error reports and events; from the worker they go to the GUI thread.
  void ProcessError(std::uint32_t place, std::uint32_t code, std::uint8_t noise, const std::string& msg);
  void Report(std::uint32_t place, std::uint32_t code, std::uint8_t noise, const std::string& msg);
  void Fire(TNotifyEvent TSerialPort::*event);
  void DeliverEvents(std::uint32_t mask);
  void DeliverCluster(std::vector<std::uint8_t> data);
  void RunOnGui(std::function<void()> fn);
  // Sleeps until the port's activity differs from while_active, the worker is
  // asked to end, or the time (if any) is up. Every change of the activity and
  // the end wake the worker, so a closed port's worker sleeps without a limit.
  void IdleWait(std::optional<std::chrono::milliseconds> timeout, bool while_active);
  void WakeWorker();

  std::string comm_port_ = "COM2";
  std::uint32_t baud_rate_ = 9600;
  std::uint8_t parity_type_ = 0;
  char parity_error_char_ = 0;
  bool parity_error_replacement_ = false;
  std::uint8_t stop_bits_ = 0;
  std::uint8_t data_bits_ = 8;
  char xon_char_ = 17;
  char xoff_char_ = 19;
  std::uint8_t xon_lim_div_ = 33;
  std::uint8_t xoff_lim_div_ = 33;
  std::uint32_t flow_control_ = 0;
  bool strip_null_chars_ = false;
  char event_char_ = 0;
  std::uint32_t wto_char_delay_ = kDefaultCharDelay;
  std::uint16_t wto_extra_delay_ = 250;
  bool xto_auto_ = true;
  std::uint16_t rx_queue_size_ = 4096;
  std::uint16_t tx_queue_size_ = 4096;
  bool rts_state_ = true;
  bool dtr_state_ = true;
  bool break_state_ = false;
  std::uint8_t error_noise_ = 255;
  bool auto_read_request_ = false;
  SerialOpener opener_ = OpenSerialDevice;

  std::atomic<std::uint32_t> rto_char_delay_{kDefaultCharDelay};
  std::atomic<std::uint16_t> rto_extra_delay_{250};
  std::atomic<std::uint16_t> cluster_size_{3072};
  std::atomic<bool> read_request_{false};
  std::atomic<bool> quiet_{false};
  std::atomic<bool> active_{false};
  std::atomic<bool> destroying_{false};
  std::atomic<bool> busy_{false};
  std::atomic<std::uint32_t> modem_state_{0};
  std::atomic<std::uint32_t> comm_error_{0};
  std::atomic<std::uint32_t> comm_state_flags_{0};
  std::atomic<std::uint32_t> in_queue_{0};
  std::atomic<std::uint32_t> out_queue_{0};
  std::atomic<std::uint32_t> comm_event_{0};

  mutable std::mutex device_mutex_;
  std::shared_ptr<SerialDevice> device_;
  mutable std::mutex clusters_mutex_;
  std::deque<std::unique_ptr<TSerialCluster>> clusters_;
  std::size_t queued_bytes_ = 0;
  std::mutex wake_mutex_;
  std::condition_variable wake_;
  std::unique_ptr<TWorkThread> worker_;
};

}  // namespace pmx
