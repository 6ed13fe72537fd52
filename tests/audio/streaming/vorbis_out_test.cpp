#include "audio/streaming/vorbis_out.h"

#include <gtest/gtest.h>

#include "platform/main_loop.h"
#include "tests/audio/streaming/ogg_check.h"
#include "tests/support/file_bytes.h"
#include "tests/support/temp_dir.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;
using test::PcmMemoryIn;

// Encodes an input into dir/out.ogg and waits for the run to end.
struct Encode {
  Encode(std::vector<uint8_t> pcm, int channels, int bits, int rate) : input(std::move(pcm), channels, bits, rate) {
    out.SetInput(&input);
    out.SetFileName(file.string());
    out.OnDone = [this](TObject*) { ++done; };
    out.OnThreadException = [this](TObject*) { error = out.ErrorText(); };
  }
  bool Run() {
    out.Run();
    return loop.PumpUntil([&] { return done > 0; }, 30s);
  }
  std::vector<uint8_t> FileBytes() const { return test::FileBytes(file); }

  PlainMainLoop loop;
  ScopedMainLoop scope{loop};
  test::TempDir dir;
  std::filesystem::path file = dir / "out.ogg";
  PcmMemoryIn input;
  TVorbisOut out;
  int done = 0;
  std::string error;
};

TEST(VorbisOut, DecodedLengthEqualsTheInputsFrames) {
  for (int64_t frames : {88200, 12345, 0}) {
    SCOPED_TRACE(frames);
    Encode e(PcmMemoryIn::Bytes(test::Sine16(frames, 2, 44100, 440, 0.5)), 2, 16, 44100);
    ASSERT_TRUE(e.Run());
    EXPECT_EQ(e.error, "");
    EXPECT_TRUE(e.out.EndOfStream());
    EXPECT_TRUE(e.out.InputEnded());
    const test::DecodedOgg ogg = test::DecodeOgg(e.file);
    ASSERT_TRUE(ogg.ok);
    EXPECT_EQ(ogg.pcm_total, frames);
    EXPECT_EQ(static_cast<int64_t>(ogg.samples.size()), frames * 2);
    // The identification header alone makes the first page: 28 bytes of page
    // header and the 30-byte packet.
    const std::vector<uint8_t> bytes = e.FileBytes();
    ASSERT_GT(bytes.size(), 62u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "OggS");
    EXPECT_EQ(bytes[5], 2);  // beginning of stream
    EXPECT_EQ(std::string(bytes.begin() + 58, bytes.begin() + 62), "OggS");
  }
}

