#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <cmath>
#include <cstdlib>

#include "audio/streaming/vorbis_in.h"
#include "platform/alsa_dsound.h"
#include "platform/fake_dsound.h"
#include "platform/qt/qt_main_loop.h"
#include "recorder/aufnahme_form.h"
#include "recorder/doku_form.h"
#include "tests/recorder/recorder_fixture.h"
#include "tests/support/alsa_file_pcm.h"
#include "tests/support/file_bytes.h"

namespace pmx::test {
namespace {

using namespace std::chrono_literals;

TEST(PlaybackPosition, TimeOfDayFromTheDisplayName) {
  // 20260307090503.wav, 65 s in.
  EXPECT_EQ(PositionText(*StartSecond("26/03/07 09:05:03") + 65), "Position : 09:06:08");
  EXPECT_EQ(PositionText(*StartSecond("26/03/07 23:59:59") + 2), "Position : 24:00:01");
  EXPECT_FALSE(StartSecond("26/03/07 09:x5:03"));
  EXPECT_FALSE(StartSecond("take1.wav"));
}

TEST(PlaybackDevice, FollowsTheWaveOutDeviceByNameElseTheDefault) {
  FakeSoundSystem fake(3);
  TPlaybackComponents chain(&fake);
  chain.SetDevice("Fake 2");
  EXPECT_EQ(chain.DXAudioOut1.DeviceNumber(), 2);
  EXPECT_EQ(chain.DXAudioOut2.DeviceNumber(), 2);
  chain.SetDevice("a card that went away");
  EXPECT_EQ(chain.DXAudioOut2.DeviceNumber(), 0);
}

// The main window over an ALSA file PCM, with a ten-second Ogg recording handed
// over as the recordings list does.
class PlaybackPanelTest : public RecorderTest {
 protected:
  void SetUp() override {
    const std::filesystem::path raw = home_ / "sine.raw";
    std::vector<uint8_t> pcm;
    for (int i = 0; i < 441000; ++i) {
      const auto s = static_cast<int16_t>(10000 * std::sin(i * 2 * M_PI * 441 / 44100));
      for (int c = 0; c < 2; ++c) pcm.insert(pcm.end(), {static_cast<uint8_t>(s), static_cast<uint8_t>(s >> 8)});
    }
    PutFile(raw, pcm);
    const std::string command = "oggenc -Q --raw -o '" + ogg_.string() + "' '" + raw.string() + "'";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "oggenc is not available";
    form_ = std::make_unique<TDokuForm>("", "", nullptr, &alsa_);
    form_->PlaybackChain.DXAudioOut1.SetPollingInterval(10);
    PlaybackFile = ogg_.string();
    PlaybackKind = pkVorbis;
    form_->LoadPlaybackFile();
  }
  void TearDown() override {
    form_.reset();
    PlaybackFile.clear();
    PlaybackKind = pkNone;
  }
  bool PumpUntil(const std::function<bool()>& done) { return loop_.PumpUntil(done, 20s); }
  TDXAudioOut& Output() { return form_->PlaybackChain.DXAudioOut1; }

