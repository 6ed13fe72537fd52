// CPU time to play an hour of a WAV and of an MP3 recording through the player
// chain, audio file -> wave-out, into ALSA's null PCM, compared in the same run
// with aplay (WAV) and mpg123 (MP3) playing the same file into the same PCM. The
// null PCM takes samples as fast as they come, so both measure only processing.
// Counters: our_cpu_s, their_cpu_s and their ratio (the goal is at most 1.2).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/core/chain/wave_out.h"
#include "audio/core/dsp/acm_support.h"
#include "audio/core/files/audio_file.h"
#include "bench/support/cpu_time.h"
#include "platform/alsa/alsa_wave_driver.h"
#include "platform/codecs/acm.h"
#include "platform/main_loop.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
const pmx::WaveFormatEx kCd = pmx::WaveFormatEx::Pcm(44100, 16, 2);

void Put32(std::ofstream& out, uint32_t v) {
  const char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
  out.write(b, 4);
}

// One minute of a two-tone signal with a little noise.
Bytes Minute() {
  Bytes bytes(std::size_t{60} * 44100 * 4);
  uint32_t noise = 1;
  for (std::size_t f = 0; f < bytes.size() / 4; ++f) {
    noise = noise * 1103515245u + 12345u;
    const auto left =
        static_cast<int16_t>(static_cast<int>((f * 655) % 20000) - 10000 + (noise >> 28));
    const auto right = static_cast<int16_t>(static_cast<int>((f * 1311) % 16000) - 8000);
    bytes[4 * f] = uint8_t(left), bytes[4 * f + 1] = uint8_t(left >> 8);
    bytes[4 * f + 2] = uint8_t(right), bytes[4 * f + 3] = uint8_t(right >> 8);
  }
  return bytes;
}

// A fresh folder with minutes of the signal as "rec.wav" and as "rec.mp3".
class Folder {
 public:
  explicit Folder(int minutes) {
    std::string pattern = (std::filesystem::temp_directory_path() / "pmx-play-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
    const Bytes minute = Minute();
    std::ofstream wav(path_ / "rec.wav", std::ios::binary);
    const auto data = static_cast<uint32_t>(minute.size() * minutes);
    wav.write("RIFF", 4), Put32(wav, 36 + data), wav.write("WAVEfmt ", 8), Put32(wav, 16);
    wav.write(reinterpret_cast<const char*>(kCd.Bytes().data()), 16);
    wav.write("data", 4), Put32(wav, data);
    for (int m = 0; m < minutes; ++m)
      wav.write(reinterpret_cast<const char*>(minute.data()), minute.size());
    // Layer 3 frames follow one another: a minute encoded once, repeated.
    const Bytes mp3 = EncodeMp3(minute);
    std::ofstream out(path_ / "rec.mp3", std::ios::binary);
    for (int m = 0; m < minutes; ++m)
      out.write(reinterpret_cast<const char*>(mp3.data()), mp3.size());
  }
  ~Folder() { std::filesystem::remove_all(path_); }
  std::string operator/(const char* name) const { return (path_ / name).string(); }

 private:
  static Bytes EncodeMp3(const Bytes& pcm) {
    pmx::WaveFormatEx mp3;
    mp3.set_wFormatTag(pmx::WAVE_FORMAT_MPEGLAYER3);
    pmx::HACMSTREAM has = nullptr;
    if (pmx::acmFormatSuggest(nullptr, kCd, mp3, 64, pmx::ACM_FORMATSUGGESTF_WFORMATTAG) != 0 ||
        pmx::acmStreamOpen(&has, nullptr, kCd, mp3, 0) != 0) {
      return {};
    }
    Bytes out(pcm.size());
    pmx::ACMSTREAMHEADER h;
    h.pbSrc = const_cast<uint8_t*>(pcm.data());
    h.cbSrcLength = static_cast<uint32_t>(pcm.size());
    h.pbDst = out.data();
    h.cbDstLength = static_cast<uint32_t>(out.size());
    pmx::acmStreamPrepareHeader(has, h, 0);
    pmx::acmStreamConvert(has, h, pmx::ACM_STREAMCONVERTF_START | pmx::ACM_STREAMCONVERTF_END);
    pmx::acmStreamUnprepareHeader(has, h, 0);
    pmx::acmStreamClose(has, 0);
    out.resize(h.cbDstLengthUsed);
    return out;
  }

  std::filesystem::path path_;
};

using pmx::bench::CpuSeconds;
using pmx::bench::RunProgram;

// Plays the file to its end through the chain; the CPU seconds of this process.
double PlayThroughChain(const std::string& name, int32_t buffer_size) {
  pmx::PlainMainLoop loop;
  pmx::ScopedMainLoop loop_scope(loop);
  pmx::AlsaWaveDriver::Options options;
  options.outputs = std::vector<pmx::AlsaWaveDriver::Device>{{"Null", "null"}};
  pmx::AlsaWaveDriver driver(options);
  pmx::ScopedWaveDriver installed(driver);
  pmx::TMMAudioFile file;
  file.SetFileName(name);
  pmx::TMMWaveOut out;
  out.SetCallBackMode(pmx::TMMCBMode::cmThread);
  out.SetBufferSize(buffer_size);
  out.SetNumBuffers(8);
  out.SetInput(&file);
  bool stopped = false;
  out.OnStop = [&](pmx::TObject*) { stopped = true; };
  const double before = CpuSeconds(RUSAGE_SELF);
  out.Start();
  loop.PumpUntil([&] { return stopped; }, 3600s);
  out.Close();
  return CpuSeconds(RUSAGE_SELF) - before;
}

void Compare(benchmark::State& state, const char* file, const std::vector<std::string>& program) {
  pmx::LoadACM();
  Folder folder(static_cast<int>(state.range(0)));
  std::vector<std::string> argv = program;
  argv.push_back(folder / file);
  double ours = 0;
  double theirs = 0;
  for (auto _ : state) {
    ours += PlayThroughChain(folder / file, static_cast<int32_t>(state.range(1)));
    theirs += RunProgram(argv);
  }
  if (theirs <= 0) {
    state.SkipWithError((program[0] + " failed").c_str());
    return;
  }
  state.counters["our_cpu_s"] = ours;
  state.counters["their_cpu_s"] = theirs;
  state.counters["ratio"] = ours / theirs;
}

void BM_WavAgainstAplay(benchmark::State& state) {
  Compare(state, "rec.wav", {"aplay", "-q", "-D", "null"});
}
void BM_Mp3AgainstMpg123(benchmark::State& state) {
  Compare(state, "rec.mp3", {"mpg123", "-q", "-o", "alsa", "-a", "null"});
}

// Minutes of audio, and the device's buffer size: 100 ms and 500 ms. The work per
// buffer (a thread hand-off at the device) weighs more than the copying.
BENCHMARK(BM_WavAgainstAplay)
    ->Args({60, 17640})
    ->Args({60, 88200})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK(BM_Mp3AgainstMpg123)
    ->Args({60, 17640})
    ->Args({60, 88200})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
