#include "audio/displays/level_scale.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "audio/core/objects/mul_div.h"

namespace pmx {

namespace {

// Where label k of n positions falls on a span, rounded to the nearest pixel.
int64_t Position(int k, int span, int n) {
  const uint64_t last = static_cast<uint64_t>(n - 1);
  return static_cast<int64_t>((static_cast<uint64_t>(k) * static_cast<uint64_t>(span) + last / 2) /
                              last);
}

}  // namespace

TMMLevelScale::TMMLevelScale(TComponent* owner, QWidget* parent)
    : TMMGraphicControl(owner, parent) {
  resize(200, 7);
  SetColor(clBlack);
  QFont small("Small Fonts");
  small.setPointSize(6);
  setFont(small);
  scale_.SetOnChange([this](TMMCustomScale&) { update(); });
}

void TMMLevelScale::SetScaleTicks(int value) { Change(scale_ticks_, std::max(value, 2)); }

void TMMLevelScale::SetPoint1(int value) { Change(point1_, std::clamp(value, 1, 100)); }

void TMMLevelScale::SetPoint2(int value) { Change(point2_, std::clamp(value, 1, 100)); }

void TMMLevelScale::SetSensitivy(int value) { Change(sensitivity_, std::clamp(value, -90, -9)); }

void TMMLevelScale::SetKind(TMMLevelKind value) {
  if (value == kind_) return;
  kind_ = value;
  const bool horizontal = Horizontal();
  if ((horizontal && height() > width()) || (!horizontal && width() > height())) {
    resize(height(), width());
  }
  update();
}

void TMMLevelScale::Paint(QPainter& canvas) {
  FillRect(canvas, ClientRect(), Color());
  canvas.setFont(font());
  int left = 0;
  int top = 0;
  int right = width();
  int bottom = height();
  if (scale_.Visible()) DrawScales(canvas, left, top, right, bottom);
  if (top > bottom || left > right) return;
  for (const Label& label : Labels(left, top, right, bottom)) {
    canvas.setPen(ToQColor(label.Color));
    canvas.drawText(label.X, label.Y + canvas.fontMetrics().ascent(), label.Text);
  }
}

void TMMLevelScale::DrawScales(QPainter& canvas, int& left, int& top, int& right, int& bottom) {
  const QFontMetrics metrics(font());
  const bool horizontal = Horizontal();
  const int h = horizontal ? metrics.horizontalAdvance('0') / 2 : metrics.height() / 2;
  const bool swapped = !horizontal != Reversed();
  const int z1 = swapped ? 100 - point2_ : point1_;
  const int z2 = swapped ? 100 - point1_ : point2_;
  const int ticks = scale_.TickCount();
  const TColor first = scale_colors_[swapped ? 2 : 0];
  const TColor last = scale_colors_[swapped ? 0 : 2];
  scale_.SetZones(first, scale_colors_[1], last, MulDivRound(z1 - 1, ticks, 100),
                  MulDivRound(z2 - 1, ticks, 100));
  scale_.SetCanvas(&canvas);
  const int s = scale_.TotalSize();
  // Horizontal strips shift the scale by half a digit, vertical ones by half a line.
  const int lo = Reversed() ? h : -h - 1;
  const int hi = Reversed() ? h - 1 : -h - 1;
  const int vlo = Reversed() ? -h : h;
  const int vhi = Reversed() ? -h - 1 : h - 1;
  if (scale_pos_ != TMMScalePos::spBelowOrRight) {
    if (horizontal) {
      scale_.Draw({left + lo, top, right + hi, top + s}, 1);
      top += s;
    } else {
      scale_.Draw({left, top + vlo, left + s, bottom + vhi}, 1);
      left += s;
    }
  }
  if (scale_pos_ != TMMScalePos::spAboveOrLeft) {
    if (horizontal) {
      scale_.Draw({left + lo, bottom - s, right + hi, bottom}, 0);
      bottom -= s;
    } else {
      scale_.Draw({right - s, top + vlo, right, bottom + vhi}, 0);
      right -= s;
    }
  }
  scale_.SetCanvas(nullptr);
}

int TMMLevelScale::LabelStep(int t) const {
  int length = Horizontal() ? width() : height();
  if (Symmetric()) length /= 2;
  const int last = scale_ticks_ - 1;
  // A strip too short for even one label gets none.
  for (int n = 1; n <= last && t > 0; ++n) {
    if (length / ((last / n) * t) >= 1) return n;
  }
  return 0;
}

TColor TMMLevelScale::LabelColor(int k) const {
  int a = MulDivRound(32767, k, scale_ticks_ - 1);
  if (Horizontal() == Reversed()) a = 32767 - a;
  if (a > point2_ * 32767.0 / 100) return scale_colors_[2];
  if (a > point1_ * 32767.0 / 100) return scale_colors_[1];
  return scale_colors_[0];
}

int TMMLevelScale::LabelValue(int k) const {
  const int last = scale_ticks_ - 1;
  if (log_amp_) {
    const int m = Horizontal() != Reversed() ? last - k : k;
    return MulDivRound(m, sensitivity_, last);
  }
  const int m = Horizontal() == Reversed() ? last - k : k;
  const float floor = 32767.0f / std::pow(10.0f, -sensitivity_ / 20.0f);
  const double ratio = (floor + (32767.0 - floor) * m / last) / 32767.0;
  return static_cast<int>(std::nearbyint(20.0 * std::log10(ratio)));
}

std::vector<TMMLevelScale::Label> TMMLevelScale::Labels(int left, int top, int right,
                                                         int bottom) const {
  const QFontMetrics metrics(font());
  const int t = Horizontal() ? metrics.horizontalAdvance(QString::number(sensitivity_))
                             : metrics.height();
  const int step = LabelStep(t);
  std::vector<Label> labels;
  if (step == 0) return labels;
  const int d = Horizontal() == Reversed() ? 1 : -1;
  int k = d == 1 ? 0 : scale_ticks_ - 1;
  for (int i = 0; i < scale_ticks_; ++i, k += d) {
    if (i % step == 0) PlaceLabel(labels, k, left, top, right, bottom);
  }
  return labels;
}

void TMMLevelScale::PlaceLabel(std::vector<Label>& labels, int k, int left, int top, int right,
                               int bottom) const {
  const QFontMetrics metrics(font());
  const int th = metrics.height();
  const int tw0 = metrics.horizontalAdvance(QString::number(sensitivity_));
  const int n = scale_ticks_;
  const int value = LabelValue(k);
  const QString text = QString::number(value);
  const int tw = metrics.horizontalAdvance(text);
  const TColor color = LabelColor(k);
  const QString mirrored = "+" + QString::number(std::abs(value));
  const bool down = Horizontal() ? Reversed() : !Reversed();  // d = +1
  if (Horizontal()) {
    const int y = top + (bottom - top - th) / 2;
    if (Symmetric()) {
      const int64_t p = Position(k, (right - left - 1) / 2, n);
      if (p < tw) return;
      labels.push_back({static_cast<int>(left + p - tw / 2), y, text, color});
      if (k < n - 1) {
        const int x = static_cast<int>(left + 2 * ((right - left) / 2) - p - 1 - tw / 2);
        labels.push_back({x, y, mirrored, color});
      }
      return;
    }
    int64_t p = Position(k, right - left - 1, n);
    if (!down) p -= tw;
    if (p >= 0 && p + tw <= width()) labels.push_back({static_cast<int>(left + p), y, text, color});
    return;
  }
  const int x = right - (right - left) / 2 - tw0 / 2 + (tw0 - tw) - 1;
  if (Symmetric()) {
    const int half = (bottom - top) / 2;
    const int64_t p = Position(k, (bottom - top - 1) / 2, n);
    if (p + th > half) return;
    labels.push_back({x, static_cast<int>(top + half + 1 + p - th / 2), text, color});
    if (k > 0) labels.push_back({x, static_cast<int>(top + half + 1 - p - th / 2), mirrored, color});
    return;
  }
  int64_t p = Position(k, bottom - top - 1, n);
  if (!down) p -= th;
  if (p >= 0 && p + th <= height()) labels.push_back({x, static_cast<int>(top + p), text, color});
}

}  // namespace pmx
