#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/alsa/capture_clock.h"
#include "platform/alsa/wave_device.h"
#include "platform/alsa/wave_in_encoder.h"

namespace pmx {

// A capture device. Buffers fill in order; a full one comes back with WIM_DATA.
// A read stuck in the driver holds up no call: Stop and Reset return at once,
// and the I/O thread drops the stream when the read comes back.
// Overruns of the device are recovered and counted with the frames they lost, and
// so is audio that the device lost without an overrun, found by its clock, also
// while the owner keeps no buffer queued. A
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
  // AddBuffer without the wake-up: wake says whether WakeIoThread is due, so that
  // a caller queueing under a lock of its own wakes the thread once it let go.
  MMRESULT QueueBuffer(WAVEHDR* header, bool& wake);
  void WakeIoThread() { Wake(); }
  MMRESULT Start();
  // Stops capturing; what the device had captured is taken first, and the buffer
  // being filled comes back with the bytes recorded so far. Empty buffers stay.
  MMRESULT Stop();
  // Overruns since open (audio lost without one included), and the frames they lost.
  uint64_t Overruns() const { return overruns_.load(); }
  uint64_t LostFrames() const { return lost_frames_.load(); }

 private:
  // How long Stop waits for a read that is out before it takes it as stuck.
  static constexpr std::chrono::milliseconds kReadPatience{200};
  // How often the clock is checked while no buffer is queued.
  static constexpr std::chrono::milliseconds kStarvedCheck{250};

  void Transfer(Lock& lock) override;
  bool WantsDevice() const override;
  int WaitTimeout() const override;
  void ResetLocked() override;
  uint64_t PositionBytes(uint64_t samples) const override;
  // Capture moves the position as it stores, so it is read without the lock that
  // the I/O thread holds while it stores and delivers.
  uint64_t CurrentPosition() override { return position_.load(); }
  // Under mutex_, with no read out.
  int StartStream();
  // Under mutex_: ends the run; the stream is dropped now, or by the I/O thread
  // once the read that is out comes back.
  void StopStream();
  // Under mutex_, on the I/O thread with no read out: the drop and start that a
  // stuck read held back.
  void SettleStream();
  // Reads at most limit frames into the queued buffers; lock (on mutex_) held, and
  // let go during each read of the device.
  void Capture(Lock& lock, uint64_t limit);
  long Read(Lock& lock, uint64_t wanted);
  uint64_t ChunkFrames() const;
  // Under mutex_, with every frame ready read: counts the audio the device lost
  // without an overrun.
  void CheckClock();
  // Completes the partly filled buffer and reports the failure.
  void Fail(const char* what, long error);
  void Store(const uint8_t* bytes, std::size_t count);
  // Stores what a read brought into staging_; lock (on mutex_) held, let go during
  // the copy into a buffer it fits.
  void StoreRead(Lock& lock, std::size_t bytes);
  // The smallest piece a buffer takes: a codec block, or a byte for PCM.
  std::size_t Unit() const { return encoder_ ? encoder_->Codec().nBlockAlign() : 1; }

  bool running_ = false;          // guarded by mutex_
  // A thread reads the device without the lock; it alone uses the stream until
  // the read is back and stored (the copy into a buffer also runs without the
  // lock). This and the fields down to epoch_ are guarded by mutex_.
  bool reading_ = false;
  std::condition_variable read_done_;  // reading_ went false
  bool stop_waiting_ = false;     // Stop waits for the read: start no other
  bool drop_pending_ = false;     // a stop overtook the read
  bool start_pending_ = false;    // and a start followed it
  uint64_t epoch_ = 0;            // counts stops and resets: a read that returns
                                  // into a later one is dropped
  std::vector<uint8_t> carry_;    // bytes of a frame that did not fit; guarded by mutex_
  std::vector<uint8_t> staging_;  // the read's chunk; used by the reader alone
  CaptureClock clock_;            // guarded by mutex_
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
