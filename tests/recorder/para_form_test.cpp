#include "recorder/para_form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTabBar>

#include "recorder/radio_group.h"
#include "tests/recorder/recorder_fixture.h"

namespace pmx::test {
namespace {

class OptionsDialogTest : public RecorderTest {
 protected:
  OptionsDialogTest() {
    std::filesystem::create_directory(Home("rec"));
    RecorderOptions.RecordingFolder = Home("rec").string();
    RecorderOptions.SilenceDelay = 30;
    RecorderOptions.CompressedDays = 7;
    RecorderOptions.QualityIndex = 3;
    RecorderOptions.Schedule[2][20] = true;
    form_.FormShow();
  }

  static std::string Text(const QLabel* label) { return label->text().toStdString(); }

  TParaForm form_{settings_};
};

TEST_F(OptionsDialogTest, EveryDayHourShowsCheckedAndLockedOnAWeekdayAndIsStoredThere) {
  form_.CheckBox[6]->setChecked(true);
  form_.tbctrlDOW->setCurrentIndex(1);  // Monday
  EXPECT_TRUE(form_.CheckBox[6]->isChecked());
  EXPECT_FALSE(form_.CheckBox[6]->isEnabled());
  EXPECT_TRUE(form_.CheckBox[7]->isEnabled());
  form_.tbctrlDOW->setCurrentIndex(2);  // Tuesday keeps its own hour
  EXPECT_TRUE(form_.CheckBox[20]->isChecked());
  EXPECT_TRUE(form_.CheckBox[20]->isEnabled());
  form_.tbctrlDOW->setCurrentIndex(0);
  EXPECT_TRUE(form_.CheckBox[7]->isEnabled());
  EXPECT_FALSE(form_.CheckBox[20]->isChecked());

  form_.SaveBitBtnClick();
  EXPECT_TRUE(RecorderOptions.Schedule[0][6]);
  EXPECT_TRUE(RecorderOptions.Schedule[1][6]);  // the merged state of Monday
  EXPECT_TRUE(RecorderOptions.Schedule[2][20]);
  EXPECT_FALSE(RecorderOptions.Schedule[0][20]);
}

TEST_F(OptionsDialogTest, ABitrateMovesRateAndResolutionAndTheEstimatesFollow) {
  form_.SampleRateRdGrp->Item(0)->click();
  form_.ChannelsRdGrp->Item(0)->click();
  EXPECT_EQ(Text(form_.FileSizeLbl), "28.8 MB per Hour");
  EXPECT_EQ(Text(form_.lblOGGFileSize), " approx. 42.1 MB per Hour");

  form_.BitRateRdGrp->Item(9)->click();  // 128 kbps
  EXPECT_EQ(form_.SampleRateRdGrp->ItemIndex(), 3);
  EXPECT_EQ(form_.ChannelsRdGrp->ItemIndex(), 2);
  EXPECT_EQ(Text(form_.MPEGFileSizeLbl), "57.6 MB per Hour");
  EXPECT_EQ(Text(form_.FileSizeLbl), "316.8 MB per Hour");

  form_.BitRateRdGrp->Item(5)->click();  // 48 kbps: 32000 Hz, resolution kept
  EXPECT_EQ(form_.SampleRateRdGrp->ItemIndex(), 2);
  EXPECT_EQ(form_.ChannelsRdGrp->ItemIndex(), 2);
  form_.ChannelsRdGrp->Item(3)->click();
  form_.BitRateRdGrp->Item(1)->click();  // 16 kbps: 16000 Hz, stereo 8 bit
  EXPECT_EQ(form_.SampleRateRdGrp->ItemIndex(), 1);
  EXPECT_EQ(form_.ChannelsRdGrp->ItemIndex(), 1);
}

TEST(OptionsEstimates, EveryQualityAndThresholdText) {
  EXPECT_EQ(OggSizeText(0), " approx. 21.1 MB per Hour");
  EXPECT_EQ(OggSizeText(6), " approx. 70.2 MB per Hour");
  EXPECT_EQ(OggSizeText(11), " approx. 210.5 MB per Hour");
  EXPECT_EQ(PcmSizeText(3, 3), "633.6 MB per Hour");
  EXPECT_EQ(Mp3SizeText(0), "3.6 MB per Hour");
  EXPECT_EQ(ThresholdText(32766), "0.0 dB");
  EXPECT_EQ(ThresholdText(0), "-45.2 dB");
}

TEST_F(OptionsDialogTest, CancelKeepsTheRecordAndTheFile) {
  const TRecorderOptions before = RecorderOptions;
  form_.CheckBox[3]->setChecked(true);
  form_.tbctrlDOW->setCurrentIndex(4);
  form_.CheckBox[9]->setChecked(true);
  form_.tbctrlDOW->setCurrentIndex(0);
  form_.ParaRadioGroup->Item(6)->click();
  form_.CloseBitBtn1Click();
  EXPECT_EQ(RecorderOptions, before);
  EXPECT_FALSE(std::filesystem::exists(Home("options.ini")));
}

TEST_F(OptionsDialogTest, OkWritesTheControlsAndReadsBackTheSame) {
  form_.ParaRadioGroup->Item(3)->click();
  form_.rdBtnOGG->setChecked(true);
  form_.cmbBxQuality->setCurrentIndex(11);
  form_.rdrgrpIOAddress->Item(1)->click();
  form_.SaveBitBtnClick();
  EXPECT_EQ(form_.result(), QDialog::Accepted);
  EXPECT_EQ(RecorderOptions.SaveMode, 3);
  EXPECT_EQ(RecorderOptions.RecordFormat, 3);
  EXPECT_EQ(RecorderOptions.QualityIndex, 11);
  EXPECT_EQ(LptBase, 0x278);
  const TRecorderOptions saved = RecorderOptions;
  RecorderOptions = {};
  LoadOptions(settings_);
  EXPECT_EQ(RecorderOptions.SaveMode, saved.SaveMode);
  EXPECT_EQ(RecorderOptions.Schedule, saved.Schedule);
  EXPECT_EQ(RecorderOptions.QualityIndex, 11);
  EXPECT_EQ(RecorderOptions.RecordingFolder, Home("rec").string());
}

TEST_F(OptionsDialogTest, AFolderWithAStarIsRefusedAndNothingIsWritten) {
  const TRecorderOptions before = RecorderOptions;
  form_.AufnahmePfadEdit->setText(QString::fromStdString(Home("a*b").string()));
  form_.SaveBitBtnClick();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_NE(messages_[0].find("must not contain \"*\""), std::string::npos);
  EXPECT_EQ(RecorderOptions, before);
  EXPECT_FALSE(std::filesystem::exists(Home("options.ini")));
  EXPECT_FALSE(std::filesystem::exists(Home("a*b")));
}

TEST_F(OptionsDialogTest, AMissingFolderIsReportedWhenShown) {
  RecorderOptions.RecordingFolder = Home("gone").string();
  form_.FormShow();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Path for audio files does not exist: " + Home("gone").string());
}

}  // namespace
}  // namespace pmx::test
