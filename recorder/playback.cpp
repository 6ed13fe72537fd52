#include "recorder/playback.h"

#include <filesystem>

#include "audio/core/files/mpeg_file.h"
#include "platform/alsa/wave_driver.h"
#include "recorder/event_log.h"

namespace pmx {
namespace {

uintmax_t SizeOf(const std::string& path) {
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

// How far a run is: seconds past the start, and percent for the gauge.
struct TProgress {
  int64_t seconds;
  int percent;
};

}  // namespace

// One kind's way to play; the kind without a player does nothing.
class TPlayback::TKindPlayer {
 public:
  virtual ~TKindPlayer() = default;
  // Raises the file's error when it cannot be played.
  virtual void Load(const std::string& /*path*/) {}
  virtual void Play() {}
  virtual void Pause() {}
  virtual void Seek(int /*permille*/) {}
  virtual std::optional<TProgress> Progress() { return std::nullopt; }
  // The run ended on an error that was shown already.
  virtual bool Failed() const { return false; }
};

class TPlayback::TWavePlayer : public TKindPlayer {
 public:
  TWavePlayer(TPlaybackComponents& chain, TPlaybackHost& host) : chain_(chain), host_(host) {}

  void Load(const std::string& path) override { chain_.LoadWave(path); }

  void Play() override {
    // Nothing loaded: the file's own error was shown when it was chosen, and a
    // device left without a source must not count as one that refuses.
    if (chain_.AudioFile.GetEmpty()) return;
    try {
      chain_.WaveOut.Start();
      chain_.WaveOut.Restart();
    } catch (const EMMWaveOutError& e) {
      LogEvent("Playback: " + std::string(e.what()));
      host_.TellPlayback(e.what());
      host_.WaveOutRefused();
    }
  }

  void Pause() override { chain_.WaveOut.Pause(); }

  void Seek(int permille) override {
    const int64_t ms = permille * chain_.AudioFile.FileLength() / 1000;
    // Stopped: the file is where the next run starts; no device is woken for it.
    if (!(chain_.WaveOut.State() & wsStarted)) {
      chain_.AudioFile.SetTimePosition(ms);
      return;
    }
    TMMWaveOut& wave_out = chain_.WaveOut;
    try {
      wave_out.Pause();
      chain_.AudioFile.SetTimePosition(ms);
      wave_out.ResetDevice();
      wave_out.Restart();
    } catch (const EMMMpegError&) {
      wave_out.Stop();
    }
  }

  std::optional<TProgress> Progress() override {
    const int64_t position = chain_.WavePosition();
    return TProgress{position / 1000, static_cast<int>(position * 100 / (chain_.AudioFile.FileLength() + 1))};
  }

 private:
  TPlaybackComponents& chain_;
  TPlaybackHost& host_;
};

class TPlayback::TStreamPlayer : public TKindPlayer {
 public:
  TStreamPlayer(TDXAudioOut& output, TAuFileIn& input) : output_(output), input_(input) {}

  void Load(const std::string& path) override { input_.SetFileName(path); }

  void Play() override {
    const TAuStatus status = output_.GetStatus();
    if (status == TAuStatus::kPaused) {
      output_.Resume();
    } else if (status == TAuStatus::kIdle) {
      output_.Stop(true);
      output_.Run();
    }
  }

  void Pause() override {
    if (output_.GetStatus() == TAuStatus::kPlaying) output_.Pause();
  }

  void Seek(int permille) override {
    if (output_.GetStatus() == TAuStatus::kIdle) {
      input_.Cue(input_.GetLengthSamples() * permille / 1000);
    } else {
      input_.MoveByPercent(permille / 10 - output_.GetProgress());
      // Paused, what was buffered before the seek is not what plays on.
      output_.DropQueued();
    }
  }

  // The position is that of what is heard, not of what the output has read ahead.
  std::optional<TProgress> Progress() override {
    const TAuStatus status = output_.GetStatus();
    const int64_t size = input_.Size();
    const bool cued = status == TAuStatus::kIdle && input_.Cued();
    if (!cued && status != TAuStatus::kPlaying && (status != TAuStatus::kPaused || size == 0)) return std::nullopt;
    // The length opens the file when the run has not: one that cannot be opened
    // is told by the run, and until it plays there is no position to show.
    int length = 0;
    try {
      length = input_.GetLengthSeconds();
    } catch (const Exception&) {
      return std::nullopt;
    }
    const int64_t position = output_.HeardPosition();
    return TProgress{position * length / (size + 1), static_cast<int>(position * 100 / (size + 1))};
  }

