#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/wave_device.h"

namespace pmx {

// A capture device. Buffers fill in order; a full one comes back with WIM_DATA.
// Overruns of the device are recovered and counted.
class WaveInDevice : public WaveDevice {
 public:
  // Use waveInOpen.
  WaveInDevice(int id, const WaveFormatEx& format, std::unique_ptr<WaveStream> stream,
               WaveCallback callback);
  ~WaveInDevice() override;

  MMRESULT AddBuffer(WAVEHDR* header);
  MMRESULT Start();
  // Stops capturing; what the device had captured is taken first, and the buffer
  // being filled comes back with the bytes recorded so far. Empty buffers stay.
  MMRESULT Stop();
  // Overruns since open.
  uint64_t Overruns() const { return overruns_.load(); }

 private:
  void Pump() override;
  bool WantsDevice() const override;
  void ResetLocked() override;
  // Reads at most limit frames into the queued buffers.
  void Capture(uint64_t limit);
  long ReadInto(WAVEHDR* header, uint64_t limit);
  void Store(const uint8_t* bytes, std::size_t count);

  bool running_ = false;          // guarded by mutex_
  std::vector<uint8_t> carry_;    // bytes of a frame that did not fit; guarded by mutex_
  std::vector<uint8_t> staging_;  // one frame; guarded by mutex_
  std::atomic<uint64_t> overruns_{0};
};

uint32_t waveInGetNumDevs();
MMRESULT waveInGetDevCaps(int id, WAVEINCAPS& caps);
MMRESULT waveInGetErrorText(MMRESULT code, std::string& text);
// Opens device id (WAVE_MAPPER: the default device). With WAVE_FORMAT_QUERY only tests
// the format and leaves handle empty.
MMRESULT waveInOpen(std::unique_ptr<WaveInDevice>& handle, int id, const WaveFormatEx& format,
                    WaveCallback callback, uint32_t flags);


}  // namespace pmx
