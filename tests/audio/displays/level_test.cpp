#include "audio/displays/level.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QScreen>
#include <QWidget>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/gui_ticker.h"
#include "platform/main_loop.h"
#include "platform/wave_types.h"
#include "tests/audio/displays/pcm_blocks.h"

namespace pmx {
namespace {

// A level bar whose peak timer the test ticks by hand.
struct ManualLevel : TMMLevel {
  explicit ManualLevel(QWidget* parent = nullptr) : TMMLevel(nullptr, parent) {
    MMTimerSuspendClient(PeakTimerClient());
  }
};

TEST(Level, DefaultsLayOutA200By17BarAndMapValues) {
  ManualLevel level;
  EXPECT_EQ(level.width(), 200);
  EXPECT_EQ(level.height(), 17);
  EXPECT_EQ(level.BytesPerRefresh(), 50);
  level.SetValue(50);
  EXPECT_EQ(level.LitSpots(), 82);
  level.SetValue(100);
  EXPECT_EQ(level.LitSpots(), level.SpotCount());
  EXPECT_EQ(level.Value(), 100);
  level.SetValue(0);
  EXPECT_EQ(level.Value(), 0);

  const WaveFormatEx stereo = WaveFormatEx::Pcm(44100, 16, 2);
  level.SetPCMWaveFormat(&stereo);
  EXPECT_EQ(level.BytesPerRefresh(), 200);
  WaveFormatEx bad = stereo;
  bad.set_wBitsPerSample(24);
  try {
    level.SetPCMWaveFormat(&bad);
    FAIL();
  } catch (const EMMLevelError& e) {
    EXPECT_STREQ(e.what(), "Invalid WaveFormat");
  }
  EXPECT_EQ(level.BytesPerRefresh(), 200);
}

TEST(Level, FullScaleInputReportsOverflowsAndTheBarNeverDividesByZero) {
  ManualLevel level;
  int pcm_overflows = 0;
  int gain_overflows = 0;
  level.OnPcmOverflow = [&](TObject*) { ++pcm_overflows; };
  level.OnGainOverflow = [&](TObject*) { ++gain_overflows; };

  const std::vector<uint8_t> zeros(50, 0);  // 8-bit zeros: the most negative sample
  level.RefreshPCMData(zeros.data());
  EXPECT_EQ(level.LastPeak(), 32768);
  EXPECT_EQ(pcm_overflows, 1);

  const WaveFormatEx mono16 = WaveFormatEx::Pcm(8000, 16, 1);
  level.SetPCMWaveFormat(&mono16);
  level.RefreshPCMData(Samples16({32767}, 50).data());
  EXPECT_EQ(pcm_overflows, 2);
  EXPECT_EQ(gain_overflows, 0);
  level.SetGain(32);
  level.RefreshPCMData(Samples16({-32768}, 50).data());
  EXPECT_EQ(gain_overflows, 1);
  EXPECT_EQ(level.LitSpots(), level.SpotCount());

  level.SetGain(-8);
  EXPECT_EQ(level.Gain(), -8);
  EXPECT_EQ(level.Value(), 0);
  level.SetGain(33);  // ignored
  EXPECT_EQ(level.Gain(), -8);
}

TEST(Level, TheHeldPeakVanishesOnThe41stTickOrFallsAtPeakSpeed) {
  ManualLevel level;
  level.SetValue(100);
  const int full = level.SpotCount();
  level.SetValue(0);
  EXPECT_EQ(level.LitSpots(), 0);
  for (int tick = 1; tick <= 40; ++tick) level.PeakTimer();
  EXPECT_EQ(level.PeakSpot(), full);
  level.PeakTimer();
  EXPECT_EQ(level.PeakSpot(), 0);

  level.SetPeakSpeed(2);
  level.SetValue(100);
  for (int tick = 1; tick <= 41; ++tick) level.PeakTimer();
  EXPECT_EQ(level.PeakSpot(), full - 1);
  level.PeakTimer();
  EXPECT_EQ(level.PeakSpot(), full - 1);
  level.PeakTimer();
  EXPECT_EQ(level.PeakSpot(), full - 2);
}

// The displays' clock as a GUI loop's timer that the test expires by hand: it
// records how the clock armed it.
struct HandTickedClock : TickSource {
  HandTickedClock() { gui_ticker::Attach(this); }
  ~HandTickedClock() override { gui_ticker::Detach(this); }
  void ArmTicks(std::chrono::milliseconds value) override { period = value; }
  std::chrono::milliseconds period{-1};
};

// The peak timer sleeps once nothing is held, and a new peak wakes it: each held
// peak still vanishes on time.
TEST(Level, APeakAfterAQuietSpellStillFalls) {
  constexpr std::chrono::milliseconds kTick(TMMTimerClients::kPeriod);
  HandTickedClock clock;
  TMMLevel level;
  level.SetPeakDelay(1);  // three ticks
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    level.SetValue(100);
    level.SetValue(0);
    EXPECT_EQ(clock.period, kTick);
    gui_ticker::Tick();
    gui_ticker::Tick();
    EXPECT_GT(level.PeakSpot(), 0);
    gui_ticker::Tick();
    EXPECT_EQ(level.PeakSpot(), 0);
    gui_ticker::Tick();  // finds nothing held
    EXPECT_EQ(clock.period, std::chrono::milliseconds(0));
  }
}

TEST(Level, AFourChannelStreamIsScannedFrameByFrame) {
  ManualLevel level;
  level.SetChannel(TMMChannel::chLeft);
  const WaveFormatEx quad = WaveFormatEx::Pcm(44100, 16, 4);
  level.SetPCMWaveFormat(&quad);
  EXPECT_EQ(static_cast<int>(level.Mode()), 3);
  EXPECT_EQ(level.BytesPerRefresh(), 400);
  // Loud rear channels must not be read as the front pair of another frame.
  std::vector<uint8_t> block = Samples16({0, 0, 32000, -32000}, 50);
  level.RefreshPCMData(block.data());
  EXPECT_EQ(level.LastPeak(), 0);
  const int16_t left = 1234;
  std::memcpy(block.data() + 49 * 8, &left, 2);
  level.RefreshPCMData(block.data());
  EXPECT_EQ(level.LastPeak(), 1234);
}

TEST(Level, AHiddenWindowStillUpdatesTheLastPeakButAHiddenBarDoesNot) {
  QWidget window;  // never shown
  ManualLevel level(&window);
  const std::vector<uint8_t> loud(50, 255);
  level.RefreshPCMData(loud.data());
  EXPECT_EQ(level.LastPeak(), 127 * 256);
  level.ResetData();
  level.hide();
  level.RefreshPCMData(loud.data());
  EXPECT_EQ(level.LastPeak(), 0);
}

// Unseen, a block only updates LastPeak: nothing is lit or held, so nothing
// wakes the peak timer, and the bar shown again starts from what it is fed then.
TEST(Level, WhileNobodySeesTheBarOnlyTheLastPeakIsKept) {
  ManualLevel level;
  const std::vector<uint8_t> loud(50, 255);
  level.RefreshPCMData(loud.data());
  const int lit = level.LitSpots();
  ASSERT_GT(lit, 0);
  gui_ticker::SetSeen(false);
  const std::vector<uint8_t> quieter(50, 200);
  level.RefreshPCMData(quieter.data());
  gui_ticker::SetSeen(true);
  EXPECT_EQ(level.LastPeak(), 72 * 256);
  EXPECT_EQ(level.LitSpots(), 0);
  EXPECT_EQ(level.PeakSpot(), 0);
  level.RefreshPCMData(quieter.data());
  EXPECT_GT(level.LitSpots(), 0);
  EXPECT_LT(level.LitSpots(), lit);
  EXPECT_EQ(level.PeakSpot(), level.LitSpots());  // not the loud block's peak
}

TEST(Level, UniformDecayAveragesTheLastValues) {
  ManualLevel level;
  level.SetDecayMode(TMMDecayMode::dmUniform);
  level.SetDecay(2);  // a ring of two
  ManualLevel reference;
  reference.SetValue(50);
  level.SetValue(100);
  level.SetValue(0);
  EXPECT_EQ(level.LitSpots(), reference.LitSpots());
}

// The colour a spot k shows: lit spots in their zone's bar colour, the held peak
// too, the rest in their zone's unlit colour.
QRgb ExpectedSpot(const TMMLevel& level, int k, int lit, int peak) {
  const int n = level.SpotCount();
  const int zone = k <= level.Point1() * n / 100 ? 0 : k <= level.Point2() * n / 100 ? 1 : 2;
  const TColor on[] = {level.Bar1Color(), level.Bar2Color(), level.Bar3Color()};
  const TColor off[] = {level.Inactive1Color(), level.Inactive2Color(), level.Inactive3Color()};
  return ToQColor(k <= lit || k == peak ? on[zone] : off[zone]).rgb();
}

TEST(Level, ARenderedBarMatchesTheLayoutRulesPixelByPixel) {
  QWidget window;
  ManualLevel level(&window);
  level.SetSpotWidth(3);
  level.SetSpotSpace(2);
  level.SetValue(90);
  level.SetValue(30);
  const int lit = level.LitSpots();
  const int peak = level.PeakSpot();
  ASSERT_GT(peak, lit + 1);

  const TRect inner = level.GetInnerRect();
  const int n = level.SpotCount();
  const int pitch = 3 + 2;
  ASSERT_EQ(n, (inner.Width() + 2) / pitch);
  const int margin = (inner.Width() - (n * pitch - 2)) / 2;
  QImage expected(inner.Width(), inner.Height(), QImage::Format_RGB32);
  expected.fill(ToQColor(level.Color()));
  for (int k = 1; k <= n; ++k) {
    const int left = margin + (k - 1) * pitch;
    for (int x = left; x < left + 3; ++x) {
      for (int y = 0; y < inner.Height(); ++y) expected.setPixel(x, y, ExpectedSpot(level, k, lit, peak));
    }
  }
  const QImage shown = level.grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QImage bar = shown.copy(inner.ToQRect());
  for (int y = 0; y < bar.height(); ++y) {
    for (int x = 0; x < bar.width(); ++x) {
      ASSERT_EQ(bar.pixel(x, y), expected.pixel(x, y)) << x << "," << y;
    }
  }
}

TEST(Level, ARunOfValuesDrawsOnlyTheFrameItLeaves) {
  QWidget window;
  ManualLevel level(&window);
  int frames = 0;
  level.OnPaint = [&](TObject*) { ++frames; };
  for (int v = 0; v <= 100; v += 5) level.SetValue(v);
  EXPECT_EQ(frames, 0);
  MainLoop::Instance().ProcessPending();
  EXPECT_EQ(frames, 1);
  EXPECT_EQ(level.LitSpots(), level.SpotCount());
}

// Frames drawn as the feed changes them, spot by spot, must show exactly what a
// whole repaint of the same state shows, in every layout, over a long run of
// values and peak ticks.
TEST(Level, FedFramesMatchAWholeRepaintPixelForPixel) {
  struct Look {
    TMMLevelKind kind;
    TMMLevelDirection direction;
    int spot_width, spot_space, peaks, bits;
    bool dotted;
  };
  const Look looks[] = {
      {TMMLevelKind::lkHorizontal, TMMLevelDirection::dirNormal, 1, 1, 1, 8, false},
      {TMMLevelKind::lkHorizontal, TMMLevelDirection::dirReversed, 5, 0, 5, 8, true},
      {TMMLevelKind::lkVertical, TMMLevelDirection::dirSymetric, 3, 2, 3, 24, true},
      {TMMLevelKind::lkVertical, TMMLevelDirection::dirNormal, 2, 1, 2, 24, false},
  };
  for (const Look& look : looks) {
    QWidget window;
    ManualLevel level(&window);
    level.SetKind(look.kind);
    level.SetDirection(look.direction);
    level.SetSpotWidth(look.spot_width);
    level.SetSpotSpace(look.spot_space);
    level.SetNumPeaks(look.peaks);
    level.SetPeakDelay(2);
    level.SetPeakSpeed(1);
    level.SetActiveDoted(look.dotted);
    level.SetBitsPerPixel(look.bits);
    const QRect inner = level.GetInnerRect().ToQRect();
    uint32_t seed = 12345;
    for (int step = 0; step < 400; ++step) {
      seed = seed * 1103515245u + 12345u;
      // The peak timer draws nothing: the next value shows its change.
      if (seed % 4 == 0) level.PeakTimer();
      level.SetValue(static_cast<int>(seed >> 16) % 101);
      MainLoop::Instance().ProcessPending();  // the frame the value left
      if (step % 9 != 0) continue;
      const QImage fed = level.BackStore().copy(inner).convertToFormat(QImage::Format_RGB32);
      level.SetBitsPerPixel(look.bits);  // the unlit bar anew: the repaint draws everything
      const QImage whole = level.grab().toImage().copy(inner).convertToFormat(QImage::Format_RGB32);
      ASSERT_EQ(fed.size(), whole.size());
      for (int y = 0; y < fed.height(); ++y) {
        for (int x = 0; x < fed.width(); ++x) {
          ASSERT_EQ(fed.pixel(x, y), whole.pixel(x, y))
              << "look " << (&look - looks) << ", step " << step << " at " << x << "," << y;
        }
      }
    }
  }
}

// The screen gets only the part of the bar a frame changed: what it shows must
// still be the whole current picture.
TEST(Level, TheScreenShowsEveryFedFrameWhole) {
  QWidget window;
  window.resize(240, 40);
  ManualLevel level(&window);
  level.SetNumPeaks(3);
  level.SetPeakDelay(2);
  level.SetPeakSpeed(1);
  window.show();
  QApplication::processEvents();
  const QRect area = level.geometry();
  uint32_t seed = 777;
  for (int step = 0; step < 200; ++step) {
    seed = seed * 1103515245u + 12345u;
    if (seed % 3 == 0) level.PeakTimer();
    level.SetValue(static_cast<int>(seed >> 16) % 101);
    MainLoop::Instance().ProcessPending();
    QApplication::processEvents();
    const QImage screen =
        window.screen()->grabWindow(window.winId()).toImage().copy(area).convertToFormat(QImage::Format_RGB32);
    const QImage picture = level.BackStore().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(screen.size(), picture.size());
    ASSERT_TRUE(screen == picture) << "step " << step;
  }
}

}  // namespace
}  // namespace pmx
