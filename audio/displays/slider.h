#pragma once

#include <QImage>
#include <cstdint>
#include <functional>
#include <memory>

#include "audio/core/ui/controls.h"
#include "audio/core/ui/gui_utils.h"
#include "audio/displays/bitmap_cache.h"
#include "audio/displays/scale.h"

namespace pmx {

enum class TMMOrientation { orVertical, orHorizontal };
enum class TMMFocusAction { faNone, faFocusThumb, faFocusRect, faFocusColor, faAll };
enum class TMMThumbStyle { tsRect, tsOwnerDraw };
enum class TMMGrooveStyle { gsRect, gsOwnerDraw };

using TMMThumbDrawEvent = std::function<void(TObject* Sender, QPainter& aCanvas,
                                             const TRect& aRect, bool Dragged, bool Focused)>;
using TMMGrooveDrawEvent = std::function<void(TObject* Sender, QPainter& aCanvas, TRect& aRect)>;

// A track bar: a bevelled body, a bevelled groove, a rectangular thumb, an optional
// tick scale beside the groove and optional pictures at both ends. Position maps
// to the thumb linearly, or logarithmically over Sensitivity decibels. Keys and
// the mouse move the thumb and report OnTrack, then OnTrackEnd when the key or
// button is let go; setting Position from code reports only OnChange.
// The control paints into a bitmap it shares through the bitmap cache with the
// other sliders of its size, then shows it in one copy.
// Threads: GUI thread only, the focus blink included.
class TMMCustomSlider : public TMMCustomControl {
 public:
  // The cursor number HandCursor shows over the thumb.
  static constexpr TCursor kHandCursor = 2005;

  explicit TMMCustomSlider(TComponent* owner = nullptr, QWidget* parent = nullptr);
  ~TMMCustomSlider() override;

  TMMBevel* Groove() const { return groove_.get(); }
  void SetGroove(const TMMBevel& source) { groove_->Assign(source); }
  TMMScale* Scale() const { return scale_.get(); }
  void SetScale(const TMMCustomScale& source) { scale_->Assign(source); }
  const TBitmap& PicLeft() const { return pic_left_; }
  void SetPicLeft(const TBitmap& picture);
  const TBitmap& PicRight() const { return pic_right_; }
  void SetPicRight(const TBitmap& picture);

  bool HandCursor() const { return hand_cursor_; }
  void SetHandCursor(bool value) { hand_cursor_ = value; }
  TCursor ThumbCursor() const { return thumb_cursor_; }
  void SetThumbCursor(TCursor value) { thumb_cursor_ = value; }

  int MinValue() const { return min_; }
  void SetMinValue(int value) { SetRange(value, max_); }
  int MaxValue() const { return max_; }
  // Raised to MinValue + 1 when lower, except while loading.
  void SetMaxValue(int value) { SetRange(min_, value); }
  void SetRange(int min, int max);
  // The published position: the thumb's own value, or its logarithmic reading.
  int GetPosition() const;
  void SetPosition(int value);
  int Position() const { return GetPosition(); }
  int LineSize() const { return line_size_; }
  void SetLineSize(int value) { line_size_ = value; }
  int PageSize() const { return page_size_; }
  void SetPageSize(int value) { page_size_ = value; }
  // -96 .. -20 dB.
  int Sensitivity() const { return sensitivity_; }
  void SetSensitivity(int value);
  bool Logarithmic() const { return logarithmic_; }
  void SetLogarithmic(bool value);

  TMMOrientation Orientation() const { return orientation_; }
  void SetOrientation(TMMOrientation value);
  TMMFocusAction FocusAction() const { return focus_action_; }
  void SetFocusAction(TMMFocusAction value);
  int ThumbWidth() const { return thumb_width_; }
  void SetThumbWidth(int value) { SetThumbSize(value, thumb_height_); }
  int ThumbHeight() const { return thumb_height_; }
  void SetThumbHeight(int value) { SetThumbSize(thumb_width_, value); }
  TColor ThumbColor() const { return thumb_color_; }
  void SetThumbColor(TColor value) { SetLook(thumb_color_, value); }
  bool ThumbBorder() const { return thumb_border_; }
  void SetThumbBorder(bool value) { SetLook(thumb_border_, value); }
  TColor GrooveColor() const { return groove_color_; }
  void SetGrooveColor(TColor value) { SetLook(groove_color_, value); }
  TColor FocusColor() const { return focus_color_; }
  void SetFocusColor(TColor value) { SetLook(focus_color_, value); }
  TColor DisabledColor() const { return disabled_color_; }
  void SetDisabledColor(TColor value) { SetLook(disabled_color_, value); }
  int ScaleDistance() const { return scale_distance_; }
  void SetScaleDistance(int value) { SetLook(scale_distance_, value); }
  TMMScalePos ScalePosition() const { return scale_position_; }
  void SetScalePosition(TMMScalePos value) { SetLook(scale_position_, value); }
  int GrooveSize() const { return groove_size_; }
  // 0 .. 255; repaints even when unchanged.
  void SetGrooveSize(int value);
  TMMThumbStyle ThumbStyle() const { return thumb_style_; }
  void SetThumbStyle(TMMThumbStyle value) { SetLook(thumb_style_, value); }
  TMMGrooveStyle GrooveStyle() const { return groove_style_; }
  void SetGrooveStyle(TMMGrooveStyle value) { SetLook(groove_style_, value); }

