#include "audio/displays/oscope.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <atomic>
#include <thread>

#include "audio/displays/spectrogram.h"
#include "platform/wave_types.h"
#include "tests/audio/displays/pcm_blocks.h"
#include "tests/audio/displays/tone_blocks.h"

namespace pmx {
namespace {

struct OscopeTest : ::testing::Test {
  QWidget window;
  TMMOscope scope{nullptr, &window};

  void Format(uint32_t rate, uint16_t bits, uint16_t channels) {
    const WaveFormatEx format = WaveFormatEx::Pcm(rate, bits, channels);
    scope.SetPCMWaveFormat(&format);
  }
  uint32_t Pixel(int x, int y) {
    return static_cast<uint32_t>(CanvasPixel(scope.DIBCanvas(), x, y));
  }
  uint32_t Value(TColor color) { return scope.DIBCanvas().NearestColor(color); }
  // Rows of column x in the trace colour.
  std::vector<int> TraceRows(int x) {
    std::vector<int> rows;
    for (int y = 0; y < scope.PictureHeight(); ++y) {
      if (Pixel(x, y) == Value(scope.Colors(TMMOscope::kForeground))) rows.push_back(y);
    }
    return rows;
  }
  void Mouse(QEvent::Type type, Qt::MouseButton button, int x) {
    const QPointF at(scope.PictureRect().Left + x, scope.PictureRect().Top + 10);
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, at, at, type == QEvent::MouseMove ? Qt::NoButton : button, held,
                      Qt::NoModifier);
    QApplication::sendEvent(&scope, &event);
  }
};

TEST_F(OscopeTest, GeometryAndBytesPerRefresh) {
  EXPECT_EQ(scope.width(), 194);
  EXPECT_EQ(scope.PictureWidth(), 192);
  EXPECT_EQ(scope.PictureHeight(), 88);
  EXPECT_EQ(scope.AmpDivisions(), 8);       // 88 div 10 < 10, 88 div 8 = 11
  EXPECT_EQ(scope.BytesPerRefresh(), 192);  // 8-bit mono
  Format(44100, 16, 2);
  EXPECT_EQ(scope.BytesPerRefresh(), 768);
  scope.SetZoom(2);
  EXPECT_EQ(scope.BytesPerRefresh(), 1536);
  scope.SetZoom(0);
  EXPECT_EQ(scope.Zoom(), 2);
  scope.SetZoom(-1);
  EXPECT_EQ(scope.BytesPerRefresh(), 388);  // 768 div 2 + 5, down to a multiple of 4
  scope.SetSteps(20);
  EXPECT_EQ(scope.Steps(), 9);
  scope.SetFFTLength(1000);
  scope.SetScroll(true);
  EXPECT_EQ(scope.BytesPerRefresh(), 2048);  // 512 frames of 4 bytes
  scope.SetEffect(TMMOscopeEffect::efPeak);
  EXPECT_EQ(scope.EffectLow(), 29);
  EXPECT_EQ(scope.EffectHigh(), 59);

  // Four 16-bit channels at zoom -1 still hand over whole frames.
  scope.SetScroll(false);
  Format(8000, 16, 4);
  EXPECT_EQ(scope.BytesPerRefresh() % 8, 0);
  EXPECT_GE(scope.BytesPerRefresh(), 96 * 8);
  // The time scale labels the stream's own rate, which the property clamps.
  Format(4000, 16, 1);
  EXPECT_EQ(scope.SampleRate(), 8000);
  EXPECT_DOUBLE_EQ(scope.RefreshMilliseconds(),
                   1000.0 * scope.BytesPerRefresh() / 8000);  // 4000 x 2 bytes

  // The smallest control keeps a trace of four points and still draws.
  scope.SetBounds(0, 0, 0, 0);
  EXPECT_EQ(scope.width(), 4);
  EXPECT_EQ(scope.PictureWidth(), 4);
  const std::vector<uint8_t> block = Samples16({30000}, scope.BytesPerRefresh() / 2);
  scope.RefreshPCMData(block.data());
  EXPECT_EQ(scope.TraceValue(3), 30000);
}

TEST_F(OscopeTest, ARampIsDrawnAsOneRisingDotPerColumn) {
  Format(11025, 16, 1);
  std::vector<uint8_t> ramp;
  for (int x = 0; x < 192; ++x) {
    const auto v = static_cast<int16_t>(-32768 + x * 341);
    ramp.push_back(static_cast<uint8_t>(v));
    ramp.push_back(static_cast<uint8_t>(v >> 8));
  }
  scope.RefreshPCMData(ramp.data());
  EXPECT_EQ(TraceRows(0), std::vector<int>{87});
  EXPECT_EQ(TraceRows(96), std::vector<int>{44});  // -32 maps 43 rows up
  EXPECT_EQ(TraceRows(191), std::vector<int>{0});
  for (int x = 1; x < 192; ++x) {
    ASSERT_EQ(TraceRows(x).size(), 1u) << x;
    EXPECT_LE(TraceRows(x)[0], TraceRows(x - 1)[0]) << x;
  }

  // Smoothed: (previous + 3 x this) div 4, the first against 0.
  scope.SetLowPass(true);
  scope.RefreshPCMData(ramp.data());
  EXPECT_EQ(scope.TraceValue(0), -32768 * 3 / 4);
  EXPECT_EQ(scope.TraceValue(1), (-32768 + 3 * (-32768 + 341)) / 4);
  // Connected lines leave no gap between the points.
  scope.SetLowPass(false);
  scope.SetKind(TMMOscopeKind::okConLines);
  scope.SetZoom(-9);
  scope.RefreshPCMData(ramp.data());
  for (int x = 0; x < 192; ++x) EXPECT_FALSE(TraceRows(x).empty()) << x;

  // A drawing handler gets the canvas and the trace in place of the kinds.
  TRect handed;
  int16_t last = 0;
  scope.OnDrawLine = [&](TObject*, TMMDIBCanvas& dib, const TRect& rect, const int16_t* data) {
    handed = rect;
    last = data[191];
    dib.SetDrawColor(clRed);
    DIBSetPixel(dib, 5, 5, dib.DrawState().draw_value);
  };
  scope.SetZoom(1);
  scope.RefreshPCMData(ramp.data());
  EXPECT_EQ(handed, (TRect{0, 0, 192, 88}));
  EXPECT_EQ(last, -32768 + 191 * 341);
  EXPECT_EQ(Pixel(5, 5), Value(clRed));
}

TEST_F(OscopeTest, EachKindDrawsItsShapeForALevel) {
  Format(11025, 16, 1);
  // 16384 is 65 rows up (row 22) as a signed value, 44 up (row 43) as a magnitude.
  const std::vector<uint8_t> block = Samples16({16384}, 192);
  auto rows = [](int from, int to) {
    std::vector<int> list;
    for (int y = from; y <= to; ++y) list.push_back(y);
    return list;
  };
  scope.SetKind(TMMOscopeKind::okVertLines);
  scope.RefreshPCMData(block.data());
  EXPECT_EQ(TraceRows(10), rows(22, 44));  // down to the mid row
  scope.SetKind(TMMOscopeKind::okMirLines);
  scope.RefreshPCMData(block.data());
  EXPECT_EQ(TraceRows(10), rows(22, 65));  // mirrored about the middle
  scope.SetKind(TMMOscopeKind::okSpikes);
  scope.RefreshPCMData(block.data());
  EXPECT_EQ(TraceRows(10), rows(43, 87));  // up from the bottom edge

  // Past the peak band (above 59 rows) a vertical line ends in a 5-pixel cap.
  scope.SetKind(TMMOscopeKind::okVertLines);
  scope.SetEffect(TMMOscopeEffect::efPeak);
  scope.RefreshPCMData(block.data());
  EXPECT_EQ(TraceRows(10), rows(27, 44));
  for (int y = 22; y < 27; ++y) EXPECT_EQ(Pixel(10, y), Value(scope.Colors(TMMOscope::kEffect)));
  // Steps leave the columns between the points empty; Gain scales the level.
  scope.SetEffect(TMMOscopeEffect::efNone);
  scope.SetSteps(3);
  scope.SetGain(-4);  // x 4 / 8
  scope.RefreshPCMData(block.data());
  EXPECT_TRUE(TraceRows(10).empty());
  EXPECT_EQ(TraceRows(9), rows(33, 44));  // 8192 is 54 rows up
}

TEST_F(OscopeTest, ScrollModeDrawsEachBlocksExtremesAsAColumn) {
  Format(11025, 16, 2);
  scope.SetScroll(true);
  scope.SetFFTLength(64);
  scope.SetBarWidth(1);
  // Left swings -8000 .. 16000, right -4000 .. 8000: both channels averaged.
  const std::vector<uint8_t> block = Samples16({-8000, -4000, 16000, 8000}, 32);
  scope.RefreshPCMData(block.data());
  scope.RefreshPCMData(block.data());
  EXPECT_EQ(scope.TraceValue(0), -6000);
  EXPECT_EQ(scope.TraceValue(1), 12000);
  EXPECT_EQ(TraceRows(0), (std::vector<int>{27, 52}));  // the first pass starts at the left
  scope.SetChannel(TMMChannel::chRight);
  scope.RefreshPCMData(block.data());
  EXPECT_EQ(scope.TraceValue(0), -4000);
  EXPECT_EQ(scope.TraceValue(1), 8000);
  // 8 bits, four channels: the left one, on the 16-bit scale.
  Format(11025, 8, 4);
  scope.SetChannel(TMMChannel::chLeft);
  std::vector<uint8_t> quad(64 * 4, 128);
  quad[0] = 0;
  quad[4 * 9] = 255;
  scope.RefreshPCMData(quad.data());
  EXPECT_EQ(scope.TraceValue(0), -32768);
  EXPECT_EQ(scope.TraceValue(1), 32512);
}

TEST_F(OscopeTest, EachPointPastFullScaleOrPastTheHeightFiresOneEvent) {
  int pcm = 0;
  int gain = 0;
  scope.OnPcmOverflow = [&](TObject*) { ++pcm; };
  scope.OnGainOverflow = [&](TObject*) { ++gain; };
  Format(11025, 16, 1);
  // Ten clipped samples, the last on the final column; seven at 10000, which
  // Gain 32 (x 5) lifts past the height in every kind.
  std::vector<int16_t> trace(192, 0);
  for (int x : {3, 20, 21, 50, 90, 120, 150, 170, 180, 191}) trace[x] = 32767;
  for (int x : {5, 6, 60, 61, 62, 100, 140}) trace[x] = 10000;
  std::vector<uint8_t> block;
  for (int16_t v : trace) {
    const auto more = Samples16({v}, 1);
    block.insert(block.end(), more.begin(), more.end());
  }
  const std::vector<uint8_t> quiet(block.size(), 0);
  scope.SetGain(32);
  for (auto kind : {TMMOscopeKind::okDots, TMMOscopeKind::okConLines, TMMOscopeKind::okVertLines,
                    TMMOscopeKind::okMirLines, TMMOscopeKind::okSpikes}) {
    scope.SetKind(kind);
    pcm = gain = 0;
    scope.RefreshPCMData(block.data());
    EXPECT_EQ(pcm, 10) << static_cast<int>(kind);
    EXPECT_EQ(gain, 17) << static_cast<int>(kind);

    // Scrolling: a column per block; its one clipped value fires once.
    scope.SetScroll(true);
    scope.SetFFTLength(64);
    scope.RefreshPCMData(quiet.data());  // starts the picture
    pcm = gain = 0;
    for (int i = 0; i < 5; ++i) scope.RefreshPCMData(block.data() + 2 * 10 * i);
    EXPECT_EQ(pcm, 5) << static_cast<int>(kind);
    scope.SetScroll(false);
  }
}

TEST_F(OscopeTest, TheRightButtonSelectsAndMovesARange) {
  scope.SetUseSelection(true);
  int ends[2] = {-2, -2};
  scope.OnSelectEnd = [&](TObject*, int first, int last) { ends[0] = first, ends[1] = last; };
  Mouse(QEvent::MouseButtonPress, Qt::RightButton, 20);
  Mouse(QEvent::MouseMove, Qt::RightButton, 60);
  Mouse(QEvent::MouseButtonRelease, Qt::RightButton, 60);
  EXPECT_EQ(ends[0], 20);
  EXPECT_EQ(ends[1], 60);
  // Dragged by its middle, it moves whole and stays inside the trace.
  Mouse(QEvent::MouseButtonPress, Qt::RightButton, 40);
  Mouse(QEvent::MouseMove, Qt::RightButton, 500);
  Mouse(QEvent::MouseButtonRelease, Qt::RightButton, 500);
  EXPECT_EQ(scope.SelectionStart(), 151);
  EXPECT_EQ(scope.SelectionEnd(), 191);
  // Grabbing an end moves that end only; past the other end the two swap.
  Mouse(QEvent::MouseButtonPress, Qt::RightButton, 152);
  Mouse(QEvent::MouseMove, Qt::RightButton, 30);
  Mouse(QEvent::MouseButtonRelease, Qt::RightButton, 30);
  EXPECT_EQ(scope.SelectionStart(), 30);
  EXPECT_EQ(scope.SelectionEnd(), 191);
  // A click elsewhere leaves a selection one pixel wide, which is dropped.
  Mouse(QEvent::MouseButtonPress, Qt::RightButton, 10);
  Mouse(QEvent::MouseButtonRelease, Qt::RightButton, 10);
  EXPECT_EQ(ends[0], -1);
  EXPECT_EQ(scope.SelectionStart(), -1);
  // Locked: the mouse selects nothing.
  scope.SetLocked(true);
  Mouse(QEvent::MouseButtonPress, Qt::RightButton, 20);
  EXPECT_EQ(scope.SelectionStart(), -1);
}

TEST_F(OscopeTest, AHeldLeftButtonFreezesTheTraceUntilAReset) {
  Format(11025, 16, 1);
  window.show();
  const std::vector<uint8_t> loud = Samples16({20000}, 192);
  Mouse(QEvent::MouseButtonPress, Qt::LeftButton, 96);
  EXPECT_TRUE(scope.InfoMode());
  EXPECT_EQ(scope.InfoText(95, 44), " 8.7 ms 0.00 V");
  scope.RefreshPCMData(loud.data());
  EXPECT_EQ(scope.TraceValue(5), 0);  // frozen
  scope.ResetData();
  EXPECT_FALSE(scope.InfoMode());
  scope.RefreshPCMData(loud.data());
  EXPECT_EQ(scope.TraceValue(5), 20000);
}

}  // namespace
}  // namespace pmx

