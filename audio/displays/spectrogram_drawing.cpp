// How TMMSpectrogram draws: the column of a block, the frame with its bar and
// selection, the advance (wrap or scroll) and the kHz scales.
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "audio/core/ui/gui_utils.h"
#include "audio/displays/dib_primitives.h"
#include "audio/displays/spectrogram.h"

namespace pmx {

void TMMSpectrogram::DrawColumn() {
  const bool embossed = embossed_;
  int run = 0;              // runs counted from the bottom
  int below = kFirstIndex;  // raw level of the run below
  int start = 0;
  int raw = 0;
  auto close = [&](int end_row) {
    int value = raw;
    if (embossed) {
      value = emboss_[run] - raw + 118;
      emboss_[run] = static_cast<int16_t>(below);
      below = raw;
    }
    ++run;
    value = std::clamp(value, kFirstIndex, kLastIndex);
    // Byte i is picture row i from the top.
    std::fill(column_.begin() + (height_ - end_row), column_.begin() + (height_ - start), value);
  };
  for (int i = 0; i < height_; ++i) {
    const int first = first_bin_[i];
    if (first < 0) continue;
    if (i > 0) close(i);
    start = i;
    raw = levels_[first];
    for (int k = first + 1; k < end_bin_[i]; ++k) raw = std::max(raw, levels_[k]);
  }
  close(height_);
  DIBDrawColumn(DIBCanvas(), write_column_, 0, column_.data(), height_);
}

std::vector<int> TMMSpectrogram::TickRows() const {
  std::vector<int> rows;
  for (int k = 0; k <= divisions_; ++k) {
    rows.push_back(height_ -
                   static_cast<int>(static_cast<int64_t>(k) * (height_ - 1) / divisions_) - 1);
  }
  return rows;
}

void TMMSpectrogram::DrawFrame(QPainter& dc, bool refresh) {
  TMMDIBCanvas& canvas = DIBCanvas();
  TMMDIBDrawing section(canvas);
  const bool pending = RedrawPending();
  const bool full = !refresh || pending;
  if (full) {
    canvas.SetDrawIndex(embossed_ ? (kFirstIndex + kLastIndex + 1) / 2 : kFirstIndex);
    DIBClear(canvas);
    emboss_.fill(0);
    ResetScan();
    if (!refresh && !pending) MarkOthersForRedraw();
  } else {
    DrawColumn();
  }
  if (refresh && !full && Accelerate()) {
    ShowColumns(dc, write_column_, 1);
  } else {
    if (!Scroll() || bar_column_ < width_) DrawBarBand();
    DrawSelectionFill(true);
    DrawSelectionFrame();
    ShowColumns(dc, 0, width_);
    // The inversion is shown, not kept: every full copy inverts the picture anew,
    // and a kept one would make the selected columns flicker.
    DrawSelectionFill(true);
    ClearRedraw();
  }
  AdvanceScan(dc);
}

// ---- paint and scales ----

void TMMSpectrogram::Paint(QPainter& canvas) {
  TRect frame = ClientRect();
  if (draw_scale_) {
    FillRect(canvas, frame, ParentColor());
    frame.Left += kScaleWidth;
    frame.Right -= kScaleWidth;
    DrawScaleStrip(canvas, true);
    DrawScaleStrip(canvas, false);
  }
  Bevel()->Paint(canvas, frame, true);
  DrawFrame(canvas, false);
}

void TMMSpectrogram::DrawScaleStrip(QPainter& dc, bool left) const {
  const int origin = left ? -3 : width() - 29;
  const int bevel = Bevel()->BevelExtent();
  const double rate = input_.Rate();
  const int z = frequency_scale_;
  const int f0 = std::clamp(frequency_base_, 0, std::max(input_.Rate() / 2 - 1000, 0));
  const double step = (rate / 2 - z * f0) / divisions_ / z / 1000;
  const bool whole = f0 == 0 && z == 1;
  auto tick = [&](int k) {
    return height() - bevel - static_cast<int>(static_cast<int64_t>(k) * (height_ - 1) / divisions_) - 1;
  };
  for (int k = 0; k <= divisions_; ++k) {
    const int y = tick(k);
    dc.setPen(ToQColor(ScanColor(kScaleLine)));
    dc.drawLine(origin + (left ? 31 : 0), y, origin + (left ? 28 : 3), y);
    char label[32];
    const double value = k * step + f0 / 1000.0;
    if (whole) {
      std::snprintf(label, sizeof label, "%ld", std::lround(value - 0.05));
    } else {
      std::snprintf(label, sizeof label, "%4.2f", value);
    }
    dc.setPen(ToQColor(ScanColor(kScaleText)));
    DrawRotatedText(dc, origin + (left ? 26 : 6), y, left ? 1 : 0, 10, "ARIAL", label);
  }
  if (whole) {
    // Centred between the two lowest labels, clear of both.
    dc.setPen(ToQColor(ScanColor(kScaleText)));
    DrawRotatedText(dc, origin + (left ? 26 : 6), (tick(0) + tick(1)) / 2, left ? 1 : 0, 10, "ARIAL",
                    "KHz");
  }
}

}  // namespace pmx
