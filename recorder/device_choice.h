#pragma once

#include <cstdint>

#include "platform/alsa/wave_driver.h"

namespace pmx {

// The device number to use for a stored one: the stored number while the driver
// has that device, else device 0 (ALSA's "default"), with a line in the monthly
// log, so that a removed card does not stop the recorder.
// Threads: GUI thread.
uint8_t UsableDevice(WaveDirection direction, uint8_t stored);

}  // namespace pmx
