#include "recorder/device_choice.h"

#include <string>

#include "recorder/event_log.h"

namespace pmx {

uint8_t UsableDevice(WaveDirection direction, uint8_t stored) {
  if (WaveDriver::Instance().HasDevice(direction, stored)) return stored;
  const char* what = direction == WaveDirection::kInput ? "Recording" : "Playback";
  NoteInMonthlyLog(std::string(what) + " device " + std::to_string(stored) +
                   " does not exist; using \"default\"");
  return 0;
}

}  // namespace pmx
