#include "audio/displays/scale.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

namespace pmx {
namespace {

// Draws scale into a white image of w x h and returns it.
QImage Render(TMMCustomScale& scale, const TRect& rect, int side, int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  scale.SetCanvas(&painter);
  scale.Draw(rect, side);
  scale.SetCanvas(nullptr);
  return image;
}

// Number of pixels of colour from (x, y) on in direction (dx, dy).
int RunLength(const QImage& image, int x, int y, int dx, int dy, QColor colour) {
  int n = 0;
  while (image.valid(x, y) && image.pixelColor(x, y) == colour) {
    ++n;
    x += dx;
    y += dy;
  }
  return n;
}

TEST(TickScale, SettersClampAndReportOnlyRealChanges) {
  TMMScale scale;
  int changes = 0;
  scale.SetOnChange([&](TMMCustomScale&) { ++changes; });
  scale.SetTickCount(0);
  scale.SetTickCount(1);
  EXPECT_EQ(scale.TickCount(), 2);
  scale.SetEnlargeEvery(0);
  scale.SetSize(-3);
  EXPECT_EQ(scale.EnlargeEvery(), 1);
  EXPECT_EQ(scale.Size(), 1);
  EXPECT_EQ(changes, 3);
  scale.SetConnect(true);
  EXPECT_EQ(scale.TotalSize(), 2);
  scale.SetStyle(TMMScaleStyle::stLowered);
  EXPECT_EQ(scale.TotalSize(), 3);
}

TEST(TickScale, ColourResetsZonesAndAssignLeavesThem) {
  TMMScale a;
  a.SetZoneColor2(clRed);
  a.SetZoneColor3(clBlue);
  a.SetColor(clGreen);
  EXPECT_EQ(a.ZoneColor2(), clGreen);
  EXPECT_EQ(a.ZoneColor3(), clGreen);
  TMMScale b;
  b.SetZoneColor3(clRed);
  b.SetZoneTick1(4);
  b.Assign(a);
  EXPECT_EQ(b.Color(), clGreen);
  EXPECT_EQ(b.ZoneColor3(), clRed);
  EXPECT_EQ(b.ZoneTick1(), 4);
}

TEST(TickScale, DefaultTicksAreLongEveryFifth) {
  TMMScale scale;
  // Horizontal, anchored at the top: x = trunc(100 / 10 * c).
  const QImage image = Render(scale, {0, 0, 100, 7}, 0, 101, 10);
  for (int c = 0; c < 11; ++c) {
    const int x = 10 * c;
    EXPECT_EQ(RunLength(image, x, 0, 0, 1, Qt::black), c % 5 == 0 ? 7 : 3) << "tick " << c;
  }
}

TEST(TickScale, OuterOriginAnchorsAtTheFarEdgeOfAVerticalScale) {
  TMMScale scale;
  scale.SetOrigin(TMMScaleOrigin::soOuter);
  scale.SetTickCount(3);
  // side 0 with soOuter: anchored right, ticks run from right - m to right.
  const QImage image = Render(scale, {0, 0, 10, 20}, 0, 12, 22);
  EXPECT_EQ(RunLength(image, 9, 0, -1, 0, Qt::black), 7);
  EXPECT_EQ(RunLength(image, 9, 10, -1, 0, Qt::black), 3);
  EXPECT_EQ(image.pixelColor(2, 0), QColor(Qt::white));
}

TEST(TickScale, ZonesColourTheTicksPastTheirBoundaries) {
  TMMScale scale;
  scale.SetZoneColor2(clGreen);
  scale.SetZoneColor3(clRed);
  scale.SetZoneTick1(3);
  scale.SetZoneTick2(7);
  const QImage image = Render(scale, {0, 0, 100, 7}, 0, 101, 10);
  // Boundaries at 3/11 and 7/11 of 100 pixels.
  EXPECT_EQ(image.pixelColor(20, 0), QColor(Qt::black));
  EXPECT_EQ(image.pixelColor(30, 0), ToQColor(clGreen));
  EXPECT_EQ(image.pixelColor(60, 0), ToQColor(clGreen));
  EXPECT_EQ(image.pixelColor(70, 0), ToQColor(clRed));
}

TEST(TickScale, LoweredStyleDrawsBlackWithAWhiteShadow) {
  TMMScale scale;
  scale.SetStyle(TMMScaleStyle::stLowered);
  scale.SetColor(clRed);
  QImage image(20, 10, QImage::Format_RGB32);
  image.fill(Qt::gray);
  QPainter painter(&image);
  scale.SetCanvas(&painter);
  scale.Draw({0, 0, 10, 7}, 0);
  painter.end();
  EXPECT_EQ(image.pixelColor(0, 3), QColor(Qt::black));
  EXPECT_EQ(image.pixelColor(1, 3), QColor(Qt::white));
}

TEST(TickScale, DrawingWithoutCanvasIsRefused) {
  TMMScale scale;
  EXPECT_THROW(scale.Draw({0, 0, 100, 7}, 0), EMMScaleError);
}

}  // namespace
}  // namespace pmx
