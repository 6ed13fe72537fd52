#pragma once

#include <QFont>
#include <QString>
#include <vector>

#include "audio/core/ui/controls.h"
#include "audio/displays/level.h"
#include "audio/displays/scale.h"

namespace pmx {

// The tick scale a level scale owns; hidden until the user shows it.
class TMMLevScale : public TMMCustomScale {
 public:
  TMMLevScale() { SetVisible(false); }
};

// A strip of dB labels (and optional tick scales) placed beside a level bar. It
// draws from its own properties only: the user gives it the bar's settings.
// Threads: GUI thread only.
class TMMLevelScale : public TMMGraphicControl {
 public:
  // One label of the strip, where and in which colour it is written.
  struct Label {
    int X = 0;
    int Y = 0;
    QString Text;
    TColor Color = 0;
  };

  explicit TMMLevelScale(TComponent* owner = nullptr, QWidget* parent = nullptr);

  int ScaleTicks() const { return scale_ticks_; }
  // At least 2.
  void SetScaleTicks(int value);
  int Point1() const { return point1_; }
  int Point2() const { return point2_; }
  // Clamped to 1..100.
  void SetPoint1(int value);
  void SetPoint2(int value);
  TColor Scale1Color() const { return scale_colors_[0]; }
  TColor Scale2Color() const { return scale_colors_[1]; }
  TColor Scale3Color() const { return scale_colors_[2]; }
  void SetScale1Color(TColor value) { Change(scale_colors_[0], value); }
  void SetScale2Color(TColor value) { Change(scale_colors_[1], value); }
  void SetScale3Color(TColor value) { Change(scale_colors_[2], value); }
  int Sensitivy() const { return sensitivity_; }
  // Clamped to -90..-9.
  void SetSensitivy(int value);
  bool LogAmp() const { return log_amp_; }
  void SetLogAmp(bool value) { Change(log_amp_, value); }
  TMMLevelKind Kind() const { return kind_; }
  // Turns the strip when its shape does not fit the new kind.
  void SetKind(TMMLevelKind value);
  TMMLevelDirection Direction() const { return direction_; }
  void SetDirection(TMMLevelDirection value) { Change(direction_, value); }
  TMMLevScale* Scale() { return &scale_; }
  void SetScale(const TMMCustomScale& value) { scale_.Assign(value); }
  TMMScalePos ScalePos() const { return scale_pos_; }
  void SetScalePos(TMMScalePos value) { Change(scale_pos_, value); }

  void Paint(QPainter& canvas) override;
  // The labels the strip writes into the area left by the tick scales.
  std::vector<Label> Labels(int left, int top, int right, int bottom) const;

 private:
  template <typename T>
  void Change(T& field, T value) {
    if (field == value) return;
    field = value;
    update();
  }
  bool Horizontal() const { return kind_ == TMMLevelKind::lkHorizontal; }
  bool Reversed() const { return direction_ == TMMLevelDirection::dirReversed; }
  bool Symmetric() const { return direction_ == TMMLevelDirection::dirSymetric; }
  void DrawScales(QPainter& canvas, int& left, int& top, int& right, int& bottom);
  int LabelStep(int t) const;
  TColor LabelColor(int k) const;
  int LabelValue(int k) const;
  void PlaceLabel(std::vector<Label>& labels, int k, int left, int top, int right, int bottom) const;

  int scale_ticks_ = 8;
  int point1_ = 50;
  int point2_ = 85;
  TColor scale_colors_[3] = {16777215, 16777215, 255};
  int sensitivity_ = -35;
  bool log_amp_ = true;
  TMMLevelKind kind_ = TMMLevelKind::lkHorizontal;
  TMMLevelDirection direction_ = TMMLevelDirection::dirNormal;
  TMMLevScale scale_;
  TMMScalePos scale_pos_ = TMMScalePos::spBoth;
};

}  // namespace pmx
