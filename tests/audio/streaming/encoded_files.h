#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pmx::test {

// Interleaved 16-bit frames of a sine of hz on every channel, at half scale.
std::vector<int16_t> Sine(int64_t frames, int rate, int channels, double hz);
// Writes samples as raw little-endian 16-bit PCM.
void PutRaw(const std::filesystem::path& path, const std::vector<int16_t>& samples);
// Runs a program found on PATH with its output discarded; its exit code, -1 when it
// could not be started.
int RunTool(const std::vector<std::string>& argv);
// Samples from little-endian bytes.
std::vector<int16_t> Samples(const std::vector<uint8_t>& bytes);
// Largest lag correlation of decoded against source (first channel), over
// lags 0..max_lag frames: near 1 for the same signal.
double BestCorrelation(const std::vector<int16_t>& source, const std::vector<int16_t>& decoded, int channels,
                       int max_lag);

}  // namespace pmx::test
