#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "audio/core/chain/display_feed.h"
#include "audio/core/objects/mm_types.h"
#include "audio/displays/scan_display.h"
#include "platform/exception.h"

namespace pmx {

class EMMOscopeError : public Exception {
 public:
  using Exception::Exception;
};

enum class TMMOscopeKind { okDots, okConLines, okVertLines, okMirLines, okSpikes };
enum class TMMOscopeEffect { efNone, efPeak, efSplit };

// Draws the trace itself in place of the kinds: the canvas, the trace's
// rectangle on it and the trace values.
using TMMOscopeDrawLine =
    std::function<void(TObject* Sender, TMMDIBCanvas& DIB, const TRect& Rect, const int16_t* Data)>;

// An oscilloscope: one screen-wide trace per refresh (the connector has moved
// to its trigger point), or in scroll mode one column per refresh holding the
// block's extremes, the picture moving left like a chart recorder. Five kinds,
// two colour effects, volt and millisecond scales, a grid, a read-out under the
// left button and a selection made with the right one.
//
// Threads: as TMMScanDisplay. The trace and the scroll state are the feed's and
// the frame's, under the back-store lock (PaintDirect); properties must not
// change while a connector feeds on another thread.
class TMMOscope : public TMMScanDisplay, public TMMOscopeFeed {
 public:
  enum ColorIndex { kForeground, kInactive, kEffect, kDisabled, kGrid, kColorCount };

  explicit TMMOscope(TComponent* owner = nullptr, QWidget* parent = nullptr);
  ~TMMOscope() override;

  TMMOscopeKind Kind() const { return kind_; }
  void SetKind(TMMOscopeKind value) { SetInvalidate(kind_, value); }
  TMMOscopeEffect Effect() const { return effect_; }
  void SetEffect(TMMOscopeEffect value);
  TColor Colors(ColorIndex index) const { return colors_.at(index); }
  void SetColors(ColorIndex index, TColor value) { SetInvalidate(colors_.at(index), value); }
  // Ordinal of TMMBits: 0 for 8 bits, 1 for 16.
  int BitLength() const override { return static_cast<int>(bits_); }
  void SetBitLength(TMMBits value);
  TMMChannel Channel() const { return channel_; }
  void SetChannel(TMMChannel value);
  // Channels - 1: 0 mono, 1 stereo, 3 for four channels.
  int Mode() const override { return mode_; }
  void SetMode(TMMMode value);
  int SampleRate() const { return sample_rate_; }
  void SetSampleRate(int value);
  int Steps() const { return steps_; }
  void SetSteps(int value) { SetInvalidate(steps_, std::clamp(value, 1, 9)); }
  int Zoom() const { return zoom_; }
  void SetZoom(int value);
  int Gain() const { return gain_; }
  void SetGain(int value);
  bool DrawAmpScale() const { return draw_amp_scale_; }
  void SetDrawAmpScale(bool value) { SetScaleShown(draw_amp_scale_, value); }
  bool DrawTimeScale() const { return draw_time_scale_; }
  void SetDrawTimeScale(bool value) { SetScaleShown(draw_time_scale_, value); }
  bool DrawGrid() const { return draw_grid_; }
  void SetDrawGrid(bool value) { SetInvalidate(draw_grid_, value); }
  bool DrawMidLine() const { return draw_mid_line_; }
  void SetDrawMidLine(bool value) { SetInvalidate(draw_mid_line_, value); }
  int FFTLength() const override { return fft_length_; }
  void SetFFTLength(int value);
  bool LowPass() const { return low_pass_; }
  void SetLowPass(bool value) { SetInvalidate(low_pass_, value); }
  bool Scroll() const override { return TMMScanDisplay::Scroll(); }
  bool Accelerate() const override { return TMMScanDisplay::Accelerate(); }

  void SetPCMWaveFormat(PWaveFormatEx format) override;
  void RefreshPCMData(const void* data) override;
  void ResetData() override;
  int BytesPerRefresh() const override { return bytes_per_refresh_; }

  // Layout and what the last refresh took, for the program and tests.
  int AmpDivisions() const { return amp_divisions_; }
  int EffectLow() const { return effect_low_; }
  int EffectHigh() const { return effect_high_; }
  int TraceValue(int x) const { return trace_.at(x); }
  // Duration of one refresh in milliseconds, at the stream's own rate.
  double RefreshMilliseconds() const;
  std::string InfoText(int x, int y) const override;

  void SetBounds(int left, int top, int width, int height) override;
  void SetDesignMode(bool value) override;
  void Paint(QPainter& canvas) override;

  TNotifyEvent OnGainOverflow;
  TNotifyEvent OnPcmOverflow;
  TNotifyEvent OnPostPaint;
  TMMOscopeDrawLine OnDrawLine;

 protected:
  void BevelChanged() override { UpdateLayout(); }
  void BoundsChanged() override { UpdateLayout(); }
  void ScrollChanged() override;
  TMMColumnSelection::Grip SelectionGrip() const override { return {3, 3, 3, 3}; }
  std::vector<int> TickRows() const override;

 private:
  static constexpr int kAmpScaleWidth = 32;
  static constexpr int kTimeScaleHeight = 40;

  void UpdateLayout();
  void ClearTrace();
  void UpdateBytesPerRefresh();
  int FrameBytes() const { return (static_cast<int>(bits_) + 1) * (mode_ + 1); }
  int32_t FrameValue(const uint8_t* frame) const;
  void ReadTrace(const uint8_t* data);
  void ReadExtremes(const uint8_t* data);
  int TimeDivisions() const;
  int MinWidth() const;
  int MinHeight() const;

  // Drawing (oscope_drawing.cpp).
  void DrawScope(QPainter& dc, bool full);
  void DrawTrace();
  void DrawScrollColumn();
  // A point at column x and pixel row; a connected line comes from from_x, from_row.
  void DrawPoint(int x, int row, int from_x, int from_row);
  // The height of a trace value above the bottom, unclipped, and its pixel row.
  int64_t Lift(int v) const;
  int Row(int v) const;
  // The row of a point about to be drawn, firing its overflow events: once per point.
  int PointRow(int v);
  bool InEffect(int row) const;
  void SetTraceColor(bool effect);
  void DrawGridLines();
  void DrawAmpScaleStrip(QPainter& dc, bool left) const;
  void DrawTimeScaleStrip(QPainter& dc) const;

  TMMOscopeKind kind_ = TMMOscopeKind::okDots;
  TMMOscopeEffect effect_ = TMMOscopeEffect::efNone;
  std::array<TColor, kColorCount> colors_{clAqua, clTeal, clRed, clGray, clGray};
  TMMBits bits_ = TMMBits::b8Bit;
  TMMChannel channel_ = TMMChannel::chBoth;
  int mode_ = 0;
  int sample_rate_ = 11025;
  int rate_ = 11025;
  int steps_ = 1;
  int zoom_ = 1;
  int gain_ = 0;
  bool draw_amp_scale_ = false;
  bool draw_time_scale_ = false;
  bool draw_grid_ = false;
  bool draw_mid_line_ = false;
  int fft_length_ = 128;
  bool low_pass_ = false;

  std::vector<int16_t> trace_;
  int bytes_per_refresh_ = 0;
  int amp_divisions_ = 2;
  int effect_low_ = 0;
  int effect_high_ = 0;
  int poly_row_ = 0;                        // the scroll trace's last row
  std::array<uint32_t, 2> trace_values_{};  // canvas values of the trace and effect colours
};

}  // namespace pmx
