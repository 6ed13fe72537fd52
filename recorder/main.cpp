#include <QApplication>
#include <QWidget>
#include <cstdlib>

#include "platform/qt/qt_main_loop.h"

int main(int argc, char** argv) {
  // Without a display the recorder still runs, on Qt's offscreen platform.
  if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") &&
      !std::getenv("WAYLAND_DISPLAY")) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  QApplication app(argc, argv);
  pmx::QtMainLoop loop;
  QWidget window;
  window.setWindowTitle("Pelmorax");
  window.resize(640, 430);
  window.show();
  return QApplication::exec();
}
