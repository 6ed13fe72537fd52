#include "audio/displays/dib_graphic_control.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>
#include <QWidget>
#include <atomic>
#include <thread>

#include "audio/displays/dib_primitives.h"
#include "platform/main_loop.h"

namespace pmx {
namespace {

TEST(DIBGraphicControl, TheCanvasFollowsTheBoundsAndFillsWithColorWithoutAPicture) {
  QWidget form;
  TMMDIBGraphicControl control(nullptr, &form);
  control.SetBounds(3, 4, 30, 10);
  EXPECT_EQ(control.DIBCanvas().Width(), 30);
  EXPECT_EQ(control.DIBCanvas().Height(), 10);
  control.SetColor(clRed);
  control.DIBCanvas().BeginDrawing();
  control.FillBackground();
  EXPECT_EQ(DIBGetPixel(control.DIBCanvas(), 0, 0), control.DIBCanvas().NearestColor(clRed));
  EXPECT_EQ(DIBGetPixel(control.DIBCanvas(), 29, 9), control.DIBCanvas().NearestColor(clRed));
  control.DIBCanvas().EndDrawing();
  EXPECT_THROW(control.SetBitsPerPixel(16), EMMDIBError);
  EXPECT_EQ(control.BitsPerPixel(), 8);
}

TEST(DIBGraphicControl, TheBackgroundPictureIsUsedOnlyWhenThereIsOne) {
  TMMDIBGraphicControl control;
  control.SetUseBackGroundDIB(true);
  EXPECT_FALSE(control.UseBackGroundDIB());

  // Stored in a form: applied once loading ends, and only with a picture.
  QImage picture(8, 8, QImage::Format_RGB32);
  picture.fill(Qt::green);
  control.BeginLoading();
  control.SetUseBackGroundDIB(true);
  control.SetBackGroundDIB(picture);
  EXPECT_FALSE(control.UseBackGroundDIB());
  control.EndLoading();
  EXPECT_TRUE(control.UseBackGroundDIB());
  EXPECT_TRUE(control.PaletteRealize());
  EXPECT_FALSE(control.DIBCanvas().BackGroundBitmap().isNull());
}

TEST(DIBGraphicControl, PaintDirectSkipsHiddenAndParentlessControls) {
  int calls = 0;
  auto proc = [&](QPainter&) { ++calls; };
  TMMDIBGraphicControl orphan;
  orphan.PaintDirect(proc);
  EXPECT_EQ(calls, 0);

  QWidget form;
  TMMDIBGraphicControl control(nullptr, &form);
  control.SetBounds(0, 0, 20, 5);
  control.hide();
  control.PaintDirect(proc);
  EXPECT_EQ(calls, 0);
  control.show();
  // A hidden window keeps its controls' own flags.
  EXPECT_TRUE(control.Visible());
  control.PaintDirect([](QPainter& canvas) { canvas.fillRect(0, 0, 20, 5, Qt::blue); });
  EXPECT_EQ(control.BackStore().pixel(19, 4), QColor(Qt::blue).rgb());
}

// Paints its whole area in the colour of the last frame fed to it.
class Probe : public TMMDIBGraphicControl {
 public:
  using TMMDIBGraphicControl::TMMDIBGraphicControl;
  void Paint(QPainter& canvas) override { canvas.fillRect(0, 0, 40, 12, Frame(frame)); }
  static QColor Frame(int i) { return i % 2 ? Qt::white : Qt::black; }
  std::atomic<int> frame{0};
};

TEST(DIBGraphicControl, PaintDirectFromAFeedingThreadAndPaintingDoNotMix) {
  PlainMainLoop loop;
  ScopedMainLoop scoped(loop);
  QWidget form;
  Probe control(nullptr, &form);
  control.SetBounds(0, 0, 40, 12);
  form.show();
  std::atomic<bool> done{false};
  std::thread feeder([&] {
    for (int i = 0; i < 200; ++i) {
      control.frame = i;
      control.PaintDirect([i](QPainter& canvas) { canvas.fillRect(0, 0, 40, 12, Probe::Frame(i)); });
    }
    done = true;
  });
  while (!done) {
    control.repaint();
    loop.ProcessPending();
  }
  feeder.join();
  loop.ProcessPending();
  QApplication::processEvents();
  const QImage shown = control.BackStore();
  EXPECT_EQ(shown.pixel(0, 0), Probe::Frame(199).rgb());
  EXPECT_EQ(shown.pixel(39, 11), Probe::Frame(199).rgb());
}

}  // namespace
}  // namespace pmx
