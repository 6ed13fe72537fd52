// The main window's playback panel: its controls and timer drive the player.
#include <QAction>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "platform/ui_hook.h"
#include "recorder/doku_form.h"

namespace pmx {

void TDokuForm::SetAufnahmeForm(std::function<TAufnahmeForm*()> make) {
  aufnahme_form_.Set(std::move(make), [this](TAufnahmeForm& form) {
    form.OnStopPlayback = [this] { Playback.Stop(); };
    form.OnLoadPlaybackFile = [this] { LoadPlaybackFile(); };
  });
}

void TDokuForm::LoadPlaybackFile() {
  const bool loaded = Playback.Load();
  for (QWidget* control : std::initializer_list<QWidget*>{Slider, SpdBtnPlay, SpdBtnPause}) {
    control->setEnabled(loaded);
  }
  // Without a display the menus are never built.
  if (play_action_) {
    play_action_->setEnabled(loaded);
    pause_action_->setEnabled(loaded);
  }
  // Until a recording is handed over there is no position to show: a recorder
  // nobody plays on (a service) does not wake five times a second for nothing.
  if (!PlayTimer.isActive()) PlayTimer.start();
}

void TDokuForm::SliderTrackEnd() {
  SliderDragging = false;
  Playback.Seek(Slider->Position());
}

void TDokuForm::PlayTimerTimer() {
  const std::optional<TPlaybackPosition> shown = Playback.Position();
  if (!shown) return;
  DatumLabel->setText(QString::fromStdString(shown->date));
  if (shown->percent) PlayGauge->setValue(*shown->percent);
  PositionLabel->setText(QString::fromStdString(shown->position));
  if (!SliderDragging) Slider->SetPosition(PlayGauge->value() * 10);
}

void TDokuForm::TellPlayback(const std::string& text) { ShowMessageBox(text, "Pelmorax"); }

void TDokuForm::WaveOutRefused() {
  // Only the voice sense listens on the sound card beside the player; the clock
  // and the contacts split on as they were set.
  if (Settings.RecorderOptions.SaveMode != 6) return;
  CloseMonitor();
  TellPlayback("Voice sense is deactivated due to limitations of the sound card.");
  Settings.RecorderOptions.SaveMode = 5;
}

}  // namespace pmx
