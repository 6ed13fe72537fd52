#include "audio/core/chain/wave_device_common.h"

#include <algorithm>
#include <new>
#include <utility>

#include "audio/core/dsp/wave_format.h"
#include "audio/core/objects/mm_strings.h"
#include "audio/core/objects/utilities.h"
#include "platform/alsa/wave_in_device.h"
#include "platform/main_loop.h"
#include "platform/ui_hook.h"
#include "platform/wake_batch.h"

namespace pmx {

TMMWaveDeviceThread::TMMWaveDeviceThread(std::string name, TMMDSPComponent* component,
                                         Failure failure)
    : TMMDSPThread(std::move(name), component), failure_(std::move(failure)) {}

TMMWaveDeviceThread::~TMMWaveDeviceThread() { Stop(); }

void TMMWaveDeviceThread::Enqueue(std::function<void()> work) {
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(work));
}

void TMMWaveDeviceThread::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_one();
  Terminate();
  WaitFor();
}

bool TMMWaveDeviceThread::Next(std::function<void()>& work) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return stop_ || !queue_.empty(); });
  if (stop_) return false;
  work = std::move(queue_.front());
  queue_.pop_front();
  return true;
}

void TMMWaveDeviceThread::ExecuteDSP() {
  std::function<void()> work;
  while (Next(work)) {
    try {
      work();
    } catch (...) {
      failure_(std::current_exception());
    }
  }
}

std::string WaveCallError(const char* call, MMRESULT result) {
  std::string text;
  if (WaveErrorText(result, text) != MMSYSERR_NOERROR) {
    text = LoadMMResString(SErrorOutOfRange);
  }
  return std::string(call) + ":\n\r" + text.substr(0, 255);
}

void TMMWrapCounter::Track(uint32_t position) {
  if (position < last && last - position >= 0xFFFF) {
    modulus = (last & 0xFFF00000u) | 0x000FFFFFu;
    ++count;
  }
  last = position;
}

TMMWaveDevice::TMMWaveDevice(Kind kind, Raise raise)
    : kind_(std::move(kind)),
      raise_(std::move(raise)),
      blocks_(kind_.max_buffers, nullptr) {
  SetDeviceID(0);
}

TMMWaveDevice::~TMMWaveDevice() {
  *alive_ = false;
  StopThread();
  FreeBlocks();
}

void TMMWaveDevice::Error(const std::string& message) const {
  raise_(message);
  throw Exception(message);  // only when the component's raise did not
}

void TMMWaveDevice::Check(const char* call, MMRESULT result) const {
  if (result != MMSYSERR_NOERROR) Error(WaveCallError(call, result));
}

void TMMWaveDevice::CheckClosed() const {
  if (Has(wsOpen)) Error(LoadMMResString(SChangePropertyWhileOpen));
}

void TMMWaveDevice::SetNumBuffers(int32_t value) {
  CheckClosed();
  if (value >= 2) num_buffers_ = std::min(value, kind_.max_buffers);
}

int32_t TMMWaveDevice::NewBufferSize(int32_t value) {
  CheckClosed();
  allocator_.FreeAll();
  return std::max<int32_t>(value, 32);
}

void TMMWaveDevice::SetDeviceID(TMMDeviceId value) {
  CheckClosed();
  product_name_.reset();
  const bool valid = value >= MapperId && WaveDriver::Instance().HasDevice(kind_.direction, value);
  device_id_ = valid ? value : InvalidId;
}

const std::string& TMMWaveDevice::ProductName() const {
  if (!product_name_) {
    const std::string name =
        device_id_ == InvalidId ? std::string() : DeviceName(kind_.direction, device_id_);
    product_name_ = name.empty() ? kind_.no_device : name;
  }
  return *product_name_;
}

std::string TMMWaveDevice::DeviceName(WaveDirection direction, int index) {
  WaveDeviceCaps caps;
  if (index < MapperId || !WaveDriver::Instance().HasDevice(direction, index) ||
      WaveDriver::Instance().GetCaps(direction, index, caps) != MMSYSERR_NOERROR) {
    return {};
  }
  return caps.name;
}

void TMMWaveDevice::SetCallBackMode(TMMCBMode value) {
  CheckClosed();
  if (value == TMMCBMode::cmCallback && !kWin95) {
    ShowMessageBox(
        "\"CallBacks\" are called at interrupt time !\n\rThis is currently only supported under "
        "Windows 95",
        kind_.caption);
    return;
  }
  mode_ = value;
}

void TMMWaveDevice::SetPriority(TThreadPriority value) {
  priority_ = value;
  std::lock_guard lock(mutex);
  if (thread_) SetMMThreadPriority(*thread_, value);
}

void TMMWaveDevice::Open(PWaveFormatEx format, const std::string& no_format,
                         const std::function<void()>& on_error, const std::function<void()>& close,
                         const std::function<void()>& open_device) {
  if (!WaveDriver::Instance().HasDevice(kind_.direction, 0)) Error(kind_.no_device);
  if (device_id_ == InvalidId) Error(LoadMMResString(SInvalidDeviceID));
  if (!format) Error(no_format);
  if (Has(wsOpen)) close();
  if (Has(wsOpen) || closing_) return;
  Guarded(open_device, [&] {
    on_error();
    SetState(wsOpen);
    close();
    SetState(wsClosed);
  });
}

