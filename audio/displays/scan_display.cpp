#include "audio/displays/scan_display.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "audio/displays/dib_primitives.h"

namespace pmx {
namespace {

constexpr TCursor kCursorInside = 2003;
constexpr TCursor kCursorMove = 2004;

}  // namespace

// ---- group ----

void TMMDisplayGroup::Join(std::atomic<bool>* redraw) {
  std::lock_guard lock(lock_);
  if (std::find(members_.begin(), members_.end(), redraw) == members_.end()) {
    members_.push_back(redraw);
  }
}

void TMMDisplayGroup::Leave(std::atomic<bool>* redraw) {
  std::lock_guard lock(lock_);
  std::erase(members_, redraw);
}

void TMMDisplayGroup::MarkOthers(const std::atomic<bool>* self) {
  std::lock_guard lock(lock_);
  for (std::atomic<bool>* member : members_) {
    if (member != self) *member = true;
  }
}

// ---- selection ----

bool TMMColumnSelection::Set(int first, int last, int limit) {
  auto limited = [limit](int v) { return v < 0 ? -1 : std::min(v, limit); };
  first = limited(first);
  last = limited(last);
  if (last < first) std::swap(first, last);
  if (last - first <= 0) first = last = -1;
  if (first == first_ && last == last_) return false;
  first_ = first;
  last_ = last;
  return true;
}

TMMColumnSelection::Part TMMColumnSelection::At(int x, const Grip& grip) const {
  const int first = first_;
  const int last = last_;
  if (first < 0) return Part::kNone;
  if (x >= first - grip.before_first && x <= first + grip.after_first) return Part::kFirst;
  if (x >= last - grip.before_last && x <= last + grip.after_last) return Part::kLast;
  if (x > first && x < last) return Part::kInside;
  return Part::kNone;
}

std::pair<int, int> TMMColumnSelection::Press(int x, const Grip& grip) {
  grab_x_ = x;
  grab_first_ = first_;
  grab_last_ = last_;
  drag_ = At(x, grip);
  if (drag_ == Part::kNone) {
    // A new selection from the pointer, its far end following the mouse.
    drag_ = Part::kLast;
    grab_first_ = x;
    grab_last_ = x + 1;
  }
  return {grab_first_, grab_last_};
}

std::pair<int, int> TMMColumnSelection::Drag(int x, int width) const {
  switch (drag_) {
    case Part::kFirst:
      return {x, grab_last_};
    case Part::kLast:
      return {grab_first_, x};
    case Part::kInside: {
      const int shift = std::clamp(x - grab_x_, -grab_first_, width - 1 - grab_last_);
      return {grab_first_ + shift, grab_last_ + shift};
    }
    default:
      return {first_, last_};
  }
}

std::pair<int, int> TMMColumnSelection::Release() {
  drag_ = Part::kNone;
  if (last_ - first_ == 1) return {-1, -1};
  return {first_, last_};
}

// ---- display ----

TMMScanDisplay::TMMScanDisplay(TComponent* owner, QWidget* parent, TMMDisplayGroup& group)
    : TMMDIBGraphicControl(owner, parent), group_(group) {
  KeepPictureOnExpose();
  setCursor(ScreenCursor(crCross));
  if (!Designing()) group_.Join(&redraw_);
}

TMMScanDisplay::~TMMScanDisplay() { group_.Leave(&redraw_); }

void TMMScanDisplay::SetDesignMode(bool value) {
  TMMDIBGraphicControl::SetDesignMode(value);
  if (Designing()) {
    group_.Leave(&redraw_);
  } else {
    group_.Join(&redraw_);
  }
}

void TMMScanDisplay::SetBarWidth(int value) {
  SetInvalidate(bar_width_, std::max(value, min_bar_width_));
}

void TMMScanDisplay::SetScroll(bool value) {
  if (scroll_ == value) return;
  scroll_ = value;
  ScrollChanged();
}

void TMMScanDisplay::SetAccelerate(bool value) {
  if (accelerate_ == value) return;
  accelerate_ = value;
  if (!value && scroll_) Invalidate();
}

void TMMScanDisplay::SetScanColor(ColorIndex index, TColor value) {
  SetInvalidate(scan_colors_.at(index), value);
}

void TMMScanDisplay::SetPicture(const TRect& picture) {
  picture_ = picture;
  width_ = std::max(picture.Width(), 4);
  height_ = std::max(picture.Height(), 4);
}

TColor TMMScanDisplay::ParentColor() const {
  return parentWidget() ? FromQColor(parentWidget()->palette().window().color()) : Color();
}

void TMMScanDisplay::Selecting(int first, int last) {
  if (selection_.Set(first, last, width_)) Invalidate();
  if (OnSelecting) OnSelecting(this, selection_.First(), selection_.Last());
}

void TMMScanDisplay::SelectEnd(int first, int last) {
  selection_.Set(first, last, width_);
  if (OnSelectEnd) OnSelectEnd(this, selection_.First(), selection_.Last());
}

// ---- frame helpers ----

void TMMScanDisplay::ResetScan() {
  write_column_ = -bar_width_;
  bar_column_ = 0;
}

void TMMScanDisplay::DrawBarBand() {
  if (bar_width_ <= 0) return;
  const int from = write_column_ < bar_column_ ? write_column_ + 1 : 0;
  TMMDIBCanvas& canvas = DIBCanvas();
  canvas.SetDrawColor(scan_colors_[kBar]);
  DIBFillRect(canvas, TRect{from, 0, bar_column_ + 1, height_});
  canvas.SetDrawColor(scan_colors_[kBarTick]);
  for (int y : TickRows()) DIBHorzLine(canvas, from, bar_column_ + 1, y);
}

void TMMScanDisplay::DrawBarLine(QPainter& dc, int x) const {
  if (bar_width_ <= 0) return;
  const int left = picture_.Left + x;
  dc.setPen(ToQColor(scan_colors_[kBar]));
  dc.drawLine(left, picture_.Top, left, picture_.Top + height_ - 1);
  dc.setPen(ToQColor(scan_colors_[kBarTick]));
  for (int y : TickRows()) dc.drawPoint(left, picture_.Top + y);
}

void TMMScanDisplay::AdvanceScan(QPainter& dc) {
  if (!scroll_) {
    if (accelerate_) DrawBarLine(dc, bar_column_);
    if (++write_column_ >= width_) write_column_ = 0;
    if (++bar_column_ >= width_) bar_column_ = 0;
  } else if (bar_column_ < width_) {
    if (accelerate_) DrawBarLine(dc, bar_column_);
    // Without a bar the write column would reach past the picture.
    write_column_ = std::min(write_column_ + 1, width_ - 1);
    ++bar_column_;
  } else {
    // The newest column keeps its place and the picture moves under it.
    ShiftLeft(width_ - 1);
    if (accelerate_) ShowColumns(dc, 0, write_column_);
  }
}

void TMMScanDisplay::DrawSelectionFill(bool xor_fill) {
  const int first = selection_.First();
  const int last = selection_.Last();
  if (first < 0 || last < 0) return;
  TMMDIBCanvas& canvas = DIBCanvas();
  canvas.SetDrawColor(scan_colors_[kSelection]);
  const TRect band{first, 0, last, height_};
  if (xor_fill) {
    DIBFillRect2(canvas, band);
  } else {
    DIBFillRect(canvas, band);
  }
}

void TMMScanDisplay::DrawSelectionFrame() {
  const int first = selection_.First();
  const int last = selection_.Last();
  if (first < 0 || last < 0) return;
  TMMDIBCanvas& canvas = DIBCanvas();
  canvas.SetDrawColor(scan_colors_[kSelectionDot]);
  DIBHorzLineDashed(canvas, first, last, 0);
  DIBHorzLineDashed(canvas, first, last, height_ - 1);
  DIBVertLine(canvas, first, 0, height_);
  DIBVertLine(canvas, last, 0, height_);
}

void TMMScanDisplay::ShowColumns(QPainter& dc, int from, int count) {
  from = std::max(from, 0);
  count = std::min(count, width_ - from);
  if (count <= 0) return;
  DIBCanvas().DrawToDC(dc, QRect(picture_.Left + from, picture_.Top, count, height_), from, 0);
}

void TMMScanDisplay::ShiftLeft(int count) {
  const TDIBDrawState& state = DIBCanvas().DrawState();
  if (count <= 0 || !state.pixels) return;
  // The source is the canvas's own memory; the copy handles the overlap.
  DIBCopyRect(DIBCanvas(), 0, 0, count, height_, 1, 0, state.pixels);
}

// ---- mouse ----

bool TMMScanDisplay::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip && info_mode_) return true;
  return TMMDIBGraphicControl::event(event);
}

