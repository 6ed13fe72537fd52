#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/core/chain/sound_component.h"
#include "audio/core/chain/wave_device_common.h"
#include "audio/core/objects/mm_types.h"
#include "platform/alsa/wave_out_device.h"
#include "platform/exception.h"

namespace pmx {

class EMMWaveOutError : public Exception {
 public:
  using Exception::Exception;
};

// The done-buffer thread of an open TMMWaveOut in cmThread.
class TMMWaveOutThread final : public TMMWaveDeviceThread {
 public:
  TMMWaveOutThread(TMMDSPComponent* component, Failure failure)
      : TMMWaveDeviceThread("pmx-waveout", component, std::move(failure)) {}
};

// The playing device of the chain: pulls buffers from Input, keeps up to
// NumBuffers of them queued at a wave-out device, refills each as it comes back
// and stops by itself once the source is done and everything has played. Each
// played buffer is pushed on to Output, linked to the buffer sounding now.
//
// Threads: properties and Open, Close, Start, Pause, Restart, ResetDevice, Stop
// belong to the GUI thread; Stop may also come from inside a handler and then
// completes on the GUI thread. Done handlers (and so the pull through Input) run
// one at a time on the GUI thread (cmWindow) or on the TMMWaveOutThread (cmThread);
// the GUI thread primes the queue only while no handler runs (Start, or after a
// flush that waited for the handlers). The device's mutex guards the handler
// bookkeeping, the loop base and the position base; the rotation index and the
// loop counter belong to whichever of the two is filling.
class TMMWaveOut : public TMMWaveDeviceComponent<TMMCustomWaveOutComponent> {
 public:
  static constexpr int32_t kMaxBuffers = 500;

  explicit TMMWaveOut(TComponent* owner = nullptr);
  ~TMMWaveOut() override;

  static std::string GetWaveOutDeviceName(int index);

  void SetPWaveFormat(PWaveFormatEx f) override;
  void SetBufferSize(int32_t n) override;

  TMMTimeFormats TimeFormat() const { return time_format_; }
  void SetTimeFormat(TMMTimeFormats value) { time_format_ = value; }
  bool Looping() const { return looping_; }
  void SetLooping(bool value);
  uint16_t LoopCount() const { return loop_count_; }
  void SetLoopCount(uint16_t value);
  // Kept for forms; this layer shows no cursor.
  bool ShowHourGlass() const { return show_hour_glass_; }
  void SetShowHourGlass(bool value) { show_hour_glass_ = value; }
  bool Mapped() const { return mapped_; }
  void SetMapped(bool value) { mapped_ = value; }
  // The state set (TMMWaveState bits).
  unsigned State() const { return device_.State(); }
  // Underruns of the device since the last Open: each a gap in what was heard.
  uint64_t Underruns() const;

  int64_t GetPosition() override;
  void Open() override;
  void Close() override;
  void ResetDevice() override;
  void Start() override;
  void Pause() override;
  void Restart() override;
  void Stop() override;
  // Fires OnError and raises EMMWaveOutError.
  [[noreturn]] void Error(const std::string& message) override;

  void Opened() override { Open(); }
  void Closed() override { Close(); }
  void Started() override { Start(); }
  void Paused() override { Pause(); }
  void Restarted() override { Restart(); }
  void Stopped() override { Stop(); }
  // Buffers pushed from upstream are not played.
  void BufferReady(WAVEHDR*) override {}
  void BufferLoad(WAVEHDR* lpWaveHdr, bool& MoreBuffers) override;

  TMMBufferEvent OnBufferFilled;
  TNotifyEvent OnLooping;

 private:
  template <class Step>
  void Guarded(Step step, unsigned state_on_error = 0);
  void OpenDevice();
  void CloseDevice();
  void StopDevice();
  // Raises flushing, hands every queued buffer back and waits for the handlers.
  void Flush();
  // Loads and writes blocks 0, 1, ... while the source has data; the count written.
  int Prime();
  int32_t LoadBuffer(WAVEHDR* header);
  void Write(WAVEHDR* header);
  int64_t PlayedSamples();
  // Device callback and handlers.
  void BufferDone(WAVEHDR* header);
  void HandleDone(WAVEHDR* header);
  void PassOn(WAVEHDR* header);
  void NoteLoop(WAVEHDR* header);
  void Refill(WAVEHDR* header);
  void EndHandler();
  void HandlerFailed(std::exception_ptr error);

  TMMTimeFormats time_format_ = TMMTimeFormats::tfByte;
  bool looping_ = false;
  uint16_t loop_count_ = 0;
  bool show_hour_glass_ = true;
  bool mapped_ = false;

  std::unique_ptr<WaveOutDevice> handle_;  // GUI thread; handlers use it while started
  uint64_t closed_underruns_ = 0;          // GUI thread
  std::atomic<bool> more_{false};  // the source has more
  int index_ = 0;                  // the block playing now
  int filled_ = 0;                 // blocks in rotation
  int32_t loops_remaining_ = 0;
  bool reprime_ = false;           // GUI thread: a Pause emptied the queue
  int64_t position_base_ = 0;      // guarded by device_.mutex
  int64_t loop_base_ = 0;          // guarded by device_.mutex
};

}  // namespace pmx
