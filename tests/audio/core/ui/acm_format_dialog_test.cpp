#include "audio/core/ui/acm_format_dialog.h"

#include <gtest/gtest.h>

#include <QComboBox>

#include "audio/core/dsp/acm_support.h"
#include "audio/core/dsp/wave_format.h"

namespace pmx {
namespace {

class AcmFormatDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadACM();
    SetFormatSeparatorSource([] { return TFormatSeparators{',', '.'}; });
    choose.pwfx = &buffer;
    choose.cbwfx = 1024;
    choose.pszTitle = "Recording quality";
  }
  void TearDown() override { SetFormatSeparatorSource({}); }

  int TagIndex(TACMFormatDialog& d, const QString& name) { return d.TagBox()->findText(name); }

  WaveFormatEx buffer;
  ACMFORMATCHOOSE choose;
};

TEST_F(AcmFormatDialog, OffersEachWritableFormatOnce) {
  choose.fdwEnum = ACM_FORMATENUMF_OUTPUT;
  TACMFormatDialog dialog(choose);
  EXPECT_EQ(dialog.windowTitle(), "Recording quality");
  const int mp3 = TagIndex(dialog, "MPEG Layer-3");
  ASSERT_GE(mp3, 0);
  dialog.TagBox()->setCurrentIndex(mp3);
  QStringList texts;
  for (int i = 0; i < dialog.FormatBox()->count(); ++i) texts << dialog.FormatBox()->itemText(i);
  EXPECT_EQ(texts.removeDuplicates(), 0) << "a format listed twice";
  EXPECT_GE(TagIndex(dialog, "GSM 6.10"), 0);
  EXPECT_GE(TagIndex(dialog, "PCM"), 0);
}

TEST_F(AcmFormatDialog, StartsFromTheGivenFormatAndHandsTheChoiceOver) {
  buffer = WaveFormatEx::Pcm(44100, 16, 2);
  choose.fdwStyle = ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT;
  TACMFormatDialog dialog(choose);
  EXPECT_EQ(dialog.TagBox()->currentText(), "PCM");
  EXPECT_EQ(dialog.FormatBox()->currentText(), "44.100 kHz, 16 Bit, Stereo");

  dialog.TagBox()->setCurrentIndex(TagIndex(dialog, "GSM 6.10"));
  dialog.FormatBox()->setCurrentIndex(0);
  dialog.accept();
  EXPECT_EQ(dialog.Result(), MMSYSERR_NOERROR);
  EXPECT_EQ(buffer.wFormatTag(), WAVE_FORMAT_GSM610);
  EXPECT_EQ(choose.szFormatTag, "GSM 6.10");
  EXPECT_EQ(choose.szFormat, wfGetFormatString(&buffer));
}

TEST_F(AcmFormatDialog, AFormatLargerThanTheBufferIsNotHandedOver) {
  choose.cbwfx = 18;
  TACMFormatDialog dialog(choose);
  dialog.TagBox()->setCurrentIndex(TagIndex(dialog, "GSM 6.10"));
  dialog.accept();
  EXPECT_EQ(dialog.Result(), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(buffer, WaveFormatEx());
}

}  // namespace
}  // namespace pmx
