#include "tests/support/acm_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace pmx::test {

std::vector<uint8_t> TonePcm16(const WaveFormatEx& format, double seconds) {
  const auto frames = static_cast<std::size_t>(format.nSamplesPerSec() * seconds);
  std::vector<uint8_t> data(frames * format.nChannels() * 2);
  std::mt19937 noise(7);
  std::uniform_int_distribution<int> jitter(-300, 300);
  for (std::size_t i = 0; i < frames; ++i) {
    for (int ch = 0; ch < format.nChannels(); ++ch) {
      const double hz = 300.0 + 170.0 * ch;
      const double v = 12000.0 * std::sin(2 * M_PI * hz * i / format.nSamplesPerSec());
      const auto s = static_cast<int16_t>(v + jitter(noise));
      const std::size_t at = (i * format.nChannels() + ch) * 2;
      data[at] = static_cast<uint8_t>(s);
      data[at + 1] = static_cast<uint8_t>(s >> 8);
    }
  }
  return data;
}

double SnrDb(const std::vector<uint8_t>& original, const std::vector<uint8_t>& decoded,
             std::size_t skip) {
  const std::size_t n = std::min(original.size(), decoded.size()) / 2;
  double signal = 0;
  double error = 0;
  for (std::size_t i = skip; i < n; ++i) {
    const auto a = static_cast<int16_t>(original[2 * i] | original[2 * i + 1] << 8);
    const auto b = static_cast<int16_t>(decoded[2 * i] | decoded[2 * i + 1] << 8);
    signal += static_cast<double>(a) * a;
    error += (static_cast<double>(a) - b) * (static_cast<double>(a) - b);
  }
  return 10 * std::log10(signal / std::max(error, 1.0));
}

double DelayedSnrDb(const std::vector<uint8_t>& original, const std::vector<uint8_t>& decoded,
                    int channels, std::size_t max_lag) {
  double best = -1e9;
  const std::size_t frame = 2u * channels;
  for (std::size_t lag = 0; lag <= max_lag && lag * frame < decoded.size(); ++lag) {
    const std::vector<uint8_t> shifted(decoded.begin() + static_cast<std::ptrdiff_t>(lag * frame),
                                       decoded.end());
    best = std::max(best, SnrDb(original, shifted));
  }
  return best;
}

std::vector<uint8_t> RunStream(HACMSTREAM has, const std::vector<uint8_t>& data,
                               std::size_t chunk, uint32_t dest_size) {
  constexpr uint8_t kGuard = 0xA5;
  std::vector<uint8_t> src(chunk + 65536);
  std::vector<uint8_t> dst(dest_size + 1, 0);
  std::vector<uint8_t> out;
  ACMSTREAMHEADER h;
  h.pbSrc = src.data();
  h.cbSrcLength = static_cast<uint32_t>(src.size());
  h.pbDst = dst.data();
  h.cbDstLength = dest_size;
  EXPECT_EQ(acmStreamPrepareHeader(has, h, 0), MMSYSERR_NOERROR);
  std::size_t at = 0;
  uint32_t kept = 0;
  bool ended = false;
  for (int guard = 0; guard < 1000000 && !ended; ++guard) {
    const std::size_t n = std::min({chunk, src.size() - kept, data.size() - at});
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(at), n, src.begin() + kept);
    at += n;
    const bool end = at == data.size();
    h.cbSrcLength = kept + static_cast<uint32_t>(n);
    dst[dest_size] = kGuard;
    const uint32_t flags = (end ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN) |
                           (guard == 0 ? ACM_STREAMCONVERTF_START : 0);
    EXPECT_EQ(acmStreamConvert(has, h, flags), MMSYSERR_NOERROR);
    EXPECT_EQ(dst[dest_size], kGuard) << "written past the destination";
    EXPECT_TRUE(h.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE);
    out.insert(out.end(), dst.begin(), dst.begin() + h.cbDstLengthUsed);
    kept = h.cbSrcLength - h.cbSrcLengthUsed;
    std::copy(src.begin() + h.cbSrcLengthUsed, src.begin() + h.cbSrcLength, src.begin());
    // At the end, go on until the stream has nothing more to give.
    ended = end && h.cbDstLengthUsed == 0 && kept == 0;
  }
  EXPECT_EQ(acmStreamUnprepareHeader(has, h, 0), MMSYSERR_NOERROR);
  return out;
}

std::vector<uint8_t> Convert(const WaveFormatEx& src, const WaveFormatEx& dst,
                             const std::vector<uint8_t>& data, std::size_t chunk) {
  HACMSTREAM has = nullptr;
  EXPECT_EQ(acmStreamOpen(&has, nullptr, src, dst, ACM_STREAMOPENF_NONREALTIME),
            MMSYSERR_NOERROR);
  if (!has) return {};
  uint32_t dest_size = 0;
  EXPECT_EQ(acmStreamSize(has, static_cast<uint32_t>(chunk * 2), dest_size,
                          ACM_STREAMSIZEF_SOURCE),
            MMSYSERR_NOERROR);
  auto out = RunStream(has, data, chunk, dest_size);
  EXPECT_EQ(acmStreamClose(has, 0), MMSYSERR_NOERROR);
  return out;
}

}  // namespace pmx::test
