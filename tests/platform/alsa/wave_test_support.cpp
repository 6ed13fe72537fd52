#include "tests/platform/alsa/wave_test_support.h"

#include <algorithm>
#include <cstring>

namespace pmx::test {

WaveBuffers::WaveBuffers(const std::vector<uint32_t>& sizes) : headers_(sizes.size()) {
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    data_.emplace_back(sizes[i]);
    headers_[i].lpData = data_[i].data();
    headers_[i].dwBufferLength = sizes[i];
    headers_[i].dwFlags = WHDR_PREPARED;
  }
}

int WaveBuffers::IndexOf(const WAVEHDR* header) const {
  for (std::size_t i = 0; i < headers_.size(); ++i) {
    if (&headers_[i] == header) return static_cast<int>(i);
  }
  return -1;
}

void WaveBuffers::Fill(const std::vector<uint8_t>& bytes) {
  std::size_t at = 0;
  for (auto& buffer : data_) {
    const std::size_t take = std::min(buffer.size(), bytes.size() - at);
    std::memcpy(buffer.data(), bytes.data() + at, take);
    at += take;
  }
}

WaveCallback WaveEvents::Callback() {
  return [this](WaveDevice& device, uint32_t message, WAVEHDR* header) {
    Event event{message, header, {}};
    if (header != nullptr) {
      const uint32_t count =
          message == WIM_DATA ? header->dwBytesRecorded : header->dwBufferLength;
      event.bytes.assign(header->lpData, header->lpData + count);
    }
    std::function<void(WaveDevice&, WAVEHDR*)> hook;
    {
      std::lock_guard lock(mutex_);
      events_.push_back(std::move(event));
      hook = hook_;
    }
    changed_.notify_all();
    if (hook && header != nullptr) hook(device, header);
  };
}

bool WaveEvents::WaitDone(std::size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    return static_cast<std::size_t>(std::count_if(events_.begin(), events_.end(), [](auto& e) {
             return e.header != nullptr;
           })) >= count;
  });
}

bool WaveEvents::WaitMessage(uint32_t message, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    return std::any_of(events_.begin(), events_.end(),
                       [&](auto& e) { return e.message == message; });
  });
}

std::vector<WaveEvents::Event> WaveEvents::Done() {
  std::lock_guard lock(mutex_);
  std::vector<Event> done;
  for (const Event& e : events_) {
    if (e.header != nullptr) done.push_back(e);
  }
  return done;
}

std::vector<uint32_t> WaveEvents::Messages() {
  std::lock_guard lock(mutex_);
  std::vector<uint32_t> messages;
  for (const Event& e : events_) messages.push_back(e.message);
  return messages;
}

void WaveEvents::SetHook(std::function<void(WaveDevice&, WAVEHDR*)> hook) {
  std::lock_guard lock(mutex_);
  hook_ = std::move(hook);
}

std::vector<uint8_t> Joined(const std::vector<WaveEvents::Event>& events) {
  std::vector<uint8_t> bytes;
  for (const auto& e : events) bytes.insert(bytes.end(), e.bytes.begin(), e.bytes.end());
  return bytes;
}

long FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  const auto [at_a, at_b] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  if (at_a == a.end() && at_b == b.end()) return -1;
  return static_cast<long>(at_a - a.begin());
}

}  // namespace pmx::test
