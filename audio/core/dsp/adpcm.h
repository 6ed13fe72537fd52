#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "platform/codecs/ima_adpcm.h"
#include "platform/wave_types.h"

// The ADPCM families the library decodes without a codec: Microsoft ADPCM and two
// 4-bit step-index variants. Pure routines over caller-owned memory; any thread.

namespace pmx {

constexpr uint16_t kMediavisionADPCMTag = 0x0003;
constexpr uint16_t kAntexADPCMETag = 0x0033;
constexpr uint16_t kAntexDviOkiADPCMETag = 0x0206;

// A PCM source gives its Microsoft ADPCM format, a standard Microsoft ADPCM source
// its PCM format (bits 16 when <= 0). Channels and rate <= 0 take the source's.
// False for any other source.
bool ADPCMConvertFormat(const WaveFormatEx& source, WaveFormatEx& dest, int bits, int rate,
                        int channels);

// Bytes MSADPCMDecode may write for count source bytes: whole 16-bit frames of
// every block begun, so a partial last block fits too.
uint32_t MSADPCMDecodeSize(const WaveFormatEx& adpcm, uint32_t count);
// Decodes the blocks in source (a partial last block as far as it goes) into PCM
// of pcm's bits. dest must hold MSADPCMDecodeSize bytes: samples are decoded at
// 16 bits and narrowed in place, so the bytes of dest hold the result. Result:
// bytes written; 0 when a block names a predictor the format does not have.
uint32_t MSADPCMDecode(const WaveFormatEx& adpcm, const WaveFormatEx& pcm,
                       std::span<const uint8_t> source, int16_t* dest);

// Both channels' state of a step-index decoder; it carries over between buffers.
using TStepIndexState = std::array<ImaAdpcmChannel, 2>;

// True for a step-index tag with 4 bits per sample.
bool IsStepIndexADPCM(const WaveFormatEx& format);
// Decodes source into 16-bit samples, two per source byte, in the nibble order of
// the format's tag and channels. dest holds 2 x source bytes samples. Result:
// bytes written; 0 for a format that is not a mono or stereo step-index format.
uint32_t StepIndexDecode(const WaveFormatEx& format, TStepIndexState& state,
                         std::span<const uint8_t> source, int16_t* dest);
// Narrows bytes of 16-bit samples at data to 8 bits in place; the new byte count.
uint32_t NarrowTo8Bits(int16_t* data, uint32_t bytes);

}  // namespace pmx
