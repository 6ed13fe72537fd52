#include "platform/alsa/alsa_wave_driver.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "platform/alsa/alsa_pcm.h"
#include "platform/alsa/alsa_wave_stream.h"

namespace pmx {
namespace {

std::string Hint(const void* hint, const char* id) {
  char* value = snd_device_name_get_hint(hint, id);
  std::string text = value ? value : "";
  std::free(value);
  return text;
}

// Whether card device "hw:..." has a PCM of the wanted direction.
bool HasStream(const std::string& hw_name, snd_pcm_stream_t stream) {
  const auto dev = hw_name.find(",DEV=");
  if (dev == std::string::npos) return false;
  snd_ctl_t* ctl = nullptr;
  if (snd_ctl_open(&ctl, hw_name.substr(0, dev).c_str(), SND_CTL_NONBLOCK) < 0) return false;
  snd_pcm_info_t* info;
  snd_pcm_info_alloca(&info);
  snd_pcm_info_set_device(info, static_cast<unsigned>(std::atoi(hw_name.c_str() + dev + 5)));
  snd_pcm_info_set_subdevice(info, 0);
  snd_pcm_info_set_stream(info, stream);
  const bool found = snd_ctl_pcm_info(ctl, info) >= 0;
  snd_ctl_close(ctl);
  return found;
}

MMRESULT OpenResult(int error) {
  switch (-error) {
    case EBUSY:
    case EAGAIN: return MMSYSERR_ALLOCATED;
    case ENOENT:
    case ENODEV:
    case ENXIO: return MMSYSERR_BADDEVICEID;
    case ENOMEM: return MMSYSERR_NOMEM;
    default: return MMSYSERR_ERROR;
  }
}

constexpr unsigned kStandardRates[] = {11025, 22050, 44100};

// Standard formats the opened PCM takes, and its most channels.
WaveDeviceCaps CapsOf(snd_pcm_t* pcm) {
  WaveDeviceCaps caps;
  snd_pcm_hw_params_t* any;
  snd_pcm_hw_params_t* trial;
  snd_pcm_hw_params_alloca(&any);
  snd_pcm_hw_params_alloca(&trial);
  if (snd_pcm_hw_params_any(pcm, any) < 0) return caps;
  unsigned channels = 0;
  snd_pcm_hw_params_get_channels_max(any, &channels);
  caps.channels = static_cast<uint16_t>(std::min(channels, 8u));
  for (unsigned rate : kStandardRates) {
    for (uint16_t ch = 1; ch <= 2; ++ch) {
      for (uint16_t bits : {8, 16}) {
        snd_pcm_hw_params_copy(trial, any);
        const auto format = bits == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
        if (snd_pcm_hw_params_set_format(pcm, trial, format) < 0) continue;
        if (snd_pcm_hw_params_set_channels(pcm, trial, ch) < 0) continue;
        if (snd_pcm_hw_params_test_rate(pcm, trial, rate, 0) < 0) continue;
        caps.formats |= StandardWaveFormatBit(rate, ch, bits);
      }
    }
  }
  return caps;
}

}  // namespace

AlsaWaveDriver::AlsaWaveDriver() : AlsaWaveDriver(Options{}) {}

AlsaWaveDriver::AlsaWaveDriver(Options options)
    : options_(std::move(options)), config_(LoadAlsaConfig(options_.config)) {}

AlsaWaveDriver::~AlsaWaveDriver() {
  if (config_) snd_config_delete(config_);
}

std::vector<AlsaWaveDriver::Device> AlsaWaveDriver::CardDevices(WaveDirection direction) {
  // The system's hints are read once for the program, both directions at a time:
  // each walk of them reads the whole configuration, and the wave driver of each
  // direction and every streaming output ask at start-up.
  static const std::vector<std::pair<WaveDirection, Device>> scanned = [] {
    std::vector<std::pair<WaveDirection, Device>> found;
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0) return found;
    for (void** hint = hints; *hint; ++hint) {
      const std::string name = Hint(*hint, "NAME");
      if (name.rfind("hw:", 0) != 0) continue;
      std::string description = Hint(*hint, "DESC");
      description = description.substr(0, description.find('\n'));
      for (WaveDirection way : {WaveDirection::kInput, WaveDirection::kOutput}) {
        if (HasStream(name, AlsaStreamOf(way))) found.emplace_back(way, Device{description, "plug" + name});
      }
    }
    snd_device_name_free_hint(hints);
    return found;
  }();
  std::vector<Device> devices;
  for (const auto& [way, device] : scanned) {
    if (way == direction) devices.push_back(device);
  }
  return devices;
}

std::vector<AlsaWaveDriver::Device> AlsaWaveDriver::DeviceList(const std::string& mapper,
                                                             std::vector<Device> cards) {
  cards.insert(cards.begin(), Device{mapper, mapper});
  return cards;
}

