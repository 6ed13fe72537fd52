#include "recorder/recording_format.h"

#include <QLineEdit>

#include "audio/core/dsp/wave_format.h"
#include "platform/codecs/acm.h"
#include "platform/qt/qt_main_loop.h"
#include "recorder/doku_form.h"
#include "recorder/para_form.h"
#include "tests/recorder/recorder_fixture.h"

namespace pmx::test {
namespace {

// The chooser answers with scripted results (cancel once the script runs out)
// and records whether each run started from a given format, and which.
class RecordingQualityTest : public RecorderTest {
 protected:
  RecordingQualityTest() {
    SetFormatSeparatorSource([] { return TFormatSeparators{',', '.'}; });
    RecorderOptions.RecordingFormat = &stored_;
    acmSetFormatChooser([this](ACMFORMATCHOOSE& choose) {
      const bool from_format = (choose.fdwStyle & ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT) != 0;
      started_from_.push_back(from_format ? std::optional(*choose.pwfx) : std::nullopt);
      titles_.push_back(choose.pszTitle);
      const MMRESULT result = answers_.empty() ? ACMERR_CANCELED : answers_.front();
      if (!answers_.empty()) answers_.erase(answers_.begin());
      if (result == MMSYSERR_NOERROR) *choose.pwfx = choice_;
      return result;
    });
  }
  ~RecordingQualityTest() override {
    acmSetFormatChooser({});
    SetFormatSeparatorSource({});
  }

  // 8 kHz mono mu-law: the PCM numbers of 8-bit mono with the codec's tag.
  static WaveFormatEx MuLaw() {
    WaveFormatEx format = WaveFormatEx::Pcm(8000, 8, 1);
    format.set_wFormatTag(WAVE_FORMAT_MULAW);
    return format;
  }

  WaveFormatEx stored_;
  WaveFormatEx choice_ = MuLaw();
  std::vector<MMRESULT> answers_;
  std::vector<std::optional<WaveFormatEx>> started_from_;
  std::vector<std::string> titles_;
};

TEST_F(RecordingQualityTest, StartUpAsksUntilAFormatIsAcceptedAndKeepsIt) {
  // Start-up reads the options itself: make it read the codec setting.
  LoadOptions(settings_);  // no file yet: only the defaults
  messages_.clear();
  TRecorderOptions record = RecorderOptions;
  record.RecordFormat = 1;
  ASSERT_TRUE(SaveOptions(settings_, record));
  answers_ = {ACMERR_CANCELED, ACMERR_CANCELED, MMSYSERR_NOERROR};
  QtMainLoop loop;
  TDokuForm form("Studio", "");
  form.show();
  ASSERT_EQ(started_from_.size(), 3u);
  // Nothing chosen yet (no format text): every run starts from no format.
  for (const auto& start : started_from_) EXPECT_FALSE(start.has_value());
  EXPECT_EQ(titles_[0], "Recording quality");
  EXPECT_EQ(*form.Settings.RecorderOptions.RecordingFormat, choice_);
  EXPECT_EQ(*form.FormatDlg.PWaveFormat(), choice_);
  EXPECT_EQ(messages_, std::vector<std::string>{});
}

TEST_F(RecordingQualityTest, AStoredFormatTheRegistryKnowsIsTheStart) {
  TMMACM dialog;
  stored_ = WaveFormatEx::Pcm(22050, 16, 2);
  answers_ = {MMSYSERR_NOERROR};
  EXPECT_TRUE(ChooseRecordingQuality(RecorderOptions, dialog, true));
  ASSERT_EQ(started_from_.size(), 1u);
  ASSERT_TRUE(started_from_[0].has_value());
  EXPECT_EQ(*started_from_[0], WaveFormatEx::Pcm(22050, 16, 2));
  EXPECT_EQ(stored_, choice_);
}

TEST_F(RecordingQualityTest, OptionsButtonFillsTheFieldOnlyWhenAccepted) {
  TParaForm dialog(settings_);
  dialog.AusgabeFormatEdit->setText("before");
  stored_ = WaveFormatEx::Pcm(8000, 8, 1);
  dialog.SpeedButton2Click();  // cancelled
  ASSERT_EQ(started_from_.size(), 1u);
  EXPECT_EQ(*started_from_[0], WaveFormatEx::Pcm(8000, 8, 1));
  EXPECT_EQ(dialog.AusgabeFormatEdit->text(), "before");
  EXPECT_EQ(stored_, WaveFormatEx::Pcm(8000, 8, 1));

  answers_ = {MMSYSERR_NOERROR};
  dialog.SpeedButton2Click();
  EXPECT_EQ(stored_, choice_);
  // The tag name, a blank, then the registry's text of the format.
  EXPECT_EQ(dialog.AusgabeFormatEdit->text().toStdString(), "CCITT mu-Law 8.000 kHz, 8 Bit, Mono");
}

TEST_F(RecordingQualityTest, AnEmptyStoredFormatStartsTheChooserFromNone) {
  TParaForm dialog(settings_);
  answers_ = {MMSYSERR_NOERROR};
  EXPECT_NO_THROW(dialog.SpeedButton2Click());
  ASSERT_EQ(started_from_.size(), 1u);
  EXPECT_FALSE(started_from_[0].has_value());
  EXPECT_EQ(stored_, choice_);
}

}  // namespace
}  // namespace pmx::test
