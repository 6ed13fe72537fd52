// Throughput of the PCM conversions and scans on one hour of 44.1 kHz 16-bit
// stereo, the recorder's largest format: a capture or playback thread must run
// these far faster than real time (176400 bytes/s).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "audio/core/fade_list.h"
#include "audio/core/pcm_convert.h"
#include "audio/core/pcm_support.h"

namespace {

using pmx::WaveFormatEx;

const WaveFormatEx& CdFormat() {
  static const WaveFormatEx format = WaveFormatEx::Pcm(44100, 16, 2);
  return format;
}

// One hour of a 440 Hz-ish sawtooth, different per channel.
const std::vector<uint8_t>& OneHour() {
  static const std::vector<uint8_t> data = [] {
    std::vector<uint8_t> bytes(std::size_t{3600} * 44100 * 4);
    for (std::size_t f = 0; f < bytes.size() / 4; ++f) {
      pmx::StoreLE16(&bytes[4 * f], static_cast<int16_t>(f * 655));
      pmx::StoreLE16(&bytes[4 * f + 2], static_cast<int16_t>(f * 1311));
    }
    return bytes;
  }();
  return data;
}

void Convert(benchmark::State& state, const WaveFormatEx& to) {
  const auto& source = OneHour();
  std::vector<uint8_t> dest(pmx::PCMConvertSize(CdFormat(), to, source.size()));
  for (auto _ : state) {
    benchmark::DoNotOptimize(pmx::PCMConvert(source, CdFormat(), dest, to));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(source.size()));
}

void BM_ConvertSameLayout(benchmark::State& state) { Convert(state, CdFormat()); }
void BM_ConvertToMono8At22050(benchmark::State& state) {
  Convert(state, WaveFormatEx::Pcm(22050, 8, 1));
}
void BM_ConvertTo48000(benchmark::State& state) { Convert(state, WaveFormatEx::Pcm(48000, 16, 2)); }

void BM_ConvertBits16To8(benchmark::State& state) {
  const auto& source = OneHour();
  std::vector<uint8_t> dest(source.size() / 2);
  for (auto _ : state) {
    benchmark::DoNotOptimize(pmx::PCMConvertBits(8, dest, 16, source));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(source.size()));
}

void BM_FindPeaks(benchmark::State& state) {
  const auto& source = OneHour();
  for (auto _ : state) benchmark::DoNotOptimize(pmx::PCMFindPeaks(CdFormat(), source));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(source.size()));
}

void BM_FindPeakSample(benchmark::State& state) {
  const auto& source = OneHour();
  for (auto _ : state) benchmark::DoNotOptimize(pmx::PCMFindPeakSample(CdFormat(), source));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(source.size()));
}

// The player's fade-in over the whole hour: every sample on a ramp.
void BM_ApplyFadesRamp(benchmark::State& state) {
  std::vector<uint8_t> data = OneHour();
  pmx::TMMFadeList list;
  list.Add({0, 0, 0, 0});
  list.Add({static_cast<int64_t>(data.size()), 16384, 16384, 16384});
  for (auto _ : state) {
    list.SetPlayState({1, 0, 0, 0});
    benchmark::DoNotOptimize(pmx::ApplyFades(CdFormat(), data, list));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}

}  // namespace

BENCHMARK(BM_ConvertSameLayout)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertToMono8At22050)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertTo48000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertBits16To8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindPeaks)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindPeakSample)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApplyFadesRamp)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