QPoint TMMScanDisplay::ClampToPicture(const QPoint& at) const {
  // The desktop cannot hold the pointer inside the picture: its position is
  // limited to the picture instead.
  return {std::clamp(at.x(), picture_.Left, picture_.Left + width_ - 1),
          std::clamp(at.y(), picture_.Top, picture_.Top + height_ - 1)};
}

void TMMScanDisplay::mousePressEvent(QMouseEvent* event) {
  TMMDIBGraphicControl::mousePressEvent(event);
  if (Designing() || !enabled_) return;
  const QPoint at = event->position().toPoint();
  const QRect picture(picture_.Left, picture_.Top, width_, height_);
  if (!picture.contains(at)) return;
  if (event->button() == Qt::LeftButton && show_info_) {
    info_mode_ = true;  // the picture freezes: refreshes draw nothing
    info_box_.Show(*this, at.x(), at.y(),
                   QString::fromStdString(InfoText(at.x() - picture_.Left, at.y() - picture_.Top)));
  } else if (event->button() == Qt::RightButton && use_selection_ && !locked_) {
    const int column = at.x() - picture_.Left;
    const bool moving = selection_.At(column, SelectionGrip()) == TMMColumnSelection::Part::kInside;
    shown_cursor_ = moving ? kCursorMove : crSizeWE;
    setCursor(ScreenCursor(shown_cursor_));
    const auto [first, last] = selection_.Press(column, SelectionGrip());
    Selecting(first, last);
  }
}

