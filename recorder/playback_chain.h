#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "audio/core/chain/wave_out.h"
#include "audio/core/files/audio_file.h"
#include "audio/streaming/dsound_out.h"
#include "audio/streaming/vorbis_in.h"
#include "audio/streaming/wm_in.h"

namespace pmx {

// The kinds of recording the player knows, as the recordings list hands them over.
enum TPlaybackKind { pkNone = 0, pkWave = 1, pkVorbis = 2, pkMP3 = 3 };

// The main window's players: AudioFile -> WaveOut for WAV, VorbisIn1 ->
// DXAudioOut1 for Ogg Vorbis and MP3In1 -> DXAudioOut2 for MP3.
// Threads: set up and driven on the GUI thread; WaveOut pulls on its own thread,
// the streaming outputs run their inputs on their workers (see their headers).
class TPlaybackComponents {
 public:
  // system: where the outputs find their devices; the ALSA devices when null.
  explicit TPlaybackComponents(SoundSystem* system = nullptr);
  ~TPlaybackComponents();

  // Hands path to AudioFile; raises the file's error when it cannot be read,
  // holds no samples or cannot be decoded (the file is then not kept).
  void LoadWave(const std::string& path);
  // Where the WAV being played is in ms: while it plays, the position of what is
  // heard now, not of the buffers queued ahead of it.
  int64_t WavePosition();
  // Ends whatever plays and waits until it has.
  void StopAll();
  // WaveOut plays on wave-out device id, and the streaming outputs on the device
  // that carries its name; a device that is not there means the default device.
  void SetDevice(int id, const std::string& wave_out_name);

  // Declared first: the outputs stop before their inputs go.
  TMMAudioFile AudioFile;
  TVorbisIn VorbisIn1;
  TMP3In MP3In1;
  TMMWaveOut WaveOut;
  TDXAudioOut DXAudioOut1;
  TDXAudioOut DXAudioOut2;
};

// The second of the day a recording started, from the hh:mm:ss at characters
// 10-17 of its display name ("yy/mm/dd hh:mm:ss"); none when they are not digits.
std::optional<int64_t> StartSecond(const std::string& display_name);
// "Position : hh:mm:ss"; hours go on past 23 for a recording that ran past midnight.
std::string PositionText(int64_t second);

}  // namespace pmx
