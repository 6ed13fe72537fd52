#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/alsa/wave_driver.h"
#include "platform/wave_types.h"

namespace pmx {

class WaveDevice;
// The per-handle callback: open, close and buffer-done messages with the header
// (nullptr for open and close). It runs on the handle's I/O thread (buffer-done
// also on a thread that calls DeliverPending), one call at a time, and must not
// wait for a thread that is inside a call on the same handle.
using WaveCallback = std::function<void(WaveDevice& handle, uint32_t message, WAVEHDR* header)>;

// An open wave device: a FIFO of caller-owned buffers moved to or from a driver
// stream by one I/O thread, which also delivers the callback. Buffers come back in
// the order they were queued. A header belongs to the device from the call that
// queues it until its done message.
//
// Threads: the methods may be called from any thread, the callback's included
// (Close excepted). The queue and the counters are guarded by mutex_, and so is
// the stream, except that a capture device reads it without any lock (see
// WaveInDevice), so a read that blocks in the driver holds up no other thread.
// The position is written under mutex_ and is atomic, so a device that keeps it
// current answers GetPosition without the lock.
// The I/O thread waits and calls back without the lock.
class WaveDevice {
 public:
  virtual ~WaveDevice();
  WaveDevice(const WaveDevice&) = delete;
  WaveDevice& operator=(const WaveDevice&) = delete;

  MMRESULT PrepareHeader(WAVEHDR* header);
  // WAVERR_STILLPLAYING while the header is queued.
  MMRESULT UnprepareHeader(WAVEHDR* header);
  // Stops and returns every queued buffer; the position starts again at 0.
  MMRESULT Reset();
  // Samples (or bytes when asked for TIME_BYTES) since open or the last Reset,
  // wrapping at 2^32.
  MMRESULT GetPosition(MMTIME& time);
  MMRESULT GetID(int& id) const;
  // Hands back, on the calling thread, the buffers that are done and not yet
  // handed back; nothing while another thread is handing some back. A caller
  // that refills from its done handler keeps the loop on its own thread.
  void DeliverPending();
  // Why the stream failed for good ("read: No such device"); empty while it works.
  std::string Failure();
  // Delivers the close message and ends the I/O thread. WAVERR_STILLPLAYING while
  // buffers are queued; MMSYSERR_HANDLEBUSY from inside the callback. On the GUI
  // thread it serves the main loop while it waits, so a callback may synchronize
  // with the GUI thread.
  MMRESULT Close();

  const WaveFormatEx& Format() const { return format_; }

 protected:
  WaveDevice(int id, const WaveFormatEx& format, std::unique_ptr<WaveStream> stream,
             WaveCallback callback, uint32_t first_message);
  // Starts the I/O thread, named name (a literal of at most 15 characters), which
  // delivers the open message first.
  void Launch(const char* name);
  // Returns every buffer and closes; derived destructors call it while their
  // members still live.
  void Shutdown();

  using Lock = std::unique_lock<std::mutex>;
  // The I/O thread moves what data it can; lock holds mutex_ on entry and on return.
  virtual void Transfer(Lock& lock) = 0;
  // Whether the I/O thread should wait for the device, and for how long at most
  // (-1: until woken).
  virtual bool WantsDevice() const = 0;
  virtual int WaitTimeout() const { return -1; }
  // Brings position_ up to date (under mutex_); true when buffers were completed.
  virtual bool RefreshPosition() { return false; }
  // The position in samples: refreshed under mutex_, unless the device keeps
  // position_ current itself.
  virtual uint64_t CurrentPosition();
  // The position in bytes of the caller's format.
  virtual uint64_t PositionBytes(uint64_t samples) const { return samples * Block(); }
  // Drops the stream and hands every queued buffer back (under mutex_).
  virtual void ResetLocked() = 0;
  // Marks the front header done and moves it to the delivery list (under mutex_).
  void CompleteFront();
  // Queues a prepared header (under mutex_).
  MMRESULT Enqueue(WAVEHDR* header);
  bool Closed() const { return closed_.load(); }
  // Wakes the I/O thread after a change (without mutex_).
  void Wake() { stream_->Wake(); }
  // The I/O thread waits for nothing but a Wake: it had nothing to move and did not
  // watch the device (under mutex_).
  bool IdleWaiting() const { return idle_waiting_; }
  // Buffers are done and wait for the I/O thread to hand them back (under mutex_).
  bool DonePending() const { return !done_.empty(); }
  // Marks the stream failed (under mutex_) and keeps why for Failure(); the caller
  // reports it (a start may be retried on every tick). With notify the I/O thread then hands
  // its owner WIM_FAILED after the buffers completed so far.
  void ReportFailure(const char* what, long error, bool notify = false);
  std::size_t Block() const { return format_.nBlockAlign(); }

  std::mutex mutex_;
  const std::unique_ptr<WaveStream> stream_;
  std::deque<WAVEHDR*> queue_;  // guarded by mutex_
  // Samples since open or Reset; written under mutex_, read without it.
  std::atomic<uint64_t> position_{0};
  bool failed_ = false;         // the stream failed; guarded by mutex_
  std::string failure_;         // why; guarded by mutex_
  bool failure_pending_ = false;  // WIM_FAILED still to deliver; guarded by mutex_

 private:
  void Run();
  void DeliverDone(Lock& lock);

  const int id_;
  const WaveFormatEx format_;
  const WaveCallback callback_;
  const uint32_t open_message_;
  std::vector<WAVEHDR*> done_;  // guarded by mutex_
  bool quit_ = false;           // guarded by mutex_
  bool idle_waiting_ = false;   // guarded by mutex_
  bool delivering_ = false;     // a thread hands buffers back; guarded by mutex_
  std::thread thread_;
  std::atomic<bool> closed_{false};
  std::atomic<bool> finished_{false};  // the I/O thread delivered its last message
};

// Checks the flags and the format's framing, then opens (or queries) through the
// installed driver; stream stays empty for a query.
MMRESULT OpenWaveStream(WaveDirection direction, int id, const WaveFormatEx& format,
                        uint32_t flags, std::unique_ptr<WaveStream>& stream);

// The open and capability calls of both directions.
template <class Device>
MMRESULT OpenWaveDevice(WaveDirection direction, std::unique_ptr<Device>& handle, int id,
                        const WaveFormatEx& format, WaveCallback callback, uint32_t flags) {
  std::unique_ptr<WaveStream> stream;
  const MMRESULT result = OpenWaveStream(direction, id, format, flags, stream);
  if (result != MMSYSERR_NOERROR || !stream) return result;
  try {
    handle = std::make_unique<Device>(id, format, std::move(stream), std::move(callback));
  } catch (const std::system_error&) {
    return MMSYSERR_NOMEM;  // no I/O thread
  }
  return MMSYSERR_NOERROR;
}

template <class Caps>
MMRESULT GetWaveDevCaps(WaveDirection direction, int id, Caps& caps) {
  WaveDeviceCaps found;
  const MMRESULT result = WaveDriver::Instance().GetCaps(direction, id, found);
  if (result != MMSYSERR_NOERROR) return result;
  caps = Caps{};
  caps.szPname = found.name;
  caps.dwFormats = found.formats;
  caps.wChannels = found.channels;
  return MMSYSERR_NOERROR;
}

}  // namespace pmx
