#pragma once

#include <functional>

#include "audio/core/ui/graphics.h"
#include "platform/exception.h"

class QPainter;

namespace pmx {

class EMMScaleError : public Exception {
 public:
  using Exception::Exception;
};

enum class TMMScaleStyle { stColor, stLowered, stRaised };
enum class TMMScaleOrigin { soInner, soOuter };
// Which side of its owner's groove or bar a scale is drawn on.
enum class TMMScalePos { spAboveOrLeft, spBelowOrRight, spBoth };

class TMMCustomScale;
// Called after every change of a scale's properties; owners repaint.
using TMMScaleChangeEvent = std::function<void(TMMCustomScale& scale)>;

// A row of tick marks along one side of an owning control. Not a control itself:
// the owner assigns a canvas and asks it to draw into a rectangle. Zone colours and
// zone ticks belong to the owner, which sets them before drawing.
// Threads: GUI thread only.
class TMMCustomScale {
 public:
  TMMCustomScale() = default;
  virtual ~TMMCustomScale() = default;
  TMMCustomScale(const TMMCustomScale&) = delete;
  TMMCustomScale& operator=(const TMMCustomScale&) = delete;

  bool Visible() const { return visible_; }
  void SetVisible(bool value);
  TColor Color() const { return color_; }
  // Also resets both zone colours, which switches the zones off until an owner
  // gives them colours of their own.
  void SetColor(TColor value);
  TColor ZoneColor2() const { return zone_color2_; }
  void SetZoneColor2(TColor value) { zone_color2_ = value; }
  TColor ZoneColor3() const { return zone_color3_; }
  void SetZoneColor3(TColor value) { zone_color3_ = value; }
  int ZoneTick1() const { return zone_tick1_; }
  void SetZoneTick1(int value) { zone_tick1_ = value; }
  int ZoneTick2() const { return zone_tick2_; }
  void SetZoneTick2(int value) { zone_tick2_ = value; }
  // How an owner colours the scale just before it draws: the colours of the three
  // zones and the ticks where the second and third begin. Reports no change.
  void SetZones(TColor color1, TColor color2, TColor color3, int tick1, int tick2);
  QPainter* Canvas() const { return canvas_; }
  void SetCanvas(QPainter* canvas) { canvas_ = canvas; }
  TMMScaleStyle Style() const { return style_; }
  void SetStyle(TMMScaleStyle value);
  int TickCount() const { return tick_count_; }
  // At least 2.
  void SetTickCount(int value);
  int EnlargeEvery() const { return enlarge_every_; }
  // At least 1.
  void SetEnlargeEvery(int value);
  int Size() const { return size_; }
  // Length of a long tick in pixels, at least 1.
  void SetSize(int value);
  TMMScaleOrigin Origin() const { return origin_; }
  void SetOrigin(TMMScaleOrigin value);
  bool Connect() const { return connect_; }
  void SetConnect(bool value);
  void SetOnChange(TMMScaleChangeEvent handler) { on_change_ = std::move(handler); }

  // Depth the scale needs across its direction.
  int TotalSize() const;
  // Copies the published properties (not the zone colours and ticks) and reports
  // the change.
  virtual void Assign(const TMMCustomScale& source);
  // Draws into rect: vertical when rect is at least as tall as wide. side is 1 when
  // the scale lies above or left of the owner's groove, 0 when below or right.
  // Raises EMMScaleError when no canvas is assigned.
  void Draw(const TRect& rect, int side);

 protected:
  virtual void Changed();

 private:
  struct Zones;
  Zones ComputeZones(float length) const;
  void DrawConnection(const TRect& rect, bool vertical, bool at_start, int k, const Zones& z);
  void DrawTicks(const TRect& rect, bool vertical, bool at_start, int k, const Zones& z);
  void Line(int x1, int y1, int x2, int y2, TColor color);

  bool visible_ = true;
  TColor color_ = clBlack;
  TColor zone_color2_ = clBlack;
  TColor zone_color3_ = clBlack;
  int zone_tick1_ = 0;
  int zone_tick2_ = 0;
  QPainter* canvas_ = nullptr;
  TMMScaleStyle style_ = TMMScaleStyle::stColor;
  int tick_count_ = 11;
  int enlarge_every_ = 5;
  int size_ = 7;
  TMMScaleOrigin origin_ = TMMScaleOrigin::soInner;
  bool connect_ = false;
  TMMScaleChangeEvent on_change_;
};

// The published scale, as a slider shows it beside its groove.
class TMMScale : public TMMCustomScale {};

}  // namespace pmx
