#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/core/chain/sound_component.h"
#include "audio/core/chain/wave_device_common.h"
#include "audio/core/objects/mm_types.h"
#include "platform/alsa/wave_in_device.h"
#include "platform/exception.h"

namespace pmx {

class EMMWaveInError : public Exception {
 public:
  using Exception::Exception;
};

// The capture thread of an open TMMCustomWaveIn in cmThread.
class TMMWaveInThread final : public TMMWaveDeviceThread {
 public:
  TMMWaveInThread(TMMDSPComponent* component, Failure failure)
      : TMMWaveDeviceThread("pmx-capture", component, std::move(failure)) {}
};

// The capture device of the chain: keeps NumBuffers buffers queued at a wave-in
// device and pushes each filled one down Output on the thread CallBackMode names
// (the GUI thread in cmWindow, its TMMWaveInThread in cmThread). Stopping pushes
// whatever the device had captured; overruns of the device are counted with the
// frames they lost. A device that fails for good (unplugged) pushes what it had
// captured, then OnError fires on the handler thread and Failure() says why; the
// component stays started until it is stopped.
//
// Threads: properties and Open, Close, Start, Pause, Restart, Stop belong to the
// GUI thread; Stop may also come from inside a buffer handler (a downstream node,
// or the recording limit), and then completes on the GUI thread once the handler
// has returned. Buffer handlers run one at a time on the handler thread; the
// queued count, the handler depth and the stop flags are guarded by the device's
// mutex, and so are the wrap counter, which GetPosition reads on the GUI thread,
// and the failure text. The
// recorded byte count is the handler thread's while started (reset by Start
// before any buffer is queued). The handler bookkeeping is TMMWaveDevice's.
class TMMCustomWaveIn : public TMMWaveDeviceComponent<TMMCustomSoundComponent> {
 public:
  static constexpr int32_t kMaxBuffers = 4096;

  explicit TMMCustomWaveIn(TComponent* owner = nullptr);
  ~TMMCustomWaveIn() override;

  static std::string GetWaveInDeviceName(int index);

  void SetPWaveFormat(PWaveFormatEx f) override;
  void SetBufferSize(int32_t n) override;

  TMMMode Mode() const;
  void SetMode(TMMMode value);
  int Channels() const { return channels_; }
  void SetChannels(int value);
  TMMBits BitLength() const { return bits_; }
  void SetBitLength(TMMBits value);
  int SampleRate() const { return sample_rate_; }
  void SetSampleRate(int value);
  TMMTimeFormats TimeFormat() const { return time_format_; }
  void SetTimeFormat(TMMTimeFormats value);
  int32_t MaxRecordTime() const { return max_record_time_; }
  void SetMaxRecordTime(int32_t value);
  // Overruns of the device since the last Open: each lost captured audio, in all
  // LostFrames frames.
  uint64_t Overruns() const;
  uint64_t LostFrames() const;
  // Why the device failed while started ("read: No such device"); empty while it
  // works. Cleared by Open.
  std::string Failure() const;

  // Position in TimeFormat units since Start.
  int64_t GetPosition();

  // Fires OnError and raises EMMWaveInError.
  [[noreturn]] void Error(const std::string& message) override;
  virtual void Open();
  virtual void Close();
  virtual void Start();
  virtual void Pause();
  virtual void Restart();
  virtual void Stop();

  void Opened() override;
  void Closed() override;
  void Started() override;
  void Paused() override;
  void Restarted() override;
  void Stopped() override;
  void BufferReady(WAVEHDR* lpWaveHdr) override;


 private:
  void FormatChanged();
  // A property value the format already has; while a codec format is set none is,
  // so setting any PCM property brings back a PCM format.
  bool Holds(int value, int current) const;
  void ComputeByteLimit();
  int64_t ToBytes(int64_t value) const;
  int64_t FromBytes(int64_t bytes) const;
  // Runs a lifecycle step; an error fires OnError, closes (with state first set to
  // state_on_error when given) and goes on.
  template <class Step>
  void Guarded(Step step, unsigned state_on_error = 0);
  void OpenDevice();
  void CloseDevice();
  void AddBuffer(WAVEHDR* header);
  // wake: the device's I/O thread is to be woken (WakeIoThread).
  MMRESULT QueueAgain(WAVEHDR* header, bool& wake);
  // Device callback and handlers.
  WaveCallback DeviceCallback();
  void BufferDone(WAVEHDR* header);
  void HandleBuffer(WAVEHDR* header);
  void EndHandler();
  void HandlerFailed(std::exception_ptr error);
  void DeviceFailed();

  int channels_ = 1;
  TMMBits bits_ = TMMBits::b8Bit;
  int sample_rate_ = 11025;
  TMMTimeFormats time_format_ = TMMTimeFormats::tfByte;
  int32_t max_record_time_ = -1;
  int64_t byte_limit_ = INT32_MAX;
  int64_t recorded_ = 0;  // handler thread while started

  std::unique_ptr<WaveInDevice> handle_;  // GUI thread; handlers use it while started
  uint64_t closed_overruns_ = 0;          // GUI thread
  uint64_t closed_lost_ = 0;              // GUI thread
  std::string failure_;                   // guarded by device_.mutex
};

class TMMWaveIn : public TMMCustomWaveIn {
 public:
  using TMMCustomWaveIn::TMMCustomWaveIn;
};

}  // namespace pmx
