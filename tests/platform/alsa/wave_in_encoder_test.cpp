#include <gtest/gtest.h>

#include "platform/alsa/fake_wave_driver.h"
#include "platform/alsa/wave_in_device.h"
#include "platform/codecs/acm.h"
#include "tests/platform/alsa/wave_test_support.h"
#include "tests/support/acm_test_support.h"

namespace pmx {
namespace {

using test::WaveBuffers;
using test::WaveEvents;

WaveFormatEx Coded(uint16_t tag, const WaveFormatEx& pcm) {
  WaveFormatEx dst;
  dst.set_wFormatTag(tag);
  EXPECT_EQ(acmFormatSuggest(nullptr, pcm, dst, 1024, ACM_FORMATSUGGESTF_WFORMATTAG),
            MMSYSERR_NOERROR);
  return dst;
}

struct EncodedCase {
  uint16_t tag;
  double min_snr_db;
};

class WaveInEncodedTest : public ::testing::TestWithParam<EncodedCase> {
 protected:
  WaveInEncodedTest() {
    // The device records PCM only, as a sound card does.
    driver_.SetAccepts([](const WaveFormatEx& f) { return f.wFormatTag() == WAVE_FORMAT_PCM; });
  }

  FakeWaveDriver driver_;
  ScopedWaveDriver installed_{driver_};
  WaveFormatEx pcm_ = WaveFormatEx::Pcm(8000, 16, 1);
  WaveEvents events_;
  std::unique_ptr<WaveInDevice> device_;
};

TEST_P(WaveInEncodedTest, BuffersHoldWholeCodecBlocksThatDecodeToTheRecordedSignal) {
  const WaveFormatEx codec = Coded(GetParam().tag, pcm_);
  const uint32_t block = codec.nBlockAlign();
  ASSERT_EQ(waveInOpen(device_, 0, codec, nullptr, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
  ASSERT_EQ(waveInOpen(device_, 0, codec, events_.Callback(), 0), MMSYSERR_NOERROR);
  auto pcm = driver_.Last(WaveDirection::kInput);
  // Buffers that are not a multiple of the block: each takes whole blocks only.
  WaveBuffers buffers({block * 3 + 7, block * 5 + 1, block * 4, block * 100});
  for (std::size_t i = 0; i < buffers.size(); ++i) {
    ASSERT_EQ(device_->AddBuffer(buffers[i]), MMSYSERR_NOERROR);
  }
  ASSERT_EQ(device_->Start(), MMSYSERR_NOERROR);
  const uint64_t frames = 8000;
  for (int i = 0; i < 80; ++i) {
    pcm->Advance(frames / 80);
    ASSERT_TRUE(pcm->WaitUntil([](const FakePcm& p) { return p.Buffered() == 0; }));
  }
  ASSERT_TRUE(events_.WaitDone(3));
  ASSERT_EQ(device_->Stop(), MMSYSERR_NOERROR);
  ASSERT_TRUE(events_.WaitDone(4));

  const auto done = events_.Done();
  EXPECT_EQ(done[0].bytes.size(), block * 3);
  EXPECT_EQ(done[1].bytes.size(), block * 5);
  EXPECT_EQ(done[2].bytes.size(), block * 4);
  const auto encoded = test::Joined(done);
  ASSERT_EQ(encoded.size() % block, 0u);
  MMTIME time{TIME_SAMPLES, 0};
  ASSERT_EQ(device_->GetPosition(time), MMSYSERR_NOERROR);
  EXPECT_EQ(time.value, frames);

  const auto original = FakePcm::Ramp(pcm_, 0, frames);
  // Encoding as it arrives gives the bytes of encoding the whole recording at once.
  EXPECT_EQ(test::FirstDifference(encoded, test::Convert(pcm_, codec, original)), -1);
  const auto decoded = test::Convert(codec, pcm_, encoded);
  ASSERT_GE(decoded.size(), original.size());
  EXPECT_GE(test::DelayedSnrDb(original, decoded, 1, 400), GetParam().min_snr_db);
  ASSERT_EQ(device_->Close(), MMSYSERR_NOERROR);
}

INSTANTIATE_TEST_SUITE_P(Codecs, WaveInEncodedTest,
                         ::testing::Values(EncodedCase{WAVE_FORMAT_IMA_ADPCM, 30},
                                           // The slow ramp is almost DC, which
                                           // GSM's input filter takes out.
                                           EncodedCase{WAVE_FORMAT_GSM610, 3}));

TEST(WaveInEncoded, AFormatTheRegistryCannotReachStaysRefused) {
  FakeWaveDriver driver;
  ScopedWaveDriver installed{driver};
  driver.SetAccepts([](const WaveFormatEx& f) { return f.wFormatTag() == WAVE_FORMAT_PCM; });
  WaveFormatEx unknown = WaveFormatEx::Pcm(8000, 16, 1);
  unknown.set_wFormatTag(0x7777);
  std::unique_ptr<WaveInDevice> device;
  EXPECT_EQ(waveInOpen(device, 0, unknown, nullptr, 0), WAVERR_BADFORMAT);
  EXPECT_FALSE(device);
}

}  // namespace
}  // namespace pmx
