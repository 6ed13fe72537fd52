#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/streaming/au_output.h"
#include "platform/alsa/dsound.h"

namespace pmx {

using TUnderrunEvent = TNotifyEvent;

// Plays its Input through a sound device: the buffer is filled once and started,
// then refilled every PollingInterval in the room that playback has left. When
// the input ends the buffer plays out behind silence, for as many whole seconds
// as it holds.
//
// Threads: the run (PrepareOutput, OutputBlock, FinishOutput) on the worker;
// Pause, Resume, SetVolume and the setters on the GUI thread. The sound buffer is
// guarded by buffer_mutex_; first_ and input_ended_ are atomics written by the
// worker; the settings are read by the worker only while a run prepares.
class TDXAudioOut : public TAuOutput {
 public:
  static constexpr uint32_t kDefaultFramesInBuffer = 24576;
  static constexpr int kEmptyPollsAllowed = 16;

  // system: where the devices come from; the ALSA devices when null.
  explicit TDXAudioOut(TComponent* owner = nullptr, SoundSystem* system = nullptr);
  ~TDXAudioOut() override;

  // Index into Devices(); a run with a number beyond the table fails.
  int DeviceNumber() const { return device_number_; }
  // Raises "Invalid device number" for a negative number.
  void SetDeviceNumber(int number);
  // The system's devices, read when first asked for: a program that never plays
  // through this output never walks the sound cards.
  const std::vector<SoundDevice>& Devices() const;
  uint32_t FramesInBuffer() const { return frames_in_buffer_; }
  // Ignored while busy.
  void SetFramesInBuffer(uint32_t frames);
  uint32_t PollingInterval() const { return polling_interval_; }
  void SetPollingInterval(uint32_t ms) { polling_interval_ = ms; }
  bool PrefetchData() const { return prefetch_; }
  void SetPrefetchData(bool prefetch) { prefetch_ = prefetch; }
  // Hundredths of a decibel, 0 = unchanged; applied at once.
  int Volume() const { return volume_; }
  void SetVolume(int hundredths_db);

  void Pause() override;
  void Resume() override;
  // Paused: forgets what the buffer holds, so that playing on starts with what the
  // input delivers next (after a seek).
  void DropQueued();
  // Where in the input what is heard now is, in bytes: the input's position less
  // what the buffer holds and has not played yet; the input's position when no run is on.
  int64_t HeardPosition();

  TUnderrunEvent OnUnderrun;

 protected:
  void PrepareOutput() override;
  bool OutputBlock(bool abort) override;
  void FinishOutput() override;

 private:
  WaveFormatEx BufferFormat() const;
  void WriteFirstBlock();
  // Reads up to bytes from the input and writes them; the silent fill follows the end.
  void Refill(uint32_t bytes);
  // Polls until the buffer has room; 0 when a stop was asked for.
  uint32_t WaitForRoom();
  void WaitOneInterval();
  void PlayOut();
  void CheckUnderruns();
  // Raises "Audio output error" for a failed buffer call.
  static void Check(int result);

  SoundSystem& system_;
  mutable std::once_flag devices_read_;
  mutable std::vector<SoundDevice> devices_;  // written once, under devices_read_
  int device_number_ = 0;
  uint32_t frames_in_buffer_ = kDefaultFramesInBuffer;
  std::atomic<uint32_t> polling_interval_{100};
  std::atomic<bool> prefetch_{true};
  std::atomic<int> volume_{0};

  std::mutex buffer_mutex_;
  std::unique_ptr<SoundBuffer> buffer_;
  int64_t written_end_ = 0;  // the input's position after the data last written, under buffer_mutex_
  // Worker only, during a run:
  int channels_ = 0;
  int sample_rate_ = 0;
  int bits_ = 0;
  std::vector<uint8_t> transfer_;
  uint8_t silence_ = 0;
  uint32_t last_underruns_ = 0;
  bool released_ = true;
  std::atomic<bool> first_{false};
  std::atomic<bool> input_ended_{false};
};

}  // namespace pmx
