#include "audio/core/ui/bevel.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include "audio/core/ui/controls.h"

namespace pmx {
namespace {

constexpr TColor kLight = RGBColor(250, 250, 250);
constexpr TColor kShadow = RGBColor(60, 60, 60);
constexpr TColor kBorder = RGBColor(200, 0, 0);
constexpr TColor kSpace = RGBColor(0, 0, 200);
constexpr TColor kBackground = RGBColor(0, 120, 0);

TColor PixelAt(const QImage& image, int x, int y) { return FromQColor(image.pixelColor(x, y)); }

QImage Blank(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(ToQColor(kBackground));
  return image;
}

TEST(Bevel, ExtentCountsEveryBandThatIsThere) {
  TMMBevel bevel;
  EXPECT_EQ(bevel.BevelExtent(), 1);  // the default lowered outer bevel
  bevel.SetBevelOuter(TBevelCut::bvRaised);
  bevel.SetBevelOuterWidth(2);
  bevel.SetBorderWidth(3);
  bevel.SetBorderStyle(TBorderStyle::bsSingle);
  EXPECT_EQ(bevel.BevelExtent(), 6);
  bevel.SetBevelInner(TBevelCut::bvLowered);
  bevel.SetBorderSpace(2);
  EXPECT_EQ(bevel.BevelExtent(), 9);
}

TEST(Bevel, ChangesInsideABatchAnnounceOnce) {
  TMMBevel bevel;
  int changing = 0, changed = 0;
  bevel.OnChanging = [&](TObject*) { ++changing; };
  bevel.OnChange = [&](TObject*) { ++changed; };
  bevel.BeginUpdate();
  bevel.SetBorderWidth(4);
  bevel.SetInnerLightColor(kLight);
  bevel.EndUpdate();
  EXPECT_EQ(changing, 1);
  EXPECT_EQ(changed, 1);
  bevel.SetBorderWidth(4);  // unchanged: silent
  EXPECT_EQ(changed, 1);

  TMMBevel copy;
  int copies = 0;
  copy.OnChange = [&](TObject*) { ++copies; };
  copy.Assign(bevel);
  EXPECT_EQ(copies, 1);
  EXPECT_EQ(copy.BorderWidth(), 4);
  EXPECT_EQ(copy.InnerLightColor(), kLight);
}

TEST(Bevel, PaintsItsBandsFromTheOutsideIn) {
  TMMBevel bevel;
  bevel.SetBorderStyle(TBorderStyle::bsSingle);
  bevel.SetBevelOuter(TBevelCut::bvRaised);
  bevel.SetBevelOuterWidth(2);
  bevel.SetOuterLightColor(kLight);
  bevel.SetOuterShadowColor(kShadow);
  bevel.SetBorderWidth(3);
  bevel.SetBorderColor(kBorder);
  bevel.SetBorderSpace(1);
  bevel.SetBorderSpaceColor(kSpace);
  QImage image = Blank(20, 20);
  TRect inner;
  {
    QPainter canvas(&image);
    inner = bevel.Paint(canvas, {0, 0, 20, 20}, true);
  }
  EXPECT_EQ(inner, (TRect{7, 7, 13, 13}));
  EXPECT_EQ(inner.Inset(0), TRect({0, 0, 20, 20}).Inset(bevel.BevelExtent()));
  const TColor frame = ColorToRGB(clWindowFrame);
  EXPECT_EQ(PixelAt(image, 0, 0), frame);
  EXPECT_EQ(PixelAt(image, 19, 19), frame);
  // Raised: light top and left edges, shadow right and bottom edges with both outer corners.
  EXPECT_EQ(PixelAt(image, 1, 1), kLight);
  EXPECT_EQ(PixelAt(image, 17, 1), kLight);
  EXPECT_EQ(PixelAt(image, 18, 1), kShadow);
  EXPECT_EQ(PixelAt(image, 1, 18), kShadow);
  EXPECT_EQ(PixelAt(image, 2, 2), kLight);
  EXPECT_EQ(PixelAt(image, 17, 17), kShadow);
  EXPECT_EQ(PixelAt(image, 3, 3), kBorder);
  EXPECT_EQ(PixelAt(image, 5, 10), kBorder);
  EXPECT_EQ(PixelAt(image, 6, 6), kSpace);
  EXPECT_EQ(PixelAt(image, 13, 13), kSpace);
  EXPECT_EQ(PixelAt(image, 7, 7), kBackground);
  EXPECT_EQ(PixelAt(image, 12, 12), kBackground);

  QImage unfilled = Blank(20, 20);
  {
    QPainter canvas(&unfilled);
    EXPECT_EQ(bevel.Paint(canvas, {0, 0, 20, 20}, false), inner);
  }
  EXPECT_EQ(PixelAt(unfilled, 4, 4), kBackground);
  EXPECT_EQ(PixelAt(unfilled, 6, 6), kSpace);
}

TEST(Controls, InnerRectangleAndPaintOfAGraphicControl) {
  TMMGraphicControl control;
  control.resize(200, 17);
  EXPECT_EQ(control.GetInnerRect(), (TRect{1, 1, 199, 16}));
  control.SetColor(kBorder);
  control.Bevel()->SetOuterShadowColor(kShadow);
  control.Bevel()->SetOuterLightColor(kLight);
  QImage image = Blank(200, 17);
  {
    QPainter canvas(&image);
    control.Paint(canvas);
  }
  EXPECT_EQ(PixelAt(image, 0, 0), kShadow);  // lowered
  EXPECT_EQ(PixelAt(image, 199, 16), kLight);
  EXPECT_EQ(PixelAt(image, 1, 1), kBorder);
  EXPECT_EQ(PixelAt(image, 198, 15), kBorder);

  control.SetNoFill(true);
  QImage unfilled = Blank(200, 17);
  {
    QPainter canvas(&unfilled);
    control.Paint(canvas);
  }
  EXPECT_EQ(PixelAt(unfilled, 100, 8), kBackground);
}

TEST(Controls, PanelKeepsChildrenInsideItsBevelAndDrawsItsCaption) {
  TMMPanel panel;
  panel.resize(120, 40);
  EXPECT_EQ(panel.contentsMargins().left(), 1);
  panel.Bevel()->SetBorderWidth(4);
  EXPECT_EQ(panel.contentsMargins().top(), 5);
  panel.SetColor(kBackground);
  panel.SetCaption("Level");
  QImage image = Blank(120, 40);
  {
    QPainter canvas(&image);
    panel.Paint(canvas);
  }
  int inked = 0;
  for (int y = 5; y < 35; ++y) {
    for (int x = 5; x < 115; ++x) inked += PixelAt(image, x, y) != kBackground;
  }
  EXPECT_GT(inked, 0);
}

TEST(Controls, DesignModeReachesOwnedControls) {
  TMMCustomControl form;
  TMMGraphicControl child(&form);
  form.SetDesignMode(true);
  EXPECT_TRUE(child.Designing());
}

}  // namespace
}  // namespace pmx
