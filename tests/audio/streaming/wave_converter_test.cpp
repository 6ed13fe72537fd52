#include "audio/streaming/wave_converter.h"

#include <cstdlib>

#include <gtest/gtest.h>

#include "audio/streaming/decoded_length.h"
#include "audio/streaming/memory_stream.h"
#include "audio/streaming/streaming.h"
#include "audio/streaming/wav_in.h"
#include "tests/audio/streaming/wav_bytes.h"
#include "tests/support/temp_dir.h"

namespace pmx {
namespace {

using test::WavBytes;

// A WAVE file holding MPEG layer-3 frames that lame made from a second of a
// 1 kHz sine, 44.1 kHz mono; junk may stand between the format and fact chunks.
std::filesystem::path Mp3Wave(const test::TempDir& dir, const std::string& junk = "") {
  const auto pcm = dir / "pcm.wav";
  const auto mp3 = dir / "x.mp3";
  const std::string make = "sox -n -r 44100 -c 1 -b 16 " + pcm.string() + " synth 1 sine 1000 gain -6 && lame --quiet -t -b 128 " +
                           pcm.string() + " " + mp3.string();
  if (std::system(make.c_str()) != 0) return {};
  const std::vector<uint8_t> frames = test::FileBytes(mp3);
  WavBytes format;
  format.U16(0x55).U16(1).U32(44100).U32(16000).U16(1).U16(0).U16(12);
  format.U16(1).U32(2).U16(418).U16(1).U16(1393);
  WavBytes w;
  w.Raw("RIFF").U32(0).Raw("WAVE").Chunk("fmt ", format.bytes).Raw(junk);
  w.Chunk("fact", {0x44, 0xac, 0, 0}).Chunk("data", frames);
  const auto file = dir / "mp3.wav";
  w.Save(file);
  return file;
}

// Sign changes of a 16-bit mono signal over its middle half second.
int Crossings(const std::vector<uint8_t>& pcm) {
  int count = 0;
  const size_t middle = pcm.size() / 4 * 2;
  for (size_t i = middle - 22050 + 2; i < middle + 22050; i += 2) {
    const auto a = static_cast<int16_t>(pcm[i - 2] | pcm[i - 1] << 8);
    const auto b = static_cast<int16_t>(pcm[i] | pcm[i + 1] << 8);
    count += (a < 0) != (b < 0);
  }
  return count;
}

TEST(WaveConverter, LoadsTheWholeFormatAndConvertsToPcm) {
  test::TempDir dir;
  const auto file = Mp3Wave(dir, "zz");
  ASSERT_FALSE(file.empty());
  TAuFileStream stream(file.string(), 0);
  TWaveConverter converter;
  ASSERT_TRUE(converter.LoadFromWaveStream(stream));
  EXPECT_EQ(converter.CurrentFormat().wFormatTag(), 0x55);
  EXPECT_EQ(converter.CurrentFormat().Bytes().size(), 30u);
  converter.NewFormat() = WaveFormatEx::Pcm(44100, 16, 1);
  ASSERT_EQ(converter.Convert(), MMSYSERR_NOERROR);
  EXPECT_EQ(converter.CurrentFormat().wFormatTag(), 1);
  // A second of sound, give or take the codec's delay and last frame.
  EXPECT_NEAR(static_cast<double>(converter.Data().size()), 88200, 2 * 1152 * 2 + 4000);
  ASSERT_GT(converter.Data().size(), 44100u);
  EXPECT_NEAR(Crossings(converter.Data()), 1000, 2);  // 500 cycles of 1 kHz
  TMemoryStream saved;
  ASSERT_EQ(converter.SaveAsWave(saved), 0);
  const std::vector<uint8_t>& bytes = saved.Bytes();
  EXPECT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 20), std::string("fmt \x10\0\0\0", 8));
  EXPECT_EQ(bytes.size(), 44 + converter.Data().size());
}

// Also when a writer died before it fixed the data size, which then says nothing
// or a single frame.
TEST(WaveConverter, TheReaderDecodesMpegLayer3InsideWave) {
  test::TempDir dir;
  const auto file = Mp3Wave(dir);
  ASSERT_FALSE(file.empty());
  const std::vector<uint8_t> whole = test::FileBytes(file);
  const size_t size_field = whole.size() - (test::FileBytes(dir / "x.mp3").size()) - 4;
  for (const uint32_t said : {0u, 418u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(said);
    std::vector<uint8_t> bytes = whole;
    if (said != 0xFFFFFFFFu) for (int i = 0; i < 4; ++i) bytes[size_field + i] = static_cast<uint8_t>(said >> 8 * i);
    test::PutFile(file, bytes);
    TWaveIn in;
    in.SetFileName(file.string());
    in.Init();
    EXPECT_EQ(in.WaveKind(), TWaveKind::MpegLayer3);
    EXPECT_EQ(in.GetBitsPerSample(), 16);
    const int64_t total = FetchAll(in, [](const uint8_t*, uint32_t) {});
    EXPECT_EQ(total, in.Size());
    EXPECT_NEAR(static_cast<double>(total), 88200, 2 * 1152 * 2 + 4000);
    EXPECT_FALSE(in.SeekSample(0));
    in.Flush();
  }
}

TEST(WaveConverter, ANonWaveStreamLeavesItEmpty) {
  TMemoryStream stream;
  stream.Write("RIFX\0\0\0\0WAVE", 12);
  stream.Seek(0, TStream::soBeginning);
  TWaveConverter converter;
  EXPECT_FALSE(converter.LoadFromWaveStream(stream));
  EXPECT_TRUE(converter.Data().empty());
}

}  // namespace
}  // namespace pmx
