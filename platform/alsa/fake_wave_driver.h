#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/alsa/wave_driver.h"

namespace pmx {

// The fake hardware behind one open stream of FakeWaveDriver. Nothing moves until the
// test advances its clock: capture then produces a ramp (the sample at index i of
// the stream, counted over all channels, holds the low bits of i), playback consumes
// what was written. Both have a device buffer of BufferFrames; capture beyond it
// overruns, playback running dry with the clock still going underruns. The clock
// runs on through a capture overrun: those frames and the buffer's are lost, and
// the ramp goes on after the hole. A capture device may run fast or slow against
// the clock by a rate error, and may lose frames without telling, as a sound
// server does; like one, it may also drop its oldest frames, in blocks of a quarter
// of its buffer, when the buffer is full instead of overrunning. Its time stamps are the clock's.
//
// Threads: the test thread and the stream's user call in at any time; all state is
// guarded by mutex_.
class FakePcm {
 public:
  enum Op { kPrepare, kStart, kDrop, kRead, kWrite, kAvail, kDelay, kOpCount };

  FakePcm(bool capture, const WaveFormatEx& format, uint32_t buffer_frames, uint64_t start_frame,
          int64_t rate_error_ppm = 0, bool drops_when_full = false);

  // Moves the clock by frames at the nominal rate (the stream moves only while it
  // runs).
  void Advance(uint64_t frames);
  // Moves the clock as Advance does, while capture drops what it makes, with no
  // overrun: the ramp goes on after the hole.
  void LoseUnreported(uint64_t frames);
  // The next call of op fails with error (a negative errno).
  void FailNext(Op op, int error);
  // An overrun or underrun now.
  void InjectXrun();
  // Every later read first blocks for delay (real time), as in a stuck driver; a
  // delay of 0 releases a read held up now.
  void SetReadDelay(std::chrono::milliseconds delay);
  // Waits (real time) until pred holds over this PCM; false on timeout.
  bool WaitUntil(const std::function<bool(const FakePcm&)>& pred,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // Whether pred holds now.
  bool Check(const std::function<bool(const FakePcm&)>& pred);

  // For the predicates of WaitUntil and Check, which run under the lock.
  bool Running() const { return running_; }
  bool Xrun() const { return xrun_; }
  uint64_t Buffered() const { return buffered_; }  // frames held by the device buffer
  bool ReadStuck() const { return read_stuck_; }    // a read is held up by the delay
  uint64_t Starts() const { return starts_; }       // starts that worked
  uint64_t Clock() const { return clock_; }          // frames of time so far
  // The stream's user waits in Wait with nothing new to see: it did all it could.
  bool Settled() const { return waiting_ && !woken_ && ticks_ == seen_ticks_; }
  uint64_t Dropped() const { return dropped_; }      // capture: dropped when full
  uint64_t Taken() const { return taken_; }          // capture: read by the stream's user
  uint64_t FirstDrop() const { return first_drop_; }  // capture: the clock at the first
  // A copy of the played bytes, taken under the lock.
  std::vector<uint8_t> PlayedBytes();

  // The ramp's bytes for frames [first, first + count).
  static std::vector<uint8_t> Ramp(const WaveFormatEx& format, uint64_t first, uint64_t count);

  // Stream side.
  int Prepare();
  int Start();
  int Drop();
  long Read(void* data, uint32_t frames);
  long Write(const void* data, uint32_t frames);
  long Avail();
  long Delay();
  void Wait(int timeout_ms);
  void Wake();
  uint64_t StartFrame() const { return start_frame_; }
  uint64_t LostFrames();
  bool ReadClock(WaveStream::Clock& clock);
  // The clock as time: a played stream's time runs only as the test moves it.
  std::chrono::steady_clock::time_point PlayTime();

 private:
  // Takes an injected failure of op (under mutex_).
  int Injected(Op op);
  // Moves the clock; capture keeps what it makes, or drops it (under mutex_).
  void Move(uint64_t frames, bool keep);
  void Changed();
  // The clock in ns (under mutex_).
  int64_t ClockNs() const;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  const bool capture_;
  const WaveFormatEx format_;
  const uint32_t buffer_frames_;
  const uint64_t start_frame_;
  const int64_t rate_error_ppm_;
  const bool drops_when_full_;
  std::array<int, kOpCount> fail_{};
  bool running_ = false;
  bool xrun_ = false;
  bool woken_ = false;
  uint64_t ticks_ = 0;      // clock moves
  uint64_t clock_ = 0;      // frames of time at the nominal rate
  uint64_t run_clock_ = 0;  // capture: the part of clock_ while running
  uint64_t made_ = 0;       // capture: frames made in run_clock_ at the device's rate
  uint64_t seen_ticks_ = 0;  // ticks_ when Wait last returned
  bool waiting_ = false;     // the stream's user is inside Wait
  uint64_t buffered_ = 0;   // capture: ready to read; playback: written, unplayed
  uint64_t generated_ = 0;  // capture: ramp frames produced
  uint64_t lost_ = 0;       // capture: frames produced during the current overrun
  uint64_t dropped_ = 0;
  uint64_t taken_ = 0;
  uint64_t first_drop_ = 0;
  std::chrono::milliseconds read_delay_{0};
  bool read_stuck_ = false;
  uint64_t starts_ = 0;
  std::vector<uint8_t> pending_;  // playback: the buffered bytes
  std::vector<uint8_t> played_;
};

// A driver of scripted devices for tests: names and standard-format bits per device,
// formats it refuses, open failures, and access to the fake hardware of every stream
// it opened.
//
// Threads: any thread; the settings and the list of opened PCMs are guarded by mutex_.
class FakeWaveDriver : public WaveDriver {
 public:
  struct Device {
    std::string name;
    uint32_t formats = kAllStandardWaveFormats;
    uint16_t channels = 2;
  };

