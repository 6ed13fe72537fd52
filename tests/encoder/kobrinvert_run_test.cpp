// Runs the real program, as the recorder starts it, on generated WAV files.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "encoder/encode_job.h"
#include "platform/byte_order.h"
#include "tests/audio/streaming/ogg_check.h"
#include "tests/audio/streaming/wav_bytes.h"
#include "tests/support/file_bytes.h"
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

// The length check reads the pages' granule positions: an .ogg cut short, or
// whose last page is damaged, never counts as holding every frame.
TEST(Kobrinvert, TheEncodedLengthOfAShortOrDamagedOggFallsShort) {
  Folder f;
  test::WavBytes::Pcm16(2, 44100, test::Sine16(88200, 2, 44100, 440, 0.5)).Save(f.wav);
  ASSERT_EQ(RunKobrinvert(f.argument + " 0.2 0 0 0"), 0);
  const std::vector<uint8_t> whole = test::FileBytes(f.ogg);
  TVorbisEncodeJob job;
  EXPECT_EQ(job.EncodedFrames(f.ogg.string()), 88200);
  const auto last_page = std::find_end(whole.begin(), whole.end(), "OggS", "OggS" + 4) - whole.begin();
  std::vector<uint8_t> damaged = whole;
  damaged[last_page + 30] ^= 0x55;  // its checksum no longer holds
  const std::filesystem::path other = f.dir / "other.ogg";
  for (const auto& [what, bytes] : {std::pair{"half", std::vector(whole.begin(), whole.begin() + whole.size() / 2)},
                                    std::pair{"last page cut", std::vector(whole.begin(), whole.end() - 5)},
                                    std::pair{"last page damaged", damaged}}) {
    SCOPED_TRACE(what);
    test::PutFile(other, bytes);
    const int64_t frames = job.EncodedFrames(other.string());
    EXPECT_LT(frames, 88200);
  }
}

// A recorder killed before it fixed its header leaves a data size of 0, or of the
// first second only: the audio after it is encoded too, and only then does the WAV go.
TEST(Kobrinvert, AWavWhoseHeaderUndercountsItsDataIsEncodedWhole) {
  for (const uint32_t said : {0u, 16000u}) {
    SCOPED_TRACE(said);
    Folder f;
    test::WavBytes w = test::WavBytes::Pcm16(1, 8000, test::Sine16(24000, 1, 8000, 440, 0.5));
    StoreLE32(&w.bytes[4], 0);
    StoreLE32(&w.bytes[40], said);
    w.Save(f.wav);
    EXPECT_EQ(RunKobrinvert(f.argument + " 0.2 0 0 0 delete"), 0);
    EXPECT_EQ(test::DecodeOgg(f.ogg).pcm_total, 24000);
    EXPECT_FALSE(std::filesystem::exists(f.wav));
  }
}

// The WAV, and an .ogg made before, stay as they were; no part of a new one is left.
TEST(Kobrinvert, AFailedEncodeKeepsTheWavAndTheOldOgg) {
  Folder f;
  const std::filesystem::path part = f.ogg.string() + ".part";
  const std::vector<uint8_t> old_ogg{'o', 'l', 'd'};
  ASSERT_EQ(std::system(("sox -n -r 8000 -c 1 -e ms-adpcm '" + f.wav.string() + "' synth 3 sine 440").c_str()), 0);
  std::vector<uint8_t> adpcm = test::FileBytes(f.wav);
  const size_t block_align = adpcm[32] | adpcm[33] << 8;
  const size_t data = std::search(adpcm.begin(), adpcm.end(), "data", "data" + 4) - adpcm.begin() + 8;
  ASSERT_LT(data + 4 * block_align, adpcm.size());
  adpcm[data + 3 * block_align] = 9;  // the fourth block names a coefficient pair that doesn't exist
  test::WavBytes corrupt_fmt = test::WavBytes::Pcm16(1, 8000, {1, 2, 3});
  corrupt_fmt.bytes[20] = 99;  // an unknown format tag
  for (const auto& [what, wav] : {std::pair{"damaged block", adpcm}, std::pair{"corrupt format", corrupt_fmt.bytes}}) {
    SCOPED_TRACE(what);
    test::PutFile(f.wav, wav);
    test::PutFile(f.ogg, old_ogg);
    EXPECT_EQ(RunKobrinvert(f.argument + " 0.2 0 0 0 delete"), 1);
    EXPECT_EQ(test::FileBytes(f.wav), wav);
    EXPECT_EQ(test::FileBytes(f.ogg), old_ogg);
    EXPECT_FALSE(std::filesystem::exists(part));
  }
  EXPECT_EQ(RunKobrinvert(f.argument + " fast 0 0 0 delete"), 1);
  EXPECT_TRUE(std::filesystem::exists(f.wav));
}

}  // namespace
}  // namespace pmx
