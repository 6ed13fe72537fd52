#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <numeric>
#include <stdexcept>
#include <vector>

#include "audio/streaming/au_input.h"
#include "audio/streaming/au_output.h"

namespace pmx::test {

// A file input over bytes in memory: 16-bit mono at 1000 Hz, so one frame is
// two bytes; byte i holds i mod 256. ReadData hands out at most block bytes.
class MemoryFileIn : public TAuFileIn {
 public:
  explicit MemoryFileIn(int64_t frames, uint32_t block = 64) : data_(frames * 2), block_(block) {
    std::iota(data_.begin(), data_.end(), uint8_t{0});
    SetFileName("memory");
  }
  int opens = 0;
  int channels = 1;

 protected:
  void OpenSource() override {
    std::lock_guard lock(OpenLock);
    if (open_count_++ > 0) return;
    ++opens;
    read_ = 0;
    channels_ = channels;
    bits_per_sample_ = 16;
    sample_rate_ = 1000;
    size_ = static_cast<int64_t>(data_.size());
  }
  void CloseSource() override { open_count_ = 0; }
  void ReadData(const uint8_t*& buffer, uint32_t& bytes) override {
    bytes = static_cast<uint32_t>(std::min<size_t>({bytes, block_, data_.size() - read_}));
    buffer = data_.data() + read_;
    read_ += bytes;
  }
  bool SeekToSample(int64_t& sample) override {
    read_ = std::min<size_t>(static_cast<size_t>(sample) * 2, data_.size());
    return true;
  }

 private:
  std::vector<uint8_t> data_;
  size_t block_;
  size_t read_ = 0;
};

// An input whose position and size a test sets; endless zero data.
class CountingInput : public TAuInput {
 public:
  void Set(int64_t position, int64_t size) {
    position_ = position;
    size_ = size;
  }
  int GetBitsPerSample() override { return 16; }
  int GetChannels() override { return 2; }
  int GetSampleRate() override { return 44100; }

 protected:
  void ReadData(const uint8_t*& buffer, uint32_t& bytes) override {
    bytes = std::min<uint32_t>(bytes, sizeof(zeros_));
    buffer = zeros_;
  }

 private:
  uint8_t zeros_[256] = {};
};

// Collects what it pulls from its input; can fail on a chosen block.
class CollectingOutput : public TAuOutput {
 public:
  ~CollectingOutput() override { Stop(false); }
  static constexpr size_t kKept = 1 << 20;
  std::vector<uint8_t> collected;  // the first bytes pulled; worker during a run, test thread after it
  int fail_at_block = -1;
  std::atomic<int> prepared{0};
  std::atomic<int> finished{0};
  std::atomic<int64_t> pulled{0};

 protected:
  void PrepareOutput() override {
    ++prepared;
    blocks_ = 0;
    collected.clear();
    Input()->Init();
  }
  bool OutputBlock(bool abort) override {
    if (abort) return false;
    if (blocks_++ == fail_at_block) throw std::runtime_error("device went away");
    uint8_t block[100];
    const uint32_t got = CopyFetch(*Input(), block, sizeof(block));
    if (collected.size() < kKept) collected.insert(collected.end(), block, block + got);
    pulled += got;
    return got > 0;
  }
  void FinishOutput() override {
    Input()->Flush();
    ++finished;
  }

 private:
  int blocks_ = 0;
};

}  // namespace pmx::test
