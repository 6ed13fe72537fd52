#include "audio/displays/meter.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "audio/core/dsp/pcm_support.h"
#include "audio/core/objects/mm_strings.h"

namespace pmx {

TMMCustomMeter::TMMCustomMeter(TComponent* owner, QWidget* parent)
    : TMMPeakDisplay(owner, parent, {.hold_equal = false, .fall_step = 500, .fall_to_value = true}, -50) {
  SetColor(clBlack);
  QFont bold = font();
  bold.setBold(true);
  setFont(bold);
  SetBounds(0, 0, 170, 90);
  BevelChanged();
  UpdateBytesPerRefresh();
  if (!Designing()) AddTimerClient();
}

TMMCustomMeter::~TMMCustomMeter() = default;

// ---- properties ----

void TMMCustomMeter::SetEnabled(bool value) {
  if (enabled_ == value) return;
  enabled_ = value;
  ResetData();
  feed_.SetTimerSuspended(!value);
  update();
}

void TMMCustomMeter::SetShowPeak(bool value) {
  if (show_peak_ == value) return;
  show_peak_ = value;
  feed_.ResetCountdown();
  feed_.SetTimerSuspended(!value);
  update();
}

int TMMCustomMeter::Value() const {
  return TMMPeakFeed::Percent(feed_.Value(), kFullScale, log_amp_, sensitivity_, gain_);
}

// ---- feed ----

void TMMCustomMeter::SetPCMWaveFormat(PWaveFormatEx format) {
  if (!TakeFormat(format)) throw EMMMeterError(LoadMMResString(SInvalidWaveFormatDisplay));
}

void TMMCustomMeter::ResetData() {
  feed_.Reset();
  PaintDirect([this](QPainter& canvas) { DrawFromCache(canvas); });
}

void TMMCustomMeter::SetValueInternal(int64_t v) {
  if (!feed_.Take(v, show_peak_, [this](int64_t a) { return MapToNeedle(a); })) return;
  if (enabled_ && Visible()) PaintDirect([this](QPainter& canvas) { DrawFromCache(canvas); });
}

float TMMCustomMeter::LinearFloor() const {
  return kFullScale / std::pow(10.0f, static_cast<float>(-sensitivity_) / 20);
}

int TMMCustomMeter::MapToNeedle(int64_t amplitude) {
  const int m = TMMPeakFeed::ToScale(amplitude * gain_ / 8, kFullScale, 1e-5f, log_amp_, sensitivity_);
  if (m < kFullScale) return m;
  if (OnGainOverflow) OnGainOverflow(this);
  return kFullScale;
}


// ---- layout and drawing ----

void TMMCustomMeter::BevelChanged() {
  inner_ = GetInnerRect();
  inner_width_ = std::max(0, inner_.Width());
  inner_height_ = std::max(0, inner_.Height());
  ResetData();
  TMMDIBGraphicControl::BevelChanged();
}

QPoint TMMCustomMeter::ArcPoint(int a, int r) const {
  constexpr float kPi = std::numbers::pi_v<float>;
  const float t0 = static_cast<float>(180 - scale_angle_) * kPi / 360;
  const float t = t0 + ((kPi - t0) - t0) * static_cast<float>(a) / kFullScale;
  const float radius = static_cast<float>(r);
  return {inner_width_ / 2 - static_cast<int>(std::nearbyint(std::cos(t) * radius)),
          inner_height_ + needle_offset_ - static_cast<int>(std::nearbyint(std::sin(t) * radius))};
}

void TMMCustomMeter::Paint(QPainter& canvas) {
  TMMDIBGraphicControl::Paint(canvas);
  DrawBackground();
  DrawFrame(canvas);
}

void TMMCustomMeter::DrawFromCache(QPainter& canvas) {
  // Nothing is cached before the first full paint, which draws the needles too.
  if (cache_.isNull() || cache_.size() != QSize(inner_width_, inner_height_)) return;
  work_ = cache_.copy();
  DrawFrame(canvas);
}

void TMMCustomMeter::DrawBackground() {
  if (inner_width_ == 0 || inner_height_ == 0) {
    work_ = cache_ = QImage();
    return;
  }
  if (work_.size() != QSize(inner_width_, inner_height_)) {
    work_ = QImage(inner_width_, inner_height_, QImage::Format_RGB32);
  }
  {
    QPainter canvas(&work_);
    const QRect area(0, 0, inner_width_, inner_height_);
    if (BackGroundDIB().isNull()) {
      canvas.fillRect(area, ToQColor(Color()));
    } else {
      canvas.drawImage(area, BackGroundDIB());
    }
    if (draw_scale_ && scale_ticks_ > 1) DrawTicks(canvas);
    if (!caption_.isEmpty()) DrawCaption(canvas);
  }
  cache_ = work_.copy();
}

void TMMCustomMeter::DrawTicks(QPainter& canvas) {
  QFont small("Small Fonts");
  small.setPointSize(6);
  canvas.setFont(small);
  canvas.setBrush(Qt::NoBrush);
  const int last = scale_ticks_ - 1;
  const int rs = ScaleRadius();
  const int inner_end = rs - 2 - scale_height2_;
  const int short_end = inner_end + scale_height1_;
  for (int i = 0; i <= last; ++i) {
    const int a = static_cast<int>(static_cast<int64_t>(kFullScale) * i / last);
    const bool enlarged = enlarge_every_ == 0 || i == last || i % enlarge_every_ == 0;
    const int zone = a > point2_ * kFullScale / 100 ? 2 : a > point1_ * kFullScale / 100 ? 1 : 0;
    canvas.setPen(QPen(ToQColor(scale_colors_[zone]), 1));
    if (scale_origin_ == TMMScaleOrigin::soInner) {
      canvas.drawLine(ArcPoint(a, enlarged ? rs - 2 : short_end), ArcPoint(a, inner_end));
    } else {
      canvas.drawLine(ArcPoint(a, rs - 2), ArcPoint(a, enlarged ? inner_end : short_end));
    }
    if (text_every_ > 0 && i % text_every_ == 0) DrawLabel(canvas, i);
  }
}

void TMMCustomMeter::DrawLabel(QPainter& canvas, int i) {
  const int last = scale_ticks_ - 1;
  int db;
  if (log_amp_) {
    db = (last - i) * sensitivity_ / last;
  } else {
    const float floor = LinearFloor();
    const float level = (floor + (kFullScale - floor) * static_cast<float>(i) / last) / kFullScale;
    db = static_cast<int>(std::nearbyint(20 * std::log10(level)));
  }
  const QString text = QString::number(db);
  const QFontMetrics metrics = canvas.fontMetrics();
  const QPoint q = ArcPoint(static_cast<int>(static_cast<int64_t>(kFullScale) * i / last),
                            ScaleRadius() - 2);
  const int x = q.x() - metrics.horizontalAdvance(text) +
                metrics.horizontalAdvance(QString::number(std::abs(db))) / 2 + 1;
  const int y = q.y() - metrics.height() - 3;
  canvas.setPen(ToQColor(font_color_));
  canvas.drawText(x, y + metrics.ascent(), text);
}

void TMMCustomMeter::DrawCaption(QPainter& canvas) {
  canvas.setFont(font());
  canvas.setPen(ToQColor(font_color_));
  const int bottom = inner_height_ - inner_height_ / 16;
  const int top = bottom - QFontMetrics(font()).height();
  canvas.drawText(QRect(0, top, inner_width_, bottom - top),
                  Qt::AlignCenter | Qt::TextExpandTabs | Qt::TextDontClip, caption_);
}

void TMMCustomMeter::DrawFrame(QPainter& canvas) {
  if (!work_.isNull()) {
    QPainter needles(&work_);
    const QPoint pivot = Pivot();
    const int rs = ScaleRadius();
    if (show_peak_) {
      needles.setPen(QPen(ToQColor(peak_color_), needle_width_));
      needles.drawLine(pivot, ArcPoint(feed_.Peak(), rs));
    }
    needles.setPen(QPen(ToQColor(needle_color_), needle_width_));
    needles.drawLine(pivot, ArcPoint(feed_.Value(), rs));
    needles.end();
    canvas.drawImage(inner_.Left, inner_.Top, work_);
  }
  if (OnPostPaint) OnPostPaint(this);
}

}  // namespace pmx
