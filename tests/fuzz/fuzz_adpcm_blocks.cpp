// The ADPCM block decoders on any block: the platform's MS ADPCM decoder and the
// encoder's MS and IMA ADPCM decoders. Input: channels, samples per block (16-bit),
// the count of coefficient pairs and the pairs, then the block. The sanitizers
// watch the arithmetic and the exactly sized output.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "audio/streaming/adpcm_decode.h"
#include "audio/streaming/streaming.h"
#include "platform/codecs/ms_adpcm.h"
#include "tests/fuzz/fuzz_support.h"

using pmx::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int channels = data[0] % 4 + 1;
  const int spb = data[1] | data[2] << 8;
  const size_t pairs = data[3] % 32 + 1;
  if (size < 4 + 4 * pairs) return 0;
  std::vector<int16_t> coefficients(2 * pairs);
  for (size_t i = 0; i < coefficients.size(); ++i) {
    coefficients[i] = static_cast<int16_t>(data[4 + 2 * i] | data[5 + 2 * i] << 8);
  }
  const std::span<const uint8_t> block(data + 4 + 4 * pairs, size - 4 - 4 * pairs);

  std::vector<int16_t> out(static_cast<size_t>(spb) * channels);
  const uint32_t frames = pmx::MSADPCMDecodeBlock(block, static_cast<uint16_t>(channels),
                                                  static_cast<uint16_t>(spb), out.data());
  Check(frames <= static_cast<uint32_t>(spb), "no more frames than a block holds");
  if (channels > 2) return 0;
  try {
    Check(pmx::DecodeMsAdpcmBlock(block.data(), block.size(), channels, spb, coefficients, out.data()) <= spb,
          "MS ADPCM: no more frames than a block holds");
  } catch (const pmx::EAuException&) {
    // A coefficient pair that does not exist.
  }
  try {
    Check(pmx::DecodeImaAdpcmBlock(block.data(), block.size(), channels, spb, out.data()) <= spb,
          "IMA ADPCM: no more frames than a block holds");
  } catch (const pmx::EAuException&) {
    // A step index out of range.
  }
  return 0;
}
