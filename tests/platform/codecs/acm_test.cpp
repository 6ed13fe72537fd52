#include "platform/codecs/acm.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/codecs/acm_driver.h"
#include "platform/codecs/ms_adpcm.h"
#include "tests/support/acm_test_support.h"

namespace pmx {
namespace {

WaveFormatEx Coded(uint16_t tag, const WaveFormatEx& pcm) {
  WaveFormatEx dst;
  dst.set_wFormatTag(tag);
  EXPECT_EQ(acmFormatSuggest(nullptr, pcm, dst, 1024, ACM_FORMATSUGGESTF_WFORMATTAG),
            MMSYSERR_NOERROR)
      << "tag " << tag;
  return dst;
}

struct CodecCase {
  uint16_t tag;
  uint32_t rate;
  uint16_t channels;
  double min_snr_db;
};

class AcmRoundTrip : public ::testing::TestWithParam<CodecCase> {};

// Source chunks that are not whole blocks and a destination far smaller than one
// step's output: the stream must keep the rest of both for the next call.
TEST_P(AcmRoundTrip, EncodesAndDecodesAboveItsNoiseFloor) {
  const CodecCase c = GetParam();
  const WaveFormatEx pcm = WaveFormatEx::Pcm(c.rate, 16, c.channels);
  const WaveFormatEx coded = Coded(c.tag, pcm);
  const auto original = test::TonePcm16(pcm, 0.5);

  HACMSTREAM enc = nullptr;
  ASSERT_EQ(acmStreamOpen(&enc, nullptr, pcm, coded, 0), MMSYSERR_NOERROR);
  const auto encoded = test::RunStream(enc, original, 999, 97);
  acmStreamClose(enc, 0);
  ASSERT_EQ(encoded.size() % coded.nBlockAlign(), 0u);

  const auto decoded = test::Convert(coded, pcm, encoded, 777);
  ASSERT_GE(decoded.size(), original.size());
  EXPECT_LT(decoded.size() - original.size(), 4096u * c.channels) << "padding beyond one block";
  EXPECT_GT(test::SnrDb(original, decoded), c.min_snr_db);
}

INSTANTIATE_TEST_SUITE_P(Codecs, AcmRoundTrip,
                         ::testing::Values(CodecCase{WAVE_FORMAT_ALAW, 8000, 1, 34},
                                           CodecCase{WAVE_FORMAT_MULAW, 22050, 2, 34},
                                           CodecCase{WAVE_FORMAT_IMA_ADPCM, 8000, 1, 23},
                                           CodecCase{WAVE_FORMAT_IMA_ADPCM, 44100, 2, 38},
                                           CodecCase{WAVE_FORMAT_ADPCM, 11025, 1, 38},
                                           CodecCase{WAVE_FORMAT_ADPCM, 22050, 2, 38},
                                           CodecCase{WAVE_FORMAT_GSM610, 8000, 1, 15}));

TEST(AcmStream, OutputIsTheSameHoweverTheBuffersAreCut) {
  const WaveFormatEx pcm = WaveFormatEx::Pcm(11025, 16, 2);
  const WaveFormatEx ima = Coded(WAVE_FORMAT_IMA_ADPCM, pcm);
  const auto original = test::TonePcm16(pcm, 0.3);
  const auto whole = test::Convert(pcm, ima, original, original.size());
  EXPECT_EQ(test::Convert(pcm, ima, original, 333), whole);

  HACMSTREAM has = nullptr;
  ASSERT_EQ(acmStreamOpen(&has, nullptr, pcm, ima, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(test::RunStream(has, original, 5000, 1), whole);
  acmStreamClose(has, 0);
}

TEST(AcmStream, SizeEstimatesCoverACarriedStep) {
  const WaveFormatEx pcm = WaveFormatEx::Pcm(8000, 16, 1);
  const WaveFormatEx ima = Coded(WAVE_FORMAT_IMA_ADPCM, pcm);
  HACMSTREAM has = nullptr;
  ASSERT_EQ(acmStreamOpen(&has, nullptr, ima, pcm, 0), MMSYSERR_NOERROR);
  uint32_t out = 0;
  ASSERT_EQ(acmStreamSize(has, ima.nBlockAlign(), out, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
  const uint32_t block_pcm = 505 * 2;
  EXPECT_GE(out, 2 * block_pcm);
  ASSERT_EQ(acmStreamSize(has, out, out, ACM_STREAMSIZEF_DESTINATION), MMSYSERR_NOERROR);
  EXPECT_EQ(out % ima.nBlockAlign(), 0u);
  EXPECT_EQ(acmStreamSize(has, 1, out, 7), MMSYSERR_INVALFLAG);
  acmStreamClose(has, 0);
}

TEST(AcmStream, UnpreparedHeadersAndBadHandlesAreRefused) {
  const WaveFormatEx pcm = WaveFormatEx::Pcm(8000, 16, 1);
  HACMSTREAM has = nullptr;
  ASSERT_EQ(acmStreamOpen(&has, nullptr, pcm, Coded(WAVE_FORMAT_MULAW, pcm), 0),
            MMSYSERR_NOERROR);
  ACMSTREAMHEADER h;
  EXPECT_EQ(acmStreamConvert(has, h, 0), ACMERR_UNPREPARED);
  EXPECT_EQ(acmStreamUnprepareHeader(has, h, 0), ACMERR_UNPREPARED);
  EXPECT_EQ(acmStreamClose(has, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(acmStreamClose(nullptr, 0), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, pcm, pcm, 0), MMSYSERR_INVALPARAM);
}

TEST(AcmFormats, HostileFormatsAreRefused) {
  WaveFormatEx hostile = WaveFormatEx::Pcm(8000, 16, 1);
  hostile.set_wFormatTag(WAVE_FORMAT_IMA_ADPCM);
  hostile.set_cbSize(60000);
  hostile.set_nBlockAlign(0);
  const WaveFormatEx pcm = WaveFormatEx::Pcm(8000, 16, 1);
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, hostile, pcm, ACM_STREAMOPENF_QUERY),
            MMSYSERR_INVALPARAM);
  WaveFormatEx out;
  EXPECT_EQ(acmFormatSuggest(nullptr, hostile, out, 1024, 0), MMSYSERR_INVALPARAM);
  ACMFORMATDETAILS details;
  details.wfx = hostile;
  EXPECT_EQ(acmFormatDetails(nullptr, details, ACM_FORMATDETAILSF_FORMAT), MMSYSERR_INVALPARAM);

  // Announced extra bytes that are missing, with a sound header otherwise.
  WaveFormatEx ima = Coded(WAVE_FORMAT_IMA_ADPCM, pcm);
  WaveFormatEx short_extra = WaveFormatEx::FromBytes(ima.Bytes().first(18));
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, short_extra, pcm, ACM_STREAMOPENF_QUERY),
            MMSYSERR_INVALPARAM);
  // A byte rate that is wrong is no reason to refuse; samples per block that do
  // not fit the block, or channels no codec decodes, are.
  ima.set_nAvgBytesPerSec(1);
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, ima, pcm, ACM_STREAMOPENF_QUERY), MMSYSERR_NOERROR);
  ima.MutableExtra()[0] += 1;  // 506 in a block that holds 505
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, ima, pcm, ACM_STREAMOPENF_QUERY), ACMERR_NOTPOSSIBLE);
  WaveFormatEx ms = Coded(WAVE_FORMAT_ADPCM, pcm);
  ms.set_nChannels(300);
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, ms, AcmPcm16(ms), ACM_STREAMOPENF_QUERY), ACMERR_NOTPOSSIBLE);
}

