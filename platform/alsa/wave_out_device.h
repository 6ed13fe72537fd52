#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <deque>
#include <vector>

#include "platform/alsa/wave_device.h"

namespace pmx {

// A playback device. Buffers play in order; one comes back with WOM_DONE once the
// device has played it. Bytes of a frame split over two buffers play as one frame,
// even when the first buffer came back before the second was queued.
// Underruns while data is waiting are recovered and counted.
class WaveOutDevice : public WaveDevice {
 public:
  // Use waveOutOpen.
  WaveOutDevice(int id, const WaveFormatEx& format, std::unique_ptr<WaveStream> stream,
                WaveCallback callback);
  ~WaveOutDevice() override;

  MMRESULT Write(WAVEHDR* header);
  // Paused before the first write, the device takes data but stays silent until
  // Restart; paused while playing, it stops where it is and Restart resumes there.
  MMRESULT Pause();
  MMRESULT Restart();
  // Underruns since open.
  uint64_t Underruns() const { return underruns_.load(); }

 private:
  struct Entry {
    WAVEHDR* header;
    uint64_t start;  // offset of its first byte in the stream since Reset
  };

  // The playback stream is used under mutex_ alone.
  void Transfer(Lock&) override { Pump(); }
  // Takes note of what has played and moves what data it can (under mutex_).
  void Pump();
  // Moves what data it can, and starts or halts the stream (under mutex_).
  void Advance();
  bool WantsDevice() const override;
  int WaitTimeout() const override;
  void ResetLocked() override;
  bool RefreshPosition() override;
  void Feed();
  long WriteAt(uint64_t offset);
  // Copies count bytes of the stream from offset (carry and queued buffers).
  void CopyAt(uint64_t offset, uint8_t* to, std::size_t count) const;
  bool Track();
  // Frames that should have played since everything was written (under mutex_).
  uint64_t TailElapsed();
  // Everything written has had its time to play, and a while more (under mutex_).
  bool Drained();
  // The frames whose buffers may go back: once all is written, those played
  // before until the last have had their time (under mutex_).
  uint64_t Completable();
  // Drops what the device holds; it is written again from what has played.
  void Unwind();
  void Recover();
  bool CompletePlayed(uint64_t played_bytes);
  void Halt();
  bool FrameWaiting() const { return written_ * Block() + Block() <= end_; }
  static uint64_t EntryEnd(const Entry& e) { return e.start + e.header->dwBufferLength; }

  // All guarded by mutex_. Offsets count bytes queued since Reset.
  std::deque<Entry> entries_;     // the queue with offsets, beside queue_
  uint64_t end_ = 0;              // offset after the last queued byte
  uint64_t written_ = 0;          // frames handed to the stream
  uint64_t played_ = 0;           // frames played
  bool started_ = false;          // the stream's clock runs
  bool paused_ = false;
  bool held_ = false;             // the device holds its frames while paused
  // Since when everything is written, and how much was in flight then.
  struct Tail {
    std::chrono::steady_clock::time_point start;
    uint64_t frames;
  };
  std::optional<Tail> tail_;
  bool lags_ = false;             // the device has told of frames in flight
  bool full_ = false;             // the last write found no room
  long delay_ = 0;                // frames in flight at the last Track
  std::vector<uint8_t> staging_;  // one frame split over buffers
  // The start of a frame whose buffer came back before the rest of the frame was
  // queued; it plays ahead of the next buffer.
  std::vector<uint8_t> carry_;
  uint64_t carry_start_ = 0;
  std::atomic<uint64_t> underruns_{0};
};

uint32_t waveOutGetNumDevs();
MMRESULT waveOutGetDevCaps(int id, WAVEOUTCAPS& caps);
MMRESULT waveOutGetErrorText(MMRESULT code, std::string& text);
MMRESULT waveOutOpen(std::unique_ptr<WaveOutDevice>& handle, int id, const WaveFormatEx& format,
                     WaveCallback callback, uint32_t flags);

}  // namespace pmx
