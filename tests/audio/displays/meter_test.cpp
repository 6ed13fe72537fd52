#include "audio/displays/meter.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/wave_types.h"
#include "tests/audio/displays/pcm_blocks.h"

namespace pmx {
namespace {

// A meter whose peak timer the test ticks by hand.
struct ManualMeter : TMMMeter {
  explicit ManualMeter(QWidget* parent = nullptr) : TMMMeter(nullptr, parent) {
    MMTimerSuspendClient(PeakTimerClient());
  }
};

TEST(Meter, DefaultsClampingAndTheFormatCheck) {
  ManualMeter meter;
  EXPECT_EQ(meter.width(), 170);
  EXPECT_EQ(meter.height(), 90);
  EXPECT_EQ(meter.Caption(), "dB");
  EXPECT_EQ(meter.BytesPerRefresh(), 50);
  meter.SetScaleAngle(200);
  EXPECT_EQ(meter.ScaleAngle(), 180);
  meter.SetScaleAngle(10);
  EXPECT_EQ(meter.ScaleAngle(), 45);
  meter.SetSensitivy(0);
  EXPECT_EQ(meter.Sensitivy(), -9);
  meter.SetGain(33);
  EXPECT_EQ(meter.Gain(), 0);

  const WaveFormatEx stereo = WaveFormatEx::Pcm(44100, 16, 2);
  meter.SetPCMWaveFormat(&stereo);
  EXPECT_EQ(meter.BytesPerRefresh(), 200);
  WaveFormatEx bad = stereo;
  bad.set_wBitsPerSample(24);
  try {
    meter.SetPCMWaveFormat(&bad);
    FAIL();
  } catch (const EMMMeterError& e) {
    EXPECT_STREQ(e.what(), "Invalid WaveFormat");
  }
  EXPECT_EQ(meter.BytesPerRefresh(), 200);
}

TEST(Meter, TheNeedleSweepsTheScaleAngleCentredOnTheVertical) {
  ManualMeter meter;
  const QPoint pivot = meter.Pivot();
  const TRect inner = meter.GetInnerRect();
  EXPECT_EQ(pivot, QPoint(inner.Width() / 2, inner.Height() + 30));
  meter.SetScaleAngle(180);
  EXPECT_EQ(meter.ArcPoint(0, 50), pivot + QPoint(-50, 0));
  EXPECT_EQ(meter.ArcPoint(32767, 50), pivot + QPoint(50, 0));
  EXPECT_EQ(meter.ArcPoint(16384, 50), pivot + QPoint(0, -50));
  meter.SetScaleAngle(90);
  EXPECT_EQ(meter.ArcPoint(0, 100), pivot + QPoint(-71, -71));
  EXPECT_EQ(meter.ArcPoint(32767, 100), pivot + QPoint(71, -71));
}

TEST(Meter, FullScaleOverflowsAndSilenceLeavesTheNeedleAtRest) {
  ManualMeter meter;
  int gain_overflows = 0;
  int pcm_overflows = 0;
  meter.OnGainOverflow = [&](TObject*) { ++gain_overflows; };
  meter.OnPcmOverflow = [&](TObject*) { ++pcm_overflows; };
  const WaveFormatEx mono16 = WaveFormatEx::Pcm(8000, 16, 1);
  meter.SetPCMWaveFormat(&mono16);

  meter.RefreshPCMData(Samples16({0}, 50).data());
  EXPECT_EQ(meter.NeedleValue(), 0);
  EXPECT_EQ(gain_overflows, 0);
  meter.RefreshPCMData(Samples16({32767}, 50).data());
  EXPECT_EQ(meter.NeedleValue(), 32767);
  EXPECT_EQ(meter.LastPeak(), 32767);
  EXPECT_EQ(gain_overflows, 1);
  EXPECT_EQ(pcm_overflows, 1);
  meter.RefreshPCMData(Samples16({1}, 50).data());  // -90 dB: below the scale
  EXPECT_EQ(meter.NeedleValue(), 0);
  EXPECT_EQ(meter.Value(), 0);
}

TEST(Meter, ValueRoundTripsThroughTheLogAndLinearScales) {
  ManualMeter meter;
  for (bool log : {true, false}) {
    meter.SetLogAmp(log);
    for (int v : {100, 50, 25}) {
      meter.SetValue(v);
      EXPECT_EQ(meter.Value(), v) << log;
    }
  }
  // Linear: the -50 dB floor (32767 / 10^2.5) sits at the left end.
  meter.SetValue(50);
  const double floor = 32767 / 316.2278;
  EXPECT_NEAR(meter.NeedleValue(), (16384 - floor) * 32767 / (32767 - floor), 1);
}

TEST(Meter, AStereoFeedReadsTheChosenChannelAfterItsDcOffset) {
  ManualMeter meter;
  const WaveFormatEx stereo = WaveFormatEx::Pcm(8000, 16, 2);
  meter.SetPCMWaveFormat(&stereo);
  meter.SetSamples(4);
  const std::vector<uint8_t> block = Samples16({1000, -3000}, 4);
  meter.RefreshPCMData(block.data());
  EXPECT_EQ(meter.LastPeak(), 1000);  // both: the mean of left and right
  meter.SetChannel(TMMChannel::chRight);
  meter.SetDCOffsetR(-500);
  meter.RefreshPCMData(block.data());
  EXPECT_EQ(meter.LastPeak(), 2500);
  meter.SetEnabled(false);
  meter.RefreshPCMData(block.data());
  EXPECT_EQ(meter.LastPeak(), 0);
}

TEST(Meter, TheHeldPeakDropsToTheNeedleOrFallsAtPeakSpeed) {
  ManualMeter meter;
  meter.SetValue(100);
  meter.SetValue(50);
  const int needle = meter.NeedleValue();
  EXPECT_EQ(meter.PeakValue(), 32767);
  for (int i = 0; i < 40; ++i) meter.PeakTimer();
  EXPECT_EQ(meter.PeakValue(), 32767);
  meter.PeakTimer();
  EXPECT_EQ(meter.PeakValue(), needle);

  meter.SetPeakSpeed(4);
  meter.SetValue(100);
  meter.SetValue(50);
  for (int i = 0; i < 41; ++i) meter.PeakTimer();
  EXPECT_EQ(meter.PeakValue(), 32767 - 500);
  for (int i = 0; i < 3; ++i) meter.PeakTimer();
  EXPECT_EQ(meter.PeakValue(), 32767 - 500);
  meter.PeakTimer();
  EXPECT_EQ(meter.PeakValue(), 32767 - 1000);
  for (int i = 0; i < 400; ++i) meter.PeakTimer();
  EXPECT_EQ(meter.PeakValue(), needle);

  meter.ResetData();
  meter.SetShowPeak(false);
  meter.SetValue(100);
  EXPECT_EQ(meter.PeakValue(), 0);
}

// Like the level bar, the meter lets the shared timer sleep with nothing held.
TEST(Meter, NothingHeldLetsThePeakTimerSleepAndANewPeakWakesIt) {
  ManualMeter meter;
  meter.PeakTimer();
  EXPECT_TRUE(meter.PeakTimerClient()->idle);
  meter.SetValue(100);
  EXPECT_FALSE(meter.PeakTimerClient()->idle);
}

TEST(Meter, TheSharedTimerDropsTheHeldPeakWhileValuesArrive) {
  TMMMeter meter;
  meter.SetPeakDelay(0);
  meter.SetValue(100);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  int v = 0;
  // The GUI thread keeps feeding while the timer's thread ticks the hold down.
  while (meter.PeakValue() == 32767 && std::chrono::steady_clock::now() < deadline) {
    meter.SetValue(v = (v + 7) % 60);
    std::this_thread::yield();
  }
  EXPECT_LT(meter.PeakValue(), 32767);
}

TEST(Meter, UniformDecayAveragesTheLastValues) {
  ManualMeter meter;
  meter.SetLogAmp(false);
  meter.SetDecayMode(TMMDecayMode::dmUniform);
  meter.SetDecay(2);  // a ring of two
  meter.SetValue(100);
  meter.SetValue(0);
  EXPECT_EQ(meter.Value(), 50);
  meter.SetDecayMode(TMMDecayMode::dmNone);
  meter.SetValue(20);
  EXPECT_EQ(meter.Value(), 20);
}

// Whether colour c shows at p or next to it: a drawn line may round a pixel aside.
bool ShowsNear(const QImage& image, QPoint p, TColor c) {
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      const QPoint at = p + QPoint(dx, dy);
      if (image.valid(at) && image.pixel(at) == ToQColor(c).rgb()) return true;
    }
  }
  return false;
}

