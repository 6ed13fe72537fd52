#include "platform/wave_out_device.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace pmx {

WaveOutDevice::WaveOutDevice(int id, const WaveFormatEx& format,
                             std::unique_ptr<WaveStream> stream, WaveCallback callback)
    : WaveDevice(id, format, std::move(stream), std::move(callback), WOM_OPEN),
      staging_(Block()) {
  Launch();
}

WaveOutDevice::~WaveOutDevice() { Shutdown(); }

MMRESULT WaveOutDevice::Write(WAVEHDR* header) {
  MMRESULT result;
  {
    Lock lock(mutex_);
    result = Enqueue(header);
    if (result != MMSYSERR_NOERROR) return result;
    entries_.push_back(Entry{header, end_});
    end_ += header->dwBufferLength;
    if (!failed_) Pump();
  }
  Wake();
  return result;
}

MMRESULT WaveOutDevice::Pause() {
  {
    Lock lock(mutex_);
    if (started_) Track();
    if (started_) {
      // What the device holds unplayed is dropped and written again at Restart.
      stream_->Drop();
      stream_->Prepare();
      written_ = played_;
      started_ = false;
      full_ = false;
    }
    paused_ = true;
  }
  Wake();
  return MMSYSERR_NOERROR;
}

MMRESULT WaveOutDevice::Restart() {
  {
    Lock lock(mutex_);
    paused_ = false;
    if (!failed_) Pump();
  }
  Wake();
  return MMSYSERR_NOERROR;
}

void WaveOutDevice::Pump() {
  Track();
  Feed();
  if (!started_ && !paused_ && written_ > played_) {
    const int error = stream_->Start();
    if (error < 0) {
      ReportFailure("start", error);
      return;
    }
    started_ = true;
  }
  if (started_ && written_ == played_ && !FrameWaiting()) Halt();
}

bool WaveOutDevice::WantsDevice() const { return started_ && full_; }

int WaveOutDevice::WaitTimeout() const {
  if (!started_ || full_) return -1;
  // Everything is written: look again when what is in flight should have played.
  const uint64_t ms = static_cast<uint64_t>(delay_) * 1000 / Format().nSamplesPerSec() + 1;
  return static_cast<int>(std::min<uint64_t>(ms, 100));
}

bool WaveOutDevice::RefreshPosition() { return Track(); }

void WaveOutDevice::ResetLocked() {
  stream_->Drop();
  stream_->Prepare();
  started_ = false;
  full_ = false;
  while (!entries_.empty()) {
    entries_.pop_front();
    CompleteFront();
  }
  end_ = written_ = played_ = 0;
  delay_ = 0;
}

void WaveOutDevice::Feed() {
  full_ = false;
  while (FrameWaiting()) {
    const long frames = WriteAt(written_ * Block());
    if (frames == -EAGAIN || frames == 0) {
      full_ = true;
      return;
    }
    if (frames == -EPIPE) {
      Recover();
      if (failed_) return;
      continue;
    }
    if (frames < 0) {
      ReportFailure("write", frames);
      return;
    }
    written_ += static_cast<uint64_t>(frames);
  }
}

long WaveOutDevice::WriteAt(uint64_t offset) {
  const std::size_t block = Block();
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [offset](const Entry& e) { return EntryEnd(e) > offset; });
  const uint64_t left = EntryEnd(*it) - offset;
  if (left >= block) {
    const uint64_t frames = std::min<uint64_t>(left / block, 1u << 20);
    return stream_->Write(it->header->lpData + (offset - it->start),
                          static_cast<uint32_t>(frames));
  }
  // A frame whose bytes lie in more than one buffer.
  std::size_t filled = 0;
  for (; filled < block; ++it) {
    const uint64_t from = std::max(offset + filled, it->start) - it->start;
    const std::size_t take =
        std::min<std::size_t>(block - filled, it->header->dwBufferLength - from);
    std::memcpy(staging_.data() + filled, it->header->lpData + from, take);
    filled += take;
  }
  return stream_->Write(staging_.data(), 1);
}

bool WaveOutDevice::Track() {
  if (!started_) return false;
  const long delay = stream_->Delay();
  if (delay == -EPIPE) {
    Recover();
    return true;
  }
  if (delay < 0) {
    ReportFailure("delay", delay);
    return false;
  }
  delay_ = std::min<long>(delay, static_cast<long>(written_ - played_));
  const uint64_t played = written_ - static_cast<uint64_t>(delay_);
  position_ += played - played_;
  played_ = played;
  return CompletePlayed(played_ * Block());
}

void WaveOutDevice::Recover() {
  // The device ran dry: what it had was played. Only a gap with data waiting counts.
  if (FrameWaiting()) underruns_.fetch_add(1);
  position_ += written_ - played_;
  played_ = written_;
  CompletePlayed(played_ * Block());
  started_ = false;
  full_ = false;
  delay_ = 0;
  const int error = stream_->Prepare();
  if (error < 0) ReportFailure("prepare after underrun", error);
}

bool WaveOutDevice::CompletePlayed(uint64_t played_bytes) {
  bool any = false;
  while (!entries_.empty() && EntryEnd(entries_.front()) <= played_bytes) {
    entries_.pop_front();
    CompleteFront();
    any = true;
  }
  return any;
}

void WaveOutDevice::Halt() {
  // All played; a trailing part of a frame cannot be, and the next buffer starts a
  // new frame.
  stream_->Drop();
  stream_->Prepare();
  started_ = false;
  while (!entries_.empty()) {
    entries_.pop_front();
    CompleteFront();
  }
  end_ = written_ * Block();
}

uint32_t waveOutGetNumDevs() { return WaveDriver::Instance().NumDevs(WaveDirection::kOutput); }

MMRESULT waveOutGetDevCaps(int id, WAVEOUTCAPS& caps) {
  return GetWaveDevCaps(WaveDirection::kOutput, id, caps);
}

MMRESULT waveOutGetErrorText(MMRESULT code, std::string& text) {
  return WaveErrorText(code, text);
}

MMRESULT waveOutOpen(std::unique_ptr<WaveOutDevice>& handle, int id, const WaveFormatEx& format,
                     WaveCallback callback, uint32_t flags) {
  return OpenWaveDevice(WaveDirection::kOutput, handle, id, format, std::move(callback), flags);
}

}  // namespace pmx
