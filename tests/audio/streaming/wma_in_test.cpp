#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "audio/streaming/streaming.h"
#include "audio/streaming/vorbis_in.h"
#include "audio/streaming/vorbis_out.h"
#include "audio/streaming/wm_in.h"
#include "platform/main_loop.h"
#include "tests/audio/streaming/encoded_files.h"
#include "tests/audio/streaming/libav_files.h"
#include "tests/audio/streaming/ogg_check.h"
#include "tests/audio/streaming/wav_bytes.h"
#include "tests/support/file_bytes.h"
#include "tests/support/temp_dir.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;
using test::FileBytes;
using test::PutFile;

constexpr int kRate = 44100;
constexpr int64_t kFrames = 5 * kRate;

// A stereo sweep: no stretch of it repeats, so a sample that lands a period off
// is caught.
std::vector<int16_t> Sweep(int64_t frames) {
  std::vector<int16_t> out;
  for (int64_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double phase = 2 * std::numbers::pi * (200 * t + 400 * t * t);
    out.push_back(static_cast<int16_t>(std::lround(12000 * std::sin(phase))));
    out.push_back(static_cast<int16_t>(std::lround(9000 * std::cos(1.3 * phase))));
  }
  return out;
}

std::vector<uint8_t> ReadBytes(TAuInput& input, size_t most) {
  std::vector<uint8_t> bytes(most);
  bool ended = false;
  bytes.resize(ReadFull(input, bytes.data(), static_cast<uint32_t>(most), ended));
  return bytes;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t from, size_t count) {
  from = std::min(from, bytes.size());
  return {bytes.begin() + static_cast<ptrdiff_t>(from),
          bytes.begin() + static_cast<ptrdiff_t>(std::min(bytes.size(), from + count))};
}

// One WMA file and one MP3 file of the sweep, with what libavcodec decodes from
// each when asked directly.
class MediaFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<test::TempDir>();
    const std::vector<int16_t> sweep = Sweep(kFrames);
    wma_made_ = test::WriteWma(Wma(), sweep, 2, kRate,
                               {{"title", "Morning Show"},
                                {"artist", "\xC3\x89mile"},
                                {"album", "Tapes"},
                                {"genre", "Talk"},
                                {"track", "7"},
                                {"date", "2024"},
                                {"copyright", "Station"}});
    test::PutRaw(*dir_ / "sweep.raw", sweep);
    mp3_made_ = test::RunTool({"lame", "-S", "-r", "-s", "44.1", "-b", "192", "--id3v2-only",
                               "--tt", "Song", "--ty", "2023", (*dir_ / "sweep.raw").string(),
                               Mp3().string()}) == 0;
  }
  static void TearDownTestSuite() { dir_.reset(); }
  static std::filesystem::path Wma() { return *dir_ / "sweep.wma"; }
  static std::filesystem::path Mp3() { return *dir_ / "sweep.mp3"; }
  void SetUp() override {
    if (!wma_made_) GTEST_SKIP() << "libavcodec has no WMA encoder here";
  }

  static inline std::unique_ptr<test::TempDir> dir_;
  static inline bool wma_made_ = false;
  static inline bool mp3_made_ = false;
};

// Both files: every sample libavcodec decodes, and seeks into what was never
// read, back, forward within what was read and to the start, each landing on
// the exact sample.
TEST_F(MediaFiles, SamplesAndSeeksMatchLibavcodec) {
  for (const auto& path : {Wma(), Mp3()}) {
    if (path == Mp3() && !mp3_made_) continue;
    SCOPED_TRACE(path.filename());
    const std::vector<uint8_t> reference = test::DecodeWithLibav(path);
    ASSERT_GT(reference.size(), static_cast<size_t>(kFrames * 4 * 9 / 10));
    TWMIn in;
    in.SetFileName(path.string());
    EXPECT_EQ(in.GetChannels(), 2);
    EXPECT_EQ(in.GetSampleRate(), kRate);
    EXPECT_EQ(in.GetBitsPerSample(), 16);
    // The length is the container's, which counts the encoder's padding.
    const int64_t total = in.GetLengthSamples();
    EXPECT_NEAR(total, static_cast<double>(reference.size() / 4), kRate / 10);
    EXPECT_EQ(in.Size(), total * 4);

    in.Init();
    ReadBytes(in, 20000);
    for (const int64_t target : {150001, 33333, 100000, 0, 200123, 2047, 2048}) {
      ASSERT_TRUE(in.SeekSample(target)) << target;
      EXPECT_EQ(in.Position(), target * 4);
      EXPECT_TRUE(ReadBytes(in, 8192) == Slice(reference, target * 4, 8192))
          << "at sample " << target;
    }
    ASSERT_TRUE(in.SeekSample(0));
    EXPECT_TRUE(ReadBytes(in, reference.size() + 100000) == reference);
    in.Flush();
  }
}

