#pragma once

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/mm_result.h"
#include "platform/wave_types.h"

namespace pmx {

// Result codes of the wave device calls.
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

// The text of a result code; MMSYSERR_BADERRNUM (text untouched) for an unknown code.
MMRESULT WaveErrorText(MMRESULT code, std::string& text);

// Device number of the default device.
constexpr int WAVE_MAPPER = -1;

// Open flags: only test whether the format could be opened; open through the mapper.
constexpr uint32_t WAVE_FORMAT_QUERY = 0x0001;
constexpr uint32_t WAVE_MAPPED = 0x0004;

// Standard-format bits of the capabilities: rate band 1 (11.025 kHz), 2 (22.05 kHz),
// 4 (44.1 kHz); M/S mono/stereo; 08/16 bits.
constexpr uint32_t WAVE_FORMAT_1M08 = 0x00000001;
constexpr uint32_t WAVE_FORMAT_1S08 = 0x00000002;
constexpr uint32_t WAVE_FORMAT_1M16 = 0x00000004;
constexpr uint32_t WAVE_FORMAT_1S16 = 0x00000008;
constexpr uint32_t WAVE_FORMAT_2M08 = 0x00000010;
constexpr uint32_t WAVE_FORMAT_2S08 = 0x00000020;
constexpr uint32_t WAVE_FORMAT_2M16 = 0x00000040;
constexpr uint32_t WAVE_FORMAT_2S16 = 0x00000080;
constexpr uint32_t WAVE_FORMAT_4M08 = 0x00000100;
constexpr uint32_t WAVE_FORMAT_4S08 = 0x00000200;
constexpr uint32_t WAVE_FORMAT_4M16 = 0x00000400;
constexpr uint32_t WAVE_FORMAT_4S16 = 0x00000800;
constexpr uint32_t kAllStandardWaveFormats = 0x00000FFF;

// The bit of the standard format (rate band, channels, bits); 0 when it is none.
uint32_t StandardWaveFormatBit(uint32_t rate, uint16_t channels, uint16_t bits);

struct WAVEINCAPS {
  uint16_t wMid = 0;
  uint16_t wPid = 0;
  uint32_t vDriverVersion = 0;
  std::string szPname;
  uint32_t dwFormats = 0;
  uint16_t wChannels = 0;
};

struct WAVEOUTCAPS : WAVEINCAPS {
  uint32_t dwSupport = 0;
};

// A position: the caller names the unit it wants in wType, the device answers in
// TIME_SAMPLES or TIME_BYTES and sets wType to the unit it used.
constexpr uint32_t TIME_MS = 0x0001;
constexpr uint32_t TIME_SAMPLES = 0x0002;
constexpr uint32_t TIME_BYTES = 0x0004;
struct MMTIME {
  uint32_t wType = TIME_SAMPLES;
  uint32_t value = 0;
};

// Messages of the per-handle callback.
constexpr uint32_t MM_WOM_OPEN = 0x3BB;
constexpr uint32_t MM_WOM_CLOSE = 0x3BC;
constexpr uint32_t MM_WOM_DONE = 0x3BD;
constexpr uint32_t MM_WIM_OPEN = 0x3BE;
constexpr uint32_t MM_WIM_CLOSE = 0x3BF;
constexpr uint32_t MM_WIM_DATA = 0x3C0;
constexpr uint32_t WOM_OPEN = MM_WOM_OPEN;
constexpr uint32_t WOM_CLOSE = MM_WOM_CLOSE;
constexpr uint32_t WOM_DONE = MM_WOM_DONE;
constexpr uint32_t WIM_OPEN = MM_WIM_OPEN;
constexpr uint32_t WIM_CLOSE = MM_WIM_CLOSE;
constexpr uint32_t WIM_DATA = MM_WIM_DATA;
// Our own: the capture stream failed for good (a dead or unplugged device); the
// handle's Failure() says why. Every buffer completed before it has come back.
constexpr uint32_t WIM_FAILED = 0x3C1;

enum class WaveDirection { kInput, kOutput };

// What a driver tells about one device.
struct WaveDeviceCaps {
  std::string name;
  uint32_t formats = 0;  // standard-format bits
  uint16_t channels = 0;
};

// One open PCM stream of a driver: interleaved frames of the format it was opened
// with. Transfers never block; -EAGAIN means "not now", -EPIPE an overrun (capture)
// or underrun (playback) after which Prepare makes the stream usable again; other
// failures are negative errno values.
//
// Threads: the handle's I/O thread and the thread calling the handle's methods use
// it one at a time (the handle's lock); Wake may be called from any thread.
class WaveStream {
 public:
  virtual ~WaveStream() = default;

