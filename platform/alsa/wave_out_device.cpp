#include "platform/alsa/wave_out_device.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace pmx {
namespace {

// How much longer than its length the last write may take to play.
constexpr std::chrono::milliseconds kDrainSlack{250};

}  // namespace

WaveOutDevice::WaveOutDevice(int id, const WaveFormatEx& format,
                             std::unique_ptr<WaveStream> stream, WaveCallback callback)
    : WaveDevice(id, format, std::move(stream), std::move(callback), WOM_OPEN),
      staging_(Block()) {
  Launch("pmx-alsa-out");
}

WaveOutDevice::~WaveOutDevice() { Shutdown(); }

MMRESULT WaveOutDevice::Write(WAVEHDR* header) {
  MMRESULT result;
  bool wake;
  {
    Lock lock(mutex_);
    result = Enqueue(header);
    if (result != MMSYSERR_NOERROR) return result;
    entries_.push_back(Entry{header, end_});
    end_ += header->dwBufferLength;
    // The I/O thread wakes for the device or on time anyway (unless it has
    // nothing to watch): waking it for every buffer costs a hand-off each.
    if (!failed_) Pump();
    wake = IdleWaiting() && (!paused_ || DonePending());
  }
  if (wake) Wake();
  return result;
}

MMRESULT WaveOutDevice::Pause() {
  if (Closed()) return MMSYSERR_INVALHANDLE;
  {
    Lock lock(mutex_);
    if (started_) Track();
    if (started_ && !paused_) {
      // A device that can hold keeps what it has not played; any other drops it,
      // and it is written again at Restart. Nothing is written while paused: a
      // sound server plays what it is given, started or not.
      held_ = stream_->Pause(true) == 0;
      if (!held_) Unwind();
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
    if (held_ && stream_->Pause(false) < 0) Unwind();
    held_ = false;
    tail_.reset();
    if (!failed_) Pump();
  }
  Wake();
  return MMSYSERR_NOERROR;
}

void WaveOutDevice::Unwind() {
  stream_->Drop();
  stream_->Prepare();
  written_ = played_;
  started_ = false;
}

void WaveOutDevice::Pump() {
  Track();
  Advance();
}

void WaveOutDevice::Advance() {
  Feed();
  if (!started_ && !paused_ && written_ > played_) {
    const int error = stream_->Start();
    if (error < 0) {
      ReportFailure("start", error);
      return;
    }
    started_ = true;
  }
  // A stream left dry is stopped only a while later: one whose source keeps pace
  // (or a device that plays at once) goes on without a stop and a start for every
  // buffer, and without waking the I/O thread for each.
  if (!paused_ && written_ == played_ && !FrameWaiting() && (started_ || !entries_.empty()) && Drained()) Halt();
}

bool WaveOutDevice::WantsDevice() const { return started_ && full_ && !paused_; }

int WaveOutDevice::WaitTimeout() const {
  if (paused_ || (started_ && full_) || (!started_ && entries_.empty())) return -1;
  // Everything is written: look again when what is in flight should have played
  // (soon, when nothing is).
  const uint64_t ms = static_cast<uint64_t>(delay_) * 1000 / Format().nSamplesPerSec() + 1;
  return static_cast<int>(std::min<uint64_t>(ms, 100));
}

bool WaveOutDevice::RefreshPosition() { return Track(); }

void WaveOutDevice::ResetLocked() {
  stream_->Drop();
  stream_->Prepare();
  started_ = false;
  held_ = false;
  full_ = false;
  tail_.reset();
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
  if (paused_) return;
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
    tail_.reset();
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
  if (delay > 0) lags_ = true;
  delay_ = std::min<long>(Drained() ? 0 : delay, static_cast<long>(written_ - played_));
  const uint64_t played = written_ - static_cast<uint64_t>(delay_);
  position_ += played - played_;
  played_ = played;
  return CompletePlayed(Completable() * Block());
}

uint64_t WaveOutDevice::TailElapsed() {
  const auto now = stream_->PlayTime();
  if (!tail_) tail_ = Tail{now, written_ - played_};
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - tail_->start).count();
  return static_cast<uint64_t>(ms) * Format().nSamplesPerSec() / 1000;
}

bool WaveOutDevice::Drained() {
  // A sound server may go on reporting a few frames in flight for good once its
  // stream ran dry: what was written last has played when its time is up.
  if (paused_ || FrameWaiting()) return false;
  const uint64_t slack = kDrainSlack.count() * Format().nSamplesPerSec() / 1000;
  return TailElapsed() >= tail_->frames + slack;
}

uint64_t WaveOutDevice::Completable() {
  // Once everything is written, a sound server may report its stream empty while
  // the last frames are still on their way (its owner would stop it on them): the
  // last buffers go back once their frames have had their time to play, and a while
  // more for a delay that was told short.
  if (paused_ || FrameWaiting() || !lags_ || Drained()) return played_;
  return std::min(played_, written_ - tail_->frames);
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
  tail_.reset();
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
