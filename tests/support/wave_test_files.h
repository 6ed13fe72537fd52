#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/wave_types.h"
#include "tests/support/file_bytes.h"

namespace pmx::test {

uint32_t LE32At(const std::vector<uint8_t>& bytes, std::size_t at);
std::string IdAt(const std::vector<uint8_t>& bytes, std::size_t at);

// Builds RIFF images chunk by chunk, with sizes as given (true or not).
class WaveImage {
 public:
  explicit WaveImage(uint32_t riffSize = 0);
  WaveImage& Chunk(const std::string& id, uint32_t size, const std::vector<uint8_t>& content);
  WaveImage& Fmt(const WaveFormatEx& wfx, uint32_t size = 16);
  // A data chunk of n bytes (value i & 0xFF) whose size field says field.
  WaveImage& Data(uint32_t n, uint32_t field);
  WaveImage& Raw(const std::vector<uint8_t>& bytes);
  // The image; a RIFF size of 0 given to the constructor becomes the true one.
  std::vector<uint8_t> Bytes() const;

 private:
  uint32_t riffSize_;
  std::vector<uint8_t> bytes_;
};

// Runs a program with arguments and no shell; true when it exits with 0.
bool RunProgram(const std::vector<std::string>& argv);

}  // namespace pmx::test
