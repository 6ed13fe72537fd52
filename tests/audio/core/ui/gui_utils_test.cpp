#include "audio/core/ui/gui_utils.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace pmx {
namespace {

constexpr TColor kKey = RGBColor(255, 0, 255);
constexpr TColor kInk = RGBColor(10, 20, 30);
constexpr TColor kPaper = RGBColor(240, 240, 240);

TEST(GuiUtils, TransparentBitmapLeavesTheKeyColourOut) {
  QImage bitmap(3, 2, QImage::Format_RGB32);
  bitmap.fill(ToQColor(kInk));
  bitmap.setPixelColor(0, 1, ToQColor(kKey));
  bitmap.setPixelColor(2, 0, ToQColor(kKey));
  EXPECT_EQ(GetTransparentColor(bitmap), kKey);
  int w = 0, h = 0;
  GetBitmapSize(bitmap, w, h);
  EXPECT_EQ(w, 3);
  EXPECT_EQ(h, 2);

  QImage dest(5, 4, QImage::Format_RGB32);
  dest.fill(ToQColor(kPaper));
  {
    QPainter canvas(&dest);
    DrawTransparentBitmap(canvas, bitmap, 1, 1, GetTransparentColor(bitmap));
  }
  EXPECT_EQ(FromQColor(dest.pixelColor(1, 1)), kInk);
  EXPECT_EQ(FromQColor(dest.pixelColor(1, 2)), kPaper);  // key pixel (0, 1)
  EXPECT_EQ(FromQColor(dest.pixelColor(3, 1)), kPaper);  // key pixel (2, 0)
  EXPECT_EQ(FromQColor(dest.pixelColor(3, 2)), kInk);
  EXPECT_EQ(FromQColor(dest.pixelColor(0, 0)), kPaper);
}

// The box around every pixel that is not paper.
QRect InkBox(const QImage& image) {
  QRect box;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (FromQColor(image.pixelColor(x, y)) != kPaper) box |= QRect(x, y, 1, 1);
    }
  }
  return box;
}

QRect DrawText(int alignment) {
  QImage image(200, 200, QImage::Format_RGB32);
  image.fill(ToQColor(kPaper));
  {
    QPainter canvas(&image);
    canvas.setPen(ToQColor(kInk));
    DrawRotatedText(canvas, 100, 100, alignment, 14, "DejaVu Sans", "-20 dB");
  }
  return InkBox(image);
}

TEST(GuiUtils, RotatedTextIsPlacedByItsAlignment) {
  const QRect left = DrawText(0);
  ASSERT_FALSE(left.isEmpty());
  EXPECT_GE(left.left(), 100);
  EXPECT_LT(left.top(), 100);
  EXPECT_GT(left.bottom(), 100);
  EXPECT_GT(left.width(), left.height());

  const QRect right = DrawText(1);
  ASSERT_FALSE(right.isEmpty());
  EXPECT_LE(right.right(), 100);
  EXPECT_EQ(right.width(), left.width());

  const QRect up = DrawText(2);
  ASSERT_FALSE(up.isEmpty());
  EXPECT_GT(up.height(), up.width());
  EXPECT_GE(up.top(), 100);
  EXPECT_LT(up.left(), 100);
  EXPECT_GT(up.right(), 100);
}

TEST(GuiUtils, UnregisteredCursorNumbersShowTheArrow) {
  EXPECT_EQ(ScreenCursor(2005).shape(), Qt::ArrowCursor);
  EXPECT_EQ(ScreenCursor(crCross).shape(), Qt::CrossCursor);
  RegisterScreenCursor(2001, QCursor(Qt::SizeAllCursor));
  EXPECT_EQ(ScreenCursor(2001).shape(), Qt::SizeAllCursor);
}

}  // namespace
}  // namespace pmx
