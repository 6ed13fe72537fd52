#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pmx {

// Decode one ADPCM block of a WAVE file (bytes may be short at the end of the
// data) into interleaved 16-bit samples; the frames written, at most
// samples_per_block. A block header that names a step index or coefficient pair
// that does not exist raises EAuException.
int DecodeImaAdpcmBlock(const uint8_t* block, size_t bytes, int channels, int samples_per_block, int16_t* out);
int DecodeMsAdpcmBlock(const uint8_t* block, size_t bytes, int channels, int samples_per_block,
                       const std::vector<int16_t>& coefficients, int16_t* out);

// The most frames a block of bytes can hold.
int ImaAdpcmFramesIn(size_t bytes, int channels);
int MsAdpcmFramesIn(size_t bytes, int channels);

}  // namespace pmx
