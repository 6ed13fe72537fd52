#pragma once

#include <cstdint>
#include <vector>

#include "audio/core/files/audio_file.h"
#include "platform/main_loop.h"

namespace pmx::test {

// Everything a player delivers through its stand-alone road in size-byte reads,
// past the end until a read gives nothing; the player is left open and started.
std::vector<uint8_t> ReadAll(TMMAudioFile& file, int32_t size);
// Plays source through a wave-out (thread callbacks, four buffers of size bytes)
// until it stops by itself; false when that takes more than a minute.
bool PlayToEnd(TMMDSPComponent& source, int32_t size, PlainMainLoop& loop);
// n bytes of a from from_a equal n bytes of b from from_b (false when either is short).
bool EqualAt(const std::vector<uint8_t>& a, std::size_t from_a, const std::vector<uint8_t>& b,
             std::size_t from_b, std::size_t n);

}  // namespace pmx::test
