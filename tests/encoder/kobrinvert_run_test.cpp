// Runs the real program, as the recorder starts it, on generated WAV files.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "tests/audio/streaming/ogg_check.h"
#include "tests/audio/streaming/wav_bytes.h"
#include "tests/support/temp_dir.h"

namespace pmx {
namespace {

std::filesystem::path Program() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin" / "kobrinvert";
}

// The exit code of kobrinvert with the arguments, on Qt's offscreen platform.
int RunKobrinvert(const std::string& arguments) {
  const std::string command = "QT_QPA_PLATFORM=offscreen '" + Program().string() + "' " + arguments + " 2>/dev/null";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Folder {
  Folder() { std::filesystem::create_directory(wav.parent_path()); }
  test::TempDir dir;
  std::filesystem::path wav = dir / "My Rec/x.wav";
  std::filesystem::path ogg = dir / "My Rec/x.ogg";
  std::string argument = (dir.path() / "My*Rec/x.wav").string();
};

TEST(Kobrinvert, EncodesBesideTheWavAndDeletesItOnlyWhenAsked) {
  ASSERT_TRUE(std::filesystem::exists(Program())) << Program();
  for (const std::string sixth : {"delete", ""}) {
    SCOPED_TRACE(sixth);
    Folder f;
    test::WavBytes::Pcm16(2, 44100, test::Sine16(22050, 2, 44100, 440, 0.5)).Save(f.wav);
    EXPECT_EQ(RunKobrinvert(f.argument + " 0.2 150 180 0 " + sixth), 0);
    const test::DecodedOgg ogg = test::DecodeOgg(f.ogg);
    ASSERT_TRUE(ogg.ok);
    EXPECT_EQ(ogg.pcm_total, 22050);
    EXPECT_EQ(ogg.channels, 2);
    EXPECT_EQ(std::filesystem::exists(f.wav), sixth != "delete");
  }
}

TEST(Kobrinvert, ACorruptWavIsKeptAndTheRunFails) {
  Folder f;
  test::WavBytes w = test::WavBytes::Pcm16(1, 8000, {1, 2, 3});
  w.bytes[20] = 99;  // an unknown format tag
  w.Save(f.wav);
  EXPECT_NE(RunKobrinvert(f.argument + " 0.2 0 0 0 delete"), 0);
  EXPECT_TRUE(std::filesystem::exists(f.wav));
  EXPECT_FALSE(std::filesystem::exists(f.ogg));  // nothing was encoded
  EXPECT_NE(RunKobrinvert(f.argument + " fast 0 0 0 delete"), 0);
  EXPECT_TRUE(std::filesystem::exists(f.wav));
}

}  // namespace
}  // namespace pmx