  // Ready to start, empty (after open, Drop or an xrun).
  virtual int Prepare() = 0;
  // Starts the clock: capture begins, playback plays what was written.
  virtual int Start() = 0;
  // Stops at once; frames not yet transferred are discarded. Prepare follows.
  virtual int Drop() = 0;
  // Playback: holds the running stream where it is, keeping what it has not played
  // (enable), or plays on from there; -ENOSYS when the device cannot.
  virtual int Pause(bool) { return -ENOSYS; }
  virtual long Read(void* data, uint32_t frames) = 0;
  virtual long Write(const void* data, uint32_t frames) = 0;
  // Capture: frames ready to read. Playback: free room in frames.
  virtual long Avail() = 0;
  // Playback: frames written and not yet played.
  virtual long Delay() = 0;
  // Blocks until the device may be ready (only with device), Wake was called since
  // the last Wait, or timeout_ms passed (-1: none).
  virtual void Wait(bool device, int timeout_ms) = 0;
  virtual void Wake() = 0;
  // Capture: Wait need not end for the device before this many frames are ready
  // (kept between one period and half the device buffer). A recorder's thread then
  // wakes once per buffer it fills, not once per period.
  virtual void SetWakeFrames(uint32_t) {}
  // The sample counter a fresh handle starts its position at.
  virtual uint64_t StartFrame() const { return 0; }
  // Capture: the frames lost in the overrun that a transfer has just reported
  // (-EPIPE); asked before Prepare, which discards what the device still holds.
  virtual uint64_t LostFrames() { return 0; }
  // Capture, while running: the frames ready to read (with those a sound server
  // holds for the reader beyond its buffer) and when they were counted,
  // on the monotonic clock in ns (the device's own time stamp where it gives one),
  // and how many frames it may hold before it shows them; false when it can't tell.
  struct Clock {
    uint64_t ready = 0;
    int64_t stamp_ns = 0;
    uint64_t unseen = 0;
  };
  virtual bool ReadClock(Clock&) { return false; }
  // Playback: now, on the clock the device plays by; a device plays in real time.
  virtual std::chrono::steady_clock::time_point PlayTime() { return std::chrono::steady_clock::now(); }
  // The driver's text for a failure (a negative errno).
  virtual std::string ErrorText(long error) const;
};

// A source of wave devices: the ALSA driver, or a fake one in tests.
//
// Threads: every method may be called from any thread.
class WaveDriver {
 public:
  virtual ~WaveDriver() = default;

  virtual uint32_t NumDevs(WaveDirection direction) = 0;
  // Whether id (WAVE_MAPPER included) names a device of direction. A driver that
  // knows its first device without counting them all answers for it at once.
  virtual bool HasDevice(WaveDirection direction, int id);
  // id WAVE_MAPPER is the default device.
  virtual MMRESULT GetCaps(WaveDirection direction, int id, WaveDeviceCaps& caps) = 0;
  // Opens device id for format; with query only tests that it could, and leaves
  // stream empty.
  virtual MMRESULT Open(WaveDirection direction, int id, const WaveFormatEx& format, bool query,
                        std::unique_ptr<WaveStream>& stream) = 0;
  // Why the last Open failed, in the system's words (the wave error codes say
  // less); empty after an Open that worked.
  virtual std::string LastOpenFailure() { return {}; }

  // The driver the wave calls use: the installed one, else the ALSA driver over the
  // system's configuration.
  static WaveDriver& Instance();
  // Installs driver (not owned; nullptr restores the ALSA driver).
  static void Install(WaveDriver* driver);
};

// Installs a driver for the lifetime of a scope.
class ScopedWaveDriver {
 public:
  explicit ScopedWaveDriver(WaveDriver& driver) { WaveDriver::Install(&driver); }
  ~ScopedWaveDriver() { WaveDriver::Install(nullptr); }
  ScopedWaveDriver(const ScopedWaveDriver&) = delete;
  ScopedWaveDriver& operator=(const ScopedWaveDriver&) = delete;
};

}  // namespace pmx