TEST(Meter, ARenderShowsTicksNeedlesAndTheFastPathRedrawsOverTheCache) {
  QWidget window;
  ManualMeter meter(&window);
  int post_paints = 0;
  meter.OnPostPaint = [&](TObject*) { ++post_paints; };
  meter.SetValue(100);
  meter.SetValue(50);  // log scale: the needle stands right of the middle
  const int rs = meter.ScaleRadius();
  const TRect inner = meter.GetInnerRect();
  auto render = [&] {
    return meter.grab().toImage().convertToFormat(QImage::Format_RGB32).copy(inner.ToQRect());
  };
  const QImage shown = render();
  EXPECT_GT(post_paints, 0);
  EXPECT_EQ(shown.pixel(1, 1), ToQColor(meter.Color()).rgb());
  EXPECT_TRUE(ShowsNear(shown, meter.ArcPoint(0, rs - 6), meter.Scale1Color()));
  EXPECT_TRUE(ShowsNear(shown, meter.ArcPoint(32767, rs - 6), meter.Scale3Color()));
  EXPECT_TRUE(ShowsNear(shown, meter.ArcPoint(32767, rs - 20), meter.PeakColor()));
  EXPECT_TRUE(ShowsNear(shown, meter.ArcPoint(meter.NeedleValue(), rs - 20), meter.NeedleColor()));

  // A new value through the fast path: the old needle is gone, the new one drawn.
  const QPoint old_needle = meter.ArcPoint(meter.NeedleValue(), rs - 20);
  meter.SetValue(10);
  const QImage fast = meter.BackStore().copy(inner.ToQRect());
  EXPECT_FALSE(ShowsNear(fast, old_needle, meter.NeedleColor()));
  EXPECT_TRUE(ShowsNear(fast, meter.ArcPoint(meter.NeedleValue(), rs - 20), meter.NeedleColor()));
  EXPECT_TRUE(ShowsNear(fast, meter.ArcPoint(32767, rs - 6), meter.Scale3Color()));
}

}  // namespace
}  // namespace pmx
