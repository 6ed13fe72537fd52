#include "platform/qt/qt_main_loop.h"

#include "platform/gui_ticker.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <mutex>
#include <functional>
#include <memory>
#include <algorithm>
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

// A call the GUI thread queues while it works through the queue runs in that same
// pass, and one queued from an event loop nested in a call still wakes that loop.
TEST(QtMainLoop, CallsQueuedOnTheGuiThreadRunInsideNestedLoopsToo) {
  QtMainLoop loop;
  std::vector<std::string> order;
  loop.Post([&] {
    loop.Post([&] { order.push_back("queued by a call"); });
    QEventLoop nested;
    QTimer::singleShot(0, [&] {
      loop.Post([&] {
        order.push_back("queued in a nested loop");
        nested.quit();
      });
    });
    QTimer::singleShot(10000, [&] { nested.exit(1); });
    order.push_back(nested.exec() == 0 ? "nested loop left" : "nested loop timed out");
  });
  loop.Post([] { QCoreApplication::exit(0); });
  QTimer::singleShot(30000, [] { QCoreApplication::exit(1); });
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_EQ(order, (std::vector<std::string>{"queued by a call", "queued in a nested loop", "nested loop left"}));
}

// The displays' clock ticks on the GUI thread while the loop lives, on a thread of
// its own before and after, and never after Stop has returned.
TEST(QtMainLoop, TheDisplayClockMovesToTheGuiThreadAndBack) {
  std::mutex m;
  std::vector<bool> on_gui;
  // Held by the clock's callback: once the clock lets go of it, no tick can come.
  const auto held = std::make_shared<int>();
  const auto gui = std::this_thread::get_id();
  auto ticks_on_gui = [&] {
    std::lock_guard lock(m);
    return std::count(on_gui.begin(), on_gui.end(), true);
  };
  auto ticks_off_gui = [&] {
    std::lock_guard lock(m);
    return std::count(on_gui.begin(), on_gui.end(), false);
  };
  ASSERT_TRUE(gui_ticker::Start(std::chrono::milliseconds(5), [&, held] {
    std::lock_guard lock(m);
    on_gui.push_back(std::this_thread::get_id() == gui);
  }));
  auto wait_for = [](const std::function<bool()>& done) {
    for (int i = 0; i < 2000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
  };
  EXPECT_TRUE(wait_for([&] { return ticks_off_gui() >= 2; }));
  {
    QtMainLoop loop;
    const auto before = ticks_off_gui();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (ticks_on_gui() >= 3) QCoreApplication::exit(0);
    });
    poll.start(5);
    QTimer::singleShot(30000, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_EQ(ticks_off_gui(), before);
  }
  const auto after = ticks_off_gui();
  EXPECT_TRUE(wait_for([&] { return ticks_off_gui() >= after + 2; }));
  gui_ticker::Stop();
  EXPECT_EQ(held.use_count(), 1);
  EXPECT_FALSE(gui_ticker::Running());
}

// A periodic timer of the loop ticks on the GUI thread; a tick may end its own
// timer, and none comes after that.
TEST(QtMainLoop, ALoopTimerTicksOnTheGuiThreadAndMayEndItself) {
  QtMainLoop loop;
  int ticks = 0;
  bool off_gui = false;
  std::unique_ptr<LoopTimer> timer = loop.StartTimer(std::chrono::milliseconds(2), [&] {
    off_gui |= !loop.IsGuiThread();
    if (++ticks < 5) return;
    timer.reset();
    // Many periods more, in which an unended timer would have ticked.
    QTimer::singleShot(50, [] { QCoreApplication::exit(0); });
  });
  ASSERT_TRUE(timer);
  QTimer::singleShot(30000, [] { QCoreApplication::exit(1); });
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_EQ(ticks, 5);
  EXPECT_FALSE(off_gui);
}

// A loop's timer that only records how it was set.
struct RecordedTicks : TickSource {
  void ArmTicks(std::chrono::milliseconds value) override { period = value; }
  std::chrono::milliseconds period{-1};
};

// While nobody sees the displays their clock neither wakes the loop nor ticks,
// whatever its clients ask for; seen again, it ticks as before.
TEST(DisplayClock, NobodySeeingTheDisplaysStopsEveryTick) {
  using std::chrono::milliseconds;
  RecordedTicks source;
  gui_ticker::Attach(&source);
  int ticks = 0;
  ASSERT_TRUE(gui_ticker::Start(milliseconds(25), [&] { ++ticks; }));
  EXPECT_EQ(source.period, milliseconds(25));
  gui_ticker::SetSeen(false);
  EXPECT_EQ(source.period, milliseconds(0));
  gui_ticker::SetIdle(true);
  gui_ticker::SetIdle(false);  // a client that needs ticks again
  EXPECT_EQ(source.period, milliseconds(0));
  gui_ticker::Tick();  // an expiry already on its way
  EXPECT_EQ(ticks, 0);
  gui_ticker::SetSeen(true);
  EXPECT_EQ(source.period, milliseconds(25));
  gui_ticker::Tick();
  EXPECT_EQ(ticks, 1);
  gui_ticker::Stop();
  gui_ticker::Detach(&source);
}

}  // namespace
}  // namespace pmx
