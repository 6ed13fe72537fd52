// Construction of the main window's panels, menus and timers.
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>

#include "recorder/doku_form.h"
#include "recorder/form_layout.h"

namespace pmx {

namespace {

QLabel* MakeLabel(const QString& text, QWidget* parent, const char* name) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  return label;
}

QPushButton* MakeButton(const QString& text, QWidget* parent, const char* name) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  return button;
}

TMMPanel* MakePanel(QWidget* parent, const char* name, TColor color) {
  auto* panel = new TMMPanel(nullptr, parent);
  panel->setObjectName(name);
  panel->SetColor(color);
  return panel;
}

// A yellow notice panel.
void MakeYellow(QWidget* widget) {
  widget->setAutoFillBackground(true);
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, ToQColor(clYellow));
  widget->setPalette(palette);
}

TMMLevel* MakeLevel(QWidget* parent, const char* name, TMMChannel channel) {
  auto* level = new TMMLevel(nullptr, parent);
  level->setObjectName(name);
  level->SetChannel(channel);
  return level;
}


}  // namespace

void TDokuForm::BuildRecordingPanel(QWidget* client) {
  AufnahmePanel = Place(MakePanel(client, "AufnahmePanel", clTeal), 0, 0, 640, 178);
  auto* group = Place(new QGroupBox("Recording", AufnahmePanel), 8, 6, 456, 164);
  RecordseitLabel = Place(MakeLabel("Recording stopped", group, "RecordseitLabel"), 12, 20, 430, 16);
  RecordDauerLabel = Place(MakeLabel("Recording length", group, "RecordDauerLabel"), 12, 38, 430, 16);
  Label1 = Place(MakeLabel("Last peak: 0", group, "Label1"), 12, 58, 170, 16);
  Label2 = Place(MakeLabel("Input signal below threshold: 0 sec.", group, "Label2"), 190, 58, 250, 16);
  MMLevel2 = Place(MakeLevel(group, "MMLevel2", TMMChannel::chLeft), 12, 84, 432, 16);
  MMLevel1 = Place(MakeLevel(group, "MMLevel1", TMMChannel::chRight), 12, 104, 432, 16);
  MMLevelScale1 = Place(new TMMLevelScale(nullptr, group), 12, 124, 432, 12);
  MMLevelScale1->setObjectName("MMLevelScale1");
  PnlRecordStartStop = Place(MakePanel(AufnahmePanel, "PnlRecordStartStop", clSilver), 472, 12,
                             160, 158);
  SpdBtnREcord = Place(MakeButton("Record", PnlRecordStartStop, "SpdBtnREcord"), 10, 16, 140, 56);
  SpdBtnStopREcord = Place(MakeButton("Stop", PnlRecordStartStop, "SpdBtnStopREcord"), 10, 86,
                           140, 56);
  connect(SpdBtnREcord, &QPushButton::clicked, this, [this] { SpdBtnREcordClick(); });
  connect(SpdBtnStopREcord, &QPushButton::clicked, this, [this] { SpdBtnStopREcordClick(); });
}

void TDokuForm::BuildPlaybackPanel(QWidget* client) {
  WiedergabePanel = Place(MakePanel(client, "WiedergabePanel", clSilver), 0, 178, 640, 138);
  auto* playback = Place(new QGroupBox("Playback", WiedergabePanel), 8, 6, 250, 124);
  PositionLabel = Place(MakeLabel("Position", playback, "PositionLabel"), 12, 24, 226, 16);
  DatumLabel = Place(MakeLabel("Date", playback, "DatumLabel"), 12, 50, 226, 16);
  PlayGauge = Place(new QProgressBar(playback), 12, 84, 226, 20);
  PlayGauge->setObjectName("PlayGauge");
  PlayGauge->setValue(0);
  auto* control = Place(new QGroupBox("Position Control", WiedergabePanel), 266, 6, 262, 124);
  Slider = Place(new TMMSlider(nullptr, control), 12, 20, 238, 40);
  Slider->setObjectName("Slider");
  Slider->SetRange(0, 1000);
  Slider->SetHandCursor(true);
  Slider->OnTrack = [this](TObject*) { SliderTrack(); };
  Slider->OnTrackEnd = [this](TObject*) { SliderTrackEnd(); };
  SpdBtnPlay = Place(MakeButton("Play", control, "SpdBtnPlay"), 12, 70, 112, 40);
  SpdBtnPause = Place(MakeButton("Pause", control, "SpdBtnPause"), 138, 70, 112, 40);
  connect(SpdBtnPlay, &QPushButton::clicked, this, [this] { SpdBtnPlayClick(); });
  connect(SpdBtnPause, &QPushButton::clicked, this, [this] { SpdBtnPauseClick(); });
  OeffnenBitBtn = Place(MakeButton("Select", WiedergabePanel, "OeffnenBitBtn"), 536, 44, 96, 50);
  connect(OeffnenBitBtn, &QPushButton::clicked, this, [this] { OeffnenBitBtnClick(); });
  BuildHiddenSeekButtons(WiedergabePanel);
}

