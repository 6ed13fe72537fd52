#include "audio/displays/dib_canvas.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <atomic>
#include <thread>

#include "audio/displays/dib_primitives.h"

namespace pmx {

// Stands for a display that owns a canvas; its class name shows in one message.
class TMMProbeDisplay : public TObject {};

namespace {

// Begins drawing for a scope.
class Drawing {
 public:
  explicit Drawing(TMMDIBCanvas& canvas) : canvas_(canvas) { canvas_.BeginDrawing(); }
  ~Drawing() { canvas_.EndDrawing(); }

 private:
  TMMDIBCanvas& canvas_;
};

TEST(DIBCanvas, ANeverSizedCanvasDrawsNothing) {
  TMMDIBCanvas canvas;
  EXPECT_EQ(canvas.Width(), 1);
  Drawing drawing(canvas);
  canvas.SetDrawIndex(7);
  DIBSetPixel(canvas, 0, 0, 7);
  DIBClear(canvas);
  DIBFillRect(canvas, {0, 0, 1, 1});
  EXPECT_EQ(DIBGetPixel(canvas, 0, 0), -1);
  ASSERT_NE(canvas.DrawState().pixels, nullptr);
  EXPECT_EQ(canvas.DrawState().pixels[0], 0);
}

TEST(DIBCanvas, TheBitmapIsRebuiltOnlyWhenTheSizeChanges) {
  TMMDIBCanvas canvas;
  canvas.SetSize(8, 4);
  {
    Drawing drawing(canvas);
    DIBSetPixel(canvas, 2, 1, 9);
  }
  canvas.SetWidth(8);
  {
    Drawing drawing(canvas);
    EXPECT_EQ(DIBGetPixel(canvas, 2, 1), 9);
  }
  canvas.SetWidth(9);
  Drawing drawing(canvas);
  EXPECT_EQ(DIBGetPixel(canvas, 2, 1), 0);
  EXPECT_EQ(canvas.DrawState().stride, 12);
  // Bottom-up: row 1 of 4 lies third in memory.
  EXPECT_EQ(canvas.DrawState().Row(1) - canvas.DrawState().pixels, 2 * 12);
}

TEST(DIBCanvas, SettingsRefuseToRebuildWhileDrawing) {
  TMMProbeDisplay owner;
  TMMDIBCanvas canvas(&owner);
  canvas.SetSize(4, 4);
  canvas.BeginDrawing();
  try {
    canvas.SetBitsPerPixel(24);
    FAIL() << "no error";
  } catch (const EMMDIBError& e) {
    EXPECT_STREQ(e.what(),
                 "TMMProbeDisplay: Attempt to create new DIB while initialized for drawing");
  }
  EXPECT_THROW(canvas.SetPaletteRealize(true), EMMDIBError);
  canvas.SetSize(6, 6);  // only marks the bitmap
  EXPECT_THROW(canvas.CreateHandle(), EMMDIBError);
  canvas.EndDrawing();
  canvas.CreateHandle();
  EXPECT_THROW(canvas.SetBitsPerPixel(16), EMMDIBError);
  canvas.SetBitsPerPixel(24);
  EXPECT_EQ(canvas.BitsPerPixel(), 24);
}

TEST(DIBCanvas, PaletteNearestColourAndAnimation) {
  TMMDIBCanvas canvas;
  EXPECT_EQ(canvas.NearestColor(0xFFFF00), 254u);
  EXPECT_EQ(canvas.AnimatedIndex(0), 256);
  EXPECT_THROW(canvas.SetAnimatedColors(237), EMMDIBError);
  EXPECT_THROW(canvas.SetAnimatedColors(-1), EMMDIBError);
  canvas.SetAnimatedColors(3);
  EXPECT_EQ(canvas.AnimatedIndex(0), 244);
  std::array<uint32_t, 256> table = canvas.ColorTable();
  EXPECT_EQ(table[10] >> 24, 4u);
  EXPECT_EQ(table[243] >> 24, 4u);
  EXPECT_EQ(table[244] >> 24, 0u);
  EXPECT_EQ(table[9] >> 24, 0u);
  // The lowest colours no entry holds: black is taken, so red 1, 2 and 3.
  EXPECT_EQ(table[244] & 0xFFFFFF, 0x010000u);
  EXPECT_EQ(table[246] & 0xFFFFFF, 0x030000u);

  canvas.BeginAnimate();
  canvas.BeginAnimate();
  canvas.SetAnimatedColor(1, clRed);
  canvas.EndAnimate();
  EXPECT_EQ(canvas.ColorTable()[245] & 0xFFFFFF, 0x020000u);
  canvas.EndAnimate();
  EXPECT_EQ(canvas.ColorTable()[245] & 0xFFFFFF, 0xFF0000u);  // red in a quad's third byte
  EXPECT_THROW(canvas.SetAnimatedColor(3, clRed), EMMDIBError);

  canvas.SetAnimatedColors(236);
  EXPECT_EQ(canvas.AnimatedIndex(0), 11);
  EXPECT_EQ(canvas.AnimatedCount(), 236);
}

TEST(DIBCanvas, RunsAndDashes) {
  TMMDIBCanvas canvas;
  canvas.SetSize(12, 6);
  Drawing drawing(canvas);
  canvas.SetDrawIndex(5);
  DIBHorzLine(canvas, 3, 3, 0);
  for (int x = 0; x < 12; ++x) EXPECT_EQ(DIBGetPixel(canvas, x, 0), 0);
  DIBHorzLineDashed(canvas, 10, 0, 1);
  for (int x = 0; x < 12; ++x) {
    EXPECT_EQ(DIBGetPixel(canvas, x, 1), (x <= 3 || x == 8 || x == 9) ? 5 : 0) << x;
  }
  DIBHorzLineDashed(canvas, 0, 3, 2);  // shorter than a dash
  DIBHorzLineDotted(canvas, 2, 0, 12, 3);
  DIBVertLineDashed(canvas, 11, 2, 0);  // short vertical runs are drawn
  for (int x = 0; x < 12; ++x) {
    EXPECT_EQ(DIBGetPixel(canvas, x, 2), 0);
    EXPECT_EQ(DIBGetPixel(canvas, x, 3), x % 3 == 0 ? 5 : 0) << x;
  }
  EXPECT_EQ(DIBGetPixel(canvas, 11, 0), 5);
  EXPECT_EQ(DIBGetPixel(canvas, 11, 2), 0);
}

TEST(DIBCanvas, LinesFromFarOutsideAreClipped) {
  TMMDIBCanvas canvas;
  canvas.SetSize(10, 10);
  Drawing drawing(canvas);
  canvas.SetDrawIndex(1);
  DIBMoveTo(canvas, -1000000, -1000000);
  DIBLineTo(canvas, 1000000, 1000000);
  // Clipped to (0, 0) .. (9, 9); the end point is not set.
  for (int i = 0; i < 10; ++i) EXPECT_EQ(DIBGetPixel(canvas, i, i), i < 9 ? 1 : 0) << i;
  EXPECT_EQ(DIBGetPixel(canvas, 1, 0), 0);
  EXPECT_EQ(canvas.DrawState().current_x, 1000000);
  // A steep line sets one pixel per row from its start, not its end point.
  canvas.SetDrawIndex(2);
  DIBMoveTo(canvas, 0, 9);
  DIBLineTo(canvas, 3, 3);
  int set = 0;
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 10; ++x) set += DIBGetPixel(canvas, x, y) == 2;
  }
  EXPECT_EQ(set, 6);
  EXPECT_EQ(DIBGetPixel(canvas, 0, 9), 2);
  EXPECT_NE(DIBGetPixel(canvas, 3, 3), 2);
}

