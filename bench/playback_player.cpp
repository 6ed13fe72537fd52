// Plays one Ogg Vorbis or MP3 file through the recorder's streaming output, for
// bench/playback_vs_players.sh and for listening tests on a real device.
//   playback_player FILE [PCM [POLL_MS [FRAMES]]]   (PCM "default", POLL_MS 200, FRAMES 32768)
// Prints the underruns and any error; exits 1 on an error.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "audio/streaming/dsound_out.h"
#include "audio/streaming/vorbis_in.h"
#include "audio/streaming/wm_in.h"
#include "platform/alsa_dsound.h"
#include "platform/main_loop.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [PCM [POLL_MS [FRAMES]]]\n", argv[0]);
    return 2;
  }
  const std::string file = argv[1];
  const std::string pcm = argc > 2 ? argv[2] : "default";
  pmx::PlainMainLoop loop;
  pmx::ScopedMainLoop scope(loop);
  pmx::AlsaSoundSystem alsa({"", std::vector<pmx::SoundDevice>{{pcm, pcm}}});
  std::unique_ptr<pmx::TAuFileIn> input;
  if (file.size() > 4 && file.compare(file.size() - 4, 4, ".mp3") == 0) {
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
  output.OnDone = [&](pmx::TObject*) { done = true; };
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
