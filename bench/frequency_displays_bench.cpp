// CPU cost of the signal displays: one second of 44.1 kHz 16-bit stereo fed,
// block by block as the connector hands it out, to a spectrum analyser of 4096
// points and a light organ of its default 128 points, to a spectrogram of 1024
// points and to an oscilloscope, drawing every refresh and showing the pictures
// at the displays' 25 ms pace. The time per iteration is the share of one core
// they take in real time; the FFT benchmarks give the transforms' part of it.
#include <QApplication>
#include <QWidget>
#include <cmath>
#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "audio/displays/fft.h"
#include "audio/displays/light.h"
#include "audio/displays/oscope.h"
#include "audio/displays/spectrogram.h"
#include "audio/displays/spectrum.h"
#include "platform/wave_types.h"

namespace {

constexpr int kRate = 44100;

// Two tones gliding through the bands, so bars and lights keep changing.
std::vector<uint8_t> OneSecondOfStereo() {
  std::vector<uint8_t> bytes;
  bytes.reserve(kRate * 4);
  double phase = 0;
  for (int i = 0; i < kRate; ++i) {
    const double f = 100 * std::pow(100.0, static_cast<double>(i) / kRate);
    phase += 2 * M_PI * f / kRate;
    const auto left = static_cast<int16_t>(20000 * std::sin(phase));
    const auto right = static_cast<int16_t>(8000 * std::sin(3 * phase));
    for (int16_t v : {left, right}) {
      bytes.push_back(static_cast<uint8_t>(v));
      bytes.push_back(static_cast<uint8_t>(v >> 8));
    }
  }
  return bytes;
}

// Feeds display the second of audio in its own blocks, the connector moving on
// by a share of a block (a quarter for an accelerated spectrogram), and runs the
// event loop, which shows what the refreshes drew, every 25 ms of audio as the
// displays' timer does; returns the refreshes.
int64_t FeedSecond(pmx::TMMDisplayFeed& display, const std::vector<uint8_t>& audio, int share = 1) {
  constexpr size_t kTick = kRate * 4 / 40;  // 25 ms of 16-bit stereo
  const size_t block = static_cast<size_t>(display.BytesPerRefresh());
  const size_t step = block / share;
  size_t next_tick = kTick;
  int64_t blocks = 0;
  for (size_t at = 0; at + block <= audio.size(); at += step, ++blocks) {
    display.RefreshPCMData(audio.data() + at);
    if (at + step < next_tick) continue;
    QApplication::processEvents();
    while (next_tick <= at + step) next_tick += kTick;
  }
  QApplication::processEvents();
  return blocks;
}

// Argument: 3 both displays, 1 the analyser alone, 2 the light organ alone.
void BM_AnalyserAndLightOrganPerSecondOfAudio(benchmark::State& state) {
  const bool analyser = (state.range(0) & 1) != 0;
  const bool organ = (state.range(0) & 2) != 0;
  QWidget window;
  pmx::TMMSpectrum spectrum(nullptr, &window);
  pmx::TMMLight light(nullptr, &window);
  light.SetBounds(0, 100, 194, 90);
  const pmx::WaveFormatEx format = pmx::WaveFormatEx::Pcm(kRate, 16, 2);
  spectrum.SetPCMWaveFormat(&format);
  spectrum.SetFFTLength(4096);
  light.SetPCMWaveFormat(&format);
  window.show();
  const std::vector<uint8_t> audio = OneSecondOfStereo();
  int64_t blocks = 0;
  for (auto _ : state) {
    if (analyser) blocks += FeedSecond(spectrum, audio);
    if (organ) blocks += FeedSecond(light, audio);
  }
  state.counters["refreshes_per_s_audio"] = static_cast<double>(blocks) / state.iterations();
}
BENCHMARK(BM_AnalyserAndLightOrganPerSecondOfAudio)->Arg(3)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// A spectrogram of 1024 points, accelerated, as the connector feeds it: a
// column every 256 frames.
void BM_SpectrogramPerSecondOfAudio(benchmark::State& state) {
  QWidget window;
  pmx::TMMSpectrogram gram(nullptr, &window);
  const pmx::WaveFormatEx format = pmx::WaveFormatEx::Pcm(kRate, 16, 2);
  gram.SetPCMWaveFormat(&format);
  gram.SetFFTLength(1024);
  window.show();
  const std::vector<uint8_t> audio = OneSecondOfStereo();
  int64_t blocks = 0;
  for (auto _ : state) {
    blocks += FeedSecond(gram, audio, 4);
  }
  state.counters["refreshes_per_s_audio"] = static_cast<double>(blocks) / state.iterations();
}
BENCHMARK(BM_SpectrogramPerSecondOfAudio)->Unit(benchmark::kMillisecond);

// An oscilloscope drawing connected lines; argument 1 in scroll mode (a column
// per 128 frames), 0 a whole trace per screen of frames.
void BM_OscopePerSecondOfAudio(benchmark::State& state) {
  QWidget window;
  pmx::TMMOscope scope(nullptr, &window);
  const pmx::WaveFormatEx format = pmx::WaveFormatEx::Pcm(kRate, 16, 2);
  scope.SetPCMWaveFormat(&format);
  scope.SetKind(pmx::TMMOscopeKind::okConLines);
  scope.SetScroll(state.range(0) != 0);
  window.show();
  const std::vector<uint8_t> audio = OneSecondOfStereo();
  int64_t blocks = 0;
  for (auto _ : state) {
    blocks += FeedSecond(scope, audio);
  }
  state.counters["refreshes_per_s_audio"] = static_cast<double>(blocks) / state.iterations();
}
BENCHMARK(BM_OscopePerSecondOfAudio)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The transforms alone for one second: 10 of 4096 points and 344 of 128.
void BM_TransformsPerSecondOfAudio(benchmark::State& state) {
  pmx::TFFTPlan* large = pmx::CreateFFTPlan(12);
  pmx::TFFTPlan* small = pmx::CreateFFTPlan(7);
  std::vector<float> data(4096);
  for (auto _ : state) {
    for (int i = 0; i < kRate / 4096; ++i) {
      for (size_t k = 0; k < data.size(); ++k) data[k] = static_cast<float>(k % 97);
      pmx::DoRealFFT(large, data.data(), 1);
    }
    for (int i = 0; i < kRate / 128; ++i) {
      for (size_t k = 0; k < 128; ++k) data[k] = static_cast<float>(k % 97);
      pmx::DoRealFFT(small, data.data(), 1);
    }
    benchmark::DoNotOptimize(data.data());
  }
  pmx::FreeFFTPlan(large);
  pmx::FreeFFTPlan(small);
}
BENCHMARK(BM_TransformsPerSecondOfAudio)->Unit(benchmark::kMillisecond);

}  // namespace
