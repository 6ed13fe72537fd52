#include "audio/displays/slider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "audio/core/objects/mul_div.h"

namespace pmx {

// The one focus-blink timer of the process and the slider it blinks.
class SliderBlink {
 public:
  static void Stop(TMMCustomSlider* slider) {
    if (!timer_ || owner_ != slider) return;
    timer_.reset();
    owner_ = nullptr;
    slider->blink_ = false;
  }

  static void Start(TMMCustomSlider* slider, bool on) {
    Stop(slider);
    if (slider->Designing() || !on || !slider->hasFocus()) return;
    const TMMFocusAction action = slider->focus_action_;
    if (action != TMMFocusAction::faFocusThumb && action != TMMFocusAction::faAll) return;
    // Another slider's blink hands the timer over, so that slider's Stop cannot
    // leave this one ticking.
    if (!timer_) timer_ = std::make_unique<QTimer>();
    owner_ = slider;
    timer_->disconnect();
    QObject::connect(timer_.get(), &QTimer::timeout, [slider] { slider->BlinkTick(); });
    timer_->start(500);
  }

 private:
  static inline std::unique_ptr<QTimer> timer_;
  static inline TMMCustomSlider* owner_ = nullptr;
};

namespace {

int RoundHalfEven(double value) { return static_cast<int>(std::nearbyint(value)); }

// Virtual key numbers of the keys the slider handles.
int KeyNumber(int qt_key) {
  switch (qt_key) {
    case Qt::Key_PageUp: return 33;
    case Qt::Key_PageDown: return 34;
    case Qt::Key_End: return 35;
    case Qt::Key_Home: return 36;
    case Qt::Key_Left: return 37;
    case Qt::Key_Up: return 38;
    case Qt::Key_Right: return 39;
    case Qt::Key_Down: return 40;
    default: return 0;
  }
}

bool Contains(const TRect& rect, int x, int y) {
  return x >= rect.Left && x < rect.Right && y >= rect.Top && y < rect.Bottom;
}

// The dotted frame that marks the focus: every other pixel of the rectangle's
// edge inverted, so that drawing it twice takes it away.
void DrawFocusRect(QPainter& canvas, const TRect& rect) {
  if (rect.Width() <= 0 || rect.Height() <= 0) return;
  canvas.save();
  canvas.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  const QColor white(Qt::white);
  for (int x = rect.Left; x < rect.Right; x += 2) {
    canvas.fillRect(x, rect.Top, 1, 1, white);
    canvas.fillRect(x, rect.Bottom - 1, 1, 1, white);
  }
  for (int y = rect.Top + 2; y < rect.Bottom - 1; y += 2) {
    canvas.fillRect(rect.Left, y, 1, 1, white);
    canvas.fillRect(rect.Right - 1, y, 1, 1, white);
  }
  canvas.restore();
}

}  // namespace

TMMCustomSlider::TMMCustomSlider(TComponent* owner, QWidget* parent)
    : TMMCustomControl(owner, parent),
      groove_(std::make_unique<TMMBevel>()),
      scale_(std::make_unique<TMMScale>()) {
  groove_->OnChange = [this](TObject*) { update(); };
  scale_->SetVisible(false);
  scale_->SetOrigin(TMMScaleOrigin::soOuter);
  scale_->SetConnect(true);
  scale_->SetOnChange([this](TMMCustomScale&) { update(); });
  Bevel()->SetBorderWidth(5);
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  SetBounds(0, 0, 200, 40);
}

TMMCustomSlider::~TMMCustomSlider() {
  groove_->OnChange = nullptr;
  ReleaseCachedBitmap(bitmap_);
  SliderBlink::Stop(this);
}

void TMMCustomSlider::SetPicLeft(const TBitmap& picture) {
  pic_left_ = picture;
  update();
}

void TMMCustomSlider::SetPicRight(const TBitmap& picture) {
  pic_right_ = picture;
  update();
}

int TMMCustomSlider::Clamp(int value) const { return std::max(min_, std::min(value, max_)); }

void TMMCustomSlider::SetRange(int min, int max) {
  if (min == min_ && max == max_) return;
  min_ = min;
  max_ = max;
  if (!Loading()) max_ = std::max(max, min + 1);
  forced_ = true;
  SetPosition(Clamp(GetPosition()));
  forced_ = false;
  update();
}

int TMMCustomSlider::GetPosition() const {
  double a = Clamp(position_);
  // A range still empty while loading has no scale to map over.
  const double range = max_ - min_;
  if (logarithmic_ && a != 0 && range > 0) {
    const double s = -sensitivity_;
    a = range * std::pow(10.0, ((a * s / range) - s) / 20.0);
  }
  return Clamp(RoundHalfEven(std::clamp(a, double(min_), double(std::max(min_, max_)))));
}

void TMMCustomSlider::SetPosition(int value) {
  const double range = max_ - min_;
  if (logarithmic_ && value != 0 && range > 0) {
    const double s = -sensitivity_;
    // A value below zero has no logarithm: it stands for the bottom end.
    const double db = value > 0 ? 20.0 * std::log10(value / range) : -HUGE_VAL;
    const double mapped = range * (db + s) / s;
    value = Clamp(RoundHalfEven(std::clamp(mapped, double(min_), double(std::max(min_, max_)))));
  }
  InternalSetPosition(value);
}

void TMMCustomSlider::SetSensitivity(int value) {
  value = std::clamp(value, -96, -20);
  if (value == sensitivity_) return;
  const int position = GetPosition();
  sensitivity_ = value;
  SetPosition(position);
}

void TMMCustomSlider::SetLogarithmic(bool value) {
  if (value == logarithmic_) return;
  const int position = GetPosition();
  logarithmic_ = value;
  SetPosition(position);
}

bool TMMCustomSlider::InternalSetPosition(int value) {
  if (value == position_ && !forced_) return false;
  position_ = Clamp(value);
  if (Designing() || Loading()) {
    update();
  } else {
    if (ThumbRect(TrackRect()) != last_thumb_) update();
    Change();
  }
  return true;
}

void TMMCustomSlider::SetOrientation(TMMOrientation value) {
  if (value == orientation_) return;
  orientation_ = value;
  if (Designing() && !Loading()) {
    SetThumbSize(thumb_height_, thumb_width_);
    const bool misfit = Vertical() ? width() > height() : height() > width();
    if (misfit) SetBounds(x(), y(), height(), width());
  }
  update();
}

void TMMCustomSlider::SetFocusAction(TMMFocusAction value) {
  if (value == focus_action_) return;
  focus_action_ = value;
  SliderBlink::Start(this, isEnabled());
  update();
}

void TMMCustomSlider::SetThumbSize(int width, int height) {
  const auto w = static_cast<uint8_t>(std::clamp(width, 0, 255));
  const auto h = static_cast<uint8_t>(std::clamp(height, 0, 255));
  if (w == thumb_width_ && h == thumb_height_) return;
  thumb_width_ = w;
  thumb_height_ = h;
  half_width_ = w / 2;
  half_height_ = h / 2;
  update();
}

void TMMCustomSlider::SetGrooveSize(int value) {
  groove_size_ = std::clamp(value, 0, 255);
  update();
}

void TMMCustomSlider::Change() {
  if (!Loading() && OnChange) OnChange(this);
}

void TMMCustomSlider::Track() {
  tracking_ = true;
  if (OnTrack) OnTrack(this);
}

void TMMCustomSlider::TrackEnd() {
  if (!tracking_) return;
  if (OnTrackEnd) OnTrackEnd(this);
  tracking_ = false;
}

void TMMCustomSlider::DrawThumb(QPainter& canvas, const TRect& rect) {
  if (OnDrawThumb) OnDrawThumb(this, canvas, TRect(rect), dragging_, blink_);
}

void TMMCustomSlider::DrawGroove(QPainter& canvas, TRect& rect) {
  if (OnDrawGroove) OnDrawGroove(this, canvas, rect);
}

void TMMCustomSlider::Loaded() {
  TMMCustomControl::Loaded();
  AllocBitmap(width(), height());
}

void TMMCustomSlider::SetBounds(int left, int top, int width, int height) {
  if (!bitmap_ || width != this->width() || height != this->height()) AllocBitmap(width, height);
  setGeometry(left, top, width, height);
  SizeChanged();
}

void TMMCustomSlider::resizeEvent(QResizeEvent* event) {
  TMMCustomControl::resizeEvent(event);
  SizeChanged();
}

void TMMCustomSlider::SizeChanged() {
  if (bitmap_ && bitmap_->size() != size()) AllocBitmap(width(), height());
  SetOrientation(width() >= height() ? TMMOrientation::orHorizontal : TMMOrientation::orVertical);
}

void TMMCustomSlider::AllocBitmap(int width, int height) {
  if (Loading()) return;
  ReleaseCachedBitmap(bitmap_);
  bitmap_ = GetCachedBitmap(std::max(width, 0), std::max(height, 0));
  update();
}

TRect TMMCustomSlider::TrackRect() const {
  TRect rect = ClientRect().Inset(Bevel()->BevelExtent());
  if (Vertical()) {
    rect.Top += pic_left_.height();
    rect.Bottom -= pic_right_.height();
  } else {
    rect.Left += pic_left_.width();
    rect.Right -= pic_right_.width();
  }
  return rect;
}

bool TMMCustomSlider::ScaleShownAt(TMMScalePos side) const {
  return scale_->Visible() && scale_position_ == side;
}

TRect TMMCustomSlider::ThumbRect(const TRect& track) const {
  const double range = std::max(max_ - min_, 1);
  const int offset = position_ - min_;
  int x = 0;
  int y = 0;
  if (Vertical()) {
    const int travel = track.Height() - thumb_height_;
    y = track.Top + std::max(0, std::min(travel, travel - RoundHalfEven(offset * (travel / range))));
    if (ScaleShownAt(TMMScalePos::spBelowOrRight)) x = track.Left;
    else if (ScaleShownAt(TMMScalePos::spAboveOrLeft)) x = track.Right - thumb_width_;
    else x = track.Left + track.Width() / 2 - half_width_;
  } else {
    const int travel = track.Width() - thumb_width_;
    x = track.Left + std::max(0, std::min(travel, RoundHalfEven(offset * (travel / range))));
    if (ScaleShownAt(TMMScalePos::spBelowOrRight)) y = track.Top;
    else if (ScaleShownAt(TMMScalePos::spAboveOrLeft)) y = track.Bottom - thumb_height_;
    else y = track.Top + track.Height() / 2 - half_height_;
  }
  return {x, y, x + thumb_width_, y + thumb_height_};
}

int TMMCustomSlider::PosFromPoint(int x, int y) const {
  const TRect track = TrackRect();
  const int travel = Vertical() ? track.Height() - thumb_height_ : track.Width() - thumb_width_;
  // A track no longer than the thumb has no travel to point into.
  if (travel <= 0) return min_;
  const double ratio = Vertical() ? (travel - (y - track.Top - half_height_)) / double(travel)
                                  : (x - track.Left - half_width_) / double(travel);
  const double value = ratio * (max_ - min_) + min_;
  return Clamp(RoundHalfEven(std::clamp(value, double(min_), double(std::max(min_, max_)))));
}

bool TMMCustomSlider::MoveByKey(int key) {
  int p = position_;
  switch (key) {
    case 33: p = std::min(p + page_size_, max_); break;
    case 34: p = std::max(p - page_size_, min_); break;
    case 35: p = Vertical() ? min_ : max_; break;
    case 36: p = Vertical() ? max_ : min_; break;
    case 38:
    case 39: if (p < max_) p += line_size_; break;
    case 37:
    case 40: if (p > min_) p -= line_size_; break;
    default: return false;
  }
  return InternalSetPosition(p);
}

void TMMCustomSlider::keyPressEvent(QKeyEvent* event) {
  if (MoveByKey(KeyNumber(event->key()))) Track();
  TMMCustomControl::keyPressEvent(event);
}

void TMMCustomSlider::keyReleaseEvent(QKeyEvent* event) {
  // A held key repeats its press alone, as one interaction.
  if (!event->isAutoRepeat()) TrackEnd();
  TMMCustomControl::keyReleaseEvent(event);
}

QCursor TMMCustomSlider::ThumbCursorShape() const {
  return ScreenCursor(hand_cursor_ ? kHandCursor : thumb_cursor_);
}

void TMMCustomSlider::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  const QPoint point = event->position().toPoint();
  const bool left = event->button() == Qt::LeftButton;
  if (Contains(last_thumb_, point.x(), point.y())) {
    if (left) dragging_ = true;
    setCursor(ThumbCursorShape());
  }
  if (left) {
    drag_origin_ = Vertical() ? point.y() : point.x();
    drag_start_ = position_;
    const bool jumped = !dragging_ && InternalSetPosition(PosFromPoint(point.x(), point.y()));
    if (!jumped) update();
    Track();
  }
  TMMCustomControl::mousePressEvent(event);
}

