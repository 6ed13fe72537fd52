#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "platform/spawn_detached.h"
#include "tests/recorder/recorder_fixture.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;

// The build places the script in the program folder, bin/ beside tests/.
std::filesystem::path Mosquill() {
  return std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "bin" / "mosquill";
}

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8 & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// A fifth of a second of a 440 Hz tone, 8000 Hz mono 16 bit.
std::string ToneWav() {
  std::string samples;
  for (int i = 0; i < 1600; ++i) {
    Put16(samples, static_cast<uint16_t>(static_cast<int16_t>(8000 * std::sin(i * 2 * M_PI * 440 / 8000))));
  }
  std::string wav = "RIFF";
  Put32(wav, 36 + samples.size());
  wav += "WAVEfmt ";
  Put32(wav, 16);
  Put16(wav, 1);
  Put16(wav, 1);
  Put32(wav, 8000);
  Put32(wav, 16000);
  Put16(wav, 2);
  Put16(wav, 16);
  wav += "data";
  Put32(wav, samples.size());
  return wav + samples;
}

class MosquillTest : public ::testing::Test {
 protected:
  MosquillTest() { std::filesystem::create_directory(folder_); }

  // Runs mosquill as the recorder does and waits for it to end.
  void Encode(const std::vector<std::string>& arguments) {
    const pid_t pid = SpawnDetached(Mosquill(), arguments, folder_);
    ASSERT_GT(pid, 0) << Mosquill();
    ASSERT_TRUE(ChildReaper::Instance().WaitReaped(pid, 60s));
  }

  test::TempDir dir_;
  std::filesystem::path folder_ = dir_ / "my rec";
  std::filesystem::path wav_ = folder_ / "20260307090503.wav";
  std::filesystem::path mp3_ = folder_ / "20260307090503.mp3";
  std::string starred_ = (dir_ / "my*rec/20260307090503.wav").string();
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

TEST_F(MosquillTest, FailedEncodeKeepsTheWav) {
  test::WriteFile(wav_, "not a recording");
  Encode({starred_, "32", "0", "0", "1", "delete"});
  EXPECT_EQ(test::ReadFile(wav_), "not a recording");
  EXPECT_FALSE(std::filesystem::exists(mp3_));

  // lame can't write where a folder stands in the way of its output.
  test::WriteFile(wav_, ToneWav());
  std::filesystem::create_directory(folder_ / "20260307090503.mp3.part");
  Encode({starred_, "32", "0", "0", "1", "delete"});
  EXPECT_TRUE(std::filesystem::exists(wav_));
  EXPECT_FALSE(std::filesystem::exists(mp3_));
  std::filesystem::remove(folder_ / "20260307090503.mp3.part");

  // An MP3 already there is not replaced, and the WAV stays.
  test::WriteFile(mp3_, "older");
  Encode({starred_, "32", "0", "0", "1", "delete"});
  EXPECT_EQ(test::ReadFile(mp3_), "older");
  EXPECT_TRUE(std::filesystem::exists(wav_));
}

}  // namespace
}  // namespace pmx