  bool Failed() const override { return !output_.ErrorText().empty(); }

 private:
  TDXAudioOut& output_;
  TAuFileIn& input_;
};

TPlayback::TPlayback(TPlaybackHost& host, SoundSystem* sound)
    : Chain(sound),
      host_(host),
      wave_(std::make_unique<TWavePlayer>(Chain, host)),
      vorbis_(std::make_unique<TStreamPlayer>(Chain.DXAudioOut1, Chain.VorbisIn1)),
      mp3_(std::make_unique<TStreamPlayer>(Chain.DXAudioOut2, Chain.MP3In1)),
      none_(std::make_unique<TKindPlayer>()) {
  for (TDXAudioOut* output : {&Chain.DXAudioOut1, &Chain.DXAudioOut2}) {
    output->OnThreadException = [this, output](TObject*) { host_.TellPlayback(output->ErrorText()); };
    output->OnDone = [this](TObject*) { Done(); };
  }
  Chain.WaveOut.OnStop = [this](TObject*) { Done(); };
}

TPlayback::~TPlayback() {
  // The chain stops its runs when it goes, after the players: nobody is told then.
  for (TDXAudioOut* output : {&Chain.DXAudioOut1, &Chain.DXAudioOut2}) {
    output->OnThreadException = nullptr;
    output->OnDone = nullptr;
  }
  Chain.WaveOut.OnStop = nullptr;
}

TPlayback::TKindPlayer& TPlayback::Player() {
  switch (PlaybackKind) {
    case pkWave:
      return *wave_;
    case pkVorbis:
      return *vorbis_;
    case pkMP3:
      return *mp3_;
    default:
      return *none_;
  }
}

bool TPlayback::Load() {
  ApplyDevice();
  bool loaded = true;
  try {
    Player().Load(PlaybackFile);
  } catch (const Exception& e) {
    host_.TellPlayback(e.what());
    loaded = false;
  }
  size_ = SizeOf(PlaybackFile);
  return loaded;
}

void TPlayback::Play() { Player().Play(); }

void TPlayback::Pause() { Player().Pause(); }

void TPlayback::Seek(int permille) { Player().Seek(permille); }

void TPlayback::StopStreams() {
  for (TDXAudioOut* output : {&Chain.DXAudioOut1, &Chain.DXAudioOut2}) output->Stop(true);
}

std::optional<TPlaybackPosition> TPlayback::Position() {
  std::error_code error;
  if (PlaybackFile.empty() || !std::filesystem::exists(PlaybackFile, error)) return std::nullopt;
  const std::string name = RecordingDisplayName(PlaybackFile);
  const std::optional<int64_t> start = StartSecond(name);
  if (!start) return std::nullopt;
  TPlaybackPosition shown{"Date : " + name, "", std::nullopt};
  int64_t second = *start;
  if (const std::optional<TProgress> progress = Player().Progress()) {
    second += progress->seconds;
    shown.percent = progress->percent;
  }
  shown.position = PositionText(second);
  return shown;
}

void TPlayback::SetDevice(uint8_t out_device) { chosen_device_ = out_device; }

void TPlayback::ApplyDevice() {
  // An open device keeps its number: the choice waits for the next load.
  if (!chosen_device_ || (Chain.WaveOut.State() & wsOpen) != 0) return;
  const uint8_t out_device = *chosen_device_;
  chosen_device_.reset();
  WaveDeviceCaps caps;
  if (WaveDriver::Instance().GetCaps(WaveDirection::kOutput, out_device, caps) == MMSYSERR_NOERROR) {
    Chain.SetDevice(out_device, caps.name);
  } else {
    Chain.SetDevice(WAVE_MAPPER, "");
  }
}

void TPlayback::Done() {
  if (Player().Failed() || PlaybackFile.empty()) return;
  std::error_code error;
  if (!std::filesystem::exists(PlaybackFile, error)) {
    host_.TellPlayback("Playback stopped: " + PlaybackFile + " has been deleted.");
  } else if (SizeOf(PlaybackFile) < size_) {
    host_.TellPlayback("Playback stopped: " + PlaybackFile + " has been cut short.");
  }
}

}  // namespace pmx
