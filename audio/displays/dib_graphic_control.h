#pragma once

#include <QImage>
#include <QRegion>
#include <atomic>
#include <functional>
#include <optional>
#include <memory>
#include <mutex>

#include "audio/core/ui/controls.h"
#include "audio/displays/dib_canvas.h"

namespace pmx {

// Base of the bitmap-drawn displays: a graphic control that owns a TMMDIBCanvas of
// its own size and a back-store picture of the whole control. Paint draws into the
// back-store, which the paint event then shows; PaintDirect lets a feeding thread
// draw into the back-store at once and asks the GUI thread to show it;
// PaintDirectSoon does the same after the GUI thread's current work.
//
// Threads: everything but PaintDirect, Visible and HasParent belongs to the GUI
// thread. paint_lock_ guards the back-store (the control's own canvas) and the
// full-paint flag: the paint event and PaintDirect hold it while they draw, so the
// two never mix on it; the DIB canvas has its own lock. The visible and parent flags are atomic mirrors that
// the GUI thread keeps, so a feeding thread never asks the widget itself; its
// update request goes through the main loop.
class TMMDIBGraphicControl : public TMMGraphicControl {
 public:
  explicit TMMDIBGraphicControl(TComponent* owner = nullptr, QWidget* parent = nullptr);
  ~TMMDIBGraphicControl() override;

  int Tag2() const { return tag2_; }
  void SetTag2(int value) { tag2_ = value; }

  TMMDIBCanvas& DIBCanvas() const { return *canvas_; }
  int BitsPerPixel() const { return canvas_->BitsPerPixel(); }
  virtual void SetBitsPerPixel(int bits);
  bool PaletteRealize() const { return canvas_->PaletteRealize(); }
  void SetPaletteRealize(bool value);
  bool PaletteMapped() const { return canvas_->PaletteMapped(); }
  void SetPaletteMapped(bool value);
  const QImage& BackGroundDIB() const { return background_; }
  void SetBackGroundDIB(const QImage& picture);
  bool UseBackGroundDIB() const { return use_background_; }
  void SetUseBackGroundDIB(bool value);

  // Moves and sizes the control; the DIB canvas always takes its size.
  virtual void SetBounds(int left, int top, int width, int height);
  // The control's own Visible flag: hiding a parent window does not clear it.
  bool Visible() const { return visible_.load(); }
  bool HasParent() const { return has_parent_.load(); }
  void setVisible(bool visible) override;

  // Starts the picture of a frame; call between the canvas's BeginDrawing and
  // EndDrawing: the background picture when there is one, else Color.
  virtual void FillBackground();

  // Draws proc into the back-store at once (any thread) and schedules the update
  // that shows it; nothing on a hidden control or one without a parent. The whole
  // control is shown again unless proc names what it changed with ChangedArea.
  void PaintDirect(const std::function<void(QPainter& canvas)>& proc);
  // PaintDirect once the GUI thread has finished what it is doing, once for every
  // request made until then (any thread): a feed that changes the picture many
  // times in one go draws only the last of those pictures, the one that can be seen.
  void PaintDirectSoon(std::function<void(QPainter& canvas)> proc);
  // Asks for a full paint at the next paint event (GUI thread).
  void Invalidate();
  // A copy of what the control shows (GUI thread or under PaintDirect's lock).
  QImage BackStore() const;
  // Inside a PaintDirect: the part of the control the drawing changed (control
  // coordinates; several calls add up, none at all shows nothing new).
  void ChangedArea(const QRect& area);

 protected:
  void Loaded() override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void ColorChanged() override { Invalidate(); }
  // The control's size changed; the canvas already has the new size.
  virtual void BoundsChanged() {}
  // Shows or hides a scale that takes room from the picture (field): the bounds are
  // clamped anew, the layout redone even when the size stays, and all redrawn.
  void SetScaleShown(bool& field, bool value);
  // For a display whose picture builds up refresh by refresh: from now on an
  // exposure only shows the back-store, and Paint runs after Invalidate (and on
  // a new size) alone.
  void KeepPictureOnExpose() { keep_on_expose_ = true; }

 private:
  void SyncSize();
  void BackGroundDIBChanged();
  void ApplyBackground();
  // update(area) from any thread: directly on the GUI thread, else through the main
  // loop, one queued update for every area asked for until it runs.
  void RequestUpdate(const QRect& area);
  // On the GUI thread: update(area), remembered as drawn directly.
  void ShowDirect(const QRect& area);

  int tag2_ = 0;
  std::unique_ptr<TMMDIBCanvas> canvas_;
  QImage background_;
  bool use_background_ = false;
  bool loaded_use_background_ = false;
  std::atomic<bool> visible_{true};
  std::atomic<bool> has_parent_{false};
  mutable std::recursive_mutex paint_lock_;
  QImage back_store_;
  std::atomic<bool> paint_posted_{false};
  bool keep_on_expose_ = false;
  bool full_paint_ = true;  // under paint_lock_
  std::optional<QRect> changed_;  // what a PaintDirect changed, when named; under paint_lock_
  std::mutex update_lock_;
  QRect queued_update_;  // the area of the queued update; under update_lock_
  // What PaintDirect asked to show since the last paint event (GUI thread): there
  // the back-store already holds the current picture.
  QRegion direct_;
  std::shared_ptr<TMMDIBGraphicControl*> self_;  // queued updates hold it weakly
};

}  // namespace pmx
