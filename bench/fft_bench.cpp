// Cost of one display refresh's transform: window a block of 16-bit samples from
// the fixed-point table and run the real FFT in place.
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "audio/displays/fft.h"

namespace {

void BM_WindowedRealFFT(benchmark::State& state) {
  const int bits = static_cast<int>(state.range(0));
  const int n = 1 << bits;
  std::unique_ptr<pmx::TFFTPlan, void (*)(pmx::TFFTPlan*)> plan(
      pmx::CreateFFTPlan(bits), [](pmx::TFFTPlan* p) { pmx::FreeFFTPlan(p); });
  std::vector<int32_t> window(n);
  pmx::FillFFTWindow(window.data(), pmx::TMMFFTWindow::fwHanning, bits);
  std::vector<int16_t> pcm(n);
  for (int i = 0; i < n; ++i) pcm[i] = static_cast<int16_t>(20000 * std::sin(0.05 * i));
  std::vector<float> data(n);
  for (auto _ : state) {
    for (int i = 0; i < n; ++i) data[i] = static_cast<float>(pcm[i] * window[i] / 32768);
    pmx::DoRealFFT(plan.get(), data.data(), 1);
    benchmark::DoNotOptimize(data.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_WindowedRealFFT)->Arg(10)->Arg(12);

}  // namespace

BENCHMARK_MAIN();
