// Construction of the options dialog's four pages.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStorageInfo>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeView>

#include "recorder/form_layout.h"
#include "recorder/para_form.h"
#include "recorder/radio_group.h"

namespace pmx {

namespace {

QLabel* Text(const QString& text, QWidget* parent, int left, int top, int width) {
  return Place(new QLabel(text, parent), left, top, width, 18);
}

QSpinBox* Spin(QWidget* parent, const char* name, int min, int max, int value) {
  auto* spin = Named(new QSpinBox(parent), name);
  spin->setRange(min, max);
  spin->setValue(value);
  return spin;
}

// A row of a caption, a spin edit and its unit, at top.
QSpinBox* SpinRow(QWidget* page, const QString& caption, const char* name, int min, int max,
                  int spin_left, int top, const QString& unit) {
  Text(caption, page, 8, top + 2, spin_left - 12);
  QSpinBox* spin = Place(Spin(page, name, min, max, min == 0 ? 0 : 1), spin_left, top, 62, 22);
  Text(unit, page, spin_left + 68, top + 2, 300);
  return spin;
}

QWidget* AddPage(QTabWidget* notebook, const QString& caption) {
  auto* page = new QWidget(notebook);
  notebook->addTab(page, caption);
  return page;
}

}  // namespace

void TParaForm::BuildCommonPage() {
  QWidget* page = AddPage(TabbedNotebook1, "Common");
  auto* recordings = Place(new QGroupBox("Recordings", page), 6, 4, 634, 138);
  tbctrlDOW = Place(Named(new QTabBar(recordings), "tbctrlDOW"), 8, 18, 618, 24);
  for (const char* day : {"Every Day", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday",
                          "Saturday", "Sunday"}) {
    tbctrlDOW->addTab(day);
  }
  tbctrlDOW->setExpanding(false);
  for (int hour = 0; hour < kScheduleHours; ++hour) {
    const QString caption =
        QString("%1:00-%2:00").arg(hour, 2, 10, QChar('0')).arg(hour + 1, 2, 10, QChar('0'));
    CheckBox[hour] = Place(new QCheckBox(caption, recordings), 10 + (hour / 6) * 154,
                           46 + (hour % 6) * 15, 124, 16);
    CheckBox[hour]->setObjectName(QString("CheckBox%1").arg(hour));
  }
  auto* silence = Place(new QGroupBox("Silence Detection/Vox Settings", page), 6, 146, 280, 150);
  Text("Threshold", silence, 8, 20, 80);
  EmpfindlichkeitScrollBar =
      Place(Named(new QScrollBar(Qt::Horizontal, silence), "EmpfindlichkeitScrollBar"), 8, 40,
            170, 16);
  EmpfindlichkeitScrollBar->setRange(1, 32768);
  EmpfindlichkeitScrollBar->setSingleStep(100);
  EmpfindlichkeitLabel = Place(Named(new QLabel(silence), "EmpfindlichkeitLabel"), 186, 40, 66, 16);
  Text("Delay", silence, 8, 66, 50);
  EmpfindlichkeitZeitEdit = Place(Spin(silence, "EmpfindlichkeitZeitEdit", 1, 100, 30), 60, 64,
                                  60, 22);
  Text("seconds", silence, 126, 66, 70);
  chkbxLPTBenutzen = Place(Named(new QCheckBox("Enable silence detector interface", silence),
                                 "chkbxLPTBenutzen"),
                           8, 98, 244, 18);
  ParaRadioGroup = Place(
      Named(new TRadioGroup("Save Recorded File",
                            {"every hour", "every two hours", "every four hours",
                             "controlled by pin 10 and pin 11 (LPTx)",
                             "controlled by pin 12 and pin 13 (LPTx)",
                             "controlled only by RECORD and STOP",
                             "controlled by voice sense (VOX)",
                             "controlled by pin 6 and pin 8 (COMx)"},
                            1, page),
            "ParaRadioGroup"),
      292, 146, 348, 150);
}

void TParaForm::BuildFilesPage() {
  QWidget* page = AddPage(TabbedNotebook1, "Files");
  DaysSpinEdit = SpinRow(page, "Delete compressed files that are older than", "DaysSpinEdit", 1,
                         2000, 272, 10, "days");
  DaysWaveDeleteSpinEdit = SpinRow(page, "Delete wav-files that are older than",
                                   "DaysWaveDeleteSpinEdit", 0, 2000, 272, 38, "days");
  DaysWaveDeleteSpinEdit->setValue(1);
  auto* path = Place(new QGroupBox("Path for audio files", page), 6, 68, 634, 200);
  AufnahmePfadEdit = Place(Named(new QLineEdit(path), "AufnahmePfadEdit"), 8, 20, 618, 22);
  AufnahmePfadEdit->setReadOnly(true);
  DriveComboBox1 = Place(Named(new QComboBox(path), "DriveComboBox1"), 8, 48, 200, 22);
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    if (volume.isValid() && volume.isReady()) DriveComboBox1->addItem(volume.rootPath());
  }
  DirectoryListBox1 = Place(Named(new QTreeView(path), "DirectoryListBox1"), 8, 76, 570, 116);
  DirectoryListBox1->setHeaderHidden(true);
  SpeedButton1 = Place(Named(new QPushButton("<<", path), "SpeedButton1"), 584, 76, 42, 26);
  HideDelBtnChkBox = Place(Named(new QCheckBox("Hide the DELETE button", page), "HideDelBtnChkBox"),
                           8, 276, 260, 18);
  static constexpr const char* kDrives[] = {"C:", "D:", "E:", "F:", "G:", "H:"};
  static constexpr const char* kDriveNames[] = {"CLWCheckBox", "DLWCheckBox", "ELWCheckBox",
                                                "FLWCheckBox", "GLWCheckBox", "HLWCheckBox"};
  for (int i = 0; i < kDriveFlags; ++i) {
    DriveCheckBox[i] = Named(new QCheckBox(kDrives[i], page), kDriveNames[i]);
    DriveCheckBox[i]->setChecked(i == 0);
    DriveCheckBox[i]->hide();
  }
  PlatzSpinEdit = Spin(page, "PlatzSpinEdit", 1, 500, 50);
  PlatzSpinEdit->setSingleStep(10);
  PlatzSpinEdit->setSuffix(" MB");
  PlatzSpinEdit->hide();
}

