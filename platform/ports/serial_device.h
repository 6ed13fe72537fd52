#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct termios;

namespace pmx {

// Communication events a port reports (the event mask).
namespace comm_event {
constexpr std::uint32_t kRxChar = 0x01;
constexpr std::uint32_t kRxFlag = 0x02;  // the event character arrived
constexpr std::uint32_t kTxEmpty = 0x04;
constexpr std::uint32_t kCts = 0x08;
constexpr std::uint32_t kDsr = 0x10;
constexpr std::uint32_t kRlsd = 0x20;
constexpr std::uint32_t kBreak = 0x40;
constexpr std::uint32_t kErr = 0x80;
constexpr std::uint32_t kRing = 0x100;
}  // namespace comm_event

// Bits of the modem status word.
namespace modem_status {
constexpr std::uint32_t kCtsOn = 0x10;
constexpr std::uint32_t kDsrOn = 0x20;
constexpr std::uint32_t kRingOn = 0x40;
constexpr std::uint32_t kRlsdOn = 0x80;
}  // namespace modem_status

// Line-error flags gathered since they were last cleared.
namespace line_error {
constexpr std::uint32_t kRxOver = 0x01;   // our input queue overflowed
constexpr std::uint32_t kOverrun = 0x02;  // the UART lost characters
constexpr std::uint32_t kRxParity = 0x04;
constexpr std::uint32_t kFrame = 0x08;
constexpr std::uint32_t kBreak = 0x10;
}  // namespace line_error

// Bits of SerialSettings::flags; FlowControl values are or-ed into them.
namespace serial_flag {
constexpr std::uint32_t kBinary = 0x0001;
constexpr std::uint32_t kParity = 0x0002;  // check parity on input
constexpr std::uint32_t kOutxCtsFlow = 0x0004;
constexpr std::uint32_t kOutX = 0x0100;  // XON/XOFF on output
constexpr std::uint32_t kInX = 0x0200;   // XON/XOFF on input
constexpr std::uint32_t kErrorChar = 0x0400;
constexpr std::uint32_t kNull = 0x0800;  // drop received NUL bytes
constexpr std::uint32_t kRtsControlMask = 0x3000;
constexpr std::uint32_t kRtsHandshake = 0x2000;
}  // namespace serial_flag

// Line settings of a port. Parity 0..4 = none, odd, even, mark, space; stop bits
// 0..2 = one, one and a half (taken as two), two.
struct SerialSettings {
  std::uint32_t baud_rate = 9600;
  std::uint32_t flags = serial_flag::kBinary;
  std::uint8_t parity = 0;
  std::uint8_t stop_bits = 0;
  std::uint8_t data_bits = 8;
  char xon_char = 17;
  char xoff_char = 19;
  char error_char = 0;
  char event_char = 0;
  std::uint32_t xon_limit = 0;
  std::uint32_t xoff_limit = 0;
  bool operator==(const SerialSettings&) const = default;
  // Characters damaged by a parity error are to become error_char; the tty then
  // marks them (FF 00 x) and doubles a real FF.
  bool MarksErrors() const {
    return (flags & serial_flag::kParity) && (flags & serial_flag::kErrorChar);
  }
};

// Cleared line errors and the queue state at that moment.
struct SerialLineStatus {
  std::uint32_t errors = 0;
  std::uint32_t state_flags = 0;
  std::uint32_t in_queue = 0;
  std::uint32_t out_queue = 0;
};

// Transition counters of the lines and errors, as the kernel keeps them.
struct SerialCounters {
  std::uint32_t cts = 0, dsr = 0, rng = 0, dcd = 0;
  std::uint32_t frame = 0, overrun = 0, parity = 0, brk = 0, buf_overrun = 0;
};

enum class SerialLine { kRts, kDtr, kBreak };

// Raw access to one open port: a tty, or the fake that tests script. Every call
// returns 0 or an errno value. Wait may run on one thread while the others are
// called on another; Interrupt ends a running Wait early.
class SerialBackend {
 public:
  virtual ~SerialBackend() = default;
  virtual int Handle() const = 0;
  virtual int CheckSettings() = 0;
  virtual int ApplySettings(const SerialSettings& settings) = 0;
  // TIOCM_* bits. A port without modem lines reports none and ignores changes.
  virtual int ModemBits(int& bits) = 0;
  virtual int SetModemBit(int bit, bool on) = 0;
  virtual int SetBreak(bool on) = 0;
  // Ports that count transitions let no short pulse go unseen; on the others
  // the lines are compared from one look to the next.
  virtual bool HasCounters() const = 0;
  virtual int Counters(SerialCounters& counters) = 0;
  // Takes up to max received bytes without blocking.
  virtual int ReadAvailable(std::uint8_t* data, std::size_t max, std::size_t& got) = 0;
  virtual int OutQueue(std::uint32_t& bytes) = 0;
  virtual int Flush() = 0;
  // Returns when input may be there (only when want_input), on Interrupt, or at
  // the time-out.
  virtual int Wait(bool want_input, std::chrono::milliseconds timeout) = 0;
  virtual void Interrupt() = 0;
};

// One open communication port with the driver's behaviour built over a backend:
// an input queue of the set size, line errors gathered until cleared, and
// communication events latched until a wait takes them.
//
// Threads: the port's owner sets lines, settings, queue sizes and the event mask
// and purges; its worker reads the status, waits and reads. All state lives
// under mutex_, which is never held across the backend's Wait.
class SerialDevice {
 public:
  explicit SerialDevice(std::shared_ptr<SerialBackend> backend);
  SerialDevice(const SerialDevice&) = delete;
  SerialDevice& operator=(const SerialDevice&) = delete;

