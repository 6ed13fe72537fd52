#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pmx {

// The three registers of a standard PC parallel port, at base + 0, 1 and 2.
enum class LptRegister { Data = 0, Status = 1, Control = 2 };

// One parallel port whose registers the program may read and write.
class ParallelPort {
 public:
  virtual ~ParallelPort() = default;
  virtual uint8_t Read(LptRegister reg) = 0;
  virtual void Write(LptRegister reg, uint8_t value) = 0;
};

// A port claimed through the kernel's ppdev driver; released when destroyed.
// Returns nullptr when the device does not open or can't be claimed.
std::shared_ptr<ParallelPort> OpenPpdevPort(const std::string& device);

// The ports by x86 I/O address: 0x378, 0x278 and 0x3BC (each with its two following
// registers) are the ports 0, 1 and 2, i.e. /dev/parport0..2. A port is opened and
// claimed on first use and kept; an address of no port reads 0 and ignores writes,
// as does a port that can't be opened.
//
// Threads: any thread; the port table and every register access are guarded by
// mutex_.
class PortIo {
 public:
  // Opens port 0..2; nullptr when that port is not available.
  using Opener = std::function<std::shared_ptr<ParallelPort>(int index)>;

  static PortIo& Instance();

  uint8_t In(uint16_t port);
  void Out(uint16_t port, uint8_t value);
  // True when at least one of the ports opens and can be claimed. Ports opened only
  // for this test are released again, so another program may use them meanwhile.
  bool AnyPortAvailable();
  // Replaces how ports are opened (a fake for tests); closes every open port.
  // An empty opener restores the ppdev one.
  void SetOpener(Opener opener);

 private:
  PortIo();
  ParallelPort* PortOf(uint16_t address, LptRegister& reg);

  std::mutex mutex_;
  Opener opener_;
  std::array<std::shared_ptr<ParallelPort>, 3> ports_;
};

// One byte from, and to, an x86 I/O port address (through PortIo::Instance()).
uint8_t PortIn(uint16_t port);
void PortOut(uint16_t port, uint8_t value);

// A parallel port that only keeps its registers, for tests: writes are recorded in
// order; the status register reads what the test set.
// Threads: not shared; the thread that uses it owns it.
class FakeParallelPort : public ParallelPort {
 public:
  struct RegisterWrite {
    LptRegister reg;
    uint8_t value;
    bool operator==(const RegisterWrite&) const = default;
  };

  uint8_t Read(LptRegister reg) override { return registers_[static_cast<int>(reg)]; }
  void Write(LptRegister reg, uint8_t value) override;

  void SetStatus(uint8_t value) { registers_[static_cast<int>(LptRegister::Status)] = value; }
  const std::vector<RegisterWrite>& Writes() const { return writes_; }

 private:
  std::array<uint8_t, 3> registers_{};
  std::vector<RegisterWrite> writes_;
};

}  // namespace pmx
