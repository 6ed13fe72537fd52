#include "platform/main_loop.h"

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>


namespace pmx {
namespace {

using namespace std::chrono_literals;

TEST(MainLoop, PostedCallsRunInOrderOnlyWhenTheGuiThreadProcesses) {
  PlainMainLoop loop;
  std::vector<int> order;
  std::thread worker([&] {
    loop.Post([&] { order.push_back(1); });
    loop.Post([&] { order.push_back(2); });
  });
  worker.join();
  EXPECT_TRUE(order.empty());
  loop.ProcessPending();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(MainLoop, SynchronizeOnTheGuiThreadRunsDirectly) {
  PlainMainLoop loop;
  bool ran = false;
  EXPECT_TRUE(loop.Synchronize([&] { ran = true; }));
  EXPECT_TRUE(ran);
}

TEST(MainLoop, SynchronizeRethrowsInTheWorker) {
  PlainMainLoop loop;
  std::atomic<bool> caught{false};
  std::thread worker([&] {
    try {
      loop.Synchronize([] { throw std::runtime_error("boom"); });
    } catch (const std::runtime_error& e) {
      caught = std::string(e.what()) == "boom";
    }
  });
  EXPECT_TRUE(loop.PumpUntil([&] { return caught.load(); }, 10s));
  worker.join();
}

// The GUI thread waits for workers that themselves wait for the GUI thread:
// pumping while waiting keeps every call moving.
TEST(MainLoop, ManyWorkersSynchronizeWhileTheGuiThreadPumps) {
  PlainMainLoop loop;
  constexpr int kWorkers = 8;
  constexpr int kCalls = 500;
  int counter = 0;  // touched only on the GUI thread
  std::atomic<int> finished{0};
  std::atomic<bool> off_gui{false};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&] {
      for (int i = 0; i < kCalls; ++i) {
        loop.Synchronize([&] {
          if (!loop.IsGuiThread()) off_gui = true;
          ++counter;
        });
      }
      ++finished;
      loop.Wake();
    });
  }
  EXPECT_TRUE(loop.PumpUntil([&] { return finished.load() == kWorkers; }, 60s));
  for (auto& t : workers) t.join();
  EXPECT_EQ(counter, kWorkers * kCalls);
  EXPECT_FALSE(off_gui.load());
}

TEST(MainLoop, ClosingReleasesWaitingWorkersWithoutRunningTheirCalls) {
  PlainMainLoop loop;
  std::atomic<int> results{0};
  std::atomic<int> refused{0};
  bool ran = false;
  std::vector<std::thread> workers;
  for (int i = 0; i < 4; ++i) {
    workers.emplace_back([&] {
      if (!loop.Synchronize([&] { ran = true; })) ++refused;
      ++results;
    });
  }
  loop.SetClosing(true);
  for (auto& t : workers) t.join();
  EXPECT_EQ(results.load(), 4);
  EXPECT_EQ(refused.load(), 4);
  loop.ProcessPending();
  EXPECT_FALSE(ran);
}

TEST(MainLoop, PumpUntilTimesOutWhenTheConditionNeverHolds) {
  PlainMainLoop loop;
  EXPECT_FALSE(loop.PumpUntil([] { return false; }, 20ms));
}

TEST(MainLoop, ExceptionsOfPostedCallsReachTheHandler) {
  PlainMainLoop loop;
  std::string seen;
  loop.SetExceptionHandler([&](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& ex) {
      seen = ex.what();
    }
  });
  loop.Post([] { throw std::runtime_error("posted"); });
  loop.ProcessPending();
  EXPECT_EQ(seen, "posted");
}

TEST(MainLoop, InstanceFallsBackToThePlainLoopOfTheMainThread) {
  EXPECT_TRUE(MainLoop::Instance().IsGuiThread());
  PlainMainLoop other;
  {
    ScopedMainLoop scope(other);
    EXPECT_EQ(&MainLoop::Instance(), &other);
  }
  EXPECT_NE(&MainLoop::Instance(), &other);
}

}  // namespace
}  // namespace pmx
