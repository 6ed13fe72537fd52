#include "audio/core/chain/ring_buffer.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "audio/core/objects/mm_strings.h"
#include "audio/core/objects/utilities.h"
#include "platform/hand_over_copy.h"
#include "platform/main_loop.h"
#include "platform/ui_hook.h"

namespace pmx {

TMMQueueThread::TMMQueueThread(TMMRingBuffer& ring) : TMMDSPThread("pmx-ring", &ring), ring_(ring) {
  SetPriority(TThreadPriority::tpHigher);
}

void TMMQueueThread::ExecuteDSP() {
  // A write queue also flushes what it holds every kWriteBehind, so a large ring
  // never keeps seconds of sound away from the disk.
  const bool write_behind = ring_.queue_mode_ == TMMQueueMode::qmWrite;
  for (;;) {
    {
      std::unique_lock lock(ring_.mutex_);
      const auto asked = [this] { return ring_.stop_ || ring_.work_; };
      if (write_behind) {
        ring_.changed_.wait_for(lock, TMMRingBuffer::kWriteBehind, asked);
      } else {
        ring_.changed_.wait(lock, asked);
      }
      if (ring_.stop_) {
        ring_.stop_ = false;
        return;
      }
      if (!ring_.work_ && ring_.count_ == 0) continue;
    }
    std::exception_ptr failure;
    try {
      if (ring_.queue_mode_ == TMMQueueMode::qmRead) {
        ring_.FillQueue();
      } else {
        ring_.FlushQueue();
      }
    } catch (...) {
      failure = std::current_exception();
    }
    if (failure) {
      // Handed on outside the handler, so that this thread keeps no reference to the
      // exception: the GUI thread that reads it also drops it last.
      ring_.FailFromQueueThread();
      HandleApplicationException(std::move(failure));
      return;
    }
  }
}

TMMRingBuffer::TMMRingBuffer(TComponent* owner) : TMMDSPComponent(owner) {
  PublishLinks(true, true);
}

TMMRingBuffer::~TMMRingBuffer() {
  MarkDestroying();
  Close();
}

void TMMRingBuffer::CheckClosed(bool changes) {
  if (changes && open_.load()) {
    throw EMMBufferError(LoadMMResString(SChangePropertyWhileOpen));
  }
}

void TMMRingBuffer::SetBufferSize(int32_t n) {
  n = std::max(n, kMinBufferSize);
  CheckClosed(n != BufferSize());
  if (open_.load()) return;
  allocator_.FreeAll();
  TMMDSPComponent::SetBufferSize(n);
}

void TMMRingBuffer::SetNumBuffers(int n) {
  if (n < 2) return;
  CheckClosed(n != num_buffers_);
  num_buffers_ = n;
}

void TMMRingBuffer::SetQueueMode(TMMQueueMode mode) {
  CheckClosed(mode != queue_mode_);
  queue_mode_ = mode;
}

bool TMMRingBuffer::Threaded() const {
  return queue_mode_ == TMMQueueMode::qmRead || queue_mode_ == TMMQueueMode::qmWrite;
}

bool TMMRingBuffer::IsEmpty() const { return BufferCount() == 0; }

bool TMMRingBuffer::IsFull() const {
  std::lock_guard lock(mutex_);
  return count_ >= num_buffers_;
}

int TMMRingBuffer::BufferCount() const {
  std::lock_guard lock(mutex_);
  return count_;
}

int64_t TMMRingBuffer::BytesInBuffer() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

int64_t TMMRingBuffer::FreeBytes() const {
  std::lock_guard lock(mutex_);
  return static_cast<int64_t>(slot_size_) * (num_buffers_ - count_);
}

bool TMMRingBuffer::IsBusy() const {
  std::lock_guard lock(mutex_);
  return work_;
}

void TMMRingBuffer::AskForWork() {
  done_ = false;
  work_ = true;
  changed_.notify_all();
}

void TMMRingBuffer::EndWork() {
  {
    std::lock_guard lock(mutex_);
    work_ = false;
    done_ = true;
  }
  changed_.notify_all();
  WakeGui();
}

void TMMRingBuffer::WakeGui() {
  if (gui_awaiting_.load() > 0) MainLoop::Instance().Wake();
}

// On the GUI thread the wait runs queued synchronized calls, so a queue thread
// that waits for the GUI (a file closing itself) cannot deadlock it.
bool TMMRingBuffer::Await(std::unique_lock<std::mutex>& lock, const std::function<bool()>& ready,
                          std::chrono::milliseconds timeout) {
  MainLoop& loop = MainLoop::Instance();
  if (!loop.IsGuiThread()) return changed_.wait_for(lock, timeout, ready);
  // Counted before the lock is let go: a change made under it is either seen by
  // ready or followed by a WakeGui that sees the count.
  gui_awaiting_.fetch_add(1);
  lock.unlock();
  loop.PumpUntil(
      [&] {
        std::lock_guard relock(mutex_);
        return ready();
      },
      timeout);
  gui_awaiting_.fetch_sub(1);
  lock.lock();
  return ready();
}

void TMMRingBuffer::ClearCounts() {
  count_ = 0;
  bytes_ = 0;
  write_index_ = read_index_ = last_index_ = 0;
  primed_ = false;
  loop_state_ = WAVEHDR{};
}

int32_t TMMRingBuffer::WriteBuffer(const void* data, int32_t length, uintptr_t user,
                                   uint32_t flags) {
  if (!open_.load() || !enabled_.load() || !data || length <= 0) return 0;
  std::unique_lock lock(mutex_);
  const bool queued = queue_mode_ == TMMQueueMode::qmWrite;
  FlushAtHalf();
  // Only a queue thread empties the ring while we wait; elsewhere a full ring drops.
  // A flush that ended just as the ring filled up is asked for again, or the wait
  // would never end.
  for (;;) {
    if (queued && wait_if_full_.load()) {
      Await(lock, [this] {
        if (count_ < num_buffers_ || !open_.load()) return true;
        if (!work_) AskForWork();
        return false;
      }, kForever);
    }
    if (!writing_) break;
    written_.wait(lock, [this] { return !writing_; });
  }
  if (!open_.load()) return 0;
  if (count_ >= num_buffers_) {
    lock.unlock();
    DoOverflow();
    return 0;
  }
  length = std::min(length, slot_size_);
  Slot& slot = slots_[write_index_];
  // The free slot is this writer's until it is counted, so the copy runs without
  // the lock and the queue thread never waits for it.
  writing_ = true;
  lock.unlock();
  HandOverCopy(slot.data, data, length);
  lock.lock();
  writing_ = false;
  written_.notify_all();
  slot.bytes = length;
  slot.user = user;
  slot.flags = flags;
  write_index_ = (write_index_ + 1) % num_buffers_;
  ++count_;
  bytes_ += length;
  // Asked for once the slot is counted: the flush takes it along.
  FlushAtHalf();
  return length;
}

void TMMRingBuffer::FlushAtHalf() {
  if (queue_mode_ == TMMQueueMode::qmWrite && count_ >= num_buffers_ / 2 && !work_) AskForWork();
}

void TMMRingBuffer::FillSilence(void* data, int32_t length) const {
  const WaveFormatEx* format = PWaveFormat();
  const bool eight_bit = format && format->wBitsPerSample() == 8;
  std::memset(data, eight_bit ? 128 : 0, length);
}

// The qmRead and qmDuplex steps before a slot is read; false when the read ends
// here with length bytes given.
bool TMMRingBuffer::ReadPrimed(std::unique_lock<std::mutex>& lock, int32_t& length) {
  if (queue_mode_ == TMMQueueMode::qmRead && enabled_.load() && count_ < num_buffers_ / 2 &&
      !work_) {
    AskForWork();
    if (!primed_) {
      const bool filled = Await(lock, [this] { return done_ || !open_.load(); },
                                std::chrono::milliseconds(timeout_.load()));
      if (!filled || !open_.load() || count_ == 0) {
        length = 0;
        return false;
      }
      primed_ = true;
    }
  }
  if (queue_mode_ == TMMQueueMode::qmDuplex && !primed_) {
    primed_ = count_ > num_buffers_ / 2;
    return false;
  }
  return true;
}

void TMMRingBuffer::ReadBuffer(void* data, int32_t& length, uint32_t& flags, uintptr_t& user) {
  flags = 0;
  user = 0;
  if (!open_.load() || !data || length <= 0) {
    length = 0;
    return;
  }
  std::unique_lock lock(mutex_);
  if (!ReadPrimed(lock, length)) {
    if (length > 0) std::memset(data, 0, length);
    return;
  }
  if (count_ > 0) {
    ReadSlot(data, length, flags, user);
    return;
  }
  const WaveFormatEx* format = PWaveFormat();
  if (loop_if_empty_.load() || (format && format->wFormatTag() != WAVE_FORMAT_PCM)) {
    const Slot& last = slots_[last_index_];
    length = std::min(length, last.bytes);
    std::memcpy(data, last.data, length);
    flags = last.flags & ~kSlotLoopRestart;
    user = last.user;
  } else {
    FillSilence(data, length);
    // Silence after the source's end still tells the reader that it ended.
    flags = slots_[last_index_].flags & kSlotEnd;
  }
  lock.unlock();
  DoEmpty();
}

void TMMRingBuffer::ReadSlot(void* data, int32_t& length, uint32_t& flags, uintptr_t& user) {
  Slot& s = slots_[read_index_];
  const int32_t n = std::min(s.bytes, length);
  std::memcpy(data, s.data, n);
  length = n;
  user = s.user;
  if (n < s.bytes) {
    // The end of input, or its restart, lies after the rest of this slot, not here.
    flags = s.flags & ~(kSlotEnd | kSlotLoopRestart);
    std::memmove(s.data, s.data + n, s.bytes - n);
    s.bytes -= n;
  } else {
    flags = s.flags;
    last_index_ = read_index_;
    read_index_ = (read_index_ + 1) % num_buffers_;
    --count_;
  }
  bytes_ -= n;
  changed_.notify_all();
}

int32_t TMMRingBuffer::WriteData(const void* data, int32_t length, uint32_t flags) {
  const char* from = static_cast<const char*>(data);
  int32_t done = 0;
  while (done < length && !IsFull()) {
    const int32_t piece = std::min(length - done, slot_size_);
    const bool last = done + piece == length;
    const int32_t stored = WriteBuffer(from + done, piece, 0, last ? flags : 0);
    if (stored == 0) break;
    done += stored;
  }
  return done;
}

int32_t TMMRingBuffer::ReadData(void* data, int32_t length) {
  char* to = static_cast<char*>(data);
  int32_t done = 0;
  while (done < length && !IsEmpty()) {
    int32_t n = length - done;
    uint32_t flags;
    uintptr_t user;
    ReadBuffer(to + done, n, flags, user);
    if (n <= 0) break;
    done += n;
  }
  return done;
}

bool TMMRingBuffer::TakeRun(Run& run) {
  std::lock_guard lock(mutex_);
  run = Run{read_index_, 0, 0};
  while (run.count < count_ && run.first + run.count < num_buffers_) {
    const Slot& slot = slots_[run.first + run.count];
    run.bytes += slot.bytes;
    ++run.count;
    // Only a full slot runs on into the next one's memory.
    if (slot.bytes < slot_size_) break;
  }
  return run.count > 0;
}

void TMMRingBuffer::ReleaseRun(const Run& run) {
  {
    std::lock_guard lock(mutex_);
    last_index_ = run.first + run.count - 1;
    read_index_ = (run.first + run.count) % num_buffers_;
    count_ -= run.count;
    bytes_ -= run.bytes;
    // An emptied ring starts again at its first slot: a disk that keeps up touches
    // only the front of the block, not all the seconds it is sized for.
    if (count_ == 0 && !writing_) write_index_ = read_index_ = 0;
  }
  changed_.notify_all();
}

// The slots go out as they lie in the ring's one block: no copy, and all that
// lie in a row in one push, so a writer that fell behind catches up in a few large
// writes, however long each of them takes. They stay counted until the push
// returns, so no writer reuses them meanwhile, and a clear or a close waits for
// the flush (flush_mutex_).
void TMMRingBuffer::FlushQueue() {
  std::lock_guard flush(flush_mutex_);
  if (open_.load() && BytesInBuffer() > 0) {
    DoFlushQueue();
    for (Run run; TakeRun(run);) {
      WAVEHDR header;
      header.lpData = slots_[run.first].data;
      header.dwBufferLength = static_cast<uint32_t>(run.bytes);
      header.dwBytesRecorded = static_cast<uint32_t>(run.bytes);
      TMMDSPComponent::BufferReady(&header);
      ReleaseRun(run);
    }
    DoFlushQueueEnd();
  }
  EndWork();
}

void TMMRingBuffer::FillQueue() {
  std::lock_guard fill(flush_mutex_);
  if (open_.load() && FreeBytes() > 0) {
    DoFillQueue();
    while (FreeBytes() > 0 && !stop_request_.load()) {
      WAVEHDR header;
      header.lpData = staging_;
      header.dwBufferLength =
          static_cast<uint32_t>(std::min<int64_t>(FreeBytes(), chunk_));
      bool more = false;
      {
        std::lock_guard lock(mutex_);
        CopyLoopState(loop_state_, header);
      }
      header.LoopRestart = false;
      TMMDSPComponent::BufferLoad(&header, more);
      {
        std::lock_guard lock(mutex_);
        loop_state_.LoopsRemaining = header.LoopsRemaining;
      }
      const uint32_t restart = header.LoopRestart ? kSlotLoopRestart : 0;
      const int32_t got = static_cast<int32_t>(std::min(header.dwBytesRecorded, header.dwBufferLength));
      if (got <= 0) {
        std::lock_guard lock(mutex_);
        // The end belongs after the newest data, which a reader has yet to see.
        const int newest = (write_index_ + num_buffers_ - 1) % num_buffers_;
        if (!slots_.empty()) slots_[count_ > 0 ? newest : last_index_].flags |= kSlotEnd;
        break;
      }
      WriteData(staging_, got, (more ? 0 : kSlotEnd) | restart);
      if (!more) break;
    }
    DoFillQueueEnd();
  }
  EndWork();
}

void TMMRingBuffer::WaitUntilIdle(bool force) {
  std::unique_lock lock(mutex_);
  if (!force && !work_) return;
  Await(lock, [this] { return done_ || thread_failed_.load() || !thread_; }, kForever);
  done_ = false;
}

void TMMRingBuffer::Drain() {
  if (!open_.load() || !Threaded()) return;
  WaitUntilIdle(false);
  if (queue_mode_ == TMMQueueMode::qmWrite) {
    FlushQueue();
    WaitUntilIdle(true);
  }
  std::lock_guard flush(flush_mutex_);
  const auto lock = LockQuiet();
  ClearCounts();
}

std::unique_lock<std::mutex> TMMRingBuffer::LockQuiet() {
  std::unique_lock lock(mutex_);
  written_.wait(lock, [this] { return !writing_; });
  return lock;
}

void TMMRingBuffer::StartThread() {
  thread_failed_.store(false);
  {
    std::lock_guard lock(mutex_);
    work_ = done_ = stop_ = false;
  }
  thread_ = std::make_unique<TMMQueueThread>(*this);
  if (!thread_->Start()) {
    thread_.reset();
    throw EMMBufferError("RingBuffer:\n\r" + LoadMMResString(SCouldNotCreateThread));
  }
}

void TMMRingBuffer::StopThread() {
  if (!thread_) return;
  if (!thread_failed_.load()) {
    WaitUntilIdle(false);
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
  }
  thread_->WaitFor();
  thread_.reset();
}

void TMMRingBuffer::Open() {
  if (open_.load()) return;
  {
    std::lock_guard lock(mutex_);
    slot_size_ = BufferSize();
    chunk_ = std::max((kChunkSize / slot_size_) * slot_size_, slot_size_);
    // One block, so that slots in a row are one piece of memory a flush hands on.
    block_ = static_cast<char*>(
        allocator_.AllocBuffer(GHND, static_cast<size_t>(slot_size_) * num_buffers_));
    if (!block_) throw EOutOfMemory();
    slots_.assign(num_buffers_, Slot{});
    for (int i = 0; i < num_buffers_; ++i) slots_[i].data = block_ + static_cast<size_t>(i) * slot_size_;
    if (queue_mode_ != TMMQueueMode::qmNone) {
      staging_size_ = std::max(slot_size_, kChunkSize);
      staging_ = static_cast<char*>(allocator_.AllocBuffer(GHND, staging_size_));
      if (!staging_) throw EOutOfMemory();
    }
    ClearCounts();
  }
  open_.store(true);
  stop_request_.store(false);
  if (!Threaded()) return;
  try {
    StartThread();
  } catch (...) {
    open_.store(false);
    std::lock_guard lock(mutex_);
    ReleaseBlocks();
    throw;
  }
}

void TMMRingBuffer::ReleaseBlocks() {
  slots_.clear();
  allocator_.FreeBuffer(block_);
  allocator_.FreeBuffer(staging_);
  ClearCounts();
}

void TMMRingBuffer::Close() {
  if (open_.load()) {
    stop_request_.store(true);
    Drain();
    {
      std::lock_guard lock(mutex_);
      open_.store(false);
    }
    changed_.notify_all();  // a writer waiting for room gives up
    StopThread();
    std::lock_guard flush(flush_mutex_);
    const auto lock = LockQuiet();
    ReleaseBlocks();
  }
  StopThread();  // a queue thread that failed closed the ring itself
}

void TMMRingBuffer::FailFromQueueThread() {
  {
    // A flush on another thread still reads the slots, a writer may still fill one.
    std::lock_guard flush(flush_mutex_);
    const auto lock = LockQuiet();
    thread_failed_.store(true);
    open_.store(false);
    ReleaseBlocks();
    done_ = true;
    work_ = false;
  }
  changed_.notify_all();
  MainLoop::Instance().Wake();
}

void TMMRingBuffer::Opened() {
  TMMDSPComponent::Opened();
  Open();
}

void TMMRingBuffer::Closed() {
  Close();
  TMMDSPComponent::Closed();
}

void TMMRingBuffer::Started() {
  stop_request_.store(false);
  TMMDSPComponent::Started();
}

void TMMRingBuffer::StopAndDrain() {
  {
    std::lock_guard lock(mutex_);
    primed_ = false;
  }
  stop_request_.store(true);
  Drain();
}

void TMMRingBuffer::Stopped() {
  StopAndDrain();
  TMMDSPComponent::Stopped();
}

void TMMRingBuffer::Reset() {
  StopAndDrain();
  {
    std::lock_guard flush(flush_mutex_);
    const auto lock = LockQuiet();
    ClearCounts();
  }
  stop_request_.store(false);
  TMMDSPComponent::Reset();
}

void TMMRingBuffer::BufferReady(WAVEHDR* lpWaveHdr) {
  if (queue_mode_ == TMMQueueMode::qmWrite || queue_mode_ == TMMQueueMode::qmDuplex) {
    WriteBuffer(lpWaveHdr->lpData, static_cast<int32_t>(lpWaveHdr->dwBytesRecorded),
                lpWaveHdr->dwUser, 0);
    return;
  }
  TMMDSPComponent::BufferReady(lpWaveHdr);
}

// A new request (looping switched on or off, another count) replaces the one the
// fills count down; a repeated one leaves the count where the source left it.
void TMMRingBuffer::TakeLoopRequest(const WAVEHDR& puller) {
  std::lock_guard lock(mutex_);
  if (puller.LoopFlag == loop_state_.LoopFlag && puller.LoopCount == loop_state_.LoopCount) return;
  CopyLoopState(puller, loop_state_);
}

void TMMRingBuffer::BufferLoad(WAVEHDR* lpWaveHdr, bool& MoreBuffers) {
  const bool duplex = queue_mode_ == TMMQueueMode::qmDuplex;
  if ((queue_mode_ == TMMQueueMode::qmRead || duplex) && open_.load() &&
      (enabled_.load() || BytesInBuffer() > 0 || duplex)) {
    TakeLoopRequest(*lpWaveHdr);
    int32_t length = static_cast<int32_t>(lpWaveHdr->dwBufferLength);
    uint32_t flags;
    ReadBuffer(lpWaveHdr->lpData, length, flags, lpWaveHdr->dwUser);
    lpWaveHdr->dwBytesRecorded = static_cast<uint32_t>(length);
    if (flags & kSlotLoopRestart) lpWaveHdr->LoopRestart = true;
    MoreBuffers = duplex || (flags & kSlotEnd) == 0;
    return;
  }
  TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
}

}  // namespace pmx