void TMMCustomSlider::mouseMoveEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  if (!dragging_) {
    if (Contains(last_thumb_, point.x(), point.y())) setCursor(ThumbCursorShape());
    else unsetCursor();
  }
  if (dragging_ && (event->buttons() & Qt::LeftButton)) {
    const TRect track = TrackRect();
    const int travel = Vertical() ? track.Height() - thumb_height_ : track.Width() - thumb_width_;
    const int moved = Vertical() ? drag_origin_ - point.y() : point.x() - drag_origin_;
    const int delta = travel > 0 ? MulDivRound(moved, max_ - min_, travel) : 0;
    if (InternalSetPosition(Clamp(drag_start_ + delta))) Track();
  }
  TMMCustomControl::mouseMoveEvent(event);
}

void TMMCustomSlider::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    dragging_ = false;
    update();
    TrackEnd();
  }
  TMMCustomControl::mouseReleaseEvent(event);
}

void TMMCustomSlider::focusInEvent(QFocusEvent* event) {
  TMMCustomControl::focusInEvent(event);
  if (OnGetFocus) OnGetFocus(this);
  if (focus_action_ == TMMFocusAction::faNone) return;
  SliderBlink::Start(this, isEnabled());
  update();
}

void TMMCustomSlider::focusOutEvent(QFocusEvent* event) {
  TMMCustomControl::focusOutEvent(event);
  if (OnLostFocus) OnLostFocus(this);
  if (focus_action_ == TMMFocusAction::faNone) return;
  SliderBlink::Stop(this);
  update();
}

