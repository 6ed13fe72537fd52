#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <cmath>
#include <cstdlib>

#include "audio/streaming/vorbis_in.h"
#include "platform/alsa/alsa_dsound.h"
#include "platform/alsa/alsa_wave_driver.h"
#include "platform/alsa/fake_dsound.h"
#include "platform/alsa/fake_wave_driver.h"
#include "platform/qt/qt_main_loop.h"
#include "recorder/aufnahme_form.h"
#include "recorder/doku_form.h"
#include "tests/recorder/recorder_fixture.h"
#include "tests/recorder/wav_bytes.h"
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
  chain.SetDevice(1, "Fake 2");
  EXPECT_EQ(chain.DXAudioOut1.DeviceNumber(), 2);
  EXPECT_EQ(chain.DXAudioOut2.DeviceNumber(), 2);
  chain.SetDevice(-1, "a card that went away");
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
    form_->Playback.Chain.DXAudioOut1.SetPollingInterval(10);
    HandOver();
  }
  void TearDown() override { form_.reset(); }
  // Hands the recording to the player, as the recordings list does.
  void HandOver() {
    form_->Playback.PlaybackFile = ogg_.string();
    form_->Playback.PlaybackKind = pkVorbis;
    form_->LoadPlaybackFile();
  }
  bool PumpUntil(const std::function<bool()>& done) { return loop_.PumpUntil(done, 20s); }
  TDXAudioOut& Output() { return form_->Playback.Chain.DXAudioOut1; }

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
  EXPECT_EQ(Output().GetStatus(), TAuStatus::kPaused);
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
  ASSERT_TRUE(PumpUntil([&] { return Output().GetStatus() == TAuStatus::kIdle; }));
  EXPECT_TRUE(messages_.empty()) << messages_.front();
  // The device heard about half of the recording: 30 % before the seek, 20 % after it.
  const int64_t heard = static_cast<int64_t>(FileBytes(sink_ / "out.raw").size());
  EXPECT_GT(heard, 441000 * 4 / 2 - 80000);
}

// Three seconds into the run by the device's clock, and again after a seek while
// paused: the time and the gauge are those of what the device has played, not of
// the second or so written ahead of it.
TEST_F(PlaybackPanelTest, ThePositionShownIsThatOfWhatIsHeard) {
  FakeSoundSystem fake;
  // However the test ends, the run goes on and ends before the fake goes.
  const std::shared_ptr<void> end(nullptr, [&](void*) {
    fake.Release();
    form_.reset();
  });
  form_ = std::make_unique<TDokuForm>("", "", nullptr, &fake);
  HandOver();
  const int64_t size = form_->Playback.Chain.VorbisIn1.GetLengthSamples() * 4;
  const auto shown = [&](uint64_t played) {
    form_->PlayTimerTimer();
    EXPECT_EQ(form_->PlayGauge->value(), static_cast<int64_t>(played) * 100 / (size + 1));
    EXPECT_EQ(form_->PositionLabel->text().toStdString(),
              PositionText(9 * 3600 + 5 * 60 + 3 + static_cast<int64_t>(played) * 10 / (size + 1)));
  };
  fake.HoldAt(3000);
  form_->SpdBtnPlayClick();
  ASSERT_TRUE(fake.WaitHeld(10s));
  ASSERT_GT(fake.Written().size(), fake.Played() + 44100);
  shown(fake.Played());

  fake.Release();
  form_->SpdBtnPauseClick();
  form_->Slider->SetPosition(800);
  form_->SliderTrackEnd();
  const int64_t target = form_->Playback.Chain.VorbisIn1.Position();
  ASSERT_NEAR(target * 100 / size, 80, 1);
  const uint64_t before = fake.Played();
  fake.HoldAt(fake.SleptMs() + 1000);
  form_->SpdBtnPlayClick();
  ASSERT_TRUE(fake.WaitHeld(10s));
  // What played since the seek came from there on.
  shown(target + fake.Played() - before);
  fake.Release();
}

TEST_F(PlaybackPanelTest, FileCutShortUnderThePlayerStopsWithAMessage) {
  form_->SpdBtnPlayClick();
  ASSERT_TRUE(PumpUntil([&] { return Output().GetProgress() >= 10; }));
  std::filesystem::resize_file(ogg_, std::filesystem::file_size(ogg_) / 3);
  ASSERT_TRUE(PumpUntil([&] { return Output().GetStatus() == TAuStatus::kIdle && !messages_.empty(); }));
  EXPECT_LT(Output().GetProgress(), 50);
}

