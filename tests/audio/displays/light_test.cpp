#include "audio/displays/light.h"

#include <gtest/gtest.h>

#include <QWidget>
#include <climits>
#include <cmath>
#include <limits>

#include "platform/wave_types.h"
#include "tests/audio/displays/tone_blocks.h"

namespace pmx {
namespace {

struct LightTest : ::testing::Test {
  QWidget window;
  TMMLight light{nullptr, &window};

  // The RGB of the animated entry i.
  uint32_t Entry(int i) {
    TMMDIBCanvas& canvas = light.DIBCanvas();
    return canvas.ColorTable()[canvas.AnimatedIndex(i)] & 0xFFFFFF;
  }
};

TEST_F(LightTest, BandEdgesFollowLengthAndRateAndNarrowBandsAreDropped) {
  // 128 points at 11025 Hz: bins 0-3, 4-12 and 13-62.
  EXPECT_EQ(light.BandFirst(0), 0);
  EXPECT_EQ(light.BandEnd(0), 4);
  EXPECT_EQ(light.BandFirst(1), 4);
  EXPECT_EQ(light.BandEnd(1), 13);
  EXPECT_EQ(light.BandFirst(2), 13);
  EXPECT_EQ(light.BandEnd(2), 63);
  // 335.4 and 1145.6 Hz at 44100 Hz over 4096 points: bins 31.2 and 106.4.
  light.SetFFTLength(4096);
  light.SetSampleRate(44100);
  EXPECT_EQ(light.BytesPerRefresh(), 4096);
  EXPECT_EQ(light.BandEnd(0), 31);
  EXPECT_EQ(light.BandFirst(1), 31);
  EXPECT_EQ(light.BandEnd(1), 106);
  EXPECT_EQ(light.BandFirst(2), 106);
  EXPECT_EQ(light.BandEnd(2), 2047);
  // At 8 points every edge rounds to bin 0: one band of that bin alone.
  light.SetFFTLength(8);
  EXPECT_EQ(light.BandFirst(0), 0);
  EXPECT_EQ(light.BandEnd(0), 0);
  EXPECT_EQ(light.BandFirst(1), -1);
  EXPECT_EQ(light.BandFirst(2), -1);
  // A 4 kHz stream puts the bands by its own rate, below the property's range.
  light.SetFFTLength(128);
  const WaveFormatEx slow = WaveFormatEx::Pcm(4000, 16, 1);
  light.SetPCMWaveFormat(&slow);
  EXPECT_EQ(light.SampleRate(), 8000);
  EXPECT_EQ(light.BandEnd(0), 11);  // 335.4 / 4000 x 128 = 10.7

  WaveFormatEx bad = slow;
  bad.set_wFormatTag(3);
  try {
    light.SetPCMWaveFormat(&bad);
    FAIL();
  } catch (const EMMLightError& e) {
    EXPECT_STREQ(e.what(), "Invalid WaveFormat");
  }
}

TEST_F(LightTest, AToneInEachBandLightsOnlyItsColour) {
  const WaveFormatEx format = WaveFormatEx::Pcm(11025, 16, 1);
  light.SetPCMWaveFormat(&format);
  light.SetWindow(TMMFFTWindow::fwRectangular);
  // Bin 2 (172 Hz), bin 8 (689 Hz), bin 30 (2584 Hz).
  const std::array<int, 3> bins{2, 8, 30};
  for (int band = 0; band < 3; ++band) {
    light.ResetData();
    light.RefreshPCMData(ToneBlock({{static_cast<double>(bins[band]), 1002}}, 128, 128).data());
    // Value 1002 with gain 0.05, times 1, 2 and 4 for bass, middle and treble.
    const uint32_t a = 50u << band;
    EXPECT_EQ(light.Intensity(band), static_cast<int>(a));
    const std::array<uint32_t, 3> expected{a << 16, a << 8, a << 16 | a << 8};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Entry(i), i == band ? expected[i] : 0u) << band << i;
  }
}

TEST_F(LightTest, PeakModeCombinesTheBinsOfABand) {
  const WaveFormatEx format = WaveFormatEx::Pcm(11025, 16, 1);
  light.SetPCMWaveFormat(&format);
  light.SetWindow(TMMFFTWindow::fwRectangular);
  // Bins 5 and 8 of the middle band (4 - 12), magnitudes 3000 and 4000.
  const auto block = ToneBlock({{5, 3000}}, 128, 128);
  auto both = ToneBlock({{8, 4000}}, 128, 128);
  for (size_t i = 0; i < both.size(); i += 2) {
    const auto sum = static_cast<int16_t>((block[i] | block[i + 1] << 8) + (both[i] | both[i + 1] << 8));
    both[i] = static_cast<uint8_t>(sum);
    both[i + 1] = static_cast<uint8_t>(sum >> 8);
  }
  light.RefreshPCMData(both.data());
  EXPECT_NEAR(light.BandValue(1), 4000, 1);
  // The first bin (silent here) counts twice: (0 + 3000 + 4000) div 10.
  light.SetPeakMode(TMMLightPeakMode::pmAverage);
  light.RefreshPCMData(both.data());
  EXPECT_NEAR(light.BandValue(1), 700, 1);
  // sqrt((3000 x 3000.1 + 4000 x 4000.1) / 9)
  light.SetPeakMode(TMMLightPeakMode::pmRMS);
  light.RefreshPCMData(both.data());
  EXPECT_NEAR(light.BandValue(1), std::sqrt(25e6 / 9), 2);
}

TEST_F(LightTest, LightsAreDrawnOnceInTheirAnimatedEntries) {
  // Inner 192 x 88: the 3:1 box is 192 x 64, centred 12 rows down; radius
  // 64 / 2 - 5 = 27, squares 54 wide from x 5, 69 and 133 (gaps of 10).
  EXPECT_EQ(light.LightSquare(0), (TRect{5, 17, 59, 71}));
  EXPECT_EQ(light.LightSquare(2), (TRect{133, 17, 187, 71}));
  TMMDIBCanvas& canvas = light.DIBCanvas();
  for (int i = 0; i < 3; ++i) {
    const TRect s = light.LightSquare(i);
    EXPECT_EQ(CanvasPixel(canvas, (s.Left + s.Right) / 2, (s.Top + s.Bottom) / 2), canvas.AnimatedIndex(i));
    EXPECT_EQ(CanvasPixel(canvas, s.Left, s.Top), canvas.NearestColor(clBlack));
  }

  // Spheres shade each light in ZoneCount rings: the outer ring of 60 shows
  // trunc(sqrt(60^2 - 59^2)) / 60 of the light.
  light.SetKind(TMMLightKind::lkSphere);
  EXPECT_EQ(canvas.AnimatedCount(), 180);
  const WaveFormatEx format = WaveFormatEx::Pcm(11025, 16, 1);
  light.SetPCMWaveFormat(&format);
  light.SetWindow(TMMFFTWindow::fwRectangular);
  light.RefreshPCMData(ToneBlock({{2, 8000}}, 128, 128).data());
  EXPECT_EQ(light.Intensity(0), 255);
  EXPECT_EQ(Entry(59), 255u << 16);  // the centre, red
  EXPECT_EQ(Entry(0), 42u << 16);
  const TRect s = light.LightSquare(0);
  EXPECT_EQ(CanvasPixel(canvas, (s.Left + s.Right) / 2, (s.Top + s.Bottom) / 2), canvas.AnimatedIndex(59));
  // Rings 0 to 2 are inset by less than a pixel: ring 2 is the outermost drawn.
  EXPECT_EQ(CanvasPixel(canvas, s.Left, (s.Top + s.Bottom) / 2), canvas.AnimatedIndex(2));

  // 3 x 79 zones pass the canvas's 236 animated colours: refused, and the
  // spheres go on as they were.
  EXPECT_THROW(light.SetZoneCount(79), EMMDIBError);
  EXPECT_EQ(light.ZoneCount(), 60);
  light.RefreshPCMData(ToneBlock({{8, 8000}}, 128, 128).data());
  EXPECT_EQ(Entry(60 + 59), 255u << 8);
}

TEST_F(LightTest, OutsizedShapeSettingsAreRefusedOrDrawNothingAndNeverWrap) {
  const WaveFormatEx format = WaveFormatEx::Pcm(11025, 16, 1);
  light.SetPCMWaveFormat(&format);
  light.SetWindow(TMMFFTWindow::fwRectangular);
  light.SetKind(TMMLightKind::lkSphere);
  auto shading = [&] {
    light.ResetData();
    light.RefreshPCMData(ToneBlock({{2, 8000}}, 128, 128).data());
    std::vector<uint32_t> entries;
    for (int z = 0; z < light.ZoneCount(); ++z) entries.push_back(Entry(z));
    return entries;
  };
  // 3 x 1431655766 zones wrap to 2 in 32 bits, and INT_MAX x 3 overflows: both
  // far past the canvas's colours, so refused.
  for (int zones : {1431655766, INT_MAX}) {
    EXPECT_THROW(light.SetZoneCount(zones), EMMDIBError) << zones;
    EXPECT_EQ(light.ZoneCount(), 60);
  }
  // A sphere however wide lights every zone fully; an endless height is the
  // largest one.
  for (float horz : {1e30f, std::numeric_limits<float>::infinity()}) {
    light.SetSphereHorz(horz);
    EXPECT_EQ(shading(), std::vector<uint32_t>(60, 255u << 16)) << horz;
  }
  light.SetSphereHorz(std::nanf(""));
  EXPECT_EQ(light.SphereHorz(), 0.0f);
  light.SetSphereHorz(1);
  light.SetSphereVert(std::numeric_limits<float>::infinity());
  EXPECT_EQ(light.SphereVert(), std::numeric_limits<float>::max());
  const std::vector<uint32_t> tall = shading();
  EXPECT_EQ(tall[59], 255u << 16);
  EXPECT_EQ(tall[0], 46u << 16);  // sqrt(60^2 - 59^2) / 60 of 255, the root untruncated
  light.SetSphereVert(1);

  // A gap wider than the control leaves no room for a light: nothing is drawn.
  for (auto arrange : {TMMLightArrange::laLine, TMMLightArrange::laTriangle}) {
    light.SetArrange(arrange);
    light.SetTriangleDist(INT_MAX);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(light.LightSquare(i), TRect{}) << i;
    for (int x = 0; x < light.DIBCanvas().Width(); x += 7) {
      EXPECT_EQ(CanvasPixel(light.DIBCanvas(), x, light.DIBCanvas().Height() / 2),
                light.DIBCanvas().NearestColor(clBlack));
    }
    light.SetTriangleDist(10);
  }
}

}  // namespace
}  // namespace pmx
