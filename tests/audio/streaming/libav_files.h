#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace pmx::test {

// Encodes interleaved 16-bit samples with libavcodec's own WMA v2 encoder into an
// ASF file carrying tags (libav's generic names: "title", "artist", ...).
// False when the encoder or muxer is missing.
bool WriteWma(const std::filesystem::path& path, const std::vector<int16_t>& samples, int channels,
              int rate, const std::map<std::string, std::string>& tags = {});

// The first audio stream of a file as libavcodec decodes it, straight through,
// converted to interleaved little-endian 16-bit samples (or 24-bit ones, the
// upper bytes of 32), in the stream's own channels. Empty on any failure.
std::vector<uint8_t> DecodeWithLibav(const std::filesystem::path& path, int bits = 16);

}  // namespace pmx::test
