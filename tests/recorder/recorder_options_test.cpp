#include "recorder/recorder_options.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "recorder/event_log.h"
#include "recorder/options_file.h"
#include "tests/recorder/recorder_fixture.h"

namespace pmx {
namespace {

using test::CrLfLines;
using test::ReadFile;
using test::WriteFile;

class OptionsTest : public test::RecorderTest {
 protected:
  // A record with a value of its own in every field.
  TRecorderOptions SampleRecord() {
    TRecorderOptions r;
    r.RecordingFormat = &format_;
    format_ = WaveFormatEx::Pcm(44100, 16, 2);
    format_.set_nAvgBytesPerSec(4000000000u);  // above the signed 32-bit range
    const std::array<uint8_t, 2> extra = {0xF4, 0x01};
    format_.SetExtra(extra);
    r.SaveMode = 3;
    r.Schedule[0][6] = true;
    r.Schedule[2][0] = true;
    r.Schedule[7][23] = true;
    r.DriveFlags = {true, false, false, true, false, true};
    r.RecordingFolder = "/srv/my recordings";
    r.FreeSpaceMB = -5;
    r.FormatText = "PCM 44.100 kHz, 16 Bit, Stereo";
    r.Threshold = 32768;
    r.SilenceDelay = 100;
    r.RecordFormat = 3;
    r.SampleRateIndex = 3;
    r.ChannelsIndex = 2;
    r.CompressedDays = 2000;
    r.BitRateIndex = 11;
    r.InDevice = 255;
    r.OutDevice = 1;
    r.HideDelete = true;
    r.AlarmOutputs = true;
    r.PortIndex = 5;
    r.EncoderDelay = 10;
    r.WavDays = 7;
    r.QualityIndex = 4;
    r.StopDelay = 50;
    return r;
  }

  // The record's file with one line (1-based) replaced, or the file cut after it.
  std::string SampleText(int line, const std::string& replacement) {
    std::vector<std::string> lines = CrLfLines(WriteOptionsText(SampleRecord()));
    lines[line - 1] = replacement;
    std::string text;
    for (const std::string& l : lines) text += l + "\r\n";
    return text;
  }

  WaveFormatEx format_;
};

TEST_F(OptionsTest, SavedFileHasTheFixedLayoutAndLoadsBackToTheSameRecord) {
  const TRecorderOptions saved = SampleRecord();
  ASSERT_TRUE(SaveOptions(settings_, saved));
  const std::vector<std::string> lines = CrLfLines(ReadFile(Home("options.ini")));
  ASSERT_EQ(lines.size(), 58u);
  EXPECT_EQ(lines[0], "3");
  EXPECT_EQ(lines[1], "FALSEFALSE TRUEFALSEFALSEFALSEFALSEFALSE");  // hour 0: Tuesday
  EXPECT_EQ(lines[7], " TRUEFALSEFALSEFALSEFALSEFALSEFALSEFALSE");  // hour 6: every day
  EXPECT_EQ(lines[24], "FALSEFALSEFALSEFALSEFALSEFALSEFALSE TRUE");  // hour 23: Sunday
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 25, lines.begin() + 31),
            (std::vector<std::string>{"TRUE", "FALSE", "FALSE", "TRUE", "FALSE", "TRUE"}));
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 31, lines.begin() + 41),
            (std::vector<std::string>{"/srv/my recordings", "-5", "1", "2", "44100", "4000000000", "4",
                                      "16", "2", "PCM 44.100 kHz, 16 Bit, Stereo"}));
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 41, lines.end()),
            (std::vector<std::string>{"32768", "100", "3", "3", "2", "2000", "11", "255", "1", "TRUE",
                                      "FALSE", "TRUE", "5", "10", "7", "4", "50"}));
  EXPECT_EQ(ComNumber, 3);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home_.path()), {}), 1)
      << "no temporary file is left behind";

  ResetOptions();
  LoadOptions(settings_);
  const WaveFormatEx& loaded_format = settings_.RecordingFormatBuffer;
  EXPECT_TRUE(messages_.empty());
  TRecorderOptions expected = saved;
  expected.RecordingFormat = &settings_.RecordingFormatBuffer;
  EXPECT_EQ(RecorderOptions, expected);
  EXPECT_EQ(loaded_format.nAvgBytesPerSec(), 4000000000u);
  EXPECT_EQ(loaded_format.cbSize(), 2u);
  EXPECT_EQ(loaded_format.Extra().size(), 2u) << "the record stays as long as its size field says";
  EXPECT_EQ(ComNumber, 3);
}