void TMMWaveDevice::PrepareOpen(const WaveFormatEx& format, const std::string& refused) {
  ResetHandlers();
  failed_ = false;
  if (!Supports(format)) Error(refused);
  NewEpoch();
  ClearNotifications();
}

void TMMWaveDevice::AwaitOpened(const char* call, std::chrono::milliseconds timeout) {
  if (!WaitNotification(true, timeout)) {
    Error(std::string(call) + ":\n\r" + LoadMMResString(SUnableToOpenDevice));
  }
  SetState(wsOpen);
}

void TMMWaveDevice::HandlerFailed(std::exception_ptr error, std::function<void()> close) {
  failed_ = true;
  PostToGui(std::move(close));
  HandleApplicationException(std::move(error));
}

bool TMMWaveDevice::Supports(const WaveFormatEx& format) const {
  // Capture reaches a codec format through the codec registry as well.
  std::unique_ptr<WaveInDevice> in;
  std::unique_ptr<WaveStream> out;
  const MMRESULT answer =
      kind_.direction == WaveDirection::kInput
          ? waveInOpen(in, device_id_, format, nullptr, WAVE_FORMAT_QUERY)
          : OpenWaveStream(kind_.direction, device_id_, format, WAVE_FORMAT_QUERY, out);
  if (answer != MMSYSERR_NOERROR) return false;
  if (format.wFormatTag() != WAVE_FORMAT_PCM) return true;
  WaveDeviceCaps caps;
  if (WaveDriver::Instance().GetCaps(kind_.direction, device_id_, caps) != MMSYSERR_NOERROR) {
    return false;
  }
  const uint32_t bit =
      StandardWaveFormatBit(format.nSamplesPerSec(), format.nChannels(), format.wBitsPerSample());
  return bit == 0 || (caps.formats & bit) != 0;
}

WaveCallback TMMWaveDevice::Callback(std::function<void(WAVEHDR*)> done_work) {
  return [this, done_work = std::move(done_work)](WaveDevice&, uint32_t message, WAVEHDR* header) {
    if (header) {
      done_work(header);
      return;
    }
    {
      std::lock_guard lock(mutex);
      const bool open = message == WIM_OPEN || message == WOM_OPEN;
      (open ? open_notified_ : close_notified_) = true;
    }
    Changed();
  };
}

bool TMMWaveDevice::WaitNotification(bool open, std::chrono::milliseconds timeout) {
  return Await(
      [this, open] {
        std::lock_guard lock(mutex);
        return open ? open_notified_ : close_notified_;
      },
      timeout);
}

void TMMWaveDevice::ClearNotifications() {
  std::lock_guard lock(mutex);
  open_notified_ = close_notified_ = false;
}

void TMMWaveDevice::DispatchBuffer(std::function<void()> handler,
                                   std::function<void(std::exception_ptr)> failed,
                                   const std::function<bool()>& admit) {
  uint64_t of_epoch;
  bool admitted;
  {
    std::lock_guard lock(mutex);
    admitted = !admit || admit();
    if (admitted) ++handlers.pending;
    of_epoch = epoch.load();
  }
  Changed();
  if (!admitted) return;
  auto work = [this, of_epoch, handler = std::move(handler), failed = std::move(failed)] {
    if (!TakePending(of_epoch)) return;
    std::exception_ptr error;
    try {
      handler();
    } catch (...) {
      error = std::current_exception();
    }
    // Handed on only after the catch let go of it, and moved all the way, so the
    // thread that reports it holds the last reference and destroys it.
    if (error) failed(std::move(error));
    {
      std::lock_guard lock(mutex);
      --handlers.running;
    }
    Changed();
  };
  std::shared_ptr<TMMWaveDeviceThread> thread;
  {
    std::lock_guard lock(mutex);
    thread = thread_;
  }
  // Posted without the lock, which the handler thread takes first thing once woken.
  if (thread) {
    thread->Enqueue(std::move(work));
    WakeBatch::Wake(thread.get(), [thread] { thread->Signal(); });
  } else {
    PostToGui(std::move(work));
  }
}

void TMMWaveDevice::PostToGui(std::function<void()> work) {
  MainLoop::Instance().Post([alive = alive_, work = std::move(work)] {
    if (*alive) work();
  });
}

void TMMWaveDevice::StartThread(std::unique_ptr<TMMWaveDeviceThread> thread) {
  thread->SetPriority(priority_);
  if (!thread->Start()) {
    Error(std::string(kind_.thread_call) + ":\n\r" + LoadMMResString(SCouldNotCreateThread));
  }
  std::lock_guard lock(mutex);
  thread_ = std::move(thread);
}

void TMMWaveDevice::StopThread() {
  std::shared_ptr<TMMWaveDeviceThread> thread;
  {
    std::lock_guard lock(mutex);
    thread = thread_;
  }
  if (!thread) return;
  // Joined without the lock, which its work takes; a stopped thread still takes
  // (and drops) what the callback posts until it is gone.
  thread->Stop();
  std::lock_guard lock(mutex);
  thread_.reset();
}

