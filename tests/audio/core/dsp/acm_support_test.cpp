#include "audio/core/dsp/acm_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "audio/core/dsp/wave_format.h"
#include "tests/support/acm_test_support.h"

namespace pmx {
namespace {

class AcmSupport : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadACM();
    SetFormatSeparatorSource([] { return TFormatSeparators{',', '.'}; });
  }
  void TearDown() override {
    SetFormatSeparatorSource({});
    LoadACM();
  }

  static WaveFormatEx Coded(uint16_t tag, const WaveFormatEx& pcm) {
    WaveFormatEx dst;
    dst.set_wFormatTag(tag);
    EXPECT_EQ(acmFormatSuggest(nullptr, pcm, dst, 1024, ACM_FORMATSUGGESTF_WFORMATTAG),
              MMSYSERR_NOERROR);
    return dst;
  }

  // Pushes data through the object in steps of step bytes, then flushes.
  static std::vector<uint8_t> Run(TACMConvert& c, const std::vector<uint8_t>& data,
                                  uint32_t step) {
    std::vector<uint8_t> out;
    auto take = [&](int64_t n) {
      EXPECT_GE(n, 0);
      out.insert(out.end(), c.DestBuffer + c.ReadOffset, c.DestBuffer + c.BytesAvailable);
      c.ReadOffset = c.BytesAvailable;
    };
    for (std::size_t at = 0; at < data.size(); at += step) {
      const auto n = static_cast<uint32_t>(std::min<std::size_t>(step, data.size() - at));
      std::memcpy(c.SourceBuffer, data.data() + at, n);
      take(acmConvertBytes(&c, n));
    }
    for (int i = 0; i < 8; ++i) take(acmConvertEnd(&c, 0));
    return out;
  }
};

TEST_F(AcmSupport, RegistryNamesAreTheCoresTexts) {
  ACMFORMATTAGDETAILS tag;
  tag.dwFormatTag = WAVE_FORMAT_PCM;
  ASSERT_EQ(ACMEntryPoints().acmFormatTagDetailsA(nullptr, tag, ACM_FORMATTAGDETAILSF_FORMATTAG),
            MMSYSERR_NOERROR);
  EXPECT_EQ(tag.szFormatTag, "PCM");
  ACMFORMATDETAILS details;
  details.wfx = WaveFormatEx::Pcm(44100, 16, 2);
  ASSERT_EQ(ACMEntryPoints().acmFormatDetailsA(nullptr, details, ACM_FORMATDETAILSF_FORMAT),
            MMSYSERR_NOERROR);
  EXPECT_EQ(details.szFormat, "44.100 kHz, 16 Bit, Stereo");
  tag.dwFormatTag = WAVE_FORMAT_IMA_ADPCM;
  ASSERT_EQ(acmFormatTagDetails(nullptr, tag, ACM_FORMATTAGDETAILSF_FORMATTAG), MMSYSERR_NOERROR);
  EXPECT_EQ(tag.szFormatTag, "IMA ADPCM");
}

TEST_F(AcmSupport, FormatsDifferOnlyInTagBitsChannelsAndRate) {
  WaveFormatEx a = WaveFormatEx::Pcm(22050, 16, 2);
  WaveFormatEx b = a;
  b.set_nAvgBytesPerSec(1);
  b.set_nBlockAlign(3);
  EXPECT_FALSE(acmFormatsDiffer(&a, &b));
  EXPECT_FALSE(acmFormatsDiffer(&a, nullptr));
  // Equal formats convert without asking any driver, even odd ones.
  EXPECT_TRUE(acmCanConvert(&a, &b, cqLow));
  b.set_nSamplesPerSec(22051);
  EXPECT_TRUE(acmFormatsDiffer(&a, &b));
}