TEST(AcmFormats, SuggestionWithoutATagIsPcm) {
  const WaveFormatEx pcm = WaveFormatEx::Pcm(22050, 16, 2);
  const WaveFormatEx ima = Coded(WAVE_FORMAT_IMA_ADPCM, pcm);
  WaveFormatEx out;
  ASSERT_EQ(acmFormatSuggest(nullptr, ima, out, 18, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(out, pcm);
  // A suggestion larger than the caller's room is refused.
  out = WaveFormatEx();
  out.set_wFormatTag(WAVE_FORMAT_IMA_ADPCM);
  EXPECT_EQ(acmFormatSuggest(nullptr, pcm, out, 18, ACM_FORMATSUGGESTF_WFORMATTAG),
            ACMERR_NOTPOSSIBLE);
  // Fixed fields a codec cannot honour.
  out = WaveFormatEx();
  out.set_nSamplesPerSec(8000);
  EXPECT_EQ(acmFormatSuggest(nullptr, ima, out, 18, ACM_FORMATSUGGESTF_NSAMPLESPERSEC),
            ACMERR_NOTPOSSIBLE);
}

std::vector<WaveFormatEx> Enumerate(const WaveFormatEx& templ, uint32_t flags) {
  std::vector<WaveFormatEx> found;
  ACMFORMATDETAILS t;
  t.wfx = templ;
  EXPECT_EQ(acmFormatEnum(
                nullptr, t,
                [&](HACMDRIVERID, const ACMFORMATDETAILS& d, uint32_t) {
                  found.push_back(d.wfx);
                  return true;
                },
                flags),
            MMSYSERR_NOERROR);
  return found;
}

TEST(AcmFormats, EnumerationFilters) {
  WaveFormatEx templ;
  templ.set_wFormatTag(WAVE_FORMAT_IMA_ADPCM);
  templ.set_nChannels(2);
  const auto ima_stereo = Enumerate(templ, ACM_FORMATENUMF_WFORMATTAG | ACM_FORMATENUMF_NCHANNELS);
  ASSERT_FALSE(ima_stereo.empty());
  for (const auto& f : ima_stereo) {
    EXPECT_EQ(f.wFormatTag(), WAVE_FORMAT_IMA_ADPCM);
    EXPECT_EQ(f.nChannels(), 2);
  }

  const WaveFormatEx pcm = WaveFormatEx::Pcm(8000, 16, 1);
  std::set<uint16_t> tags;
  for (const auto& f : Enumerate(pcm, ACM_FORMATENUMF_CONVERT)) {
    tags.insert(f.wFormatTag());
    if (f.wFormatTag() != WAVE_FORMAT_PCM) {
      EXPECT_EQ(f.nSamplesPerSec(), 8000u);
      EXPECT_EQ(f.nChannels(), 1);
    }
  }
  EXPECT_TRUE(tags.count(WAVE_FORMAT_ALAW) && tags.count(WAVE_FORMAT_MULAW) &&
              tags.count(WAVE_FORMAT_IMA_ADPCM));

  for (const auto& f : Enumerate(Coded(WAVE_FORMAT_MULAW, pcm), ACM_FORMATENUMF_SUGGEST)) {
    EXPECT_EQ(f, pcm);
  }
  EXPECT_EQ(acmFormatEnum(nullptr, ACMFORMATDETAILS(), nullptr, 0), MMSYSERR_INVALPARAM);

  // Everything listed for output is what some driver writes from PCM.
  std::set<uint16_t> written;
  for (const auto& f : Enumerate(WaveFormatEx(), ACM_FORMATENUMF_OUTPUT)) {
    written.insert(f.wFormatTag());
    if (f.wFormatTag() == WAVE_FORMAT_PCM) continue;
    const WaveFormatEx from = WaveFormatEx::Pcm(f.nSamplesPerSec(), 16, f.nChannels());
    EXPECT_EQ(acmStreamOpen(nullptr, nullptr, from, f, ACM_STREAMOPENF_QUERY), MMSYSERR_NOERROR);
  }
  EXPECT_TRUE(written.count(WAVE_FORMAT_GSM610) && written.count(WAVE_FORMAT_ADPCM));
}

TEST(AcmRegistry, VersionMetricsAndDrivers) {
  EXPECT_GE(acmGetVersion() >> 16, 0x0200u);
  uint32_t drivers = 0, codecs = 0, converters = 0, largest = 0;
  ASSERT_EQ(acmMetrics(nullptr, ACM_METRIC_COUNT_DRIVERS, drivers), MMSYSERR_NOERROR);
  ASSERT_EQ(acmMetrics(nullptr, ACM_METRIC_COUNT_CODECS, codecs), MMSYSERR_NOERROR);
  ASSERT_EQ(acmMetrics(nullptr, ACM_METRIC_COUNT_CONVERTERS, converters), MMSYSERR_NOERROR);
  ASSERT_EQ(acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, largest), MMSYSERR_NOERROR);
  EXPECT_GE(drivers, 4u);
  EXPECT_EQ(codecs + converters, drivers);
  EXPECT_GE(largest, 20u);

  std::vector<HACMDRIVERID> ids;
  acmDriverEnum([&](HACMDRIVERID id, uint32_t) { return ids.push_back(id), true; }, 0);
  ASSERT_EQ(ids.size(), drivers);
  ACMDRIVERDETAILS details;
  ASSERT_EQ(acmDriverDetails(ids[0], details, 0), MMSYSERR_NOERROR);
  EXPECT_FALSE(details.szShortName.empty());
  EXPECT_EQ(acmDriverDetails(nullptr, details, 0), MMSYSERR_INVALHANDLE);
}

}  // namespace
}  // namespace pmx

