#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/core/dsp/dsp_component.h"
#include "audio/core/objects/allocator.h"
#include "audio/core/objects/dsp_thread.h"
#include "platform/exception.h"

namespace pmx {

class EMMBufferError : public Exception {
 public:
  using Exception::Exception;
};

enum class TMMQueueMode { qmNone, qmRead, qmWrite, qmDuplex };

class TMMRingBuffer;

// Runs the ring's fills (qmRead) and flushes (qmWrite) when asked.
//
// Threads: created, stopped and joined by the ring on the GUI thread; the loop
// waits on the ring's events under the ring's lock.
class TMMQueueThread : public TMMDSPThread {
 public:
  explicit TMMQueueThread(TMMRingBuffer& ring);
  ~TMMQueueThread() override { WaitFor(); }

 protected:
  void ExecuteDSP() override;

 private:
  TMMRingBuffer& ring_;
};

// A chain node holding NumBuffers slots of BufferSize bytes, in one block of
// memory. In qmWrite the pushing side only copies each buffer into a slot and the
// queue thread pushes the slots on to Output straight from the block, every slot
// that lies in a row in one push, when half the ring is filled and at the latest
// kWriteBehind after the last flush; in qmRead the queue thread keeps the ring filled from Input ahead
// of a pulling device.
//
// Threads: properties, links and lifecycle belong to the GUI thread (the layout
// cannot change while open). Writers (the pushing thread), readers (the pulling
// thread or the queue thread) and the queue thread share the slots, counts, indexes
// and the work/done/stop events under mutex_. A writer copies into its free slot
// without the lock while writing_ says so; a flush pushes counted slots without it
// while it holds flush_mutex_, which lets one fill or flush run at a time. Whatever
// clears the counts or frees the block (also a failed queue thread) takes
// flush_mutex_ and waits for the writer first, so no copy or push reads freed or
// reused memory. open_, the stop request and the flags a writer reads are atomics.
class TMMRingBuffer : public TMMDSPComponent {
 public:
  static constexpr int32_t kMinBufferSize = 32;
  static constexpr int32_t kChunkSize = 65536;
  static constexpr uint32_t kSlotEnd = 1;          // no more input after this slot
  static constexpr uint32_t kSlotLoopRestart = 2;  // the pulled stream looped here
  static constexpr std::chrono::milliseconds kForever = std::chrono::hours(24 * 365);
  static constexpr std::chrono::milliseconds kWriteBehind{500};

  explicit TMMRingBuffer(TComponent* owner = nullptr);
  ~TMMRingBuffer() override;

  void SetBufferSize(int32_t n) override;
  int NumBuffers() const { return num_buffers_; }
  void SetNumBuffers(int n);
  TMMQueueMode QueueMode() const { return queue_mode_; }
  void SetQueueMode(TMMQueueMode mode);
  bool Enabled() const { return enabled_.load(); }
  void SetEnabled(bool value) { enabled_.store(value); }
  bool WaitIfFull() const { return wait_if_full_.load(); }
  void SetWaitIfFull(bool value) { wait_if_full_.store(value); }
  bool LoopIfEmpty() const { return loop_if_empty_.load(); }
  void SetLoopIfEmpty(bool value) { loop_if_empty_.store(value); }
  int TimeOut() const { return timeout_.load(); }
  void SetTimeOut(int ms) { timeout_.store(ms); }

  bool IsEmpty() const;
  bool IsFull() const;
  int BufferCount() const;
  int64_t BytesInBuffer() const;
  int64_t FreeBytes() const;
  // A fill or flush has been asked for and has not ended yet.
  bool IsBusy() const;
  // Bytes asked for per pull of a fill, fixed at open.
  int32_t FillChunk() const { return chunk_; }

  // Bytes stored: 0 when closed, disabled or full (then OnOverlow fires).
  int32_t WriteBuffer(const void* data, int32_t length, uintptr_t user, uint32_t flags);
  void ReadBuffer(void* data, int32_t& length, uint32_t& flags, uintptr_t& user);
  int32_t WriteData(const void* data, int32_t length, uint32_t flags);
  int32_t ReadData(void* data, int32_t length);
  void FillQueue();
  void FlushQueue();

  void Opened() override;
  void Closed() override;
  void Started() override;
  void Stopped() override;
  void Reset() override;
  void BufferReady(WAVEHDR* lpWaveHdr) override;
  void BufferLoad(WAVEHDR* lpWaveHdr, bool& MoreBuffers) override;