  // One input device "Fake Input" and one output device "Fake Output".
  FakeWaveDriver();

  void SetDevices(WaveDirection direction, std::vector<Device> devices);
  // Formats for which accepts is false are refused with WAVERR_BADFORMAT.
  void SetAccepts(std::function<bool(const WaveFormatEx&)> accepts);
  // The next open (query included) fails with result.
  void FailNextOpen(MMRESULT result);
  void SetBufferFrames(uint32_t frames);
  // Where the position of the next opened stream starts.
  void SetStartFrame(uint64_t frame);
  // How fast (positive) or slow the next opened capture streams run, in ppm.
  void SetRateError(int64_t ppm);
  // Whether the next opened capture streams drop their oldest frames when full, as
  // a sound server does, instead of overrunning.
  void SetDropsWhenFull(bool drops);
  // The hardware of the latest stream opened in direction; nullptr before any.
  std::shared_ptr<FakePcm> Last(WaveDirection direction);

  uint32_t NumDevs(WaveDirection direction) override;
  MMRESULT GetCaps(WaveDirection direction, int id, WaveDeviceCaps& caps) override;
  MMRESULT Open(WaveDirection direction, int id, const WaveFormatEx& format, bool query,
                std::unique_ptr<WaveStream>& stream) override;

 private:
  std::vector<Device>& List(WaveDirection direction);

  std::mutex mutex_;
  std::vector<Device> inputs_;
  std::vector<Device> outputs_;
  std::function<bool(const WaveFormatEx&)> accepts_;
  MMRESULT fail_open_ = MMSYSERR_NOERROR;
  uint32_t buffer_frames_ = 4096;
  uint64_t start_frame_ = 0;
  int64_t rate_error_ppm_ = 0;
  bool drops_when_full_ = false;
  std::shared_ptr<FakePcm> last_input_;
  std::shared_ptr<FakePcm> last_output_;
};

}  // namespace pmx
