#include "audio/displays/spectrogram.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <chrono>
#include <set>

#include "audio/displays/oscope.h"
#include "platform/main_loop.h"
#include "platform/wave_types.h"
#include "tests/audio/displays/connector_feed.h"
#include "tests/audio/displays/tone_blocks.h"

namespace pmx {
namespace {

constexpr int kLow = TMMSpectrogram::kFirstIndex;
constexpr int kHigh = TMMSpectrogram::kLastIndex;

// A spectrogram in a window, fed 16-bit mono at 11025 Hz through a rectangular
// window, so that a tone on a bin lights that bin alone.
struct SpectrogramTest : ::testing::Test {
  QWidget window;
  TMMSpectrogram gram{nullptr, &window};

  SpectrogramTest() {
    gram.SetWindow(TMMFFTWindow::fwRectangular);
    const WaveFormatEx format = WaveFormatEx::Pcm(11025, 16, 1);
    gram.SetPCMWaveFormat(&format);
  }
  // Feeds one block with a tone on bin (none for 0); returns the column it went to.
  int Feed(double bin, const WaveFormatEx* format = nullptr) {
    const int column = gram.WriteColumn();
    const int channels = format ? format->nChannels() : 1;
    const bool eight = format && format->wBitsPerSample() == 8;
    std::vector<ToneSpec> tone(channels, ToneSpec{bin, eight ? 100.0 : 20000.0});
    gram.RefreshPCMData(ToneBlock(tone, gram.FFTLength(), gram.FFTLength(), eight).data());
    return column;
  }
  // The picture row (from the top) of the run that shows bin.
  int RowOfBin(int bin) {
    for (int i = 0; i < gram.PictureHeight(); ++i) {
      if (gram.RowFirstBin(i) == bin) return gram.PictureHeight() - 1 - i;
    }
    return -1;
  }
  std::vector<int64_t> Column(int x) {
    std::vector<int64_t> pixels;
    for (int y = 0; y < gram.PictureHeight(); ++y)
      pixels.push_back(CanvasPixel(gram.DIBCanvas(), x, y));
    return pixels;
  }
};

TEST_F(SpectrogramTest, PalettesAreBuiltAndHandedToTheCanvas) {
  auto entry = [](TMMSpectrogramPalette kind, int k) {
    const TPaletteEntry e = TMMSpectrogram::BuildPalette(kind).palPalEntry[kLow + k];
    return std::array<int, 3>{e.peRed, e.peGreen, e.peBlue};
  };
  using P = TMMSpectrogramPalette;
  // k = 93 is h = 100, k = 235 is h = 254, k = 15 is h = 16.
  EXPECT_EQ(entry(P::spHSV, 0), (std::array{0, 0, 255}));
  EXPECT_EQ(entry(P::spHSV, 93), (std::array{0, 255, 110}));
  EXPECT_EQ(entry(P::spThreshold, 14), (std::array{0, 0, 0}));
  EXPECT_EQ(entry(P::spThreshold, 15), (std::array{0, 64, 255}));
  EXPECT_EQ(entry(P::spBone, 93), (std::array{88, 91, 117}));
  EXPECT_EQ(entry(P::spCopper, 235), (std::array{255, 198, 127}));
  EXPECT_EQ(entry(P::spHot, 235), (std::array{255, 255, 250}));
  EXPECT_EQ(entry(P::spWhiteBlack, 235), (std::array{1, 1, 1}));

  gram.SetPaletteTyp(P::spCool);
  EXPECT_EQ(gram.DIBCanvas().ColorTable()[kLow + 93] & 0xFFFFFF, 0x649BFFu);  // (100, 155, 255)
}

TEST_F(SpectrogramTest, RowMapsSpreadTheBinsOverThePicture) {
  ASSERT_EQ(gram.PictureHeight(), 88);
  // 64 bins over 88 rows: every bin has exactly one row, its others merge.
  std::set<int> shown;
  for (int i = 0; i < 88; ++i) {
    if (gram.RowFirstBin(i) >= 0) {
      EXPECT_TRUE(shown.insert(gram.RowFirstBin(i)).second) << i;
    }
    EXPECT_EQ(gram.RowEndBin(i), 0) << i;
  }
  EXPECT_EQ(shown.size(), 64u);
  EXPECT_EQ(gram.RowFirstBin(0), 0);
  EXPECT_EQ(gram.RowFirstBin(1), -1);
  EXPECT_EQ(gram.RowFirstBin(87), 63);

  // 512 bins over 88 rows: each row reads a run of bins, the top its first only.
  gram.SetFFTLength(1024);
  EXPECT_EQ(gram.BytesPerRefresh(), 2048);
  EXPECT_EQ(gram.RowFirstBin(0), 0);
  EXPECT_EQ(gram.RowEndBin(0), 5);
  EXPECT_EQ(gram.RowFirstBin(1), 5);
  EXPECT_EQ(gram.RowEndBin(1), 11);
  EXPECT_EQ(gram.RowFirstBin(87), 506);
  EXPECT_EQ(gram.RowEndBin(87), 0);

  // A base frequency and a zoom move the window: 1000 .. 1000 + 3512.5 / 2 Hz.
  gram.SetFrequencyBase(1000);
  gram.SetFrequencyScale(2);
  EXPECT_EQ(gram.RowFirstBin(0), 92);  // 1000 Hz at 10.77 Hz per bin
  EXPECT_EQ(gram.InfoText(0, 87), "1.000 KHz");
  EXPECT_EQ(gram.InfoText(0, 0), "2.756 KHz");
}

TEST_F(SpectrogramTest, AToneLightsItsRowInTheNewestColumnAndSurvivesAnExposure) {
  window.resize(300, 200);
  window.show();
  QApplication::processEvents();
  for (int i = 0; i < 6; ++i) Feed(0);  // past the columns drawn off the picture
  const int column = Feed(20);
  ASSERT_GE(column, 0);
  const int row = RowOfBin(20);
  const std::vector<int64_t> pixels = Column(column);
  for (int y = 0; y < gram.PictureHeight(); ++y) EXPECT_EQ(pixels[y], y == row ? kHigh : kLow) << y;
  EXPECT_NEAR(gram.Level(20), 20000 + kLow, 10);

  // Covering and uncovering shows the picture; it is not started afresh.
  gram.repaint();
  const QImage shown = gram.BackStore();
  const TRect picture = gram.PictureRect();
  const QRgb lit = shown.pixel(picture.Left + column, picture.Top + row);
  const auto table = gram.DIBCanvas().ColorTable();
  EXPECT_EQ(lit & 0xFFFFFF, table[kHigh] & 0xFFFFFF);
  EXPECT_EQ(CanvasPixel(gram.DIBCanvas(), column, row), kHigh);
}

TEST_F(SpectrogramTest, LevelsFollowSensitivityLogScaleAndEmboss) {
  gram.SetSensitivy(0);
  EXPECT_EQ(gram.Sensitivy(), -9);
  gram.SetAmplitudeScale(2000);
  EXPECT_EQ(gram.AmplitudeScale(), 1000);
  gram.SetAmplitudeScale(100);
  Feed(0);
  EXPECT_EQ(gram.Level(3), -81 + kLow);  // the least sensitive setting lowers by 81
  gram.SetLogAmp(true);
  gram.SetSensitivy(-90);
  Feed(20);
  // ln(20000^2) x 20 = 396.2; silent bins read ln(1) = 0.
  EXPECT_EQ(gram.Level(20), 396 + kLow);
  EXPECT_EQ(gram.Level(3), kLow);

  // Embossed: each run is compared with the run below in the previous column.
  gram.SetLogAmp(false);
  gram.SetEmbossed(true);
  gram.ResetData();
  for (int i = 0; i < 6; ++i) Feed(0);
  const int column = Feed(0);
  EXPECT_EQ(CanvasPixel(gram.DIBCanvas(), column, 40), kLow - kLow + 118);
}

TEST_F(SpectrogramTest, TheKilohertzUnitKeepsClearOfTheLabels) {
  gram.SetDrawScale(true);
  const QImage shown = gram.grab().toImage();
  // 5 divisions of 87 rows: the labels "0" and "1" are centred on rows 88 and
  // 71 and reach 4 rows either way. Left of column 16, which no one-digit label
  // reaches, only the unit is written.
  std::vector<int> unit_rows;
  for (int y = 0; y < shown.height(); ++y) {
    bool ink = false;
    for (int x = 0; x < 16; ++x) ink |= qGray(shown.pixel(x, y)) < 128;
    if (ink) unit_rows.push_back(y);
  }
  ASSERT_FALSE(unit_rows.empty());
  EXPECT_GT(unit_rows.front(), 71 + 3);
  EXPECT_LT(unit_rows.back(), 88 - 3);
}

TEST_F(SpectrogramTest, ScrollingMovesTheEarlierColumnsLeftByOne) {
  gram.SetScroll(true);
  gram.SetAccelerate(false);
  const int w = gram.PictureWidth();
  int bin = 0;
  while (gram.BarColumn() < w) Feed(5 + bin++ % 50);
  const std::vector<int64_t> before_mid = Column(w / 2);
  const std::vector<int64_t> before_next = Column(w / 2 + 1);
  const int column = Feed(30);
  EXPECT_EQ(column, w - 5);
  EXPECT_EQ(gram.WriteColumn(), column);  // the newest column keeps its place
  EXPECT_EQ(Column(w / 2 - 1), before_mid);
  EXPECT_EQ(Column(w / 2), before_next);
  EXPECT_EQ(CanvasPixel(gram.DIBCanvas(), column - 1, RowOfBin(30)), kHigh);

  // Without a bar the newest column still lands on the picture.
  gram.SetBarWidth(-3);
  EXPECT_EQ(gram.BarWidth(), 0);
  gram.ResetData();
  for (int i = 0; i < w + 2; ++i) Feed(0);
  Feed(30);
  EXPECT_EQ(CanvasPixel(gram.DIBCanvas(), w - 2, RowOfBin(30)), kHigh);
}

TEST_F(SpectrogramTest, ASelectionInvertsWhatIsShownAndKeepsThePicture) {
  window.show();
  gram.SetAccelerate(false);
  gram.Selecting(40, 60);
  EXPECT_EQ(gram.SelectionStart(), 40);
  for (int i = 0; i < 3; ++i) {
    Feed(0);
    EXPECT_EQ(CanvasPixel(gram.DIBCanvas(), 50, 30), kLow) << i;
    const QRgb shown =
        gram.BackStore().pixel(gram.PictureRect().Left + 50, gram.PictureRect().Top + 30);
    EXPECT_NE(shown & 0xFFFFFF, gram.DIBCanvas().ColorTable()[kLow] & 0xFFFFFF) << i;
  }
}

TEST_F(SpectrogramTest, BadInputIsRefusedOrReadSafely) {
  const WaveFormatEx adpcm = [] {
    WaveFormatEx f = WaveFormatEx::Pcm(11025, 16, 1);
    f.set_wFormatTag(2);
    return f;
  }();
  EXPECT_THROW(gram.SetPCMWaveFormat(&adpcm), EMMSpectrogramError);
  EXPECT_EQ(gram.BytesPerRefresh(), 256);  // unchanged
  EXPECT_THROW(gram.SetBitsPerPixel(24), EMMDIBError);  // columns are palette indices
  EXPECT_EQ(gram.BitsPerPixel(), 8);

  // Eight bits over four channels: the first two are read.
  const WaveFormatEx quad8 = WaveFormatEx::Pcm(8000, 8, 4);
  gram.SetPCMWaveFormat(&quad8);
  EXPECT_EQ(gram.BytesPerRefresh(), 512);
  for (int i = 0; i < 6; ++i) Feed(0, &quad8);
  const int column = Feed(16, &quad8);
  EXPECT_EQ(CanvasPixel(gram.DIBCanvas(), column, RowOfBin(16)), kHigh);
  EXPECT_EQ(CanvasPixel(gram.DIBCanvas(), column, RowOfBin(40)), kLow);

  // The smallest control still draws.
  gram.SetBounds(0, 0, 0, 0);
  EXPECT_EQ(gram.width(), 7);
  EXPECT_EQ(gram.PictureHeight(), 5);
  Feed(16, &quad8);
  EXPECT_EQ(gram.RowFirstBin(3), 38);
}

}  // namespace
}  // namespace pmx

