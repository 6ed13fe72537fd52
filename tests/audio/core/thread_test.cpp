#include "audio/core/thread.h"

#include <atomic>

#include <gtest/gtest.h>

#include "platform/main_loop.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;

class SyncingThread : public TThread {
 public:
  ~SyncingThread() override { WaitFor(); }
  int calls = 0;  // GUI thread only

 protected:
  void Execute() override {
    while (!Terminated()) MainLoop::Instance().Synchronize([this] { ++calls; });
  }
};

// The GUI thread's join must pump: the worker is inside Synchronize when asked to end.
TEST(Thread, WaitForOnTheGuiThreadDoesNotDeadlockASynchronizingWorker) {
  PlainMainLoop loop;
  ScopedMainLoop scope(loop);
  SyncingThread t;
  ASSERT_TRUE(t.Start());
  ASSERT_TRUE(loop.PumpUntil([&] { return t.calls >= 10; }, 10s));
  t.Terminate();
  t.WaitFor();
  EXPECT_TRUE(t.Finished());
  EXPECT_FALSE(t.Running());
}

class Quick : public TThread {
 public:
  ~Quick() override { WaitFor(); }
  std::atomic<bool> ran{false};
  std::atomic<bool> on_self{false};

 protected:
  void Execute() override {
    on_self = IsCurrent();
    ran = true;
  }
};

TEST(Thread, StartsOnceAndCanBeRestartedAfterJoin) {
  Quick t;
  ASSERT_TRUE(t.Start());
  EXPECT_FALSE(t.Start());  // still joinable
  t.WaitFor();
  EXPECT_TRUE(t.ran);
  EXPECT_TRUE(t.on_self);
  t.ran = false;
  ASSERT_TRUE(t.Start());
  t.WaitFor();
  EXPECT_TRUE(t.ran);
}

}  // namespace
}  // namespace pmx