TEST_F(MediaFiles, TagsAndTwentyFourBitSamplesComeFromTheWmaFile) {
  TWMIn in;
  in.SetFileName(Wma().string());
  ASSERT_EQ(in.GetChannels(), 2);  // opens the file, which reads the tags
  EXPECT_EQ(in.Id3v2Tags().Title(), u"Morning Show");
  EXPECT_EQ(in.Id3v2Tags().Artist(), u"\u00C9mile");
  EXPECT_EQ(in.Id3v2Tags().Album(), u"Tapes");
  EXPECT_EQ(in.Id3v2Tags().Genre(), u"Talk");
  EXPECT_EQ(in.Id3v2Tags().Track(), "7");
  EXPECT_EQ(in.Id3v2Tags().Year(), "2024");
  EXPECT_EQ(in.Id3v2Tags().Comment(), u"Station");

  in.SetHighPrecision(true);
  EXPECT_EQ(in.GetBitsPerSample(), 24);
  const std::vector<uint8_t> wide = test::DecodeWithLibav(Wma(), 24);
  in.Init();
  EXPECT_TRUE(ReadBytes(in, wide.size() + 100000) == wide);
  in.Flush();

  if (!mp3_made_) return;
  TWMIn mp3;
  mp3.SetFileName(Mp3().string());
  ASSERT_EQ(mp3.GetChannels(), 2);
  EXPECT_EQ(mp3.Id3v2Tags().Title(), u"Song");
  EXPECT_EQ(mp3.Id3v2Tags().Year(), "2023");
}

// Six channels of PCM, each its own ramp: what the channel wishes deliver, and
// that the stream's own channels come out in their order at 24 bits.
TEST_F(MediaFiles, ChannelWishesChooseAmongTheOfferedFormats) {
  std::vector<int16_t> samples;
  for (int i = 0; i < 4800; ++i)
    for (int c = 0; c < 6; ++c) samples.push_back(static_cast<int16_t>(c * 5000 - 12000 + i));
  test::WavBytes::Pcm16(6, 48000, samples).Save(*dir_ / "six.wav");
  TWMIn in;
  in.SetFileName((*dir_ / "six.wav").string());
  const auto format = [&] {
    return std::vector<int>{in.GetChannels(), in.GetBitsPerSample(), in.GetSampleRate()};
  };
  EXPECT_EQ(format(), (std::vector<int>{2, 16, 48000}));
  in.SetHighPrecision(true);
  EXPECT_EQ(format(), (std::vector<int>{2, 24, 48000}));
  in.SetOutputChannels(cn7dot1);
  EXPECT_EQ(in.GetChannels(), 0);
  in.SetOutputChannels(cnMaxAvailable);
  EXPECT_EQ(format(), (std::vector<int>{6, 24, 48000}));
  in.SetOutputChannels(cn5dot1);
  EXPECT_EQ(format(), (std::vector<int>{6, 24, 48000}));

  in.Init();
  const std::vector<uint8_t> got = ReadBytes(in, samples.size() * 3 + 1000);
  ASSERT_EQ(got.size(), samples.size() * 3);
  for (size_t i = 0; i < samples.size(); i += 997) {
    const int32_t wide = static_cast<int32_t>(static_cast<uint32_t>(got[i * 3]) << 8 |
                                              static_cast<uint32_t>(got[i * 3 + 1]) << 16 |
                                              static_cast<uint32_t>(got[i * 3 + 2]) << 24) >>
                         8;
    ASSERT_EQ(wide, samples[i] * 256) << "sample " << i;
  }
  in.Flush();
}

