#include "tests/support/alsa_file_pcm.h"

#include <string>
#include <vector>

namespace pmx::test {

AlsaWaveDriver::Options FilePcmOptions(const TempDir& dir) {
  AlsaWaveDriver::Options options;
  const std::string in = (dir / "in.raw").string();
  const std::string out = (dir / "out.raw").string();
  options.config = "pcm.ramp { type file slave.pcm { type null } file \"/dev/null\" infile \"" +
                   in + "\" format raw }\n" +
                   "pcm.sink { type file slave.pcm { type null } file \"" + out +
                   "\" format raw }\n";
  options.mapper = "ramp";
  options.inputs = std::vector<AlsaWaveDriver::Device>{{"Ramp", "ramp"}};
  options.outputs = std::vector<AlsaWaveDriver::Device>{{"Sink", "sink"}};
  return options;
}

}  // namespace pmx::test
