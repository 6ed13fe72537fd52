#include "audio/core/dsp/adpcm_converter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "platform/codecs/ms_adpcm.h"
#include "tests/support/chain_test_nodes.h"

namespace pmx {
namespace {

std::vector<int16_t> Sine(std::size_t samples, int channels) {
  std::vector<int16_t> s(samples * channels);
  for (std::size_t i = 0; i < samples; ++i) {
    for (int ch = 0; ch < channels; ++ch) {
      const double f = ch == 0 ? 440.0 : 697.0;
      s[i * channels + ch] =
          static_cast<int16_t>(12000 * std::sin(2 * std::numbers::pi * f * i / 8000.0));
    }
  }
  return s;
}

std::vector<int16_t> Samples16(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> s(bytes.size() / 2);
  std::memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

double SnrDb(const std::vector<int16_t>& ref, const std::vector<int16_t>& got) {
  double signal = 0;
  double noise = 0;
  for (std::size_t i = 0; i < ref.size(); ++i) {
    signal += static_cast<double>(ref[i]) * ref[i];
    noise += (static_cast<double>(ref[i]) - got[i]) * (static_cast<double>(ref[i]) - got[i]);
  }
  return 10 * std::log10(signal / std::max(noise, 1.0));
}

// Pulls everything through node in buffers of size bytes, as a playing device does.
std::vector<uint8_t> PullAll(TMMDSPComponent& node, uint32_t size) {
  node.Opened();
  node.Started();
  std::vector<uint8_t> all;
  std::vector<char> buffer(size);
  bool more = true;
  for (int guard = 0; more && guard < 100000; ++guard) {
    WAVEHDR h;
    h.lpData = buffer.data();
    h.dwBufferLength = size;
    more = true;
    node.BufferLoad(&h, more);
    all.insert(all.end(), buffer.begin(), buffer.begin() + h.dwBytesRecorded);
  }
  node.Stopped();
  node.Closed();
  return all;
}

std::vector<uint8_t> EncodeMs(const WaveFormatEx& f, const std::vector<int16_t>& pcm) {
  const uint16_t channels = f.nChannels();
  const uint16_t spb = MSADPCMSamplesPerBlock(f);
  const std::size_t blocks = pcm.size() / channels / spb;
  std::vector<uint8_t> out(blocks * f.nBlockAlign());
  for (std::size_t b = 0; b < blocks; ++b) {
    MSADPCMEncodeBlock(&pcm[b * spb * channels], channels, spb, &out[b * f.nBlockAlign()],
                       f.nBlockAlign());
  }
  return out;
}

WaveFormatEx StepIndexFormat(uint16_t tag, uint16_t channels) {
  WaveFormatEx f;
  f.set_wFormatTag(tag);
  f.set_nChannels(channels);
  f.set_nSamplesPerSec(8000);
  f.set_nAvgBytesPerSec(4000u * channels);
  f.set_nBlockAlign(1);
  f.set_wBitsPerSample(4);
  return f;
}

// Codes one sample stream per channel in the layout the tag's decoder reads.
std::vector<uint8_t> EncodeStepIndex(uint16_t tag, const std::vector<int16_t>& pcm) {
  TStepIndexState enc{};
  std::vector<uint8_t> out(pcm.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const int a = enc[0].Encode(pcm[2 * i]);
    const int b = enc[1].Encode(pcm[2 * i + 1]);
    out[i] = static_cast<uint8_t>(tag == kMediavisionADPCMTag ? b << 4 | a : a << 4 | b);
  }
  if (tag != kMediavisionADPCMTag) {
    for (std::size_t i = 0; i + 1 < out.size(); i += 2) std::swap(out[i], out[i + 1]);
  }
  return out;
}

TEST(ADPCMConverter, MsAdpcmPullChainDecodesAcrossBuffersAndPieces) {
  const WaveFormatEx adpcm = MSADPCMFormat(8000, 2);  // 512-byte blocks
  const std::vector<int16_t> pcm = Sine(MSADPCMSamplesPerBlock(adpcm) * 20, 2);
  test::TestSource source(EncodeMs(adpcm, pcm));
  TMMADPCMConverter conv;
  source.SetPWaveFormat(&adpcm);
  source.SetOutput(&conv);
  ASSERT_TRUE(conv.IsConvertible());
  ASSERT_NE(conv.PWaveFormat(), nullptr);
  EXPECT_EQ(*conv.PWaveFormat(), WaveFormatEx::Pcm(8000, 16, 2));

  // 1000-byte buffers split the decoded blocks and the 4096-byte pieces unevenly.
  const std::vector<uint8_t> out = PullAll(conv, 1000);
  ASSERT_EQ(out.size(), pcm.size() * 2);
  EXPECT_GT(SnrDb(pcm, Samples16(out)), 20.0);
}

TEST(ADPCMConverter, StepIndexVariantsKeepStateAcrossPiecesAndNarrowTo8Bits) {
  const std::vector<int16_t> pcm = Sine(12000, 2);  // 12000 bytes coded: three pieces
  for (uint16_t tag : {kMediavisionADPCMTag, kAntexADPCMETag, kAntexDviOkiADPCMETag}) {
    SCOPED_TRACE(tag);
    const WaveFormatEx f = StepIndexFormat(tag, 2);
    test::TestSource source(EncodeStepIndex(tag, pcm));
    TMMADPCMConverter conv;
    source.SetPWaveFormat(&f);
    source.SetOutput(&conv);
    const std::vector<uint8_t> out = PullAll(conv, 777);
    ASSERT_EQ(out.size(), pcm.size() * 2);
    EXPECT_GT(SnrDb(pcm, Samples16(out)), 20.0);

    test::TestSource again(EncodeStepIndex(tag, pcm));
    TMMADPCMConverter narrow;
    narrow.SetBitLength(TMMBits::b8Bit);
    again.SetPWaveFormat(&f);
    again.SetOutput(&narrow);
    EXPECT_EQ(*narrow.PWaveFormat(), WaveFormatEx::Pcm(8000, 8, 2));
    const std::vector<uint8_t> bytes = PullAll(narrow, 777);
    ASSERT_EQ(bytes.size(), pcm.size());
    std::vector<int16_t> widened(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) widened[i] = (bytes[i] - 128) * 256;
    EXPECT_GT(SnrDb(pcm, widened), 15.0);
  }
}

TEST(ADPCMConverter, PcmAndPushedBuffersPassThroughUntouched) {
  const WaveFormatEx pcm = WaveFormatEx::Pcm(8000, 16, 1);
  std::vector<uint8_t> data(3000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  test::TestSource source(data);
  TMMADPCMConverter conv;
  source.SetPWaveFormat(&pcm);
  source.SetOutput(&conv);
  EXPECT_EQ(*conv.PWaveFormat(), pcm);
  EXPECT_EQ(PullAll(conv, 1024), data);

  // The push road never converts, whatever the format.
  const WaveFormatEx adpcm = MSADPCMFormat(8000, 1);
  TMMADPCMConverter pushed;
  test::TestSink sink;
  pushed.SetInput(nullptr);
  pushed.InputFormatChanged(&adpcm);
  pushed.SetOutput(&sink);
  pushed.Opened();
  pushed.Started();
  WAVEHDR h;
  h.lpData = reinterpret_cast<char*>(data.data());
  h.dwBufferLength = h.dwBytesRecorded = 512;
  pushed.BufferReady(&h);
  EXPECT_EQ(sink.Bytes(), std::vector<uint8_t>(data.begin(), data.begin() + 512));
}

TEST(ADPCMConverter, HostileInputIsRefusedAndEndsTheData) {
  // Non-standard coefficients: not convertible, the input passes on, and opening fails.
  WaveFormatEx odd = MSADPCMFormat(8000, 1);
  std::vector<uint8_t> extra(odd.Extra().begin(), odd.Extra().end());
  extra[4] = 0x55;
  odd.SetExtra(extra);
  TMMADPCMConverter conv;
  conv.InputFormatChanged(&odd);
  EXPECT_FALSE(conv.IsConvertible());
  EXPECT_EQ(*conv.PWaveFormat(), odd);
  EXPECT_THROW(conv.Opened(), EMMADPCMError);

  // Float audio under tag 3 is not step-index ADPCM.
  WaveFormatEx flt = WaveFormatEx::Pcm(8000, 32, 1);
  flt.set_wFormatTag(kMediavisionADPCMTag);
  conv.InputFormatChanged(&flt);
  EXPECT_FALSE(conv.IsConvertible());

  // A block naming a missing predictor: the converter gives up and says so.
  const WaveFormatEx adpcm = MSADPCMFormat(8000, 1);
  std::vector<uint8_t> blocks = EncodeMs(adpcm, Sine(MSADPCMSamplesPerBlock(adpcm) * 40, 1));
  blocks[0] = 9;
  test::TestSource source(blocks);
  TMMADPCMConverter bad;
  source.SetPWaveFormat(&adpcm);
  source.SetOutput(&bad);
  EXPECT_TRUE(PullAll(bad, 1000).empty());
  EXPECT_FALSE(bad.IsConvertible());
}

}  // namespace
}  // namespace pmx
