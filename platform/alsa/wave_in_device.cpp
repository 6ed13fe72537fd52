#include "platform/alsa/wave_in_device.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "platform/hand_over_copy.h"

namespace pmx {

WaveInDevice::WaveInDevice(int id, const WaveFormatEx& format, std::unique_ptr<WaveStream> stream,
                           WaveCallback callback)
    : WaveDevice(id, format, std::move(stream), std::move(callback), WIM_OPEN) {
  clock_.SetRate(format.nSamplesPerSec());
  Launch("pmx-alsa-in");
}

WaveInDevice::WaveInDevice(int id, const WaveFormatEx& format, std::unique_ptr<WaveStream> stream,
                           WaveCallback callback, std::unique_ptr<WaveInEncoder> encoder)
    : WaveDevice(id, format, std::move(stream), std::move(callback), WIM_OPEN),
      encoder_(std::move(encoder)) {
  clock_.SetRate(format.nSamplesPerSec());
  Launch("pmx-alsa-in");
}

WaveInDevice::~WaveInDevice() { Shutdown(); }

MMRESULT WaveInDevice::AddBuffer(WAVEHDR* header) {
  bool wake = false;
  const MMRESULT result = QueueBuffer(header, wake);
  if (wake) Wake();
  return result;
}

MMRESULT WaveInDevice::QueueBuffer(WAVEHDR* header, bool& wake) {
  wake = false;
  if (header == nullptr || header->dwBufferLength == 0) return MMSYSERR_INVALPARAM;
  Lock lock(mutex_);
  if (header->dwFlags & WHDR_INQUEUE) return MMSYSERR_INVALPARAM;
  header->dwBytesRecorded = 0;
  const MMRESULT result = Enqueue(header);
  // An I/O thread that watches the device with buffers queued is woken by the
  // device; only one that ran out of buffers waits for this one.
  wake = result == MMSYSERR_NOERROR && IdleWaiting();
  return result;
}

MMRESULT WaveInDevice::Start() {
  if (Closed()) return MMSYSERR_INVALHANDLE;
  {
    Lock lock(mutex_);
    if (failed_) return MMSYSERR_ERROR;
    if (!running_) {
      // A read that a stop overtook still owns the stream: the I/O thread starts
      // it once that read has come back.
      if (reading_) {
        start_pending_ = true;
      } else if (const int error = StartStream(); error < 0) {
        ReportFailure("start", error);
        return MMSYSERR_ERROR;
      }
      running_ = true;
    }
  }
  Wake();
  return MMSYSERR_NOERROR;
}

MMRESULT WaveInDevice::Stop() {
  if (Closed()) return MMSYSERR_INVALHANDLE;
  {
    Lock lock(mutex_);
    if (running_) {
      // What the device captured up to now belongs to this recording: a read
      // that is out comes back within a moment, unless it is stuck in the driver,
      // and then the stop goes on without it.
      stop_waiting_ = true;
      read_done_.wait_for(lock, kReadPatience, [this] { return !reading_; });
      stop_waiting_ = false;
      const long ready = reading_ ? 0 : stream_->Avail();
      if (ready > 0) Capture(lock, static_cast<uint64_t>(ready));
      if (encoder_) {
        encoded_.clear();
        encoder_->Finish(encoded_);
        Store(encoded_.data(), encoded_.size());
      }
      if (!queue_.empty() && queue_.front()->dwBytesRecorded > 0) CompleteFront();
      StopStream();
    }
  }
  Wake();
  return MMSYSERR_NOERROR;
}

void WaveInDevice::Transfer(Lock& lock) {
  if (reading_) return;
  SettleStream();
  if (!running_ || failed_) return;
  Capture(lock, std::numeric_limits<uint64_t>::max());
  // No buffer to read into: the owner is behind (a slow disk). What the device
  // drops meanwhile is found now, not once the owner has caught up.
  if (running_ && !failed_ && !reading_ && queue_.empty()) CheckClock();
}

bool WaveInDevice::WantsDevice() const { return running_ && !queue_.empty() && !reading_; }

int WaveInDevice::WaitTimeout() const {
  return running_ && queue_.empty() ? static_cast<int>(kStarvedCheck.count()) : -1;
}

void WaveInDevice::ResetLocked() {
  if (running_) StopStream();
  while (!queue_.empty()) {
    queue_.front()->dwBytesRecorded = 0;
    CompleteFront();
  }
  carry_.clear();
  if (encoder_) encoder_->Reset();
}

int WaveInDevice::StartStream() {
  // PCM is read in pieces of the buffers: wake when one can be filled.
  if (!encoder_ && !queue_.empty() && Block() > 0) {
    stream_->SetWakeFrames(static_cast<uint32_t>(queue_.front()->dwBufferLength / Block()));
  }
  clock_.Rebase(position_.load());
  return stream_->Start();
}

void WaveInDevice::StopStream() {
  ++epoch_;
  running_ = false;
  start_pending_ = false;
  if (reading_) {
    drop_pending_ = true;
    return;
  }
  stream_->Drop();
  stream_->Prepare();
}

void WaveInDevice::SettleStream() {
  if (drop_pending_) {
    drop_pending_ = false;
    stream_->Drop();
    stream_->Prepare();
  }
  if (!start_pending_) return;
  start_pending_ = false;
  if (const int error = StartStream(); error < 0) Fail("start", error);
}

uint64_t WaveInDevice::PositionBytes(uint64_t samples) const {
  if (!encoder_) return WaveDevice::PositionBytes(samples);
  const WaveFormatEx& codec = encoder_->Codec();
  return samples * codec.nAvgBytesPerSec() / codec.nSamplesPerSec();
}

void WaveInDevice::Capture(Lock& lock, uint64_t limit) {
  if (!carry_.empty() && !queue_.empty()) {
    std::vector<uint8_t> carried;
    carried.swap(carry_);
    Store(carried.data(), carried.size());
  }
  const uint64_t epoch = epoch_;
  while (limit > 0 && !queue_.empty() && !stop_waiting_) {
    const uint64_t wanted = std::min<uint64_t>(limit, ChunkFrames());
    const long frames = Read(lock, wanted);
    if (epoch != epoch_) return;  // stopped or reset while the read was out
    if (frames == -EAGAIN || frames == 0) {
      CheckClock();
      return;
    }
    if (frames == -EPIPE) {
      // Frames were lost: counted, and capture goes on. A device that cannot be
      // restarted has failed rather than overrun (a sound server gone away also
      // reports an overrun), so its failure is reported instead of a loss guessed
      // from time stamps that then mean nothing.
      const uint64_t lost = stream_->LostFrames();
      const int error = stream_->Prepare() < 0 ? -EIO : stream_->Start();
      if (error < 0) {
        Fail("restart after overrun", error);
        return;
      }
      overruns_.fetch_add(1);
      lost_frames_.fetch_add(lost);
      clock_.Rebase(position_.load());
      continue;
    }
    if (frames < 0) {
      Fail("read", frames);
      return;
    }
    limit -= static_cast<uint64_t>(frames);
    position_ += static_cast<uint64_t>(frames);
    // A short read took all the device had.
    if (static_cast<uint64_t>(frames) < wanted) CheckClock();
  }
}

// A sound server that drops what its client did not take in time (during a long
// disk stall) reports no overrun: the frames simply never arrive.
void WaveInDevice::CheckClock() {
  WaveStream::Clock now;
  if (!stream_->ReadClock(now)) return;
  const uint64_t lost = clock_.Check(position_.load() + now.ready, now.stamp_ns, now.unseen);
  if (lost == 0) return;
  overruns_.fetch_add(1);
  lost_frames_.fetch_add(lost);
}

void WaveInDevice::Fail(const char* what, long error) {
  // Every byte captured before the failure goes to the owner.
  if (!queue_.empty() && queue_.front()->dwBytesRecorded > 0) CompleteFront();
  ReportFailure(what, error, true);
  running_ = false;
}

// The read goes into staging_, never into a queued buffer: a stop or reset may
// hand every buffer back while the read is out. What it brings after one of them
// belongs to no recording and is dropped.
long WaveInDevice::Read(Lock& lock, uint64_t wanted) {
  // Grown only: a resize that grows fills the new bytes with zeros first.
  if (staging_.size() < wanted * Block()) staging_.resize(wanted * Block());
  const uint64_t epoch = epoch_;
  reading_ = true;
  lock.unlock();
  const long frames = stream_->Read(staging_.data(), static_cast<uint32_t>(wanted));
  lock.lock();
  if (frames > 0 && epoch == epoch_) {
    const std::size_t bytes = static_cast<std::size_t>(frames) * Block();
    if (encoder_) {
      encoded_.clear();
      encoder_->Encode(staging_.data(), bytes, encoded_);
      Store(encoded_.data(), encoded_.size());
    } else {
      StoreRead(lock, bytes);
    }
  }
  reading_ = false;
  read_done_.notify_all();
  return frames;
}

// The copy into the front buffer runs without the lock, so that queueing a buffer
// or reading the position never waits for it. The read still counts as out
// (reading_), so no other thread stores meanwhile; what it copies only counts if
// no stop or reset came in between.
void WaveInDevice::StoreRead(Lock& lock, std::size_t bytes) {
  WAVEHDR* header = queue_.empty() || !carry_.empty() ? nullptr : queue_.front();
  const std::size_t space = header ? header->dwBufferLength - header->dwBytesRecorded : 0;
  if (bytes > space) {
    Store(staging_.data(), bytes);
    return;
  }
  char* to = header->lpData + header->dwBytesRecorded;
  const uint64_t epoch = epoch_;
  lock.unlock();
  HandOverCopy(to, staging_.data(), bytes);
  lock.lock();
  if (epoch != epoch_) return;
  header->dwBytesRecorded += static_cast<uint32_t>(bytes);
  if (header->dwBufferLength - header->dwBytesRecorded < Unit()) CompleteFront();
}

uint64_t WaveInDevice::ChunkFrames() const {
  // A codec takes chunks of about a tenth of a second, which keeps what waits for
  // a buffer small. PCM takes what every queued buffer has room for, up to half a
  // second, a frame at least: each read of a sound server's device costs its lock
  // and a hand-over, so a wake-up that finds several buffers' worth reads it once.
  if (encoder_) return Format().nSamplesPerSec() / 10 + 1;
  std::size_t space = 0;
  for (const WAVEHDR* header : queue_) space += header->dwBufferLength - header->dwBytesRecorded;
  return std::clamp<uint64_t>(space / Block(), 1, std::max<uint64_t>(Format().nSamplesPerSec() / 2, 1));
}

void WaveInDevice::Store(const uint8_t* bytes, std::size_t count) {
  const std::size_t unit = Unit();
  while (count > 0 && !queue_.empty()) {
    WAVEHDR* header = queue_.front();
    const std::size_t space = header->dwBufferLength - header->dwBytesRecorded;
    const std::size_t take = std::min<std::size_t>(count, space - space % unit);
    std::memcpy(header->lpData + header->dwBytesRecorded, bytes, take);
    header->dwBytesRecorded += static_cast<uint32_t>(take);
    bytes += take;
    count -= take;
    if (header->dwBufferLength - header->dwBytesRecorded < unit) CompleteFront();
  }
  carry_.insert(carry_.end(), bytes, bytes + count);
}

namespace {

MMRESULT OpenEncoded(std::unique_ptr<WaveInDevice>& handle, int id, const WaveFormatEx& format,
                     WaveCallback callback, uint32_t flags) {
  WaveFormatEx pcm;
  if (!WaveInEncoder::CaptureFormat(format, pcm)) return WAVERR_BADFORMAT;
  std::unique_ptr<WaveStream> stream;
  const MMRESULT result = OpenWaveStream(WaveDirection::kInput, id, pcm, flags, stream);
  if (result != MMSYSERR_NOERROR || !stream) return result;
  try {
    auto encoder = std::make_unique<WaveInEncoder>(pcm, format);
    handle = std::make_unique<WaveInDevice>(id, pcm, std::move(stream), std::move(callback),
                                            std::move(encoder));
  } catch (const std::system_error&) {
    return MMSYSERR_NOMEM;  // no I/O thread
  } catch (const std::runtime_error&) {
    return WAVERR_BADFORMAT;
  }
  return MMSYSERR_NOERROR;
}

}  // namespace

uint32_t waveInGetNumDevs() { return WaveDriver::Instance().NumDevs(WaveDirection::kInput); }

MMRESULT waveInGetDevCaps(int id, WAVEINCAPS& caps) {
  return GetWaveDevCaps(WaveDirection::kInput, id, caps);
}

MMRESULT waveInGetErrorText(MMRESULT code, std::string& text) { return WaveErrorText(code, text); }

MMRESULT waveInOpen(std::unique_ptr<WaveInDevice>& handle, int id, const WaveFormatEx& format,
                    WaveCallback callback, uint32_t flags) {
  const MMRESULT result =
      OpenWaveDevice(WaveDirection::kInput, handle, id, format, callback, flags);
  if (result != WAVERR_BADFORMAT || format.wFormatTag() == WAVE_FORMAT_PCM) return result;
  return OpenEncoded(handle, id, format, std::move(callback), flags);
}

}  // namespace pmx
