#include "platform/alsa/wave_driver.h"

#include <atomic>
#include <cstring>

#include "platform/alsa/alsa_wave_driver.h"

namespace pmx {
namespace {

struct CodeText {
  MMRESULT code;
  const char* text;
};

constexpr CodeText kTexts[] = {
    {MMSYSERR_NOERROR, "The call succeeded."},
    {MMSYSERR_ERROR, "The audio device reported an error."},
    {MMSYSERR_BADDEVICEID, "The audio device number is out of range."},
    {MMSYSERR_NOTENABLED, "The audio driver could not be enabled."},
    {MMSYSERR_ALLOCATED, "The audio device is in use by another program."},
    {MMSYSERR_INVALHANDLE, "The audio device handle is not open."},
    {MMSYSERR_NODRIVER, "No audio driver is available."},
    {MMSYSERR_NOMEM, "Not enough memory for the audio device."},
    {MMSYSERR_NOTSUPPORTED, "The audio device does not support this call."},
    {MMSYSERR_BADERRNUM, "The error number is unknown."},
    {MMSYSERR_INVALFLAG, "An unknown flag was given."},
    {MMSYSERR_INVALPARAM, "A parameter is not valid."},
    {MMSYSERR_HANDLEBUSY, "The audio device handle is busy on another thread."},
    {WAVERR_BADFORMAT, "The audio device cannot use this wave format."},
    {WAVERR_STILLPLAYING, "Buffers are still queued at the audio device."},
    {WAVERR_UNPREPARED, "The wave buffer header is not prepared."},
};

std::atomic<WaveDriver*> installed{nullptr};

}  // namespace

MMRESULT WaveErrorText(MMRESULT code, std::string& text) {
  for (const CodeText& entry : kTexts) {
    if (entry.code == code) {
      text = entry.text;
      return MMSYSERR_NOERROR;
    }
  }
  return MMSYSERR_BADERRNUM;
}

uint32_t StandardWaveFormatBit(uint32_t rate, uint16_t channels, uint16_t bits) {
  if (channels < 1 || channels > 2 || (bits != 8 && bits != 16)) return 0;
  int band;
  if (rate >= 8000 && rate <= 11025) {
    band = 0;
  } else if (rate >= 11026 && rate <= 22050) {
    band = 1;
  } else if (rate >= 22051 && rate <= 48000) {
    band = 2;
  } else {
    return 0;
  }
  const int layout = (channels - 1) + (bits == 16 ? 2 : 0);
  return 1u << (band * 4 + layout);
}

bool WaveDriver::HasDevice(WaveDirection direction, int id) {
  return id >= WAVE_MAPPER && id < static_cast<int64_t>(NumDevs(direction));
}

WaveDriver& WaveDriver::Instance() {
  if (WaveDriver* driver = installed.load()) return *driver;
  static AlsaWaveDriver system_driver;
  return system_driver;
}

void WaveDriver::Install(WaveDriver* driver) { installed.store(driver); }

std::string WaveStream::ErrorText(long error) const {
  return std::strerror(static_cast<int>(-error));
}

}  // namespace pmx
