#include "audio/displays/dib_graphic_control.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>

#include "audio/displays/dib_primitives.h"
#include "platform/main_loop.h"

namespace pmx {

TMMDIBGraphicControl::TMMDIBGraphicControl(TComponent* owner, QWidget* parent)
    : TMMGraphicControl(owner, parent),
      canvas_(std::make_unique<TMMDIBCanvas>(this)),
      self_(std::make_shared<TMMDIBGraphicControl*>(this)) {
  has_parent_ = parent != nullptr;
  SyncSize();
}

TMMDIBGraphicControl::~TMMDIBGraphicControl() {
  std::lock_guard lock(paint_lock_);  // a PaintDirect on another thread ends first
  self_.reset();  // an update still queued for this control now runs as nothing
  background_ = QImage();
}

void TMMDIBGraphicControl::SetBitsPerPixel(int bits) {
  canvas_->SetBitsPerPixel(bits);
  Invalidate();
}

void TMMDIBGraphicControl::SetPaletteRealize(bool value) {
  if (canvas_->PaletteRealize() == value) return;
  canvas_->SetPaletteRealize(value);
  Invalidate();
}

void TMMDIBGraphicControl::SetPaletteMapped(bool value) {
  if (canvas_->PaletteMapped() == value) return;
  canvas_->SetPaletteMapped(value);
  Invalidate();
}

void TMMDIBGraphicControl::SetBackGroundDIB(const QImage& picture) {
  background_ = picture;
  BackGroundDIBChanged();
}

void TMMDIBGraphicControl::BackGroundDIBChanged() {
  if (Loading()) return;
  if (Designing()) {
    const bool empty = background_.isNull();
    SetPaletteRealize(!empty);
    if (empty) SetPaletteMapped(false);
    use_background_ = !empty;
  }
  ApplyBackground();
}

void TMMDIBGraphicControl::SetUseBackGroundDIB(bool value) {
  if (Loading()) {
    loaded_use_background_ = value;
    return;
  }
  if (value == use_background_) return;
  use_background_ = value && !background_.isNull();
  SetPaletteRealize(use_background_);
  ApplyBackground();
}

void TMMDIBGraphicControl::ApplyBackground() {
  canvas_->SetBackGroundBitmap(use_background_ ? background_ : QImage());
  Invalidate();
}

void TMMDIBGraphicControl::Loaded() {
  TMMGraphicControl::Loaded();
  SetUseBackGroundDIB(loaded_use_background_);
}

void TMMDIBGraphicControl::SetBounds(int left, int top, int width, int height) {
  setGeometry(left, top, width, height);
  // A hidden widget hears of its new size only when shown; the canvas needs it now.
  SyncSize();
}

void TMMDIBGraphicControl::resizeEvent(QResizeEvent* event) {
  TMMGraphicControl::resizeEvent(event);
  SyncSize();
}

void TMMDIBGraphicControl::SyncSize() {
  {
    std::lock_guard lock(paint_lock_);
    if (back_store_.size() == QSize(std::max(1, width()), std::max(1, height()))) return;
    back_store_ = QImage(std::max(1, width()), std::max(1, height()), QImage::Format_RGB32);
    back_store_.fill(ToQColor(Color()));
    full_paint_ = true;
  }
  canvas_->SetSize(width(), height());
  BoundsChanged();
}

void TMMDIBGraphicControl::setVisible(bool visible) {
  visible_ = visible;
  TMMGraphicControl::setVisible(visible);
}

void TMMDIBGraphicControl::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ParentChange) has_parent_ = parentWidget() != nullptr;
  TMMGraphicControl::changeEvent(event);
}

void TMMDIBGraphicControl::FillBackground() {
  const std::vector<uint8_t>& picture = canvas_->BackGroundPixels();
  if (!picture.empty()) {
    DIBCopyRect(*canvas_, 0, 0, canvas_->Width(), canvas_->Height(), 0, 0, picture.data());
    return;
  }
  canvas_->SetDrawColor(Color());
  DIBClear(*canvas_);
}

void TMMDIBGraphicControl::PaintDirect(const std::function<void(QPainter& canvas)>& proc) {
  if (!Visible() || !HasParent()) return;
  QRect area;
  {
    std::lock_guard lock(paint_lock_);
    changed_.reset();
    {
      QPainter canvas(&back_store_);
      proc(canvas);
    }
    area = changed_.value_or(back_store_.rect());
    changed_.reset();
  }
  if (!area.isEmpty()) RequestUpdate(area);
}

void TMMDIBGraphicControl::ChangedArea(const QRect& area) {
  std::lock_guard lock(paint_lock_);
  changed_ = changed_.value_or(QRect()).united(area);
}

void TMMDIBGraphicControl::PaintDirectSoon(std::function<void(QPainter& canvas)> proc) {
  if (paint_posted_.exchange(true)) return;
  std::weak_ptr<TMMDIBGraphicControl*> weak = self_;
  MainLoop::Instance().Post([weak, proc = std::move(proc)] {
    if (auto self = weak.lock()) {
      (*self)->paint_posted_ = false;
      (*self)->PaintDirect(proc);
    }
  });
}

void TMMDIBGraphicControl::RequestUpdate(const QRect& area) {
  MainLoop& loop = MainLoop::Instance();
  if (loop.IsGuiThread()) {
    ShowDirect(area);
    return;
  }
  // One queued update at a time, however fast the feed draws.
  {
    std::lock_guard lock(update_lock_);
    const bool queued = !queued_update_.isEmpty();
    queued_update_ = queued_update_.united(area);
    if (queued) return;
  }
  std::weak_ptr<TMMDIBGraphicControl*> weak = self_;
  loop.Post([weak] {
    if (auto self = weak.lock()) {
      QRect area;
      {
        std::lock_guard lock((*self)->update_lock_);
        std::swap(area, (*self)->queued_update_);
      }
      (*self)->ShowDirect(area);
    }
  });
}

void TMMDIBGraphicControl::ShowDirect(const QRect& area) {
  direct_ += area;
  update(area);
}

QImage TMMDIBGraphicControl::BackStore() const {
  std::lock_guard lock(paint_lock_);
  return back_store_.copy();
}

void TMMDIBGraphicControl::Invalidate() {
  {
    std::lock_guard lock(paint_lock_);
    full_paint_ = true;
  }
  update();
}

void TMMDIBGraphicControl::paintEvent(QPaintEvent* event) {
  std::lock_guard lock(paint_lock_);
  // Any other update asks for the whole control, so a paint within the parts that
  // direct drawing changed (less than the whole) needs no picture drawn anew.
  const bool direct_only =
      !direct_.isEmpty() && direct_ != QRegion(rect()) && (event->region() - direct_).isEmpty();
  direct_ = QRegion();
  if (full_paint_ || (!keep_on_expose_ && !direct_only)) {
    full_paint_ = false;
    QPainter canvas(&back_store_);
    Paint(canvas);
  }
  QPainter screen(this);
  const QRect shown = event->rect();
  screen.drawImage(shown.topLeft(), back_store_, shown);
}

void TMMDIBGraphicControl::SetScaleShown(bool& field, bool value) {
  if (field == value) return;
  field = value;
  const QSize before = size();
  SetBounds(x(), y(), width(), height());
  if (size() == before) BoundsChanged();
  Invalidate();
}

}  // namespace pmx
