#include "platform/wave_in_device.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace pmx {

WaveInDevice::WaveInDevice(int id, const WaveFormatEx& format, std::unique_ptr<WaveStream> stream,
                           WaveCallback callback)
    : WaveDevice(id, format, std::move(stream), std::move(callback), WIM_OPEN),
      staging_(Block()) {
  Launch();
}

WaveInDevice::WaveInDevice(int id, const WaveFormatEx& format, std::unique_ptr<WaveStream> stream,
                           WaveCallback callback, std::unique_ptr<WaveInEncoder> encoder)
    : WaveDevice(id, format, std::move(stream), std::move(callback), WIM_OPEN),
      staging_(Block()),
      encoder_(std::move(encoder)) {
  Launch();
}

WaveInDevice::~WaveInDevice() { Shutdown(); }

MMRESULT WaveInDevice::AddBuffer(WAVEHDR* header) {
  if (header == nullptr || header->dwBufferLength == 0) return MMSYSERR_INVALPARAM;
  MMRESULT result;
  {
    Lock lock(mutex_);
    if (header->dwFlags & WHDR_INQUEUE) return MMSYSERR_INVALPARAM;
    header->dwBytesRecorded = 0;
    result = Enqueue(header);
  }
  if (result == MMSYSERR_NOERROR) Wake();
  return result;
}

MMRESULT WaveInDevice::Start() {
  if (Closed()) return MMSYSERR_INVALHANDLE;
  {
    std::lock_guard stream(stream_mutex_);
    Lock lock(mutex_);
    if (failed_) return MMSYSERR_ERROR;
    if (!running_) {
      // PCM is read straight into the buffers: wake when one can be filled.
      if (!encoder_ && !queue_.empty() && Block() > 0) {
        stream_->SetWakeFrames(static_cast<uint32_t>(queue_.front()->dwBufferLength / Block()));
      }
      const int error = stream_->Start();
      if (error < 0) {
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
    std::lock_guard stream(stream_mutex_);
    Lock lock(mutex_);
    if (running_) {
      // What the device captured up to now belongs to this recording.
      const long ready = stream_->Avail();
      if (ready > 0) Capture(lock, static_cast<uint64_t>(ready));
      if (encoder_) {
        encoded_.clear();
        encoder_->Finish(encoded_);
        Store(encoded_.data(), encoded_.size());
      }
      if (!queue_.empty() && queue_.front()->dwBytesRecorded > 0) CompleteFront();
      stream_->Drop();
      stream_->Prepare();
      running_ = false;
    }
  }
  Wake();
  return MMSYSERR_NOERROR;
}

void WaveInDevice::Transfer(Lock& lock) {
  lock.unlock();
  std::lock_guard stream(stream_mutex_);
  lock.lock();
  if (running_ && !failed_) Capture(lock, std::numeric_limits<uint64_t>::max());
}

bool WaveInDevice::WantsDevice() const { return running_ && !queue_.empty(); }

void WaveInDevice::ResetLocked() {
  if (running_) {
    stream_->Drop();
    stream_->Prepare();
    running_ = false;
  }
  while (!queue_.empty()) {
    queue_.front()->dwBytesRecorded = 0;
    CompleteFront();
  }
  carry_.clear();
  if (encoder_) encoder_->Reset();
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
  while (limit > 0 && !queue_.empty()) {
    const long frames = encoder_ ? ReadEncoded(lock, limit) : ReadInto(lock, queue_.front(), limit);
    if (frames == -EAGAIN || frames == 0) return;
    if (frames == -EPIPE) {
      // Frames were lost: counted, and capture goes on.
      overruns_.fetch_add(1);
      lost_frames_.fetch_add(stream_->LostFrames());
      const int error = stream_->Prepare() < 0 ? -EIO : stream_->Start();
      if (error < 0) {
        Fail("restart after overrun", error);
        return;
      }
      continue;
    }
    if (frames < 0) {
      Fail("read", frames);
      return;
    }
    limit -= static_cast<uint64_t>(frames);
    position_ += static_cast<uint64_t>(frames);
  }
}

void WaveInDevice::Fail(const char* what, long error) {
  // Every byte captured before the failure goes to the owner.
  if (!queue_.empty() && queue_.front()->dwBytesRecorded > 0) CompleteFront();
  ReportFailure(what, error, true);
  running_ = false;
}

// The front header stays queued while the lock is let go: only Stop and Reset
// take it away, and they wait for stream_mutex_, which this read holds.
long WaveInDevice::ReadInto(Lock& lock, WAVEHDR* header, uint64_t limit) {
  const std::size_t block = Block();
  const std::size_t space = header->dwBufferLength - header->dwBytesRecorded;
  if (space < block) {
    // A frame that straddles two buffers.
    lock.unlock();
    const long frames = stream_->Read(staging_.data(), 1);
    lock.lock();
    if (frames > 0) Store(staging_.data(), block);
    return frames;
  }
  const uint64_t wanted = std::min<uint64_t>({space / block, limit, 1u << 20});
  lock.unlock();
  const long frames = stream_->Read(header->lpData + header->dwBytesRecorded,
                                    static_cast<uint32_t>(wanted));
  lock.lock();
  if (frames > 0) {
    header->dwBytesRecorded += static_cast<uint32_t>(static_cast<std::size_t>(frames) * block);
    if (header->dwBytesRecorded == header->dwBufferLength) CompleteFront();
  }
  return frames;
}

long WaveInDevice::ReadEncoded(Lock& lock, uint64_t limit) {
  // A chunk of about a tenth of a second keeps what waits for a buffer small.
  const uint64_t wanted = std::min<uint64_t>(limit, Format().nSamplesPerSec() / 10 + 1);
  staging_.resize(wanted * Block());
  lock.unlock();
  const long frames = stream_->Read(staging_.data(), static_cast<uint32_t>(wanted));
  lock.lock();
  if (frames > 0) {
    encoded_.clear();
    encoder_->Encode(staging_.data(), static_cast<std::size_t>(frames) * Block(), encoded_);
    Store(encoded_.data(), encoded_.size());
  }
  return frames;
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
