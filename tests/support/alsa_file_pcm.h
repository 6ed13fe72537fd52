#pragma once

#include "platform/alsa/alsa_wave_driver.h"
#include "tests/support/temp_dir.h"

namespace pmx::test {

// ALSA devices that need no sound card: capture "Ramp" reads dir/in.raw, playback
// "Sink" writes dir/out.raw; the mapper is the capture device.
AlsaWaveDriver::Options FilePcmOptions(const TempDir& dir);

}  // namespace pmx::test