void TMMScanDisplay::mouseMoveEvent(QMouseEvent* event) {
  TMMDIBGraphicControl::mouseMoveEvent(event);
  const QPoint at = ClampToPicture(event->position().toPoint());
  if (info_mode_) {
    info_box_.Show(*this, at.x(), at.y(),
                   QString::fromStdString(InfoText(at.x() - picture_.Left, at.y() - picture_.Top)));
  } else if (selection_.Dragging()) {
    const auto [first, last] = selection_.Drag(at.x() - picture_.Left, width_);
    Selecting(first, last);
  } else {
    HoverCursor(event->position().toPoint().x() - picture_.Left);
  }
}

void TMMScanDisplay::HoverCursor(int column) {
  TCursor wanted = crCross;
  if (use_selection_ && !locked_) {
    switch (selection_.At(column, SelectionGrip())) {
      case TMMColumnSelection::Part::kFirst:
      case TMMColumnSelection::Part::kLast:
        wanted = crSizeWE;
        break;
      case TMMColumnSelection::Part::kInside:
        wanted = kCursorInside;
        break;
      default:
        break;
    }
  }
  if (wanted == shown_cursor_) return;
  shown_cursor_ = wanted;
  setCursor(ScreenCursor(wanted));
}

void TMMScanDisplay::mouseReleaseEvent(QMouseEvent* event) {
  TMMDIBGraphicControl::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton) EndInfoMode();
  if (event->button() != Qt::RightButton || !selection_.Dragging()) return;
  const auto [first, last] = selection_.Release();
  if (first < 0) Selecting(-1, -1);
  SelectEnd(first, last);
}

void TMMScanDisplay::EndInfoMode() {
  if (!info_mode_) return;
  info_box_.Hide(*this, enabled_);
  info_mode_ = false;
}

}  // namespace pmx
