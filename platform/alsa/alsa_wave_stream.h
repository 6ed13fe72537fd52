#pragma once

#include <alsa/asoundlib.h>

#include <vector>

#include "platform/alsa/wave_driver.h"

namespace pmx {

// An ALSA PCM in non-blocking mode set up for one wave format: the device buffer is
// buffer_ms long and the stream starts only when told to. Wake interrupts Wait
// through an eventfd.
//
// Threads: as WaveStream; the PCM is used under the owner's lock, Wake from anywhere.
class AlsaWaveStream : public WaveStream {
 public:
  // Takes pcm. Call Configure before use.
  explicit AlsaWaveStream(snd_pcm_t* pcm);
  ~AlsaWaveStream() override;
  AlsaWaveStream(const AlsaWaveStream&) = delete;
  AlsaWaveStream& operator=(const AlsaWaveStream&) = delete;

  // Sets the format and the buffer; a negative errno when the PCM refuses them.
  // Capture with wake_ms: periods of at least that long, and no wake-up sooner.
  int Configure(const WaveFormatEx& format, unsigned buffer_ms, unsigned wake_ms = 0);

  int Prepare() override { return snd_pcm_prepare(pcm_); }
  int Start() override;
  int Drop() override { return snd_pcm_drop(pcm_); }
  int Pause(bool enable) override;
  long Read(void* data, uint32_t frames) override;
  long Write(const void* data, uint32_t frames) override;
  long Avail() override;
  long Delay() override;
  void Wait(bool device, int timeout_ms) override;
  void Wake() override;
  void SetWakeFrames(uint32_t frames) override;
  // What the device buffer held, plus the time from the overrun until now.
  uint64_t LostFrames() override;
  bool ReadClock(Clock& clock) override;
  std::string ErrorText(long error) const override { return snd_strerror(static_cast<int>(error)); }

  snd_pcm_uframes_t PeriodFrames() const { return period_frames_; }

 private:
  snd_pcm_t* const pcm_;
  const int wake_fd_;
  std::vector<pollfd> fds_;  // the eventfd first, then the PCM's
  // Sets the hardware and software parameters with a period near period_us.
  int Setup(unsigned period_us);
  // After a poll that the PCM's descriptors ended without frames to read: waits
  // until the frames asked for should be there, or a Wake.
  void HoldOff(int timeout_ms);

  snd_pcm_format_t sample_ = SND_PCM_FORMAT_UNKNOWN;
  unsigned channels_ = 0;
  unsigned rate_ = 0;
  unsigned buffer_us_ = 0;
  snd_pcm_uframes_t buffer_frames_ = 0;
  snd_pcm_uframes_t period_frames_ = 0;
  snd_pcm_uframes_t wake_frames_ = 0;  // the software wake-up point (avail_min)
  snd_pcm_uframes_t least_wake_frames_ = 0;  // what SetWakeFrames asks for at least
  bool started_ = false;  // the period is kept once the stream has run
  bool can_pause_ = false;
};

}  // namespace pmx
