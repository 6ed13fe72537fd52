#include "audio/core/files/acm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/core/dsp/acm_support.h"
#include "audio/core/dsp/wave_format.h"
#include "audio/core/files/wave_file.h"
#include "platform/ui_hook.h"

namespace pmx {
namespace {

// Answers the chooser with scripted results and records what it was asked.
class AcmComponent : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadACM();
    SetFormatSeparatorSource([] { return TFormatSeparators{',', '.'}; });
    SetMessageBoxHook([this](const std::string& text, const std::string&) {
      messages.push_back(text);
    });
    acmSetFormatChooser([this](ACMFORMATCHOOSE& c) {
      asked.push_back(c);
      const MMRESULT result = answers.empty() ? ACMERR_CANCELED : answers.front();
      if (!answers.empty()) answers.erase(answers.begin());
      if (result == MMSYSERR_NOERROR) *c.pwfx = choice;
      return result;
    });
  }
  void TearDown() override {
    acmSetFormatChooser({});
    SetMessageBoxHook({});
    SetFormatSeparatorSource({});
    LoadACM();
  }

  std::vector<std::string> messages;
  std::vector<ACMFORMATCHOOSE> asked;
  std::vector<MMRESULT> answers;
  WaveFormatEx choice;
};

WaveFormatEx Gsm() {
  WaveFormatEx gsm;
  gsm.set_wFormatTag(WAVE_FORMAT_GSM610);
  EXPECT_EQ(acmFormatSuggest(nullptr, WaveFormatEx::Pcm(8000, 16, 1), gsm, 64,
                             ACM_FORMATSUGGESTF_WFORMATTAG),
            MMSYSERR_NOERROR);
  return gsm;
}

TEST_F(AcmComponent, ReportsTheRegistry) {
  TMMACM acm;
  EXPECT_TRUE(acm.ACMPresent());
  EXPECT_GE(acm.NumDrivers(), 5);
  EXPECT_EQ(acm.NumCodecs() + acm.NumConverters(), acm.NumDrivers());
  EXPECT_EQ(acm.NumFilters(), 0);
  EXPECT_EQ(acm.Title(), "Select...");
  EXPECT_TRUE(messages.empty());
  ASSERT_NE(acm.PWaveFormat(), nullptr);
  EXPECT_EQ(acm.PWaveFormat()->wFormatTag(), 0);
}

TEST_F(AcmComponent, WithoutTheRegistryNothingIsOffered) {
  UnloadACM();
  TMMACM acm;
  EXPECT_FALSE(acm.ACMPresent());
  EXPECT_EQ(acm.NumDrivers(), 0);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0],
            "The Audio Compression Manager (ACM) is not installed on this system. Most features "
            "of this application will not be available.");
  EXPECT_FALSE(acm.ChooseFormat(nullptr, "Recording quality"));
  EXPECT_TRUE(asked.empty());
  std::string tag, text;
  const WaveFormatEx cd = WaveFormatEx::Pcm(44100, 16, 2);
  ASSERT_TRUE(acm.GetFormatDescription(&cd, tag, text));
  EXPECT_EQ(tag, "PCM");
  EXPECT_EQ(text, "44.100 kHz, 16 Bit, Stereo");
}

TEST_F(AcmComponent, DescribesFormats) {
  TMMACM acm;
  std::string tag = "keep", text = "keep";
  EXPECT_FALSE(acm.GetFormatDescription(nullptr, tag, text));
  EXPECT_EQ(tag, "keep");
  const WaveFormatEx cd = WaveFormatEx::Pcm(44100, 16, 2);
  ASSERT_TRUE(acm.GetFormatDescription(&cd, tag, text));
  EXPECT_EQ(tag, "PCM");
  EXPECT_EQ(text, "44.100 kHz, 16 Bit, Stereo");
  const WaveFormatEx gsm = Gsm();
  ASSERT_TRUE(acm.GetFormatDescription(&gsm, tag, text));
  EXPECT_EQ(tag, "GSM 6.10");
  EXPECT_EQ(text, wfGetFormatString(&gsm));
}

