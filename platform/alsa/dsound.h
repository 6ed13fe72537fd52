#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/wave_types.h"

namespace pmx {

// One playback buffer as the streaming output drives it: filled once, started,
// then refilled in the room the play position has left. Write applies the volume
// as a software gain.
//
// Threads: one user at a time (the owner serialises its worker and its GUI
// thread); SetVolume from anywhere.
class SoundBuffer {
 public:
  virtual ~SoundBuffer() = default;

  // Sets the buffer up for format with room for bytes; 0 or a negative errno.
  int InitOutput(const WaveFormatEx& format, uint32_t bytes);
  // Starts playing what was written.
  virtual int Start() = 0;
  // Holds playback where it is; Restart goes on from there.
  virtual int Stop() = 0;
  virtual int Restart() = 0;
  // Stopped: forgets what was written and not played; Start plays what is written next.
  int Drop();
  // The bytes that can be written now. A buffer that ran dry counts an underrun
  // (while playing) and offers its whole room again.
  virtual int GetFreeSpace(uint32_t& free) = 0;
  // Appends bytes (whole frames) at the write position.
  int Write(const uint8_t* data, uint32_t bytes);
  // Fills the free room with byte.
  int FillSilence(uint8_t byte);
  // The bytes written and not yet played, but for silence filled in after the last
  // data: where playback is, counted back from the end of the data written.
  int UnplayedData(uint32_t& bytes);
  uint32_t Underruns() const { return underruns_.load(); }
  // Hundredths of a decibel, -10000 (silent) to 0 (unchanged).
  void SetVolume(int hundredths_db) { volume_ = hundredths_db; }
  int Volume() const { return volume_.load(); }
  const WaveFormatEx& Format() const { return format_; }

 protected:
  virtual int Open(const WaveFormatEx& format, uint32_t bytes) = 0;
  virtual int WriteBytes(const uint8_t* data, uint32_t bytes) = 0;
  // The bytes written and not yet played.
  virtual int Unplayed(uint32_t& bytes) = 0;
  virtual int DropUnplayed() = 0;
  void CountUnderrun() { ++underruns_; }

 private:
  WaveFormatEx format_;
  std::atomic<int> volume_{0};
  std::atomic<uint32_t> underruns_{0};
  std::vector<uint8_t> scaled_;
  uint64_t trailing_silence_ = 0;  // filled in since the last data
};

// Scales the samples of format in data by gain in place (8, 16, 24 and 32-bit PCM).
void ScaleSamples(const WaveFormatEx& format, uint8_t* data, uint32_t bytes, double gain);

struct SoundDevice {
  std::string description;
  std::string pcm;  // the name the system opens
};

// The playback devices and the clock a streaming output works by.
// Threads: any thread.
class SoundSystem {
 public:
  static constexpr std::size_t kMaxDevices = 16;
  virtual ~SoundSystem() = default;
  // Entry 0 is the default device; at most kMaxDevices.
  virtual std::vector<SoundDevice> Devices() = 0;
  // Null when the device cannot be had.
  virtual std::unique_ptr<SoundBuffer> Create(const SoundDevice& device) = 0;
  // Milliseconds of a monotonic clock.
  virtual uint32_t Now() = 0;
  virtual void Sleep(uint32_t ms) = 0;
};

// The system's ALSA playback devices.
SoundSystem& DefaultSoundSystem();

}  // namespace pmx
