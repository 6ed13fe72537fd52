#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/alsa/dsound.h"

namespace pmx {

// A sound system for tests with a virtual clock: Sleep moves the clock at once,
// and a started buffer plays its frames as the clock moves. A buffer that plays
// dry with the clock going on underruns. Every byte written is kept.
//
// Threads: the output's worker and the test thread; all state is guarded by mutex_.
class FakeSoundSystem : public SoundSystem {
 public:
  explicit FakeSoundSystem(int devices = 1);

  std::vector<SoundDevice> Devices() override;
  std::unique_ptr<SoundBuffer> Create(const SoundDevice& device) override;
  uint32_t Now() override;
  void Sleep(uint32_t ms) override;

  // The device stops taking frames (no room appears) from now on.
  void Stall();
  // The next sleep of a playing buffer outlasts everything queued.
  void StarveNextSleep();
  // A sleep that finds the clock at ms or later waits, before the clock moves,
  // until Release: the run stands still where the test can look at it.
  void HoldAt(uint32_t ms);
  bool WaitHeld(std::chrono::milliseconds timeout);
  void Release();

  // What the last buffer was given.
  std::vector<uint8_t> Written() const;
  // The bytes the last buffer has played of what it was given (written, neither
  // queued nor dropped).
  uint64_t Played() const;
  WaveFormatEx Format() const;
  uint32_t Room() const;
  bool Playing() const;
  int Buffers() const;
  uint32_t SleptMs() const;

 private:
  friend class FakeSoundBuffer;
  struct State {
    WaveFormatEx format;
    uint32_t room = 0;  // bytes
    uint64_t queued = 0;
    uint64_t dropped = 0;  // written and never played
    bool playing = false;
    bool underrun = false;
    std::vector<uint8_t> written;
  };
  void Play(State& state, uint32_t ms);

  mutable std::mutex mutex_;
  std::condition_variable held_changed_;
  std::optional<uint32_t> hold_at_;
  bool held_ = false;
  int devices_;
  uint32_t now_ = 0;
  uint32_t slept_ = 0;
  bool stalled_ = false;
  bool starve_ = false;
  int buffers_ = 0;
  std::shared_ptr<State> state_;
};

}  // namespace pmx
