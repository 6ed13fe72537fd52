// Plays one WAV recording on an ALSA PCM as the main window's playback panel
// does, following a list of user actions, for tests/pulse_playback.sh and for
// listening tests on a real device:
//   playback_session FILE PCM ACTION...
// play (Play), pause (Pause), wait:MS, seek:PERMILLE (the slider released there),
// end (waits until the player stopped by itself), reload (the file chosen again).
// Prints the position shown after each action; exits 1 on an error.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/core/dsp/acm_support.h"
#include "platform/alsa/alsa_wave_driver.h"
#include "platform/main_loop.h"
#include "recorder/playback_chain.h"

namespace {

using namespace std::chrono_literals;

struct Session {
  explicit Session(pmx::MainLoop& main_loop) : loop(main_loop) {}
  pmx::TPlaybackComponents chain;
  pmx::MainLoop& loop;
  bool stopped = false;

  bool Do(const std::string& action, const std::string& file) {
    pmx::TMMWaveOut& out = chain.WaveOut;
    const std::string verb = action.substr(0, action.find(':'));
    const long value = action.find(':') == std::string::npos ? 0 : std::atol(action.c_str() + verb.size() + 1);
    if (verb == "play") {
      stopped = false;
      out.Start();
      out.Restart();
    } else if (verb == "pause") {
      out.Pause();
    } else if (verb == "wait") {
      loop.PumpUntil([] { return false; }, std::chrono::milliseconds(value));
    } else if (verb == "seek") {
      out.Pause();
      chain.AudioFile.SetTimePosition(value * chain.AudioFile.FileLength() / 1000);
      out.ResetDevice();
      out.Restart();
    } else if (verb == "end") {
      return loop.PumpUntil([this] { return stopped; }, 24h);
    } else if (verb == "reload") {
      chain.LoadWave(file);
    } else {
      std::fprintf(stderr, "unknown action %s\n", action.c_str());
      return false;
    }
    return true;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s FILE PCM ACTION...\n", argv[0]);
    return 2;
  }
  const std::string file = argv[1];
  const std::string pcm = argv[2];
  pmx::LoadACM();  // as the recorder does at its start: codec WAVs play through it
  pmx::PlainMainLoop loop;
  pmx::ScopedMainLoop loop_scope(loop);
  pmx::AlsaWaveDriver::Options options;
  options.mapper = pcm;
  options.outputs = std::vector<pmx::AlsaWaveDriver::Device>{{pcm, pcm}};
  pmx::AlsaWaveDriver driver(options);
  pmx::ScopedWaveDriver driver_scope(driver);
  Session session(loop);
  session.chain.SetDevice(0, pcm);
  session.chain.WaveOut.OnStop = [&](pmx::TObject*) { session.stopped = true; };
  try {
    session.chain.LoadWave(file);
    for (int i = 3; i < argc; ++i) {
      if (!session.Do(argv[i], file)) return 1;
      std::printf("%s: at %lld ms\n", argv[i], static_cast<long long>(session.chain.WavePosition()));
    }
    std::printf("underruns %llu\n", static_cast<unsigned long long>(session.chain.WaveOut.Underruns()));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    return 1;
  }
  return 0;
}
