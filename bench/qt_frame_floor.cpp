// The least a Qt window can cost that shows 40 frames a second, for
// bench/recorder_vs_arecord.sh: a window with one bar-sized child that a 25 ms
// timer repaints (a level bar that moves on every frame), and nothing else: no
// audio, no file. Whatever the recorder's window costs beyond this is ours; this
// much is the toolkit's and the machine's.
//   qt_frame_floor SECONDS
#include <QApplication>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <cstdlib>

namespace {

class MovingBar : public QWidget {
 public:
  using QWidget::QWidget;
  void Step() {
    lit_ = (lit_ + 7) % width();
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(0, 0, lit_, height(), Qt::green);
    painter.fillRect(lit_, 0, width() - lit_, height(), Qt::black);
  }

 private:
  int lit_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  QWidget window;
  window.resize(600, 400);
  auto* bar = new MovingBar(&window);
  bar->setGeometry(20, 20, 300, 16);
  window.show();
  QTimer frames;
  frames.setTimerType(Qt::PreciseTimer);
  QObject::connect(&frames, &QTimer::timeout, bar, &MovingBar::Step);
  frames.start(25);
  QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
  return app.exec();
}
