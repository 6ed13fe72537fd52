// CPU cost of capturing through the wave-in layer and the real ALSA path: a file
// PCM plays the part of the sound card (it delivers as fast as it is read, so the
// time measured is all processing), with the recorder's buffer layout of 20
// buffers of 16000 bytes, each re-queued from the callback.
#include <stdlib.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/alsa/alsa_wave_driver.h"
#include "platform/alsa/wave_in_device.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr std::size_t kBlock = 4;
constexpr std::size_t kBufferSize = 16000;
constexpr std::size_t kNumBuffers = 20;

// A raw 16-bit stereo file of seconds of audio in a fresh folder, removed at the end.
class RawSource {
 public:
  explicit RawSource(std::size_t seconds) {
    std::string pattern = (std::filesystem::temp_directory_path() / "pmx-bench-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    std::vector<char> second(kRate * kBlock);
    for (std::size_t i = 0; i < second.size(); ++i) second[i] = static_cast<char>(i * 13);
    std::ofstream out(dir_ / "in.raw", std::ios::binary);
    for (std::size_t s = 0; s < seconds; ++s) out.write(second.data(), second.size());
  }
  ~RawSource() { std::filesystem::remove_all(dir_); }
  std::string Path() const { return (dir_ / "in.raw").string(); }

 private:
  std::filesystem::path dir_;
};

// Captures bytes through device 0 and returns the bytes received.
std::size_t Capture(std::size_t bytes) {
  const pmx::WaveFormatEx format = pmx::WaveFormatEx::Pcm(kRate, 16, 2);
  std::mutex mutex;
  std::condition_variable finished;
  std::size_t received = 0;
  std::size_t queued = 0;
  std::vector<std::vector<char>> data(kNumBuffers, std::vector<char>(kBufferSize));
  std::vector<pmx::WAVEHDR> headers(kNumBuffers);

  std::unique_ptr<pmx::WaveInDevice> device;
  auto callback = [&](pmx::WaveDevice& d, uint32_t message, pmx::WAVEHDR* header) {
    if (message != pmx::WIM_DATA) return;
    std::lock_guard lock(mutex);
    received += header->dwBytesRecorded;
    --queued;
    if (received < bytes && static_cast<pmx::WaveInDevice&>(d).AddBuffer(header) == 0) ++queued;
    if (queued == 0) finished.notify_all();
  };
  if (pmx::waveInOpen(device, 0, format, callback, 0) != pmx::MMSYSERR_NOERROR) return 0;
  for (std::size_t i = 0; i < kNumBuffers; ++i) {
    headers[i].lpData = data[i].data();
    headers[i].dwBufferLength = kBufferSize;
    device->PrepareHeader(&headers[i]);
    std::lock_guard lock(mutex);
    if (device->AddBuffer(&headers[i]) == 0) ++queued;
  }
  device->Start();
  {
    std::unique_lock lock(mutex);
    finished.wait(lock, [&] { return queued == 0; });
  }
  device->Stop();
  device->Close();
  return received;
}

void BM_CaptureThroughFilePcm(benchmark::State& state) {
  const auto seconds = static_cast<std::size_t>(state.range(0));
  RawSource source(seconds + 2);
  pmx::AlsaWaveDriver::Options options;
  options.config = "pcm.ramp { type file slave.pcm { type null } file \"/dev/null\" infile \"" +
                   source.Path() + "\" format raw }";
  options.inputs = std::vector<pmx::AlsaWaveDriver::Device>{{"Ramp", "ramp"}};
  pmx::AlsaWaveDriver driver(options);
  pmx::ScopedWaveDriver installed(driver);

  const std::size_t bytes = seconds * kRate * kBlock;
  std::size_t received = 0;
  for (auto _ : state) received += Capture(bytes);
  state.SetBytesProcessed(static_cast<int64_t>(received));
  state.counters["audio_seconds"] =
      benchmark::Counter(static_cast<double>(received) / (kRate * kBlock),
                         benchmark::Counter::kAvgIterations);
}

BENCHMARK(BM_CaptureThroughFilePcm)
    ->Arg(60)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