TEST(DIBCanvas, EllipseIsSymmetricAndSpansItsWidth) {
  TMMDIBCanvas canvas;
  canvas.SetSize(21, 15);
  Drawing drawing(canvas);
  canvas.SetDrawIndex(3);
  DIBEllipse(canvas, 10, 7, 6, 4);
  for (int x = 0; x < 21; ++x) {
    EXPECT_EQ(DIBGetPixel(canvas, x, 7), (x >= 4 && x <= 16) ? 3 : 0) << x;
  }
  EXPECT_EQ(DIBGetPixel(canvas, 10, 3), 3);
  EXPECT_EQ(DIBGetPixel(canvas, 10, 2), 0);
  for (int y = 0; y < 15; ++y) {
    for (int x = 0; x < 21; ++x) {
      EXPECT_EQ(DIBGetPixel(canvas, x, y), DIBGetPixel(canvas, 20 - x, 14 - y)) << x << "," << y;
    }
  }
}

TEST(DIBCanvas, OverlappingCopiesAndColumns) {
  TMMDIBCanvas canvas;
  canvas.SetSize(6, 4);
  Drawing drawing(canvas);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) DIBSetPixel(canvas, x, y, 10 * y + x);
  }
  uint8_t* pixels = canvas.DrawState().pixels;
  DIBCopyRect(canvas, 1, 1, 5, 3, 0, 0, pixels);  // down and right onto itself
  EXPECT_EQ(DIBGetPixel(canvas, 1, 1), 0);
  EXPECT_EQ(DIBGetPixel(canvas, 5, 3), 24);
  EXPECT_EQ(DIBGetPixel(canvas, 3, 2), 12);
  EXPECT_EQ(DIBGetPixel(canvas, 0, 3), 30);       // outside the target
  DIBCopyRect(canvas, 0, 0, 9, 9, 1, 1, pixels);  // back up and left, clipped
  EXPECT_EQ(DIBGetPixel(canvas, 0, 0), 0);
  EXPECT_EQ(DIBGetPixel(canvas, 4, 2), 24);

  const uint8_t column[] = {201, 202, 203, 204, 205, 206};
  DIBDrawColumn(canvas, 2, 2, column, 6);
  EXPECT_EQ(DIBGetPixel(canvas, 2, 2), 201);
  EXPECT_EQ(DIBGetPixel(canvas, 2, 3), 202);
}

