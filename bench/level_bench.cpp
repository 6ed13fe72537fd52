// CPU cost of showing the input: one second of 44.1 kHz 16-bit stereo fed, block
// by block as the connector hands it out, to the two level bars of the main
// window (one per channel), drawing every changed frame; the window repaints
// after each 25 ms of blocks, as often as the connector's pump hands them over.
// The time per iteration is the share of one core the bars take while recording.
#include <QApplication>
#include <QWidget>
#include <cmath>
#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "audio/displays/level.h"
#include "platform/main_loop.h"
#include "platform/wave_types.h"

namespace {

constexpr int kRate = 44100;

// A tone whose loudness swells and fades, so the bars keep moving.
std::vector<uint8_t> OneSecondOfStereo() {
  std::vector<uint8_t> bytes;
  bytes.reserve(kRate * 4);
  for (int i = 0; i < kRate; ++i) {
    const double swell = 0.5 + 0.5 * std::sin(2 * M_PI * 3 * i / kRate);
    const auto left = static_cast<int16_t>(32000 * swell * std::sin(2 * M_PI * 440.0 * i / kRate));
    const auto right = static_cast<int16_t>(left / 2);
    for (int16_t v : {left, right}) {
      bytes.push_back(static_cast<uint8_t>(v));
      bytes.push_back(static_cast<uint8_t>(v >> 8));
    }
  }
  return bytes;
}

// The frames the feed asked for, then the repaints they ask for.
void ShowFrames() {
  pmx::MainLoop::Instance().ProcessPending();
  QApplication::processEvents();
}

void BM_TwoLevelBarsPerSecondOfAudio(benchmark::State& state) {
  QWidget window;
  pmx::TMMLevel left(nullptr, &window);
  pmx::TMMLevel right(nullptr, &window);
  right.SetBounds(0, 20, 200, 17);
  const pmx::WaveFormatEx format = pmx::WaveFormatEx::Pcm(kRate, 16, 2);
  for (pmx::TMMLevel* bar : {&left, &right}) bar->SetPCMWaveFormat(&format);
  left.SetChannel(pmx::TMMChannel::chLeft);
  right.SetChannel(pmx::TMMChannel::chRight);
  window.show();
  const std::vector<uint8_t> audio = OneSecondOfStereo();
  const int step = left.BytesPerRefresh();
  int64_t blocks = 0;
  const size_t refresh_bytes = format.nAvgBytesPerSec() / 40;
  for (auto _ : state) {
    for (size_t at = 0; at + step <= audio.size(); at += step) {
      left.RefreshPCMData(audio.data() + at);
      right.RefreshPCMData(audio.data() + at);
      ++blocks;
      if ((at + step) % refresh_bytes < static_cast<size_t>(step)) ShowFrames();
    }
    ShowFrames();
  }
  state.counters["blocks_per_s_audio"] = static_cast<double>(blocks) / state.iterations();
}
BENCHMARK(BM_TwoLevelBarsPerSecondOfAudio)->Unit(benchmark::kMillisecond);

}  // namespace
