#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/ports/serial_device.h"

namespace pmx {

// A scripted serial line for tests: the test sets the input lines, feeds bytes
// and errors, and reads back what the port did to DTR, RTS and the settings.
//
// Threads: any thread; all state lives under mutex_.
class FakeSerialDevice : public SerialBackend, public std::enable_shared_from_this<FakeSerialDevice> {
 public:
  enum class Op { kCheckSettings, kApplySettings, kModemBits, kSetModemBit, kCounters, kRead };

  // Input lines as TIOCM_CTS, TIOCM_DSR, TIOCM_RI and TIOCM_CD bits; each line
  // that changes counts a transition, as the kernel does.
  void SetInputLines(int bits);
  void Receive(const std::vector<std::uint8_t>& bytes);
  void AddFrameErrors(std::uint32_t count);
  void AddBreaks(std::uint32_t count);
  // Every later call of op fails with error (0 heals it).
  void Fail(Op op, int error);
  // Opening through Opener fails with error (0 heals it).
  void SetOpenError(int error);

  // Every change of DTR and RTS as (TIOCM bit, on).
  std::vector<std::pair<int, bool>> LineHistory() const;
  int OutputLines() const;
  bool BreakOn() const;
  SerialSettings Settings() const;
  int Opens() const;

  // Opens every port name onto this line.
  SerialOpener Opener();

  int Handle() const override { return 1000; }
  int CheckSettings() override;
  int ApplySettings(const SerialSettings& settings) override;
  int ModemBits(int& bits) override;
  int SetModemBit(int bit, bool on) override;
  int SetBreak(bool on) override;
  bool HasCounters() const override { return true; }
  int Counters(SerialCounters& counters) override;
  int ReadAvailable(std::uint8_t* data, std::size_t max, std::size_t& got) override;
  int OutQueue(std::uint32_t& bytes) override;
  int Flush() override;
  int Wait(bool want_input, std::chrono::milliseconds timeout) override;
  void Interrupt() override;

 private:
  int FailureLocked(Op op) const;
  void ChangedLocked();

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t generation_ = 0;  // counts changes of the input side
  std::uint64_t sampled_ = 0;     // the generation the port last looked at
  bool interrupted_ = false;
  int input_bits_ = 0;
  int output_bits_ = 0;
  bool break_on_ = false;
  SerialCounters counters_;
  std::deque<std::uint8_t> input_;
  std::vector<std::pair<int, bool>> history_;
  SerialSettings settings_;
  std::map<Op, int> failures_;
  int open_error_ = 0;
  int opens_ = 0;
};

}  // namespace pmx
