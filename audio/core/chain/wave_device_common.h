#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/core/chain/device_id.h"
#include "audio/core/objects/allocator.h"
#include "audio/core/objects/cb_mode.h"
#include "audio/core/objects/component.h"
#include "audio/core/objects/dsp_thread.h"
#include "audio/core/objects/mm_types.h"
#include "platform/alsa/wave_device.h"

namespace pmx {

// The handler thread of an open device in cmThread: runs the work the device's
// callback hands it, one item after the other, until stopped.
//
// Threads: Enqueue and Signal from any thread (the device's I/O thread); Start and Stop on the
// owner's thread. The queue and the stop flag are guarded by mutex_. Work that
// throws goes to the failure handler on this thread, and the thread goes on.
class TMMWaveDeviceThread : public TMMDSPThread {
 public:
  using Failure = std::function<void(std::exception_ptr)>;

  TMMWaveDeviceThread(std::string name, TMMDSPComponent* component, Failure failure);
  ~TMMWaveDeviceThread() override;

  // Queues work; the thread takes it once Signal wakes it.
  void Enqueue(std::function<void()> work);
  void Signal() { changed_.notify_one(); }
  // Ends the thread (work still queued is dropped) and joins it.
  void Stop();

 protected:
  void ExecuteDSP() override;

 private:
  bool Next(std::function<void()>& work);

  const Failure failure_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> queue_;
  bool stop_ = false;
};

// The state set of a device component.
enum TMMWaveState : unsigned { wsClosed = 1, wsOpen = 2, wsStarted = 4, wsPaused = 8 };

// "call:\n\r" followed by the driver's text for result.
std::string WaveCallError(const char* call, MMRESULT result);

// The 32-bit sample counter of a driver extended over its wraps. A fall of 0xFFFF
// or more counts a wrap whose modulus is guessed from the last value, so drivers
// that wrap below 2^32 are followed too.
struct TMMWrapCounter {
  uint32_t last = 0;
  uint32_t count = 0;
  uint32_t modulus = 0;

  void Track(uint32_t position);
  int64_t Extend(uint32_t position) const {
    return static_cast<int64_t>(count) * modulus + position;
  }
  void ClearWraps() { count = modulus = 0; }
};

// What the capture and the playing device components share: their device
// settings, the state set with the driver's open and close notifications, the
// blocks of header and data they queue at the driver, the hand-over of returned
// buffers to the GUI thread or to their own thread, and the error texts.
//
// Threads: settings, blocks and lifecycle belong to the owner's (GUI) thread. The
// state set and the count of threads inside Await are atomic. The driver's notifications arrive on the device's I/O thread
// and are guarded by mutex_; Dispatch runs there too and reads the handler thread
// under mutex_. Posted work reaches a component only while it lives (GUI thread).
class TMMWaveDevice {
 public:
  struct Kind {
    WaveDirection direction;
    int32_t max_buffers;
    std::string no_device;  // ProductName while there is no device
    const char* caption;    // of the callback-mode message
    const char* thread_call;  // call name of the thread start error
  };
  // Fires OnError and raises the component's error class; never returns.
  using Raise = std::function<void(const std::string& message)>;

  TMMWaveDevice(Kind kind, Raise raise);
  ~TMMWaveDevice();
  TMMWaveDevice(const TMMWaveDevice&) = delete;
  TMMWaveDevice& operator=(const TMMWaveDevice&) = delete;

  [[noreturn]] void Error(const std::string& message) const;
  // Raises the call's error unless result is success.
  void Check(const char* call, MMRESULT result) const;
  // Raises "Change to property while device was open" while open.
  void CheckClosed() const;

  int32_t NumBuffers() const { return num_buffers_; }
  void SetNumBuffers(int32_t value);
  // The clamped size; drops the pooled blocks.
  int32_t NewBufferSize(int32_t value);
  TMMDeviceId DeviceID() const { return device_id_; }
  void SetDeviceID(TMMDeviceId value);
  // Asked of the driver when first wanted: a device that is only recorded from
  // needs no look at its capabilities.
  const std::string& ProductName() const;
  TMMCBMode CallBackMode() const { return mode_; }
  void SetCallBackMode(TMMCBMode value);
  TThreadPriority Priority() const { return priority_; }
  void SetPriority(TThreadPriority value);
  // The capabilities name of device index (-1 the mapper); empty when none.
  static std::string DeviceName(WaveDirection direction, int index);

