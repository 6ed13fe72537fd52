#include "audio/core/dsp/acm_converter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "audio/core/dsp/adpcm.h"
#include "platform/codecs/ms_adpcm.h"
#include "tests/support/chain_test_nodes.h"

namespace pmx {
namespace {

std::vector<int16_t> Sine(std::size_t samples) {
  std::vector<int16_t> s(samples);
  for (std::size_t i = 0; i < samples; ++i) {
    s[i] = static_cast<int16_t>(12000 * std::sin(2 * std::numbers::pi * 440.0 * i / 8000.0));
  }
  return s;
}

std::vector<uint8_t> Bytes(const std::vector<int16_t>& s) {
  std::vector<uint8_t> b(s.size() * 2);
  std::memcpy(b.data(), s.data(), b.size());
  return b;
}

double SnrDb(const std::vector<int16_t>& ref, const std::vector<uint8_t>& bytes) {
  double signal = 0;
  double noise = 0;
  for (std::size_t i = 0; i < ref.size() && 2 * i + 1 < bytes.size(); ++i) {
    const auto got = static_cast<int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    signal += static_cast<double>(ref[i]) * ref[i];
    noise += (static_cast<double>(ref[i]) - got) * (static_cast<double>(ref[i]) - got);
  }
  return 10 * std::log10(signal / std::max(noise, 1.0));
}

class ACMConverter : public ::testing::Test {
 protected:
  void SetUp() override { LoadACM(); }
  const WaveFormatEx pcm_ = WaveFormatEx::Pcm(8000, 16, 1);
  const WaveFormatEx adpcm_ = MSADPCMFormat(8000, 1);
};

TEST_F(ACMConverter, PushChainEncodesWholeBlocksAcrossBuffers) {
  const std::vector<int16_t> ref = Sine(500 * 12);
  const std::vector<uint8_t> data = Bytes(ref);
  TMMACMConverter conv;
  test::TestSink sink;
  conv.SetOutput(&sink);
  conv.InputFormatChanged(&pcm_);
  conv.SetPWaveFormat(&adpcm_);
  ASSERT_EQ(*sink.PWaveFormat(), adpcm_);
  conv.Opened();
  conv.Started();
  // 999-byte buffers: odd sizes split samples and blocks between buffers.
  for (std::size_t at = 0; at < data.size(); at += 999) {
    WAVEHDR h;
    h.lpData = reinterpret_cast<char*>(const_cast<uint8_t*>(data.data() + at));
    h.dwBufferLength = h.dwBytesRecorded =
        static_cast<uint32_t>(std::min<std::size_t>(999, data.size() - at));
    conv.BufferReady(&h);
  }
  conv.Stopped();
  conv.Closed();
  const std::vector<uint8_t> coded = sink.Bytes();
  ASSERT_GE(coded.size(), 11u * 256);
  ASSERT_EQ(coded.size() % 256, 0u);
  std::vector<int16_t> decoded(MSADPCMDecodeSize(adpcm_, static_cast<uint32_t>(coded.size())) / 2);
  const uint32_t n = MSADPCMDecode(adpcm_, pcm_, coded, decoded.data());
  ASSERT_EQ(n, coded.size() / 256 * 500 * 2);
  decoded.resize(n / 2);
  EXPECT_GT(SnrDb(ref, Bytes(decoded)), 20.0);
}

TEST_F(ACMConverter, PullChainDecodesToSuggestedPcmAndEndsWithTheInput) {
  const std::vector<int16_t> ref = Sine(500 * 30);
  std::vector<uint8_t> coded(30 * 256);
  for (int b = 0; b < 30; ++b) MSADPCMEncodeBlock(&ref[b * 500], 1, 500, &coded[b * 256], 256);
  test::TestSource source(coded);
  TMMPCMConverter conv;
  source.SetPWaveFormat(&adpcm_);
  source.SetOutput(&conv);
  ASSERT_NE(conv.PWaveFormat(), nullptr);
  EXPECT_EQ(conv.PWaveFormat()->wFormatTag(), WAVE_FORMAT_PCM);
  EXPECT_EQ(conv.PWaveFormat()->wBitsPerSample(), 16);
  conv.Opened();
  conv.Started();
  std::vector<uint8_t> out;
  std::vector<char> buffer(1234);
  bool more = true;
  for (int guard = 0; more && guard < 1000; ++guard) {
    WAVEHDR h;
    h.lpData = buffer.data();
    h.dwBufferLength = 1234;
    conv.BufferLoad(&h, more);
    out.insert(out.end(), buffer.begin(), buffer.begin() + h.dwBytesRecorded);
  }
  EXPECT_FALSE(more);
  conv.Stopped();
  conv.Closed();
  ASSERT_EQ(out.size(), ref.size() * 2);
  EXPECT_GT(SnrDb(ref, out), 20.0);
}

TEST_F(ACMConverter, PcmConverterPassesEqualFormatsAndLimitsItsProperties) {
  TMMPCMConverter conv;
  test::TestSink sink;
  conv.SetOutput(&sink);
  conv.InputFormatChanged(&pcm_);
  EXPECT_EQ(*conv.PWaveFormat(), pcm_);
  conv.Opened();
  conv.Started();
  std::vector<uint8_t> data(300, 0x5A);
  WAVEHDR h;
  h.lpData = reinterpret_cast<char*>(data.data());
  h.dwBufferLength = h.dwBytesRecorded = 300;
  conv.BufferReady(&h);
  EXPECT_EQ(sink.Bytes(), data);
  conv.Closed();

  conv.SetSampleRate(5000);
  EXPECT_EQ(conv.SampleRate(), 8000);
  conv.SetSampleRate(96000);
  EXPECT_EQ(conv.SampleRate(), 88200);
  conv.SetMode(TMMMode::mMultiChannel);
  EXPECT_EQ(conv.Mode(), TMMMode::mMono);

  conv.SetAutoConvert(false);
  conv.SetSampleRate(22050);
  EXPECT_EQ(*conv.PWaveFormat(), WaveFormatEx::Pcm(22050, 8, 1));
  EXPECT_THROW(conv.SetPWaveFormat(&adpcm_), EMMConverterError);
}

TEST_F(ACMConverter, FormatWithoutPathPassesInputAndRefusesToOpen) {
  WaveFormatEx alien = pcm_;
  alien.set_wFormatTag(0x7A7A);
  TMMACMConverter conv;
  conv.InputFormatChanged(&pcm_);
  conv.SetPWaveFormat(&alien);
  EXPECT_EQ(*conv.PWaveFormat(), pcm_);
  EXPECT_THROW(conv.Opened(), EMMConverterError);
}

}  // namespace
}  // namespace pmx
