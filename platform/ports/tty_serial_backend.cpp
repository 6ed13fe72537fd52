// The serial backend over a real tty: termios for the line settings, modem
// ioctls for the lines and their counters, poll with an eventfd to wait.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/ports/serial_device.h"

namespace pmx {
namespace {

// A pseudo-terminal has no modem lines and no counters: those calls then fail
// with one of these, and the port simply shows no lines.
bool NoModemLines(int error) { return error == ENOTTY || error == EINVAL; }

int ModemIoctlResult(int result) {
  if (result == 0) return 0;
  return NoModemLines(errno) ? 0 : errno;
}

speed_t SpeedOf(std::uint32_t baud) {
  static constexpr struct {
    std::uint32_t baud;
    speed_t speed;
  } kSpeeds[] = {{50, B50},         {75, B75},         {110, B110},       {134, B134},
                 {150, B150},       {200, B200},       {300, B300},       {600, B600},
                 {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
                 {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
                 {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
                 {576000, B576000}, {921600, B921600}, {1000000, B1000000}};
  for (const auto& entry : kSpeeds) {
    if (entry.baud == baud) return entry.speed;
  }
  return B0;
}

}  // namespace

int SerialTermios(const SerialSettings& s, termios& t) {
  const speed_t speed = SpeedOf(s.baud_rate);
  if (speed == B0 || s.data_bits < 5 || s.data_bits > 8 || s.parity > 4 || s.stop_bits > 2) {
    return EINVAL;
  }
  cfmakeraw(&t);
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS)) | CREAD | CLOCAL;
  t.c_cflag |= kSizes[s.data_bits - 5];
  if (s.parity != 0) t.c_cflag |= PARENB;
  if (s.parity == 1 || s.parity == 3) t.c_cflag |= PARODD;
  if (s.parity >= 3) t.c_cflag |= CMSPAR;
  if (s.stop_bits != 0) t.c_cflag |= CSTOPB;
  if ((s.flags & serial_flag::kOutxCtsFlow) ||
      (s.flags & serial_flag::kRtsControlMask) == serial_flag::kRtsHandshake) {
    t.c_cflag |= CRTSCTS;
  }
  t.c_iflag &= ~(IXON | IXOFF | INPCK | IGNPAR | PARMRK);
  if (s.flags & serial_flag::kOutX) t.c_iflag |= IXON;
  if (s.flags & serial_flag::kInX) t.c_iflag |= IXOFF;
  if (s.flags & serial_flag::kParity) t.c_iflag |= INPCK;
  if (s.MarksErrors()) t.c_iflag |= PARMRK;
  t.c_cc[VSTART] = static_cast<cc_t>(s.xon_char);
  t.c_cc[VSTOP] = static_cast<cc_t>(s.xoff_char);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  return 0;
}

namespace {

class TtySerialBackend : public SerialBackend {
 public:
  TtySerialBackend(int fd, int wake_fd) : fd_(fd), wake_fd_(wake_fd) {
    serial_icounter_struct raw{};
    has_counters_ = ioctl(fd_, TIOCGICOUNT, &raw) == 0;
  }
  ~TtySerialBackend() override {
    ioctl(fd_, TIOCNXCL);
    close(fd_);
    close(wake_fd_);
  }

  int Handle() const override { return fd_; }

  int CheckSettings() override {
    termios t{};
    return tcgetattr(fd_, &t) == 0 ? 0 : errno;
  }

  int ApplySettings(const SerialSettings& settings) override {
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return errno;
    if (int error = SerialTermios(settings, t)) return error;
    return tcsetattr(fd_, TCSANOW, &t) == 0 ? 0 : errno;
  }

  int ModemBits(int& bits) override {
    bits = 0;
    return ModemIoctlResult(ioctl(fd_, TIOCMGET, &bits));
  }

  int SetModemBit(int bit, bool on) override {
    return ModemIoctlResult(ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit));
  }

  int SetBreak(bool on) override { return ModemIoctlResult(ioctl(fd_, on ? TIOCSBRK : TIOCCBRK)); }

  bool HasCounters() const override { return has_counters_; }

  int Counters(SerialCounters& counters) override {
    serial_icounter_struct raw{};
    counters = {};
    if (!has_counters_) return 0;
    if (ioctl(fd_, TIOCGICOUNT, &raw) != 0) return errno;
    auto u = [](int v) { return static_cast<std::uint32_t>(v); };
    counters = {u(raw.cts),   u(raw.dsr),     u(raw.rng),    u(raw.dcd),        u(raw.frame),
                u(raw.overrun), u(raw.parity), u(raw.brk),  u(raw.buf_overrun)};
    return 0;
  }

  int ReadAvailable(std::uint8_t* data, std::size_t max, std::size_t& got) override {
    got = 0;
    const ssize_t n = read(fd_, data, max);
    if (n >= 0) {
      got = static_cast<std::size_t>(n);
      return 0;
    }
    return errno == EAGAIN || errno == EINTR ? 0 : errno;
  }

  int OutQueue(std::uint32_t& bytes) override {
    int queued = 0;
    bytes = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0) return errno;
    bytes = static_cast<std::uint32_t>(queued);
    return 0;
  }

  int Flush() override { return tcflush(fd_, TCIOFLUSH) == 0 ? 0 : errno; }

  int Wait(bool want_input, std::chrono::milliseconds timeout) override {
    pollfd fds[2] = {{fd_, static_cast<short>(want_input ? POLLIN : 0), 0}, {wake_fd_, POLLIN, 0}};
    if (poll(fds, 2, static_cast<int>(timeout.count())) < 0) return errno == EINTR ? 0 : errno;
    if (fds[1].revents & POLLIN) {
      std::uint64_t count = 0;
      if (read(wake_fd_, &count, sizeof count) < 0) {
        // Nothing to drain: another wait took the wake-up.
      }
      return 0;
    }
    if ((fds[0].revents & (POLLHUP | POLLERR)) && !(fds[0].revents & POLLIN)) {
      // A hung-up line stays readable for poll; wait out the time on the wake-up alone.
      poll(&fds[1], 1, static_cast<int>(timeout.count()));
    }
    return 0;
  }

  void Interrupt() override {
    const std::uint64_t one = 1;
    if (write(wake_fd_, &one, sizeof one) < 0) {
      // The counter is full, so a wake-up is pending already.
    }
  }

 private:
  const int fd_;
  const int wake_fd_;
  bool has_counters_ = false;
};

}  // namespace

std::unique_ptr<SerialDevice> OpenSerialDevice(const std::string& name, int& error) {
  const std::string path = SerialDevicePath(name);
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  // No one else may open the line while we hold it: neither a later open nor a
  // program that locks it the same way.
  if (ioctl(fd, TIOCEXCL) != 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = errno == EWOULDBLOCK ? EBUSY : errno;
    ioctl(fd, TIOCNXCL);
    close(fd);
    return nullptr;
  }
  const int wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd < 0) {
    error = errno;
    ioctl(fd, TIOCNXCL);
    close(fd);
    return nullptr;
  }
  error = 0;
  return std::make_unique<SerialDevice>(std::make_shared<TtySerialBackend>(fd, wake_fd));
}

}  // namespace pmx