  // Whether the device takes format: the driver's query, and for PCM of a standard
  // layout and rate also the capabilities' bit.
  bool Supports(const WaveFormatEx& format) const;

  unsigned State() const { return state_.load(); }
  bool Has(unsigned bits) const { return (state_.load() & bits) != 0; }
  void SetState(unsigned bits) { state_.store(bits); }
  void AddState(unsigned bits) { state_.fetch_or(bits); }
  void RemoveState(unsigned bits) { state_.fetch_and(~bits); }

  // The device callback for a component whose buffer work is done_work; the
  // open and close notifications are kept for WaitNotification.
  WaveCallback Callback(std::function<void(WAVEHDR*)> done_work);
  // Waits (serving the GUI thread) for the open or close notification.
  bool WaitNotification(bool open, std::chrono::milliseconds timeout);
  void ClearNotifications();

  // Runs the handler of a returned buffer where CallBackMode says: posted to the
  // GUI thread (cmWindow) or to the handler thread (cmThread). It is counted as
  // pending until it is taken, then running until it returns (a flush waits for
  // both), and it runs only in the epoch it was dispatched in. An
  // error it raises goes to failed. admit, when given, runs first under mutex
  // and may refuse the buffer.
  void DispatchBuffer(std::function<void()> handler,
                      std::function<void(std::exception_ptr)> failed,
                      const std::function<bool()>& admit = nullptr);
  // Posts work to the GUI thread; it runs only while the component lives.
  void PostToGui(std::function<void()> work);
  void StartThread(std::unique_ptr<TMMWaveDeviceThread> thread);
  void StopThread();

  // Block index (header followed by size data bytes), allocated when missing.
  WAVEHDR* AllocateBlock(int index, int32_t size);
  WAVEHDR* Block(int index) const { return blocks_[index]; }
  int BlockCount() const;
  void FreeBlocks();

