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
  Launch("pmx-alsa-out");
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
  if (Closed()) return MMSYSERR_INVALHANDLE;
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
  if (Closed()) return MMSYSERR_INVALHANDLE;
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
  carry_.clear();
  carry_start_ = 0;
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
  if (offset >= carry_start_ + carry_.size() && EntryEnd(*it) - offset >= block) {
    const uint64_t frames = std::min<uint64_t>((EntryEnd(*it) - offset) / block, 1u << 20);
    return stream_->Write(it->header->lpData + (offset - it->start),
                          static_cast<uint32_t>(frames));
  }
  // A frame whose bytes lie in more than one buffer.
  CopyAt(offset, staging_.data(), block);
  return stream_->Write(staging_.data(), 1);
}

void WaveOutDevice::CopyAt(uint64_t offset, uint8_t* to, std::size_t count) const {
  const uint64_t carry_end = carry_start_ + carry_.size();
  while (count > 0 && offset < carry_end) {
    *to++ = carry_[offset++ - carry_start_];
    --count;
  }
  for (auto it = entries_.begin(); count > 0 && it != entries_.end(); ++it) {
    if (EntryEnd(*it) <= offset) continue;
    const uint64_t from = offset - it->start;
    const std::size_t take =
        std::min<std::size_t>(count, it->header->dwBufferLength - from);
    std::memcpy(to, it->header->lpData + from, take);
    to += take;
    offset += take;
    count -= take;
  }
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
  if (played_bytes >= carry_start_ + carry_.size()) carry_.clear();
  bool any = false;
  while (!entries_.empty() && EntryEnd(entries_.front()) <= played_bytes) {
    entries_.pop_front();
    CompleteFront();
    any = true;
  }
  return any;
}

void WaveOutDevice::Halt() {
  // All played but part of a frame, which waits for the rest in the next buffer.
  stream_->Drop();
  stream_->Prepare();
  started_ = false;
  std::vector<uint8_t> rest(end_ - written_ * Block());
  CopyAt(written_ * Block(), rest.data(), rest.size());
  carry_.swap(rest);
  carry_start_ = written_ * Block();
  while (!entries_.empty()) {
    entries_.pop_front();
    CompleteFront();
  }
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