namespace pmx {
namespace {

// A connector on a recording chain feeds an oscilloscope and a spectrogram in a
// shown window: both draw the tone it carries.
using namespace std::chrono_literals;

TEST(ScanDisplayFeed, AConnectorFeedsTheOscilloscopeAndTheSpectrogram) {
  PlainMainLoop loop;
  ScopedMainLoop scoped{loop};
  QWidget window;
  TMMOscope scope{nullptr, &window};
  TMMSpectrogram gram{nullptr, &window};
  window.resize(400, 200);
  gram.SetBounds(0, 100, 194, 90);
  gram.SetWindow(TMMFFTWindow::fwRectangular);
  window.show();

  TMMConnector connector;
  connector.SetOscope1(&scope);
  connector.SetSpectrogram1(&gram);
  // A tone on bin 10 of 128 points, both channels.
  std::vector<uint8_t> data = ToneBlock({{10, 20000}, {10, 20000}}, 1100, 128);
  StartConnectorFeed(connector, WaveFormatEx::Pcm(11025, 16, 2), data);
  loop.ProcessPending();
  EXPECT_EQ(scope.BytesPerRefresh(), 768);
  EXPECT_EQ(gram.BytesPerRefresh(), 512);

  connector.TapBuffer(data.data(), static_cast<int64_t>(data.size()));
  // The first columns go off the picture, behind the bar.
  ASSERT_TRUE(loop.PumpUntil([&] { return gram.WriteColumn() > 0; }, 5s));
  const int column = gram.WriteColumn() - 1;
  auto top = [&] {
    int most = 0;
    for (int x = 0; x < scope.PictureWidth(); ++x) most = std::max(most, scope.TraceValue(x));
    return most;
  };
  ASSERT_TRUE(loop.PumpUntil([&] { return top() > 0; }, 5s));
  EXPECT_NEAR(top(), 20000, 100);
  int row = -1;
  for (int i = 0; i < gram.PictureHeight(); ++i) {
    if (gram.RowFirstBin(i) == 10) row = gram.PictureHeight() - 1 - i;
  }
  EXPECT_EQ(CanvasPixel(gram.DIBCanvas(), column, row), TMMSpectrogram::kLastIndex);
  EXPECT_EQ(CanvasPixel(gram.DIBCanvas(), column, row + 4), TMMSpectrogram::kFirstIndex);
  connector.Stopped();
}

}  // namespace
}  // namespace pmx
