#include "tests/support/chain_test_nodes.h"

#include <algorithm>
#include <cstring>

#include "platform/main_loop.h"

namespace pmx::test {

void TestSink::BufferReady(WAVEHDR* lpWaveHdr) {
  {
    std::unique_lock lock(mutex_);
    const auto* data = reinterpret_cast<const uint8_t*>(lpWaveHdr->lpData);
    bytes_.insert(bytes_.end(), data, data + lpWaveHdr->dwBytesRecorded);
    sizes_.push_back(lpWaveHdr->dwBytesRecorded);
    if (bytes_.size() >= hold_from_) {
      MainLoop::Instance().Wake();
      // Bounded, so that a test that failed before its Release cannot hang.
      released_.wait_for(lock, std::chrono::seconds(20),
                         [this] { return bytes_.size() < hold_from_; });
    }
  }
  TMMDSPComponent::BufferReady(lpWaveHdr);
  MainLoop::Instance().Wake();
}

void TestSink::HoldFrom(std::size_t bytes) {
  {
    std::lock_guard lock(mutex_);
    hold_from_ = bytes;
  }
  released_.notify_all();
}

void TestSink::Stopped() {
  if (IsStarted()) {
    std::lock_guard lock(mutex_);
    ++stops_;
  }
  TMMDSPComponent::Stopped();
}

std::vector<uint8_t> TestSink::Bytes() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

std::vector<uint32_t> TestSink::Sizes() const {
  std::lock_guard lock(mutex_);
  return sizes_;
}

std::size_t TestSink::Total() const {
  std::lock_guard lock(mutex_);
  return bytes_.size();
}

int TestSink::Stops() const {
  std::lock_guard lock(mutex_);
  return stops_;
}

bool TestSink::WaitTotal(std::size_t bytes, std::chrono::milliseconds timeout) {
  return MainLoop::Instance().PumpUntil([&] { return Total() >= bytes; }, timeout);
}

void TestSource::BufferLoad(WAVEHDR* lpWaveHdr, bool& MoreBuffers) {
  std::lock_guard lock(mutex_);
  const std::size_t take = std::min<std::size_t>(lpWaveHdr->dwBufferLength, data_.size() - at_);
  if (take > 0) std::memcpy(lpWaveHdr->lpData, data_.data() + at_, take);
  lpWaveHdr->dwBytesRecorded = static_cast<uint32_t>(take);
  at_ += take;
  MoreBuffers = at_ < data_.size();
}

std::size_t TestSource::Delivered() const {
  std::lock_guard lock(mutex_);
  return at_;
}

}  // namespace pmx::test
