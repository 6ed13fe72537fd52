#include "audio/core/objects/thread.h"

#include <pthread.h>

#include <atomic>

#include <gtest/gtest.h>

#include "platform/main_loop.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;

class SyncingThread : public TThread {
 public:
  SyncingThread() : TThread("test-syncing") {}
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
  Quick() : TThread("test-quick-and-named-at-length") {}
  ~Quick() override { WaitFor(); }
  std::atomic<bool> ran{false};
  std::atomic<bool> on_self{false};
  char name[32] = {};  // written by the thread before ran

 protected:
  void Execute() override {
    on_self = IsCurrent();
    pthread_getname_np(pthread_self(), name, sizeof name);
    ran = true;
  }
};

// A name longer than the system keeps is cut, not dropped.
TEST(Thread, StartsOnceNamedAndCanBeRestartedAfterJoin) {
  Quick t;
  ASSERT_TRUE(t.Start());
  EXPECT_FALSE(t.Start());  // still joinable
  t.WaitFor();
  EXPECT_TRUE(t.ran);
  EXPECT_TRUE(t.on_self);
  EXPECT_STREQ(t.name, "test-quick-and-");
  t.ran = false;
  ASSERT_TRUE(t.Start());
  t.WaitFor();
  EXPECT_TRUE(t.ran);
}

}  // namespace
}  // namespace pmx
