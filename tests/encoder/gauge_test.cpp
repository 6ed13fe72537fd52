#include "encoder/gauge.h"

#include <QCoreApplication>
#include <QImage>

#include <gtest/gtest.h>

namespace pmx {
namespace {

struct CountingGauge : TMMGauge {
  void Paint(QPainter& canvas) override {
    ++paints;
    TMMGauge::Paint(canvas);
  }
  int paints = 0;
};

TEST(Gauge, TextsAndClamping) {
  TMMGauge g;
  EXPECT_EQ(g.width(), 150);
  EXPECT_EQ(g.Text(), "0%");
  g.SetProgress(150);
  EXPECT_EQ(g.Progress(), 100);
  EXPECT_EQ(g.Text(), "100%");
  g.SetCaption("Encode");
  g.SetProgress(42);
  EXPECT_EQ(g.Text(), "Encode 42%");
  g.SetMinValue(500);
  EXPECT_EQ(g.MinValue(), 100);
  g.SetMaxValue(100);
  EXPECT_EQ(g.PercentDone(), 0);
  EXPECT_EQ(g.Text(), "Encode 0%");
}

TEST(Gauge, RepaintsOnlyWhenThePercentageChanges) {
  CountingGauge g;
  g.SetMaxValue(1000);
  g.show();
  QCoreApplication::processEvents();
  const int shown = g.paints;
  g.SetProgress(100);
  const int at_ten = g.paints;
  EXPECT_EQ(at_ten, shown + 1);
  g.SetProgress(105);
  EXPECT_EQ(g.paints, at_ten);
  g.SetProgress(110);
  EXPECT_EQ(g.paints, at_ten + 1);
}

TEST(Gauge, TheBarFillsItsShareInTheForeColour) {
  TMMGauge g;
  g.resize(102, 12);  // 100 x 10 inside the bevel
  g.SetShowText(false);
  g.SetForeColor(clRed);
  g.SetBackColor(clWhite);
  g.SetProgress(25);
  const QImage picture = g.grab().toImage();
  EXPECT_EQ(picture.pixelColor(1 + 24, 5), QColor(Qt::red));
  EXPECT_EQ(picture.pixelColor(1 + 25, 5), QColor(Qt::white));
  g.SetKind(TMMGaugeKind::gkVerticalBar);
  const QImage upright = g.grab().toImage();
  EXPECT_EQ(upright.pixelColor(50, 1 + 8), QColor(Qt::red));
  EXPECT_EQ(upright.pixelColor(50, 1 + 7), QColor(Qt::white));
}

}  // namespace
}  // namespace pmx
