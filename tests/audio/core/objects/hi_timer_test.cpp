#include "audio/core/objects/hi_timer.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "platform/main_loop.h"
#include "platform/mm_timer.h"
#include "platform/ui_hook.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;

class HiTimer : public ::testing::Test {
 protected:
  bool PumpUntil(const std::function<bool()>& done) { return loop.PumpUntil(done, 10s); }

  PlainMainLoop loop;
  ScopedMainLoop scope{loop};
};

TEST_F(HiTimer, StaysOffWithoutIntervalHandlerOrEnabled) {
  int calls = 0;
  TMMHiTimer timer;
  timer.SetInterval(1);
  timer.SetCallBackMode(TMMCBMode::cmThread);
  EXPECT_EQ(timer.PendingTicks(), 0);
  timer.SetInterval(0);
  timer.SetOnTimer([&](TObject*) { ++calls; });
  timer.SetEnabled(false);
  timer.SetInterval(1);
  // Armed only now: every property allows it.
  timer.SetEnabled(true);
  ASSERT_TRUE(PumpUntil([&] { return calls >= 3; }));
}

TEST_F(HiTimer, CallbackModeIsRefusedWithTheMessage) {
  std::string text, caption;
  SetMessageBoxHook([&](const std::string& t, const std::string& c) {
    text = t;
    caption = c;
  });
  TMMHiTimer timer;
  timer.SetCallBackMode(TMMCBMode::cmThread);
  timer.SetCallBackMode(TMMCBMode::cmCallback);
  SetMessageBoxHook(nullptr);
  EXPECT_EQ(timer.CallBackMode(), TMMCBMode::cmThread);
  EXPECT_EQ(caption, "TMMHiTimer");
  EXPECT_EQ(text,
            "\"CallBacks\" are called at interrupt time !\n\rThis is currently only supported "
            "under Windows 95");
}

// The GUI thread is busy (it does not pump) while the timer keeps ticking: only
// 10 ticks queue up, and they arrive once it pumps again.
TEST_F(HiTimer, WindowModeQueuesAtMostTenTicksForABlockedGui) {
  std::atomic<int> calls{0};
  TMMHiTimer timer;
  timer.SetInterval(2);
  timer.SetOnTimer([&](TObject*) { ++calls; });
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (timer.PendingTicks() < TMMHiTimer::kMaxPendingTicks &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  ASSERT_EQ(timer.PendingTicks(), 10);
  // Let the timer go on for many more periods while the GUI stays blocked.
  const unsigned start = TimeGetTime();
  while (TimeGetTime() - start < 60) std::this_thread::yield();
  EXPECT_EQ(timer.PendingTicks(), 10);
  EXPECT_EQ(calls, 0);
  timer.SetEnabled(false);  // the queued ticks die with the window
  loop.ProcessPending();
  EXPECT_EQ(calls, 0);
  timer.SetEnabled(true);
  ASSERT_TRUE(PumpUntil([&] { return calls >= 12; }));
}

TEST_F(HiTimer, ThreadModeRunsOnTheGuiThreadWhenSynchronized) {
  for (bool sync : {true, false}) {
    std::atomic<int> calls{0};
    std::atomic<bool> on_gui{true};
    TMMHiTimer timer;
    timer.SetCallBackMode(TMMCBMode::cmThread);
    timer.SetSynchronize(sync);
    timer.SetInterval(1);
    timer.SetOnTimer([&](TObject*) {
      if (!loop.IsGuiThread()) on_gui = false;
      ++calls;
    });
    ASSERT_TRUE(PumpUntil([&] { return calls >= 5; }));
    EXPECT_EQ(on_gui, sync);
  }
}

// Re-arming and disabling from inside the synchronized handler must neither
// deadlock on the thread that waits for the handler nor fire a stale tick.
TEST_F(HiTimer, HandlerRearmsAndDisablesItsOwnTimer) {
  int calls = 0;
  TMMHiTimer timer;
  timer.SetCallBackMode(TMMCBMode::cmThread);
  timer.SetInterval(1);
  timer.SetOnTimer([&](TObject* sender) {
    auto* self = static_cast<TMMHiTimer*>(sender);
    ++calls;
    if (calls < 5) self->SetInterval(1 + calls % 2);
    if (calls == 8) self->SetEnabled(false);
  });
  ASSERT_TRUE(PumpUntil([&] { return calls >= 8; }));
  loop.ProcessPending();
  EXPECT_EQ(calls, 8);
}

// Unsynchronized, the handler runs on the timer thread while the GUI destroys it.
TEST_F(HiTimer, DestroyingAnEnabledThreadTimerStopsItForGood) {
  for (bool sync : {true, false}) {
    std::atomic<int> calls{0};
    auto timer = std::make_unique<TMMHiTimer>();
    timer->SetCallBackMode(TMMCBMode::cmThread);
    timer->SetSynchronize(sync);
    timer->SetInterval(1);
    timer->SetOnTimer([&](TObject*) { ++calls; });
    ASSERT_TRUE(PumpUntil([&] { return calls >= 3; }));
    timer.reset();
    const int seen = calls;
    loop.ProcessPending();
    EXPECT_EQ(calls, seen);
  }
}

TEST_F(HiTimer, HandlerErrorsGoToTheApplicationHandler) {
  int errors = 0;
  loop.SetExceptionHandler([&](std::exception_ptr) { ++errors; });
  for (TMMCBMode mode : {TMMCBMode::cmWindow, TMMCBMode::cmThread}) {
    errors = 0;
    TMMHiTimer timer;
    timer.SetCallBackMode(mode);
    timer.SetInterval(1);
    timer.SetOnTimer([](TObject*) { throw Exception("tick failed"); });
    ASSERT_TRUE(PumpUntil([&] { return errors >= 2; }));
  }
  loop.SetExceptionHandler(nullptr);
}

}  // namespace
}  // namespace pmx
