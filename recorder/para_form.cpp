#include "recorder/para_form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeView>
#include <filesystem>

#include "platform/alsa/wave_driver.h"
#include "platform/ui_hook.h"
#include "recorder/doku_form.h"
#include "recorder/form_layout.h"
#include "recorder/level_text.h"
#include "recorder/radio_group.h"
#include "recorder/recording_format.h"

namespace pmx {

namespace {

void Tell(const std::string& text) { ShowMessageBox(text, "Pelmorax"); }

QStringList DeviceNames(WaveDirection direction) {
  QStringList names;
  WaveDriver& driver = WaveDriver::Instance();
  const uint32_t count = driver.NumDevs(direction);
  for (uint32_t id = 0; id < count; ++id) {
    WaveDeviceCaps caps;
    driver.GetCaps(direction, static_cast<int>(id), caps);
    names << QString::fromStdString(caps.name);
  }
  return names;
}

void FillDeviceList(QComboBox* list, QLabel* count, WaveDirection direction, int selected) {
  list->clear();
  list->addItems(DeviceNames(direction));
  // A device that is gone shows as the first entry, ALSA's "default".
  list->setCurrentIndex(selected < list->count() ? selected : 0);
  count->setText(QString("%1 Device(s)").arg(list->count()));
}

uint8_t DeviceChoice(const QComboBox* list) {
  return list->currentIndex() < 0 ? 0 : static_cast<uint8_t>(list->currentIndex());
}

}  // namespace

std::string ThresholdText(int position) {
  return DecibelText(position);
}

std::string PcmSizeText(int rate_index, int channels_index) {
  static constexpr int kBase[] = {8, 16, 32, 44};
  int base = rate_index >= 0 && rate_index < 4 ? kBase[rate_index] : 0;
  if (channels_index == 1 || channels_index == 2) base *= 2;
  if (channels_index == 3) base *= 4;
  return FixedOneDecimal(base * 3.6) + " MB per Hour";
}

std::string Mp3SizeText(int bitrate_index) {
  static constexpr int kKbps[] = {8, 16, 24, 32, 40, 48, 56, 64, 96, 128, 192, 256};
  const int kbps = bitrate_index >= 0 && bitrate_index < 12 ? kKbps[bitrate_index] : 0;
  return FixedOneDecimal(kbps / 8.0 * 3.6) + " MB per Hour";
}

std::string OggSizeText(int q) {
  double value = 0;
  if (q <= 5) {
    value = (q + 3) * 16 / 2.28;
  } else if (q <= 9) {
    value = (q - 1) * 32 / 2.28;
  } else {
    value = (q - 8) * 160 / 2.28;
  }
  return " approx. " + FixedOneDecimal(value) + " MB per Hour";
}

TParaForm::TParaForm(TRecorderSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
  setObjectName("ParaForm");
  setWindowTitle("Options");
  setFixedSize(660, 400);
  FormatDlg.SetEnumFormats(efOutput);
  TabbedNotebook1 = new QTabWidget(this);
  TabbedNotebook1->setObjectName("TabbedNotebook1");
  TabbedNotebook1->setGeometry(6, 6, 648, 350);
  BuildCommonPage();
  BuildFilesPage();
  BuildDevicePage();
  BuildQualityPage();
  BuildButtons();
  connect(tbctrlDOW, &QTabBar::currentChanged, this, [this](int) {
    tbctrlDOWChanging();
    tbctrlDOWChange();
  });
  connect(EmpfindlichkeitScrollBar, &QScrollBar::valueChanged, this,
          [this] { EmpfindlichkeitScrollBarChange(); });
  connect(SpeedButton1, &QPushButton::clicked, this, [this] { SpeedButton1Click(); });
  connect(SpeedButton2, &QPushButton::clicked, this, [this] { SpeedButton2Click(); });
  connect(DriveComboBox1, &QComboBox::activated, this, [this] { DriveComboBox1Change(); });
  SampleRateRdGrp->OnClick = [this] { SampleRateRdGrpClick(); };
  ChannelsRdGrp->OnClick = [this] { SampleRateRdGrpClick(); };
  BitRateRdGrp->OnClick = [this] { BitRateRdGrpClick(); };
  rdrgrpIOAddress->OnClick = [this] { rdrgrpIOAddressClick(); };
  connect(cmbBxQuality, &QComboBox::activated, this, [this] { cmbBxQualityClick(); });
  connect(SaveBitBtn, &QPushButton::clicked, this, [this] { SaveBitBtnClick(); });
  connect(CloseBitBtn1, &QPushButton::clicked, this, [this] { CloseBitBtn1Click(); });
}

TParaForm::~TParaForm() = default;

int TParaForm::ShowAtFirstPage() {
  TabbedNotebook1->setCurrentIndex(0);
  return ShowAtLastPage();
}

int TParaForm::ShowAtLastPage() {
  FormShow();
  return ExecPlaced(*this);
}

void TParaForm::FormShow() {
  const QSignalBlocker blocker(tbctrlDOW);
  tbctrlDOW->setCurrentIndex(0);
  shown_tab_ = 0;
  EnableHourCheckBoxes();
  FillFromRecord();
  FillDeviceLists();
  const TRecorderOptions& o = settings_.RecorderOptions;
  HideDelBtnChkBox->setChecked(o.HideDelete);
  ChkBxGap->setChecked(o.SoftGap);
  chkbxLPTBenutzen->setChecked(o.AlarmOutputs);
  rdrgrpIOAddress->SetItemIndex(o.PortIndex);
  spndtEncoderDelay->setValue(o.EncoderDelay);
  DaysWaveDeleteSpinEdit->setValue(o.WavDays);
  cmbBxQuality->setCurrentIndex(o.QualityIndex < cmbBxQuality->count() ? o.QualityIndex : -1);
  spndtStopDelay->setValue(o.StopDelay);
}

void TParaForm::FillFromRecord() {
  const TRecorderOptions& o = settings_.RecorderOptions;
  schedule_ = o.Schedule;
  ParaRadioGroup->SetItemIndex(o.SaveMode);
  for (int hour = 0; hour < kScheduleHours; ++hour) CheckBox[hour]->setChecked(schedule_[0][hour]);
  for (int i = 0; i < kDriveFlags; ++i) DriveCheckBox[i]->setChecked(o.DriveFlags[i]);
  AufnahmePfadEdit->setText(QString::fromStdString(o.RecordingFolder));
  PlatzSpinEdit->setValue(o.FreeSpaceMB);
  AusgabeFormatEdit->setText(QString::fromStdString(o.FormatText));
  EmpfindlichkeitScrollBar->setValue(o.Threshold);
  EmpfindlichkeitZeitEdit->setValue(o.SilenceDelay);
  EmpfindlichkeitScrollBarChange();
  QRadioButton* formats[] = {PCMRdBtn, CompressionRdBtn, MPEGRdBtn, rdBtnOGG};
  if (o.RecordFormat < 4) formats[o.RecordFormat]->setChecked(true);
  SampleRateRdGrp->SetItemIndex(o.SampleRateIndex);
  ChannelsRdGrp->SetItemIndex(o.ChannelsIndex);
  DaysSpinEdit->setValue(o.CompressedDays);
  BitRateRdGrp->SetItemIndex(o.BitRateIndex);
  SampleRateRdGrpClick();
  cmbBxQualityClick();
  ShowRecordingFolder();
}

void TParaForm::ShowRecordingFolder() {
  const std::string& path = settings_.RecorderOptions.RecordingFolder;
  // The drive is the mount point that holds the folder: the longest that prefixes it.
  int drive = -1;
  for (int i = 0; i < DriveComboBox1->count(); ++i) {
    const std::string root = DriveComboBox1->itemText(i).toStdString();
    if (path.rfind(root, 0) == 0 &&
        (drive < 0 || root.size() > DriveComboBox1->itemText(drive).toStdString().size())) {
      drive = i;
    }
  }
  if (path.size() > 1 && drive >= 0) {
    DriveComboBox1->setCurrentIndex(drive);
    DriveComboBox1Change();
  }
  std::error_code error;
  if (!std::filesystem::is_directory(path, error)) {
    Tell("Path for audio files does not exist: " + path);
    return;
  }
  const QModelIndex index = Folders().index(QString::fromStdString(path));
  DirectoryListBox1->setCurrentIndex(index);
  DirectoryListBox1->scrollTo(index);
}

void TParaForm::FillDeviceLists() {
  FillDeviceList(cbobxInDeviceID, InDevCountlbl, WaveDirection::kInput,
                 settings_.RecorderOptions.InDevice);
  FillDeviceList(cbobxOutDeviceID, OutDevCountlbl, WaveDirection::kOutput,
                 settings_.RecorderOptions.OutDevice);
}

void TParaForm::EnableHourCheckBoxes() {
  for (QCheckBox* box : CheckBox) box->setEnabled(true);
}

void TParaForm::tbctrlDOWChanging() {
  for (int hour = 0; hour < kScheduleHours; ++hour) {
    schedule_[shown_tab_][hour] = CheckBox[hour]->isChecked();
  }
  shown_tab_ = tbctrlDOW->currentIndex();
}

void TParaForm::tbctrlDOWChange() {
  EnableHourCheckBoxes();
  const int row = tbctrlDOW->currentIndex();
  for (int hour = 0; hour < kScheduleHours; ++hour) {
    const bool every_day = schedule_[0][hour];
    CheckBox[hour]->setChecked(schedule_[row][hour] || every_day);
    if (row > 0 && every_day) CheckBox[hour]->setEnabled(false);
  }
}

void TParaForm::EmpfindlichkeitScrollBarChange() {
  EmpfindlichkeitLabel->setText(
      QString::fromStdString(ThresholdText(EmpfindlichkeitScrollBar->value())));
}

void TParaForm::SpeedButton1Click() {
  const QModelIndex index = DirectoryListBox1->currentIndex();
  if (index.isValid()) AufnahmePfadEdit->setText(Folders().filePath(index));
}

void TParaForm::SpeedButton2Click() { ChooseFormat(); }

bool TParaForm::ChooseFormat() {
  if (!ChooseRecordingQuality(settings_.RecorderOptions, FormatDlg, true)) return false;
  AusgabeFormatEdit->setText(QString::fromStdString(RecordingQualityText(FormatDlg)));
  return true;
}

void TParaForm::DriveComboBox1Change() {
  const QString root = DriveComboBox1->currentText();
  Folders().setRootPath(root);
  DirectoryListBox1->setRootIndex(Folders().index(root));
}

QFileSystemModel& TParaForm::Folders() {
  if (folders_) return *folders_;
  // Made when the dialog first needs it: a recorder nobody configures keeps no
  // folder watcher and gatherer thread.
  folders_ = new QFileSystemModel(this);
  folders_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
  DirectoryListBox1->setModel(folders_);
  for (int column = 1; column < folders_->columnCount(); ++column) DirectoryListBox1->hideColumn(column);
  return *folders_;
}

void TParaForm::SampleRateRdGrpClick() {
  FileSizeLbl->setText(QString::fromStdString(
      PcmSizeText(SampleRateRdGrp->ItemIndex(), ChannelsRdGrp->ItemIndex())));
}

void TParaForm::BitRateRdGrpClick() {
  const int index = BitRateRdGrp->ItemIndex();
  if (index < 0) return;
  const int channels = ChannelsRdGrp->ItemIndex();
  if (index > 3) {
    SampleRateRdGrp->SetItemIndex(index <= 6 ? 2 : 3);
    if (channels == 0 || channels == 1) ChannelsRdGrp->SetItemIndex(channels + 2);
  } else {
    SampleRateRdGrp->SetItemIndex(1);
    if (channels == 2 || channels == 3) ChannelsRdGrp->SetItemIndex(channels - 2);
  }
  SampleRateRdGrpClick();
  MPEGFileSizeLbl->setText(QString::fromStdString(Mp3SizeText(index)));
}

void TParaForm::cmbBxQualityClick() {
  const int q = cmbBxQuality->currentIndex();
  if (q < 0) return;
  lblOGGFileSize->setText(QString::fromStdString(OggSizeText(q)));
}

void TParaForm::rdrgrpIOAddressClick() {
  if (!main_form_) return;
  TSerialPort& port = main_form_->SerialPort1;
  port.SetActive(false);
  const int index = rdrgrpIOAddress->ItemIndex();
  if (settings_.RecorderOptions.SaveMode != 7 || index < 3 || index > 8) return;
  main_form_->OpenSerialRemote(index - 2);
}

TRecorderOptions TParaForm::RecordFromControls() const {
  TRecorderOptions o = settings_.RecorderOptions;
  o.SaveMode = ParaRadioGroup->ItemIndex();
  o.Schedule = schedule_;
  for (int hour = 0; hour < kScheduleHours; ++hour) {
    o.Schedule[tbctrlDOW->currentIndex()][hour] = CheckBox[hour]->isChecked();
  }
  o.FormatText = AusgabeFormatEdit->text().toStdString();
  o.Threshold = static_cast<uint16_t>(EmpfindlichkeitScrollBar->value());
  o.SilenceDelay = static_cast<uint16_t>(EmpfindlichkeitZeitEdit->value());
  const QRadioButton* formats[] = {PCMRdBtn, CompressionRdBtn, MPEGRdBtn, rdBtnOGG};
  for (uint16_t i = 0; i < 4; ++i) {
    if (formats[i]->isChecked()) o.RecordFormat = i;
  }
  o.SampleRateIndex = static_cast<uint16_t>(SampleRateRdGrp->ItemIndex());
  o.ChannelsIndex = static_cast<uint16_t>(ChannelsRdGrp->ItemIndex());
  o.CompressedDays = static_cast<uint16_t>(DaysSpinEdit->value());
  o.BitRateIndex = static_cast<uint16_t>(BitRateRdGrp->ItemIndex());
  o.InDevice = DeviceChoice(cbobxInDeviceID);
  o.OutDevice = DeviceChoice(cbobxOutDeviceID);
  o.HideDelete = HideDelBtnChkBox->isChecked();
  o.SoftGap = ChkBxGap->isChecked();
  o.AlarmOutputs = chkbxLPTBenutzen->isChecked();
  o.PortIndex = static_cast<uint16_t>(rdrgrpIOAddress->ItemIndex());
  o.EncoderDelay = static_cast<uint16_t>(spndtEncoderDelay->value());
  o.WavDays = static_cast<uint16_t>(DaysWaveDeleteSpinEdit->value());
  o.QualityIndex = static_cast<uint16_t>(cmbBxQuality->currentIndex());
  o.StopDelay = static_cast<uint16_t>(spndtStopDelay->value());
  return o;
}

void TParaForm::SaveBitBtnClick() {
  const std::string folder = AufnahmePfadEdit->text().toStdString();
  // The encoders' command lines carry blanks as "*": a "*" in the folder could not
  // be told from a blank.
  if (folder.find('*') != std::string::npos) {
    Tell("The path for audio files must not contain \"*\": " + folder);
    return;
  }
  TRecorderOptions& options = settings_.RecorderOptions;
  for (int i = 0; i < kDriveFlags; ++i) options.DriveFlags[i] = DriveCheckBox[i]->isChecked();
  options.RecordingFolder = folder;
  options.FreeSpaceMB = PlatzSpinEdit->value();
  for (bool flag : options.DriveFlags) {
    if (flag) EnsureRecordingDirectory(options);
  }
  if (!SaveOptions(settings_, RecordFromControls())) return;
  if (main_form_) main_form_->OptionsAccepted();
  accept();
}

void TParaForm::CloseBitBtn1Click() { reject(); }

}  // namespace pmx
