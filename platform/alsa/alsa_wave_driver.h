#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/alsa/wave_driver.h"

typedef struct _snd_config snd_config_t;
typedef struct _snd_pcm snd_pcm_t;

namespace pmx {

// The wave devices of ALSA. Device 0 and WAVE_MAPPER are the "default" PCM, which
// is all a machine has whose sound goes through a sound server or an .asoundrc;
// devices 1..n are the cards' PCM devices (from the device hints, in their order)
// opened through the plug layer, so any rate, width and channel count converts.
//
// Threads: any thread; the device list, the capabilities cache, the private
// configuration and the last open failure are guarded by mutex_.
class AlsaWaveDriver : public WaveDriver {
 public:
  struct Device {
    std::string name;  // product name
    std::string pcm;   // ALSA PCM name
  };
  struct Options {
    // ALSA configuration text in which the PCM names are looked up (for instance a
    // "file" PCM); empty: the system's configuration.
    std::string config;
    std::string mapper = "default";
    // The devices; unset: the mapper, then the cards' devices.
    std::optional<std::vector<Device>> inputs;
    std::optional<std::vector<Device>> outputs;
    unsigned capture_buffer_ms = 500;
    // The least a capture stream waits for between wake-ups, its period at the
    // same time; 0: as little as the buffers filled want. Every period wakes the
    // sound server's thread and ours, so a recorder that nobody watches takes
    // long ones.
    unsigned capture_wake_ms = 0;
    unsigned playback_buffer_ms = 100;
  };

  AlsaWaveDriver();
  explicit AlsaWaveDriver(Options options);
  ~AlsaWaveDriver() override;
  AlsaWaveDriver(const AlsaWaveDriver&) = delete;
  AlsaWaveDriver& operator=(const AlsaWaveDriver&) = delete;

  uint32_t NumDevs(WaveDirection direction) override;
  bool HasDevice(WaveDirection direction, int id) override;
  MMRESULT GetCaps(WaveDirection direction, int id, WaveDeviceCaps& caps) override;
  MMRESULT Open(WaveDirection direction, int id, const WaveFormatEx& format, bool query,
                std::unique_ptr<WaveStream>& stream) override;
  std::string LastOpenFailure() override;

  // The cards' devices of direction from the system's device hints, as they were
  // when first asked for.
  static std::vector<Device> CardDevices(WaveDirection direction);
  // The list a user chooses from: the mapper PCM first, then the cards.
  static std::vector<Device> DeviceList(const std::string& mapper, std::vector<Device> cards);

 private:
  const std::vector<Device>& List(WaveDirection direction);  // under mutex_
  // Whether device 0 is the mapper without a look at the list: no list was given
  // and the hints were not read yet (under mutex_).
  bool MapperUnlisted(WaveDirection direction) const;
  // The PCM name of id, or nullopt when id is out of range (under mutex_).
  std::optional<Device> Find(WaveDirection direction, int id);
  int OpenPcm(snd_pcm_t** pcm, const std::string& name, WaveDirection direction);
  // Opens the device to learn its capabilities (under mutex_).
  void Probe(const Device& device, WaveDirection direction);
  bool Known(const Device& device, WaveDirection direction) const;  // under mutex_
  // Keeps the capabilities of an open device, unless they are known (under mutex_).
  void Learn(const Device& device, WaveDirection direction, snd_pcm_t* pcm);

  std::mutex mutex_;
  Options options_;
  snd_config_t* config_ = nullptr;
  std::map<std::pair<WaveDirection, std::string>, WaveDeviceCaps> caps_;
  std::string last_failure_;
};

}  // namespace pmx
