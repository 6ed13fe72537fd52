#include <QLabel>
#include <QPushButton>

#include "audio/core/chain/connector_pump.h"
#include "platform/alsa/fake_wave_driver.h"
#include "platform/gui_ticker.h"
#include "platform/qt/qt_main_loop.h"
#include "recorder/doku_form.h"
#include "recorder/options_file.h"
#include "recorder/recording_files.h"
#include "tests/recorder/recorder_fixture.h"
#include "tests/recorder/wav_bytes.h"

namespace pmx::test {
namespace {

using namespace std::chrono_literals;

// The main window recording from the fake capture device at 8 kHz mono 8 bit (the
// default quality), before it is shown, so that no options file is read.
class FormRecordingTest : public RecorderTest {
 protected:
  FormRecordingTest() {
    driver_.SetBufferFrames(1 << 16);
    driver_.SetDevices(WaveDirection::kInput, {{"First"}, {"Second"}});
    std::filesystem::create_directory(folder_);
    form_ = std::make_unique<TDokuForm>("Studio", "");
    Options() = {};
    Options().RecordingFolder = folder_.string();
  }

  // The form's settings, zero-filled as the window is never shown.
  TRecorderOptions& Options() { return form_->Settings.RecorderOptions; }

  std::string Text(const QLabel* label) const { return label->text().toStdString(); }