WAVEHDR* TMMWaveDevice::AllocateBlock(int index, int32_t size) {
  if (blocks_[index]) return blocks_[index];
  void* block = allocator_.AllocBuffer(GMEM_ZEROINIT, sizeof(WAVEHDR) + static_cast<size_t>(size));
  if (!block) Error(LoadMMResString(SNoMemWaveHeader));
  auto* header = new (block) WAVEHDR;
  header->lpData = static_cast<char*>(block) + sizeof(WAVEHDR);
  header->dwBufferLength = static_cast<uint32_t>(size);
  blocks_[index] = header;
  return header;
}

int TMMWaveDevice::BlockCount() const {
  return static_cast<int>(std::count_if(blocks_.begin(), blocks_.end(),
                                        [](const WAVEHDR* h) { return h != nullptr; }));
}

void TMMWaveDevice::FreeBlocks() {
  for (WAVEHDR*& header : blocks_) {
    if (!header) continue;
    header->~WAVEHDR();
    allocator_.FreeBuffer(header);
    header = nullptr;
  }
}

MMRESULT TMMWaveDevice::ReadSamples(WaveDevice& handle, PWaveFormatEx format, uint32_t& samples) {
  MMTIME time{TIME_SAMPLES, 0};
  const MMRESULT result = handle.GetPosition(time);
  samples = time.wType == TIME_SAMPLES
                ? time.value
                : static_cast<uint32_t>(wfBytesToSamples(format, static_cast<int32_t>(time.value)));
  return result;
}

void TMMWaveDevice::Close(const std::function<void()>& stop,
                          const std::function<void()>& close_device) {
  if (!((Has(wsOpen) && !closing_) || close_pending_)) return;
  closing_ = true;
  try {
    if (Has(wsStarted | wsPaused)) stop();
  } catch (...) {
    // The stop has reported it; the device is taken down all the same.
  }
  if (DeferClose()) return;
  try {
    close_device();
  } catch (...) {
    EndClose();
  }
}

void TMMWaveDevice::MarkClosed() {
  SetState(wsClosed);
  {
    std::lock_guard lock(mutex);
    handlers.wraps.ClearWraps();
  }
  FreeBlocks();
  EndClose();
}

bool TMMWaveDevice::CloseHandle(WaveDevice& handle, const char* call) {
  handle.Reset();
  const MMRESULT result = handle.Close();
  const bool notified =
      result != MMSYSERR_NOERROR || WaitNotification(false, std::chrono::milliseconds(5000));
  Check(call, result);
  return notified;
}

bool TMMWaveDevice::DeferClose() {
  std::lock_guard lock(mutex);
  close_pending_ = handlers.stop_pending;
  return close_pending_;
}

void TMMWaveDevice::EnterHandler() {
  std::lock_guard lock(mutex);
  if (handlers.depth++ == 0) handler_thread_.store(std::this_thread::get_id());
}

bool TMMWaveDevice::LeaveHandler(bool drained) {
  bool post = false;
  {
    std::lock_guard lock(mutex);
    if (--handlers.depth == 0) {
      handler_thread_.store(std::thread::id());
      const bool wanted =
          handlers.stop_pending || (drained && handlers.queued == 0 && handlers.pending == 0);
      post = wanted && !handlers.stop_posted;
      if (post) handlers.stop_posted = handlers.stopping = true;
    }
  }
  Changed();
  return post;
}

void TMMWaveDevice::ResetHandlers() {
  std::lock_guard lock(mutex);
  const int pending = handlers.pending;
  const int running = handlers.running;
  handlers = {};
  handlers.pending = pending;
  handlers.running = running;
}

void TMMWaveDevice::NewEpoch() {
  std::lock_guard lock(mutex);
  ++epoch;
  handlers.pending = 0;
}

bool TMMWaveDevice::TakePending(uint64_t of_epoch) {
  std::lock_guard lock(mutex);
  if (of_epoch != epoch.load()) return false;
  // Counted as running at once: a flush must not find it between the two.
  --handlers.pending;
  ++handlers.running;
  return true;
}

bool TMMWaveDevice::AwaitIdle(std::chrono::milliseconds timeout) {
  const bool inside = InHandler();
  return Await(
      [this, inside] {
        std::lock_guard lock(mutex);
        return handlers.queued == 0 && (inside || (handlers.depth == 0 && handlers.pending == 0 &&
                                                handlers.running == 0));
      },
      timeout);
}

// The count goes up before done is first asked: a change made under the lock that
// done takes is either seen by done or followed by a Changed that sees the count.
bool TMMWaveDevice::Await(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  struct Counted {
    std::atomic<int>& count;
    explicit Counted(std::atomic<int>& c) : count(c) { count.fetch_add(1); }
    ~Counted() { count.fetch_sub(1); }
  } counted(awaiting_);
  return MainLoop::Instance().PumpUntil(done, timeout);
}

void TMMWaveDevice::Changed() {
  if (awaiting_.load() > 0) MainLoop::Instance().Wake();
}

}  // namespace pmx
