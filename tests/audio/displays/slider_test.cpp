#include "audio/displays/slider.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QDeadlineTimer>
#include <string>
#include <vector>

namespace pmx {
namespace {

// Records the slider's reports in the order they come.
struct Log {
  explicit Log(TMMCustomSlider& slider) {
    slider.OnChange = [this](TObject*) { events.push_back("change"); };
    slider.OnTrack = [this](TObject*) { events.push_back("track"); };
    slider.OnTrackEnd = [this](TObject*) { events.push_back("end"); };
  }
  std::vector<std::string> Take() { return std::exchange(events, {}); }
  std::vector<std::string> events;
};

QImage Render(TMMCustomSlider& slider) {
  QImage screen(slider.width(), slider.height(), QImage::Format_RGB32);
  QPainter canvas(&screen);
  slider.Paint(canvas);
  return screen;
}

void Key(TMMCustomSlider& slider, int key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(&slider, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QApplication::sendEvent(&slider, &release);
}

void Mouse(TMMCustomSlider& slider, QEvent::Type type, int x, int y) {
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
  const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent event(type, QPointF(x, y), QPointF(x, y), button, held, Qt::NoModifier);
  QApplication::sendEvent(&slider, &event);
}

// The default body: a one-pixel lowered bevel and a five-pixel border band.
constexpr TRect kTrack{6, 6, 194, 34};

TEST(Slider, LinearPositionsMapToTheTrackAndBack) {
  TMMSlider slider;
  ASSERT_EQ(slider.TrackRect(), kTrack);
  slider.SetMaxValue(1000);
  const int travel = kTrack.Width() - slider.ThumbWidth();  // 177
  slider.SetPosition(0);
  EXPECT_EQ(slider.ThumbRect(kTrack).Left, kTrack.Left);
  slider.SetPosition(1000);
  EXPECT_EQ(slider.ThumbRect(kTrack).Right, kTrack.Right);
  slider.SetPosition(500);
  EXPECT_EQ(slider.ThumbRect(kTrack).Left, kTrack.Left + 88);  // 88.5 rounds to even
  EXPECT_EQ(slider.ThumbRect(kTrack).Top, 6 + 28 / 2 - 11);

  const int x0 = kTrack.Left + slider.ThumbWidth() / 2;
  EXPECT_EQ(slider.PosFromPoint(x0, 20), 0);
  EXPECT_EQ(slider.PosFromPoint(x0 - 50, 20), 0);
  EXPECT_EQ(slider.PosFromPoint(x0 + travel, 20), 1000);
  EXPECT_EQ(slider.PosFromPoint(x0 + travel + 50, 20), 1000);
  EXPECT_EQ(slider.PosFromPoint(x0 + 88, 20), 497);  // 88 / 177 of the range

  // Vertical: the maximum is at the top.
  slider.SetBounds(0, 0, 40, 200);
  EXPECT_EQ(slider.Orientation(), TMMOrientation::orVertical);
  const TRect track = slider.TrackRect();
  slider.SetPosition(1000);
  EXPECT_EQ(slider.ThumbRect(track).Top, track.Top);
  EXPECT_EQ(slider.PosFromPoint(20, track.Top + slider.ThumbHeight() / 2), 1000);
  slider.SetPosition(0);
  EXPECT_EQ(slider.ThumbRect(track).Bottom, track.Bottom);
  EXPECT_EQ(slider.PosFromPoint(20, track.Bottom), 0);
  slider.SetBounds(0, 0, 200, 40);
  EXPECT_EQ(slider.Orientation(), TMMOrientation::orHorizontal);
}

TEST(Slider, LogarithmicPositionsKeepTheirEndsAndReadBack) {
  TMMSlider slider;
  slider.SetMaxValue(1000);
  slider.SetPosition(500);
  slider.SetLogarithmic(true);
  EXPECT_EQ(slider.Position(), 500);
  // Half of full scale is 6 dB down, a quarter of 24 dB from the top of the travel.
  EXPECT_EQ(slider.ThumbRect(kTrack).Left, kTrack.Left + 133);  // 749 of 1000
  slider.SetPosition(1000);
  EXPECT_EQ(slider.Position(), 1000);
  EXPECT_EQ(slider.ThumbRect(kTrack).Right, kTrack.Right);
  slider.SetPosition(0);
  EXPECT_EQ(slider.Position(), 0);
  EXPECT_EQ(slider.ThumbRect(kTrack).Left, kTrack.Left);
  // Deeper than the sensitivity is the bottom end, and so is a negative value.
  slider.SetPosition(10);
  EXPECT_EQ(slider.ThumbRect(kTrack).Left, kTrack.Left);
  slider.SetPosition(-5);
  EXPECT_EQ(slider.Position(), 0);

  slider.SetPosition(250);
  EXPECT_EQ(slider.Position(), 250);
  slider.SetSensitivity(-10);
  EXPECT_EQ(slider.Sensitivity(), -20);
  EXPECT_EQ(slider.Position(), 250);
  // Over 96 dB one step of the thumb is about 1 % of the reading.
  slider.SetSensitivity(-200);
  EXPECT_EQ(slider.Sensitivity(), -96);
  EXPECT_NEAR(slider.Position(), 250, 3);
  slider.SetPosition(1000);
  slider.SetSensitivity(-40);
  EXPECT_EQ(slider.Position(), 1000);
  slider.SetLogarithmic(false);
  EXPECT_EQ(slider.Position(), 1000);
}

TEST(Slider, RangeChangesClampAndReportOnce) {
  TMMSlider slider;
  Log log(slider);
  slider.SetMaxValue(100);
  slider.SetPosition(80);
  log.Take();
  slider.SetMaxValue(50);
  EXPECT_EQ(slider.Position(), 50);
  slider.SetMinValue(-10);
  EXPECT_EQ(slider.Position(), 50);
  EXPECT_EQ(log.Take(), (std::vector<std::string>{"change", "change"}));
  slider.SetMaxValue(-10);
  EXPECT_EQ(slider.MaxValue(), -9);
  EXPECT_EQ(slider.Position(), -9);
  EXPECT_EQ(log.Take(), std::vector<std::string>{"change"});

  slider.BeginLoading();
  slider.SetMinValue(5);
  slider.SetMaxValue(5);
  EXPECT_EQ(slider.MaxValue(), 5);
  slider.EndLoading();
  EXPECT_TRUE(log.Take().empty());
}

TEST(Slider, KeysStepAndClampAndTrackUntilReleased) {
  TMMSlider slider;
  Log log(slider);
  slider.SetPosition(8);
  EXPECT_EQ(log.Take(), std::vector<std::string>{"change"});  // never a track from code
  Key(slider, Qt::Key_Right);
  EXPECT_EQ(slider.Position(), 9);
  EXPECT_EQ(log.Take(), (std::vector<std::string>{"change", "track", "end"}));
  Key(slider, Qt::Key_PageUp);
  EXPECT_EQ(slider.Position(), 10);
  Key(slider, Qt::Key_Up);
  EXPECT_EQ(slider.Position(), 10);
  log.Take();
  Key(slider, Qt::Key_Right);  // already at the end: nothing moved, nothing tracked
  EXPECT_TRUE(log.Take().empty());
  Key(slider, Qt::Key_Home);
  EXPECT_EQ(slider.Position(), 0);
  Key(slider, Qt::Key_Down);
  EXPECT_EQ(slider.Position(), 0);
  Key(slider, Qt::Key_End);
  EXPECT_EQ(slider.Position(), 10);
  Key(slider, Qt::Key_PageDown);
  Key(slider, Qt::Key_Left);
  EXPECT_EQ(slider.Position(), 4);

  slider.SetBounds(0, 0, 40, 200);
  Key(slider, Qt::Key_Home);
  EXPECT_EQ(slider.Position(), 10);
  Key(slider, Qt::Key_End);
  EXPECT_EQ(slider.Position(), 0);
}

TEST(Slider, ClickingTheGrooveJumpsAndDraggingTheThumbFollowsTheMouse) {
  TMMSlider slider;
  slider.SetMaxValue(1000);
  Render(slider);  // places the thumb for hit tests
  Log log(slider);
  const int x0 = kTrack.Left + 5;
  Mouse(slider, QEvent::MouseButtonPress, x0 + 177, 20);
  EXPECT_FALSE(slider.Dragging());
  EXPECT_EQ(slider.Position(), 1000);
  EXPECT_EQ(log.Take(), (std::vector<std::string>{"change", "track"}));
  Mouse(slider, QEvent::MouseButtonRelease, x0 + 177, 20);
  EXPECT_EQ(log.Take(), std::vector<std::string>{"end"});

  slider.SetPosition(0);
  Render(slider);
  log.Take();
  Mouse(slider, QEvent::MouseButtonPress, kTrack.Left + 2, 20);  // on the thumb, off its middle
  EXPECT_TRUE(slider.Dragging());
  EXPECT_EQ(slider.Position(), 0);
  EXPECT_EQ(log.Take(), std::vector<std::string>{"track"});
  Mouse(slider, QEvent::MouseMove, kTrack.Left + 2 + 59, 37);  // a third of the travel
  EXPECT_EQ(slider.Position(), 333);
  Mouse(slider, QEvent::MouseMove, kTrack.Left + 2 + 59, 0);  // across it: no change
  Mouse(slider, QEvent::MouseMove, 500, 20);
  EXPECT_EQ(slider.Position(), 1000);
  Mouse(slider, QEvent::MouseButtonRelease, 500, 20);
  EXPECT_FALSE(slider.Dragging());
  EXPECT_EQ(log.Take(),
            (std::vector<std::string>{"change", "track", "change", "track", "end"}));
  Mouse(slider, QEvent::MouseMove, 20, 20);  // no button: nothing
  EXPECT_TRUE(log.Take().empty());
}

// Runs the event loop until done holds or ms pass.
template <class Done>
bool WaitFor(Done done, int ms) {
  const QDeadlineTimer deadline(ms);
  while (!done() && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
  }
  return done();
}

QRgb Rgb(TColor color) { return ToQColor(color).rgb(); }

TEST(Slider, PaintsBodyGrooveAndThumbWhereTheLayoutPutsThem) {
  TMMSlider slider;
  slider.SetColor(clRed);
  slider.SetThumbColor(clLime);
  slider.SetGrooveColor(clBlue);
  slider.SetDisabledColor(clYellow);
  QImage screen = Render(slider);
  EXPECT_EQ(screen.pixel(150, 8), Rgb(clRed));
  // Groove (6, 18, 194, 23) with a one-pixel lowered bevel.
  EXPECT_EQ(screen.pixel(150, 18), Rgb(clBtnShadow));
  EXPECT_EQ(screen.pixel(150, 20), Rgb(clBlue));
  EXPECT_EQ(screen.pixel(150, 22), Rgb(clBtnHighlight));
  EXPECT_EQ(screen.pixel(150, 23), Rgb(clRed));
  // Thumb (6, 9, 17, 32): frame, 3D frame, face, the two light corners.
  EXPECT_EQ(screen.pixel(6, 9), Rgb(clWindowFrame));
  EXPECT_EQ(screen.pixel(16, 31), Rgb(clWindowFrame));
  EXPECT_EQ(screen.pixel(7, 20), Rgb(clBtnHighlight));
  EXPECT_EQ(screen.pixel(15, 20), Rgb(clBtnShadow));
  EXPECT_EQ(screen.pixel(15, 10), Rgb(clBtnHighlight));
  EXPECT_EQ(screen.pixel(7, 30), Rgb(clBtnHighlight));
  EXPECT_EQ(screen.pixel(8, 11), Rgb(clLime));
  EXPECT_EQ(screen.pixel(14, 29), Rgb(clLime));
  EXPECT_EQ(screen.pixel(17, 10), Rgb(clRed));

  slider.setEnabled(false);
  screen = Render(slider);
  EXPECT_EQ(screen.pixel(8, 12), Rgb(clYellow));
  EXPECT_EQ(screen.pixel(9, 13), Rgb(clYellow));
  EXPECT_EQ(screen.pixel(9, 12), Rgb(clLime));
  EXPECT_EQ(screen.pixel(7, 20), Rgb(clBtnHighlight));  // the frames stay clear
}

TEST(Slider, AVisibleScaleMovesThumbAndGrooveToItsSide) {
  TMMSlider slider;
  slider.SetColor(clRed);
  slider.Scale()->SetVisible(true);
  EXPECT_EQ(slider.ThumbRect(kTrack).Top, kTrack.Top);
  const QImage screen = Render(slider);
  // Groove (6, 15, 194, 20); scale (11, 31, 189, 39) with ticks hanging from its bottom.
  EXPECT_EQ(screen.pixel(150, 15), Rgb(clBtnShadow));
  EXPECT_EQ(screen.pixel(11, 33), Rgb(clBlack));
  EXPECT_EQ(screen.pixel(12, 33), Rgb(clRed));
  EXPECT_EQ(screen.pixel(28, 36), Rgb(clBlack));   // a short tick
  EXPECT_EQ(screen.pixel(28, 33), Rgb(clRed));

  slider.SetScalePosition(TMMScalePos::spAboveOrLeft);
  EXPECT_EQ(slider.ThumbRect(kTrack).Bottom, kTrack.Bottom);
}

TEST(Slider, SlidersOfOneSizeShareTheirPaintBitmap) {
  {
    TMMSlider first;
    TMMSlider second;
    ASSERT_NE(first.PaintBitmap(), nullptr);
    EXPECT_EQ(first.PaintBitmap(), second.PaintBitmap());
    second.SetBounds(0, 0, 300, 40);
    EXPECT_NE(first.PaintBitmap(), second.PaintBitmap());
    EXPECT_EQ(second.PaintBitmap()->width(), 300);
    EXPECT_EQ(TBitmapCache::Instance()->Count(), 2);
    // Each paints the shared bitmap whole before it shows it.
    TMMSlider third;
    third.SetColor(clBlue);
    first.SetColor(clRed);
    EXPECT_EQ(Render(third).pixel(150, 8), Rgb(clBlue));
    EXPECT_EQ(Render(first).pixel(150, 8), Rgb(clRed));
  }
  EXPECT_EQ(TBitmapCache::Instance(), nullptr);

  // A slider read from a form takes its bitmap once loading ends.
  TMMSlider loaded;
  loaded.BeginLoading();
  loaded.SetBounds(0, 0, 123, 40);
  EXPECT_EQ(loaded.PaintBitmap()->width(), 200);
  loaded.SetLogarithmic(true);
  loaded.SetMaxValue(0);  // an empty range until loading ends
  loaded.SetPosition(5);
  EXPECT_EQ(loaded.Position(), 0);
  loaded.EndLoading();
  EXPECT_EQ(loaded.PaintBitmap()->width(), 123);
  EXPECT_EQ(TBitmapCache::Instance()->Count(), 1);
}

TEST(Slider, FocusBlinksTheThumbAndColoursTheGroove) {
  QWidget form;
  form.resize(300, 100);
  TMMSlider slider(nullptr, &form);
  slider.SetFocusAction(TMMFocusAction::faAll);
  slider.SetFocusColor(clYellow);
  slider.SetThumbColor(clLime);
  int gained = 0;
  slider.OnGetFocus = [&](TObject*) { ++gained; };
  form.show();
  form.activateWindow();
  slider.setFocus();
  ASSERT_TRUE(WaitFor([&] { return slider.hasFocus(); }, 2000));
  EXPECT_EQ(gained, 1);
  QImage screen = Render(slider);
  EXPECT_EQ(screen.pixel(150, 20), Rgb(clYellow));
  // The focus frame just outside the track (grown for the bevel's border band).
  EXPECT_NE(screen.pixel(kTrack.Left - 1 + 40, kTrack.Top - 1), Rgb(clBtnFace));

  // A blink tick hatches the thumb; the next clears it.
  const bool before = slider.Blinking();
  ASSERT_TRUE(WaitFor([&] { return slider.Blinking() != before; }, 2000));
  if (!slider.Blinking()) {
    ASSERT_TRUE(WaitFor([&] { return slider.Blinking(); }, 2000));
  }
  screen = Render(slider);
  EXPECT_EQ(screen.pixel(8, 12), Rgb(clBlack));
  EXPECT_EQ(screen.pixel(9, 12), Rgb(clLime));

  slider.clearFocus();
  EXPECT_FALSE(slider.Blinking());
  screen = Render(slider);
  EXPECT_EQ(screen.pixel(150, 20), Rgb(clBtnFace));
  EXPECT_EQ(screen.pixel(8, 12), Rgb(clLime));
}

TEST(Slider, PicturesShortenTheTrackAndOwnerDrawingGetsTheRectangles) {
  TMMSlider slider;
  QImage picture(20, 10, QImage::Format_RGB32);
  picture.fill(Qt::white);
  picture.setPixel(0, 9, qRgb(0, 0, 0));  // the transparent colour: black
  picture.setPixel(1, 1, qRgb(0, 0, 0));
  slider.SetColor(clRed);
  slider.SetPicLeft(picture);
  slider.SetPicRight(picture);
  EXPECT_EQ(slider.TrackRect(), (TRect{26, 6, 174, 34}));

  TRect thumb;
  bool dragged = true;
  slider.SetThumbStyle(TMMThumbStyle::tsOwnerDraw);
  slider.OnDrawThumb = [&](TObject*, QPainter&, const TRect& rect, bool drag, bool) {
    thumb = rect;
    dragged = drag;
  };
  TRect groove;
  slider.SetGrooveStyle(TMMGrooveStyle::gsOwnerDraw);
  slider.OnDrawGroove = [&](TObject*, QPainter&, TRect& rect) {
    groove = rect;
    rect = rect.Inset(2);
  };
  slider.SetFocusAction(TMMFocusAction::faNone);
  slider.SetGrooveColor(clBlue);
  const QImage screen = Render(slider);
  EXPECT_EQ(thumb, (TRect{26, 9, 37, 32}));
  EXPECT_FALSE(dragged);
  EXPECT_EQ(groove, (TRect{26, 19, 174, 22}));
  EXPECT_EQ(screen.pixel(100, 20), Rgb(clRed));  // the handler kept the inside empty
  // Pictures centred across the slider, their transparent colour left out.
  EXPECT_EQ(screen.pixel(6, 15), qRgb(255, 255, 255));
  EXPECT_EQ(screen.pixel(7, 16), Rgb(clRed));
  EXPECT_EQ(screen.pixel(193, 24), qRgb(255, 255, 255));
}

TEST(Slider, TurningADesignedSliderTurnsItsThumbAndShape) {
  TMMSlider slider;
  slider.SetDesignMode(true);
  slider.SetOrientation(TMMOrientation::orVertical);
  EXPECT_EQ(slider.width(), 40);
  EXPECT_EQ(slider.height(), 200);
  EXPECT_EQ(slider.ThumbWidth(), 23);
  EXPECT_EQ(slider.ThumbHeight(), 11);
  slider.SetDesignMode(false);
  slider.SetOrientation(TMMOrientation::orHorizontal);  // at run time only the flag
  EXPECT_EQ(slider.ThumbWidth(), 23);
  EXPECT_EQ(slider.width(), 40);
}

}  // namespace
}  // namespace pmx