  FakeWaveDriver driver_;
  ScopedWaveDriver driver_scope_{driver_};
  QtMainLoop loop_;
  const RecorderClock::TimePoint start_ = LocalTimePoint(2026, 3, 7, 9, 5, 3);
  ScopedRecorderClock clock_{[this] { return start_; }};
  std::filesystem::path folder_ = home_ / "rec";
  std::filesystem::path file_ = folder_ / "20260307090503.wav";
  std::unique_ptr<TDokuForm> form_;  // after the devices are set up
};

TEST_F(FormRecordingTest, RecordAndStopButtonsLeaveEveryCapturedByteInAFinishedWav) {
  form_->SpdBtnREcord->click();
  ASSERT_TRUE(form_->Recording());
  EXPECT_TRUE(Text(form_->RecordseitLabel).starts_with("Recording started at : "));
  form_->SpdBtnREcord->click();  // a second start changes nothing
  std::shared_ptr<FakePcm> pcm = driver_.Last(WaveDirection::kInput);
  ASSERT_NE(pcm, nullptr);
  pcm->Advance(40000);
  // The level bars hear the recording chain.
  EXPECT_TRUE(loop_.PumpUntil([&] { return form_->MMLevel1->LastPeak() > 0; }, 10s));
  EXPECT_TRUE(loop_.PumpUntil([&] { return form_->RecordingPosition() >= 5000; }, 10s));

  form_->SpdBtnStopREcord->click();
  EXPECT_FALSE(form_->Recording());
  EXPECT_EQ(Text(form_->RecordseitLabel), "Recording stopped");
  EXPECT_EQ(Text(form_->RecordDauerLabel), "Recording length");
  EXPECT_EQ(form_->RecorderState.GapCountdown, 2);
  const std::string bytes = ReadFile(file_);
  ASSERT_GE(bytes.size(), 44u);
  EXPECT_EQ(bytes.substr(0, 4), "RIFF");
  EXPECT_EQ(Uint32At(bytes, 4), bytes.size() - 8);
  EXPECT_EQ(bytes.substr(36, 4), "data");
  EXPECT_EQ(Uint32At(bytes, 40), bytes.size() - 44);
  EXPECT_EQ(Uint32At(bytes, 24), 8000u);  // the sample rate
  const std::vector<uint8_t> ramp = FakePcm::Ramp(WaveFormatEx::Pcm(8000, 8, 1), 0, 40000);
  EXPECT_EQ(bytes.substr(44), std::string(ramp.begin(), ramp.end()));
}

// Nobody sees a headless window: its displays are not fed or woken, but the
// control tick still reads the input's peak, and every byte is recorded.
TEST_F(FormRecordingTest, AHeadlessWindowDrawsNothingButTheTickStillHearsTheInput) {
  form_->SetHeadless(true);
  EXPECT_FALSE(gui_ticker::Seen());
  form_->SpdBtnREcord->click();
  std::shared_ptr<FakePcm> pcm = driver_.Last(WaveDirection::kInput);
  ASSERT_NE(pcm, nullptr);
  pcm->Advance(40000);
  TControlTickHost& tick_host = *form_;
  EXPECT_TRUE(loop_.PumpUntil([&] { return tick_host.LastPeak() > 0; }, 10s));
  EXPECT_TRUE(loop_.PumpUntil([&] { return form_->RecordingPosition() >= 5000; }, 10s));
  EXPECT_EQ(connector_pump::Wakes(), 0u);
  EXPECT_EQ(form_->MMLevel1->LitSpots(), 0);
  form_->SpdBtnStopREcord->click();
  const std::vector<uint8_t> ramp = FakePcm::Ramp(WaveFormatEx::Pcm(8000, 8, 1), 0, 40000);
  EXPECT_EQ(ReadFile(file_).substr(44), std::string(ramp.begin(), ramp.end()));
  form_.reset();
  EXPECT_TRUE(gui_ticker::Seen());
}

// The tick's texts are not laid out for a window nobody sees, but the window
// shows the last of them when it is seen again (the length is the tick's only
// while recording).
TEST_F(FormRecordingTest, AHiddenWindowShowsTheLastStatusTextsWhenSeenAgain) {
  form_->show();
  ASSERT_TRUE(loop_.PumpUntil([] { return gui_ticker::Seen(); }, 10s));
  form_->hide();
  ASSERT_FALSE(gui_ticker::Seen());
  TControlTickHost& tick_host = *form_;
  tick_host.SetLengthText("Recording length : 00:00:01");
  tick_host.SetLengthText("Recording length : 00:00:02");
  EXPECT_EQ(Text(form_->RecordDauerLabel), "Recording length");
  form_->show();
  ASSERT_TRUE(loop_.PumpUntil([] { return gui_ticker::Seen(); }, 10s));
  EXPECT_EQ(Text(form_->RecordDauerLabel), "Recording length : 00:00:02");
}

TEST_F(FormRecordingTest, AFolderThatCannotBeMadeShowsTheErrorPanelWithTheReasonAndRecordsNothing) {
  std::filesystem::remove(folder_);
  WriteFile(folder_, "a file where the folder was");
  form_->StartRecording();
  EXPECT_FALSE(form_->Recording());
  EXPECT_TRUE(form_->ErrorPanel->isVisibleTo(form_.get()));
  EXPECT_EQ(Text(form_->RecordseitLabel),
            "Recording to " + folder_.string() + " could not be started: the folder cannot be made (Not a directory)");
  EXPECT_EQ(driver_.Last(WaveDirection::kInput), nullptr);
}

TEST_F(FormRecordingTest, TheRecordingDeviceKeepsItsNumberWhileItRecords) {
  form_->StartRecording();
  ASSERT_TRUE(form_->Recording());
  Options().InDevice = 1;
  form_->OptionsAccepted();
  EXPECT_EQ(messages_, std::vector<std::string>{"Recording Device ID not changed! Please restart"});
  EXPECT_EQ(Options().InDevice, 0);
  form_->StopRecording();
  Options().InDevice = 1;
  form_->OptionsAccepted();
  EXPECT_EQ(form_->RecordingChain.WaveRecorder.DeviceID(), 1);
  EXPECT_EQ(messages_.size(), 1u);
}

// PCM, then a codec, then PCM again: each file holds what was chosen, the last
// one sample for sample.
TEST_F(FormRecordingTest, PcmChosenAfterACodecRecordingIsWhatTheNextFileHolds) {
  WaveFormatEx ima;
  ima.set_wFormatTag(WAVE_FORMAT_IMA_ADPCM);
  ASSERT_EQ(acmFormatSuggest(nullptr, WaveFormatEx::Pcm(8000, 16, 1), ima, 1024,
                             ACM_FORMATSUGGESTF_WFORMATTAG),
            MMSYSERR_NOERROR);
  Options().RecordingFormat = &ima;
  RecorderClock::TimePoint now = start_;
  ScopedRecorderClock clock([&] { return now; });
  std::string bytes;
  for (const uint16_t format : {0, 1, 0}) {  // "Only PCM-Quality" at 8 kHz mono 8 bit, IMA ADPCM
    Options().RecordFormat = format;
    form_->OptionsAccepted();
    const std::string name = NewRecordingFileName(Options().RecordingFolder, now);
    form_->StartRecording();
    ASSERT_TRUE(form_->Recording());
    driver_.Last(WaveDirection::kInput)->Advance(16000);
    EXPECT_TRUE(loop_.PumpUntil([&] { return form_->RecordingPosition() >= 2000; }, 10s));
    form_->StopRecording();
    bytes = ReadFile(name);
    ASSERT_GE(bytes.size(), 44u);
    EXPECT_EQ(Uint32At(bytes, 20) & 0xFFFF, format == 1 ? WAVE_FORMAT_IMA_ADPCM : WAVE_FORMAT_PCM);
    now += std::chrono::minutes(1);
  }
  // One channel, 8000 Hz, 8000 bytes a second, 1-byte blocks, 8 bits.
  EXPECT_EQ(bytes.substr(22, 14),
            std::string("\x01\x00\x40\x1f\0\0\x40\x1f\0\0\x01\x00\x08\x00", 14));
  const std::vector<uint8_t> ramp = FakePcm::Ramp(WaveFormatEx::Pcm(8000, 8, 1), 0, 16000);
  EXPECT_TRUE(bytes.substr(44) == std::string(ramp.begin(), ramp.end()));
  Options().RecordingFormat = nullptr;
}

// A damaged settings file must not keep an unattended recorder from recording.
TEST_F(FormRecordingTest, EveryDamagedOptionsFileStillRecordsWhenAskedAtStartUp) {
  const std::string saved_home = std::getenv("HOME");
  setenv("HOME", home_.path().c_str(), 1);
  std::filesystem::create_directory(home_ / "Pelmorax");
  TRecorderOptions settings = DefaultRecorderOptions();
  settings.RecordingFolder = folder_.string();
  const std::vector<std::string> good = CrLfLines(WriteOptionsText(settings));
  std::string truncated, garbled;
  for (std::size_t line = 0; line < good.size(); ++line) {
    if (line < 40) truncated += good[line] + "\r\n";
    garbled += (line == 41 ? std::string("loud") : good[line]) + "\r\n";
  }
  const std::pair<std::string, std::filesystem::path> cases[] = {
      {"", home_ / "Pelmorax"}, {truncated, folder_}, {garbled, folder_}};
  for (const auto& [text, folder] : cases) {
    SCOPED_TRACE(text.size());
    messages_.clear();
    WriteFile(Home("options.ini"), text);
    TDokuForm form("", "-RECORDSTART");
    form.show();
    EXPECT_TRUE(form.Recording());
    EXPECT_EQ(messages_.size(), 1u);
    driver_.Last(WaveDirection::kInput)->Advance(8000);
    form.close();
    EXPECT_FALSE(form.Recording());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
    for (const auto& entry : std::filesystem::directory_iterator(folder)) std::filesystem::remove(entry);
  }
  setenv("HOME", saved_home.c_str(), 1);
}

}  // namespace
}  // namespace pmx::test
