#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/wave_device.h"
#include "platform/wave_in_encoder.h"

namespace pmx {

// A capture device. Buffers fill in order; a full one comes back with WIM_DATA.
// Overruns of the device are recovered and counted with the frames they lost. A
// read that fails for good hands back the partly filled buffer with what it holds,
// then WIM_FAILED.
class WaveInDevice : public WaveDevice {
 public:
  // Use waveInOpen.
  WaveInDevice(int id, const WaveFormatEx& format, std::unique_ptr<WaveStream> stream,
               WaveCallback callback);
  // Records format (PCM) and hands the caller's buffers whole blocks of the
  // encoder's codec format.
  WaveInDevice(int id, const WaveFormatEx& format, std::unique_ptr<WaveStream> stream,
               WaveCallback callback, std::unique_ptr<WaveInEncoder> encoder);
  ~WaveInDevice() override;

  MMRESULT AddBuffer(WAVEHDR* header);
  MMRESULT Start();
  // Stops capturing; what the device had captured is taken first, and the buffer
  // being filled comes back with the bytes recorded so far. Empty buffers stay.
  MMRESULT Stop();
  // Overruns since open, and the frames they lost.
  uint64_t Overruns() const { return overruns_.load(); }
  uint64_t LostFrames() const { return lost_frames_.load(); }

 private:
  void Transfer(Lock& lock) override;
  bool WantsDevice() const override;
  void ResetLocked() override;
  uint64_t PositionBytes(uint64_t samples) const override;
  // Reads at most limit frames into the queued buffers; stream_mutex_ and lock
  // (on mutex_) held, the lock let go during each read of the device.
  void Capture(Lock& lock, uint64_t limit);
  long ReadInto(Lock& lock, WAVEHDR* header, uint64_t limit);
  long ReadEncoded(Lock& lock, uint64_t limit);
  // Completes the partly filled buffer and reports the failure.
  void Fail(const char* what, long error);
  void Store(const uint8_t* bytes, std::size_t count);
  // The smallest piece a buffer takes: a codec block, or a byte for PCM.
  std::size_t Unit() const { return encoder_ ? encoder_->Codec().nBlockAlign() : 1; }

  bool running_ = false;          // guarded by mutex_
  std::vector<uint8_t> carry_;    // bytes of a frame that did not fit; guarded by mutex_
  std::vector<uint8_t> staging_;  // one frame or a read chunk; guarded by stream_mutex_
  std::atomic<uint64_t> overruns_{0};
  std::atomic<uint64_t> lost_frames_{0};
  const std::unique_ptr<WaveInEncoder> encoder_;  // none for PCM; guarded by mutex_
  std::vector<uint8_t> encoded_;  // scratch for the encoder's output; guarded by mutex_
};

uint32_t waveInGetNumDevs();
MMRESULT waveInGetDevCaps(int id, WAVEINCAPS& caps);
MMRESULT waveInGetErrorText(MMRESULT code, std::string& text);
// Opens device id (WAVE_MAPPER: the default device). With WAVE_FORMAT_QUERY only tests
// the format and leaves handle empty. A codec format the device does not record is
// recorded as PCM and encoded through the codec registry.
MMRESULT waveInOpen(std::unique_ptr<WaveInDevice>& handle, int id, const WaveFormatEx& format,
                    WaveCallback callback, uint32_t flags);


}  // namespace pmx