  int Handle() const { return backend_->Handle(); }
  int SetQueueSizes(std::uint32_t rx, std::uint32_t tx);
  int GetSettings(SerialSettings& settings);
  int SetSettings(const SerialSettings& settings);
  int SetLine(SerialLine line, bool on);
  int ModemStatus(std::uint32_t& status);
  int ClearError(SerialLineStatus& status);
  // Mask 0 also ends a wait in progress.
  int SetEventMask(std::uint32_t mask);
  // mask receives the latched events of the mask, 0 when none came in time.
  int WaitEvent(std::uint32_t& mask, std::chrono::milliseconds timeout);
  // Takes up to n queued bytes; never waits.
  int Read(std::vector<std::uint8_t>& data, std::size_t n);
  // Drops queued input and output and ends a wait in progress.
  int Purge();

 private:
  int SampleLocked();
  int PullInputLocked();
  // False while byte is part of a mark; a damaged character comes out as the
  // error character.
  bool UnmarkLocked(std::uint8_t& byte);
  int SampleModemLocked();
  int SampleCountersLocked();

  std::shared_ptr<SerialBackend> backend_;
  std::mutex mutex_;
  SerialSettings settings_;
  std::uint32_t rx_size_ = 4096;
  std::vector<std::uint8_t> input_;
  std::uint32_t mask_ = 0;
  std::uint32_t pending_events_ = 0;
  std::uint32_t pending_errors_ = 0;
  int last_bits_ = 0;
  SerialCounters last_counters_;
  const bool counted_lines_;
  bool output_busy_ = false;
  int mark_state_ = 0;  // bytes of an FF 00 x mark seen so far
};

// Where a port name leads: a path is taken as it is; "COMn" is /dev/ttyS(n-1),
// or the path in the environment variable PELMORAX_COMn; any other name is
// looked up in /dev.
std::string SerialDevicePath(const std::string& name);

// Puts settings into a tty's attributes, raw, reads returning at once; EINVAL
// for what a tty cannot do.
int SerialTermios(const SerialSettings& settings, termios& t);

// Opens a port by name for exclusive use; nullptr and error (errno) on failure.
using SerialOpener = std::function<std::unique_ptr<SerialDevice>(const std::string& name, int& error)>;
std::unique_ptr<SerialDevice> OpenSerialDevice(const std::string& name, int& error);

}  // namespace pmx