TEST_F(OptionsTest, FieldsAreReadAsTheyAreWritten) {
  // Hour 5: the first three fields " TRUE", "FALSE", " TRUE"; the line is short.
  std::string text = SampleText(7, " TRUEFALSE TRUE");
  TRecorderOptions r = SampleRecord();
  ASSERT_FALSE(ReadOptionsText(text, r));
  EXPECT_TRUE(r.Schedule[0][5]);
  EXPECT_FALSE(r.Schedule[1][5]);
  EXPECT_TRUE(r.Schedule[2][5]);
  EXPECT_FALSE(r.Schedule[3][5]);

  // Booleans: "TRUE" anywhere, in capitals only.
  ASSERT_FALSE(ReadOptionsText(SampleText(51, "true"), r));
  EXPECT_FALSE(r.HideDelete);
  ASSERT_FALSE(ReadOptionsText(SampleText(51, "xTRUEx"), r));
  EXPECT_TRUE(r.HideDelete);

  // Numbers: leading blanks and the rest of the line are skipped; a device of 255 stays.
  ASSERT_FALSE(ReadOptionsText(SampleText(42, "  1200 peak units"), r));
  EXPECT_EQ(r.Threshold, 1200);
  ASSERT_FALSE(ReadOptionsText(SampleText(49, "255"), r));
  EXPECT_EQ(r.InDevice, 255);

  // A file with LF line ends reads the same.
  std::string lf = WriteOptionsText(SampleRecord());
  std::erase(lf, '\r');
  TRecorderOptions from_lf;
  from_lf.RecordingFormat = &format_;
  ASSERT_FALSE(ReadOptionsText(lf, from_lf));
  EXPECT_EQ(from_lf, SampleRecord());
}

// An index or count outside its setting's range would fall on a meaning nobody
// chose (a sample-rate index of 65535 recorded 11025 Hz mono 8-bit): the first-start
// setting is used, and the user is told the line, the number and what is used.
TEST_F(OptionsTest, NumbersOutOfRangeTakeTheFirstStartSettingAndAreReported) {
  std::vector<std::string> lines = CrLfLines(WriteOptionsText(SampleRecord()));
  for (const auto& [line, text] : {std::pair{1, "8"}, {42, "0"}, {45, "65535"}, {46, "-1"}, {49, "257"},
                                   {58, "51"}}) {
    lines[line - 1] = text;
  }
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  WriteFile(Home("options.ini"), text);
  LoadOptions(settings_);

  TRecorderOptions expected = SampleRecord();
  const TRecorderOptions first_start = DefaultRecorderOptions();
  expected.SaveMode = first_start.SaveMode;
  expected.Threshold = first_start.Threshold;
  expected.SampleRateIndex = first_start.SampleRateIndex;
  expected.ChannelsIndex = first_start.ChannelsIndex;
  expected.InDevice = first_start.InDevice;
  expected.StopDelay = first_start.StopDelay;
  expected.RecordingFormat = RecorderOptions.RecordingFormat;
  EXPECT_EQ(RecorderOptions, expected);
  EXPECT_EQ(RecorderOptions.SampleRateIndex, 3) << "44.1 kHz";
  const std::string said = "Error reading options (options.ini): line ";
  EXPECT_EQ(messages_, (std::vector<std::string>{said + "1 holds 8, outside 0..7: 5 is used.",
                                                 said + "42 holds 0, outside 1..32768: 1000 is used.",
                                                 said + "45 holds 65535, outside 0..3: 3 is used.",
                                                 said + "46 holds -1, outside 0..3: 3 is used.",
                                                 said + "49 holds 257, outside 0..255: 0 is used.",
                                                 said + "58 holds 51, outside 0..50: 0 is used."}));
}

