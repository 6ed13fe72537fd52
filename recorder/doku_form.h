#pragma once

#include <QMainWindow>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "audio/core/files/acm.h"
#include "audio/core/objects/hi_timer.h"
#include "audio/core/ui/controls.h"
#include "audio/core/ui/form.h"
#include "audio/displays/designer.h"
#include "audio/displays/level.h"
#include "audio/displays/level_scale.h"
#include "audio/displays/slider.h"
#include "devices/serial_port.h"
#include "recorder/aufnahme_form.h"
#include "recorder/control_tick.h"
#include "recorder/form_on_demand.h"
#include "recorder/instance_listener.h"
#include "recorder/playback.h"
#include "recorder/recording_chain.h"
#include "recorder/recording_lifecycle.h"

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace pmx {

class TLogoForm;
class TfrmExit;
class TParaForm;

// The recorder's main window: the recording panel with its level bars, the playback
// panel, the options and exit buttons, the menus and the timers. Start-up happens
// when it is first shown, the geometry goes to "preferences.ini" when it closes.
// Its controls drive Playback, which holds the recording the list hands over.
// Threads: GUI thread only (the control tick arrives there synchronized); the
// recording components keep the rules their headers give.
class TDokuForm : public QMainWindow,
                  public TForm,
                  public TPlaybackHost,
                  public TControlTickHost,
                  public TRemoteCommandTarget,
                  public TRecordingHost {
 public:
  // instance_name: the name this recorder runs under; first_argument: the program's
  // first argument as given ("-RECORDSTART" starts a recording once shown).
  // sound: where the players find their devices; the ALSA devices when null.
  TDokuForm(std::string instance_name, std::string first_argument, QWidget* parent = nullptr,
            SoundSystem* sound = nullptr);
  ~TDokuForm() override;

  // The other forms: make builds one (or hands one owned elsewhere) when it is
  // first wanted, and must keep it alive as long as this window.
  void SetParaForm(std::function<TParaForm*()> make) { para_form_.Set(std::move(make)); }
  // Also binds the list's hand-over to the player.
  void SetAufnahmeForm(std::function<TAufnahmeForm*()> make);
  void SetLogoForm(std::function<TLogoForm*()> make) { logo_form_.Set(std::move(make)); }
  void SetExitForm(std::function<TfrmExit*()> make) { exit_form_.Set(std::move(make)); }
  // No display: nobody can answer a dialog at start-up, nor see the level bars.
  void SetHeadless(bool headless);
  // Start-up: shows the window, whose first showing starts the recorder. Headless
  // the window is never shown, which would only cost memory (its platform window,
  // layouts and style) for what nobody can see: start-up runs at once, and closing
  // the window ends the event loop, which Qt ends only for a visible last window.
  void Start();
  // The window's presence on the instance bus, which carries the alarm message.
  void SetInstanceListener(TInstanceListener* listener) { listener_ = listener; }

  // The recording flag: the recording panel is red while a recording runs.
  bool Recording() override;
  // What the recording lifecycle shows.
  void SetRecording(bool recording) override;
  void SetErrorPanelVisible(bool visible) override;
  void SetStatusText(const std::string& text) override;
  TWindowState WindowState() override;
  int Left() override { return x(); }
  int Top() override { return y(); }
  void SetApplicationIcon(const std::string& file_name) override;

  TMMPanel* AufnahmePanel = nullptr;
  QLabel* RecordseitLabel = nullptr;
  QLabel* RecordDauerLabel = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  // Left channel above, right channel below, the dB labels under both.
  TMMLevel* MMLevel2 = nullptr;
  TMMLevel* MMLevel1 = nullptr;
  TMMLevelScale* MMLevelScale1 = nullptr;
  QWidget* PnlRecordStartStop = nullptr;
  QPushButton* SpdBtnREcord = nullptr;
  QPushButton* SpdBtnStopREcord = nullptr;

  TMMPanel* WiedergabePanel = nullptr;
  QLabel* PositionLabel = nullptr;
  QLabel* DatumLabel = nullptr;
  QProgressBar* PlayGauge = nullptr;
  TMMSlider* Slider = nullptr;
  QPushButton* SpdBtnPlay = nullptr;
  QPushButton* SpdBtnPause = nullptr;
  QPushButton* OeffnenBitBtn = nullptr;

  TMMPanel* ParaPanel = nullptr;
  QLabel* AlarmPanel = nullptr;
  QPushButton* ParaBitBtn = nullptr;
  QPushButton* CloseBitBtn = nullptr;
  QFrame* ErrorPanel = nullptr;
  QPushButton* SpeedButton1 = nullptr;
  QLabel* pnlWarning = nullptr;

  // The settings every part of the recorder reads, loaded when the window is first shown.
  TRecorderSettings Settings;
  std::unique_ptr<TMMHiTimer> StatusTimer;
  QTimer PlayTimer;
  QTimer LogoTimer;
  QTimer tmrDelayStop;
  TSerialPort SerialPort1;
  // Holds the recording format while the recorder hands it to the device.
  TMMACM FormatDlg;
  // WaveRecorder -> MMConnector1 -> MMRingBuffer1 -> WaveFileRecorder, and the
  // monitor input WaveIn -> MMConnector2; both connectors feed the level bars.
  TRecordingComponents RecordingChain{Settings.RecorderOptions};
  // AudioFile -> WaveOut, VorbisIn1 -> DXAudioOut1 and MP3In1 -> DXAudioOut2.
  TPlayback Playback;
  // The counts and samples the control tick and the recording lifecycle share.
  TRecorderState RecorderState;
  // The user holds the slider: the position display leaves it alone.
  bool SliderDragging = false;
  // Unused at run time: it leaves the window's height alone.
  TMMDesigner MMDesigner1{this};

  // Handlers as the form binds them.
  void FormCreate();
  void FormShow();
  // Every close: stops a running recording (handing it to its encoder) and saves
  // the geometry. The close is always allowed.
  void FormCloseQuery();
  void FormClose();
  void ParaBitBtnClick();
  void SpeedButton1Click();
  // Button "Select" and menu "Select File": the recordings list.
  void OeffnenBitBtnClick();
  void SpdBtnREcordClick() { StartRecording(); }
  void SpdBtnStopREcordClick() { StopRecording(); }
  void CloseBitBtnClick();
  void LogoTimerTimer();
  void StatusTimerTimer();
  void tmrDelayStopTimer();

  // Play starts or resumes, Pause pauses; releasing the slider seeks.
  void SpdBtnPlayClick() { Playback.Play(); }
  void SpdBtnPauseClick() { Playback.Pause(); }
  void SliderTrack() { SliderDragging = true; }
  void SliderTrackEnd();
  // The position display, the gauge and the slider; PlayTimer runs it from the
  // first hand-over on.
  void PlayTimerTimer();
  // Loads what the list handed over and enables the controls when it can play.
  void LoadPlaybackFile();

  // What the player shows.
  void TellPlayback(const std::string& text) override;
  // Voice-operated recording goes off; no other recording mode changes.
  void WaveOutRefused() override;

  // What the control tick reads and drives.
  int64_t RecordingPosition() override;
  bool RecorderPaused() override;
  int LastPeak() override;
  bool AlarmVisible() override;
  void SetAlarmVisible(bool visible) override;
  void SetPeakText(const std::string& text) override;
  void SetSilenceText(const std::string& text) override;
  void SetLengthText(const std::string& text) override;
  void ShowSerialPins(bool dsr, bool cts) override;
  void BroadcastAlarm(int state) override;
  void EnableDelayStop(uint32_t interval_ms) override;
  void DisableDelayStop() override;

  // Where the recording chain and the monitor input plug in.
  // All of them wait for devices, so each runs after a start or stop that is
  // waiting (see TRecordingLifecycle).
  void StartRecording() override;
  void StopRecording() override;
  TRecordingWatch WatchRecording() override { return lifecycle_.WatchRecording(); }
  void PauseRecording() override;
  void RestartRecording() override;
  void StartMonitor() override;
  void CloseMonitor() override;

  // Commands of other instances.
  void Close() override;
  void ShowInstanceRequest() override;

  // Shows the retention warning exactly when compressed files are kept one day.
  void UpdateRetentionWarning();
  // Opens SerialPort1 as "COM<com_number>" for remote control (DTR off, RTS on);
  // tells the user when it did not open.
  void OpenSerialRemote(int com_number);
  // What the accepted options dialog changes at once: devices, the monitor input
  // and the retention warning.
  void OptionsAccepted();

 protected:
  // Where the devices and the format dialog plug in.
  // Switches the recorder and the player to the chosen devices where they can.
  virtual void ApplyDeviceChoice();
  virtual void AssignDevices(uint8_t in_device, uint8_t out_device);
  // One run of the recording-quality dialog; false while the user cancels. Only
  // asked while a codec registry is present.
  virtual bool CodecRegistryPresent() const;
  virtual bool ChooseRecordingFormat();

  // The menus are built when the window is first shown: only a display can use them.
  void setVisible(bool visible) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  // The window's exposure, for UpdateDisplaysSeen.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildRecordingPanel(QWidget* client);
  void BuildPlaybackPanel(QWidget* client);
  void BuildParaPanel(QWidget* client);
  void BuildHiddenSeekButtons(QWidget* client);
  void BuildMenus();
  void BuildTimers();
  void HangLevelBars();
  void LoadDesigner();
  void CentreOnScreen();
  void RestoreGeometry();
  // Start-up steps that may raise: reported, and start-up goes on.
  void StartUpStep(const std::function<void()>& step);
  void ResetLptOutputs();
  void StopFormTimers();
  void SampleLptStatus();
  bool LptReady() const;
  // The displays draw and their clock ticks only while somebody can see them: not
  // headless, not minimized, the window exposed.
  void UpdateDisplaysSeen();
  // Sets the text of a status label; one that nobody can see gets its last text
  // when it can be seen again, rather than a layout and a notification for
  // nobody on every tick.
  void ShowText(QLabel* label, const std::string& text);

  TControlTick tick_{*this, SerialPort1, Settings, RecorderState};
  TRecordingLifecycle lifecycle_{*this, RecordingChain, Settings.RecorderOptions, RecorderState};
  const std::string instance_name_;
  const std::string first_argument_;
  bool shown_ = false;
  bool headless_ = false;
  bool tick_waiting_ = false;  // a tick fell into a start or stop and runs after it
  std::map<QLabel*, std::string> unseen_texts_;  // for ShowText
  TFormOnDemand<TParaForm> para_form_;
  TFormOnDemand<TAufnahmeForm> aufnahme_form_;
  TFormOnDemand<TLogoForm> logo_form_;
  TFormOnDemand<TfrmExit> exit_form_;
  TInstanceListener* listener_ = nullptr;
  QAction* play_action_ = nullptr;
  QAction* pause_action_ = nullptr;
};

}  // namespace pmx
