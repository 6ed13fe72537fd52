#pragma once

#include <alsa/asoundlib.h>

#include <cerrno>
#include <string>

#include "platform/alsa/wave_driver.h"

namespace pmx {

// The set-up and the recovery every ALSA PCM of the program goes through.

// A private ALSA configuration from its text; null when text is empty or bad.
snd_config_t* LoadAlsaConfig(const std::string& text);
snd_pcm_stream_t AlsaStreamOf(WaveDirection direction);
// Opens name non-blocking, looked up in config when given, else in the system's.
int OpenAlsaPcm(snd_pcm_t** pcm, const std::string& name, WaveDirection direction, snd_config_t* config);

// The ALSA sample format of a wave format; SND_PCM_FORMAT_UNKNOWN when none fits.
snd_pcm_format_t AlsaSampleFormat(const WaveFormatEx& format);

// How a PCM is to be set up: interleaved frames of sample, channels and rate, and
// a buffer and a period in frames when buffer_frames is set, else in microseconds.
struct AlsaPcmRequest {
  snd_pcm_format_t sample = SND_PCM_FORMAT_UNKNOWN;
  unsigned channels = 0;
  unsigned rate = 0;
  unsigned buffer_us = 0;
  unsigned period_us = 0;
  // A buffer of at least buffer_frames where the device has one, else the nearest.
  snd_pcm_uframes_t buffer_frames = 0;
  snd_pcm_uframes_t period_frames = 0;
  // Time stamps on the status, where the PCM has them.
  bool time_stamps = false;
};

// What the device gave.
struct AlsaPcmGeometry {
  snd_pcm_uframes_t buffer_frames = 0;
  snd_pcm_uframes_t period_frames = 0;
  bool can_pause = false;
};

// Sets the hardware parameters asked for, then the software ones: the stream
// starts only when told to and wakes a period at a time. A negative errno when
// the PCM refuses any of them.
int SetUpAlsaPcm(snd_pcm_t* pcm, const AlsaPcmRequest& request, AlsaPcmGeometry& got);

// An underrun, an overrun or a suspend: what RecoverAlsaPcm mends.
inline bool IsAlsaXrun(long error) { return error == -EPIPE || error == -ESTRPIPE; }
// Makes the PCM usable again after error: a suspended one is resumed where the
// device can, anything else prepared anew.
void RecoverAlsaPcm(snd_pcm_t* pcm, long error);

}  // namespace pmx
