#include "platform/qt/qt_main_loop.h"

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <string>
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

// A wait inside a handler (a button's stop waiting for its device) serves the
// worker it waits for, but no timer, click or command runs nested in it.
TEST(QtMainLoop, AWaitInsideAHandlerServesWorkersButNoEvents) {
  QtMainLoop loop;
  std::vector<std::string> order;
  QTimer::singleShot(0, [&] {
    QTimer::singleShot(0, [&] { order.push_back("timer"); });
    std::atomic<bool> served{false};
    std::thread worker([&] {
      loop.Synchronize([&] { order.push_back("worker"); });
      served = true;
    });
    EXPECT_TRUE(loop.PumpUntil([&] { return served.load(); }, std::chrono::seconds(10)));
    worker.join();
    order.push_back("handler done");
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
  });
  QTimer::singleShot(30000, [] { QCoreApplication::exit(1); });
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_EQ(order, (std::vector<std::string>{"worker", "handler done", "timer"}));

  // Outside every handler (a test's own wait) the events are delivered.
  bool fired = false;
  QTimer::singleShot(0, [&] { fired = true; });
  EXPECT_TRUE(loop.PumpUntil([&] { return fired; }, std::chrono::seconds(10)));
}

}  // namespace
}  // namespace pmx