namespace pmx {
namespace {

TEST(Gsm, EightKilohertzMonoFormat) {
  WaveFormatEx gsm;
  gsm.set_wFormatTag(WAVE_FORMAT_GSM610);
  const WaveFormatEx pcm = WaveFormatEx::Pcm(8000, 16, 1);
  ASSERT_EQ(acmFormatSuggest(nullptr, pcm, gsm, 64, ACM_FORMATSUGGESTF_WFORMATTAG),
            MMSYSERR_NOERROR);
  EXPECT_EQ(gsm.wFormatTag(), 0x31);
  EXPECT_EQ(gsm.nBlockAlign(), 65);
  EXPECT_EQ(gsm.nAvgBytesPerSec(), 1625u);
  // Stereo has no GSM format.
  EXPECT_EQ(acmFormatSuggest(nullptr, WaveFormatEx::Pcm(8000, 16, 2), gsm, 64,
                             ACM_FORMATSUGGESTF_WFORMATTAG),
            ACMERR_NOTPOSSIBLE);
}

// The encoder and decoder delay the signal by about 1100 + 529 frames.
TEST(Mp3, EncodesAndDecodesThroughTheLibraries) {
  const WaveFormatEx pcm = WaveFormatEx::Pcm(44100, 16, 1);
  WaveFormatEx mp3;
  mp3.set_wFormatTag(WAVE_FORMAT_MPEGLAYER3);
  ASSERT_EQ(acmFormatSuggest(nullptr, pcm, mp3, 64, ACM_FORMATSUGGESTF_WFORMATTAG),
            MMSYSERR_NOERROR);
  EXPECT_EQ(mp3.nAvgBytesPerSec(), 128000u / 8);
  EXPECT_EQ(mp3.nBlockAlign(), 1);
  const auto original = test::TonePcm16(pcm, 1.0);
  const auto encoded = test::Convert(pcm, mp3, original, 3000);
  EXPECT_NEAR(static_cast<double>(encoded.size()), 16000.0, 1500.0);
  const auto decoded = test::Convert(mp3, pcm, encoded, 500);
  EXPECT_NEAR(static_cast<double>(decoded.size()), static_cast<double>(original.size()),
              2 * 2 * 1152 * 2);
  EXPECT_GT(test::DelayedSnrDb(original, decoded, 1, 3000), 15.0);
}

TEST(MsAdpcm, StandardFormatAndBrokenBlocks) {
  const WaveFormatEx f = MSADPCMFormat(8000, 1);
  EXPECT_EQ(f.nBlockAlign(), 256);
  EXPECT_EQ(MSADPCMSamplesPerBlock(f), 500);
  EXPECT_EQ(f.nAvgBytesPerSec(), 4112u);
  EXPECT_EQ(f.cbSize(), 32);
  EXPECT_TRUE(IsStandardMSADPCM(f));
  WaveFormatEx odd = f;
  odd.MutableExtra()[4] ^= 1;
  EXPECT_FALSE(IsStandardMSADPCM(odd));

  std::vector<uint8_t> block(256, 0);
  std::vector<int16_t> out(500);
  block[0] = 7;
  EXPECT_EQ(MSADPCMDecodeBlock(block, 1, 500, out.data()), 0u);
  block[0] = 0;
  EXPECT_EQ(MSADPCMDecodeBlock(block, 1, 500, out.data()), 500u);
  // A piece cut short decodes what is there.
  EXPECT_EQ(MSADPCMDecodeBlock(std::span(block).first(17), 1, 500, out.data()), 2u + 20u);

  // A rate whose block size wraps to 0 in 16 bits has no format and no suggestion.
  EXPECT_EQ(MSADPCMFormat(1408000, 2).nBlockAlign(), 0);
  WaveFormatEx suggested;
  suggested.set_wFormatTag(WAVE_FORMAT_ADPCM);
  EXPECT_NE(acmFormatSuggest(nullptr, WaveFormatEx::Pcm(1408000, 16, 2), suggested, 1024,
                             ACM_FORMATSUGGESTF_WFORMATTAG),
            MMSYSERR_NOERROR);
}

}  // namespace
}  // namespace pmx
