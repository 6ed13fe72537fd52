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
#include <string>
#include <vector>

#include "audio/core/allocator.h"
#include "audio/core/cb_mode.h"
#include "audio/core/device_id.h"
#include "audio/core/dsp_thread.h"
#include "audio/core/mm_types.h"
#include "platform/wave_device.h"

namespace pmx {

// The handler thread of an open device in cmThread: runs the work the device's
// callback hands it, one item after the other, until stopped.
//
// Threads: Post from any thread (the device's I/O thread); Start and Stop on the
// owner's thread. The queue and the stop flag are guarded by mutex_. Work that
// throws goes to the failure handler on this thread, and the thread goes on.
class TMMWaveDeviceThread : public TMMDSPThread {
 public:
  using Failure = std::function<void(std::exception_ptr)>;

  TMMWaveDeviceThread(TMMDSPComponent* component, Failure failure);
  ~TMMWaveDeviceThread() override;

  void Post(std::function<void()> work);
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
// state set is atomic. The driver's notifications arrive on the device's I/O thread
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
  const std::string& ProductName() const { return product_name_; }
  TMMCBMode CallBackMode() const { return mode_; }
  void SetCallBackMode(TMMCBMode value);
  TThreadPriority Priority() const { return priority_; }
  void SetPriority(TThreadPriority value);
  uint32_t DeviceCount() const { return device_count_; }
  // The capabilities name of device index (-1 the mapper); empty when none.
  static std::string DeviceName(WaveDirection direction, int index);

  // Open's checks before anything is done: a device, a valid id, a format.
  void CheckOpenable(PWaveFormatEx format, const std::string& no_format) const;
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

  // Runs work for a returned buffer where CallBackMode says: posted to the GUI
  // thread (cmWindow) or to the handler thread (cmThread).
  void Dispatch(std::function<void()> work);
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
  static bool Await(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  static void Changed();

  mutable std::mutex mutex;

 private:
  const Kind kind_;
  const Raise raise_;
  int32_t num_buffers_ = 10;
  TMMDeviceId device_id_ = 0;
  std::string product_name_;
  TMMCBMode mode_ = TMMCBMode::cmWindow;
  TThreadPriority priority_ = TThreadPriority::tpHigher;
  uint32_t device_count_ = 0;
  std::atomic<unsigned> state_{wsClosed};
  bool open_notified_ = false;   // guarded by mutex
  bool close_notified_ = false;  // guarded by mutex
  std::unique_ptr<TMMWaveDeviceThread> thread_;  // set and cleared under mutex
  std::vector<WAVEHDR*> blocks_;
  TMMAllocator allocator_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // GUI thread
};

}  // namespace pmx