void TMMCustomSlider::enterEvent(QEnterEvent* event) {
  TMMCustomControl::enterEvent(event);
  if (OnMouseEnter) OnMouseEnter(this);
}

void TMMCustomSlider::leaveEvent(QEvent* event) {
  TMMCustomControl::leaveEvent(event);
  if (OnMouseLeave) OnMouseLeave(this);
}

void TMMCustomSlider::changeEvent(QEvent* event) {
  TMMCustomControl::changeEvent(event);
  if (event->type() == QEvent::EnabledChange) update();
}

void TMMCustomSlider::BlinkTick() {
  if (dragging_) {
    blink_ = true;
    return;
  }
  blink_ = !blink_;
  update();
}

void TMMCustomSlider::Paint(QPainter& canvas) {
  if (!bitmap_) return;
  {
    QPainter picture(bitmap_);
    TRect inside = Bevel()->Paint(picture, ClientRect(), true);
    FillRect(picture, inside, Color());
    const TRect track = PaintPictures(picture, inside);
    last_thumb_ = ThumbRect(track);
    const TRect groove = GrooveRect(track);
    if (scale_->Visible()) PaintScale(picture, groove);
    PaintFocus(picture, track, PaintGroove(picture, groove));
    if (thumb_style_ == TMMThumbStyle::tsRect) PaintThumb(picture, last_thumb_);
    else DrawThumb(picture, last_thumb_);
  }
  canvas.drawImage(0, 0, *bitmap_);
}