  TNotifyEvent OnOverlow;
  TNotifyEvent OnEmpty;
  TNotifyEvent OnFillQueue;
  TNotifyEvent OnFillQueueEnd;
  TNotifyEvent OnFlushQueue;
  TNotifyEvent OnFlushQueueEnd;

 protected:
  virtual void DoOverflow() { Fire(OnOverlow); }
  virtual void DoEmpty() { Fire(OnEmpty); }
  virtual void DoFillQueue() { Fire(OnFillQueue); }
  virtual void DoFillQueueEnd() { Fire(OnFillQueueEnd); }
  virtual void DoFlushQueue() { Fire(OnFlushQueue); }
  virtual void DoFlushQueueEnd() { Fire(OnFlushQueueEnd); }

 private:
  friend class TMMQueueThread;
  struct Slot {
    char* data = nullptr;
    int32_t bytes = 0;
    uintptr_t user = 0;
    uint32_t flags = 0;
  };

  void Fire(const TNotifyEvent& event) {
    if (event) event(this);
  }
  void CheckClosed(bool changes);
  bool Threaded() const;
  void Open();
  void Close();
  void ReleaseBlocks();  // with mutex_ held
  void StartThread();
  void StopThread();
  void Drain();
  void StopAndDrain();
  void WaitUntilIdle(bool force);
  void AskForWork();  // with mutex_ held
  // A write queue asks for a flush once half its slots are taken (mutex_ held).
  void FlushAtHalf();
  void EndWork();
  void ClearCounts();  // with mutex_ held
  void FillSilence(void* data, int32_t length) const;
  bool ReadPrimed(std::unique_lock<std::mutex>& lock, int32_t& length);
  void ReadSlot(void* data, int32_t& length, uint32_t& flags, uintptr_t& user);
  // The slots in a row from read_index_ that lie in one piece of memory.
  struct Run {
    int first = 0;
    int count = 0;
    int32_t bytes = 0;
  };
  bool TakeRun(Run& run);
  void ReleaseRun(const Run& run);
  // mutex_, once no writer copies into a slot; with flush_mutex_ held too, nothing
  // uses the slots, so the counts may be cleared and the block freed.
  std::unique_lock<std::mutex> LockQuiet();
  // Wakes the main loop when the GUI thread waits in Await.
  void WakeGui();
  void FailFromQueueThread();
  // Waits (mutex_ held by lock) until ready() holds or timeout passes; ready's result.
  bool Await(std::unique_lock<std::mutex>& lock, const std::function<bool()>& ready,
             std::chrono::milliseconds timeout);
  void TakeLoopRequest(const WAVEHDR& puller);

  // Properties (GUI thread; fixed while open).
  int num_buffers_ = 20;
  TMMQueueMode queue_mode_ = TMMQueueMode::qmNone;
  std::atomic<bool> enabled_{true};
  std::atomic<bool> wait_if_full_{false};
  std::atomic<bool> loop_if_empty_{false};
  std::atomic<int> timeout_{10000};

  // Set at open, read while open.
  int32_t slot_size_ = 0;
  int32_t chunk_ = 0;
  char* block_ = nullptr;  // the slots' memory
  char* staging_ = nullptr;
  int32_t staging_size_ = 0;

  mutable std::mutex mutex_;
  std::condition_variable changed_;  // counts, open and the events changed
  std::vector<Slot> slots_;
  int count_ = 0;
  int64_t bytes_ = 0;
  int write_index_ = 0;
  int read_index_ = 0;
  int last_index_ = 0;
  bool primed_ = false;
  bool work_ = false;  // manual reset
  bool done_ = false;  // auto reset
  bool stop_ = false;  // auto reset
  bool writing_ = false;  // a writer copies into the slot at write_index_
  std::condition_variable written_;  // writing_ went false
  // qmRead: the puller's loop request, handed to the source on each fill; the
  // source counts its loops down here. Under mutex_.
  WAVEHDR loop_state_;

  std::atomic<bool> open_{false};
  std::atomic<bool> stop_request_{false};
  std::atomic<bool> thread_failed_{false};
  std::atomic<int> gui_awaiting_{0};  // GUI-thread waits inside Await
  std::mutex flush_mutex_;
  std::unique_ptr<TMMQueueThread> thread_;  // GUI thread
  TMMAllocator allocator_;
};

}  // namespace pmx