  // Moves and sizes the control; a new size takes a paint bitmap of that size.
  virtual void SetBounds(int left, int top, int width, int height);
  // Draws the slider into its paint bitmap and copies that onto canvas at 0, 0.
  void Paint(QPainter& canvas) override;

  // The client area inside the body bevel and the end pictures.
  TRect TrackRect() const;
  // Where the thumb lies for the present position in track.
  TRect ThumbRect(const TRect& track) const;
  // The position a point on the track stands for.
  int PosFromPoint(int x, int y) const;
  bool Dragging() const { return dragging_; }
  bool Blinking() const { return blink_; }
  // The shared paint bitmap (null before it is allocated).
  const TBitmap* PaintBitmap() const { return bitmap_; }

  TNotifyEvent OnChange;
  TNotifyEvent OnTrack;
  TNotifyEvent OnTrackEnd;
  TMMThumbDrawEvent OnDrawThumb;
  TMMGrooveDrawEvent OnDrawGroove;
  TNotifyEvent OnGetFocus;
  TNotifyEvent OnLostFocus;
  TNotifyEvent OnMouseEnter;
  TNotifyEvent OnMouseLeave;

 protected:
  virtual void Change();
  virtual void Track();
  virtual void TrackEnd();
  virtual void DrawThumb(QPainter& canvas, const TRect& rect);
  virtual void DrawGroove(QPainter& canvas, TRect& rect);
  void Loaded() override;

  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  friend class SliderBlink;

  template <class T>
  void SetLook(T& field, T value) {
    if (field == value) return;
    field = value;
    update();
  }
  void SetThumbSize(int width, int height);
  bool Vertical() const { return orientation_ == TMMOrientation::orVertical; }
  int Clamp(int value) const;
  // Stores value as the thumb's position; answers whether it acted.
  bool InternalSetPosition(int value);
  bool MoveByKey(int key);
  void AllocBitmap(int width, int height);
  void SizeChanged();
  QCursor ThumbCursorShape() const;
  void BlinkTick();

  // Painting, in the order the picture is built.
  TRect PaintPictures(QPainter& canvas, TRect rect) const;
  int CentreLine(const TRect& rect) const;
  TRect GrooveRect(const TRect& track) const;
  void PaintScale(QPainter& canvas, const TRect& groove);
  TRect PaintGroove(QPainter& canvas, TRect groove);
  void PaintFocus(QPainter& canvas, const TRect& track, const TRect& inside) const;
  void PaintThumb(QPainter& canvas, TRect thumb) const;
  bool ScaleShownAt(TMMScalePos side) const;

  bool dragging_ = false;
  std::unique_ptr<TMMBevel> groove_;
  bool hand_cursor_ = false;
  TCursor thumb_cursor_ = crDefault;
  int max_ = 10;
  int min_ = 0;
  int position_ = 0;
  int line_size_ = 1;
  int page_size_ = 5;
  TMMOrientation orientation_ = TMMOrientation::orHorizontal;
  TMMFocusAction focus_action_ = TMMFocusAction::faFocusRect;
  uint8_t thumb_width_ = 11;
  uint8_t thumb_height_ = 23;
  TColor thumb_color_ = clBtnFace;
  bool thumb_border_ = true;
  TColor groove_color_ = clBtnFace;
  TColor focus_color_ = clActiveCaption;
  TColor disabled_color_ = clWhite;
  bool blink_ = false;
  int scale_distance_ = 10;
  TMMScalePos scale_position_ = TMMScalePos::spBelowOrRight;
  std::unique_ptr<TMMScale> scale_;
  int groove_size_ = 3;
  TMMThumbStyle thumb_style_ = TMMThumbStyle::tsRect;
  TMMGrooveStyle groove_style_ = TMMGrooveStyle::gsRect;
  TBitmap* bitmap_ = nullptr;
  bool forced_ = false;
  int drag_origin_ = 0;
  int drag_start_ = 0;
  int half_width_ = 5;
  int half_height_ = 11;
  TRect last_thumb_;
  TBitmap pic_left_;
  TBitmap pic_right_;
  int sensitivity_ = -24;
  bool logarithmic_ = false;
  bool tracking_ = false;
};

// The published slider: 200 x 40, a five-pixel bevel border, a tab stop.
class TMMSlider : public TMMCustomSlider {
 public:
  using TMMCustomSlider::TMMCustomSlider;
};

}  // namespace pmx