uint32_t AlsaWaveDriver::NumDevs(WaveDirection direction) {
  std::lock_guard lock(mutex_);
  return static_cast<uint32_t>(List(direction).size());
}

bool AlsaWaveDriver::HasDevice(WaveDirection direction, int id) {
  std::lock_guard lock(mutex_);
  return Find(direction, id).has_value();
}

MMRESULT AlsaWaveDriver::GetCaps(WaveDirection direction, int id, WaveDeviceCaps& caps) {
  std::lock_guard lock(mutex_);
  const std::optional<Device> device = Find(direction, id);
  if (!device) return MMSYSERR_BADDEVICEID;
  if (!Known(*device, direction)) Probe(*device, direction);
  caps = caps_.at(std::make_pair(direction, device->pcm));
  return MMSYSERR_NOERROR;
}

MMRESULT AlsaWaveDriver::Open(WaveDirection direction, int id, const WaveFormatEx& format,
                              bool query, std::unique_ptr<WaveStream>& stream) {
  std::lock_guard lock(mutex_);
  const std::optional<Device> device = Find(direction, id);
  if (!device) return MMSYSERR_BADDEVICEID;
  if (AlsaSampleFormat(format) == SND_PCM_FORMAT_UNKNOWN) return WAVERR_BADFORMAT;
  snd_pcm_t* pcm = nullptr;
  const int error = OpenPcm(&pcm, device->pcm, direction);
  if (error < 0) {
    last_failure_ = "ALSA cannot open \"" + device->pcm + "\": " + snd_strerror(error);
    return OpenResult(error);
  }
  // The capabilities are read off this open: asking for them later opens no PCM.
  Learn(*device, direction, pcm);
  auto opened = std::make_unique<AlsaWaveStream>(pcm);
  const unsigned buffer_ms = direction == WaveDirection::kInput ? options_.capture_buffer_ms
                                                                : options_.playback_buffer_ms;
  const unsigned wake_ms = direction == WaveDirection::kInput ? options_.capture_wake_ms : 0;
  if (const int refused = opened->Configure(format, buffer_ms, wake_ms); refused < 0) {
    last_failure_ = "ALSA refuses the format on \"" + device->pcm + "\": " + snd_strerror(refused);
    return WAVERR_BADFORMAT;
  }
  last_failure_.clear();
  if (!query) stream = std::move(opened);
  return MMSYSERR_NOERROR;
}

std::string AlsaWaveDriver::LastOpenFailure() {
  std::lock_guard lock(mutex_);
  return last_failure_;
}

const std::vector<AlsaWaveDriver::Device>& AlsaWaveDriver::List(WaveDirection direction) {
  std::optional<std::vector<Device>>& list =
      direction == WaveDirection::kInput ? options_.inputs : options_.outputs;
  if (!list) list = DeviceList(options_.mapper, CardDevices(direction));
  return *list;
}

bool AlsaWaveDriver::MapperUnlisted(WaveDirection direction) const {
  return !(direction == WaveDirection::kInput ? options_.inputs : options_.outputs);
}

std::optional<AlsaWaveDriver::Device> AlsaWaveDriver::Find(WaveDirection direction, int id) {
  // Reading the hints walks the whole configuration and wakes every sound server
  // hook in it; a program that uses the default device never needs them.
  if (id == WAVE_MAPPER || (id == 0 && MapperUnlisted(direction))) {
    return Device{options_.mapper, options_.mapper};
  }
  const std::vector<Device>& list = List(direction);
  if (id < 0 || id >= static_cast<int>(list.size())) return std::nullopt;
  return list[static_cast<std::size_t>(id)];
}

int AlsaWaveDriver::OpenPcm(snd_pcm_t** pcm, const std::string& name, WaveDirection direction) {
  if (!options_.config.empty() && !config_) return -EINVAL;
  return OpenAlsaPcm(pcm, name, direction, config_);
}

bool AlsaWaveDriver::Known(const Device& device, WaveDirection direction) const {
  return caps_.count(std::make_pair(direction, device.pcm)) != 0;
}

void AlsaWaveDriver::Learn(const Device& device, WaveDirection direction, snd_pcm_t* pcm) {
  if (Known(device, direction)) return;
  WaveDeviceCaps caps = CapsOf(pcm);
  caps.name = device.name;
  caps_.emplace(std::make_pair(direction, device.pcm), std::move(caps));
}

void AlsaWaveDriver::Probe(const Device& device, WaveDirection direction) {
  snd_pcm_t* pcm = nullptr;
  if (OpenPcm(&pcm, device.pcm, direction) >= 0) {
    Learn(device, direction, pcm);
    snd_pcm_close(pcm);
    return;
  }
  // A busy device still converts every standard format through the plug layer.
  WaveDeviceCaps caps;
  caps.formats = kAllStandardWaveFormats;
  caps.channels = 2;
  caps.name = device.name;
  caps_.emplace(std::make_pair(direction, device.pcm), std::move(caps));
}

}  // namespace pmx