void TParaForm::BuildDevicePage() {
  QWidget* page = AddPage(TabbedNotebook1, "Audio I/O Device");
  Text("Recording", page, 8, 10, 80);
  cbobxInDeviceID = Place(Named(new QComboBox(page), "cbobxInDeviceID"), 90, 8, 300, 22);
  InDevCountlbl = Place(Named(new QLabel(page), "InDevCountlbl"), 398, 10, 130, 18);
  Text("Playback", page, 8, 38, 80);
  cbobxOutDeviceID = Place(Named(new QComboBox(page), "cbobxOutDeviceID"), 90, 36, 300, 22);
  OutDevCountlbl = Place(Named(new QLabel(page), "OutDevCountlbl"), 398, 38, 130, 18);
  Text("Some changes will only take effect after restarting Pelmorax.", page, 8, 62, 420);
  ChkBxGap = Place(Named(new QCheckBox("Soft control", page), "ChkBxGap"), 8, 88, 120, 18);
  Text("(Gap of 10 seconds between recordings. Avoids freezing of older systems after ca. 2 days)",
       page, 8, 106, 628);
  rdrgrpIOAddress = Place(
      Named(new TRadioGroup("I/O Port Address for Remote ",
                            {"LPT1 (0x0378)", "LPT2 (0x02F8)", "LPT3 (0x03BC)", "COM1", "COM2",
                             "COM3", "COM4", "COM5", "COM6"},
                            3, page),
            "rdrgrpIOAddress"),
      6, 130, 634, 70);
  spndtEncoderDelay =
      SpinRow(page, "Encoder Delay:", "spndtEncoderDelay", 0, 10, 110, 208, "sec.");
  spndtStopDelay = SpinRow(page, "Stop Delay:", "spndtStopDelay", 0, 50, 110, 236,
                           "sec. (Only if every hour or COM remote is set)");
  auto* test = Place(new QGroupBox("COM Test", page), 6, 262, 300, 40);
  chkbxComP6 = Place(Named(new QCheckBox("Pin 6 (Start)", test), "chkbxComP6"), 8, 18, 130, 18);
  chkbxComP8 = Place(Named(new QCheckBox("Pin 8 (Stop)", test), "chkbxComP8"), 150, 18, 130, 18);
  chkbxComP6->setEnabled(false);
  chkbxComP8->setEnabled(false);
}

