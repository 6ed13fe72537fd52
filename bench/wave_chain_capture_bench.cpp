// CPU time to record through the whole capture chain, wave-in -> ring buffer ->
// wave file, compared with arecord reading the same ALSA file PCM into a WAV. The
// file PCM delivers as fast as it is read, so both measure only processing. The two
// take turns, alternating who goes first, and the disk is synced before every run
// and the output removed after it, so that neither pays for the other's dirty page
// cache. Args: seconds of audio, rounds.
//
// Our chain puts its data on the disk as it records (an fdatasync every two seconds
// of sound but at most one a second, off the draining thread, and one at the end),
// and pays for that writeback; arecord leaves its file to the kernel's flusher,
// which nobody's figure shows. So arecord is measured twice over: alone, and
// followed by an fdatasync of its file (`sync -d FILE`), which charges it the same
// writeback.
// Counters (means per run unless said otherwise):
//   our_cpu_s              the chain, its file synced to the disk
//   our_low_s, our_high_s  the chain's lowest and highest runs
//   arecord_cpu_s          arecord alone, its file left in the page cache
//   arecord_low_s, arecord_high_s
//   arecord_synced_cpu_s   arecord plus `sync -d` of its file, on the disk like ours
//   ratio                  our_cpu_s / arecord_cpu_s
//   ratio_synced           our_cpu_s / arecord_synced_cpu_s: the like-for-like one
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "audio/core/chain/ring_buffer.h"
#include "audio/core/chain/wave_in.h"
#include "audio/core/files/wave_file.h"
#include "bench/support/cpu_time.h"
#include "platform/alsa/alsa_wave_driver.h"
#include "platform/main_loop.h"

