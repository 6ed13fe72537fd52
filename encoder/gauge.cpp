#include "encoder/gauge.h"

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <climits>
#include <cmath>
#include <numbers>

namespace pmx {
namespace {

QPoint OnEllipse(int half_w, int half_h, double angle) {
  return {static_cast<int>(std::nearbyint(half_w * (1 - std::cos(angle)))),
          static_cast<int>(std::nearbyint(half_h * (1 - std::sin(angle))))};
}

}  // namespace

int GaugeExtent(int percent, int length) { return static_cast<int>(std::trunc(length * percent * 0.01)); }

TMMCustomGauge::TMMCustomGauge(TComponent* owner, QWidget* parent) : TMMGraphicControl(owner, parent) {
  resize(150, 18);
}

void TMMCustomGauge::SetMinValue(int v) { Store(min_value_, std::clamp(v, -INT_MAX, max_value_)); }
void TMMCustomGauge::SetMaxValue(int v) { Store(max_value_, std::clamp(v, min_value_, INT_MAX)); }

void TMMCustomGauge::SetProgress(int v) {
  v = std::clamp(v, min_value_, max_value_);
  if (v == progress_) return;
  const int before = PercentDone();
  progress_ = v;
  if (PercentDone() != before) repaint();
}

int TMMCustomGauge::PercentDone() const {
  if (max_value_ == min_value_) return 0;
  return static_cast<int>(std::trunc((double(progress_) - min_value_) * 100 / (double(max_value_) - min_value_)));
}

QString TMMCustomGauge::Text() const {
  const QString percent = QString::number(PercentDone()) + "%";
  return caption_.isEmpty() ? percent : caption_ + " " + percent;
}

void TMMCustomGauge::Paint(QPainter& canvas) {
  const TRect inner = Bevel()->Paint(canvas, ClientRect(), true);
  if (inner.Width() <= 0 || inner.Height() <= 0) return;
  QImage picture(inner.Width(), inner.Height(), QImage::Format_RGB32);
  {
    QPainter p(&picture);
    PaintKind(p, inner.Width(), inner.Height());
    if (show_text_) PaintText(p, inner.Width(), inner.Height());
  }
  canvas.drawImage(inner.Left, inner.Top, picture);
}

void TMMCustomGauge::PaintKind(QPainter& canvas, int width, int height) {
  switch (kind_) {
    case TMMGaugeKind::gkText: PaintBackText(canvas, width, height); break;
    case TMMGaugeKind::gkHorizontalBar:
    case TMMGaugeKind::gkVerticalBar: PaintBar(canvas, width, height); break;
    case TMMGaugeKind::gkPie: PaintPie(canvas, width, height); break;
    case TMMGaugeKind::gkNeedle: PaintNeedle(canvas, width, height); break;
  }
}

void TMMCustomGauge::PaintBackText(QPainter& canvas, int width, int height) {
  canvas.fillRect(0, 0, width, height, ToQColor(back_color_));
}

void TMMCustomGauge::PaintBar(QPainter& canvas, int width, int height) {
  canvas.fillRect(0, 0, width, height, ToQColor(back_color_));
  if (kind_ == TMMGaugeKind::gkHorizontalBar) {
    const int filled = GaugeExtent(PercentDone(), width);
    if (filled > 0) canvas.fillRect(0, 0, filled, height, ToQColor(fore_color_));
  } else {
    const int filled = GaugeExtent(PercentDone(), height);
    if (filled > 0) canvas.fillRect(0, height - filled, width, filled, ToQColor(fore_color_));
  }
}

void TMMCustomGauge::PaintPie(QPainter& canvas, int width, int height) {
  canvas.fillRect(0, 0, width, height, ToQColor(Color()));
  canvas.setPen(QPen(ToQColor(fore_color_), 1));
  canvas.setBrush(ToQColor(back_color_));
  canvas.drawEllipse(0, 0, width - 1, height - 1);
  if (PercentDone() <= 0) return;
  canvas.setBrush(ToQColor(fore_color_));
  // From the top, clockwise over the share done.
  canvas.drawPie(0, 0, width - 1, height - 1, 90 * 16, -PercentDone() * 360 * 16 / 100);
}

void TMMCustomGauge::PaintNeedle(QPainter& canvas, int width, int height) {
  canvas.fillRect(0, 0, width, height, ToQColor(Color()));
  canvas.setPen(QPen(ToQColor(fore_color_), 1));
  canvas.setBrush(ToQColor(back_color_));
  canvas.drawPie(0, 0, width - 1, 2 * height - 1, 0, 180 * 16);
  canvas.drawLine(0, height - 1, width - 1, height - 1);
  if (PercentDone() <= 0) return;
  const double angle = std::numbers::pi * PercentDone() / 100;
  const QPoint tip = OnEllipse(width / 2, height - 1, angle);
  canvas.drawLine(this->width() / 2, height - 1, tip.x(), tip.y());
}

void TMMCustomGauge::PaintText(QPainter& canvas, int width, int height) {
  const bool bar = kind_ == TMMGaugeKind::gkHorizontalBar || kind_ == TMMGaugeKind::gkVerticalBar;
  if (bar && bw_text_) return PaintSplitText(canvas, width, height);
  // White text on black, combined by XOR: the text shows inverted over anything.
  QImage text(width, height, QImage::Format_RGB32);
  text.fill(Qt::black);
  {
    QPainter p(&text);
    p.setFont(font());
    p.setPen(Qt::white);
    p.drawText(QRect(0, 0, width, height), Qt::AlignCenter, Text());
  }
  canvas.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  canvas.drawImage(0, 0, text);
  canvas.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

// The font's colour over the part not filled, its XOR with white over the bar.
void TMMCustomGauge::PaintSplitText(QPainter& canvas, int width, int height) {
  const QColor plain = palette().color(QPalette::WindowText);
  const QColor inverted(plain.rgb() ^ 0xFFFFFF);
  const bool horizontal = kind_ == TMMGaugeKind::gkHorizontalBar;
  const int edge = GaugeExtent(PercentDone(), horizontal ? width : height);
  const QRect filled = horizontal ? QRect(0, 0, edge, height) : QRect(0, height - edge, width, edge);
  const QRect whole(0, 0, width, height);
  canvas.setFont(font());
  for (const auto& [clip, colour] : {std::pair{whole, plain}, std::pair{filled, inverted}}) {
    canvas.save();
    canvas.setClipRect(clip);
    canvas.setPen(colour);
    canvas.drawText(whole, Qt::AlignCenter, Text());
    canvas.restore();
  }
}

}  // namespace pmx