void TParaForm::BuildQualityPage() {
  QWidget* page = AddPage(TabbedNotebook1, "Audio Quality");
  PCMRdBtn = Place(Named(new QRadioButton("Only PCM-Quality for Recording", page), "PCMRdBtn"), 8,
                   6, 300, 18);
  PCMRdBtn->setChecked(true);
  SampleRateRdGrp = Place(Named(new TRadioGroup("Sampling Rate",
                                                {"8.000 Hz", "16.000 Hz", "32.000 Hz", "44.100 Hz"},
                                                2, page),
                                "SampleRateRdGrp"),
                          24, 26, 210, 56);
  ChannelsRdGrp = Place(
      Named(new TRadioGroup("Channels, Resolution",
                            {"Mono, 8 Bit", "Stereo, 8 Bit", "Mono, 16 Bit", "Stereo, 16 Bit"}, 2,
                            page),
            "ChannelsRdGrp"),
      242, 26, 250, 56);
  FileSizeLbl = Place(Named(new QLabel("0 MB per Hour", page), "FileSizeLbl"), 500, 46, 140, 18);
  CompressionRdBtn = Place(
      Named(new QRadioButton("Use Multimedia Codecs for Recording", page), "CompressionRdBtn"), 8,
      88, 300, 18);
  AusgabeFormatEdit = Place(Named(new QLineEdit(page), "AusgabeFormatEdit"), 24, 108, 570, 22);
  AusgabeFormatEdit->setReadOnly(true);
  SpeedButton2 = Place(Named(new QPushButton("...", page), "SpeedButton2"), 600, 108, 30, 22);
  MPEGRdBtn = Place(
      Named(new QRadioButton("MPEG-3-Encoding after Recording (mosquill)", page), "MPEGRdBtn"), 8,
      138, 400, 18);
  BitRateRdGrp = Place(Named(new TRadioGroup("Bitrate",
                                             {"8 kbps", "16 kbps", "24 kbps", "32 kbps", "40 kbps",
                                              "48 kbps", "56 kbps", "64 kbps", "96 kbps",
                                              "128 kbps", "192 kbps", "256 kbps"},
                                             6, page),
                             "BitRateRdGrp"),
                       24, 158, 468, 56);
  MPEGFileSizeLbl = Place(Named(new QLabel(page), "MPEGFileSizeLbl"), 500, 178, 140, 18);
  rdBtnOGG = Place(Named(new QRadioButton("Vorbis-OGG-Encoding after Recording    Quality:", page),
                         "rdBtnOGG"),
                   8, 226, 300, 18);
  cmbBxQuality = Place(Named(new QComboBox(page), "cmbBxQuality"), 310, 224, 70, 22);
  cmbBxQuality->addItems({"-0.1", "0", "0.1", "0.2", "0.3", "0.4", "0.5", "0.6", "0.7", "0.8",
                          "0.9", "1"});
  cmbBxQuality->setCurrentIndex(3);
  lblOGGFileSize = Place(Named(new QLabel("approx. 0 MB per Hour", page), "lblOGGFileSize"), 390,
                         226, 220, 18);
}

void TParaForm::BuildButtons() {
  SaveBitBtn = Place(Named(new QPushButton("Ok", this), "SaveBitBtn"), 464, 364, 90, 28);
  CloseBitBtn1 = Place(Named(new QPushButton("Cancel", this), "CloseBitBtn1"), 560, 364, 90, 28);
}

}  // namespace pmx
