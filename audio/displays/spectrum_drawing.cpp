// How TMMSpectrum draws: the six kinds, spots and zones, peaks, grid, scales,
// the loudest-frequency text and the measuring box.
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "audio/displays/dib_primitives.h"
#include "audio/displays/spectrum.h"

namespace pmx {
namespace {


template <class T>
std::string Format(const char* format, T value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

QFont ScaleFont() {
  QFont font("ARIAL");
  font.setPixelSize(10);
  return font;
}

QFont InfoFont(bool bold) {
  QFont font("MS Sans Serif", 8);
  font.setBold(bold);
  return font;
}

}  // namespace

// The canvas values of the colours one frame draws with: looked up once, since
// the nearest palette entry is a search.
struct TMMSpectrum::FrameColors {
  FrameColors(const TMMDIBCanvas& canvas, const std::array<TColor, kColorCount>& colors) {
    for (int i = 0; i < kColorCount; ++i) value[i] = canvas.NearestColor(colors[i]);
  }
  const uint32_t* Bar() const { return &value[kBar1]; }
  const uint32_t* Inactive() const { return &value[kInactive1]; }
  std::array<uint32_t, kColorCount> value;
};

void TMMSpectrum::DrawFrame(QPainter& dc, bool refresh) {
  TMMDIBCanvas& canvas = DIBCanvas();
  {
    TMMDIBDrawing section(canvas);
    DrawBackground(refresh);
    BuildBarList();
    const FrameColors colors(canvas, colors_);
    if (kind_ != TMMSpectrumKind::skScroll && draw_grid_) DrawGridLines(colors);
    switch (kind_) {
      case TMMSpectrumKind::skDots:
        DrawDots(colors);
        break;
      case TMMSpectrumKind::skLines:
      case TMMSpectrumKind::skScroll:
        DrawLines(colors);
        break;
      case TMMSpectrumKind::skVLines:
        DrawVLines(colors);
        break;
      default:
        DrawBars(colors);
    }
    canvas.DrawToDC(dc, QRect(picture_.Left, picture_.Top, width_, height_), 0, 0);
  }
  DrawLoudestText(dc);
}

void TMMSpectrum::DrawBackground(bool refresh) {
  TMMDIBCanvas& canvas = DIBCanvas();
  const TRect all{0, 0, width_, height_};
  if (refresh && kind_ == TMMSpectrumKind::skScroll) {
    if (Designing()) return;
    DIBCopyRect(canvas, 0, 2, width_, height_ - 2, 0, 0, canvas.DrawState().pixels);
    canvas.SetDrawColor(Color());
    DIBFillRect(canvas, {0, 0, width_, 2});
    return;
  }
  const bool bar_kind = kind_ == TMMSpectrumKind::skBars || kind_ == TMMSpectrumKind::skPeaks;
  if (!on_draw_bar_ && kind_ != TMMSpectrumKind::skScroll && bar_kind && draw_inactive_) {
    TMMDIBDrawing inactive(*inactive_);
    const uint8_t* pixels = inactive_->DrawState().pixels;
    if (pixels) DIBCopyRect(canvas, 0, 0, width_, height_, 0, 0, pixels);
  } else if (OnClearBackground) {
    OnClearBackground(this, canvas, all);
  } else if (on_draw_bar_ || kind_ == TMMSpectrumKind::skScroll) {
    canvas.SetDrawColor(Color());
    DIBClear(canvas);
  } else {
    FillBackground();
  }
}

void TMMSpectrum::BuildBarList() {
  int overflows = 0;
  {
    std::lock_guard lock(data_lock_);
    loudest_ = {};
    int count = 0;
    for (int i = 0; i < width_ && count < bar_capacity_ - 1; ++i) {
      const int k = first_bin_[i];
      if (k < 0) continue;
      if (count > 0) bars_[count - 1].end = i;
      TMMSpectrumBar& bar = bars_[count++];
      bar.first = i;
      const int value = BarValue(k, end_bin_[i], i);
      bar.value = value;
      if (value > loudest_.value) loudest_ = {value, k, i};
      if (value >= height_) ++overflows;
    }
    if (count > 0) bars_[count - 1].end = width_;
    bars_[count].first = -1;
  }
  for (int i = 0; i < overflows && OnGainOverflow; ++i) OnGainOverflow(this);
}

void TMMSpectrum::BuildInactivePicture() {
  const bool bar_kind = kind_ == TMMSpectrumKind::skBars || kind_ == TMMSpectrumKind::skPeaks;
  if (!bar_kind || on_draw_bar_ || Loading() || !inactive_ || first_bin_.empty()) return;
  TMMDIBDrawing section(*inactive_);
  inactive_->SetDrawColor(Color());
  DIBClear(*inactive_);
  const FrameColors colors(*inactive_, colors_);
  for (int i = 0; i < width_;) {
    int end = i + 1;
    while (end < width_ && first_bin_[end] < 0) ++end;
    if (first_bin_[i] >= 0) {
      DrawSpots(*inactive_, i, end, 1, spots_, colors.Inactive(), inactive_doted_);
    }
    i = end;
  }
}

void TMMSpectrum::DrawSpots(TMMDIBCanvas& canvas, int first, int end, int from, int to,
                            const uint32_t* zone, bool dotted) const {
  int left = first;
  int right = std::max(end, first + 1);
  if (end - first > space_) {
    left = first + space_ / 2;
    right = end - (space_ - space_ / 2);
  }
  const int pitch = spot_height_ + spot_space_;
  for (int k = std::max(from, 1); k <= std::min(to, spots_); ++k) {
    const int bottom = height_ - spot_offset_ - pitch * (k - 1);
    canvas.SetDrawIndex(zone[SpotZone(k)]);
    DIBFillRectMode(canvas, {left, bottom - spot_height_, right, bottom}, dotted ? 1 : 0);
  }
}

void TMMSpectrum::DrawBars(const FrameColors& colors) {
  TMMDIBCanvas& canvas = DIBCanvas();
  const int peaks = num_peaks_;
  const double spot_pixels = static_cast<double>(height_) / spots_;
  for (int i = 0; i < bar_capacity_ && bars_[i].first >= 0; ++i) {
    TMMSpectrumBar& bar = bars_[i];
    const int value = bar.value;
    const int c = on_draw_bar_
                      ? std::clamp(static_cast<int>(std::nearbyint(value + 0.5)), 0, height_)
                      : std::clamp(static_cast<int>(std::nearbyint(value / spot_pixels + 0.5)), 0, spots_);
    if (c >= bar.peak && c > 0 && peaks > 0) {
      bar.peak = c;
      bar.hold = 2 * peak_delay_ + 1;
    }
    const int peak = bar.peak;
    if (on_draw_bar_) {
      on_draw_bar_(this, canvas, peak, c, TRect{bar.first, 0, bar.end, height_});
      continue;
    }
    if (kind_ == TMMSpectrumKind::skBars) {
      DrawSpots(canvas, bar.first, bar.end, 1, c, colors.Bar(), active_doted_);
    } else if (c >= 1) {
      DrawSpots(canvas, bar.first, bar.end, c, c, colors.Bar(), active_doted_);
    }
    if (peaks > 0 && c < peak && peak <= spots_) {
      DrawSpots(canvas, bar.first, bar.end, peak - std::min(peak, peaks) + 1, peak, colors.Bar(),
                active_doted_);
    }
  }
}

void TMMSpectrum::DrawDots(const FrameColors& colors) {
  TMMDIBCanvas& canvas = DIBCanvas();
  for (int i = 0; i < bar_capacity_ && bars_[i].first >= 0; ++i) {
    const TMMSpectrumBar& bar = bars_[i];
    const int y = std::clamp(height_ - bar.value - 1, 0, height_ - 1);
    const int zone = y <= z2_ ? 2 : y > z1_ ? 0 : 1;
    canvas.SetDrawIndex(enabled_ ? colors.Bar()[zone] : colors.value[kInactive1]);
    DIBHorzLine(canvas, bar.first, bar.end, y);
  }
}

void TMMSpectrum::DrawLines(const FrameColors& colors) {
  DrawPolyline(colors, false);
  if (kind_ == TMMSpectrumKind::skScroll || num_peaks_ < 1) return;
  for (int i = 0; i < bar_capacity_ && bars_[i].first >= 0; ++i) {
    TMMSpectrumBar& bar = bars_[i];
    if (bar.value >= bar.peak && bar.value > 0) {
      bar.peak = bar.value.load();
      bar.hold = 2 * peak_delay_ + 1;
    }
  }
  DrawPolyline(colors, true);
}

// A polyline through the middle columns of the bars, walked pixel by pixel so
// that at 8 bits every pixel takes the zone colour of its height.
void TMMSpectrum::DrawPolyline(const FrameColors& colors, bool peaks) {
  TMMDIBCanvas& canvas = DIBCanvas();
  const bool zoned = canvas.BitsPerPixel() == 8 && enabled_;
  const uint32_t plain = enabled_ ? colors.value[kBar1] : colors.value[kInactive1];
  const bool one_per_column = kind_ == TMMSpectrumKind::skScroll;
  auto row = [&](int value) { return std::clamp(height_ - value - line_offset_, 0, height_ - 1); };
  auto plot = [&](int x, int y) {
    const uint32_t value = zoned ? colors.Bar()[HeightZone(height_ - line_offset_ - y)] : plain;
    DIBSetPixel(canvas, x, y, value);
  };
  auto segment = [&](int x0, int y0, int x1, int y1) {
    const int dx = std::abs(x1 - x0);
    const int dy = std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1;
    const int sy = y0 < y1 ? 1 : -1;
    if (dx >= dy) {
      for (int i = 0, err = dx / 2, y = y0; i <= dx; ++i, err -= dy) {
        if (err < 0) {
          y += sy;
          err += dx;
        }
        plot(x0 + sx * i, y);
      }
      return;
    }
    for (int i = 0, err = dy / 2, x = x0, last = x0 - 1; i <= dy; ++i, err -= dx) {
      if (err < 0) {
        x += sx;
        err += dy;
      }
      if (!one_per_column || x != last) plot(x, y0 + sy * i);
      last = x;
    }
  };
  int x = 0;
  int y = -1;
  for (int i = 0; i < bar_capacity_ && bars_[i].first >= 0; ++i) {
    const TMMSpectrumBar& bar = bars_[i];
    const int next_y = row(peaks ? bar.peak : bar.value);
    const int next_x = bar.first + (bar.end - bar.first) / 2;
    if (y < 0) y = next_y;
    segment(x, y, next_x, next_y);
    x = next_x;
    y = next_y;
  }
  if (y >= 0) segment(x, y, width_, y);
}

void TMMSpectrum::DrawVLines(const FrameColors& colors) {
  TMMDIBCanvas& canvas = DIBCanvas();
  for (int i = 0; i < bar_capacity_ && bars_[i].first >= 0; ++i) {
    TMMSpectrumBar& bar = bars_[i];
    int v = std::clamp(bar.value.load(), 0, height_ - 1);
    bar.value = v;
    const int half = (height_ + v) / 2;
    const int first = bar.first;
    const int end = bar.end;
    TRect band{first, height_ - half - 1, std::max(end, first + 1), half + 1};
    if (end - first > space_) {
      band.Left = first + space_ / 2;
      band.Right = end - (space_ - space_ / 2);
    }
    if (!enabled_) {
      canvas.SetDrawIndex(colors.value[kInactive1]);
      DIBFillRect(canvas, band);
      continue;
    }
    for (int zone : {2, 1}) {
      const int limit = zone == 2 ? z2_ : z1_;
      if (v <= limit) continue;
      canvas.SetDrawIndex(colors.Bar()[zone]);
      DIBFillRect(canvas, band);
      band.Top += (v - limit) / 2;
      band.Bottom -= (v - limit) / 2;
      v = limit;
    }
    canvas.SetDrawIndex(colors.Bar()[0]);
    DIBFillRect(canvas, band);
  }
}

int TMMSpectrum::HorizontalDivisions() const {
  int n = log_amp_ ? 6 : 10;
  while (height_ / n < 10 && n > 1) --n;
  return n;
}

int TMMSpectrum::VerticalDivisions() const {
  int d = 32;
  while (width_ / d < 10 && d > 1) d /= 2;
  return d;
}

// Row of division k of n, counted from the top of the picture.
int TMMSpectrum::GridRow(int k, int n) const {
  if (log_amp_) return k * (height_ - 1) / n;
  const double vs = vertical_scale_ / 100.0;
  return height_ - static_cast<int>(k * vs * 32760 / n / (vs * 32768 / height_)) - 1;
}

void TMMSpectrum::DrawGridLines(const FrameColors& colors) {
  TMMDIBCanvas& canvas = DIBCanvas();
  canvas.SetDrawIndex(colors.value[kGrid]);
  const int n = HorizontalDivisions();
  for (int k = 0; k <= n; ++k) DIBHorzLineDotted(canvas, 1, 0, width_, GridRow(k, n));
  const int d = VerticalDivisions();
  for (int k = 0; k <= d; ++k) DIBVertLineDotted(canvas, 1, k * (width_ - 1) / d, 0, height_);
}

std::string TMMSpectrum::LoudestFrequencyText() const {
  int bin;
  {
    std::lock_guard lock(data_lock_);
    bin = loudest_.bin;
  }
  std::string text = Format("%7.1f Hz", BinFrequency(bin));
  return text.substr(text.find_first_not_of(' '));
}

void TMMSpectrum::DrawLoudestText(QPainter& dc) const {
  Loudest shown;
  {
    std::lock_guard lock(data_lock_);
    shown = loudest_;
  }
  if (!display_peak_ || Designing() || shown.value <= 5) return;
  const QString text = QString::fromStdString(LoudestFrequencyText());
  dc.setFont(InfoFont(true));
  const QFontMetrics metrics(dc.font());
  const int text_width = metrics.horizontalAdvance(text);
  const int x = std::min(picture_.Left + shown.column, picture_.Left + width_ - 1 - text_width);
  const int y = picture_.Top + std::max(height_ - shown.value - line_offset_ - metrics.height(), 0);
  // Only the picture is drawn anew at each refresh: text beyond it would stay.
  dc.save();
  dc.setClipRect(picture_.Left, picture_.Top, width_, height_);
  dc.setPen(Qt::white);
  dc.drawText(QRect(x, y, text_width, metrics.height()), Qt::AlignLeft | Qt::AlignTop, text);
  dc.restore();
}

// ---- paint and scales ----

TColor TMMSpectrum::ParentColor() const {
  return parentWidget() ? FromQColor(parentWidget()->palette().window().color()) : Color();
}

void TMMSpectrum::Paint(QPainter& canvas) {
  FillRect(canvas, ClientRect(), ParentColor());
  TRect frame = ClientRect();
  if (draw_amp_scale_) {
    frame.Left += kAmpScaleWidth;
    frame.Right -= kAmpScaleWidth;
  }
  if (draw_freq_scale_) frame.Bottom -= kFreqScaleHeight;
  Bevel()->Paint(canvas, frame, true);
  if (draw_amp_scale_) {
    DrawAmpScale(canvas, true);
    DrawAmpScale(canvas, false);
  }
  if (draw_freq_scale_) DrawFreqScale(canvas);
  if (draw_amp_scale_ && draw_freq_scale_) DrawUnits(canvas);
  DrawFrame(canvas, false);
}

void TMMSpectrum::DrawAmpScale(QPainter& dc, bool left) const {
  const int bevel = Bevel()->BevelExtent();
  const int strip_height = height() - (draw_freq_scale_ ? kFreqScaleHeight : 0);
  const int origin = left ? -3 : width() - 29;
  const int n = HorizontalDivisions();
  const double vs = vertical_scale_ / 100.0;
  dc.setFont(ScaleFont());
  const int text_height = QFontMetrics(dc.font()).height();
  for (int k = 0; k <= n; ++k) {
    int y;
    std::string label;
    if (log_amp_) {
      y = bevel + k * (height_ - 1) / n;
      // A whole number: the top tick is 0 dB, not a rounded "-0".
      label = Format(left ? "%d" : "%2d", static_cast<int>(std::lround(-10.0 * 6 * k / n)));
    } else {
      y = strip_height - bevel - static_cast<int>(k * vs * 32760 / n / (vs * 32768 / height_)) - 1;
      label = Format(vs <= 0.095 ? "%5.3f" : "%4.2f", vs * k / n);
    }
    dc.setPen(ToQColor(colors_[kScaleLine]));
    dc.drawLine(origin + (left ? 31 : 0), y, origin + (left ? 28 : 3), y);
    dc.setPen(ToQColor(colors_[kScaleText]));
    const QString text = QString::fromStdString(label);
    const int right = origin + (log_amp_ ? 27 : 26);
    const QRect box = left ? QRect(origin, y - text_height / 2, right - origin, text_height)
                           : QRect(origin + 6, y - text_height / 2, 26, text_height);
    dc.drawText(box, (left ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter, text);
  }
}

void TMMSpectrum::DrawFreqScale(QPainter& dc) const {
  const int bevel = Bevel()->BevelExtent();
  const int left = picture_.Left - bevel;
  const int top = picture_.Top + height_ + bevel + 3;
  const int d = VerticalDivisions();
  dc.setFont(ScaleFont());
  const QFontMetrics metrics(dc.font());
  for (int k = 0; k <= d; ++k) {
    const int x = left + bevel + static_cast<int>(std::nearbyint((width_ - 1) * k / static_cast<double>(d)));
    dc.setPen(ToQColor(colors_[kScaleLine]));
    dc.drawLine(x, top, x, top + 3);
    const double f = log_freq_ ? ColumnFrequency((width_ - 1) * k / static_cast<double>(d))
                               : std::max(0.0, low_freq_ + k * (input_.Rate() / 2.0 - low_freq_) / d / zoom_);
    const QString text = QString::fromStdString(Format("%.0f", f));
    const int w = metrics.horizontalAdvance(text);
    dc.setPen(ToQColor(colors_[kScaleText]));
    dc.drawText(x - w / 2, top + 6 + metrics.ascent(), text);
  }
}

void TMMSpectrum::DrawUnits(QPainter& dc) const {
  dc.setFont(ScaleFont());
  dc.setPen(ToQColor(colors_[kScaleText]));
  const QFontMetrics metrics(dc.font());
  const QString unit = log_amp_ ? "db" : "V";
  const int right = log_amp_ ? 23 : 16;
  const int w = width();
  const int h = height();
  dc.drawText(right - metrics.horizontalAdvance(unit), h - 32 + metrics.ascent(), unit);
  dc.drawText(w - 20, h - 32 + metrics.ascent(), unit);
  dc.drawText(w - 30, h - 20 + metrics.ascent(), "Hz");
}

// ---- measuring box ----

std::string TMMSpectrum::InfoText(int x, int y) const {
  std::string text = Format("%2.3f KHz", ColumnFrequency(x) / 1000);
  if (kind_ == TMMSpectrumKind::skScroll) return text;
  const double last = std::max(1, height_ - 1);
  if (log_amp_) return text + Format(" %2.1f dB", -60.0 * y / last);
  const double vs = vertical_scale_ / 100.0;
  return text + Format(vertical_scale_ < 10 ? " %5.3f V" : " %4.2f V", vs * (height_ - y - 1) / last);
}

bool TMMSpectrum::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip && info_mode_) return true;
  return TMMDIBGraphicControl::event(event);
}

void TMMSpectrum::mousePressEvent(QMouseEvent* event) {
  TMMDIBGraphicControl::mousePressEvent(event);
  const QPoint at = event->position().toPoint();
  const QRect picture(picture_.Left, picture_.Top, width_, height_);
  if (event->button() != Qt::LeftButton || !show_info_ || !enabled_ || Designing() ||
      !picture.contains(at)) {
    return;
  }
  info_mode_ = true;
  MoveInfoBox(at.x(), at.y());
}

void TMMSpectrum::mouseMoveEvent(QMouseEvent* event) {
  TMMDIBGraphicControl::mouseMoveEvent(event);
  if (!info_mode_) return;
  // The pointer stays on the picture while the button is held.
  const QPoint at = event->position().toPoint();
  MoveInfoBox(std::clamp(at.x(), picture_.Left, picture_.Left + width_ - 1),
              std::clamp(at.y(), picture_.Top, picture_.Top + height_ - 1));
}

void TMMSpectrum::mouseReleaseEvent(QMouseEvent* event) {
  TMMDIBGraphicControl::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton) EndInfoMode();
}

void TMMSpectrum::MoveInfoBox(int x, int y) {
  info_box_.Show(*this, x, y, QString::fromStdString(InfoText(x - picture_.Left, y - picture_.Top)));
}

void TMMSpectrum::EndInfoMode() {
  if (!info_mode_) return;
  info_box_.Hide(*this, enabled_);
  info_mode_ = false;
}

}  // namespace pmx