// The file with a content-encryption object put into its ASF header.
std::vector<uint8_t> Protected(std::vector<uint8_t> asf) {
  const uint8_t object[44] = {0xFB, 0xB3, 0x11, 0x22, 0x23, 0xBD, 0xD2, 0x11, 0xB4, 0xB7, 0x00,
                              0xC0, 0x4F, 0xB7, 0xB6, 0xC5, 44,   0,    0,    0,    0,    0,
                              0,    0,    0,    0,    0,    0,    4,    0,    0,    0,    'D',
                              'R',  'M',  0,    0,    0,    0,    0,    0,    0,    0,    0};
  asf.insert(asf.begin() + 30, object, object + sizeof(object));
  // Header size (the test file's is small enough for no carry) and object count.
  asf[16] = static_cast<uint8_t>(asf[16] + sizeof(object));
  asf[24] += 1;
  return asf;
}

void ExpectRefused(const std::filesystem::path& path, const std::string& message) {
  TWMIn in;
  in.SetFileName(path.string());
  try {
    in.Init();
    ADD_FAILURE() << path << " opened";
  } catch (const EAuException& e) {
    EXPECT_EQ(e.what(), message) << path;
  }
  EXPECT_FALSE(in.Busy());
}

// A machine without the decoding libraries: the process has no reader at all.
class WithoutLibraries : public TWMIn {
 protected:
  std::unique_ptr<MediaSyncReader> CreateReader() const override { return nullptr; }
};

TEST_F(MediaFiles, DamagedProtectedAndForeignFilesAreRefusedClearly) {
  WithoutLibraries bare;
  bare.SetFileName(Wma().string());
  EXPECT_THROW(bare.Init(), EAuException);
  EXPECT_FALSE(bare.Busy());

  const std::vector<uint8_t> wma = FileBytes(Wma());
  ASSERT_LT(wma[16], 200);
  PutFile(*dir_ / "protected.wma", Protected(wma));
  ExpectRefused(*dir_ / "protected.wma", "File is protected");
  PutFile(*dir_ / "header.wma", Slice(wma, 0, 100));
  ExpectRefused(*dir_ / "header.wma", "The input has no valid audio format");
  const std::string subtitles = "1\n00:00:00,000 --> 00:00:01,000\nHi\n\n";
  PutFile(*dir_ / "subtitles.srt", {subtitles.begin(), subtitles.end()});
  ExpectRefused(*dir_ / "subtitles.srt", "The input has no valid audio format");
  std::vector<uint8_t> noise(100000);
  uint32_t x = 12345;
  for (uint8_t& b : noise) b = static_cast<uint8_t>((x = x * 1664525 + 1013904223) >> 24);
  PutFile(*dir_ / "noise.wma", noise);
  ExpectRefused(*dir_ / "noise.wma", "The input has no valid audio format");

  // A file cut short plays what it holds, exactly, and ends.
  PutFile(*dir_ / "cut.wma", Slice(wma, 0, wma.size() / 2));
  TWMIn cut;
  cut.SetFileName((*dir_ / "cut.wma").string());
  cut.Init();
  const std::vector<uint8_t> got = ReadBytes(cut, wma.size() * 20);
  EXPECT_GT(got.size(), static_cast<size_t>(kFrames * 4 / 3));
  EXPECT_TRUE(got == test::DecodeWithLibav(*dir_ / "cut.wma"));
  cut.Flush();
}

TEST_F(MediaFiles, AWmaFilePlaysThroughAStreamingOutput) {
  PlainMainLoop loop;
  ScopedMainLoop scope{loop};
  TWMIn in;
  in.SetFileName(Wma().string());
  TVorbisOut out;
  out.SetInput(&in);
  out.SetFileName((*dir_ / "played.ogg").string());
  int done = 0;
  out.OnDone = [&](TObject*) { ++done; };
  out.Run();
  ASSERT_TRUE(loop.PumpUntil([&] { return done > 0; }, 30s));
  EXPECT_EQ(out.ErrorText(), "");
  const std::vector<int16_t> heard = test::Samples(test::DecodeWithLibav(Wma()));
  TVorbisIn played;
  played.SetFileName((*dir_ / "played.ogg").string());
  EXPECT_EQ(played.GetLengthSamples() * 2, static_cast<int64_t>(heard.size()));
  // The Ogg holds the same sound, not merely as much of it.
  const test::DecodedOgg ogg = test::DecodeOgg(*dir_ / "played.ogg");
  ASSERT_TRUE(ogg.ok);
  EXPECT_EQ(ogg.samples.size(), heard.size());
  EXPECT_GT(test::SnrDb(heard, ogg.samples), 20) << "SNR in dB";
}

}  // namespace
}  // namespace pmx
