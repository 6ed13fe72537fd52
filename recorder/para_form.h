#pragma once

#include <QDialog>
#include <array>
#include <cstdint>

#include "audio/core/files/acm.h"
#include "recorder/recorder_options.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QSpinBox;
class QTabBar;
class QTabWidget;
class QTreeView;
class QFileSystemModel;

namespace pmx {

class TDokuForm;
class TRadioGroup;

// The options dialog: four pages over the settings' RecorderOptions. "Ok" takes every control
// into the record, writes "options.ini" and applies what can change at once;
// "Cancel" leaves the record as it was. GUI thread only.
class TParaForm : public QDialog {
 public:
  // settings: the main window's, which "Ok" saves.
  explicit TParaForm(TRecorderSettings& settings, QWidget* parent = nullptr);
  ~TParaForm() override;

  // The main window whose serial port, devices and warning the dialog drives.
  void SetMainForm(TDokuForm* form) { main_form_ = form; }

  // Fills the controls and runs the dialog at the first page, or at the page it
  // showed last.
  int ShowAtFirstPage();
  int ShowAtLastPage();

  // Pages and their controls, named as the form declares them.
  QTabWidget* TabbedNotebook1 = nullptr;
  std::array<QCheckBox*, kScheduleHours> CheckBox{};
  QTabBar* tbctrlDOW = nullptr;
  QScrollBar* EmpfindlichkeitScrollBar = nullptr;
  QLabel* EmpfindlichkeitLabel = nullptr;
  QSpinBox* EmpfindlichkeitZeitEdit = nullptr;
  QCheckBox* chkbxLPTBenutzen = nullptr;
  TRadioGroup* ParaRadioGroup = nullptr;

  QSpinBox* DaysSpinEdit = nullptr;
  QSpinBox* DaysWaveDeleteSpinEdit = nullptr;
  QLineEdit* AufnahmePfadEdit = nullptr;
  QComboBox* DriveComboBox1 = nullptr;
  QTreeView* DirectoryListBox1 = nullptr;
  QPushButton* SpeedButton1 = nullptr;
  QCheckBox* HideDelBtnChkBox = nullptr;
  // C: to H:, hidden.
  std::array<QCheckBox*, kDriveFlags> DriveCheckBox{};
  QSpinBox* PlatzSpinEdit = nullptr;

  QComboBox* cbobxInDeviceID = nullptr;
  QComboBox* cbobxOutDeviceID = nullptr;
  QLabel* InDevCountlbl = nullptr;
  QLabel* OutDevCountlbl = nullptr;
  QCheckBox* ChkBxGap = nullptr;
  TRadioGroup* rdrgrpIOAddress = nullptr;
  QSpinBox* spndtEncoderDelay = nullptr;
  QSpinBox* spndtStopDelay = nullptr;
  QCheckBox* chkbxComP6 = nullptr;
  QCheckBox* chkbxComP8 = nullptr;

  QRadioButton* PCMRdBtn = nullptr;
  TRadioGroup* SampleRateRdGrp = nullptr;
  TRadioGroup* ChannelsRdGrp = nullptr;
  QLabel* FileSizeLbl = nullptr;
  QRadioButton* CompressionRdBtn = nullptr;
  QLineEdit* AusgabeFormatEdit = nullptr;
  QPushButton* SpeedButton2 = nullptr;
  QRadioButton* MPEGRdBtn = nullptr;
  TRadioGroup* BitRateRdGrp = nullptr;
  QLabel* MPEGFileSizeLbl = nullptr;
  QRadioButton* rdBtnOGG = nullptr;
  QComboBox* cmbBxQuality = nullptr;
  QLabel* lblOGGFileSize = nullptr;

  // Output formats only; its choice goes to RecordingFormat.
  TMMACM FormatDlg;

  QPushButton* SaveBitBtn = nullptr;
  QPushButton* CloseBitBtn1 = nullptr;

  // Handlers as the form binds them.
  void FormShow();
  void SaveBitBtnClick();
  void CloseBitBtn1Click();
  void tbctrlDOWChanging();
  void tbctrlDOWChange();
  void EmpfindlichkeitScrollBarChange();
  void SpeedButton1Click();
  void SpeedButton2Click();
  void DriveComboBox1Change();
  void SampleRateRdGrpClick();
  void BitRateRdGrpClick();
  void cmbBxQualityClick();
  void rdrgrpIOAddressClick();
  void EnableHourCheckBoxes();

  // The schedule the dialog edits; the record takes it on "Ok".
  const decltype(TRecorderOptions::Schedule)& EditedSchedule() const { return schedule_; }

 protected:
  // One run of the recording-quality dialog; true when a format was accepted (and
  // taken into RecordingFormat and the format field).
  virtual bool ChooseFormat();

 private:
  void BuildCommonPage();
  void BuildFilesPage();
  void BuildDevicePage();
  void BuildQualityPage();
  void BuildButtons();
  void FillFromRecord();
  void FillDeviceLists();
  void ShowRecordingFolder();
  TRecorderOptions RecordFromControls() const;
  // The folder tree's model, made on first use.
  QFileSystemModel& Folders();

  TRecorderSettings& settings_;
  TDokuForm* main_form_ = nullptr;
  QFileSystemModel* folders_ = nullptr;
  decltype(TRecorderOptions::Schedule) schedule_{};
  int shown_tab_ = 0;
};

// "<value> dB" of a threshold position: 10 x log10((position + 1) / 32767).
std::string ThresholdText(int position);
// Estimates "<MB> MB per Hour" of PCM, of MP3 at a bitrate index and of Ogg Vorbis
// at a quality index.
std::string PcmSizeText(int rate_index, int channels_index);
std::string Mp3SizeText(int bitrate_index);
std::string OggSizeText(int quality_index);

}  // namespace pmx
