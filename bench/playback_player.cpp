// Plays one recording as the recorder does, for bench/playback_vs_players.sh and
// for listening tests on a real device: a WAV through the audio-file player and
// the wave-out device (15 buffers of 20480 bytes), Ogg Vorbis or MP3 through the
// streaming output.
//   playback_player FILE [PCM [POLL_MS [FRAMES]]]   (PCM "default", POLL_MS 200, FRAMES 32768)
// Prints what was played and the underruns, or the error; exits 1 on an error.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "audio/core/chain/wave_out.h"
#include "audio/core/files/audio_file.h"
#include "audio/streaming/dsound_out.h"
#include "audio/streaming/vorbis_in.h"
#include "audio/streaming/wm_in.h"
#include "platform/alsa/alsa_dsound.h"
#include "platform/alsa/alsa_wave_driver.h"
#include "platform/main_loop.h"

namespace {

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

int PlayWave(const std::string& file, const std::string& pcm, pmx::MainLoop& loop) {
  pmx::AlsaWaveDriver::Options options;
  options.mapper = pcm;
  options.outputs = std::vector<pmx::AlsaWaveDriver::Device>{{pcm, pcm}};
  pmx::AlsaWaveDriver driver(options);
  pmx::ScopedWaveDriver scope(driver);
  pmx::TMMAudioFile audio_file;
  pmx::TMMWaveOut wave_out;
  wave_out.SetNumBuffers(15);
  wave_out.SetBufferSize(20480);
  wave_out.SetCallBackMode(pmx::TMMCBMode::cmThread);
  wave_out.SetInput(&audio_file);
  bool stopped = false;
  wave_out.OnStop = [&](pmx::TObject*) { stopped = true; };
  // Written on the wave-out's thread, read after it stopped.
  std::atomic<int64_t> bytes{0};
  wave_out.OnBufferFilled = [&](pmx::TObject*, pmx::WAVEHDR* header) { bytes += header->dwBytesRecorded; };
  try {
    audio_file.SetFileName(file);
    wave_out.Start();
    while (!loop.PumpUntil([&] { return stopped; }, std::chrono::hours(24))) {
    }
    std::printf("ms %lld of %lld (%lld frames), underruns %llu\n", static_cast<long long>(audio_file.GetTimePosition()),
                static_cast<long long>(audio_file.FileLength()),
                static_cast<long long>(bytes / audio_file.PWaveFormat()->nBlockAlign()),
                static_cast<unsigned long long>(wave_out.Underruns()));
    wave_out.Close();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [PCM [POLL_MS [FRAMES]]]\n", argv[0]);
    return 2;
  }
  const std::string file = argv[1];
  const std::string pcm = argc > 2 ? argv[2] : "default";
  pmx::PlainMainLoop loop;
  pmx::ScopedMainLoop scope(loop);
  if (EndsWith(file, ".wav")) return PlayWave(file, pcm, loop);
  pmx::AlsaSoundSystem alsa({"", std::vector<pmx::SoundDevice>{{pcm, pcm}}});
  std::unique_ptr<pmx::TAuFileIn> input;
  if (EndsWith(file, ".mp3")) {
    input = std::make_unique<pmx::TMP3In>();
  } else {
    input = std::make_unique<pmx::TVorbisIn>();
  }
  input->SetFileName(file);
  pmx::TDXAudioOut output(nullptr, &alsa);
  output.SetPollingInterval(argc > 3 ? static_cast<uint32_t>(std::atoi(argv[3])) : 200);
  output.SetFramesInBuffer(argc > 4 ? static_cast<uint32_t>(std::atoi(argv[4])) : 32768);
  output.SetInput(input.get());
  int underruns = 0;
  bool done = false;
  int64_t played = 0;
  input->GetChannels();  // opens the file, which sets its size
  const int64_t size = input->Size();
  output.OnUnderrun = [&](pmx::TObject*) { ++underruns; };
  output.OnProgress = [&](pmx::TObject*) { played = std::max(played, input->Position()); };
  output.OnDone = [&](pmx::TObject*) {  // progress is polled: the last poll may come before the end
    played = std::max(played, input->Position());
    done = true;
  };
  output.Run();
  while (!loop.PumpUntil([&] { return done; }, std::chrono::hours(24))) {
  }
  std::printf("bytes %lld of %lld, underruns %d\n", static_cast<long long>(played), static_cast<long long>(size),
              underruns);
  if (!output.ErrorText().empty()) {
    std::fprintf(stderr, "error: %s\n", output.ErrorText().c_str());
    return 1;
  }
  return 0;
}