TEST_F(OptionsTest, FileEndingAfterLineTenRepeatsHourEightAndKeepsTheRest) {
  TRecorderOptions saved = SampleRecord();
  saved.Schedule[1][8] = true;
  saved.Schedule[4][8] = true;
  std::vector<std::string> lines = CrLfLines(WriteOptionsText(saved));
  std::string text;
  for (int i = 0; i < 10; ++i) text += lines[i] + "\r\n";
  WriteFile(Home("options.ini"), text);

  RecorderOptions.WavDays = 3;
  RecorderOptions.PortIndex = 1;
  LoadOptions(settings_);
  for (int hour = 9; hour < 24; ++hour) {
    for (int row = 0; row < kScheduleRows; ++row) {
      EXPECT_EQ(RecorderOptions.Schedule[row][hour], saved.Schedule[row][8]) << row << " " << hour;
    }
  }
  EXPECT_TRUE(RecorderOptions.Schedule[2][0]);
  EXPECT_EQ(RecorderOptions.SaveMode, 3);
  EXPECT_EQ(RecorderOptions.WavDays, 3) << "lines beyond the end keep their values";
  EXPECT_EQ(LptBase, 0x278) << "start-up goes on";
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_NE(messages_[0].find("line 11 is missing"), std::string::npos) << messages_[0];
}

TEST_F(OptionsTest, NumberLineWithTextStopsTheLoadAtThatLine) {
  WriteFile(Home("options.ini"), SampleText(42, "loud"));
  RecorderOptions.Threshold = 900;
  RecorderOptions.StopDelay = 9;
  LoadOptions(settings_);
  EXPECT_EQ(RecorderOptions.FormatText, "PCM 44.100 kHz, 16 Bit, Stereo") << "line 41 was read";
  EXPECT_EQ(RecorderOptions.Threshold, 900);
  EXPECT_EQ(RecorderOptions.StopDelay, 9);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0],
            "Error reading options (options.ini): line 42 holds no number. The settings from this "
            "line on keep their previous values.");

  for (const char* bad : {"", "12abc", "99999999999", "0x10"}) {
    TRecorderOptions r = SampleRecord();
    std::optional<OptionsFileProblem> problem = ReadOptionsText(SampleText(1, bad), r);
    ASSERT_TRUE(problem) << '"' << bad << '"';
    EXPECT_EQ(problem->line, 1);
  }
}

TEST_F(OptionsTest, FirstStartWritesTheDefaultsForTheRunningUser) {
  const std::string saved_home = std::getenv("HOME");
  setenv("HOME", Home("user").c_str(), 1);
  std::filesystem::create_directory(Home("user"));
  setenv("PELMORAX_HOME", Home("fresh/settings").c_str(), 1);
  testing::internal::CaptureStderr();
  LoadOptions(settings_);
  const std::string said = testing::internal::GetCapturedStderr();
  const std::filesystem::path settings = Home("fresh/settings");
  const std::string text = ReadFile(settings / "options.ini");
  setenv("HOME", saved_home.c_str(), 1);

  EXPECT_TRUE(messages_.empty()) << "nobody has to be at the screen";
  EXPECT_EQ(RecorderOptions.RecordingFolder, Home("user/Pelmorax").string());
  EXPECT_TRUE(std::filesystem::is_directory(Home("user/Pelmorax")));
  const std::vector<std::string> lines = CrLfLines(text);
  ASSERT_EQ(lines.size(), 58u);
  EXPECT_EQ(lines[31], Home("user/Pelmorax").string());
  EXPECT_EQ(lines[35], "44100");
  EXPECT_EQ(lines[46], "1") << "compressed files kept a day";
  TRecorderOptions reread = RecorderOptions;
  ASSERT_FALSE(ReadOptionsText(text, reread));
  EXPECT_EQ(reread, RecorderOptions);
  // A headless owner is told where the recordings go and that they are deleted a day later.
  const std::string line =
      "First start: default settings written to " + (settings / "options.ini").string() +
      "; recordings go to " + Home("user/Pelmorax").string() +
      "; WAV recordings are deleted after 1 day and compressed ones after 1 day (Options > Files)";
  EXPECT_NE(ReadFile(MonthlyLogFile(RecorderClock::Now())).find(line), std::string::npos);
  EXPECT_NE(said.find("pelmorax: " + line + "\n"), std::string::npos) << said;
}