void TDokuForm::BuildHiddenSeekButtons(QWidget* panel) {
  int left = 8;
  for (const char* caption : {"-1h", "+1h", "-1m", "+1m", "-6s", "+6s"}) {
    QPushButton* button = Place(new QPushButton(caption, panel), left, 100, 40, 24);
    button->hide();
    left += 42;
  }
}

void TDokuForm::BuildParaPanel(QWidget* client) {
  ParaPanel = Place(MakePanel(client, "ParaPanel", clSilver), 0, 316, 640, 92);
  ErrorPanel = Place(new QFrame(ParaPanel), 8, 8, 360, 76);
  ErrorPanel->setObjectName("ErrorPanel");
  MakeYellow(ErrorPanel);
  auto* error_text = Place(
      new QLabel("Recording could not be started. Maybe there are no older files to delete or "
                 "your directory is invalid.",
                 ErrorPanel),
      8, 4, 344, 40);
  error_text->setWordWrap(true);
  SpeedButton1 = Place(MakeButton("Check", ErrorPanel, "SpeedButton1"), 8, 46, 80, 24);
  connect(SpeedButton1, &QPushButton::clicked, this, [this] { SpeedButton1Click(); });
  ErrorPanel->hide();
  pnlWarning = Place(
      MakeLabel("The \"Delete files that are older than\"-option is set to 1 day", ParaPanel,
                "pnlWarning"),
      8, 8, 360, 28);
  pnlWarning->setAlignment(Qt::AlignCenter);
  MakeYellow(pnlWarning);
  pnlWarning->hide();
  AlarmPanel = Place(MakeLabel("No signal", ParaPanel, "AlarmPanel"), 376, 8, 120, 76);
  AlarmPanel->setAlignment(Qt::AlignCenter);
  MakeYellow(AlarmPanel);
  AlarmPanel->hide();
  ParaBitBtn = Place(MakeButton("Options", ParaPanel, "ParaBitBtn"), 504, 8, 128, 36);
  CloseBitBtn = Place(MakeButton("Exit", ParaPanel, "CloseBitBtn"), 504, 48, 128, 36);
  connect(ParaBitBtn, &QPushButton::clicked, this, [this] { ParaBitBtnClick(); });
  connect(CloseBitBtn, &QPushButton::clicked, this, [this] { CloseBitBtnClick(); });
}

void TDokuForm::BuildMenus() {
  QMenu* playback = menuBar()->addMenu("Playback");
  for (const auto& [caption, key] : {std::pair{"Select File", ""}, {"Start", "F9"},
                                     {"Stop", "F10"}}) {
    QAction* action = playback->addAction(caption);
    action->setShortcut(QKeySequence(key));
    action->setEnabled(false);
  }
  QAction* select_file = playback->actions().front();
  select_file->setEnabled(true);
  connect(select_file, &QAction::triggered, this, [this] { OeffnenBitBtnClick(); });
  play_action_ = playback->actions().at(1);
  pause_action_ = playback->actions().at(2);
  connect(play_action_, &QAction::triggered, this, [this] { SpdBtnPlayClick(); });
  connect(pause_action_, &QAction::triggered, this, [this] { SpdBtnPauseClick(); });
  QMenu* record = menuBar()->addMenu("Record");
  QAction* start = record->addAction("Start");
  start->setShortcut(QKeySequence("F11"));
  connect(start, &QAction::triggered, this, [this] { SpdBtnREcordClick(); });
  QAction* stop = record->addAction("Stop");
  stop->setShortcut(QKeySequence("F12"));
  connect(stop, &QAction::triggered, this, [this] { SpdBtnStopREcordClick(); });
  QAction* options = menuBar()->addAction("Options");
  connect(options, &QAction::triggered, this, [this] { ParaBitBtnClick(); });
  QMenu* control = menuBar()->addMenu("Playback Control");
  for (const char* caption : {"-1h", "+1h", "-1m", "+1m", "-6s", "+6s"}) {
    control->addAction(caption)->setEnabled(false);
  }
  control->menuAction()->setVisible(false);
}

void TDokuForm::BuildTimers() {
  StatusTimer = std::make_unique<TMMHiTimer>();
  StatusTimer->SetInterval(500);
  StatusTimer->SetCallBackMode(TMMCBMode::cmThread);
  StatusTimer->SetSynchronize(true);
  StatusTimer->SetOnTimer([this](TObject*) { StatusTimerTimer(); });
  PlayTimer.setInterval(200);
  connect(&PlayTimer, &QTimer::timeout, this, [this] { PlayTimerTimer(); });
  LogoTimer.setInterval(100);
  connect(&LogoTimer, &QTimer::timeout, this, [this] { LogoTimerTimer(); });
  tmrDelayStop.setInterval(1000);
  connect(&tmrDelayStop, &QTimer::timeout, this, [this] { tmrDelayStopTimer(); });
}


}  // namespace pmx
