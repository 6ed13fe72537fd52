#include "platform/alsa/alsa_pcm.h"

#include <cerrno>
#include <chrono>
#include <thread>

namespace pmx {
namespace {

// A suspended device may take a while to wake; after that it is prepared anew.
constexpr int kResumeTries = 50;
constexpr auto kResumeWait = std::chrono::milliseconds(20);

int SetSizes(snd_pcm_t* pcm, snd_pcm_hw_params_t* hw, const AlsaPcmRequest& request) {
  if (request.buffer_frames == 0) {
    unsigned buffer_us = request.buffer_us;
    unsigned period_us = request.period_us;
    const int error = snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &buffer_us, nullptr);
    return error < 0 ? error : snd_pcm_hw_params_set_period_time_near(pcm, hw, &period_us, nullptr);
  }
  snd_pcm_uframes_t buffer = request.buffer_frames;
  snd_pcm_uframes_t period = request.period_frames;
  snd_pcm_hw_params_t* trial;
  snd_pcm_hw_params_alloca(&trial);
  snd_pcm_hw_params_copy(trial, hw);
  snd_pcm_uframes_t least = buffer;
  if (snd_pcm_hw_params_set_buffer_size_min(pcm, trial, &least) >= 0) snd_pcm_hw_params_copy(hw, trial);
  const int error = snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer);
  return error < 0 ? error : snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, nullptr);
}

int SetHardware(snd_pcm_t* pcm, const AlsaPcmRequest& request, AlsaPcmGeometry& got) {
  snd_pcm_hw_params_t* hw;
  snd_pcm_hw_params_alloca(&hw);
  int error = snd_pcm_hw_params_any(pcm, hw);
  if (error >= 0) error = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
  if (error >= 0) error = snd_pcm_hw_params_set_format(pcm, hw, request.sample);
  if (error >= 0) error = snd_pcm_hw_params_set_channels(pcm, hw, request.channels);
  if (error >= 0) error = snd_pcm_hw_params_set_rate(pcm, hw, request.rate, 0);
  if (error >= 0) error = SetSizes(pcm, hw, request);
  if (error >= 0) error = snd_pcm_hw_params(pcm, hw);
  if (error < 0) return error;
  snd_pcm_hw_params_get_buffer_size(hw, &got.buffer_frames);
  snd_pcm_hw_params_get_period_size(hw, &got.period_frames, nullptr);
  got.can_pause = snd_pcm_hw_params_can_pause(hw) != 0;
  return 0;
}

int SetSoftware(snd_pcm_t* pcm, const AlsaPcmRequest& request, const AlsaPcmGeometry& got) {
  snd_pcm_sw_params_t* sw;
  snd_pcm_sw_params_alloca(&sw);
  snd_pcm_uframes_t boundary = 0;
  int error = snd_pcm_sw_params_current(pcm, sw);
  if (error >= 0) error = snd_pcm_sw_params_get_boundary(sw, &boundary);
  // The owner starts the stream: playback stays silent while it is primed. A
  // playback threshold past the buffer is never reached; a sound server takes it
  // as how much to hold before it plays (again, after running dry). The boundary
  // would reach it as nothing to hold: its stream would play from the prepare on
  // and drop whatever came later than its reading position.
  const bool playback = snd_pcm_stream(pcm) == SND_PCM_STREAM_PLAYBACK;
  const snd_pcm_uframes_t start = playback ? 2 * got.buffer_frames : boundary;
  if (error >= 0) error = snd_pcm_sw_params_set_start_threshold(pcm, sw, start);
  if (error >= 0) error = snd_pcm_sw_params_set_avail_min(pcm, sw, got.period_frames);
  // Time stamps tell how long an overrun lasted; a PCM without them still works.
  if (error >= 0 && request.time_stamps) {
    snd_pcm_sw_params_set_tstamp_mode(pcm, sw, SND_PCM_TSTAMP_ENABLE);
    snd_pcm_sw_params_set_tstamp_type(pcm, sw, SND_PCM_TSTAMP_TYPE_MONOTONIC);
  }
  if (error >= 0) error = snd_pcm_sw_params(pcm, sw);
  return error < 0 ? error : 0;
}

}  // namespace

snd_config_t* LoadAlsaConfig(const std::string& text) {
  snd_config_t* config = nullptr;
  if (text.empty() || snd_config_top(&config) < 0) return nullptr;
  snd_input_t* input = nullptr;
  if (snd_input_buffer_open(&input, text.data(), static_cast<ssize_t>(text.size())) < 0) {
    snd_config_delete(config);
    return nullptr;
  }
  if (snd_config_load(config, input) < 0) {
    snd_config_delete(config);
    config = nullptr;
  }
  snd_input_close(input);
  return config;
}

snd_pcm_stream_t AlsaStreamOf(WaveDirection direction) {
  return direction == WaveDirection::kInput ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK;
}

int OpenAlsaPcm(snd_pcm_t** pcm, const std::string& name, WaveDirection direction, snd_config_t* config) {
  const snd_pcm_stream_t stream = AlsaStreamOf(direction);
  if (config) return snd_pcm_open_lconf(pcm, name.c_str(), stream, SND_PCM_NONBLOCK, config);
  return snd_pcm_open(pcm, name.c_str(), stream, SND_PCM_NONBLOCK);
}

snd_pcm_format_t AlsaSampleFormat(const WaveFormatEx& format) {
  const uint16_t bits = format.wBitsPerSample();
  if (format.nChannels() == 0 || format.nBlockAlign() != format.nChannels() * bits / 8) {
    return SND_PCM_FORMAT_UNKNOWN;
  }
  if (format.wFormatTag() == WAVE_FORMAT_PCM) {
    switch (bits) {
      case 8: return SND_PCM_FORMAT_U8;
      case 16: return SND_PCM_FORMAT_S16_LE;
      case 24: return SND_PCM_FORMAT_S24_3LE;
      case 32: return SND_PCM_FORMAT_S32_LE;
      default: return SND_PCM_FORMAT_UNKNOWN;
    }
  }
  if (format.wFormatTag() == WAVE_FORMAT_IEEE_FLOAT) {
    if (bits == 32) return SND_PCM_FORMAT_FLOAT_LE;
    if (bits == 64) return SND_PCM_FORMAT_FLOAT64_LE;
  }
  return SND_PCM_FORMAT_UNKNOWN;
}

int SetUpAlsaPcm(snd_pcm_t* pcm, const AlsaPcmRequest& request, AlsaPcmGeometry& got) {
  const int error = SetHardware(pcm, request, got);
  return error < 0 ? error : SetSoftware(pcm, request, got);
}

void RecoverAlsaPcm(snd_pcm_t* pcm, long error) {
  if (error == -ESTRPIPE) {
    int resumed;
    for (int tries = 0; (resumed = snd_pcm_resume(pcm)) == -EAGAIN && tries < kResumeTries; ++tries) {
      std::this_thread::sleep_for(kResumeWait);
    }
    if (resumed == 0) return;
  }
  snd_pcm_prepare(pcm);
}

}  // namespace pmx
