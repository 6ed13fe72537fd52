#include "audio/displays/spectrum.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <climits>
#include <cstring>

#include "platform/wave_types.h"
#include "tests/audio/displays/tone_blocks.h"

namespace pmx {
namespace {

// A spectrum analyser in a window, its peak timer ticked by the test.
struct SpectrumTest : ::testing::Test {
  QWidget window;
  TMMSpectrum spectrum{nullptr, &window};

  SpectrumTest() { MMTimerSuspendClient(spectrum.PeakTimerClient()); }

  void Feed(const WaveFormatEx& format, const std::vector<uint8_t>& block) {
    spectrum.SetPCMWaveFormat(&format);
    ASSERT_GE(block.size(), static_cast<size_t>(spectrum.BytesPerRefresh()));
    spectrum.RefreshPCMData(block.data());
  }
  // The value of the bar opened by the column that shows bin.
  int BarOfBin(int bin) {
    for (const auto& bar : spectrum.Bars()) {
      if (spectrum.FirstBin(bar.first) == bin) return bar.value;
    }
    return -1;
  }
  int LoudestBin() {
    int best = -1;
    int value = -1;
    for (const auto& bar : spectrum.Bars()) {
      if (bar.value > value) best = spectrum.FirstBin(bar.first), value = bar.value;
    }
    return best;
  }
};

const WaveFormatEx kMono16 = WaveFormatEx::Pcm(11025, 16, 1);

TEST_F(SpectrumTest, DefaultLayoutPropertiesAndTheFormatCheck) {
  EXPECT_EQ(spectrum.width(), 194);
  EXPECT_EQ(spectrum.height(), 89);
  const TRect picture = spectrum.PictureRect();
  EXPECT_EQ(picture.Width(), 192);
  EXPECT_EQ(picture.Height(), 87);
  // (87 + 1) div 2 spots, zones at round(50% and 85% of 44).
  EXPECT_EQ(spectrum.SpotCount(), 44);
  EXPECT_EQ(spectrum.Zone1(), 22);
  EXPECT_EQ(spectrum.Zone2(), 37);
  // 64 bins over 192 columns: one bar every third column.
  for (int i = 0; i < 192; ++i) {
    EXPECT_EQ(spectrum.FirstBin(i), i % 3 == 0 ? i / 3 : -1) << i;
    EXPECT_EQ(spectrum.EndBin(i), 0) << i;
  }
  EXPECT_EQ(spectrum.BytesPerRefresh(), 128);

  // Logarithmic: the low columns share bin 0 and merge into one bar.
  spectrum.SetLogFreq(true);
  EXPECT_EQ(spectrum.FirstBin(0), 0);
  EXPECT_EQ(spectrum.FirstBin(1), -1);
  EXPECT_EQ(spectrum.FirstBin(191), 62);
  spectrum.SetLogFreq(false);
  // Zoom 2 shows the lower half, a bin every sixth column.
  spectrum.SetFrequencyScale(3);
  EXPECT_EQ(spectrum.FrequencyScale(), 2);
  EXPECT_EQ(spectrum.FirstBin(186), 31);
  EXPECT_EQ(spectrum.FirstBin(191), -1);
  spectrum.SetFrequencyScale(1);

  spectrum.SetFFTLength(1000);
  EXPECT_EQ(spectrum.FFTLength(), 512);
  const WaveFormatEx stereo = WaveFormatEx::Pcm(44100, 16, 2);
  spectrum.SetPCMWaveFormat(&stereo);
  EXPECT_EQ(spectrum.BytesPerRefresh(), 2048);
  spectrum.SetFFTLength(5000);
  EXPECT_EQ(spectrum.FFTLength(), 4096);
  // 2048 bins over 192 columns: every column its own bar of about ten bins.
  EXPECT_EQ(spectrum.FirstBin(1), 10);
  EXPECT_EQ(spectrum.EndBin(0), 10);
  EXPECT_EQ(spectrum.EndBin(191), 0);
  spectrum.SetFFTLength(3);
  EXPECT_EQ(spectrum.FFTLength(), 8);

  EXPECT_FLOAT_EQ(spectrum.DecayFactor(), 0.0001f);
  spectrum.SetDecay(16);
  EXPECT_EQ(spectrum.DecayRingLength(), 30);
  EXPECT_NEAR(spectrum.DecayFactor(), 0.99986, 1e-5);
  spectrum.SetDecay(1);
  EXPECT_FLOAT_EQ(spectrum.DecayFactor(), 0.01f);

  WaveFormatEx bad = stereo;
  bad.set_wBitsPerSample(24);
  try {
    spectrum.SetPCMWaveFormat(&bad);
    FAIL();
  } catch (const EMMSpectrumError& e) {
    EXPECT_STREQ(e.what(), "Invalid WaveFormat");
  }
  EXPECT_EQ(spectrum.BytesPerRefresh(), 32);
  EXPECT_EQ(spectrum.SampleRate(), 44100);
}

TEST_F(SpectrumTest, AToneLightsItsBarInZoneColoursOverTheInactivePicture) {
  spectrum.SetWindow(TMMFFTWindow::fwRectangular);
  spectrum.SetDisplayPeak(true);
  Feed(kMono16, ToneBlock({{10, 30000}}, 128, 128));
  // Amplitude 30000 of full scale 32768 over 87 pixels.
  const int value = BarOfBin(10);
  EXPECT_EQ(value, 30000 * 87 / 32768);
  EXPECT_EQ(LoudestBin(), 10);
  EXPECT_EQ(spectrum.LoudestFrequencyText(), "904.4 Hz");  // (10 + 0.5) x 11025 / 128
  EXPECT_LE(BarOfBin(9), 1);

  // 79 pixels are round(79 / (87 / 44) + 0.5) = 40 spots: 1..37 cyan, 38..40 red,
  // 41..44 the inactive maroon; spot k's bottom row is 86 - 2 (k - 1).
  TMMDIBCanvas& canvas = spectrum.DIBCanvas();
  const int64_t cyan = canvas.NearestColor(RGBColor(0, 255, 255));
  const int64_t red = canvas.NearestColor(RGBColor(255, 0, 0));
  const int64_t maroon = canvas.NearestColor(RGBColor(128, 0, 0));
  const int64_t black = canvas.NearestColor(clBlack);
  auto spot_row = [](int k) { return 86 - 2 * (k - 1); };
  for (int x : {30, 31}) {
    EXPECT_EQ(CanvasPixel(canvas, x, spot_row(1)), cyan);
    EXPECT_EQ(CanvasPixel(canvas, x, spot_row(37)), cyan);
    EXPECT_EQ(CanvasPixel(canvas, x, spot_row(38)), red);
    EXPECT_EQ(CanvasPixel(canvas, x, spot_row(40)), red);
    EXPECT_EQ(CanvasPixel(canvas, x, spot_row(41)), maroon);
    EXPECT_EQ(CanvasPixel(canvas, x, spot_row(40) - 1), black);  // the gap between spots
  }
  EXPECT_EQ(CanvasPixel(canvas, 32, spot_row(1)), black);  // the free column between bars
  EXPECT_EQ(CanvasPixel(canvas, 27, spot_row(1)), canvas.NearestColor(RGBColor(0, 128, 128)));

  // A Hamming window passes 0.54 of a centred tone.
  spectrum.SetWindow(TMMFFTWindow::fwHamming);
  spectrum.RefreshPCMData(ToneBlock({{10, 30000}}, 128, 128).data());
  EXPECT_NEAR(BarOfBin(10), 0.54 * 30000 * 87 / 32768, 1);
  EXPECT_EQ(LoudestBin(), 10);

  // In dB, half of full scale is 6 dB down a 60 dB picture.
  spectrum.SetWindow(TMMFFTWindow::fwRectangular);
  spectrum.SetLogAmp(true);
  spectrum.RefreshPCMData(ToneBlock({{10, 16384}}, 128, 128).data());
  EXPECT_NEAR(BarOfBin(10), 87 * (60 - 20 * std::log10(2.0)) / 60, 1);
  // The decayed dB path reaches the same height.
  spectrum.SetDecayMode(TMMDecayMode::dmStepUp);
  spectrum.RefreshPCMData(ToneBlock({{10, 16384}}, 128, 128).data());
  EXPECT_NEAR(BarOfBin(10), 87 * (60 - 20 * std::log10(2.0)) / 60, 1);
}

TEST_F(SpectrumTest, EachChannelLayoutIsReadFrameByFrame) {
  spectrum.SetWindow(TMMFFTWindow::fwRectangular);
  const WaveFormatEx stereo = WaveFormatEx::Pcm(44100, 16, 2);
  const auto block = ToneBlock({{10, 20000}, {20, 20000}}, 128, 128);
  spectrum.SetChannel(TMMChannel::chLeft);
  Feed(stereo, block);
  EXPECT_EQ(LoudestBin(), 10);
  EXPECT_EQ(BarOfBin(20), 0);
  spectrum.SetChannel(TMMChannel::chRight);
  spectrum.RefreshPCMData(block.data());
  EXPECT_EQ(LoudestBin(), 20);
  spectrum.SetChannel(TMMChannel::chBoth);
  spectrum.RefreshPCMData(block.data());
  EXPECT_EQ(BarOfBin(10), 10000 * 87 / 32768);
  EXPECT_EQ(BarOfBin(20), 10000 * 87 / 32768);

  // Four channels: left and right are the first two of each frame.
  const WaveFormatEx quad = WaveFormatEx::Pcm(8000, 16, 4);
  spectrum.SetChannel(TMMChannel::chRight);
  Feed(quad, ToneBlock({{10, 20000}, {20, 20000}, {40, 32000}, {50, 32000}}, 128, 128));
  EXPECT_EQ(spectrum.BytesPerRefresh(), 1024);
  EXPECT_EQ(LoudestBin(), 20);
  EXPECT_EQ(BarOfBin(40), 0);

  const WaveFormatEx mono8 = WaveFormatEx::Pcm(8000, 8, 1);
  Feed(mono8, ToneBlock({{30, 100}}, 128, 128, true));
  EXPECT_EQ(LoudestBin(), 30);
  EXPECT_NEAR(BarOfBin(30), 100 * 256 * 87 / 32768, 1);
  EXPECT_EQ(spectrum.LoudestFrequencyText(), "1906.2 Hz");  // (30 + 0.5) x 8000 / 128
}

TEST_F(SpectrumTest, FullScaleSpectraNeverWrapToSilence) {
  int gain_overflows = 0;
  int pcm_overflows = 0;
  spectrum.OnGainOverflow = [&](TObject*) { ++gain_overflows; };
  spectrum.OnPcmOverflow = [&](TObject*) { ++pcm_overflows; };
  // A DC offset near full scale under Hamming sums past the 16-bit range.
  Feed(kMono16, ToneBlock({{0, 0, 0, 32767}}, 128, 128));
  EXPECT_EQ(pcm_overflows, 128);
  EXPECT_EQ(BarOfBin(0), 86);
  EXPECT_EQ(LoudestBin(), 0);

  // A first difference nearly doubles a high tone; whatever its phase, both
  // parts saturate and the power of the bin passes 2^31.
  EXPECT_GT(BinPower(-32768, -32768), int64_t{INT_MAX});
  spectrum.SetWindow(TMMFFTWindow::fwRectangular);
  spectrum.SetGain(TMMSpectrumGain::sg6db);
  for (int step = 0; step < 8; ++step) {
    spectrum.RefreshPCMData(ToneBlock({{48, 32000, step * M_PI / 4}}, 128, 128).data());
    EXPECT_EQ(LoudestBin(), 48) << step;
    EXPECT_GE(BarOfBin(48), 86) << step;
  }
  EXPECT_GT(gain_overflows, 0);
  EXPECT_EQ(SaturateInt16(40000.7), 32767);
  EXPECT_EQ(SaturateInt16(-40000.7), -32768);
  EXPECT_EQ(SaturateInt16(-1.9), -1);
}

TEST_F(SpectrumTest, EachKindDrawsItsShapeAndBothDepthsShowTheSamePicture) {
  TMMSpectrum deep(nullptr, &window);
  deep.SetBounds(0, 100, 194, 89);
  deep.SetBitsPerPixel(24);
  MMTimerSuspendClient(deep.PeakTimerClient());
  EXPECT_THROW(deep.SetBitsPerPixel(16), EMMDIBError);
  const auto tone = ToneBlock({{10, 30000}}, 128, 128);  // bar 10 (columns 30-32) 79 pixels high
  TMMDIBCanvas& canvas = spectrum.DIBCanvas();
  const int64_t red = canvas.NearestColor(RGBColor(255, 0, 0));
  const int64_t cyan = canvas.NearestColor(RGBColor(0, 255, 255));
  const int64_t black = canvas.NearestColor(clBlack);
  for (auto kind : {TMMSpectrumKind::skBars, TMMSpectrumKind::skPeaks, TMMSpectrumKind::skDots,
                    TMMSpectrumKind::skVLines, TMMSpectrumKind::skLines}) {
    for (TMMSpectrum* s : {&spectrum, &deep}) {
      s->SetKind(kind);
      s->SetWindow(TMMFFTWindow::fwRectangular);
      s->SetPCMWaveFormat(&kMono16);
      s->RefreshPCMData(tone.data());
    }
    if (kind == TMMSpectrumKind::skLines) break;  // 24-bit lines take one colour
    const QRect picture = spectrum.PictureRect().ToQRect();
    EXPECT_EQ(spectrum.BackStore().copy(picture), deep.BackStore().copy(picture))
        << static_cast<int>(kind);
  }
  // The line through the middle column of bar 10, 7 rows down, is in the top zone.
  EXPECT_EQ(CanvasPixel(canvas, 31, 7), red);
  EXPECT_EQ(CanvasPixel(deep.DIBCanvas(), 31, 7), deep.DIBCanvas().NearestColor(RGBColor(0, 255, 255)));

  // Bands centred on the middle: rows 3 to 83, red in rows 3-4 and 82-83.
  spectrum.SetKind(TMMSpectrumKind::skVLines);
  spectrum.RefreshPCMData(tone.data());
  EXPECT_EQ(CanvasPixel(canvas, 30, 2), black);
  EXPECT_EQ(CanvasPixel(canvas, 30, 4), red);
  EXPECT_EQ(CanvasPixel(canvas, 30, 5), cyan);
  EXPECT_EQ(CanvasPixel(canvas, 30, 81), cyan);
  EXPECT_EQ(CanvasPixel(canvas, 30, 82), red);
  EXPECT_EQ(CanvasPixel(canvas, 30, 84), black);
  // A dot 79 pixels up: row 7, above the top zone's limit at row 13.
  spectrum.SetKind(TMMSpectrumKind::skDots);
  spectrum.RefreshPCMData(tone.data());
  for (int x : {30, 31, 32}) EXPECT_EQ(CanvasPixel(canvas, x, 7), red);
  EXPECT_EQ(CanvasPixel(canvas, 30, 8), black);
}

TEST_F(SpectrumTest, AHandlersColumnMapIsKeptInsideTheSpectrum) {
  spectrum.SetOnGetXScale([](TObject*, std::vector<int>& first, std::vector<int>& end) {
    for (size_t i = 0; i < first.size(); ++i) {
      first[i] = i % 2 ? 100000 : -50;
      end[i] = i % 2 ? 100000 : -50;
    }
  });
  EXPECT_EQ(spectrum.FirstBin(0), -1);
  EXPECT_EQ(spectrum.FirstBin(1), 63);
  EXPECT_EQ(spectrum.EndBin(1), 64);
  spectrum.SetWindow(TMMFFTWindow::fwRectangular);
  Feed(kMono16, ToneBlock({{63, 30000}}, 128, 128));
  EXPECT_GT(BarOfBin(63), 0);
}

TEST_F(SpectrumTest, PeaksHoldFortyOneTicksThenFallAtPeakSpeed) {
  spectrum.SetWindow(TMMFFTWindow::fwRectangular);
  Feed(kMono16, ToneBlock({{10, 30000}}, 128, 128));
  const std::vector<uint8_t> silence(256, 0);
  spectrum.RefreshPCMData(silence.data());
  auto peak = [&] { return spectrum.Bars().at(10).peak; };
  EXPECT_EQ(peak(), 40);
  for (int i = 0; i < 40; ++i) spectrum.PeakTimer();
  EXPECT_EQ(peak(), 40);
  spectrum.PeakTimer();
  EXPECT_EQ(peak(), 0);

  spectrum.SetPeakSpeed(2);
  spectrum.RefreshPCMData(ToneBlock({{10, 30000}}, 128, 128).data());
  spectrum.RefreshPCMData(silence.data());
  for (int i = 0; i < 41 + 3; ++i) spectrum.PeakTimer();
  EXPECT_EQ(peak(), 38);
  // The mark stands NumPeaks spots from the held spot down.
  const int64_t red = spectrum.DIBCanvas().NearestColor(RGBColor(255, 0, 0));
  spectrum.RefreshPCMData(silence.data());
  EXPECT_EQ(CanvasPixel(spectrum.DIBCanvas(), 30, 86 - 2 * 37), red);
  EXPECT_NE(CanvasPixel(spectrum.DIBCanvas(), 30, 86 - 2 * 36), red);
}

TEST_F(SpectrumTest, DecayHoldsOrAveragesEachBinOverTheRefreshes) {
  spectrum.SetWindow(TMMFFTWindow::fwRectangular);
  const auto tone = ToneBlock({{10, 20000}}, 128, 128);
  const std::vector<uint8_t> silence(256, 0);
  Feed(kMono16, tone);
  const int full = spectrum.BinResult(10);
  EXPECT_NEAR(full, 16 * 20000, 64);

  // Decay 3: a ring of 4 refreshes, factor 0.316.
  spectrum.SetDecay(3);
  spectrum.SetDecayMode(TMMDecayMode::dmUniform);
  spectrum.RefreshPCMData(tone.data());
  spectrum.RefreshPCMData(silence.data());
  EXPECT_EQ(spectrum.BinResult(10), full / 2);
  for (int i = 0; i < 3; ++i) spectrum.RefreshPCMData(silence.data());
  EXPECT_EQ(spectrum.BinResult(10), 0);

  spectrum.SetDecayMode(TMMDecayMode::dmStepUp);
  spectrum.RefreshPCMData(tone.data());
  spectrum.RefreshPCMData(silence.data());
  EXPECT_NEAR(spectrum.BinResult(10), full * 0.31623, 20);
  spectrum.SetDecayMode(TMMDecayMode::dmExponential);
  spectrum.RefreshPCMData(tone.data());
  EXPECT_NEAR(spectrum.BinResult(10), full * (1 - 0.31623), 20);
}

TEST_F(SpectrumTest, TheMeasuringBoxStopsRefreshesAndRestoresThePictureUnderIt) {
  window.resize(300, 200);
  window.show();
  spectrum.SetWindow(TMMFFTWindow::fwRectangular);
  Feed(kMono16, ToneBlock({{10, 30000}}, 128, 128));
  const QImage before = spectrum.BackStore();
  const QPointF at(40, 20);
  QMouseEvent press(QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&spectrum, &press);
  ASSERT_TRUE(spectrum.InfoMode());
  EXPECT_NE(spectrum.BackStore(), before);
  EXPECT_EQ(spectrum.InfoText(96, 43), "2.771 KHz 0.50 V");  // 96 / 191 of 5512.5 Hz
  spectrum.RefreshPCMData(ToneBlock({{20, 30000}}, 128, 128).data());
  EXPECT_EQ(LoudestBin(), 10);
  QMouseEvent release(QEvent::MouseButtonRelease, at, at, Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(&spectrum, &release);
  EXPECT_FALSE(spectrum.InfoMode());
  EXPECT_EQ(spectrum.BackStore(), before);
}

// What a window on screen shows, after the paints the drawing asked for.
QImage Shown(QWidget& control) {
  QApplication::processEvents();
  return control.grab().toImage();
}

TEST_F(SpectrumTest, AShownWindowKeepsTheScrollHistoryAndTheMeasuringBox) {
  window.resize(300, 200);
  window.show();
  QApplication::processEvents();
  spectrum.SetKind(TMMSpectrumKind::skScroll);
  spectrum.SetWindow(TMMFFTWindow::fwRectangular);
  spectrum.SetPCMWaveFormat(&kMono16);
  // Each refresh draws its trace in the top third and moves the older ones down
  // two rows: after 40, every pair of rows holds a trace.
  for (int i = 0; i < 40; ++i) {
    spectrum.RefreshPCMData(ToneBlock({{10, 30000}}, 128, 128).data());
    QApplication::processEvents();
  }
  const QRect picture = spectrum.PictureRect().ToQRect();
  auto traced_rows = [&](const QImage& shown) {
    int rows = 0;
    for (int y = picture.top(); y <= picture.bottom(); ++y) {
      bool lit = false;
      for (int x = picture.left(); x <= picture.right() && !lit; ++x) lit = qGray(shown.pixel(x, y)) > 0;
      rows += lit;
    }
    return rows;
  };
  EXPECT_GE(traced_rows(Shown(spectrum)), picture.height() - 4);

  // The measuring box stays on screen while the button is held.
  const QPointF at(40, 20);
  QMouseEvent press(QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&spectrum, &press);
  const QImage boxed = Shown(spectrum);
  EXPECT_EQ(boxed.pixel(41, 20 + 15 + 2), QColor(Qt::white).rgb());
  EXPECT_EQ(boxed.pixel(40, 20 + 15), QColor(Qt::black).rgb());  // its frame
  QMouseEvent release(QEvent::MouseButtonRelease, at, at, Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(&spectrum, &release);
  EXPECT_GE(traced_rows(Shown(spectrum)), picture.height() - 4);
}

TEST_F(SpectrumTest, TheTopDecibelLabelReadsZeroOnBothStrips) {
  spectrum.SetDrawAmpScale(true);
  spectrum.SetLogAmp(true);
  const QImage shown = spectrum.grab().toImage();
  // Glyphs of the label in rows from .. to of the strip's columns left .. right:
  // runs of inked columns.
  auto glyphs = [&](int from, int to, int left, int right) {
    int runs = 0;
    bool inked = false;
    for (int x = left; x < right; ++x) {
      bool ink = false;
      for (int y = std::max(from, 0); y <= to; ++y) ink |= qGray(shown.pixel(x, y)) < 128;
      runs += ink && !inked;
      inked = ink;
    }
    return runs;
  };
  // Labels sit on the ticks of rows 1 (0 dB, its upper half cut off) and 15
  // (-10 dB); the left strip's text ends before its ticks at x 25, the right
  // one's starts after its ticks.
  const int right = spectrum.width() - 24;
  EXPECT_EQ(glyphs(0, 4, 0, 25), 1);
  EXPECT_EQ(glyphs(0, 4, right, spectrum.width()), 1);
  EXPECT_EQ(glyphs(11, 18, 0, 25), 3);  // "-10"
}

TEST_F(SpectrumTest, TheLoudestFrequencyStaysInsideANarrowPicture) {
  // A picture narrower than the text: what is around it must stay as painted,
  // since only a full paint draws the scales again.
  spectrum.SetDrawAmpScale(true);
  spectrum.SetBounds(0, 0, 100, 60);
  spectrum.SetDisplayPeak(true);
  spectrum.SetWindow(TMMFFTWindow::fwRectangular);
  spectrum.SetPCMWaveFormat(&kMono16);
  const QImage painted = spectrum.grab().toImage();
  spectrum.RefreshPCMData(ToneBlock({{10, 30000}}, 128, 128).data());
  const QImage fed = spectrum.BackStore();
  const QRect picture = spectrum.PictureRect().ToQRect();
  for (int y = 0; y < fed.height(); ++y) {
    for (int x = 0; x < fed.width(); ++x) {
      if (picture.contains(x, y)) continue;
      ASSERT_EQ(fed.pixel(x, y), painted.pixel(x, y)) << x << "," << y;
    }
  }
}

}  // namespace
}  // namespace pmx
