#include <gtest/gtest.h>

#include <QWidget>
#include <atomic>
#include <chrono>
#include <thread>

#include "audio/core/chain/connector.h"
#include "audio/displays/light.h"
#include "audio/displays/spectrum.h"
#include "platform/main_loop.h"
#include "platform/wave_types.h"
#include "tests/audio/displays/connector_feed.h"
#include "tests/audio/displays/tone_blocks.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;

// A connector on a recording chain feeds an analyser and a light organ in a
// window: both draw the tone it carries.
// An analyser and a light organ in a shown window.
struct FrequencyFeed : ::testing::Test {
  PlainMainLoop loop;
  ScopedMainLoop scoped{loop};
  QWidget window;
  TMMSpectrum spectrum{nullptr, &window};
  TMMLight light{nullptr, &window};

  FrequencyFeed() {
    window.resize(400, 200);
    light.SetBounds(0, 100, 194, 90);
  }
};

TEST_F(FrequencyFeed, AConnectorFeedsTheAnalyserAndTheLightOrgan) {
  spectrum.SetWindow(TMMFFTWindow::fwRectangular);
  light.SetWindow(TMMFFTWindow::fwRectangular);
  window.show();

  TMMConnector connector;
  connector.SetSpectrum(1, &spectrum);
  connector.SetLight1(&light);
  // A tenth of a second of a tone on bin 10 of 128 points: 861 Hz, the middle band.
  std::vector<uint8_t> data = ToneBlock({{10, 20000}, {10, 20000}}, 1100, 128);
  StartConnectorFeed(connector, WaveFormatEx::Pcm(11025, 16, 2), data);
  loop.ProcessPending();
  EXPECT_EQ(spectrum.BytesPerRefresh(), 512);
  EXPECT_EQ(light.Mode(), TMMMode::mStereo);

  connector.TapBuffer(data.data(), static_cast<int64_t>(data.size()));
  ASSERT_TRUE(loop.PumpUntil([&] { return light.Intensity(1) > 0; }, 5s));
  ASSERT_TRUE(loop.PumpUntil([&] { return spectrum.LoudestValue() > 0; }, 5s));
  EXPECT_EQ(spectrum.Bars().at(10).value, 20000 * 87 / 32768);
  EXPECT_EQ(light.Intensity(0), 0);
  const int64_t lit = CanvasPixel(spectrum.DIBCanvas(), 30, 86);
  EXPECT_EQ(lit, spectrum.DIBCanvas().NearestColor(spectrum.Colors(TMMSpectrum::kBar1)));
  TMMDIBCanvas& lights = light.DIBCanvas();
  EXPECT_NE(lights.ColorTable()[lights.AnimatedIndex(1)] & 0xFF00, 0u);

  connector.Stopped();
  EXPECT_EQ(spectrum.LoudestValue(), 0);
  EXPECT_EQ(light.Intensity(1), 0);  // dark again
  EXPECT_EQ(lights.ColorTable()[lights.AnimatedIndex(1)] & 0xFFFFFF, 0u);
}

// A connector that refreshes on the pushing thread: the feed draws there while
// the window paints and the shared timer ticks the peak marks.
TEST_F(FrequencyFeed, AFeedOnAnotherThreadRacesNeitherPaintNorPeakTimer) {
  spectrum.SetPeakSpeed(1);
  spectrum.SetDisplayPeak(true);
  window.show();
  const WaveFormatEx format = WaveFormatEx::Pcm(11025, 16, 1);
  spectrum.SetPCMWaveFormat(&format);
  light.SetPCMWaveFormat(&format);

  std::atomic<bool> done{false};
  std::thread feeder([&] {
    for (int i = 0; i < 300; ++i) {
      const auto block = ToneBlock({{static_cast<double>(5 + i % 40), 25000}}, 128, 128);
      spectrum.RefreshPCMData(block.data());
      light.RefreshPCMData(block.data());
    }
    done = true;
  });
  while (!done) {
    spectrum.repaint();
    light.repaint();
    (void)spectrum.LoudestFrequencyText();
    loop.ProcessPending();
  }
  feeder.join();
  loop.ProcessPending();
  // The last block's tone, bin 24, is what both show (named by its middle, 2110.3 Hz).
  EXPECT_EQ(spectrum.LoudestFrequencyText(), "2110.3 Hz");
  EXPECT_GT(light.Intensity(2), 0);
  EXPECT_EQ(light.Intensity(0), 0);
}

}  // namespace
}  // namespace pmx
