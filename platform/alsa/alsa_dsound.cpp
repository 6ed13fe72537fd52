#include "platform/alsa/alsa_dsound.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/alsa/alsa_pcm.h"
#include "platform/alsa/alsa_wave_driver.h"

namespace pmx {
namespace {

constexpr std::size_t kMaxDescription = 127;
// A write gives up when the device has taken nothing for this many waits in a row.
constexpr int kWriteStalls = 4;
constexpr int kWaitMs = 500;
constexpr unsigned kPeriodsPerSecond = 50;

}  // namespace

AlsaSoundBuffer::~AlsaSoundBuffer() { snd_pcm_close(pcm_); }

int AlsaSoundBuffer::Open(const WaveFormatEx& format, uint32_t bytes) {
  WaveFormatEx pcm_format = format;
  if (pcm_format.wFormatTag() == WAVE_FORMAT_EXTENSIBLE) pcm_format.set_wFormatTag(WAVE_FORMAT_PCM);
  const snd_pcm_format_t sample = AlsaSampleFormat(pcm_format);
  if (sample == SND_PCM_FORMAT_UNKNOWN || pcm_format.wFormatTag() != WAVE_FORMAT_PCM) return -EINVAL;
  frame_bytes_ = format.nBlockAlign();
  usable_ = bytes / frame_bytes_;
  if (usable_ == 0) return -EINVAL;
  const int error = Configure(sample, format, usable_);
  if (error < 0) return error;
  if (!can_pause_) history_.assign(actual_ * frame_bytes_, 0);
  return 0;
}

int AlsaSoundBuffer::Configure(snd_pcm_format_t sample, const WaveFormatEx& format, snd_pcm_uframes_t frames) {
  AlsaPcmRequest request{.sample = sample, .channels = format.nChannels(), .rate = format.nSamplesPerSec()};
  request.buffer_frames = frames;
  // Some devices free room a period at a time: short periods keep room appearing
  // between polls, however long the buffer.
  request.period_frames = std::min<snd_pcm_uframes_t>(frames / 4, format.nSamplesPerSec() / kPeriodsPerSecond);
  AlsaPcmGeometry got;
  const int error = SetUpAlsaPcm(pcm_, request, got);
  if (error < 0) return error;
  actual_ = got.buffer_frames;
  // A device with less room is filled as far as it goes; writes wait for the rest.
  usable_ = std::min(usable_, actual_);
  can_pause_ = got.can_pause;
  return 0;
}

int AlsaSoundBuffer::Start() {
  playing_ = true;
  if (snd_pcm_state(pcm_) != SND_PCM_STATE_PREPARED) return 0;  // a full write started it
  return snd_pcm_start(pcm_);
}

int AlsaSoundBuffer::Stop() {
  playing_ = false;
  if (snd_pcm_state(pcm_) != SND_PCM_STATE_RUNNING) return 0;
  if (can_pause_) return snd_pcm_pause(pcm_, 1);
  KeepUnplayed();
  dropped_ = true;
  return snd_pcm_drop(pcm_);
}

int AlsaSoundBuffer::Restart() {
  playing_ = true;
  switch (snd_pcm_state(pcm_)) {
    case SND_PCM_STATE_PAUSED: return snd_pcm_pause(pcm_, 0);
    case SND_PCM_STATE_XRUN: RecoverAlsaPcm(pcm_, -EPIPE); break;
    case SND_PCM_STATE_SUSPENDED: RecoverAlsaPcm(pcm_, -ESTRPIPE); break;
    case SND_PCM_STATE_SETUP: {
      const int error = snd_pcm_prepare(pcm_);
      if (error < 0) return error;
      break;
    }
    default: break;
  }
  if (!dropped_) {
    // An empty buffer would run dry at once: it starts with its first data.
    if (snd_pcm_avail(pcm_) >= static_cast<snd_pcm_sframes_t>(actual_)) return 0;
    return Start();
  }
  dropped_ = false;
  const std::vector<uint8_t> replay = std::move(unplayed_);
  unplayed_.clear();
  const int error = WriteBytes(replay.data(), static_cast<uint32_t>(replay.size()));
  return error < 0 ? error : Start();
}

int AlsaSoundBuffer::GetFreeSpace(uint32_t& free) {
  const snd_pcm_sframes_t avail = snd_pcm_avail(pcm_);
  if (IsAlsaXrun(avail)) {
    if (playing_) CountUnderrun();
    RecoverAlsaPcm(pcm_, avail);
    free = static_cast<uint32_t>(usable_ * frame_bytes_);
    return 0;
  }
  if (avail < 0) return static_cast<int>(avail);
  const auto spare = static_cast<snd_pcm_sframes_t>(actual_ - usable_);
  free = static_cast<uint32_t>(std::max<snd_pcm_sframes_t>(0, avail - spare) * frame_bytes_);
  return 0;
}

int AlsaSoundBuffer::WriteBytes(const uint8_t* data, uint32_t bytes) {
  // A sound server's stream that sat idle since it was prepared may take the first
  // writes and never play them: a dropped stream is prepared just before them.
  if (!dropped_ && snd_pcm_state(pcm_) == SND_PCM_STATE_SETUP) {
    const int error = snd_pcm_prepare(pcm_);
    if (error < 0) return error;
  }
  snd_pcm_uframes_t frames = bytes / frame_bytes_;
  int stalls = 0;
  while (frames > 0) {
    const snd_pcm_sframes_t written = snd_pcm_writei(pcm_, data, frames);
    if (written == -EAGAIN) {
      // More than the room: the device must play some first.
      if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) snd_pcm_start(pcm_);
      if (snd_pcm_wait(pcm_, kWaitMs) == 0 && ++stalls >= kWriteStalls) return -EIO;
      continue;
    }
    stalls = 0;
    if (IsAlsaXrun(written)) {
      if (playing_) CountUnderrun();
      RecoverAlsaPcm(pcm_, written);
      continue;
    }
    if (written < 0) return static_cast<int>(written);
    Remember(data, static_cast<snd_pcm_uframes_t>(written));
    data += written * frame_bytes_;
    frames -= static_cast<snd_pcm_uframes_t>(written);
  }
  return 0;
}

