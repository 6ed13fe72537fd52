// The main window's playback panel: Play, Pause, the slider and the position display.
#include <QAction>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <filesystem>

#include "audio/core/mpeg_file.h"
#include "platform/ui_hook.h"
#include "platform/wave_driver.h"
#include "recorder/aufnahme_form.h"
#include "recorder/doku_form.h"
#include "recorder/event_log.h"
#include "recorder/recorder_options.h"

namespace pmx {
namespace {

constexpr int kIdle = 2;
constexpr int kPaused = 1;
constexpr int kPlaying = 0;

void Tell(const std::string& text) { ShowMessageBox(text, "Pelmorax"); }

uintmax_t SizeOf(const std::string& path) {
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

}  // namespace

void TDokuForm::BindPlayers() {
  PlaybackChain.DXAudioOut1.OnThreadException = [this](TObject*) { DXAudioOut1ThreadException(); };
  PlaybackChain.DXAudioOut2.OnThreadException = [this](TObject*) { DXAudioOut2ThreadException(); };
  for (TDXAudioOut* output : {&PlaybackChain.DXAudioOut1, &PlaybackChain.DXAudioOut2}) {
    output->OnDone = [this](TObject*) { PlaybackDone(); };
  }
  PlaybackChain.WaveOut.OnStop = [this](TObject*) { PlaybackDone(); };
  connect(&PlayTimer, &QTimer::timeout, this, [this] { PlayTimerTimer(); });
  PlayTimer.start();
}

void TDokuForm::SetAufnahmeForm(TAufnahmeForm* form) {
  aufnahme_form_ = form;
  if (!form) return;
  form->OnStopPlayback = [this] { StopPlayback(); };
  form->OnLoadPlaybackFile = [this] { LoadPlaybackFile(); };
}

void TDokuForm::AssignPlaybackDevice(uint8_t out_device) {
  WaveDeviceCaps caps;
  if (WaveDriver::Instance().GetCaps(WaveDirection::kOutput, out_device, caps) == MMSYSERR_NOERROR) {
    PlaybackChain.SetDevice(out_device, caps.name);
  } else {
    PlaybackChain.SetDevice(WAVE_MAPPER, "");
  }
}

void TDokuForm::LoadPlaybackFile() {
  bool loaded = true;
  try {
    PlaybackChain.Load(PlaybackFile, PlaybackKind);
  } catch (const Exception& e) {
    Tell(e.what());
    loaded = false;
  }
  playback_size_ = SizeOf(PlaybackFile);
  for (QWidget* control : std::initializer_list<QWidget*>{Slider, SpdBtnPlay, SpdBtnPause}) {
    control->setEnabled(loaded);
  }
  play_action_->setEnabled(loaded);
  pause_action_->setEnabled(loaded);
}

void TDokuForm::StopPlayback() { PlaybackChain.StopAll(); }

void TDokuForm::SpdBtnPlayClick() {
  if (PlaybackKind == pkWave) {
    PlayWave();
    return;
  }
  TDXAudioOut* output = PlaybackChain.Output(PlaybackKind);
  if (!output) return;
  const int status = output->GetStatus();
  if (status == kPaused) {
    output->Resume();
  } else if (status == kIdle) {
    output->Stop(true);
    output->Run();
  }
}

void TDokuForm::PlayWave() {
  // Nothing loaded: the file's own error was shown when it was chosen, and a
  // device left without a source must not count as one that refuses.
  if (PlaybackChain.AudioFile.GetEmpty()) return;
  try {
    PlaybackChain.WaveOut.Start();
    PlaybackChain.WaveOut.Restart();
  } catch (const EMMWaveOutError& e) {
    LogEvent("Playback: " + std::string(e.what()));
    CloseMonitor();
    Tell("Voice sense is deactivated due to limitations of the sound card.");
    Settings.RecorderOptions.SaveMode = 5;
  }
}

void TDokuForm::SpdBtnPauseClick() {
  if (PlaybackKind == pkWave) {
    PlaybackChain.WaveOut.Pause();
    return;
  }
  TDXAudioOut* output = PlaybackChain.Output(PlaybackKind);
  if (output && output->GetStatus() == kPlaying) output->Pause();
}

void TDokuForm::SliderTrackEnd() {
  SliderDragging = false;
  if (PlaybackKind == pkWave) {
    SeekWave(Slider->Position());
    return;
  }
  TDXAudioOut* output = PlaybackChain.Output(PlaybackKind);
  if (!output || output->GetStatus() == kIdle) return;
  PlaybackChain.Input(PlaybackKind)->MoveByPercent(Slider->Position() / 10 - output->GetProgress());
}

void TDokuForm::PlayTimerTimer() {
  std::error_code error;
  if (PlaybackFile.empty() || !std::filesystem::exists(PlaybackFile, error)) return;
  const std::string name = RecordingDisplayName(PlaybackFile);
  const std::optional<int64_t> start = StartSecond(name);
  if (!start) return;
  DatumLabel->setText(QString::fromStdString("Date : " + name));
  int64_t second = *start;
  TDXAudioOut* output = PlaybackChain.Output(PlaybackKind);
  if (PlaybackKind == pkWave) {
    const int64_t position = PlaybackChain.WavePosition();
    second += position / 1000;
    PlayGauge->setValue(static_cast<int>(position * 100 / (PlaybackChain.AudioFile.FileLength() + 1)));
  } else if (output) {
    TAuFileIn& input = *PlaybackChain.Input(PlaybackKind);
    const int status = output->GetStatus();
    const int64_t size = input.Size();
    if (status == kPlaying || (status == kPaused && size != 0)) {
      const int64_t position = input.Position();
      second += position * input.GetLengthSeconds() / (size + 1);
      PlayGauge->setValue(static_cast<int>(position * 100 / (size + 1)));
    }
  }
  PositionLabel->setText(QString::fromStdString(PositionText(second)));
  if (!SliderDragging) Slider->SetPosition(PlayGauge->value() * 10);
}

void TDokuForm::SeekWave(int slider_position) {
  TMMWaveOut& wave_out = PlaybackChain.WaveOut;
  try {
    wave_out.Pause();
    PlaybackChain.AudioFile.SetTimePosition(slider_position * PlaybackChain.AudioFile.FileLength() / 1000);
    wave_out.ResetDevice();
    wave_out.Restart();
  } catch (const EMMMpegError&) {
    wave_out.Stop();
  }
}

void TDokuForm::ShowPlaybackError(const TDXAudioOut& output) { Tell(output.ErrorText()); }

void TDokuForm::PlaybackDone() {
  const TDXAudioOut* output = PlaybackChain.Output(PlaybackKind);
  if ((output && !output->ErrorText().empty()) || PlaybackFile.empty()) return;
  std::error_code error;
  if (!std::filesystem::exists(PlaybackFile, error)) {
    Tell("Playback stopped: " + PlaybackFile + " has been deleted.");
  } else if (SizeOf(PlaybackFile) < playback_size_) {
    Tell("Playback stopped: " + PlaybackFile + " has been cut short.");
  }
}

}  // namespace pmx
