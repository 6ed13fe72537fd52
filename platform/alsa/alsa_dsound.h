#pragma once

#include <alsa/asoundlib.h>

#include <optional>
#include <vector>

#include "platform/alsa/dsound.h"

namespace pmx {

// A playback buffer on an ALSA PCM. The device buffer holds at least the room
// asked for where the device can; only that room is offered, so a larger device
// buffer adds no gap.
// A device that cannot pause is dropped on Stop and given the frames it had not
// played yet again on Restart.
// Threads: as SoundBuffer.
class AlsaSoundBuffer : public SoundBuffer {
 public:
  // Takes pcm (opened non-blocking).
  explicit AlsaSoundBuffer(snd_pcm_t* pcm) : pcm_(pcm) {}
  ~AlsaSoundBuffer() override;
  AlsaSoundBuffer(const AlsaSoundBuffer&) = delete;
  AlsaSoundBuffer& operator=(const AlsaSoundBuffer&) = delete;

  int Start() override;
  int Stop() override;
  int Restart() override;
  int GetFreeSpace(uint32_t& free) override;

 protected:
  int Open(const WaveFormatEx& format, uint32_t bytes) override;
  int WriteBytes(const uint8_t* data, uint32_t bytes) override;
  int Unplayed(uint32_t& bytes) override;
  int DropUnplayed() override;

 private:
  int Configure(snd_pcm_format_t sample, const WaveFormatEx& format, snd_pcm_uframes_t frames);
  // Keeps the last frames written for a replay after a drop.
  void Remember(const uint8_t* data, snd_pcm_uframes_t frames);
  void KeepUnplayed();

  snd_pcm_t* const pcm_;
  uint32_t frame_bytes_ = 0;
  snd_pcm_uframes_t usable_ = 0;  // the room asked for
  snd_pcm_uframes_t actual_ = 0;  // the device buffer
  bool can_pause_ = false;
  bool playing_ = false;
  bool dropped_ = false;
  std::vector<uint8_t> history_;  // the last actual_ frames written (devices without pause)
  std::size_t history_at_ = 0;
  std::vector<uint8_t> unplayed_;
};

// ALSA's playback devices: entry 0 is "default", then the cards' devices.
// Threads: any thread.
class AlsaSoundSystem : public SoundSystem {
 public:
  struct Options {
    // ALSA configuration text in which the PCM names are looked up; empty: the
    // system's configuration.
    std::string config;
    // The devices; unset: "default" and the cards' devices.
    std::optional<std::vector<SoundDevice>> devices;
  };

  AlsaSoundSystem() = default;
  explicit AlsaSoundSystem(Options options);
  ~AlsaSoundSystem() override;
  AlsaSoundSystem(const AlsaSoundSystem&) = delete;
  AlsaSoundSystem& operator=(const AlsaSoundSystem&) = delete;

  std::vector<SoundDevice> Devices() override;
  std::unique_ptr<SoundBuffer> Create(const SoundDevice& device) override;
  uint32_t Now() override;
  void Sleep(uint32_t ms) override;

 private:
  Options options_;
  snd_config_t* config_ = nullptr;
};

}  // namespace pmx
