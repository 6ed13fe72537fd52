#include "platform/alsa/fake_dsound.h"

#include <string>

namespace pmx {

class FakeSoundBuffer : public SoundBuffer {
 public:
  FakeSoundBuffer(FakeSoundSystem& system, std::shared_ptr<FakeSoundSystem::State> state)
      : system_(system), state_(std::move(state)) {}

  int Start() override { return SetPlaying(true); }
  int Stop() override { return SetPlaying(false); }
  int Restart() override { return SetPlaying(true); }
  int GetFreeSpace(uint32_t& free) override {
    std::lock_guard lock(system_.mutex_);
    if (state_->underrun) {
      state_->underrun = false;
      if (state_->playing) CountUnderrun();
    }
    free = static_cast<uint32_t>(state_->room - state_->queued);
    return 0;
  }

 protected:
  int Open(const WaveFormatEx& format, uint32_t bytes) override {
    std::lock_guard lock(system_.mutex_);
    state_->format = format;
    state_->room = bytes;
    return 0;
  }
  int WriteBytes(const uint8_t* data, uint32_t bytes) override {
    std::lock_guard lock(system_.mutex_);
    state_->written.insert(state_->written.end(), data, data + bytes);
    state_->queued = std::min<uint64_t>(state_->room, state_->queued + bytes);
    return 0;
  }
  int DropUnplayed() override {
    std::lock_guard lock(system_.mutex_);
    state_->dropped += state_->queued;
    state_->queued = 0;
    state_->playing = false;
    return 0;
  }
  int Unplayed(uint32_t& bytes) override {
    std::lock_guard lock(system_.mutex_);
    bytes = static_cast<uint32_t>(state_->queued);
    return 0;
  }

 private:
  int SetPlaying(bool playing) {
    std::lock_guard lock(system_.mutex_);
    state_->playing = playing;
    return 0;
  }

  FakeSoundSystem& system_;
  std::shared_ptr<FakeSoundSystem::State> state_;
};

FakeSoundSystem::FakeSoundSystem(int devices) : devices_(devices) {}

std::vector<SoundDevice> FakeSoundSystem::Devices() {
  std::vector<SoundDevice> devices;
  for (int i = 0; i < devices_; ++i) devices.push_back({"Fake " + std::to_string(i), "fake"});
  return devices;
}

std::unique_ptr<SoundBuffer> FakeSoundSystem::Create(const SoundDevice&) {
  std::lock_guard lock(mutex_);
  ++buffers_;
  state_ = std::make_shared<State>();
  return std::make_unique<FakeSoundBuffer>(*this, state_);
}

uint32_t FakeSoundSystem::Now() {
  std::lock_guard lock(mutex_);
  return now_;
}

void FakeSoundSystem::Sleep(uint32_t ms) {
  std::unique_lock lock(mutex_);
  if (hold_at_ && now_ >= *hold_at_) {
    held_ = true;
    held_changed_.notify_all();
    held_changed_.wait(lock, [&] { return !hold_at_; });
    held_ = false;
  }
  now_ += ms;
  slept_ += ms;
  if (state_) Play(*state_, ms);
}

void FakeSoundSystem::Play(State& state, uint32_t ms) {
  if (!state.playing || stalled_ || state.format.nAvgBytesPerSec() == 0) return;
  const uint64_t align = state.format.nBlockAlign();
  const uint64_t bytes = uint64_t{ms} * state.format.nAvgBytesPerSec() / 1000 / align * align;
  if (starve_ || bytes > state.queued) {
    starve_ = false;
    state.underrun = true;
    state.queued = 0;
    return;
  }
  state.queued -= bytes;
}

void FakeSoundSystem::Stall() {
  std::lock_guard lock(mutex_);
  stalled_ = true;
}

void FakeSoundSystem::StarveNextSleep() {
  std::lock_guard lock(mutex_);
  starve_ = true;
}

void FakeSoundSystem::HoldAt(uint32_t ms) {
  std::lock_guard lock(mutex_);
  hold_at_ = ms;
}

bool FakeSoundSystem::WaitHeld(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return held_changed_.wait_for(lock, timeout, [&] { return held_; });
}

void FakeSoundSystem::Release() {
  std::lock_guard lock(mutex_);
  hold_at_.reset();
  held_changed_.notify_all();
}

uint64_t FakeSoundSystem::Played() const {
  std::lock_guard lock(mutex_);
  return state_ ? state_->written.size() - state_->queued - state_->dropped : 0;
}

std::vector<uint8_t> FakeSoundSystem::Written() const {
  std::lock_guard lock(mutex_);
  return state_ ? state_->written : std::vector<uint8_t>{};
}

WaveFormatEx FakeSoundSystem::Format() const {
  std::lock_guard lock(mutex_);
  return state_ ? state_->format : WaveFormatEx{};
}

uint32_t FakeSoundSystem::Room() const {
  std::lock_guard lock(mutex_);
  return state_ ? state_->room : 0;
}

bool FakeSoundSystem::Playing() const {
  std::lock_guard lock(mutex_);
  return state_ && state_->playing;
}

int FakeSoundSystem::Buffers() const {
  std::lock_guard lock(mutex_);
  return buffers_;
}

uint32_t FakeSoundSystem::SleptMs() const {
  std::lock_guard lock(mutex_);
  return slept_;
}

}  // namespace pmx
