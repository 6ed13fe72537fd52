#include "recorder/doku_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QWindow>
#include <cctype>
#include <utility>

#include "audio/core/chain/connector_pump.h"
#include "platform/gui_ticker.h"
#include "platform/ports/port_io.h"
#include "platform/ui_hook.h"
#include "recorder/aufnahme_form.h"
#include "recorder/device_choice.h"
#include "recorder/event_log.h"
#include "recorder/form_layout.h"
#include "recorder/frm_exit.h"
#include "recorder/logo_form.h"
#include "recorder/para_form.h"
#include "recorder/port_access.h"
#include "recorder/preferences_file.h"
#include "recorder/recorder_options.h"
#include "recorder/recording_format.h"

namespace pmx {

namespace {

constexpr int kFormWidth = 640;
constexpr int kFormHeight = 430;
constexpr TColor kRecordingColor = 255;
constexpr TColor kIdleColor = 0x808000;

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

TDokuForm::TDokuForm(std::string instance_name, std::string first_argument, QWidget* parent,
                     SoundSystem* sound)
    : QMainWindow(parent),
      TForm(static_cast<QWidget&>(*this)),
      Playback(*this, sound),
      instance_name_(std::move(instance_name)),
      first_argument_(std::move(first_argument)) {
  setObjectName("DokuForm");
  setFont(QFont("Arial", 9));
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, ToQColor(clSilver));
  setPalette(palette);
  auto* client = new QWidget(this);
  setCentralWidget(client);
  BuildRecordingPanel(client);
  BuildPlaybackPanel(client);
  BuildParaPanel(client);
  BuildTimers();
  SerialPort1.SetCommPort("COM2");
  HangLevelBars();
  RecordingChain.SetLifecycle(&lifecycle_);
  resize(kFormWidth, kFormHeight);
  LoadDesigner();
  // Smaller, the buttons of the recording and options panels are cut off.
  setMinimumSize(kFormWidth, kFormHeight);
  FormCreate();
}

TDokuForm::~TDokuForm() {
  StopFormTimers();
  StatusTimer->SetEnabled(false);
  SerialPort1.SetActive(false);
  RecordingChain.SetLifecycle(nullptr);
  gui_ticker::SetSeen(true);
}

void TDokuForm::SetHeadless(bool headless) {
  headless_ = headless;
  // Nobody sees the window: nothing of it is painted.
  setUpdatesEnabled(!headless);
  UpdateDisplaysSeen();
}

void TDokuForm::UpdateDisplaysSeen() {
  const QWindow* window = windowHandle();
  const bool seen = !headless_ && isVisible() && !isMinimized() && window && window->isExposed();
  gui_ticker::SetSeen(seen);
  if (!seen) return;
  for (const auto& [label, text] : unseen_texts_) label->setText(QString::fromStdString(text));
  unseen_texts_.clear();
}

void TDokuForm::ShowText(QLabel* label, const std::string& text) {
  if (gui_ticker::Seen()) {
    label->setText(QString::fromStdString(text));
  } else {
    unseen_texts_[label] = text;
  }
}

void TDokuForm::LoadDesigner() {
  MMDesigner1.BeginLoading();
  MMDesigner1.SetName("MMDesigner1");
  MMDesigner1.SetRuntimeHeight(-1);
  MMDesigner1.SetUpdate(false);
  MMDesigner1.EndLoading();
}

void TDokuForm::HangLevelBars() {
  for (TMMConnector* connector : {&RecordingChain.MMConnector1, &RecordingChain.MMConnector2}) {
    connector->SetLevel1(MMLevel1);
    connector->SetLevel2(MMLevel2);
  }
}

bool TDokuForm::Recording() { return AufnahmePanel->Color() == kRecordingColor; }

void TDokuForm::SetRecording(bool recording) {
  AufnahmePanel->SetColor(recording ? kRecordingColor : kIdleColor);
  AufnahmePanel->repaint();
}

void TDokuForm::SetErrorPanelVisible(bool visible) { ErrorPanel->setVisible(visible); }

void TDokuForm::SetStatusText(const std::string& text) { ShowText(RecordseitLabel, text); }

TWindowState TDokuForm::WindowState() {
  if (isMinimized()) return TWindowState::wsMinimized;
  return isMaximized() ? TWindowState::wsMaximized : TWindowState::wsNormal;
}

void TDokuForm::SetApplicationIcon(const std::string& file_name) {
  QApplication::setWindowIcon(QIcon(QString::fromStdString(file_name)));
}

int64_t TDokuForm::RecordingPosition() { return RecordingChain.WaveRecorder.GetPosition(); }

bool TDokuForm::RecorderPaused() { return RecordingChain.WaveRecorder.IsPaused(); }

int TDokuForm::LastPeak() {
  // Nobody sees the level bars: they are fed here alone, for the silence detection.
  if (!gui_ticker::Seen()) connector_pump::Pump();
  return MMLevel1->LastPeak();
}

bool TDokuForm::AlarmVisible() { return AlarmPanel->isVisibleTo(this); }

void TDokuForm::SetAlarmVisible(bool visible) { AlarmPanel->setVisible(visible); }

void TDokuForm::SetPeakText(const std::string& text) { ShowText(Label1, text); }

void TDokuForm::SetSilenceText(const std::string& text) { ShowText(Label2, text); }

void TDokuForm::SetLengthText(const std::string& text) { ShowText(RecordDauerLabel, text); }

void TDokuForm::ShowSerialPins(bool dsr, bool cts) {
  // The dialog shows the pins from the tick after it was built.
  TParaForm* options = para_form_.IfBuilt();
  if (!options) return;
  options->chkbxComP6->setChecked(dsr);
  options->chkbxComP8->setChecked(cts);
}

void TDokuForm::BroadcastAlarm(int state) {
  if (listener_) listener_->BroadcastAlarm(state);
}

void TDokuForm::ShowInstanceRequest() {
  if (isMinimized()) {
    showNormal();
  } else {
    raise();
    activateWindow();
  }
}

void TDokuForm::EnableDelayStop(uint32_t interval_ms) {
  tmrDelayStop.setInterval(static_cast<int>(interval_ms));
  tmrDelayStop.start();
}

void TDokuForm::DisableDelayStop() { tmrDelayStop.stop(); }

void TDokuForm::FormCreate() {
  RecorderState.PortAccess = false;
  DetectPortAccess(RecorderState.PortAccess);
}

void TDokuForm::FormShow() {
  setWindowTitle(QString::fromStdString("Pelmorax " + instance_name_));
  RecorderState.GapCountdown = 3;
  RecorderState.SilenceCount = 0;
  StatusTimer->SetEnabled(false);
  LoadOptions(Settings);
  const TRecorderOptions& options = Settings.RecorderOptions;
  if (options.RecordFormat == 1 && headless_) {
    NoteInMonthlyLog("No display to ask for the recording quality: the stored format is used (" +
                     options.FormatText + ")");
  } else if (options.RecordFormat == 1) {
    while (CodecRegistryPresent() && !ChooseRecordingFormat()) {
    }
  }
  LogoTimer.start();
  StatusTimer->SetEnabled(true);
  resize(kFormWidth, kFormHeight);
  CentreOnScreen();
  RestoreGeometry();
  AssignDevices(options.InDevice, options.OutDevice);
  Slider->setEnabled(false);
  SpdBtnPlay->setEnabled(false);
  SpdBtnPause->setEnabled(false);
  if (options.SaveMode == 6) StartUpStep([this] { StartMonitor(); });
  if (EqualsIgnoringCase(first_argument_, "-RECORDSTART")) StartUpStep([this] { StartRecording(); });
  UpdateRetentionWarning();
  ResetLptOutputs();
  SampleLptStatus();
  if (options.SaveMode == 7 && Settings.ComNumber != 0) OpenSerialRemote(Settings.ComNumber);
}

void TDokuForm::StartUpStep(const std::function<void()>& step) {
  try {
    step();
  } catch (...) {
    HandleApplicationException(std::current_exception());
  }
}

void TDokuForm::CentreOnScreen() {
  const QScreen* screen = this->screen() ? this->screen() : QApplication::primaryScreen();
  if (!screen) return;
  const QSize size = screen->geometry().size();
  move((size.width() - width()) / 2, (size.height() - height()) / 2);
}

// The client area's geometry, which a window manager does not shift by its frame
// the way it may shift a frame position given before the frame is known.
void TDokuForm::RestoreGeometry() {
  const std::optional<TWindowGeometry> geometry = ReadPreferences();
  if (!geometry) return;
  setGeometry(geometry->Left, geometry->Top, geometry->Width, geometry->Height);
}

void TDokuForm::ResetLptOutputs() {
  if (!LptReady()) return;
  PortOut(Settings.LptBase + 2, 1);
  PortOut(Settings.LptBase, 0);
  PortOut(Settings.LptBase + 2, 0);
}

bool TDokuForm::LptReady() const { return Settings.LptBase != 0 && RecorderState.PortAccess; }

void TDokuForm::SampleLptStatus() {
  if (LptReady()) RecorderState.PrevLptStatus = PortIn(Settings.LptBase + 1);
}

void TDokuForm::OpenSerialRemote(int com_number) {
  SerialPort1.SetCommPort("COM" + std::to_string(com_number));
  try {
    SerialPort1.SetActive(true);
    SerialPort1.SetDTRState(false);
    SerialPort1.SetRTSState(true);
  } catch (const Exception&) {
    // Reported below: the recorder runs on without serial control.
  }
  if (!SerialPort1.Active()) {
    ShowMessageBox("Error opening " + SerialPort1.CommPort(), "Pelmorax");
    return;
  }
  RecorderState.PrevDSR = SerialPort1.DSRState();
  RecorderState.PrevCTS = SerialPort1.CTSState();
}

void TDokuForm::UpdateRetentionWarning() {
  pnlWarning->setVisible(Settings.RecorderOptions.CompressedDays == 1);
}

void TDokuForm::FormCloseQuery() {
  QApplication::beep();
  StatusTimer->SetEnabled(false);
  // A start that a tick or a command asked for during a wait must not follow
  // the last stop.
  lifecycle_.Shutdown();
  StopRecording();
  const QRect client = geometry();
  WritePreferences({client.width(), client.height(), client.top(), client.left()});
}

void TDokuForm::FormClose() {
  ResetLptOutputs();
  // Whatever kind plays: an MP3 left running would play on behind a closed window.
  Playback.StopStreams();
  StopFormTimers();
}

// The waits of the shutdown deliver events; no timer may reach forms that are
// gone by then (the splash is destroyed before the main window).
void TDokuForm::StopFormTimers() {
  LogoTimer.stop();
  tmrDelayStop.stop();
  PlayTimer.stop();
}

void TDokuForm::OptionsAccepted() {
  ApplyDeviceChoice();
  if (Settings.RecorderOptions.SaveMode == 6) {
    StartMonitor();
  } else {
    CloseMonitor();
  }
  UpdateRetentionWarning();
}

void TDokuForm::ParaBitBtnClick() {
  if (TParaForm* options = para_form_.Get()) options->ShowAtFirstPage();
}

void TDokuForm::SpeedButton1Click() {
  if (TParaForm* options = para_form_.Get()) options->ShowAtLastPage();
  ErrorPanel->hide();
}

void TDokuForm::OeffnenBitBtnClick() {
  if (TAufnahmeForm* recordings = aufnahme_form_.Get()) recordings->Execute();
}

void TDokuForm::CloseBitBtnClick() {
  TfrmExit* exit_dialog = exit_form_.Get();
  if (exit_dialog && ExecPlaced(*exit_dialog) == QDialog::Accepted) close();
}

void TDokuForm::LogoTimerTimer() {
  // Headless nobody would see it.
  if (TLogoForm* logo = headless_ ? nullptr : logo_form_.Get()) logo->ShowCentredOn(*this);
  LogoTimer.stop();
}

void TDokuForm::StatusTimerTimer() {
  // Ticks that fall into a start or stop become one tick after it.
  if (tick_waiting_) return;
  tick_waiting_ = lifecycle_.MustWait();
  lifecycle_.Exclusive([this] {
    tick_waiting_ = false;
    if (!StatusTimer->Enabled()) return;  // the window closed meanwhile
    tick_.StatusTimerTimer();
    lifecycle_.RetryFailedStart();
  });
}

void TDokuForm::tmrDelayStopTimer() { tick_.tmrDelayStopTimer(); }

void TDokuForm::StartRecording() { lifecycle_.StartRecording(); }

void TDokuForm::StopRecording() { lifecycle_.StopRecording(); }

void TDokuForm::PauseRecording() {
  lifecycle_.Exclusive([this] { lifecycle_.PauseRecording(); });
}

void TDokuForm::RestartRecording() {
  lifecycle_.Exclusive([this] { lifecycle_.RestartRecording(); });
}

void TDokuForm::StartMonitor() {
  lifecycle_.Exclusive([this] { RecordingChain.StartMonitor(); });
}

void TDokuForm::CloseMonitor() {
  lifecycle_.Exclusive([this] {
    try {
      RecordingChain.WaveIn.Stop();
      RecordingChain.WaveIn.Close();
    } catch (const EMMWaveInError&) {
      // A monitor the device will not stop is left as it is.
    }
  });
}

void TDokuForm::Close() {
  lifecycle_.Exclusive([this] { close(); });
}

void TDokuForm::ApplyDeviceChoice() {
  Playback.SetDevice(Settings.RecorderOptions.OutDevice);
  TMMWaveIn& recorder = RecordingChain.WaveRecorder;
  if (recorder.DeviceID() == Settings.RecorderOptions.InDevice) return;
  try {
    recorder.SetDeviceID(Settings.RecorderOptions.InDevice);
  } catch (const EMMWaveInError&) {
    ShowMessageBox("Recording Device ID not changed! Please restart", "Pelmorax");
    Settings.RecorderOptions.InDevice = static_cast<uint8_t>(recorder.DeviceID());
  }
}

void TDokuForm::AssignDevices(uint8_t in_device, uint8_t out_device) {
  in_device = UsableDevice(WaveDirection::kInput, in_device);
  Settings.RecorderOptions.InDevice = in_device;
  Settings.RecorderOptions.OutDevice = UsableDevice(WaveDirection::kOutput, out_device);
  RecordingChain.WaveRecorder.SetDeviceID(in_device);
  RecordingChain.WaveIn.SetDeviceID(in_device);
  Playback.SetDevice(Settings.RecorderOptions.OutDevice);
}

bool TDokuForm::CodecRegistryPresent() const { return FormatDlg.ACMPresent(); }

bool TDokuForm::ChooseRecordingFormat() {
  return ChooseRecordingQuality(Settings.RecorderOptions, FormatDlg,
                                !Settings.RecorderOptions.FormatText.empty());
}

void TDokuForm::Start() {
  if (!headless_) {
    show();
  } else if (!std::exchange(shown_, true)) {
    FormShow();
  }
}

void TDokuForm::setVisible(bool visible) {
  if (visible && !play_action_) BuildMenus();
  QMainWindow::setVisible(visible);
}

void TDokuForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (windowHandle()) windowHandle()->installEventFilter(this);  // once: a second install moves it
  UpdateDisplaysSeen();
  if (shown_ || event->spontaneous()) return;
  shown_ = true;
  FormShow();
}

void TDokuForm::hideEvent(QHideEvent* event) {
  QMainWindow::hideEvent(event);
  UpdateDisplaysSeen();
}

void TDokuForm::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange) UpdateDisplaysSeen();
}

bool TDokuForm::eventFilter(QObject* watched, QEvent* event) {
  // The window knows its new exposure before the event arrives.
  if (watched == windowHandle() && event->type() == QEvent::Expose) UpdateDisplaysSeen();
  return QMainWindow::eventFilter(watched, event);
}

void TDokuForm::closeEvent(QCloseEvent* event) {
  FormCloseQuery();
  FormClose();
  event->accept();
  if (headless_ && !isVisible()) QApplication::quit();
}

}  // namespace pmx
