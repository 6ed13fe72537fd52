#include "audio/core/dsp/adpcm.h"

#include <algorithm>
#include <bit>

#include "audio/core/dsp/pcm_convert.h"
#include "audio/core/dsp/pcm_support.h"
#include "platform/codecs/ms_adpcm.h"

namespace pmx {
namespace {

uint16_t Pick(int value, uint32_t fallback) {
  return static_cast<uint16_t>(value > 0 ? static_cast<uint32_t>(value) : fallback);
}

// Samples are decoded as native 16-bit values and handed on as PCM bytes.
static_assert(std::endian::native == std::endian::little);

// Decodes one code into the channel and writes the new sample.
int16_t* Emit(ImaAdpcmChannel& ch, int code, int16_t* out) {
  ch.Apply(code);
  *out = static_cast<int16_t>(ch.predictor);
  return out + 1;
}

}  // namespace

bool ADPCMConvertFormat(const WaveFormatEx& source, WaveFormatEx& dest, int bits, int rate,
                        int channels) {
  const uint16_t c = Pick(channels, source.nChannels());
  const uint16_t r = Pick(rate, source.nSamplesPerSec() & 0xFFFF);
  if (ValidPCMFormat(&source)) {
    WaveFormatEx f = MSADPCMFormat(r, c);
    if (f.wFormatTag() != WAVE_FORMAT_ADPCM) return false;
    dest = f;
    return true;
  }
  if (!IsStandardMSADPCM(source)) return false;
  FillPCMFormat(dest, Pick(bits, 16), c, r);
  return true;
}

uint32_t MSADPCMDecodeSize(const WaveFormatEx& adpcm, uint32_t count) {
  const uint32_t block = adpcm.nBlockAlign();
  if (block == 0) return 0;
  const uint32_t blocks = (count + block - 1) / block;
  return blocks * MSADPCMSamplesPerBlock(adpcm) * adpcm.nChannels() * 2;
}

uint32_t MSADPCMDecode(const WaveFormatEx& adpcm, const WaveFormatEx& pcm,
                       std::span<const uint8_t> source, int16_t* dest) {
  const uint16_t channels = adpcm.nChannels();
  const uint16_t spb = MSADPCMSamplesPerBlock(adpcm);
  const std::size_t block = adpcm.nBlockAlign();
  if (block == 0 || channels == 0) return 0;
  const std::size_t header = 7u * channels;
  uint32_t samples = 0;
  for (std::size_t at = 0; at + header <= source.size(); at += block) {
    const auto piece = source.subspan(at, std::min(block, source.size() - at));
    for (int ch = 0; ch < channels; ++ch) {
      if (piece[ch] >= kMSADPCMCoefficients) return 0;
    }
    samples += MSADPCMDecodeBlock(piece, channels, spb, dest + samples) * channels;
  }
  const uint32_t bytes = 2 * samples;
  return pcm.wBitsPerSample() == 8 ? NarrowTo8Bits(dest, bytes) : bytes;
}

uint32_t NarrowTo8Bits(int16_t* data, uint32_t bytes) {
  auto* raw = reinterpret_cast<uint8_t*>(data);
  return static_cast<uint32_t>(
      PCMConvertBits(8, {raw, bytes}, 16, std::span<const uint8_t>(raw, bytes)));
}

bool IsStepIndexADPCM(const WaveFormatEx& format) {
  const uint16_t tag = format.wFormatTag();
  return (tag == kMediavisionADPCMTag || tag == kAntexADPCMETag || tag == kAntexDviOkiADPCMETag) &&
         format.wBitsPerSample() == 4;
}

uint32_t StepIndexDecode(const WaveFormatEx& format, TStepIndexState& state,
                         std::span<const uint8_t> source, int16_t* dest) {
  const uint16_t channels = format.nChannels();
  if (!IsStepIndexADPCM(format) || (channels != 1 && channels != 2)) return 0;
  const bool antex = format.wFormatTag() != kMediavisionADPCMTag;
  int16_t* out = dest;
  if (channels == 1) {
    for (const uint8_t b : source) {
      out = Emit(state[0], b >> 4, out);
      out = Emit(state[0], b & 15, out);
    }
  } else if (!antex) {
    for (const uint8_t b : source) {
      out = Emit(state[0], b & 15, out);
      out = Emit(state[1], b >> 4, out);
    }
  } else {
    // Bytes come in swapped pairs; an odd last byte has no partner and goes as it is.
    for (std::size_t i = 0; i < source.size(); ++i) {
      const std::size_t at = (i ^ 1) < source.size() ? i ^ 1 : i;
      out = Emit(state[0], source[at] >> 4, out);
      out = Emit(state[1], source[at] & 15, out);
    }
  }
  return static_cast<uint32_t>(2 * (out - dest));
}

}  // namespace pmx
