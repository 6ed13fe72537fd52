#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "audio/streaming/decoded_length.h"
#include "audio/streaming/wm_in.h"
#include "platform/ipc/spawn_detached.h"
#include "tests/audio/streaming/wav_bytes.h"
#include "tests/recorder/recorder_fixture.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;

// The build places the program in bin/ beside tests/.
std::filesystem::path Mosquill() {
  return std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "bin" / "mosquill";
}

// A fifth of a second of a 440 Hz tone, 8000 Hz mono 16 bit.
std::string ToneWav() {
  std::vector<int16_t> samples;
  for (int i = 0; i < 1600; ++i) samples.push_back(static_cast<int16_t>(8000 * std::sin(i * 2 * M_PI * 440 / 8000)));
  const std::vector<uint8_t> bytes = test::WavBytes::Pcm16(1, 8000, samples).bytes;
  return std::string(bytes.begin(), bytes.end());
}

// The tone followed by a second of loud noise in a chunk of its own.
std::string ToneWavWithChunkAfter() {
  test::WavBytes wav;
  const std::string tone = ToneWav();
  wav.Raw(tone).Chunk("LIST", std::vector<uint8_t>(16000, 0x7F));
  wav.bytes[4] = static_cast<uint8_t>(wav.bytes.size() - 8);
  wav.bytes[5] = static_cast<uint8_t>((wav.bytes.size() - 8) >> 8);
  return std::string(wav.bytes.begin(), wav.bytes.end());
}

class MosquillTest : public ::testing::Test {
 protected:
  MosquillTest() { std::filesystem::create_directory(folder_); }
  ~MosquillTest() override {
    if (!path_.empty()) setenv("PATH", path_.c_str(), 1);
  }

  // Puts a lame run by script first on the PATH until the test ends.
  void FakeLame(const std::string& script) {
    const std::filesystem::path bin = dir_ / "bin";
    std::filesystem::create_directory(bin);
    test::WriteFile(bin / "lame", "#!/bin/sh\n" + script);
    std::filesystem::permissions(bin / "lame", std::filesystem::perms::owner_all);
    if (!path_.empty()) return;
    path_ = getenv("PATH");
    setenv("PATH", (bin.string() + ":" + path_).c_str(), 1);
  }

  // Runs mosquill as the recorder does and waits for it to end.
  void Encode(const std::vector<std::string>& arguments) {
    const pid_t pid = SpawnDetached(Mosquill(), arguments, folder_);
    ASSERT_GT(pid, 0) << Mosquill();
    ASSERT_TRUE(ChildReaper::Instance().WaitReaped(pid, 60s));
  }

  // Runs mosquill with its stderr kept in a file; what it wrote there.
  std::string EncodeKeepingStderr() {
    const std::filesystem::path kept = dir_ / "stderr.txt";
    const std::string command =
        "'" + Mosquill().string() + "' '" + starred_ + "' 32 0 0 1 2>'" + kept.string() + "'";
    EXPECT_NE(std::system(command.c_str()), -1);
    return test::ReadFile(kept);
  }

  test::TempDir dir_;
  std::filesystem::path folder_ = dir_ / "my rec";
  std::filesystem::path wav_ = folder_ / "20260307090503.wav";
  std::filesystem::path mp3_ = folder_ / "20260307090503.mp3";
  std::string starred_ = (dir_ / "my*rec/20260307090503.wav").string();
  std::string path_;  // the PATH before FakeLame
};

TEST_F(MosquillTest, EncodesAndDeletesTheWavOnlyWhenAsked) {
  test::WriteFile(wav_, ToneWav());
  Encode({starred_, "32", "150", "180", "1"});
  EXPECT_TRUE(std::filesystem::exists(wav_));
  ASSERT_TRUE(std::filesystem::exists(mp3_));
  const std::string mp3 = test::ReadFile(mp3_);
  ASSERT_GE(mp3.size(), 4u);
  EXPECT_TRUE(mp3.starts_with("ID3") || (static_cast<uint8_t>(mp3[0]) == 0xFF && (mp3[1] & 0xE0) == 0xE0));

  std::filesystem::remove(mp3_);
  Encode({starred_, "32", "150", "180", "1", "delete"});
  EXPECT_TRUE(std::filesystem::exists(mp3_));
  EXPECT_FALSE(std::filesystem::exists(wav_));
}

// What lame gets is the WAV's samples, all of them: those after a header whose
// data size a killed recorder left at 0, none of a chunk after them.
TEST_F(MosquillTest, EncodesTheSamplesAndNothingElse) {
  std::string undercounted = ToneWav();
  undercounted.replace(40, 4, std::string(4, '\0'));
  for (const std::string& wav : {undercounted, ToneWavWithChunkAfter()}) {
    test::WriteFile(wav_, wav);
    Encode({starred_, "32", "0", "0", "1", "delete"});
    TMP3In mp3;
    const int64_t frames = DecodedFrames(mp3, mp3_.string());
    EXPECT_NEAR(static_cast<double>(frames) / mp3.GetSampleRate(), 0.2, 2 * 1152.0 / 8000);
    EXPECT_FALSE(std::filesystem::exists(wav_));
    std::filesystem::remove(mp3_);
  }
}