TEST_F(AcmSupport, SuggestsPcm) {
  WaveFormatEx pcm = WaveFormatEx::Pcm(11025, 8, 1);
  pcm.set_nAvgBytesPerSec(12345);
  WaveFormatEx out;
  acmSuggestPCMFormat(&pcm, out);
  EXPECT_EQ(out, pcm);

  const WaveFormatEx pcm16 = WaveFormatEx::Pcm(22050, 16, 2);
  const WaveFormatEx ima = Coded(WAVE_FORMAT_IMA_ADPCM, pcm16);
  acmSuggestPCMFormat(&ima, out);
  EXPECT_EQ(out, pcm16);

  WaveFormatEx unknown = pcm16;
  unknown.set_wFormatTag(0x1234);
  acmSuggestPCMFormat(&unknown, out);
  EXPECT_EQ(out.wFormatTag(), 0);

  UnloadACM();
  acmSuggestPCMFormat(&pcm, out);
  EXPECT_EQ(out.wFormatTag(), 0);
  EXPECT_FALSE(acmCanConvert(&pcm, &pcm16, cqHigh));
  EXPECT_EQ(acmCreateConverter(&pcm, &pcm16, nullptr, cqHigh, 8192), nullptr);
}

TEST_F(AcmSupport, CanConvertThroughIntermediateFormats) {
  const WaveFormatEx cd = WaveFormatEx::Pcm(44100, 16, 2);
  const WaveFormatEx ima8k = Coded(WAVE_FORMAT_IMA_ADPCM, WaveFormatEx::Pcm(8000, 16, 1));
  const WaveFormatEx mulaw = Coded(WAVE_FORMAT_MULAW, WaveFormatEx::Pcm(22050, 16, 2));
  EXPECT_TRUE(acmCanConvert(&cd, &ima8k, cqLow));
  EXPECT_TRUE(acmCanConvert(&ima8k, &cd, cqLow));
  EXPECT_TRUE(acmCanConvert(&ima8k, &mulaw, cqLow));
  WaveFormatEx unknown = cd;
  unknown.set_wFormatTag(0x1234);
  EXPECT_FALSE(acmCanConvert(&cd, &unknown, cqHigh));
  EXPECT_FALSE(acmCanConvert(nullptr, &cd, cqHigh));
}

TEST_F(AcmSupport, PartialBlocksWaitAsLeftover) {
  const WaveFormatEx pcm = WaveFormatEx::Pcm(8000, 16, 1);
  const WaveFormatEx ima = Coded(WAVE_FORMAT_IMA_ADPCM, pcm);
  PACMConvert c = acmCreateConverter(&pcm, &ima, nullptr, cqLow, 8192);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->SourceSize, 8192u);
  const auto data = test::TonePcm16(pcm, 0.2);
  std::memcpy(c->SourceBuffer, data.data(), 100);
  EXPECT_EQ(acmConvertBytes(c.get(), 100), 0);
  EXPECT_TRUE(c->InputPending);
  // One block needs 505 samples: the 100 bytes kept plus 910 new ones make it.
  std::memcpy(c->SourceBuffer, data.data() + 100, 910);
  EXPECT_EQ(acmConvertBytes(c.get(), 910), ima.nBlockAlign());
  EXPECT_FALSE(c->InputPending);
  acmDestroyConverter(c);
  EXPECT_EQ(c, nullptr);
}

