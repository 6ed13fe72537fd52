#include "audio/streaming/wav_in.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>

#include <gtest/gtest.h>

#include "audio/streaming/streaming.h"
#include "tests/audio/streaming/wav_bytes.h"
#include "tests/support/temp_dir.h"

namespace pmx {
namespace {

using test::WavBytes;

// Every sample the reader delivers, as 32-bit values justified to the top.
std::vector<int32_t> ReadAll(TWaveIn& in) {
  in.Init();
  std::vector<int32_t> out;
  const int bits = in.GetBitsPerSample();
  for (;;) {
    const uint8_t* data = nullptr;
    uint32_t bytes = 24576;
    in.FetchData(data, bytes);
    if (bytes == 0) break;
    for (uint32_t i = 0; i < bytes; i += bits / 8) {
      int32_t v = 0;
      if (bits == 8) v = (data[i] - 128) * (1 << 24);
      else for (int b = 0; b < bits / 8; ++b) v |= static_cast<int32_t>(uint32_t(data[i + b]) << (32 - bits + 8 * b));
      out.push_back(v);
    }
  }
  in.Flush();
  return out;
}

std::vector<int32_t> ReadRaw32(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<int32_t> v;
  int32_t s;
  while (in.read(reinterpret_cast<char*>(&s), 4)) v.push_back(s);
  return v;
}

int Sh(const std::string& command) { return std::system(command.c_str()); }

TEST(WaveIn, FilesMadeBySoxReadAsSoxReadsThem) {
  test::TempDir dir;
  const auto source = dir / "source.wav";
  ASSERT_EQ(Sh("sox -n -r 22050 -c 2 -b 16 " + source.string() + " synth 0.7 sine 440 sine 1234 gain -3"), 0);
  struct Case {
    std::string options;
    int channels;
    TWaveKind kind;
    int tolerance_bits;  // the width whose LSB is the tolerance (32: none)
  };
  const std::vector<Case> cases{
      {"-e unsigned -b 8", 2, TWaveKind::Pcm, 8},        {"-e signed -b 16", 2, TWaveKind::Pcm, 16},
      {"-e signed -b 24", 2, TWaveKind::ExtensiblePcm, 24}, {"-e signed -b 32", 2, TWaveKind::ExtensiblePcm, 32},
      {"-e floating-point -b 32", 2, TWaveKind::IeeeFloat, 24}, {"-e floating-point -b 64", 2, TWaveKind::IeeeFloat, 24},
      {"-e signed -b 16 -c 3", 3, TWaveKind::ExtensiblePcm, 16},
      {"-e ima-adpcm", 2, TWaveKind::ImaAdpcm, 16}, {"-e ima-adpcm -c 1", 1, TWaveKind::ImaAdpcm, 16},
      // MS ADPCM decodes to exactly sox's samples.
      {"-e ms-adpcm", 2, TWaveKind::MsAdpcm, 32}, {"-e ms-adpcm -c 1", 1, TWaveKind::MsAdpcm, 32}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    const auto wav = dir / "case.wav";
    const auto raw = dir / "case.raw";
    ASSERT_EQ(Sh("sox " + source.string() + " " + c.options + " " + wav.string()), 0);
    ASSERT_EQ(Sh("sox " + wav.string() + " -t raw -e signed -b 32 " + raw.string()), 0);
    TWaveIn in;
    in.SetFileName(wav.string());
    const std::vector<int32_t> ours = ReadAll(in);
    EXPECT_EQ(in.WaveKind(), c.kind);
    EXPECT_EQ(in.GetChannels(), c.channels);
    const std::vector<int32_t> sox = ReadRaw32(raw);
    // sox decodes an ADPCM file's last block whole; the fact chunk says where it ends.
    ASSERT_EQ(ours.size(), 15435u * c.channels);
    ASSERT_GE(sox.size(), ours.size());
    const int64_t tolerance = int64_t{1} << (32 - c.tolerance_bits);
    size_t off = 0;
    for (size_t i = 0; i < ours.size(); ++i) off += std::llabs(int64_t{ours[i]} - sox[i]) > tolerance;
    EXPECT_EQ(off, 0u);
  }
}

TEST(WaveIn, FloatsBecomeClippedIntegers) {
  const float singles[] = {1.5f, -1.0f, std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.5f, -2.0f};
  uint8_t bytes[sizeof singles];
  std::memcpy(bytes, singles, sizeof singles);
  SingleToInt32Clip(bytes, sizeof bytes);
  int32_t ints[6];
  std::memcpy(ints, bytes, sizeof ints);
  EXPECT_EQ(ints[0], 2147483647);
  EXPECT_EQ(ints[1], -2147483647 - 1);
  EXPECT_EQ(ints[2], -2147483647 - 1);
  EXPECT_EQ(ints[3], 0);
  EXPECT_EQ(ints[4], 1073741823);
  EXPECT_EQ(ints[5], -2147483647 - 1);
  const double doubles[] = {1.5, -0.5};
  uint8_t wide[sizeof doubles];
  std::memcpy(wide, doubles, sizeof doubles);
  DoubleToInt32Clip(wide, sizeof wide);
  std::memcpy(ints, wide, 8);
  EXPECT_EQ(ints[0], 2147483647);
  EXPECT_EQ(ints[1], -1073741824);
}

// A file from bytes, read through a reader.
struct Opened {
  explicit Opened(const WavBytes& w) {
    w.Save(file);
    in.SetFileName(file.string());
  }
  std::string InitError() {
    try {
      in.Init();
    } catch (const EAuException& e) {
      return e.what();
    }
    return "";
  }
  test::TempDir dir;
  std::filesystem::path file = dir / "t.wav";
  TWaveIn in;
};

TEST(WaveIn, ChunksAreFoundWhereverTheyStand) {
  const std::vector<int16_t> samples{1, -2, 3, -4, 5, -6};
  WavBytes w;
  w.Raw("junk!").Raw("riff").U32(100).Raw("xWAVE").Chunk("FMT ", WavBytes::Format(1, 2, 8000, 16));
  w.Chunk("LIST", {'I', 'N', 'F', 'O', 0, 0});
  w.Chunk("data", WavBytes::Pcm16(2, 8000, samples).bytes).Chunk("id3 ", {1, 2, 3});  // no pad byte at the end
  Opened o(w);
  const auto& body = WavBytes::Pcm16(2, 8000, samples).bytes;
  EXPECT_EQ(o.in.Size(), 0);
  EXPECT_EQ(o.in.GetChannels(), 2);
  EXPECT_EQ(o.in.Size(), static_cast<int64_t>(body.size()));
  EXPECT_EQ(ReadAll(o.in).size(), body.size() / 2);
}

TEST(WaveIn, ADataSizePastTheEndCountsWhatIsThere) {
  WavBytes w = WavBytes::Pcm16(1, 8000, {1, 2, 3, 4});
  w.bytes[40] = 0xff;  // the data size
  w.bytes.push_back(7);  // half a frame at the end
  Opened o(w);
  EXPECT_EQ(o.in.GetLengthSamples(), 4);
  const std::vector<int32_t> read = ReadAll(o.in);
  ASSERT_EQ(read.size(), 4u);
  EXPECT_EQ(read[3], 4 << 16);
}

TEST(WaveIn, BadFilesFailWithAReason) {
  const auto fmt = WavBytes::Format(1, 1, 8000, 16);
  auto with = [&](std::vector<uint8_t> format, bool fact = false) {
    WavBytes w;
    w.Raw("RIFF").U32(0).Raw("WAVE").Chunk("fmt ", format);
    if (fact) w.Chunk("fact", {});
    return w.Chunk("data", {0, 0, 0, 0});
  };
  auto mpeg = [](int channels, int rate) {
    auto f = WavBytes::Format(85, channels, rate, 0);
    f.insert(f.end(), {0, 0, 0, 0});
    return f;
  };
  auto changed = [&](size_t at, uint8_t v) {
    auto f = fmt;
    f[at] = v;
    return f;
  };
  const std::vector<std::pair<WavBytes, std::string>> cases{
      {WavBytes{}, "The file ends inside its header"},
      {WavBytes().Raw("RIFF").U32(0).Raw("WAVE").Raw("fmt ").U32(0xfffffff0u), "No data chunk within the first 8192 bytes of the file"},
      {with({1, 0, 1, 0}), "The format chunk is too short"},
      {with(changed(0, 9)), "The file's format (tag 9) is not supported"},
      {with(changed(2, 0)), "The file's channel count is not valid"},
      {with(changed(14, 12)), "Samples of 12 bits are not supported"},
      {with(changed(12, 3)), "The block alignment does not match the format"},
      {with(WavBytes::Format(1, 1, 0, 16)), "The file's sample rate is not valid"},
      {with(WavBytes::Format(0xFFFE, 2, 8000, 16)), "The extensible format chunk is too short"},
      {with(WavBytes::Format(3, 1, 8000, 16)), "Samples of 16 bits are not supported"},
      {with(mpeg(3, 44100)), "The MPEG layer-3 format is not valid"},
      {with(mpeg(2, 44101)), "The MPEG layer-3 format is not valid"},
  };
  for (const auto& [bytes, reason] : cases) {
    SCOPED_TRACE(reason);
    Opened o(bytes);
    EXPECT_EQ(o.InitError(), reason);
    EXPECT_EQ(o.in.GetChannels(), 0);
    EXPECT_FALSE(o.in.Busy());
  }
  TWaveIn missing;
  missing.SetFileName("/nonexistent/x.wav");
  EXPECT_THROW(missing.Init(), EAuException);
}

// A mono IMA ADPCM file of one 8-byte block: 9 samples.
WavBytes ImaFile(uint8_t step_index, bool fact = true) {
  WavBytes f;
  f.U16(17).U16(1).U32(8000).U32(4000).U16(8).U16(4).U16(2).U16(9);
  WavBytes w;
  w.Raw("RIFF").U32(0).Raw("WAVE").Chunk("fmt ", f.bytes);
  if (fact) w.Chunk("fact", {9, 0, 0, 0});
  return w.Chunk("data", {0x10, 0x00, step_index, 0, 0x77, 0x77, 0x77, 0x77});
}

TEST(WaveIn, ImaAdpcmNeedsItsFactChunkAndSaneBlockHeaders) {
  Opened good(ImaFile(0));
  const std::vector<int32_t> samples = ReadAll(good.in);
  ASSERT_EQ(samples.size(), 9u);
  EXPECT_EQ(samples[0], 16 << 16);
  EXPECT_GT(samples[8], samples[1]);  // rising by ever larger steps
  Opened no_fact(ImaFile(0, false));
  EXPECT_EQ(no_fact.InitError(), "The file ends inside its header");
  Opened bad_index(ImaFile(89));
  EXPECT_THROW(ReadAll(bad_index.in), EAuException);
}

// A writer that died before fixing its header left sizes (and a fact count) of
// its first block only; chunks that really follow the data are no audio.
TEST(WaveIn, DataThatIsTheFilesLastChunkRunsToTheFileEnd) {
  const std::vector<uint8_t> block{0x10, 0x00, 0, 0, 0x77, 0x77, 0x77, 0x77};
  WavBytes killed = ImaFile(0);
  killed.bytes.insert(killed.bytes.end(), block.begin(), block.end());
  killed.bytes.push_back(0x42);  // a byte of a third block: not even its header
  Opened whole(killed);
  EXPECT_EQ(ReadAll(whole.in).size(), 18u);

  WavBytes tagged = ImaFile(0);
  tagged.Chunk("LIST", {'I', 'N', 'F', 'O'}).Chunk("id3 ", {1});
  Opened as_said(tagged);
  EXPECT_EQ(ReadAll(as_said.in).size(), 9u);

  WavBytes pcm = WavBytes::Pcm16(1, 8000, {1, 2, 3, 4});
  pcm.bytes[40] = 2;  // one sample of four
  Opened pcm_whole(pcm);
  EXPECT_EQ(ReadAll(pcm_whole.in), (std::vector<int32_t>{1 << 16, 2 << 16, 3 << 16, 4 << 16}));
}

TEST(WaveIn, SixtyFourBitFloatsHalveTheSizeAndOnlyPcmSeeks) {
  WavBytes w;
  std::vector<uint8_t> data(16);
  const double values[] = {1.5, -0.5};
  std::memcpy(data.data(), values, 16);
  w.Raw("RIFF").U32(0).Raw("WAVE").Chunk("fmt ", WavBytes::Format(3, 1, 8000, 64)).Chunk("data", data);
  Opened f(w);
  EXPECT_EQ(f.in.GetBitsPerSample(), 32);
  EXPECT_EQ(f.in.Size(), 8);
  EXPECT_EQ(ReadAll(f.in), (std::vector<int32_t>{2147483647, -1073741824}));
  f.in.Init();
  EXPECT_FALSE(f.in.SeekSample(1));
  f.in.Flush();

  Opened p(WavBytes::Pcm16(1, 8000, {10, 20, 30, 40}));
  p.in.Init();
  ASSERT_TRUE(p.in.SeekSample(2));
  const uint8_t* data_at = nullptr;
  uint32_t bytes = 100;
  p.in.FetchData(data_at, bytes);
  ASSERT_EQ(bytes, 4u);
  EXPECT_EQ(data_at[0], 30);
  p.in.Flush();
}

}  // namespace
}  // namespace pmx