// The WAV and an older MP3 stay as they were, and no part of a new one is left.
TEST_F(MosquillTest, AFailedEncodeKeepsTheWavAndTheOldMp3) {
  std::string no_channels = ToneWav();
  no_channels[22] = 0;  // lame alone would take this for raw 44.1 kHz stereo
  const std::filesystem::path part = folder_ / "20260307090503.mp3.part";
  struct Case {
    const char* what;
    std::string wav;
    bool part_in_the_way;  // and an older MP3 there
  };
  for (const Case& c : {Case{"no recording", "not a recording", false}, Case{"no channels", no_channels, false},
                        Case{"unwritable part", ToneWav(), true}}) {
    SCOPED_TRACE(c.what);
    test::WriteFile(wav_, c.wav);
    if (c.part_in_the_way) test::WriteFile(mp3_, "older");
    // lame can't write where a folder with something in it stands in the way.
    if (c.part_in_the_way) {
      std::filesystem::create_directory(part);
      test::WriteFile(part / "x", "x");
    }
    Encode({starred_, "32", "0", "0", "1", "delete"});
    EXPECT_EQ(test::ReadFile(wav_), c.wav);
    if (c.part_in_the_way) {
      EXPECT_EQ(test::ReadFile(mp3_), "older");
      std::filesystem::remove_all(part);
    } else {
      EXPECT_FALSE(std::filesystem::exists(mp3_));
    }
    EXPECT_FALSE(std::filesystem::exists(part));
  }
  // A good encode replaces the older MP3.
  Encode({starred_, "32", "0", "0", "1"});
  EXPECT_NE(test::ReadFile(mp3_), "older");
}

// lame's MP3 cut short, by part of a frame or by a whole one, with and without
// the info tag that names its delay and padding (a 72-byte frame can't hold it):
// the length check refuses it and the WAV stays.
TEST_F(MosquillTest, AnMp3CutShortKeepsTheWav) {
  test::WriteFile(wav_, ToneWav());
  struct Case {
    const char* kbps;
    int frame;  // bytes of one MP3 frame at 8 kHz
  };
  for (const Case& c : {Case{"32", 288}, Case{"8", 72}}) {
    for (const int cut : {c.frame, 20}) {
      SCOPED_TRACE(std::string(c.kbps) + " kbps, cut " + std::to_string(cut));
      // Hands everything to the real lame, then cuts the end off its MP3.
      FakeLame("for a; do out=$a; done\n/usr/bin/lame \"$@\" || exit 1\ntruncate -s -" + std::to_string(cut) +
               " \"$out\"\n");
      Encode({starred_, c.kbps, "0", "0", "1", "delete"});
      EXPECT_EQ(test::ReadFile(wav_), ToneWav());
      EXPECT_FALSE(std::filesystem::exists(mp3_));
    }
    std::filesystem::remove(dir_ / "bin" / "lame");
    Encode({starred_, c.kbps, "0", "0", "1"});  // whole, it is taken
    EXPECT_TRUE(std::filesystem::exists(mp3_));
    std::filesystem::remove(mp3_);
  }
}

// A lame that stops reading halfway makes a whole MP3 of half the samples: the
// WAV stays, whether lame read the file itself (16-bit samples running to its
// end) or a pipe (the samples of a WAV with a chunk after them).
TEST_F(MosquillTest, ALameThatStopsReadingEarlyKeepsTheWav) {
  const std::filesystem::path input = dir_ / "input.txt";
  FakeLame("stat -L -c %F /dev/stdin >'" + input.string() + "'\nhead -c 1600 | /usr/bin/lame \"$@\"\n");
  for (const auto& [wav, read] : {std::pair{ToneWav(), "regular file\n"}, std::pair{ToneWavWithChunkAfter(), "fifo\n"}}) {
    SCOPED_TRACE(read);
    test::WriteFile(wav_, wav);
    Encode({starred_, "32", "0", "0", "1", "delete"});
    EXPECT_EQ(test::ReadFile(input), read);
    EXPECT_EQ(test::ReadFile(wav_), wav);
    EXPECT_FALSE(std::filesystem::exists(mp3_));
  }
}

// lame's own errors reach mosquill's stderr; the warning it gives on every raw run does not.
TEST_F(MosquillTest, OnlyLamesRealMessagesReachStderr) {
  test::WriteFile(wav_, ToneWav());
  EXPECT_EQ(EncodeKeepingStderr(), "");
  std::filesystem::remove(mp3_);
  std::filesystem::create_directory(folder_ / "20260307090503.mp3.part");  // in lame's way
  test::WriteFile(folder_ / "20260307090503.mp3.part" / "x", "x");
  const std::string said = EncodeKeepingStderr();
  EXPECT_NE(said.find("Can't init outfile"), std::string::npos) << said;
  EXPECT_EQ(said.find("libsndfile"), std::string::npos) << said;
}

}  // namespace
}  // namespace pmx
