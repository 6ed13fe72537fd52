#include "platform/ports/port_io.h"

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace pmx {
namespace {

constexpr std::array<uint16_t, 3> kPortBases = {0x378, 0x278, 0x3BC};

// Holds one claimed ppdev device.
class PpdevPort : public ParallelPort {
 public:
  explicit PpdevPort(int fd) : fd_(fd) {}
  ~PpdevPort() override {
    ioctl(fd_, PPRELEASE);
    close(fd_);
  }
  PpdevPort(const PpdevPort&) = delete;
  PpdevPort& operator=(const PpdevPort&) = delete;

  uint8_t Read(LptRegister reg) override {
    static constexpr unsigned long kRequests[] = {PPRDATA, PPRSTATUS, PPRCONTROL};
    unsigned char value = 0;
    ioctl(fd_, kRequests[static_cast<int>(reg)], &value);
    return value;
  }

  void Write(LptRegister reg, uint8_t value) override {
    // The status register has no write request; its pins are inputs.
    if (reg == LptRegister::Status) return;
    unsigned char byte = value;
    ioctl(fd_, reg == LptRegister::Data ? PPWDATA : PPWCONTROL, &byte);
  }

 private:
  int fd_;
};

std::shared_ptr<ParallelPort> OpenDefaultPort(int index) {
  return OpenPpdevPort("/dev/parport" + std::to_string(index));
}

}  // namespace

std::shared_ptr<ParallelPort> OpenPpdevPort(const std::string& device) {
  int fd = open(device.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return nullptr;
  if (ioctl(fd, PPCLAIM) != 0) {
    close(fd);
    return nullptr;
  }
  return std::make_shared<PpdevPort>(fd);
}

PortIo::PortIo() : opener_(OpenDefaultPort) {}

PortIo& PortIo::Instance() {
  static PortIo instance;
  return instance;
}

ParallelPort* PortIo::PortOf(uint16_t address, LptRegister& reg) {
  for (std::size_t index = 0; index < kPortBases.size(); ++index) {
    if (address < kPortBases[index] || address > kPortBases[index] + 2) continue;
    reg = static_cast<LptRegister>(address - kPortBases[index]);
    if (!ports_[index]) ports_[index] = opener_(static_cast<int>(index));
    return ports_[index].get();
  }
  return nullptr;
}

uint8_t PortIo::In(uint16_t port) {
  std::lock_guard lock(mutex_);
  LptRegister reg;
  ParallelPort* target = PortOf(port, reg);
  return target ? target->Read(reg) : 0;
}

void PortIo::Out(uint16_t port, uint8_t value) {
  std::lock_guard lock(mutex_);
  LptRegister reg;
  if (ParallelPort* target = PortOf(port, reg)) target->Write(reg, value);
}

bool PortIo::AnyPortAvailable() {
  std::lock_guard lock(mutex_);
  for (std::size_t index = 0; index < ports_.size(); ++index) {
    if (ports_[index] || opener_(static_cast<int>(index))) return true;
  }
  return false;
}

void PortIo::SetOpener(Opener opener) {
  std::lock_guard lock(mutex_);
  for (auto& port : ports_) port.reset();
  opener_ = opener ? std::move(opener) : Opener(OpenDefaultPort);
}

uint8_t PortIn(uint16_t port) { return PortIo::Instance().In(port); }

void PortOut(uint16_t port, uint8_t value) { PortIo::Instance().Out(port, value); }

void FakeParallelPort::Write(LptRegister reg, uint8_t value) {
  writes_.push_back({reg, value});
  if (reg != LptRegister::Status) registers_[static_cast<int>(reg)] = value;
}

}  // namespace pmx
