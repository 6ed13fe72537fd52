#pragma once

#include <QImage>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/core/chain/display_feed.h"
#include "audio/core/objects/mm_types.h"
#include "audio/displays/dib_graphic_control.h"
#include "audio/displays/info_box.h"
#include "audio/displays/level_math.h"
#include "audio/displays/frequency_display.h"
#include "audio/displays/spectrum_math.h"
#include "platform/exception.h"

class QMouseEvent;

namespace pmx {

class EMMSpectrumError : public Exception {
 public:
  using Exception::Exception;
};

enum class TMMSpectrumKind { skDots, skLines, skVLines, skBars, skPeaks, skScroll };
// Pre-emphasis of 0, 3, 6, 9 or 12 dB per octave.
enum class TMMSpectrumGain { sgNone, sg3db, sg6db, sg9db, sg12db };

// Fills the first-bin and end-bin entries of every column (-1: merged into the
// bar on its left; end 0: the bar reads its first bin only).
using TMMSpectrumGetXScale =
    std::function<void(TObject* Sender, std::vector<int>& first_bins, std::vector<int>& end_bins)>;
using TMMSpectrumDrawBar = std::function<void(TObject* Sender, TMMDIBCanvas& DIB, int peak,
                                              int value, const TRect& rect)>;
using TMMSpectrumClear =
    std::function<void(TObject* Sender, TMMDIBCanvas& DIB, const TRect& rect)>;

// One bar of a frame: a run of columns and its height. The peak timer reads the
// list and moves peak and hold, so every field is atomic; a first column of -1
// closes the list.
struct TMMSpectrumBar {
  std::atomic<int> first{-1};
  std::atomic<int> end{0};
  std::atomic<int> value{0};
  std::atomic<int> peak{0};
  std::atomic<int> hold{0};
};

// A real-time spectrum analyser: each block of FFTLength frames it is fed is
// windowed (after an optional pre-emphasis), transformed, turned into per-bin
// magnitudes with optional decay, mapped onto the columns of the picture (linear
// or logarithmic frequency, linear or dB amplitude) and drawn at once as dots,
// lines, bands, LED bars, peaks or a scrolling trace, with peak marks that hold
// and fall on the shared 25 ms timer.
//
// Threads: properties, layout, painting and the mouse belong to the GUI thread;
// the feed runs on the connector's refresh thread (the GUI thread unless the
// connector refreshes on the pushing thread, when properties must not change
// while it feeds). The shared timer's thread runs PeakTimer, which touches only
// the bar list's peak and hold fields; the bar list is reallocated only with the
// timer client suspended. The info mode, NumPeaks and PeakSpeed, which the timer
// reads, are atomics. data_lock_ guards the bin results, the decay state and the
// loudest bar, which a feed on another thread writes while a paint reads them.
// Drawing runs inside the canvases' drawing sections.
class TMMSpectrum : public TMMFrequencyDisplay<TMMDIBGraphicControl>, public TMMDisplayFeed {
 public:
  explicit TMMSpectrum(TComponent* owner = nullptr, QWidget* parent = nullptr);
  ~TMMSpectrum() override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  TMMSpectrumKind Kind() const { return kind_; }
  void SetKind(TMMSpectrumKind value);
  void SetFFTLength(int value);
  void SetWindow(TMMFFTWindow value);
  void SetSampleRate(int value);
  TMMSpectrumGain Gain() const { return gain_; }
  void SetGain(TMMSpectrumGain value);
  int RefFreq() const { return ref_freq_; }
  void SetRefFreq(int value);
  bool LogFreq() const { return log_freq_; }
  void SetLogFreq(bool value);
  bool LogAmp() const { return log_amp_; }
  void SetLogAmp(bool value);
  int VerticalScale() const { return vertical_scale_; }
  void SetVerticalScale(int value);
  int FrequencyScale() const { return frequency_scale_; }
  void SetFrequencyScale(int value);
  TMMDecayMode DecayMode() const { return decay_.Mode(); }
  void SetDecayMode(TMMDecayMode value) { decay_.SetMode(value); }
  int Decay() const { return decay_.Decay(); }
  void SetDecay(int value) { decay_.SetDecay(value); }
  float DecayFactor() const { return decay_.Factor(); }
  int DecayRingLength() const { return decay_.RingLength(); }
  int NumPeaks() const { return num_peaks_; }
  void SetNumPeaks(int value);
  int PeakDelay() const { return peak_delay_; }
  void SetPeakDelay(int value);
  int PeakSpeed() const { return peak_speed_; }
  void SetPeakSpeed(int value);
  bool DisplayPeak() const { return display_peak_; }
  void SetDisplayPeak(bool value) { SetRepaint(display_peak_, value); }
  int Space() const { return space_; }
  void SetSpace(int value);
  int SpotSpace() const { return spot_space_; }
  void SetSpotSpace(int value);
  int SpotHeight() const { return spot_height_; }
  void SetSpotHeight(int value);
  int Point1() const { return point1_; }
  void SetPoint1(int value);
  int Point2() const { return point2_; }
  void SetPoint2(int value);
  // Colours: 0..2 bar zones, 3..5 inactive zones, then scale text, scale line, grid.
  enum ColorIndex { kBar1, kBar2, kBar3, kInactive1, kInactive2, kInactive3, kScaleText,
                    kScaleLine, kGrid, kColorCount };
  TColor Colors(ColorIndex index) const { return colors_[index]; }
  void SetColors(ColorIndex index, TColor value);
  bool DrawInactive() const { return draw_inactive_; }
  void SetDrawInactive(bool value) { SetRepaint(draw_inactive_, value); }
  bool InactiveDoted() const { return inactive_doted_; }
  void SetInactiveDoted(bool value);
  bool ActiveDoted() const { return active_doted_; }
  void SetActiveDoted(bool value) { SetRepaint(active_doted_, value); }
  bool DrawGrid() const { return draw_grid_; }
  void SetDrawGrid(bool value) { SetRepaint(draw_grid_, value); }
  bool DrawFreqScale() const { return draw_freq_scale_; }
  void SetDrawFreqScale(bool value) { SetScaleShown(draw_freq_scale_, value); }
  bool DrawAmpScale() const { return draw_amp_scale_; }
  void SetDrawAmpScale(bool value) { SetScaleShown(draw_amp_scale_, value); }
  bool ShowInfo() const { return show_info_; }
  void SetShowInfo(bool value) { show_info_ = value; }
  const TMMSpectrumDrawBar& OnDrawBar() const { return on_draw_bar_; }
  void SetOnDrawBar(TMMSpectrumDrawBar value);
  const TMMSpectrumGetXScale& OnGetXScale() const { return on_get_x_scale_; }
  void SetOnGetXScale(TMMSpectrumGetXScale value);

