#include <QApplication>
#include <cstdlib>

#include <gtest/gtest.h>

// Every test binary has a QApplication on its main thread, on the offscreen
// platform unless a display was chosen, so widget tests run anywhere.
int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
