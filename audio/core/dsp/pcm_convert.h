#pragma once

#include <cstdint>
#include <span>

#include "platform/wave_types.h"

// Bit-depth, channel and rate conversion of plain PCM buffers. Every call starts
// from scratch: no state is carried between calls, so chains on different threads
// may convert at the same time.

namespace pmx {

// Converts whole samples between 8 and 16 bits (same bits: copy). 16 -> 8 is
// s div 256 (towards zero) + 128; 8 -> 16 is b x 256 - 32768. Result: destination
// bytes, or -1 for other bit depths or a destination too small for the result.
int64_t PCMConvertBits(int dest_bits, std::span<uint8_t> dest, int source_bits,
                       std::span<const uint8_t> source);

// The destination bytes to allocate for PCMConvert of count source bytes: the
// source frames x destination rate div source rate, plus the one frame that the
// rate accumulator can add, as destination bytes. 0 for no whole source frame;
// -1 for a format without a layout code.
int64_t PCMConvertSize(const WaveFormatEx& source_format, const WaveFormatEx& dest_format,
                       int64_t count);

// Converts layout (bits, mono/stereo) and rate; frames are dropped or repeated by
// an accumulator that starts at half the larger rate. Result: destination bytes;
// 0 for an empty source; -1 for a format without a layout code or a destination
// smaller than PCMConvertSize, in which case nothing is written.
int64_t PCMConvert(std::span<const uint8_t> source, const WaveFormatEx& source_format,
                   std::span<uint8_t> dest, const WaveFormatEx& dest_format);

}  // namespace pmx