  void SetPCMWaveFormat(PWaveFormatEx format) override;
  void RefreshPCMData(const void* data) override;
  void ResetData() override;
  int BytesPerRefresh() const override { return input_.BytesPerRefresh(); }

  // Picture geometry and what the last frame showed, for the program and tests.
  TRect PictureRect() const { return picture_; }
  int SpotCount() const { return spots_; }
  int Zone1() const { return z1_; }
  int Zone2() const { return z2_; }
  int FirstBin(int column) const { return first_bin_.at(column); }
  int EndBin(int column) const { return end_bin_.at(column); }
  int BinResult(int bin) const;
  // Bars of the last frame as (first column, end column, value, peak).
  struct BarState {
    int first, end, value, peak;
  };
  std::vector<BarState> Bars() const;
  int LoudestValue() const;
  // "%7.1f Hz" of the loudest bar without its leading blanks.
  std::string LoudestFrequencyText() const;
  bool InfoMode() const { return info_mode_; }
  std::string InfoText(int x, int y) const;
  PMMTimerClient PeakTimerClient() const { return timer_client_.Client(); }

  // One tick of the peak marks; the shared timer calls it every 25 ms.
  void PeakTimer();

  void SetBounds(int left, int top, int width, int height) override;
  void SetBitsPerPixel(int bits) override;
  void SetDesignMode(bool value) override;
  void Paint(QPainter& canvas) override;

  TNotifyEvent OnNeedData;
  TNotifyEvent OnGainOverflow;
  TNotifyEvent OnPcmOverflow;
  TMMSpectrumClear OnClearBackground;

