// Cost of playing a WMA file through TWMIn over the libav* reader: decoding
// straight through, the first seek far into what was never read (it decodes
// forward to count samples exactly), and seeks back into what was read (they
// start a few packets before the target). Ten minutes of stereo at 44100 Hz,
// made once by libavcodec's WMA encoder.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <vector>

#include "audio/streaming/streaming.h"
#include "audio/streaming/wm_in.h"
#include "tests/audio/streaming/libav_files.h"

namespace {

constexpr int kRate = 44100;
constexpr int64_t kSeconds = 600;

class WmaFile {
 public:
  WmaFile() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pmx-bench-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    std::vector<int16_t> samples(static_cast<size_t>(kSeconds * kRate * 2));
    for (size_t i = 0; i < samples.size(); ++i)
      samples[i] =
          static_cast<int16_t>(10000 * std::sin(static_cast<double>(i) * 0.01 + 1e-7 * i * i));
    made_ = pmx::test::WriteWma(Path(), samples, 2, kRate);
  }
  ~WmaFile() { std::filesystem::remove_all(dir_); }
  bool Made() const { return made_; }
  std::filesystem::path Path() const { return dir_ / "long.wma"; }

 private:
  std::filesystem::path dir_;
  bool made_ = false;
};

const WmaFile& File() {
  static const WmaFile file;
  return file;
}

// The file's input, ready to fetch from.
struct Playing {
  Playing() {
    in.SetFileName(File().Path().string());
    in.Init();
  }
  ~Playing() { in.Flush(); }
  pmx::TWMIn in;
};

// Reads until the input ends; the bytes read.
int64_t ReadToEnd(pmx::TAuInput& in) {
  std::vector<uint8_t> buffer(65536);
  int64_t total = 0;
  bool ended = false;
  while (!ended)
    total += pmx::ReadFull(in, buffer.data(), static_cast<uint32_t>(buffer.size()), ended);
  return total;
}

void BM_DecodeWhole(benchmark::State& state) {
  if (!File().Made()) return state.SkipWithError("no WMA encoder");
  for (auto _ : state) {
    Playing playing;
    benchmark::DoNotOptimize(ReadToEnd(playing.in));
  }
  state.counters["x_realtime"] = benchmark::Counter(
      static_cast<double>(kSeconds * state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeWhole)->Unit(benchmark::kMillisecond);

void BM_FirstSeekNearTheEnd(benchmark::State& state) {
  if (!File().Made()) return state.SkipWithError("no WMA encoder");
  for (auto _ : state) {
    Playing playing;
    playing.in.SeekSample((kSeconds - 5) * kRate);
    std::vector<uint8_t> buffer(4096);
    bool ended = false;
    benchmark::DoNotOptimize(pmx::ReadFull(playing.in, buffer.data(), 4096, ended));
  }
}
BENCHMARK(BM_FirstSeekNearTheEnd)->Unit(benchmark::kMillisecond);

void BM_SeekBackIntoWhatWasRead(benchmark::State& state) {
  if (!File().Made()) return state.SkipWithError("no WMA encoder");
  Playing playing;
  ReadToEnd(playing.in);
  std::vector<uint8_t> buffer(4096);
  int64_t target = 7;
  for (auto _ : state) {
    target = (target * 7919 + 104729) % ((kSeconds - 1) * kRate);
    playing.in.SeekSample(target);
    bool ended = false;
    benchmark::DoNotOptimize(pmx::ReadFull(playing.in, buffer.data(), 4096, ended));
  }
}
BENCHMARK(BM_SeekBackIntoWhatWasRead)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