int TMMCustomSlider::CentreLine(const TRect& rect) const {
  const int thumb = Vertical() ? thumb_width_ : thumb_height_;
  const int low = Vertical() ? rect.Left : rect.Top;
  const int high = Vertical() ? rect.Right : rect.Bottom;
  if (ScaleShownAt(TMMScalePos::spAboveOrLeft)) return high - thumb / 2;
  if (ScaleShownAt(TMMScalePos::spBelowOrRight)) return low + thumb / 2;
  return low + (high - low) / 2;
}

TRect TMMCustomSlider::PaintPictures(QPainter& canvas, TRect rect) const {
  const int centre = CentreLine(rect);
  if (!pic_left_.isNull()) {
    const int w = pic_left_.width();
    const int h = pic_left_.height();
    const bool v = Vertical();
    DrawTransparentBitmap(canvas, pic_left_, v ? centre - w / 2 : rect.Left,
                          v ? rect.Top : centre - h / 2, GetTransparentColor(pic_left_));
    (v ? rect.Top += h : rect.Left += w);
  }
  if (!pic_right_.isNull()) {
    const int w = pic_right_.width();
    const int h = pic_right_.height();
    const bool v = Vertical();
    (v ? rect.Bottom -= h : rect.Right -= w);
    DrawTransparentBitmap(canvas, pic_right_, v ? centre - w / 2 : rect.Right,
                          v ? rect.Bottom : centre - h / 2, GetTransparentColor(pic_right_));
  }
  return rect;
}