  QtMainLoop loop_;
  TempDir sink_;
  AlsaSoundSystem alsa_{{FilePcmOptions(sink_).config, std::vector<SoundDevice>{{"Sink", "sink"}}}};
  std::filesystem::path ogg_ = home_ / "20260307090503.ogg";
  std::unique_ptr<TDokuForm> form_;
};

TEST_F(PlaybackPanelTest, PlayPauseSeekAndTheTimeOfDay) {
  EXPECT_TRUE(form_->Slider->isEnabled());
  EXPECT_TRUE(form_->SpdBtnPlay->isEnabled());
  form_->PlayTimerTimer();  // never started: the start time, the gauge as it was
  EXPECT_EQ(form_->PositionLabel->text(), "Position : 09:05:03");
  EXPECT_EQ(form_->DatumLabel->text(), "Date : 26/03/07 09:05:03");
  EXPECT_EQ(form_->PlayGauge->value(), 0);

  form_->SpdBtnPlayClick();
  ASSERT_TRUE(PumpUntil([&] { return Output().GetProgress() >= 30; })) << Output().ErrorText();
  form_->SpdBtnPauseClick();
  EXPECT_EQ(Output().GetStatus(), 1);
  form_->PlayTimerTimer();
  const int gauge = form_->PlayGauge->value();
  EXPECT_GE(gauge, 29);
  EXPECT_EQ(form_->Slider->Position(), gauge * 10);
  EXPECT_EQ(form_->PositionLabel->text().toStdString(), PositionText(9 * 3600 + 5 * 60 + 3 + gauge / 10));

  form_->SliderTrack();  // the user drags to 80 %
  form_->Slider->SetPosition(800);
  form_->PlayTimerTimer();
  EXPECT_EQ(form_->Slider->Position(), 800);
  form_->SliderTrackEnd();
  EXPECT_NEAR(Output().GetProgress(), 80, 1);
  form_->PlayTimerTimer();
  EXPECT_NEAR(form_->PlayGauge->value(), 80, 1);

  form_->SpdBtnPlayClick();
  ASSERT_TRUE(PumpUntil([&] { return Output().GetStatus() == 2; }));
  EXPECT_TRUE(messages_.empty()) << messages_.front();
  // The device heard about half of the recording: 30 % before the seek, 20 % after it.
  const int64_t heard = static_cast<int64_t>(FileBytes(sink_ / "out.raw").size());
  EXPECT_GT(heard, 441000 * 4 / 2 - 80000);
}

TEST_F(PlaybackPanelTest, FileCutShortUnderThePlayerStopsWithAMessage) {
  form_->SpdBtnPlayClick();
  ASSERT_TRUE(PumpUntil([&] { return Output().GetProgress() >= 10; }));
  std::filesystem::resize_file(ogg_, std::filesystem::file_size(ogg_) / 3);
  ASSERT_TRUE(PumpUntil([&] { return Output().GetStatus() == 2 && !messages_.empty(); }));
  EXPECT_LT(Output().GetProgress(), 50);
}

TEST_F(PlaybackPanelTest, DeviceThatCannotBeOpenedIsReported) {
  AlsaSoundSystem broken({"", std::vector<SoundDevice>{{"Sink", "nosuchpcm"}}});
  form_ = std::make_unique<TDokuForm>("", "", nullptr, &broken);
  form_->LoadPlaybackFile();
  form_->SpdBtnPlayClick();
  ASSERT_TRUE(PumpUntil([&] { return !messages_.empty(); }));
  EXPECT_EQ(messages_.front(), "Failed to create DirectSound device");
}

using PlaybackBadInputTest = RecorderTest;

TEST_F(PlaybackBadInputTest, EmptyOrGarbledFilesGiveAMessageAndStayIdle) {
  QtMainLoop loop;
  TempDir sink;
  AlsaSoundSystem alsa({FilePcmOptions(sink).config, std::vector<SoundDevice>{{"Sink", "sink"}}});
  TDokuForm form("", "", nullptr, &alsa);
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
      {"20260307090503.ogg", {}}, {"20260307090504.mp3", {}}, {"20260307090505.ogg", std::vector<uint8_t>(5000, 'x')},
      {"20260307090506.mp3", std::vector<uint8_t>(5000, 0xFF)}};
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    messages_.clear();
    PutFile(home_ / name, bytes);
    PlaybackFile = (home_ / name).string();
    PlaybackKind = name.ends_with(".ogg") ? pkVorbis : pkMP3;
    form.LoadPlaybackFile();
    form.SpdBtnPlayClick();
    ASSERT_TRUE(loop.PumpUntil([&] { return !messages_.empty(); }, 10s));
    EXPECT_TRUE(loop.PumpUntil([&] { return form.PlaybackChain.Output(PlaybackKind)->GetStatus() == 2; }, 10s));
  }
  PlaybackFile.clear();
  PlaybackKind = pkNone;
}

}  // namespace
}  // namespace pmx::test
