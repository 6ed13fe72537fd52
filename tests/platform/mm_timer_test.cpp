#include "platform/mm_timer.h"

#include <condition_variable>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

namespace pmx {
namespace {

using namespace std::chrono_literals;

TEST(PeriodicTimer, TicksUntilStoppedAndRestarts) {
  std::mutex m;
  std::condition_variable cv;
  int ticks = 0;
  auto tick = [&] {
    {
      std::lock_guard lock(m);
      ++ticks;
    }
    cv.notify_all();
  };
  PeriodicTimer timer;
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(timer.Start(2, tick));
    EXPECT_FALSE(timer.Start(2, tick));
    {
      std::unique_lock lock(m);
      ASSERT_TRUE(cv.wait_for(lock, 10s, [&] { return ticks >= 5 * (round + 1); }));
    }
    timer.Stop();
    EXPECT_FALSE(timer.Running());
  }
  std::lock_guard lock(m);
  const int seen = ticks;
  timer.Stop();  // a second stop is harmless
  EXPECT_EQ(ticks, seen);
}

TEST(PeriodicTimer, RefusesAnEmptyCallback) {
  PeriodicTimer timer;
  EXPECT_FALSE(timer.Start(10, nullptr));
  EXPECT_FALSE(timer.Running());
}

TEST(DeadlineTimer, CallsForTheEarliestRequestKeepsRequestsMadeDuringACallAndKeepsItsGap) {
  using Clock = DeadlineTimer::Clock;
  std::mutex m;
  std::condition_variable cv;
  std::vector<Clock::time_point> calls;
  DeadlineTimer timer;
  auto call = [&] {
    std::size_t n;
    {
      std::lock_guard lock(m);
      calls.push_back(Clock::now());
      n = calls.size();
    }
    if (n == 1) timer.WakeAt(Clock::now());  // asked for while a call runs
    cv.notify_all();
  };
  auto wait_for_calls = [&](std::size_t n) {
    std::unique_lock lock(m);
    return cv.wait_for(lock, 10s, [&] { return calls.size() >= n; });
  };
  ASSERT_TRUE(timer.Start(30ms, call));
  timer.WakeAt(Clock::now() + 1h);
  timer.WakeAt(Clock::now());  // the earlier request stands
  ASSERT_TRUE(wait_for_calls(2));
  timer.WakeAt(Clock::now());
  ASSERT_TRUE(wait_for_calls(3));
  timer.Stop();
  EXPECT_EQ(timer.Calls(), 3u);
  for (std::size_t i = 1; i < calls.size(); ++i) EXPECT_GE(calls[i] - calls[i - 1], 30ms) << i;
}

}  // namespace
}  // namespace pmx