namespace {

using namespace std::chrono_literals;
constexpr uint32_t kBytesPerSecond = 44100 * 4;

// A fresh folder holding the capture source and the ALSA configuration naming it.
class Folder {
 public:
  explicit Folder(std::size_t seconds) {
    std::string pattern = (std::filesystem::temp_directory_path() / "pmx-chain-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
    std::vector<char> chunk(kBytesPerSecond);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>((i * 7) >> 3);
    std::ofstream raw(path_ / "in.raw", std::ios::binary);
    for (std::size_t s = 0; s < seconds; ++s) raw.write(chunk.data(), chunk.size());
    std::ofstream(path_ / ".asoundrc") << Config();
  }
  ~Folder() { std::filesystem::remove_all(path_); }
  std::string Config() const {
    return "pcm.ramp { type file slave.pcm { type null } file \"/dev/null\" infile \"" +
           (path_ / "in.raw").string() + "\" format raw }\n";
  }
  std::filesystem::path operator/(const char* name) const { return path_ / name; }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

using pmx::bench::CpuSeconds;

// Records seconds of audio through the chain; the CPU seconds of this process.
double RecordThroughChain(const Folder& folder, int seconds) {
  pmx::PlainMainLoop loop;
  pmx::ScopedMainLoop loop_scope(loop);
  pmx::AlsaWaveDriver::Options options;
  options.config = folder.Config();
  options.mapper = "ramp";
  options.inputs = std::vector<pmx::AlsaWaveDriver::Device>{{"Ramp", "ramp"}};
  pmx::AlsaWaveDriver driver(options);
  pmx::ScopedWaveDriver installed(driver);

  pmx::TMMWaveIn in;
  in.SetCallBackMode(pmx::TMMCBMode::cmThread);
  in.SetSampleRate(44100);
  in.SetBitLength(pmx::TMMBits::b16Bit);
  in.SetMode(pmx::TMMMode::mStereo);
  in.SetBufferSize(16000);
  in.SetNumBuffers(20);
  in.SetTimeFormat(pmx::TMMTimeFormats::tfMillisecond);
  in.SetMaxRecordTime(seconds * 1000);
  pmx::TMMRingBuffer ring;
  ring.SetQueueMode(pmx::TMMQueueMode::qmWrite);
  ring.SetWaitIfFull(true);
  pmx::TMMWaveFile file;
  file.Wave()->SetFileMustExist(false);
  file.Wave()->SetFileName((folder / "chain.wav").string());
  in.SetOutput(&ring);
  ring.SetOutput(&file);
  bool stopped = false;
  in.OnStop = [&](pmx::TObject*) { stopped = true; };

  const double before = CpuSeconds(RUSAGE_SELF);
  in.Start();
  loop.PumpUntil([&] { return stopped; }, 3600s);
  in.Close();
  return CpuSeconds(RUSAGE_SELF) - before;
}

// The same recording by arecord; its CPU seconds, or -1 when it failed.
double RecordWithArecord(const Folder& folder, int seconds) {
  // alsa-lib reads the configuration naming the file PCM from HOME.
  return pmx::bench::RunProgram({"env", "HOME=" + folder.Path().string(), "arecord", "-q", "-D",
                                 "ramp", "-f", "S16_LE", "-c", "2", "-r", "44100", "-t", "wav",
                                 "-d", std::to_string(seconds), (folder / "arecord.wav").string()});
}

// What putting arecord's file on the disk costs; -1 when it failed.
double SyncArecordFile(const Folder& folder) {
  return pmx::bench::RunProgram({"sync", "-d", (folder / "arecord.wav").string()});
}

// The spread of one recorder's runs.
struct Runs {
  double sum = 0;
  double low = 0;
  double high = 0;
  int count = 0;
  void Add(double cpu) {
    low = count == 0 ? cpu : std::min(low, cpu);
    high = std::max(high, cpu);
    sum += cpu;
    ++count;
  }
  double Mean() const { return count > 0 ? sum / count : 0; }
};

// One run of a recorder on a synced disk; its output is gone afterwards.
double RunAlone(const Folder& folder, const char* output, const std::function<double()>& run) {
  sync();
  const double cpu = run();
  std::filesystem::remove(folder / output);
  return cpu;
}

void BM_ChainCaptureAgainstArecord(benchmark::State& state) {
  const auto seconds = static_cast<int>(state.range(0));
  const auto rounds = static_cast<int>(state.range(1));
  Folder folder(static_cast<std::size_t>(seconds) + 5);
  Runs ours;
  Runs theirs;
  Runs theirs_synced;
  for (auto _ : state) {
    for (int round = 0; round < rounds; ++round) {
      auto chain = [&] { ours.Add(RunAlone(folder, "chain.wav", [&] { return RecordThroughChain(folder, seconds); })); };
      auto arecord = [&] {
        double alone = 0;
        theirs_synced.Add(RunAlone(folder, "arecord.wav", [&] {
          alone = RecordWithArecord(folder, seconds);
          const double sync = SyncArecordFile(folder);
          return alone < 0 || sync < 0 ? -1 : alone + sync;
        }));
        theirs.Add(alone);
      };
      if (round % 2 == 0) {
        chain();
        arecord();
      } else {
        arecord();
        chain();
      }
    }
  }
  if (theirs.low <= 0 || theirs_synced.low <= 0) {
    state.SkipWithError("arecord failed");
    return;
  }
  state.counters["our_cpu_s"] = ours.Mean();
  state.counters["our_low_s"] = ours.low;
  state.counters["our_high_s"] = ours.high;
  state.counters["arecord_cpu_s"] = theirs.Mean();
  state.counters["arecord_low_s"] = theirs.low;
  state.counters["arecord_high_s"] = theirs.high;
  state.counters["arecord_synced_cpu_s"] = theirs_synced.Mean();
  state.counters["ratio"] = ours.Mean() / theirs.Mean();
  state.counters["ratio_synced"] = ours.Mean() / theirs_synced.Mean();
}

BENCHMARK(BM_ChainCaptureAgainstArecord)
    ->Args({3600, 4})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