namespace pmx {
namespace {

// A connector that refreshes on the pushing thread: both scanning displays draw
// there while the window paints and the mouse reads out.
TEST(ScanDisplayThreads, AFeedOnAnotherThreadRacesNeitherPaintNorMouse) {
  QWidget window;
  TMMOscope scope{nullptr, &window};
  TMMSpectrogram gram{nullptr, &window};
  gram.SetBounds(0, 100, 194, 90);
  scope.SetScroll(true);
  window.show();
  const WaveFormatEx format = WaveFormatEx::Pcm(11025, 16, 1);
  scope.SetPCMWaveFormat(&format);
  gram.SetPCMWaveFormat(&format);
  gram.repaint();  // the first full paint, before the feed draws
  std::atomic<bool> done{false};
  std::thread feeder([&] {
    for (int i = 0; i < 400; ++i) {
      const auto block = ToneBlock({{static_cast<double>(5 + i % 40), 25000}}, 128, 128);
      scope.RefreshPCMData(block.data());
      gram.RefreshPCMData(block.data());
    }
    done = true;
  });
  while (!done) {
    scope.Invalidate();
    gram.repaint();
    scope.repaint();
    QApplication::processEvents();
  }
  feeder.join();
  // Exposures kept what the feed drew.
  int lit = 0;
  for (int x = 0; x < gram.PictureWidth(); ++x) {
    for (int y = 0; y < gram.PictureHeight(); ++y)
      lit += CanvasPixel(gram.DIBCanvas(), x, y) == TMMSpectrogram::kLastIndex;
  }
  EXPECT_GT(lit, 100);
  EXPECT_NE(scope.TraceValue(1), 0);
}

}  // namespace
}  // namespace pmx
