#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <vector>

#include "audio/core/dsp/dsp_component.h"

namespace pmx::test {

// The end of a recording chain: keeps the bytes of every pushed buffer in order.
// Threads: BufferReady on the pushing thread; the readers take the lock.
class TestSink : public TMMDSPComponent {
 public:
  TestSink() { PublishLinks(true, false); }

  void BufferReady(WAVEHDR* lpWaveHdr) override;
  void Stopped() override;

  std::vector<uint8_t> Bytes() const;
  std::vector<uint32_t> Sizes() const;
  std::size_t Total() const;
  int Stops() const;
  // Serves the main loop until at least bytes arrived; false on timeout.
  bool WaitTotal(std::size_t bytes, std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Holds the pushing thread once at least bytes arrived, until Release (20 s at
  // most): a device without a clock is then known to be no further on while the
  // test acts.
  void HoldFrom(std::size_t bytes);
  void Release() { HoldFrom(std::numeric_limits<std::size_t>::max()); }

 private:
  mutable std::mutex mutex_;
  std::condition_variable released_;
  std::size_t hold_from_ = std::numeric_limits<std::size_t>::max();
  std::vector<uint8_t> bytes_;
  std::vector<uint32_t> sizes_;
  int stops_ = 0;
};

// The head of a playing chain: fills each pulled buffer from a fixed source.
// Threads: BufferLoad on the pulling thread; the readers take the lock.
class TestSource : public TMMDSPComponent {
 public:
  explicit TestSource(std::vector<uint8_t> data) : data_(std::move(data)) {
    PublishLinks(false, true);
  }

  void BufferLoad(WAVEHDR* lpWaveHdr, bool& MoreBuffers) override;
  std::size_t Delivered() const;

 private:
  mutable std::mutex mutex_;
  const std::vector<uint8_t> data_;
  std::size_t at_ = 0;
};

}  // namespace pmx::test
