#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/alsa/wave_device.h"

namespace pmx::test {

// Caller-owned wave buffers of given sizes, prepared headers pointing at them.
class WaveBuffers {
 public:
  explicit WaveBuffers(const std::vector<uint32_t>& sizes);
  WAVEHDR* operator[](std::size_t i) { return &headers_[i]; }
  std::size_t size() const { return headers_.size(); }
  // Index of header, or -1.
  int IndexOf(const WAVEHDR* header) const;
  // Fills the buffers in order from bytes.
  void Fill(const std::vector<uint8_t>& bytes);

 private:
  std::vector<std::vector<char>> data_;
  std::vector<WAVEHDR> headers_;
};

// Records the callback's messages and what the done buffers held when they came
// back; an optional hook runs inside the callback on the I/O thread.
class WaveEvents {
 public:
  struct Event {
    uint32_t message;
    WAVEHDR* header;
    std::vector<uint8_t> bytes;  // the recorded (capture) or queued (playback) bytes
  };

  WaveCallback Callback();
  // Waits until count done messages came; false on timeout.
  bool WaitDone(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  bool WaitMessage(uint32_t message, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  std::vector<Event> Done();
  std::vector<uint32_t> Messages();
  void SetHook(std::function<void(WaveDevice&, WAVEHDR*)> hook);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Event> events_;
  std::function<void(WaveDevice&, WAVEHDR*)> hook_;
};

// The bytes of the done events, joined in order.
std::vector<uint8_t> Joined(const std::vector<WaveEvents::Event>& events);

// Index of the first byte where a and b differ (or where the shorter ends); -1 when
// they are equal.
long FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

}  // namespace pmx::test
