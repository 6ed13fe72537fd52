#pragma once

#include <QString>

#include "audio/core/ui/controls.h"

namespace pmx {

inline constexpr TColor clBackground = clSystemColor | 1;     // the desktop

enum class TMMGaugeKind { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };

// A progress value shown as a bar, a pie, a needle or text alone, with an
// optional percentage text. GUI thread only.
class TMMCustomGauge : public TMMGraphicControl {
 public:
  explicit TMMCustomGauge(TComponent* owner = nullptr, QWidget* parent = nullptr);

  TMMGaugeKind Kind() const { return kind_; }
  void SetKind(TMMGaugeKind v) { Store(kind_, v); }
  bool ShowText() const { return show_text_; }
  void SetShowText(bool v) { Store(show_text_, v); }
  TColor ForeColor() const { return fore_color_; }
  void SetForeColor(TColor v) { Store(fore_color_, v); }
  TColor BackColor() const { return back_color_; }
  void SetBackColor(TColor v) { Store(back_color_, v); }
  const QString& Caption() const { return caption_; }
  void SetCaption(const QString& v) { Store(caption_, v); }
  bool BWText() const { return bw_text_; }
  void SetBWText(bool v) { Store(bw_text_, v); }
  int MinValue() const { return min_value_; }
  void SetMinValue(int v);
  int MaxValue() const { return max_value_; }
  void SetMaxValue(int v);
  int Progress() const { return progress_; }
  // Repaints at once when the percentage shown changes, not otherwise.
  void SetProgress(int v);

  int PercentDone() const;
  // "Caption 42%" or "42%".
  QString Text() const;

  void Paint(QPainter& canvas) override;

 protected:
  // The painting steps, on an off-screen picture of the inner size.
  virtual void PaintKind(QPainter& canvas, int width, int height);
  virtual void PaintText(QPainter& canvas, int width, int height);
  virtual void PaintBar(QPainter& canvas, int width, int height);
  virtual void PaintPie(QPainter& canvas, int width, int height);
  virtual void PaintNeedle(QPainter& canvas, int width, int height);
  virtual void PaintBackText(QPainter& canvas, int width, int height);

 private:
  template <class T>
  void Store(T& field, const T& value) {
    if (field == value) return;
    field = value;
    update();
  }
  void PaintSplitText(QPainter& canvas, int width, int height);

  TMMGaugeKind kind_ = TMMGaugeKind::gkHorizontalBar;
  bool show_text_ = true;
  TColor fore_color_ = clActiveCaption;
  TColor back_color_ = clWhite;
  QString caption_;
  bool bw_text_ = false;
  int min_value_ = 0;
  int max_value_ = 100;
  int progress_ = 0;
};

class TMMGauge : public TMMCustomGauge {
 public:
  using TMMCustomGauge::TMMCustomGauge;
};

// trunc(length * percent * 0.01).
int GaugeExtent(int percent, int length);

}  // namespace pmx