TEST(DIBCanvas, TrueColourCanvasIgnoresColumnsAndStoresBlueFirst) {
  TMMDIBCanvas canvas;
  canvas.SetBitsPerPixel(24);
  canvas.SetSize(3, 2);
  Drawing drawing(canvas);
  const uint8_t column[] = {1, 2};
  DIBDrawColumn(canvas, 0, 0, column, 2);
  EXPECT_EQ(DIBGetPixel(canvas, 0, 0), 0);
  canvas.SetDrawColor(RGBColor(10, 20, 30));
  DIBFillRect(canvas, {2, 2, 0, 0});
  EXPECT_EQ(DIBGetPixel(canvas, 1, 1), RGBColor(10, 20, 30));
  const uint8_t* p = canvas.DrawState().Row(1) + 3;
  EXPECT_EQ(p[0], 30);
  EXPECT_EQ(p[2], 10);
  DIBFillRect2(canvas, {0, 0, 1, 1});
  EXPECT_EQ(DIBGetPixel(canvas, 0, 0), 0);
  DIBFillRectMode(canvas, {0, 0, 3, 2}, 1);
  EXPECT_EQ(DIBGetPixel(canvas, 2, 0), RGBColor(10, 20, 30));
  EXPECT_EQ(DIBGetPixel(canvas, 2, 1), 0);
}

QImage Blit(TMMDIBCanvas& canvas) {
  QImage screen(canvas.Width(), canvas.Height(), QImage::Format_RGB32);
  screen.fill(Qt::white);
  QPainter dc(&screen);
  canvas.DrawToDC(dc, QRect(0, 0, canvas.Width(), canvas.Height()), 0, 0);
  return screen;
}

