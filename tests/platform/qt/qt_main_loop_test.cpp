#include "platform/qt/qt_main_loop.h"

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace pmx {
namespace {

TEST(QtMainLoop, WorkerCallsRunFromQtsEventLoop) {
  QtMainLoop loop;
  EXPECT_EQ(&MainLoop::Instance(), &loop);
  std::atomic<int> done{0};
  int on_gui = 0;
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; ++w) {
    workers.emplace_back([&] {
      for (int i = 0; i < 100; ++i) loop.Synchronize([&] { on_gui += loop.IsGuiThread(); });
      if (++done == 4) loop.Post([] { QCoreApplication::exit(0); });
    });
  }
  QTimer::singleShot(30000, [] { QCoreApplication::exit(1); });
  EXPECT_EQ(QCoreApplication::exec(), 0);
  for (auto& t : workers) t.join();
  EXPECT_EQ(on_gui, 400);
}

}  // namespace
}  // namespace pmx
