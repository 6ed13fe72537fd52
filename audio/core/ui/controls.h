#pragma once

#include <QString>
#include <QWidget>
#include <memory>

#include "audio/core/objects/objects.h"
#include "audio/core/ui/bevel.h"
#include "audio/core/ui/graphics.h"

class QPainter;

namespace pmx {

// What the library's visual bases share: a widget that is also a component, with
// a colour and its own bevel. A change of the bevel repaints the control. GUI
// thread only.
class TMMControl : public QWidget, public TMMComponent {
 public:
  ~TMMControl() override;

  TMMBevel* Bevel() const { return bevel_.get(); }
  // Copies source into the control's own bevel.
  void SetBevel(const TMMBevel& source) { bevel_->Assign(source); }
  TColor Color() const { return color_; }
  void SetColor(TColor color);

  // 0, 0, Width, Height.
  TRect ClientRect() const { return {0, 0, width(), height()}; }
  // The client rectangle inside the bevel.
  virtual TRect GetInnerRect() const { return ClientRect().Inset(bevel_->BevelExtent()); }
  // Paints the bevel with its border band and fills what it leaves with Color.
  virtual void Paint(QPainter& canvas);
  // Also refreshes the control.
  void SetDesignMode(bool value) override;

 protected:
  TMMControl(TComponent* owner, QWidget* parent);
  void paintEvent(QPaintEvent* event) override;
  virtual void BevelChanged() { update(); }
  // Color took a new value.
  virtual void ColorChanged() { update(); }
  // Descendants that paint their whole inner area themselves skip the fill.
  bool NoFill() const { return no_fill_; }
  void SetNoFill(bool value) { no_fill_ = value; }

 private:
  std::unique_ptr<TMMBevel> bevel_;
  TColor color_ = clBtnFace;
  bool no_fill_ = false;
};

// Base of the library's windowed controls.
class TMMCustomControl : public TMMControl {
 public:
  explicit TMMCustomControl(TComponent* owner = nullptr, QWidget* parent = nullptr);
};

// Base of the library's light-weight controls.
class TMMGraphicControl : public TMMControl {
 public:
  explicit TMMGraphicControl(TComponent* owner = nullptr, QWidget* parent = nullptr);
  using TMMControl::NoFill;
  using TMMControl::SetNoFill;
};

// A bevelled panel with a caption; child widgets in a layout keep inside its bevel.
class TMMCustomPanel : public TMMControl {
 public:
  explicit TMMCustomPanel(TComponent* owner = nullptr, QWidget* parent = nullptr);

  const QString& Caption() const { return caption_; }
  void SetCaption(const QString& caption);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment alignment);

  // The bevel and fill, then the caption vertically centred in the inner rectangle.
  void Paint(QPainter& canvas) override;

 protected:
  void BevelChanged() override;

 private:
  void Realign();

  QString caption_;
  TAlignment alignment_ = TAlignment::taCenter;
};

class TMMPanel : public TMMCustomPanel {
 public:
  using TMMCustomPanel::TMMCustomPanel;
};

}  // namespace pmx