TEST(VorbisOut, SoundSurvivesAtEveryWidth) {
  const std::vector<int16_t> sine = test::Sine16(44100, 1, 44100, 1000, 0.5);
  struct Case {
    int bits;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases{{16, PcmMemoryIn::Bytes(sine)}, {8, {}}, {24, {}}, {32, {}}};
  for (int16_t s : sine) {
    cases[1].bytes.push_back(static_cast<uint8_t>((s >> 8) + 128));
    cases[2].bytes.insert(cases[2].bytes.end(), {0, static_cast<uint8_t>(s), static_cast<uint8_t>(s >> 8)});
    const int32_t wide = int32_t{s} * 65536;
    for (int b = 0; b < 4; ++b) cases[3].bytes.push_back(static_cast<uint8_t>(wide >> (8 * b)));
  }
  for (auto& [bits, bytes] : cases) {
    SCOPED_TRACE(bits);
    Encode e(bytes, 1, bits, 44100);
    ASSERT_TRUE(e.Run());
    const test::DecodedOgg ogg = test::DecodeOgg(e.file);
    ASSERT_TRUE(ogg.ok);
    EXPECT_EQ(ogg.pcm_total, 44100);
    EXPECT_GT(test::SnrDb(sine, ogg.samples), bits == 8 ? 15 : 20);
  }
}

TEST(VorbisOut, ABitrateTheEncoderCannotServeIsAnError) {
  Encode e(PcmMemoryIn::Bytes(test::Sine16(8000, 1, 8000, 440, 0.5)), 1, 16, 8000);
  e.out.SetDesiredNominalBitrate(TVorbisBitRate::bitrate128);
  ASSERT_TRUE(e.Run());
  EXPECT_EQ(e.error, "Vorbis codec setup with the requested bitrate failed. Try a lower bitrate.");
  EXPECT_FALSE(e.out.EndOfStream());
}

TEST(VorbisOut, BitrateModeEncodesNearTheNominalRate) {
  Encode e(PcmMemoryIn::Bytes(test::Sine16(441000, 2, 44100, 440, 0.5)), 2, 16, 44100);
  e.out.SetDesiredNominalBitrate(TVorbisBitRate::bitrate128);
  ASSERT_TRUE(e.Run());
  EXPECT_EQ(e.error, "");
  const double seconds = 10;
  const double kbps = static_cast<double>(e.FileBytes().size()) * 8 / seconds / 1000;
  EXPECT_NEAR(kbps, 128, 20);
  EXPECT_EQ(test::DecodeOgg(e.file).pcm_total, 441000);
}

TEST(VorbisOut, BitrateSettersKeepTheirOrder) {
  PlainMainLoop loop;
  ScopedMainLoop scope(loop);
  TVorbisOut out;
  out.SetDesiredMaximumBitrate(TVorbisBitRate::bitrate96);  // no nominal yet: ignored
  EXPECT_EQ(out.DesiredMaximumBitrate(), TVorbisBitRate::brAutoSelect);
  out.SetDesiredNominalBitrate(TVorbisBitRate::bitrate128);
  EXPECT_EQ(out.MinimumBitrate(), TVorbisBitRate::brAutoSelect);
  EXPECT_EQ(out.DesiredMaximumBitrate(), TVorbisBitRate::bitrate128);
  out.SetDesiredMaximumBitrate(TVorbisBitRate::bitrate96);
  EXPECT_EQ(out.DesiredMaximumBitrate(), TVorbisBitRate::bitrate128);
  out.SetMinimumBitrate(TVorbisBitRate::bitrate160);
  EXPECT_EQ(out.MinimumBitrate(), TVorbisBitRate::brAutoSelect);
  out.SetMinimumBitrate(TVorbisBitRate::bitrate64);
  out.SetDesiredNominalBitrate(TVorbisBitRate::bitrate32);
  EXPECT_EQ(out.MinimumBitrate(), TVorbisBitRate::bitrate32);
  out.SetDesiredNominalBitrate(TVorbisBitRate::brAutoSelect);
  EXPECT_EQ(out.DesiredMaximumBitrate(), TVorbisBitRate::brAutoSelect);
  EXPECT_EQ(BitsPerSecond(TVorbisBitRate::bitrate499), 499000);
}

TEST(VorbisOut, CommentsWithAValueAreWrittenAndClearedAfterTheRun) {
  Encode e(PcmMemoryIn::Bytes(test::Sine16(1000, 1, 44100, 440, 0.5)), 1, 16, 44100);
  e.out.Comments().SetArtist(u"Zo\u00eb");
  e.out.Comments().SetTitle(u"");
  e.out.Comments().SetDate(u"2026");
  ASSERT_TRUE(e.Run());
  const test::DecodedOgg ogg = test::DecodeOgg(e.file);
  EXPECT_EQ(ogg.comments, (std::vector<std::string>{"artist=Zo\xc3\xab", "date=2026"}));
  EXPECT_TRUE(e.out.Comments().Empty());
}

// A destination that takes only so many bytes.
class FullStream : public TStream {
 public:
  int64_t Read(void*, int64_t) override { return -1; }
  int64_t Write(const void*, int64_t count) override {
    const int64_t put = std::min(count, room);
    room -= put;
    return put > 0 ? put : -1;
  }
  int64_t Seek(int64_t, Origin) override { return 0; }
  int64_t room = 4500;
};

TEST(VorbisOut, AFullDestinationEndsTheRunWithAnError) {
  Encode e(PcmMemoryIn::Bytes(test::Sine16(44100, 1, 44100, 440, 0.5)), 1, 16, 44100);
  FullStream full;
  e.out.SetStream(&full);
  ASSERT_TRUE(e.Run());
  EXPECT_EQ(e.error, "Could not write to the output stream");
  EXPECT_FALSE(e.out.EndOfStream());
}

TEST(VorbisOut, AppendingToAMissingFileCreatesIt) {
  Encode e(PcmMemoryIn::Bytes(test::Sine16(100, 1, 44100, 440, 0.5)), 1, 16, 44100);
  e.out.SetFileMode(TFileOutputMode::foAppend);
  ASSERT_TRUE(e.Run());
  EXPECT_TRUE(test::DecodeOgg(e.file).ok);
  e.out.SetFileName("");
  e.done = 0;
  ASSERT_TRUE(e.Run());
  EXPECT_EQ(e.error, "File name is not assigned.");
}

}  // namespace
}  // namespace pmx