  // Waits until done holds, serving the GUI thread when called there; done takes
  // the locks it needs. Changed wakes it.
  bool Await(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // Wakes the main loop only while someone awaits this device: a GUI thread
  // waiting for something else is not woken for every buffer.
  void Changed();

  // The position of handle in samples (bytes converted when the device answers so).
  static MMRESULT ReadSamples(WaveDevice& handle, PWaveFormatEx format, uint32_t& samples);

  // A component's Open: the checks, a reopen of an open device, then open_device.
  // An error there fires on_error, closes the half-opened device with close and
  // goes on.
  void Open(PWaveFormatEx format, const std::string& no_format,
            const std::function<void()>& on_error, const std::function<void()>& close,
            const std::function<void()>& open_device);
  // open_device's first steps: fresh bookkeeping and epoch, and the format test
  // (refused raises the open call's refused text).
  void PrepareOpen(const WaveFormatEx& format, const std::string& refused);
  // Waits for the open notification; raises call's "Unable to open device" without.
  void AwaitOpened(const char* call, std::chrono::milliseconds timeout);
  // A handler failed: from now on buffers are only counted off, the component is
  // closed on the GUI thread and the error goes to the application's handler.
  void HandlerFailed(std::exception_ptr error, std::function<void()> close);
  bool Failed() const { return failed_.load(); }
  // A component's Close: nothing unless open (or a close is pending); stops it
  // with stop, leaves the close to a stop still pending (asked for inside a
  // handler), else takes the device down with close_device. Nothing gets out:
  // close_device reports its errors through Error.
  void Close(const std::function<void()>& stop, const std::function<void()>& close_device);
  // Closes handle (its buffers handed back first) and waits for the close
  // notification; false when it did not come. A failing close raises call's error.
  bool CloseHandle(WaveDevice& handle, const char* call);
  // After the device is gone: state {closed}, no wraps, the blocks back in the pool.
  void MarkClosed();
  // Runs a lifecycle step; on an error recover runs and the error goes on.
  template <class Step, class Recover>
  static void Guarded(Step step, Recover recover) {
    try {
      step();
    } catch (...) {
      recover();
      throw;
    }
  }
  bool Closing() const { return closing_; }
  bool ClosePending() const { return close_pending_; }
  void EndClose() { closing_ = close_pending_ = false; }

  // The buffer handlers' bookkeeping, guarded by mutex.
  struct Handlers {
    int queued = 0;  // buffers at the driver, not yet handled
    int depth = 0;   // handlers running (nested on the handler thread)
    int pending = 0;  // handed back by the driver, not yet taken by a handler
    int running = 0;  // taken by a handler that has not finished
    bool stop_pending = false;
    bool stopping = false;
    bool stop_posted = false;
    bool flushing = false;
    TMMWrapCounter wraps;
  };
  Handlers handlers;
  void ResetHandlers();
  // Raised by every flush, stop and open: work dispatched before it is dropped,
  // and no longer counted as pending.
  std::atomic<uint64_t> epoch{0};
  void NewEpoch();


  // True on the thread of a running handler.
  bool InHandler() const { return handler_thread_.load() == std::this_thread::get_id(); }
  void EnterHandler();
  // Leaves a handler; the outermost one, when a stop is pending (or drained holds
  // and no buffer is at the driver or on its way to a handler) and none was posted
  // yet, marks the stop posted and returns true: the caller completes the stop on
  // the GUI thread.
  bool LeaveHandler(bool drained);
  // Waits until the driver has handed back every buffer and no other handler runs
  // or waits to run.
  bool AwaitIdle(std::chrono::milliseconds timeout);

  mutable std::mutex mutex;

 private:
  bool TakePending(uint64_t of_epoch);
  bool DeferClose();

  const Kind kind_;
  const Raise raise_;
  int32_t num_buffers_ = 10;
  TMMDeviceId device_id_ = 0;
  mutable std::optional<std::string> product_name_;
  TMMCBMode mode_ = TMMCBMode::cmWindow;
  TThreadPriority priority_ = TThreadPriority::tpHigher;
  std::atomic<unsigned> state_{wsClosed};
  bool open_notified_ = false;   // guarded by mutex
  bool close_notified_ = false;  // guarded by mutex
  // Set and cleared under mutex; shared, so a post needs the lock only to find it.
  std::shared_ptr<TMMWaveDeviceThread> thread_;
  std::vector<WAVEHDR*> blocks_;
  TMMAllocator allocator_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // GUI thread
  std::atomic<std::thread::id> handler_thread_{};
  std::atomic<bool> failed_{false};
  std::atomic<int> awaiting_{0};  // threads inside Await
  bool closing_ = false;        // GUI thread
  bool close_pending_ = false;  // GUI thread
};

// A device component over Base (a sound component): its device settings are the
// device's, and it fires the same lifecycle events. The device is built with the
// component's kind and raises through the component's Error.
template <class Base>
class TMMWaveDeviceComponent : public Base {
 public:
  TMMWaveDeviceComponent(TComponent* owner, TMMWaveDevice::Kind kind)
      : Base(owner), device_(std::move(kind), [this](const std::string& message) { Error(message); }) {}

  int32_t NumBuffers() const override { return device_.NumBuffers(); }
  void SetNumBuffers(int32_t value) override { device_.SetNumBuffers(value); }
  TMMDeviceId DeviceID() const override { return device_.DeviceID(); }
  void SetDeviceID(TMMDeviceId value) override { device_.SetDeviceID(value); }
  std::string ProductName() const override { return device_.ProductName(); }
  void SetProductName(const std::string&) override {}
  TMMCBMode CallBackMode() const override { return device_.CallBackMode(); }
  void SetCallBackMode(TMMCBMode value) override { device_.SetCallBackMode(value); }
  TThreadPriority Priority() const { return device_.Priority(); }
  void SetPriority(TThreadPriority value) { device_.SetPriority(value); }

  // Fires OnError and raises the component's error class.
  [[noreturn]] virtual void Error(const std::string& message) = 0;

  TNotifyEvent OnError;
  TNotifyEvent OnOpen;
  TNotifyEvent OnStart;
  TNotifyEvent OnPause;
  TNotifyEvent OnRestart;
  TNotifyEvent OnStop;
  TNotifyEvent OnClose;

 protected:
  void Fire(const TNotifyEvent& event) {
    if (event) event(this);
  }

  TMMWaveDevice device_;
};

}  // namespace pmx
