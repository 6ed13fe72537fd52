#include "platform/alsa/wave_device.h"


#include <cstring>
#include <utility>

#include "platform/main_loop.h"
#include "platform/thread_start.h"
#include "platform/wake_batch.h"

namespace pmx {

WaveDevice::WaveDevice(int id, const WaveFormatEx& format, std::unique_ptr<WaveStream> stream,
                       WaveCallback callback, uint32_t first_message)
    : stream_(std::move(stream)),
      position_(stream_->StartFrame()),
      id_(id),
      format_(format),
      callback_(callback ? std::move(callback) : [](WaveDevice&, uint32_t, WAVEHDR*) {}),
      open_message_(first_message) {}

WaveDevice::~WaveDevice() {
  // Derived destructors have already closed; this only guards against a thread left over.
  if (thread_.joinable()) thread_.join();
}

void WaveDevice::Launch(const char* name) {
  thread_ = std::thread([this, name] {
    BeginThread(name);
    Run();
  });
}

void WaveDevice::Shutdown() {
  if (closed_.load()) return;
  {
    Lock lock(mutex_);
    ResetLocked();
  }
  Close();
}

MMRESULT WaveDevice::PrepareHeader(WAVEHDR* header) {
  if (header == nullptr || header->lpData == nullptr) return MMSYSERR_INVALPARAM;
  Lock lock(mutex_);
  header->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT WaveDevice::UnprepareHeader(WAVEHDR* header) {
  if (header == nullptr) return MMSYSERR_INVALPARAM;
  Lock lock(mutex_);
  if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  header->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT WaveDevice::Reset() {
  if (closed_.load()) return MMSYSERR_INVALHANDLE;
  {
    Lock lock(mutex_);
    ResetLocked();
    position_ = 0;
  }
  Wake();
  return MMSYSERR_NOERROR;
}

uint64_t WaveDevice::CurrentPosition() {
  Lock lock(mutex_);
  // Buffers completed here go back from the I/O thread, which wakes for the
  // device or on time anyway, unless it waits for nothing but a Wake.
  const bool wake = RefreshPosition() && idle_waiting_;
  const uint64_t samples = position_.load();
  lock.unlock();
  if (wake) Wake();
  return samples;
}

MMRESULT WaveDevice::GetPosition(MMTIME& time) {
  if (closed_.load()) return MMSYSERR_INVALHANDLE;
  const uint64_t samples = CurrentPosition();
  if (time.wType == TIME_BYTES) {
    time.value = static_cast<uint32_t>(PositionBytes(samples));
  } else {
    time.wType = TIME_SAMPLES;
    time.value = static_cast<uint32_t>(samples);
  }
  return MMSYSERR_NOERROR;
}

MMRESULT WaveDevice::GetID(int& id) const {
  if (closed_.load()) return MMSYSERR_INVALHANDLE;
  id = id_;
  return MMSYSERR_NOERROR;
}

MMRESULT WaveDevice::Close() {
  if (closed_.load()) return MMSYSERR_INVALHANDLE;
  if (std::this_thread::get_id() == thread_.get_id()) return MMSYSERR_HANDLEBUSY;
  {
    Lock lock(mutex_);
    if (!queue_.empty()) return WAVERR_STILLPLAYING;
    if (closed_.exchange(true)) return MMSYSERR_INVALHANDLE;
    quit_ = true;
  }
  Wake();
  // A callback may be waiting for the GUI thread: keep serving it until the I/O
  // thread has finished.
  MainLoop& loop = MainLoop::Instance();
  if (loop.IsGuiThread()) loop.PumpUntil([this] { return finished_.load(); }, std::chrono::hours(1));
  thread_.join();
  stream_->Drop();
  return MMSYSERR_NOERROR;
}

MMRESULT WaveDevice::Enqueue(WAVEHDR* header) {
  if (closed_.load()) return MMSYSERR_INVALHANDLE;
  if (header == nullptr || header->lpData == nullptr) return MMSYSERR_INVALPARAM;
  if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  if (header->dwFlags & WHDR_INQUEUE) return MMSYSERR_INVALPARAM;
  header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
  queue_.push_back(header);
  return MMSYSERR_NOERROR;
}

void WaveDevice::CompleteFront() {
  WAVEHDR* header = queue_.front();
  queue_.pop_front();
  header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
  done_.push_back(header);
}

std::string WaveDevice::Failure() {
  Lock lock(mutex_);
  return failure_;
}

void WaveDevice::ReportFailure(const char* what, long error, bool notify) {
  // The handle keeps its buffers; the owner sees them come back at Stop or Reset.
  failed_ = true;
  failure_ = std::string(what) + ": " + stream_->ErrorText(error);
  failure_pending_ = notify;
}

void WaveDevice::Run() {
  callback_(*this, open_message_, nullptr);
  Lock lock(mutex_);
  for (;;) {
    if (!failed_) Transfer(lock);
    if (!done_.empty() && !delivering_) {
      DeliverDone(lock);
      continue;
    }
    if (failure_pending_) {
      failure_pending_ = false;
      lock.unlock();
      callback_(*this, WIM_FAILED, nullptr);
      lock.lock();
      continue;
    }
    if (quit_) break;
    const bool device = WantsDevice() && !failed_;
    const int timeout = failed_ ? -1 : WaitTimeout();
    idle_waiting_ = !device && timeout < 0;
    lock.unlock();
    stream_->Wait(device, timeout);
    lock.lock();
    idle_waiting_ = false;
  }
  lock.unlock();
  callback_(*this, open_message_ + 1, nullptr);
  finished_.store(true);
  MainLoop::Instance().Wake();
}

void WaveDevice::DeliverDone(Lock& lock) {
  // One thread at a time, so that buffers come back in the order they were queued.
  if (delivering_) return;
  delivering_ = true;
  while (!done_.empty()) {
    std::vector<WAVEHDR*> batch;
    batch.swap(done_);
    lock.unlock();
    {
      // A handler thread that takes the buffers runs once for them all.
      WakeBatch wakes;
      for (WAVEHDR* header : batch) callback_(*this, open_message_ + 2, header);
    }
    lock.lock();
  }
  delivering_ = false;
}

void WaveDevice::DeliverPending() {
  Lock lock(mutex_);
  DeliverDone(lock);
}

MMRESULT OpenWaveStream(WaveDirection direction, int id, const WaveFormatEx& format,
                        uint32_t flags, std::unique_ptr<WaveStream>& stream) {
  if (flags & ~(WAVE_FORMAT_QUERY | WAVE_MAPPED)) return MMSYSERR_INVALFLAG;
  if (id < WAVE_MAPPER) return MMSYSERR_BADDEVICEID;
  if (format.nChannels() == 0 || format.nSamplesPerSec() == 0 || format.nBlockAlign() == 0) {
    return WAVERR_BADFORMAT;
  }
  const bool query = (flags & WAVE_FORMAT_QUERY) != 0;
  return WaveDriver::Instance().Open(direction, id, format, query, stream);
}

}  // namespace pmx