 protected:
  void Loaded() override;
  void BevelChanged() override {
    UpdateLayout();
    Invalidate();
  }
  void ColorChanged() override;
  void BoundsChanged() override { UpdateLayout(); }
  // No hint covers the measuring box while the button is held.
  bool event(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  // The scale strips beside and below the picture.
  static constexpr int kAmpScaleWidth = 32;
  static constexpr int kFreqScaleHeight = 40;

  struct Loudest {
    int value = 0;
    int bin = 0;
    int column = 0;
  };
  struct FrameColors;

  template <class T>
  void SetRepaint(T& field, T value) {
    if (field == value) return;
    field = value;
    Invalidate();
  }
  void SetTimerSuspended(bool suspended) { timer_client_.SetSuspended(suspended); }
  void Reset();
  void Clear();
  void ClearBars();
  void UpdateLayout();
  void SpotLayout();
  void BuildBinMap();
  void MapColumns(double low);
  void BuildAmplitudeTables();
  void ComputeResults();
  int BarValue(int first_bin, int end_bin, int column) const;
  double ColumnFrequency(double x) const;
  double BinFrequency(int bin) const;
  int MinWidth() const;
  int MinHeight() const;

  // Drawing (spectrum_drawing.cpp).
  void DrawFrame(QPainter& dc, bool refresh);
  void DrawBackground(bool refresh);
  void BuildBarList();
  void BuildInactivePicture();
  void DrawGridLines(const FrameColors& colors);
  void DrawDots(const FrameColors& colors);
  void DrawLines(const FrameColors& colors);
  void DrawPolyline(const FrameColors& colors, bool peaks);
  void DrawVLines(const FrameColors& colors);
  void DrawBars(const FrameColors& colors);
  void DrawSpots(TMMDIBCanvas& canvas, int first, int end, int from, int to, const uint32_t* zone,
                 bool dotted) const;
  int SpotZone(int k) const { return k > z2_ ? 2 : k > z1_ ? 1 : 0; }
  int HeightZone(int h) const { return h > z2_ ? 2 : h > z1_ ? 1 : 0; }
  void DrawLoudestText(QPainter& dc) const;
  void DrawAmpScale(QPainter& dc, bool left) const;
  void DrawFreqScale(QPainter& dc) const;
  void DrawUnits(QPainter& dc) const;
  TColor ParentColor() const;
  int HorizontalDivisions() const;
  int VerticalDivisions() const;
  int GridRow(int k, int n) const;
  void MoveInfoBox(int x, int y);
  void EndInfoMode();

  bool enabled_ = true;
  TMMSpectrumKind kind_ = TMMSpectrumKind::skBars;
  TMMSpectrumGain gain_ = TMMSpectrumGain::sgNone;
  int ref_freq_ = 1000;
  bool log_freq_ = false;
  bool log_amp_ = false;
  int vertical_scale_ = 100;
  int frequency_scale_ = 1;
  std::atomic<int> num_peaks_{1};
  int peak_delay_ = 20;
  std::atomic<int> peak_speed_{0};
  bool display_peak_ = false;
  int space_ = 1;
  int spot_space_ = 1;
  int spot_height_ = 1;
  int point1_ = 50;
  int point2_ = 85;
  std::array<TColor, kColorCount> colors_{0xFFFF00, 0xFFFF00, 0x0000FF, 0x808000, 0x808000,
                                          0x000080, 0x000000, 0x000000, 0x808080};
  bool draw_inactive_ = true;
  bool inactive_doted_ = false;
  bool active_doted_ = false;
  bool draw_freq_scale_ = false;
  bool draw_amp_scale_ = false;
  bool draw_grid_ = false;
  bool show_info_ = true;
  TMMSpectrumDrawBar on_draw_bar_;
  TMMSpectrumGetXScale on_get_x_scale_;

  mutable std::mutex data_lock_;
  TMMBinDecay decay_{0.0001f};
  std::vector<int32_t> results_;
  std::vector<int32_t> amp_offset_;
  int emphasis_order_ = 0;
  bool emphasis_3db_ = false;
  double zoom_ = 1.0;
  double low_freq_ = 1.0;

  TRect picture_;
  int width_ = 4;
  int height_ = 4;
  int spots_ = 1;
  int spot_offset_ = 0;
  int z1_ = 0;
  int z2_ = 0;
  int line_offset_ = 1;
  std::vector<int> first_bin_;
  std::vector<int> end_bin_;
  std::vector<int64_t> column_factor_;
  int amp_shift_ = 0;
  std::unique_ptr<TMMSpectrumBar[]> bars_;
  int bar_capacity_ = 0;
  Loudest loudest_;

  std::atomic<bool> info_mode_{false};
  TMMInfoBox info_box_;

  std::unique_ptr<TMMDIBCanvas> inactive_;
  TMMPeakTimerClient timer_client_;  // last: its removal waits for a running tick
};

}  // namespace pmx
