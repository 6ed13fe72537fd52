#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "recorder/aufnahme_form.h"
#include "recorder/playback_chain.h"

namespace pmx {

// What the player needs the window for.
class TPlaybackHost {
 public:
  virtual ~TPlaybackHost() = default;
  // A message about the playback for the user.
  virtual void TellPlayback(const std::string& text) = 0;
  // The wave-out device refused to play (already logged and told).
  virtual void WaveOutRefused() = 0;
};

// The position display: the captions and the gauge, none when the gauge stays as it was.
struct TPlaybackPosition {
  std::string date;
  std::string position;
  std::optional<int> percent;
};

// Plays the recording the list hands over (PlaybackFile, PlaybackKind): load,
// play or resume, pause, seek, the position, and the end of a run. Which
// components play a kind is decided in one place (Player).
// Threads: GUI thread only; the components keep the rules their headers give.
class TPlayback : public TPlaybackChoice {
 public:
  // sound: where the players find their devices; the ALSA devices when null.
  TPlayback(TPlaybackHost& host, SoundSystem* sound);
  ~TPlayback();

  // Hands PlaybackFile to the input of its kind; false (the user told) when it cannot play.
  bool Load();
  void Play();
  void Pause();
  // Moves to permille of the recording; stopped, the next Play starts there.
  void Seek(int permille);
  // Ends whatever plays and waits until it has.
  void Stop() { Chain.StopAll(); }
  // Asks the streaming outputs to end without waiting: the window closes.
  void StopStreams();
  // The time of day of what is heard: the start time from the file's display name
  // plus the position; none while no recording with such a name is there.
  std::optional<TPlaybackPosition> Position();
  // The players take the device the wave-out list shows at out_device; the next
  // recording loaded plays there. The device is looked up then: a recorder that
  // nobody plays from never opens the playback device.
  void SetDevice(uint8_t out_device);

  TPlaybackComponents Chain;

 private:
  class TKindPlayer;
  class TWavePlayer;
  class TStreamPlayer;
  TKindPlayer& Player();
  // A run that ended by itself on a file that went away or shrank tells the user.
  void Done();
  // Hands the chosen device to the chain, once per choice.
  void ApplyDevice();

  TPlaybackHost& host_;
  uintmax_t size_ = 0;  // the size of PlaybackFile when it was handed over
  std::optional<uint8_t> chosen_device_;  // not yet handed to the chain
  std::unique_ptr<TKindPlayer> wave_;
  std::unique_ptr<TKindPlayer> vorbis_;
  std::unique_ptr<TKindPlayer> mp3_;
  std::unique_ptr<TKindPlayer> none_;
};

}  // namespace pmx