TEST_F(AcmComponent, ChoosingKeepsTheChoice) {
  TMMACM acm;
  acm.SetEnumFormats(efOutput);
  choice = Gsm();
  answers = {MMSYSERR_NOERROR};
  ASSERT_TRUE(acm.ChooseFormat(nullptr, "Recording quality"));
  EXPECT_EQ(*acm.PWaveFormat(), choice);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].pszTitle, "Recording quality");
  EXPECT_EQ(asked[0].fdwEnum, ACM_FORMATENUMF_OUTPUT);
  EXPECT_EQ(asked[0].fdwStyle, 0u);
}

TEST_F(AcmComponent, CancelKeepsTheGivenFormat) {
  TMMACM acm;
  acm.SetEnumFormats(efConvert);
  const WaveFormatEx start = WaveFormatEx::Pcm(22050, 16, 1);
  answers = {ACMERR_CANCELED};
  EXPECT_FALSE(acm.ChooseFormat(&start, "Recording quality"));
  EXPECT_EQ(*acm.PWaveFormat(), start);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].fdwStyle, ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT);
  EXPECT_EQ(asked[0].fdwEnum, ACM_FORMATENUMF_CONVERT);
  EXPECT_EQ(asked[0].pwfxEnum, &start);
}

TEST_F(AcmComponent, ChooserFailuresAreRetriedOnce) {
  TMMACM acm;
  choice = Gsm();
  answers = {MMSYSERR_INVALPARAM, MMSYSERR_NOERROR};
  EXPECT_TRUE(acm.ChooseFormat(nullptr, "Recording quality"));
  answers = {MMSYSERR_INVALPARAM, MMSYSERR_INVALPARAM};
  try {
    acm.ChooseFormat(nullptr, "Recording quality");
    FAIL() << "no error";
  } catch (const EMMACMError& e) {
    EXPECT_STREQ(e.what(), "acmFormatChoose failed with error 11");
  }
  EXPECT_EQ(asked.size(), 4u);
}

TEST_F(AcmComponent, SetFormatRefusesBrokenRecords) {
  TMMACM acm;
  const WaveFormatEx gsm = Gsm();
  acm.SetFormat(&gsm);
  EXPECT_EQ(*acm.PWaveFormat(), gsm);

  // As restored from a file that kept only the 18 header bytes.
  const WaveFormatEx cut = WaveFormatEx::FromBytes(gsm.Bytes().first(18));
  EXPECT_THROW(acm.SetFormat(&cut), EMMACMError);
  WaveFormatEx hostile = gsm;
  hostile.set_cbSize(60000);
  hostile.set_nBlockAlign(0);
  EXPECT_THROW(acm.SetFormat(&hostile), EMMACMError);
  WaveFormatEx unknown = gsm;
  unknown.set_wFormatTag(0x1234);
  EXPECT_THROW(acm.SetFormat(&unknown), EMMACMError);
  EXPECT_EQ(*acm.PWaveFormat(), gsm);

  // PCM keeps 18 bytes, whatever cbSize says.
  WaveFormatEx pcm = WaveFormatEx::Pcm(44100, 16, 2);
  pcm.set_cbSize(22);
  acm.SetFormat(&pcm);
  EXPECT_EQ(acm.PWaveFormat()->size(), 18u);
  EXPECT_EQ(acm.PWaveFormat()->cbSize(), 0);
}

TEST_F(AcmComponent, SourceIsClearedWhenItGoes) {
  TMMACM acm;
  auto source = std::make_unique<TMMCustomWaveFile>();
  acm.SetSource(source.get());
  EXPECT_EQ(acm.Source(), source.get());
  source.reset();
  EXPECT_EQ(acm.Source(), nullptr);
}

}  // namespace
}  // namespace pmx
