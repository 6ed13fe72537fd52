// How TMMOscope draws: the five kinds over a whole trace or one scroll column,
// the effects, grid and mid line, and the volt and millisecond scales.
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "audio/core/ui/gui_utils.h"
#include "audio/displays/dib_primitives.h"
#include "audio/displays/oscope.h"

namespace pmx {
namespace {

constexpr int kCapLength = 5;

QString Label(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

int64_t TMMOscope::Lift(int v) const {
  const bool spikes = kind_ == TMMOscopeKind::okSpikes;
  if (spikes) v = std::abs(v);
  const int64_t scaled = static_cast<int64_t>(v) * (gain_ + 8) / 8 + (spikes ? 0 : 32767);
  return scaled * height_ / (spikes ? 32767 : 65535);
}

int TMMOscope::Row(int v) const {
  return static_cast<int>(std::clamp<int64_t>(height_ - Lift(v) - 1, -1, height_));
}

int TMMOscope::PointRow(int v) {
  if (v >= 32767 && OnPcmOverflow) OnPcmOverflow(this);
  if (Lift(v) > height_ && OnGainOverflow) OnGainOverflow(this);
  return Row(v);
}

// Effects are judged on the height above the bottom.
bool TMMOscope::InEffect(int row) const {
  const int y = height_ - 1 - row;
  return effect_ != TMMOscopeEffect::efNone && (y < effect_low_ || y > effect_high_);
}

void TMMOscope::SetTraceColor(bool effect) {
  DIBCanvas().SetDrawIndex(trace_values_[effect ? 1 : 0]);
}

void TMMOscope::DrawPoint(int x, int row, int from_x, int from_row) {
  TMMDIBCanvas& canvas = DIBCanvas();
  const int mid = height_ / 2;
  const bool peak = effect_ == TMMOscopeEffect::efPeak;
  const bool split = effect_ == TMMOscopeEffect::efSplit;
  switch (kind_) {
    case TMMOscopeKind::okDots:
      SetTraceColor(InEffect(row));
      DIBSetPixel(canvas, x, row, canvas.DrawState().draw_value);
      break;
    case TMMOscopeKind::okConLines:
      SetTraceColor(InEffect(row));
      DIBMoveTo(canvas, from_x, from_row);
      DIBLineTo(canvas, x, row);
      break;
    case TMMOscopeKind::okVertLines: {
      SetTraceColor(split && row < mid);
      DIBVertLine(canvas, x, std::min(row, mid), std::max(row, mid) + 1);
      if (peak && InEffect(row)) {
        SetTraceColor(true);
        const int end = row < mid ? row + kCapLength : row - kCapLength + 1;
        DIBVertLine(canvas, x, std::min(row, end), std::max(row, end) + (row < mid ? 0 : 1));
      }
      break;
    }
    case TMMOscopeKind::okMirLines: {
      const int top = std::min(row, height_ - row - 1);
      const int bottom = height_ - top - 1;
      SetTraceColor(false);
      DIBVertLine(canvas, x, top, bottom + 1);
      if (split) {
        SetTraceColor(true);
        DIBVertLine(canvas, x, top, mid);
      } else if (peak && InEffect(top)) {
        SetTraceColor(true);
        DIBVertLine(canvas, x, top, top + kCapLength);
        DIBVertLine(canvas, x, bottom - kCapLength + 1, bottom + 1);
      }
      break;
    }
    default: {  // okSpikes
      const int y = height_ - 1 - row;
      SetTraceColor(false);
      DIBVertLine(canvas, x, row, height_);
      if (peak && y > 2 * (height_ / 3)) {
        SetTraceColor(true);
        DIBVertLine(canvas, x, row, row + kCapLength);
      } else if (split && y > height_ / 2) {
        SetTraceColor(true);
        DIBVertLine(canvas, x, row, mid + 1);
      }
    }
  }
}

void TMMOscope::DrawTrace() {
  TMMDIBCanvas& canvas = DIBCanvas();
  if (kind_ == TMMOscopeKind::okMirLines) {
    SetTraceColor(false);
    DIBHorzLine(canvas, 0, width_, height_ / 2);
    DIBHorzLine(canvas, 0, width_, height_ / 2 - 1);
  }
  int previous = kind_ == TMMOscopeKind::okConLines ? Row(trace_[0]) : 0;
  int x = 0;
  for (; x < width_; x += steps_) {
    const int row = PointRow(trace_[x]);
    DrawPoint(x, row, std::max(x - steps_, 0), previous);
    previous = row;
  }
  // The line runs one step past the last point, so that point is drawn too; at
  // the right edge the clipped line would end before it.
  if (kind_ == TMMOscopeKind::okConLines) {
    DrawPoint(x, previous, x - steps_, previous);
    DIBSetPixel(canvas, x - steps_, previous, canvas.DrawState().draw_value);
  }
}

void TMMOscope::DrawScrollColumn() {
  TMMDIBCanvas& canvas = DIBCanvas();
  const int x = write_column_;
  canvas.SetDrawColor(Color());
  DIBVertLine(canvas, x, 0, height_);
  const int v0 = trace_[0];
  const int v1 = trace_[1];
  switch (kind_) {
    case TMMOscopeKind::okDots:
      DrawPoint(x, PointRow(v0), x, 0);
      DrawPoint(x, PointRow(v1), x, 0);
      break;
    case TMMOscopeKind::okConLines: {
      const int row0 = PointRow(v0);
      const int row1 = PointRow(v1);
      DrawPoint(x, row0, x - 1, poly_row_);
      DrawPoint(x, row1, x, row0);
      poly_row_ = row1;
      break;
    }
    default:
      DrawPoint(x, PointRow(std::abs(v0) > std::abs(v1) ? v0 : v1), x, 0);
  }
}

void TMMOscope::DrawGridLines() {
  TMMDIBCanvas& canvas = DIBCanvas();
  canvas.SetDrawColor(colors_[kGrid]);
  for (int y : TickRows()) DIBHorzLineDotted(canvas, 1, 0, width_, y);
  const int c = TimeDivisions();
  for (int k = 0; k <= c; ++k) DIBVertLineDotted(canvas, 1, k * (width_ - 1) / c, 0, height_);
}

void TMMOscope::DrawScope(QPainter& dc, bool full) {
  TMMDIBCanvas& canvas = DIBCanvas();
  {
    TMMDIBDrawing section(canvas);
    if (OnDrawLine) {
      OnDrawLine(this, canvas, TRect{0, 0, width_, height_}, trace_.data());
      ShowColumns(dc, 0, width_);
    } else {
      // The nearest palette entry is a search: once per frame.
      trace_values_ = {canvas.NearestColor(colors_[kForeground]),
                       canvas.NearestColor(colors_[kEffect])};
      const bool pending = RedrawPending();
      const bool fresh = !Scroll() || full || pending;
      if (fresh) {
        FillBackground();
        ResetScan();
        poly_row_ = height_ / 2;
        if (Scroll() && !pending) MarkOthersForRedraw();
      }
      if (!Enabled()) {
        canvas.SetDrawColor(colors_[kDisabled]);
        DIBHorzLine(canvas, 5, width_ - 5, height_ / 2);
      } else if (Scroll()) {
        if (!fresh) DrawScrollColumn();
      } else {
        DrawSelectionFill(false);
        canvas.SetDrawColor(colors_[kDisabled]);
        if (draw_mid_line_) DIBHorzLineDashed(canvas, 0, width_, height_ / 2);
        if (draw_grid_) DrawGridLines();
        DrawTrace();
      }
      if (!Scroll()) {
        DrawSelectionFrame();
        ShowColumns(dc, 0, width_);
      } else {
        if (fresh || !Accelerate()) {
          if (bar_column_ < width_) DrawBarBand();
          ShowColumns(dc, 0, width_);
          ClearRedraw();
        } else {
          ShowColumns(dc, write_column_, 1);
        }
        AdvanceScan(dc);
      }
    }
  }
  if (OnPostPaint) OnPostPaint(this);
}

// ---- paint and scales ----

void TMMOscope::Paint(QPainter& canvas) {
  TRect frame = ClientRect();
  if (draw_amp_scale_ || draw_time_scale_) FillRect(canvas, frame, ParentColor());
  if (draw_amp_scale_) {
    frame.Left += 32;
    frame.Right -= 32;
    DrawAmpScaleStrip(canvas, true);
    DrawAmpScaleStrip(canvas, false);
  }
  if (draw_time_scale_) {
    frame.Bottom -= 40;
    DrawTimeScaleStrip(canvas);
  }
  if (draw_amp_scale_ && draw_time_scale_) {
    canvas.setPen(ToQColor(ScanColor(kScaleText)));
    DrawRotatedText(canvas, 16, height() - 34, 1, 10, "ARIAL", "V");
    DrawRotatedText(canvas, width() - 14, height() - 34, 0, 10, "ARIAL", "V");
    DrawRotatedText(canvas, width() - 30, height() - 20, 0, 10, "ARIAL", "mS");
  }
  Bevel()->Paint(canvas, frame, true);
  DrawScope(canvas, true);
}

void TMMOscope::DrawAmpScaleStrip(QPainter& dc, bool left) const {
  const int origin = left ? -3 : width() - 29;
  const int bottom = picture_.Top + height_;
  const int d = amp_divisions_;
  const bool spikes = kind_ == TMMOscopeKind::okSpikes;
  dc.setPen(ToQColor(ScanColor(kScaleLine)));
  dc.drawLine(origin + (left ? 31 : 0), picture_.Top, origin + (left ? 31 : 0), bottom - 1);
  for (int k = 0; k <= d; ++k) {
    const int y = bottom - static_cast<int>(static_cast<int64_t>(k) * height_ / d);
    dc.setPen(ToQColor(ScanColor(kScaleLine)));
    dc.drawLine(origin + (left ? 31 : 0), y, origin + (left ? 28 : 3), y);
    QString label;
    if (spikes) {
      label = Label("%4.2f", static_cast<double>(k) / d);
    } else {
      const int i = k - d / 2;  // divisions above the middle
      label = Label(i > 0 ? "+%4.2f" : (i < 0 ? "-%4.2f" : "%4.2f"), 2.0 * std::abs(i) / d);
    }
    dc.setPen(ToQColor(ScanColor(kScaleText)));
    DrawRotatedText(dc, origin + (left ? 26 : 29), y, 1, 10, "ARIAL", label);
  }
}

void TMMOscope::DrawTimeScaleStrip(QPainter& dc) const {
  const int bevel = Bevel()->BevelExtent();
  const int left = picture_.Left - bevel;
  const int top = picture_.Top + height_ + bevel + 3;
  const int c = TimeDivisions();
  const double t = RefreshMilliseconds();
  dc.setPen(ToQColor(ScanColor(kScaleLine)));
  dc.drawLine(left + bevel, top, left + bevel + width_ - 1, top);
  for (int k = 0; k <= c; ++k) {
    const int x = left + bevel + (width_ - 1) * k / c;
    dc.setPen(ToQColor(ScanColor(kScaleLine)));
    dc.drawLine(x, top, x, top + 3);
    dc.setPen(ToQColor(ScanColor(kScaleText)));
    DrawRotatedText(dc, x, top + 6, 2, 10, "ARIAL", Label("%4.1f", k * t / c));
  }
}

}  // namespace pmx