TRect TMMCustomSlider::GrooveRect(const TRect& track) const {
  const int g = groove_->BevelExtent();
  const int depth = 2 * g + groove_size_;
  const int half = Vertical() ? half_width_ : half_height_;
  const int low = Vertical() ? track.Left : track.Top;
  const int high = Vertical() ? track.Right : track.Bottom;
  int start = low + (high - low) / 2 - g - groove_size_ / 2;
  if (ScaleShownAt(TMMScalePos::spBelowOrRight)) start = low + half - g - groove_size_ / 2;
  if (ScaleShownAt(TMMScalePos::spAboveOrLeft)) start = high - half - g - groove_size_ / 2 - 1;
  if (Vertical()) return {start, track.Top, start + depth, track.Bottom};
  return {track.Left, start, track.Right, start + depth};
}

void TMMCustomSlider::PaintScale(QPainter& canvas, const TRect& g) {
  scale_->SetCanvas(&canvas);
  const int total = scale_->TotalSize();
  const int d = scale_distance_;
  const bool before = scale_position_ != TMMScalePos::spBelowOrRight;
  const bool after = scale_position_ != TMMScalePos::spAboveOrLeft;
  if (Vertical()) {
    const int top = g.Top + half_height_;
    const int bottom = g.Bottom - half_height_;
    if (before) scale_->Draw({g.Left - total - d, top, g.Left - d, bottom}, 1);
    if (after) scale_->Draw({g.Right + d, top, g.Right + total + d, bottom}, 0);
  } else {
    const int left = g.Left + half_width_;
    const int right = g.Right - half_width_;
    if (before) scale_->Draw({left, g.Top - total - d - 1, right, g.Top - d - 1}, 1);
    if (after) scale_->Draw({left, g.Bottom + d + 1, right, g.Bottom + total + d + 1}, 0);
  }
  scale_->SetCanvas(nullptr);
}

TRect TMMCustomSlider::PaintGroove(QPainter& canvas, TRect groove) {
  if (groove_style_ == TMMGrooveStyle::gsRect) return groove_->Paint(canvas, groove, true);
  const int g = groove_->BevelExtent();
  groove.Top += g;
  groove.Bottom -= g;
  DrawGroove(canvas, groove);
  return groove;
}

void TMMCustomSlider::PaintFocus(QPainter& canvas, const TRect& track, const TRect& inside) const {
  const bool focused = hasFocus();
  const auto action = focus_action_;
  if (focused && (action == TMMFocusAction::faFocusRect || action == TMMFocusAction::faAll)) {
    const TMMBevel& body = *Bevel();
    const bool grow = (body.BorderWidth() > 0 && body.BevelInner() == TBevelCut::bvNone) ||
                      body.BorderSpace() > 0;
    DrawFocusRect(canvas, track.Inset(grow ? -1 : 0));
  }
  const bool colour = action == TMMFocusAction::faFocusColor || action == TMMFocusAction::faAll;
  FillRect(canvas, inside, focused && colour ? focus_color_ : groove_color_);
}

void TMMCustomSlider::PaintThumb(QPainter& canvas, TRect thumb) const {
  const QColor frame = ToQColor(clWindowFrame);
  if (thumb_border_) {
    Frame3D(canvas, thumb, clWindowFrame, clWindowFrame, 1);
  } else {
    canvas.fillRect(thumb.Left, thumb.Bottom - 1, thumb.Width(), 1, frame);
    canvas.fillRect(thumb.Right - 1, thumb.Top, 1, thumb.Height(), frame);
    --thumb.Right;
    --thumb.Bottom;
  }
  Frame3D(canvas, thumb, clBtnHighlight, clBtnShadow, 1);
  const QColor light = ToQColor(clBtnHighlight);
  canvas.fillRect(thumb.Right, thumb.Top - 1, 1, 1, light);
  canvas.fillRect(thumb.Left - 1, thumb.Bottom, 1, 1, light);
  FillRect(canvas, thumb, thumb_color_);
  if (isEnabled() && !blink_) return;
  const QColor hatch = ToQColor(isEnabled() ? clBlack : disabled_color_);
  for (int y = thumb.Top; y < thumb.Bottom; ++y) {
    for (int x = thumb.Left + ((thumb.Left ^ y) & 1); x < thumb.Right; x += 2) {
      canvas.fillRect(x, y, 1, 1, hatch);
    }
  }
}

}  // namespace pmx