int AlsaSoundBuffer::Unplayed(uint32_t& bytes) {
  bytes = 0;
  // A dropped device holds nothing: what it had not played waits for the restart.
  if (dropped_) {
    bytes = static_cast<uint32_t>(unplayed_.size());
    return 0;
  }
  if (snd_pcm_state(pcm_) == SND_PCM_STATE_SETUP) return 0;
  snd_pcm_sframes_t delay = 0;
  const int error = snd_pcm_delay(pcm_, &delay);
  // A device that ran dry has nothing left to play.
  if (IsAlsaXrun(error)) return 0;
  if (error < 0) return error;
  bytes = static_cast<uint32_t>(std::max<snd_pcm_sframes_t>(0, delay)) * frame_bytes_;
  return 0;
}

int AlsaSoundBuffer::DropUnplayed() {
  playing_ = false;
  dropped_ = false;
  unplayed_.clear();
  // Prepared again only by the next write (see WriteBytes).
  return snd_pcm_state(pcm_) == SND_PCM_STATE_SETUP ? 0 : snd_pcm_drop(pcm_);
}

void AlsaSoundBuffer::Remember(const uint8_t* data, snd_pcm_uframes_t frames) {
  if (history_.empty()) return;
  std::size_t bytes = frames * frame_bytes_;
  if (bytes > history_.size()) {
    data += bytes - history_.size();
    bytes = history_.size();
  }
  const std::size_t first = std::min(bytes, history_.size() - history_at_);
  std::memcpy(history_.data() + history_at_, data, first);
  std::memcpy(history_.data(), data + first, bytes - first);
  history_at_ = (history_at_ + bytes) % history_.size();
}

void AlsaSoundBuffer::KeepUnplayed() {
  snd_pcm_sframes_t delay = 0;
  if (snd_pcm_delay(pcm_, &delay) < 0 || delay <= 0) delay = 0;
  const std::size_t bytes = std::min<std::size_t>(static_cast<std::size_t>(delay) * frame_bytes_, history_.size());
  unplayed_.resize(bytes);
  const std::size_t start = (history_at_ + history_.size() - bytes) % history_.size();
  const std::size_t first = std::min(bytes, history_.size() - start);
  std::memcpy(unplayed_.data(), history_.data() + start, first);
  std::memcpy(unplayed_.data() + first, history_.data(), bytes - first);
}

AlsaSoundSystem::AlsaSoundSystem(Options options)
    : options_(std::move(options)), config_(LoadAlsaConfig(options_.config)) {}

AlsaSoundSystem::~AlsaSoundSystem() {
  if (config_) snd_config_delete(config_);
}

std::vector<SoundDevice> AlsaSoundSystem::Devices() {
  std::vector<SoundDevice> devices;
  if (options_.devices) {
    devices = *options_.devices;
  } else {
    devices.push_back({"default", "default"});
    for (const AlsaWaveDriver::Device& card : AlsaWaveDriver::CardDevices(WaveDirection::kOutput)) {
      devices.push_back({card.name, card.pcm});
    }
  }
  if (devices.size() > kMaxDevices) devices.resize(kMaxDevices);
  for (SoundDevice& device : devices) {
    if (device.description.size() > kMaxDescription) device.description.resize(kMaxDescription);
  }
  return devices;
}

std::unique_ptr<SoundBuffer> AlsaSoundSystem::Create(const SoundDevice& device) {
  if (!options_.config.empty() && !config_) return nullptr;
  snd_pcm_t* pcm = nullptr;
  const int error = OpenAlsaPcm(&pcm, device.pcm, WaveDirection::kOutput, config_);
  if (error < 0) return nullptr;
  return std::make_unique<AlsaSoundBuffer>(pcm);
}

uint32_t AlsaSoundSystem::Now() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void AlsaSoundSystem::Sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace pmx
