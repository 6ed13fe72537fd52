#pragma once

#include <cstdint>
#include <vector>

#include "audio/streaming/au_file_stream.h"
#include "platform/codecs/acm.h"
#include "platform/wave_types.h"

namespace pmx {

// The audio of a WAVE file in memory with its format, converted in one pass
// through the codec registry and written out again as a WAVE file.
// Single-threaded.
class TWaveConverter {
 public:
  static constexpr uint32_t kFormatBytes = 129;
  static constexpr int kWriteFailed = 286;

  // Fills the data and CurrentFormat from a RIFF/WAVE stream at its position;
  // false (and empty) for a stream that is not one.
  bool LoadFromWaveStream(TStream& stream);
  // Converts the data from CurrentFormat to NewFormat; the registry's result.
  MMRESULT Convert();
  // 0, or kWriteFailed when the stream took less than it was given.
  int SaveAsWave(TStream& stream) const;

  WaveFormatEx& CurrentFormat() { return current_; }
  WaveFormatEx& NewFormat() { return new_; }
  const std::vector<uint8_t>& Data() const { return data_; }

 private:
  WaveFormatEx current_;
  WaveFormatEx new_;
  std::vector<uint8_t> data_;
};

}  // namespace pmx
