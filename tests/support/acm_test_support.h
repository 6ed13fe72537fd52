#pragma once

#include <cstdint>
#include <vector>

#include "platform/codecs/acm.h"
#include "platform/wave_types.h"

namespace pmx::test {

// Interleaved 16-bit PCM: a tone per channel plus a little noise.
std::vector<uint8_t> TonePcm16(const WaveFormatEx& format, double seconds);
// Signal-to-noise ratio in dB of decoded against original over their common
// length, from frame skip on.
double SnrDb(const std::vector<uint8_t>& original, const std::vector<uint8_t>& decoded,
             std::size_t skip = 0);
// The best SnrDb over decoded delayed by 0 to max_lag frames against original.
double DelayedSnrDb(const std::vector<uint8_t>& original, const std::vector<uint8_t>& decoded,
                    int channels, std::size_t max_lag);
// Runs data through an open stream in source chunks of chunk bytes into a
// destination of dest_size bytes (a guard byte after it must stay intact),
// keeping what the stream did not consume for the next call; ends with END.
std::vector<uint8_t> RunStream(HACMSTREAM has, const std::vector<uint8_t>& data,
                               std::size_t chunk, uint32_t dest_size);
// Opens src -> dst on any driver and runs data through it.
std::vector<uint8_t> Convert(const WaveFormatEx& src, const WaveFormatEx& dst,
                             const std::vector<uint8_t>& data, std::size_t chunk = 4000);

}  // namespace pmx::test
