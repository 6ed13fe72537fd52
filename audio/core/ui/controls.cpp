#include "audio/core/ui/controls.h"

#include <QFontMetrics>
#include <QPainter>

namespace pmx {

TMMControl::TMMControl(TComponent* owner, QWidget* parent)
    : QWidget(parent), TMMComponent(owner), bevel_(std::make_unique<TMMBevel>()) {
  bevel_->OnChange = [this](TObject*) { BevelChanged(); };
}

TMMControl::~TMMControl() { bevel_->OnChange = nullptr; }

void TMMControl::SetColor(TColor color) {
  if (color_ == color) return;
  color_ = color;
  ColorChanged();
}

void TMMControl::Paint(QPainter& canvas) {
  const TRect inner = bevel_->Paint(canvas, ClientRect(), true);
  if (!no_fill_) FillRect(canvas, inner, color_);
}

void TMMControl::SetDesignMode(bool value) {
  TMMComponent::SetDesignMode(value);
  update();
}

void TMMControl::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  Paint(canvas);
}

TMMCustomControl::TMMCustomControl(TComponent* owner, QWidget* parent)
    : TMMControl(owner, parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

TMMGraphicControl::TMMGraphicControl(TComponent* owner, QWidget* parent)
    : TMMControl(owner, parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

TMMCustomPanel::TMMCustomPanel(TComponent* owner, QWidget* parent) : TMMControl(owner, parent) {
  Realign();
}

void TMMCustomPanel::SetCaption(const QString& caption) {
  if (caption_ == caption) return;
  caption_ = caption;
  update();
}

void TMMCustomPanel::SetAlignment(TAlignment alignment) {
  if (alignment_ == alignment) return;
  alignment_ = alignment;
  update();
}

void TMMCustomPanel::BevelChanged() {
  Realign();
  update();
}

void TMMCustomPanel::Realign() {
  const int extent = Bevel()->BevelExtent();
  setContentsMargins(extent, extent, extent, extent);
}

void TMMCustomPanel::Paint(QPainter& canvas) {
  TMMControl::Paint(canvas);
  if (caption_.isEmpty()) return;
  const TRect inner = GetInnerRect();
  const int text_height = QFontMetrics(font()).height();
  const int top = inner.Top + (inner.Height() - text_height) / 2;
  int flags = Qt::AlignTop | Qt::TextSingleLine | Qt::TextExpandTabs;
  if (alignment_ == TAlignment::taLeftJustify) flags |= Qt::AlignLeft;
  if (alignment_ == TAlignment::taRightJustify) flags |= Qt::AlignRight;
  if (alignment_ == TAlignment::taCenter) flags |= Qt::AlignHCenter;
  canvas.setFont(font());
  canvas.setPen(palette().color(QPalette::WindowText));
  canvas.drawText(QRect(inner.Left, top, inner.Width(), text_height), flags, caption_);
}

}  // namespace pmx
