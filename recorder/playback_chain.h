#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "audio/streaming/dsound_out.h"
#include "audio/streaming/vorbis_in.h"
#include "audio/streaming/wm_in.h"

namespace pmx {

// The kinds of recording the player knows, as the recordings list hands them over.
enum TPlaybackKind { pkNone = 0, pkWave = 1, pkVorbis = 2, pkMP3 = 3 };

// The main window's compressed-recording players: VorbisIn1 -> DXAudioOut1 for
// Ogg Vorbis and MP3In1 -> DXAudioOut2 for MP3.
// Threads: set up and driven on the GUI thread; the outputs run their inputs on
// their own workers (see TAuOutput).
class TPlaybackComponents {
 public:
  // system: where the outputs find their devices; the ALSA devices when null.
  explicit TPlaybackComponents(SoundSystem* system = nullptr);
  ~TPlaybackComponents();

  // The output and input of kind; null for the other kinds.
  TDXAudioOut* Output(int kind);
  TAuFileIn* Input(int kind);
  // Hands path to the input of kind.
  void Load(const std::string& path, int kind);
  // Ends whatever plays and waits until it has.
  void StopAll();
  // Both outputs play on the device that carries the wave-out device's name, or
  // on the default device when none does.
  void SetDevice(const std::string& wave_out_name);

  // Declared first: the outputs stop before their inputs go.
  TVorbisIn VorbisIn1;
  TMP3In MP3In1;
  TDXAudioOut DXAudioOut1;
  TDXAudioOut DXAudioOut2;
};

// The second of the day a recording started, from the hh:mm:ss at characters
// 10-17 of its display name ("yy/mm/dd hh:mm:ss"); none when they are not digits.
std::optional<int64_t> StartSecond(const std::string& display_name);
// "Position : hh:mm:ss"; hours go on past 23 for a recording that ran past midnight.
std::string PositionText(int64_t second);

}  // namespace pmx
