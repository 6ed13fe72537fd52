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

}  // namespace
}  // namespace pmx