TEST(DIBCanvas, BlitShowsThePictureTheRightWayUp) {
  for (int bits : {8, 24}) {
    TMMDIBCanvas canvas;
    canvas.SetBitsPerPixel(bits);
    canvas.SetSize(5, 3);
    {
      Drawing drawing(canvas);
      canvas.SetDrawColor(clRed);
      DIBSetPixel(canvas, 1, 0, canvas.DrawState().draw_value);
      canvas.SetDrawColor(clLime);
      DIBSetPixel(canvas, 4, 2, canvas.DrawState().draw_value);
    }
    const QImage screen = Blit(canvas);
    EXPECT_EQ(screen.pixelColor(1, 0), QColor(255, 0, 0)) << bits;
    EXPECT_EQ(screen.pixelColor(4, 2), QColor(0, 255, 0)) << bits;
    EXPECT_EQ(screen.pixelColor(0, 0), QColor(0, 0, 0)) << bits;
  }
}

TEST(DIBCanvas, StretchedBackgroundFillsThePicture) {
  TMMDIBCanvas canvas;
  canvas.SetSize(4, 4);
  QImage picture(2, 2, QImage::Format_RGB32);
  picture.fill(QColor(255, 255, 0));
  picture.setPixelColor(0, 0, QColor(0, 0, 255));
  canvas.SetBackGroundBitmap(picture);
  const std::vector<uint8_t>& back = canvas.BackGroundPixels();
  ASSERT_EQ(back.size(), 16u);
  EXPECT_EQ(back[0], 251);          // bottom row: yellow
  EXPECT_EQ(back[3 * 4 + 0], 252);  // top-left 2 x 2: blue
  EXPECT_EQ(back[2 * 4 + 1], 252);
  canvas.SetBackGroundBitmap(QImage());
  EXPECT_TRUE(canvas.BackGroundPixels().empty());
}

TEST(DIBCanvas, TwoCanvasesMayBeDrawnNested) {
  TMMDIBCanvas a, b;
  a.SetSize(2, 2);
  b.SetSize(2, 2);
  Drawing outer(a);
  {
    Drawing inner(b);
    DIBSetPixel(b, 0, 0, 4);
  }
  DIBSetPixel(a, 1, 1, 6);
  EXPECT_EQ(DIBGetPixel(a, 1, 1), 6);
  EXPECT_EQ(DIBGetPixel(a, 0, 0), 0);
}

// The feeding thread draws while the GUI thread changes the depth and blits: the
// change waits for the drawing instead of failing, and no blit shows half a frame.
TEST(DIBCanvas, SettingsWaitForADrawingOnAnotherThread) {
  TMMDIBCanvas canvas;
  canvas.SetSize(16, 8);
  std::atomic<bool> stop{false};
  std::atomic<int> frames{0};
  std::thread feeder([&] {
    while (!stop) {
      canvas.BeginDrawing();
      canvas.SetDrawIndex(static_cast<uint32_t>(frames.load()));
      DIBFillRect(canvas, {0, 0, 16, 8});
      canvas.EndDrawing();
      ++frames;
    }
  });
  for (int i = 0; i < 20; ++i) {
    const int bits = i % 2 ? 8 : 24;
    canvas.SetBitsPerPixel(bits);
    EXPECT_EQ(canvas.BitsPerPixel(), bits);
    const QImage screen = Blit(canvas);
    for (int y = 0; y < screen.height(); ++y) {
      for (int x = 0; x < screen.width(); ++x) ASSERT_EQ(screen.pixel(x, y), screen.pixel(0, 0)) << i;
    }
  }
  while (frames < 20) std::this_thread::yield();
  stop = true;
  feeder.join();
}

}  // namespace
}  // namespace pmx