// 44.1 kHz stereo to 8 kHz mono IMA and back to 8 kHz mono goes through
// intermediate PCM stages; each keeps its own leftover.
TEST_F(AcmSupport, MultiStageRoundTripKeepsTheSignal) {
  const WaveFormatEx cd = WaveFormatEx::Pcm(44100, 16, 2);
  const WaveFormatEx mono8k = WaveFormatEx::Pcm(8000, 16, 1);
  const WaveFormatEx ima = Coded(WAVE_FORMAT_IMA_ADPCM, mono8k);
  const auto original = test::TonePcm16(cd, 1.0);

  PACMConvert to_ima = acmCreateConverter(&cd, &ima, nullptr, cqLow, 8192);
  ASSERT_NE(to_ima, nullptr);
  EXPECT_GE(to_ima->Stages.size(), 2u);
  const auto coded = Run(*to_ima, original, 4444);
  EXPECT_EQ(coded.size() % ima.nBlockAlign(), 0u);
  EXPECT_NEAR(static_cast<double>(coded.size()), ima.nAvgBytesPerSec(), ima.nBlockAlign());

  PACMConvert to_pcm = acmCreateConverter(&ima, &mono8k, nullptr, cqLow, 4096);
  ASSERT_NE(to_pcm, nullptr);
  const auto decoded = Run(*to_pcm, coded, 1000);
  // The reference: the same first stages alone, without the codec.
  PACMConvert reference = acmCreateConverter(&cd, &mono8k, nullptr, cqLow, 8192);
  ASSERT_NE(reference, nullptr);
  const auto plain = Run(*reference, original, 4444);
  EXPECT_NEAR(static_cast<double>(plain.size()), 16000.0, 4);
  EXPECT_GT(test::SnrDb(plain, decoded), 18.0);
}

TEST_F(AcmSupport, ResetDiscardsOutputAndLeftovers) {
  const WaveFormatEx pcm = WaveFormatEx::Pcm(8000, 16, 1);
  const WaveFormatEx ima = Coded(WAVE_FORMAT_IMA_ADPCM, pcm);
  PACMConvert c = acmCreateConverter(&pcm, &ima, nullptr, cqLow, 8192);
  ASSERT_NE(c, nullptr);
  const auto data = test::TonePcm16(pcm, 0.5);
  std::memcpy(c->SourceBuffer, data.data(), 3000);
  EXPECT_EQ(acmConvertBytes(c.get(), 3000), 2 * ima.nBlockAlign());
  EXPECT_TRUE(c->InputPending);
  acmResetConverter(c.get());
  EXPECT_EQ(c->ReadOffset, c->BytesAvailable);
  EXPECT_FALSE(c->InputPending);
  // After the reset the next block starts from fresh input only.
  std::memcpy(c->SourceBuffer, data.data(), 1010);
  EXPECT_EQ(acmConvertBytes(c.get(), 1010), ima.nBlockAlign());
  EXPECT_FALSE(c->InputPending);
}

// Each conversion object belongs to its thread; the registry is shared, and the
// services may be installed again meanwhile.
TEST_F(AcmSupport, ObjectsOnDifferentThreadsConvertAtOnce) {
  const WaveFormatEx cd = WaveFormatEx::Pcm(44100, 16, 2);
  const WaveFormatEx gsm = Coded(WAVE_FORMAT_GSM610, WaveFormatEx::Pcm(8000, 16, 1));
  const auto original = test::TonePcm16(cd, 0.5);
  std::vector<uint8_t> results[2];
  std::vector<std::thread> threads;
  for (auto& result : results) {
    threads.emplace_back([&] {
      PACMConvert c = acmCreateConverter(&cd, &gsm, nullptr, cqLow, 8192);
      if (c) result = Run(*c, original, 3000);
    });
  }
  LoadACM();
  for (auto& t : threads) t.join();
  EXPECT_FALSE(results[0].empty());
  EXPECT_EQ(results[0], results[1]);
}

TEST_F(AcmSupport, NoConverterForEqualOrMissingFormats) {
  const WaveFormatEx pcm = WaveFormatEx::Pcm(8000, 16, 1);
  EXPECT_EQ(acmCreateConverter(&pcm, &pcm, nullptr, cqLow, 8192), nullptr);
  EXPECT_EQ(acmCreateConverter(&pcm, nullptr, nullptr, cqLow, 8192), nullptr);
  EXPECT_EQ(acmConvertBytes(nullptr, 1), -1);
  EXPECT_EQ(acmConvertEnd(nullptr, 1), -1);
}

}  // namespace
}  // namespace pmx