TEST_F(PlaybackPanelTest, DeviceThatCannotBeOpenedIsReported) {
  AlsaSoundSystem broken({"", std::vector<SoundDevice>{{"Sink", "nosuchpcm"}}});
  form_ = std::make_unique<TDokuForm>("", "", nullptr, &broken);
  HandOver();
  form_->SpdBtnPlayClick();
  ASSERT_TRUE(PumpUntil([&] { return !messages_.empty(); }));
  EXPECT_EQ(messages_.front(), "Failed to create DirectSound device");
}

// A ten-second 44.1 kHz stereo 16-bit WAV recording played through an ALSA file PCM.
class WavePlaybackTest : public RecorderTest {
 protected:
  void SetUp() override {
    for (uint32_t i = 0; i < kFrames; ++i) {  // every frame unique
      const uint32_t left = i & 0xFFFF;
      const uint32_t right = ((i >> 16) + left * 0x9E37) & 0xFFFF;
      for (uint32_t v : {left, right}) pcm_.insert(pcm_.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
    }
    std::string fmt;
    for (uint32_t v : {0x00020001u, 44100u, 176400u, 0x00100004u}) PutUint32(fmt, v);
    const std::string wav = "WAVE" + Chunk("fmt ", fmt) + Chunk("data", std::string(pcm_.begin(), pcm_.end()));
    std::string riff = "RIFF";
    PutUint32(riff, static_cast<uint32_t>(wav.size()));
    riff += wav;
    PutFile(wav_, std::vector<uint8_t>(riff.begin(), riff.end()));
  }
  void TearDown() override {
    form_.reset();
    scope_.reset();
  }
  // Hands the recording to form's player, as the recordings list does.
  void HandOver(TDokuForm& form) {
    form.Playback.PlaybackFile = wav_.string();
    form.Playback.PlaybackKind = pkWave;
    form.LoadPlaybackFile();
  }
  // The main window playing on the wave-out device of options named device, with
  // the recording handed over.
  TDokuForm& Open(AlsaWaveDriver::Options options, const std::string& device) {
    driver_ = std::make_unique<AlsaWaveDriver>(std::move(options));
    scope_ = std::make_unique<ScopedWaveDriver>(*driver_);
    form_ = std::make_unique<TDokuForm>("", "");
    form_->Playback.Chain.SetDevice(0, device);
    HandOver(*form_);
    return *form_;
  }
  // The source frame a heard frame is (the frames are numbered by their values).
  static uint32_t FrameNumber(const std::vector<uint8_t>& heard, size_t frame) {
    const uint8_t* at = heard.data() + frame * 4;
    const uint32_t left = at[0] | at[1] << 8;
    const uint32_t right = at[2] | at[3] << 8;
    return ((right - left * 0x9E37) & 0xFFFF) << 16 | left;
  }
  // The WAV player's stops, counted beside the window's own handler.
  int& CountStops(TDokuForm& form) {
    const TNotifyEvent stopped = form.Playback.Chain.WaveOut.OnStop;
    form.Playback.Chain.WaveOut.OnStop = [this, stopped](TObject* sender) {
      ++stops_;
      stopped(sender);
    };
    return stops_;
  }
  static constexpr int kFrames = 441000;
  int stops_ = 0;
  QtMainLoop loop_;
  TempDir sink_;
  std::filesystem::path wav_ = home_ / "20260307090503.wav";
  std::vector<uint8_t> pcm_;
  std::unique_ptr<AlsaWaveDriver> driver_;
  std::unique_ptr<ScopedWaveDriver> scope_;
  std::unique_ptr<TDokuForm> form_;
};

// On a device whose clock the test moves: nothing is heard before the pause.
TEST_F(WavePlaybackTest, SeekWhilePausedPlaysOnExactlyFromThere) {
  FakeWaveDriver driver;
  ScopedWaveDriver scope(driver);
  TDokuForm form("", "");
  form.Playback.Chain.SetDevice(0, "Fake Output");
  EXPECT_FALSE(form.PlayTimer.isActive());  // nothing to show yet: nothing wakes for it
  HandOver(form);
  // From the hand-over on the window's own timer keeps the display.
  EXPECT_TRUE(loop_.PumpUntil([&] { return form.PositionLabel->text() == "Position : 09:05:03"; }, 5s));
  int& stops = CountStops(form);
  form.SpdBtnPlayClick();
  form.SpdBtnPauseClick();
  form.SliderTrack();
  form.Slider->SetPosition(500);
  form.SliderTrackEnd();  // five seconds in, and on
  const std::shared_ptr<FakePcm> device = driver.Last(WaveDirection::kOutput);
  ASSERT_TRUE(device);
  // The time shown is that of what is heard, not of the buffers queued ahead of it.
  form.PlayTimerTimer();
  EXPECT_EQ(form.PositionLabel->text().toStdString(), "Position : 09:05:08");
  for (int step = 0; step < 200; ++step) {
    ASSERT_TRUE(device->WaitUntil([](const FakePcm& p) { return p.Buffered() >= 441; }));
    device->Advance(441);
  }
  EXPECT_TRUE(loop_.PumpUntil([&] { return form.PositionLabel->text() == "Position : 09:05:10"; }, 5s))
      << form.PositionLabel->text().toStdString();
  for (int step = 0; step < 2000 && stops == 0; ++step) {
    device->Advance(441);
    loop_.PumpUntil([&] { return stops > 0; }, 2ms);
  }
  ASSERT_GT(stops, 0);
  EXPECT_TRUE(messages_.empty()) << messages_.front();

  // Every frame from the seek point on, once and in order, but for the 1 ms
  // ramps at both ends of the run.
  const std::vector<uint8_t> heard = device->PlayedBytes();
  constexpr uint32_t kRamp = 44;
  ASSERT_GE(heard.size() / 4, kFrames / 2u);
  for (uint32_t f = kRamp; f < kFrames / 2 - kRamp; ++f) ASSERT_EQ(FrameNumber(heard, f), kFrames / 2 + f) << f;
}

// Through ALSA into a file: paused and played on, played again after its end, and
// again from the slider's start, the recording reaches the device three times
// whole, each frame once and in order (but for the 1 ms ramps at the ends).
TEST_F(WavePlaybackTest, PauseResumeAndReplayLoseAndRepeatNoFrame) {
  TDokuForm& form = Open(FilePcmOptions(sink_), "Sink");
  int& stops = CountStops(form);
  form.SpdBtnPlayClick();
  form.SpdBtnPauseClick();  // with buffers queued
  EXPECT_EQ(stops, 0);
  form.SpdBtnPlayClick();
  ASSERT_TRUE(loop_.PumpUntil([&] { return stops == 1; }, 20s));
  form.SpdBtnPlayClick();
  ASSERT_TRUE(loop_.PumpUntil([&] { return stops == 2; }, 20s));
  form.SliderTrack();
  form.Slider->SetPosition(0);
  form.SliderTrackEnd();
  form.SpdBtnPlayClick();
  ASSERT_TRUE(loop_.PumpUntil([&] { return stops == 3; }, 20s));
  EXPECT_TRUE(messages_.empty()) << messages_.front();

  const std::vector<uint8_t> out = FileBytes(sink_ / "out.raw");
  ASSERT_EQ(out.size() / 4, 3u * kFrames);
  constexpr uint32_t kRamp = 44;
  for (uint32_t pass = 0; pass < 3; ++pass) {
    for (uint32_t f = kRamp; f < kFrames - kRamp; ++f) {
      ASSERT_EQ(FrameNumber(out, pass * kFrames + f), f) << pass;
    }
  }
}

TEST_F(WavePlaybackTest, FileCutShortWhilePausedStopsWithAMessage) {
  TDokuForm& form = Open(FilePcmOptions(sink_), "Sink");
  form.SpdBtnPlayClick();
  form.SpdBtnPauseClick();
  std::filesystem::resize_file(wav_, 100000);
  form.SpdBtnPlayClick();
  ASSERT_TRUE(loop_.PumpUntil([&] { return !messages_.empty(); }, 20s));
  EXPECT_EQ(messages_[0], "Playback stopped: " + wav_.string() + " has been cut short.");
}

// An output that refuses is reported; only voice-operated recording, which
// shares the sound card with it, is switched off: the clock and the contacts
// split on as they were set.
TEST_F(WavePlaybackTest, DeviceThatRefusesSwitchesOnlyVoiceSenseOff) {
  AlsaWaveDriver::Options options = FilePcmOptions(sink_);
  options.outputs = std::vector<AlsaWaveDriver::Device>{{"Gone", "nosuchpcm"}};
  TDokuForm& form = Open(options, "Gone");
  for (const int mode : {0, 3, 7, 6}) {
    SCOPED_TRACE(mode);
    messages_.clear();
    form.Settings.RecorderOptions.SaveMode = mode;
    form.SpdBtnPlayClick();
    ASSERT_GE(messages_.size(), 1u);
    EXPECT_TRUE(messages_[0].starts_with("WaveOutOpen:")) << messages_[0];
    if (mode == 6) {
      ASSERT_EQ(messages_.size(), 2u);
      EXPECT_EQ(messages_[1], "Voice sense is deactivated due to limitations of the sound card.");
      EXPECT_EQ(form.Settings.RecorderOptions.SaveMode, 5);
    } else {
      EXPECT_EQ(messages_.size(), 1u);
      EXPECT_EQ(form.Settings.RecorderOptions.SaveMode, mode);
    }
  }
}

// Files that hold no sound are reported as what they are when chosen; Play then
// neither blames the sound card nor changes the recording mode.
TEST_F(WavePlaybackTest, MalformedFilesGiveTheirOwnError) {
  TDokuForm& form = Open(FilePcmOptions(sink_), "Sink");
  std::string fmt;
  for (uint32_t v : {0x00020001u, 44100u, 176400u, 0x00100004u}) PutUint32(fmt, v);
  const auto header = [&](uint32_t riff_size, uint32_t data_size) {
    std::string wav = "RIFF";
    PutUint32(wav, riff_size);
    wav += "WAVE" + Chunk("fmt ", fmt) + "data";
    PutUint32(wav, data_size);
    return wav;
  };
  // IMA ADPCM whose blocks cannot hold the samples they announce, or whose
  // channels no decoder takes.
  const auto ima = [](uint16_t channels, uint16_t spb) {
    std::string wav = "RIFF";
    PutUint32(wav, 4 + 28 + 8 + 2048);
    std::string ima_fmt;
    for (uint32_t v : {0x11u | channels << 16, 8000u, 4055u, 0x00040000u | 256u * channels, 2u | spb << 16}) PutUint32(ima_fmt, v);
    return wav + "WAVE" + Chunk("fmt ", ima_fmt) + Chunk("data", std::string(2048, '\x11'));
  };
  // The chunks past a RIFF size of 12; no samples; a data size with none there; a cut header.
  const std::vector<std::string> files = {header(12, 0), header(36, 0), header(1036, 1000),
                                          header(36, 0).substr(0, 30), ima(1, 506), ima(3, 505)};
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(i);
    messages_.clear();
    form.Settings.RecorderOptions.SaveMode = 6;
    form.Playback.PlaybackFile = Home("2026030709051" + std::to_string(i) + ".wav").string();
    PutFile(form.Playback.PlaybackFile, std::vector<uint8_t>(files[i].begin(), files[i].end()));
    form.LoadPlaybackFile();
    ASSERT_EQ(messages_.size(), 1u);
    if (i >= 4) {
      EXPECT_EQ(messages_[0], form.Playback.PlaybackFile + ": its IMA ADPCM format cannot be decoded.");
    } else {
      EXPECT_TRUE(messages_[0] == form.Playback.PlaybackFile + " holds no sound to play." ||
                  messages_[0] == "This is not a valid Audiofile")
          << messages_[0];
    }
    EXPECT_FALSE(form.SpdBtnPlay->isEnabled());
    form.SpdBtnPlayClick();
    EXPECT_EQ(messages_.size(), 1u);
    EXPECT_EQ(form.Settings.RecorderOptions.SaveMode, 6);
  }
}

