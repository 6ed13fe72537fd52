// The codec registry's decode streams on any coded bytes. Input: one byte for the
// size of the pieces fed, a wave-format record with its extra bytes, then the coded
// data, run through a stream to 16-bit PCM into destinations of exactly the size
// the stream asks for.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "audio/core/dsp/acm_support.h"
#include "platform/codecs/acm.h"
#include "tests/fuzz/fuzz_support.h"

using pmx::fuzz::Check;

namespace {

// Feeds data piece by piece, as the wave converter does, until the stream is drained.
void Run(pmx::HACMSTREAM has, std::span<const uint8_t> data, size_t piece) {
  size_t at = 0;
  bool first = true;
  for (int round = 0; round < 10000; ++round) {
    const size_t n = std::min(piece, data.size() - at);
    const bool end = at + n == data.size();
    std::vector<uint8_t> src(data.begin() + static_cast<std::ptrdiff_t>(at), data.begin() + static_cast<std::ptrdiff_t>(at + n));
    uint32_t dst_size = 0;
    if (pmx::acmStreamSize(has, static_cast<uint32_t>(n), dst_size, pmx::ACM_STREAMSIZEF_SOURCE) != 0) return;
    std::vector<uint8_t> dst(std::max<uint32_t>(dst_size, 1));
    pmx::ACMSTREAMHEADER h;
    h.pbSrc = src.data();
    h.cbSrcLength = static_cast<uint32_t>(n);
    h.pbDst = dst.data();
    h.cbDstLength = static_cast<uint32_t>(dst.size());
    if (pmx::acmStreamPrepareHeader(has, h, 0) != 0) return;
    const uint32_t flags = (end ? pmx::ACM_STREAMCONVERTF_END : pmx::ACM_STREAMCONVERTF_BLOCKALIGN) |
                           (first ? pmx::ACM_STREAMCONVERTF_START : 0);
    const pmx::MMRESULT result = pmx::acmStreamConvert(has, h, flags);
    Check(h.cbSrcLengthUsed <= h.cbSrcLength && h.cbDstLengthUsed <= h.cbDstLength, "within the buffers");
    pmx::acmStreamUnprepareHeader(has, h, 0);
    if (result != 0) return;
    first = false;
    // What a piece left unused comes again with the next one.
    at += h.cbSrcLengthUsed;
    if (end && h.cbDstLengthUsed == 0) return;
    if (!end && h.cbSrcLengthUsed == 0) piece *= 2;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool loaded = (pmx::LoadACM(), true);
  (void)loaded;
  if (size < 19) return 0;
  const size_t piece = (data[0] + 1) * 16u;
  const size_t extra = std::min<size_t>(data[17] | data[18] << 8, size - 19);
  const pmx::WaveFormatEx src = pmx::WaveFormatEx::FromBytes(std::span<const uint8_t>(data + 1, 18 + extra));
  if (src.nChannels() < 1 || src.nChannels() > 2) return 0;
  const pmx::WaveFormatEx dst = pmx::WaveFormatEx::Pcm(src.nSamplesPerSec(), 16, src.nChannels());
  pmx::HACMSTREAM has = nullptr;
  if (pmx::acmStreamOpen(&has, nullptr, src, dst, pmx::ACM_STREAMOPENF_NONREALTIME) != 0) return 0;
  Run(has, std::span<const uint8_t>(data + 19 + extra, size - 19 - extra), piece);
  pmx::acmStreamClose(has, 0);
  return 0;
}