TEST_F(OptionsTest, UnreadableFileKeepsTheDefaultsAndIsNotReplaced) {
  std::filesystem::create_directory(Home("options.ini"));
  RecorderOptions.PortIndex = 4;
  LoadOptions(settings_);
  ASSERT_EQ(messages_, std::vector<std::string>{"Error reading options (options.ini): it is not a regular file. "
                                                "The first-start settings are used."});
  EXPECT_TRUE(RecorderOptions.DriveFlags[0]);
  EXPECT_EQ(ComNumber, 0) << "not derived without a file";
  // A FIFO someone put there is theirs: a save does not put a file in its place.
  std::filesystem::remove(Home("options.ini"));
  ASSERT_EQ(mkfifo(Home("options.ini").c_str(), 0600), 0);
  messages_.clear();
  EXPECT_FALSE(SaveOptions(settings_, SampleRecord()));
  EXPECT_EQ(messages_, std::vector<std::string>{"Error writing options."});
  EXPECT_TRUE(std::filesystem::is_fifo(Home("options.ini")));
}

TEST_F(OptionsTest, PortIndexGivesLptBaseOrComNumber) {
  struct Case {
    uint16_t index, lpt, com;
  };
  for (Case c : {Case{0, 0x378, 0}, Case{2, 0x3BC, 0}, Case{3, 0, 1}, Case{4, 0, 2}, Case{8, 0, 6},
                 Case{9, 0, 0}}) {
    TRecorderOptions r = SampleRecord();
    r.PortIndex = c.index;
    WriteFile(Home("options.ini"), WriteOptionsText(r));
    LptBase = ComNumber = 77;
    LoadOptions(settings_);
    EXPECT_EQ(LptBase, c.lpt) << c.index;
    EXPECT_EQ(ComNumber, c.com) << c.index;
  }
}

TEST_F(OptionsTest, FailedSaveKeepsFileAndRecord) {
  WriteFile(Home("options.ini"), "old");
  RecorderOptions.Threshold = 77;
  // The temporary file can't be created where a folder of its name stands.
  std::filesystem::create_directory(Home("options.ini.tmp-" + std::to_string(getpid())));
  EXPECT_FALSE(SaveOptions(settings_, SampleRecord()));
  EXPECT_EQ(messages_, std::vector<std::string>{"Error writing options."});
  EXPECT_EQ(ReadFile(Home("options.ini")), "old");
  EXPECT_EQ(RecorderOptions.Threshold, 77);
}

TEST_F(OptionsTest, EnsureRecordingDirectoryCreatesOneLevel) {
  RecorderOptions.RecordingFolder = Home("recordings").string();
  EnsureRecordingDirectory(RecorderOptions);
  EXPECT_TRUE(std::filesystem::is_directory(Home("recordings")));
  EnsureRecordingDirectory(RecorderOptions);
  EXPECT_TRUE(messages_.empty());

  RecorderOptions.RecordingFolder = Home("a/b").string();
  EnsureRecordingDirectory(RecorderOptions);
  EXPECT_FALSE(std::filesystem::exists(Home("a")));
  EXPECT_EQ(messages_,
            std::vector<std::string>{"Error generating : " + Home("a/b").string() + " (No such file or directory)"});

  RecorderOptions.RecordingFolder = "ab";
  EnsureRecordingDirectory(RecorderOptions);
  EXPECT_FALSE(std::filesystem::exists("ab"));
  EXPECT_EQ(messages_.size(), 1u);
}

}  // namespace
}  // namespace pmx