using SeekBeforePlayTest = RecorderTest;

// Five seconds of silence and five of a tone, as every kind, moved to 60 % before
// Play: the handle stays there, and ALSA gets from the first 10 ms on the tone of
// the last 40 % alone.
TEST_F(SeekBeforePlayTest, PlayStartsWhereTheSliderWasMovedForEveryKind) {
  constexpr int kRate = 44100;
  constexpr int kBlock = kRate / 100;
  std::vector<uint8_t> pcm(kRate * 5 * 4, 0);
  for (int i = 0; i < kRate * 5; ++i) {
    const auto v = static_cast<int16_t>(10000 * std::sin(i * 2 * M_PI * 441 / kRate));
    pcm.insert(pcm.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                           static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
  }
  PutFile(home_ / "tone.raw", pcm);
  const std::string in = "'" + (home_ / "tone.raw").string() + "' ";
  const std::string sox = "sox -t raw -r 44100 -e signed -b 16 -c 2 " + in;
  const std::pair<TPlaybackKind, std::string> kinds[] = {
      {pkWave, sox},
      {pkWave, sox + "-e ms-adpcm "},
      {pkVorbis, "oggenc -Q --raw " + in + "-o "},
      {pkMP3, "lame -S -r -s 44.1 -b 192 " + in}};
  TempDir sink;
  AlsaWaveDriver driver(FilePcmOptions(sink));
  ScopedWaveDriver scope(driver);
  AlsaSoundSystem alsa({FilePcmOptions(sink).config, std::vector<SoundDevice>{{"Sink", "sink"}}});
  QtMainLoop loop;
  for (const auto& [kind, command] : kinds) {
    const std::string path = Home(kind == pkVorbis ? "20260307090503.ogg"
                                  : kind == pkMP3  ? "20260307090503.mp3"
                                                   : "20260307090503.wav")
                                 .string();
    SCOPED_TRACE(command);
    ASSERT_EQ(std::system((command + "'" + path + "' 2>/dev/null").c_str()), 0);
    std::filesystem::remove(sink / "out.raw");
    TDokuForm form("", "", nullptr, &alsa);
    form.Playback.Chain.SetDevice(0, "Sink");
    form.Playback.PlaybackFile = path;
    form.Playback.PlaybackKind = kind;
    form.LoadPlaybackFile();
    form.Slider->SetPosition(600);
    form.SliderTrackEnd();
    form.PlayTimerTimer();
    EXPECT_NEAR(form.Slider->Position(), 600, 10);  // the gauge counts whole percent
    int stops = 0;
    form.Playback.Chain.WaveOut.OnStop = [&](TObject*) { ++stops; };
    form.SpdBtnPlayClick();
    const TDXAudioOut& output =
        kind == pkVorbis ? form.Playback.Chain.DXAudioOut1 : form.Playback.Chain.DXAudioOut2;
    ASSERT_TRUE(loop.PumpUntil(
        [&] { return kind == pkWave ? stops > 0 : output.GetStatus() == TAuStatus::kIdle; }, 20s));
    EXPECT_TRUE(messages_.empty()) << messages_.front();
    const std::vector<uint8_t> heard = FileBytes(sink / "out.raw");
    const auto loud = [&](size_t block) {
      double sum = 0;
      for (size_t f = block * kBlock; f < (block + 1) * kBlock; ++f) {
        sum += std::pow(static_cast<int16_t>(heard[f * 4] | heard[f * 4 + 1] << 8), 2);
      }
      return sum / kBlock > 2000.0 * 2000.0;
    };
    size_t tone = 0;  // loud 10 ms blocks from the first on
    while ((tone + 1) * kBlock * 4 <= heard.size() && loud(tone)) ++tone;
    // An MP3 input counts a third of a second more than the recording holds.
    const int64_t frames =
        kind == pkMP3 ? form.Playback.Chain.MP3In1.GetLengthSamples() : 10 * kRate;
    EXPECT_NEAR(static_cast<int64_t>(tone), (10 * kRate - frames * 6 / 10) / kBlock, 6);
    if (kind != pkWave) continue;
    // The seek held for that run alone: played again, the recording starts from its beginning.
    stops = 0;
    form.SpdBtnPlayClick();
    ASSERT_TRUE(loop.PumpUntil([&] { return stops > 0; }, 20s));
    const std::vector<uint8_t> both = FileBytes(sink / "out.raw");
    EXPECT_NEAR(static_cast<int64_t>(both.size() - heard.size()), 10 * kRate * 4, 2 * kBlock * 4);  // ADPCM pads its last block
  }
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
    form.Playback.PlaybackFile = (home_ / name).string();
    const bool vorbis = name.ends_with(".ogg");
    form.Playback.PlaybackKind = vorbis ? pkVorbis : pkMP3;
    TDXAudioOut& output = vorbis ? form.Playback.Chain.DXAudioOut1 : form.Playback.Chain.DXAudioOut2;
    form.LoadPlaybackFile();
    form.SpdBtnPlayClick();
    // The panel's timer may show the position while the file is being refused.
    ASSERT_TRUE(loop.PumpUntil(
        [&] {
          form.PlayTimerTimer();
          return !messages_.empty();
        },
        10s));
    EXPECT_TRUE(loop.PumpUntil([&] { return output.GetStatus() == TAuStatus::kIdle; }, 10s));
    EXPECT_EQ(messages_.size(), 1u);
  }
}

}  // namespace
}  // namespace pmx::test
