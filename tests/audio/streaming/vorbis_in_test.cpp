#include "audio/streaming/vorbis_in.h"

#include <gtest/gtest.h>

#include "audio/streaming/streaming.h"
#include "tests/audio/streaming/encoded_files.h"
#include "tests/support/file_bytes.h"

namespace pmx {
namespace {

class VorbisInTest : public test::EncodedInputTest<TVorbisIn> {
 protected:
  static void SetUpTestSuite() {
    Encode("sine.ogg", [](const std::string& raw, const std::string& out) {
      return std::vector<std::string>{"oggenc", "-Q", "--raw", "--raw-bits=16", "--raw-chan=2",
                                      "--raw-rate=44100", "-q", "4", "-c", "ARTIST=\xC3\x89mile", "-c",
                                      "TITLE=Song", "-c", "COMMENT=no", "-o", out, raw};
    });
  }
};

TEST_F(VorbisInTest, DecodesTheWholeSignalWithFormatTagsAndBitrates) {
  EXPECT_EQ(input_.GetChannels(), 2);
  EXPECT_EQ(input_.GetSampleRate(), kRate);
  EXPECT_EQ(input_.GetBitsPerSample(), 16);
  EXPECT_EQ(input_.Size(), kFrames * 4);
  EXPECT_EQ(input_.GetLengthSeconds(), 10);
  EXPECT_EQ(input_.Comments().Artist(), u"\u00C9mile");
  EXPECT_EQ(input_.Comments().Title(), u"Song");
  EXPECT_GT(input_.BitrateNominal(), 0);

  input_.Init();
  const std::vector<int16_t> decoded = ReadSamples(kFrames * 4 + 4096);
  EXPECT_EQ(decoded.size(), static_cast<size_t>(kFrames * 2));
  EXPECT_GT(test::BestCorrelation(Source(), decoded, 2, 0), 0.99);
  EXPECT_EQ(input_.Position(), kFrames * 4);
  input_.Flush();
}

TEST_F(VorbisInTest, SeekingLandsOnTheSample) {
  input_.Init();
  ReadSamples(100000);
  const int64_t target = 300007;
  ASSERT_TRUE(input_.SeekSample(target));
  EXPECT_EQ(input_.Position(), target * 4);
  const std::vector<int16_t> decoded = ReadSamples(40000);
  const std::vector<int16_t> expected(Source().begin() + target * 2, Source().begin() + target * 2 + 20000);
  EXPECT_GT(test::BestCorrelation(expected, decoded, 2, 0), 0.99);
  // Back after the end reads again.
  ReadSamples(kFrames * 4);
  ASSERT_TRUE(input_.SeekSample(0));
  EXPECT_EQ(ReadSamples(kFrames * 4).size(), static_cast<size_t>(kFrames * 2));
  input_.Flush();
}

TEST_F(VorbisInTest, AnAssignedStreamIsRewoundAndKept) {
  TAuFileStream stream((*sine_ / "sine.ogg").string(), 0);
  input_.SetStream(&stream);
  input_.Init();
  EXPECT_EQ(ReadSamples(4000).size(), 2000u);
  input_.Flush();
  EXPECT_EQ(stream.Position(), 0);
  input_.Init();
  EXPECT_EQ(ReadSamples(4000).size(), 2000u);
  input_.Flush();
}

void ExpectInitFails(TVorbisIn& input, const std::string& prefix) {
  try {
    input.Init();
    FAIL() << "opened";
  } catch (const EAuException& e) {
    EXPECT_EQ(std::string(e.what()).substr(0, prefix.size()), prefix) << e.what();
  }
  EXPECT_FALSE(input.Busy());
}

TEST_F(VorbisInTest, BrokenFilesRaiseAndNeverCrash) {
  TVorbisIn early;
  const uint8_t* buffer = nullptr;
  uint32_t bytes = 10;
  EXPECT_THROW(early.FetchData(buffer, bytes), EAuException);

  input_.SetFileName((*sine_ / "none.ogg").string());
  ExpectInitFails(input_, "Failed to open stream");

  test::PutFile(*sine_ / "garbage.ogg", std::vector<uint8_t>(5000, 0x5A));
  input_.SetFileName((*sine_ / "garbage.ogg").string());
  ExpectInitFails(input_, "Failed to open an ogg file: -");

  const std::vector<uint8_t> whole = test::FileBytes(*sine_ / "sine.ogg");
  for (size_t keep : {size_t{30}, size_t{4000}, whole.size() / 2}) {
    std::vector<uint8_t> part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(keep));
    test::PutFile(*sine_ / "cut.ogg", part);
    TVorbisIn cut;
    cut.SetFileName((*sine_ / "cut.ogg").string());
    if (keep < 4000) {
      ExpectInitFails(cut, "Failed to open an ogg file: -");
      continue;
    }
    // A cut stream that still opens decodes what is there and ends.
    try {
      cut.Init();
    } catch (const EAuException&) {
      continue;
    }
    std::vector<uint8_t> out(kFrames * 4);
    bool ended = false;
    EXPECT_LE(ReadFull(cut, out.data(), static_cast<uint32_t>(out.size()), ended), static_cast<uint32_t>(kFrames * 4));
    EXPECT_TRUE(ended);
    cut.Flush();
  }
}

}  // namespace
}  // namespace pmx
