#pragma once

#include <QString>
#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "audio/core/ui/gui_utils.h"
#include "audio/displays/dib_graphic_control.h"
#include "audio/displays/info_box.h"

class QMouseEvent;

namespace pmx {

// Sender, first and last column of a selection (-1: none).
using TMMSelectEvent = std::function<void(TObject* Sender, int first, int last)>;

// The displays of one class in a process that are not being designed: a full
// repaint of one asks the others to start their picture afresh at their next
// refresh. The lock guards the member list; the flags are the members' own.
class TMMDisplayGroup {
 public:
  void Join(std::atomic<bool>* redraw);
  void Leave(std::atomic<bool>* redraw);
  void MarkOthers(const std::atomic<bool>* self);

 private:
  std::mutex lock_;
  std::vector<std::atomic<bool>*> members_;
};

// A range of picture columns chosen with the right button. The ends are atomics
// because a feed on another thread draws them; the drag state is the GUI thread's.
class TMMColumnSelection {
 public:
  // How close to an end a press grabs it: pixels before and after each end.
  struct Grip {
    int before_first, after_first, before_last, after_last;
  };
  enum class Part { kNone, kFirst, kLast, kInside };

  int First() const { return first_; }
  int Last() const { return last_; }
  // Ends above limit become limit, negative ones -1; reversed ends are swapped and
  // an empty range clears both. True when the ends changed.
  bool Set(int first, int last, int limit);
  Part At(int x, const Grip& grip) const;
  // A press at column x; returns the ends to select now.
  std::pair<int, int> Press(int x, const Grip& grip);
  // The pointer at column x (inside 0 .. width - 1) while a press is held.
  std::pair<int, int> Drag(int x, int width) const;
  bool Dragging() const { return drag_ != Part::kNone; }
  // Ends the drag; the ends to keep, none for a selection one column wide.
  std::pair<int, int> Release();

 private:
  std::atomic<int> first_{-1};
  std::atomic<int> last_{-1};
  Part drag_ = Part::kNone;
  int grab_x_ = 0;
  int grab_first_ = 0;
  int grab_last_ = 0;
};

// Base of the displays that build their picture from refresh to refresh, the
// oscilloscope and the spectrogram: a picture rectangle inside bevel and scales,
// a scan bar, a selection made with the right button and a read-out that
// follows the left button. An exposure shows the picture as it is; setters ask
// for a full paint, which starts it afresh.
//
// Threads: properties, layout, painting and the mouse belong to the GUI thread.
// The feed runs on the connector's refresh thread; it draws under the back-store
// lock (PaintDirect), which also guards the scan state of the subclasses. The
// info mode, the redraw request and the selection ends, which the feed reads,
// are atomics.
class TMMScanDisplay : public TMMDIBGraphicControl {
 public:
  enum ColorIndex {
    kBar,
    kBarTick,
    kSelection,
    kSelectionDot,
    kLocator,
    kScaleText,
    kScaleLine,
    kScanColorCount
  };

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value) { SetInvalidate(enabled_, value); }
  int BarWidth() const { return bar_width_; }
  void SetBarWidth(int value);
  bool Scroll() const { return scroll_; }
  void SetScroll(bool value);
  bool Accelerate() const { return accelerate_; }
  void SetAccelerate(bool value);
  bool ShowInfo() const { return show_info_; }
  void SetShowInfo(bool value) { show_info_ = value; }
  bool Locked() const { return locked_; }
  void SetLocked(bool value) { locked_ = value; }
  bool UseSelection() const { return use_selection_; }
  void SetUseSelection(bool value) { use_selection_ = value; }
  TColor ScanColor(ColorIndex index) const { return scan_colors_[index]; }
  void SetScanColor(ColorIndex index, TColor value);

  TRect PictureRect() const { return picture_; }
  int PictureWidth() const { return width_; }
  int PictureHeight() const { return height_; }
  int SelectionStart() const { return selection_.First(); }
  int SelectionEnd() const { return selection_.Last(); }
  bool InfoMode() const { return info_mode_; }
  // The read-out for a point of the picture (picture coordinates).
  virtual std::string InfoText(int x, int y) const = 0;

  // Sets the selection, repainting when it changed, then fires OnSelecting.
  void Selecting(int first, int last);
  // Sets the selection without a repaint, then fires OnSelectEnd.
  void SelectEnd(int first, int last);

  TMMSelectEvent OnSelecting;
  TMMSelectEvent OnSelectEnd;

 protected:
  TMMScanDisplay(TComponent* owner, QWidget* parent, TMMDisplayGroup& group);
  ~TMMScanDisplay() override;

  void SetDesignMode(bool value) override;
  // Sets the picture rectangle; W and H are kept at least 4.
  void SetPicture(const TRect& picture);
  virtual TMMColumnSelection::Grip SelectionGrip() const = 0;
  virtual void ScrollChanged() { Invalidate(); }
  TColor ParentColor() const;
  // Ends the read-out as a left-button release would.
  void EndInfoMode();

  // The picture rows of the bar's ticks, top first or last.
  virtual std::vector<int> TickRows() const = 0;
  // The scan starts afresh: the write column BarWidth behind the bar at 0.
  void ResetScan();
  // Frame helpers, between the canvas's BeginDrawing and EndDrawing. The bar
  // band in the picture: from the column after the write column (0 once the
  // bar has wrapped) to the bar column.
  void DrawBarBand();
  // Moves the scan on by one column after a frame: the bar as a line on the
  // back-store (accelerated), then the columns, which wrap round without Scroll;
  // a full scrolling picture moves left under the newest column instead.
  void AdvanceScan(QPainter& dc);
  // The selection's fill (XORed or solid) and its dashed frame.
  void DrawSelectionFill(bool xor_fill);
  void DrawSelectionFrame();
  // Copies picture columns from .. from + count - 1 to the back-store.
  void ShowColumns(QPainter& dc, int from, int count);
  // Moves the picture's columns 1 .. count one to the left.
  void ShiftLeft(int count);

  // The picture is to start afresh at the next frame; a full repaint of one
  // display asks that of the other members of its group.
  bool RedrawPending() const { return redraw_; }
  void RequestRedraw() { redraw_ = true; }
  void ClearRedraw() { redraw_ = false; }
  void MarkOthersForRedraw() { group_.MarkOthers(&redraw_); }

  bool event(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

  template <class T>
  void SetInvalidate(T& field, T value) {
    if (field == value) return;
    field = value;
    Invalidate();
  }

  TRect picture_;
  int width_ = 4;
  int height_ = 4;
  TMMColumnSelection selection_;
  std::atomic<bool> info_mode_{false};
  // Where the next column is drawn and the bar's leading edge (back-store lock).
  int write_column_ = 0;
  int bar_column_ = 0;
  int min_bar_width_ = 0;

 private:
  QPoint ClampToPicture(const QPoint& at) const;
  void DrawBarLine(QPainter& dc, int x) const;
  void HoverCursor(int column);

  TMMDisplayGroup& group_;
  bool enabled_ = true;
  int bar_width_ = 5;
  bool scroll_ = false;
  bool accelerate_ = true;
  bool show_info_ = true;
  bool locked_ = false;
  bool use_selection_ = false;
  std::array<TColor, kScanColorCount> scan_colors_{clGray,   clWhite, clRed,  clRed,
                                                   clYellow, clBlack, clBlack};
  std::atomic<bool> redraw_{false};
  TMMInfoBox info_box_;
  TCursor shown_cursor_ = crCross;
};

}  // namespace pmx
