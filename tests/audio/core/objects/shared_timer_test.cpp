#include "audio/core/objects/shared_timer.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

namespace pmx {
namespace {

using namespace std::chrono_literals;

struct Counter {
  int calls = 0;
  void* data = nullptr;
};

TMMTimerCallback Count(Counter& c) {
  return [&c](PMMTimerClient, void* data) {
    ++c.calls;
    c.data = data;
  };
}

void Ticks(TMMTimerClients& list, int n) {
  for (int i = 0; i < n; ++i) list.Tick();
}

TEST(TimerClients, IntervalsAreServedAtWholeTicks) {
  TMMTimerClients list;
  Counter fast, slow, odd, tiny;
  int tag = 0;
  list.Add(25, 0, Count(fast), &tag);
  list.Add(100, 0, Count(slow), nullptr);
  list.Add(30, 0, Count(odd), nullptr);  // served like 50
  PMMTimerClient small = list.Add(10, 0, Count(tiny), nullptr);
  EXPECT_EQ(small->interval, 25);
  Ticks(list, 40);  // one second
  EXPECT_EQ(fast.calls, 40);
  EXPECT_EQ(fast.data, &tag);
  EXPECT_EQ(slow.calls, 10);
  EXPECT_EQ(odd.calls, 20);
  EXPECT_EQ(tiny.calls, 40);
}

TEST(TimerClients, SuspendClearsElapsedAndResumeStopsAtZero) {
  TMMTimerClients list;
  Counter c;
  PMMTimerClient client = list.Add(100, 1, Count(c), nullptr);
  Ticks(list, 8);
  EXPECT_EQ(c.calls, 0);  // added suspended
  list.Resume(client);
  list.Resume(client);
  EXPECT_EQ(client->suspend_count, 0);
  Ticks(list, 3);
  list.Suspend(client);  // 75 ms were accumulated; suspending forgets them
  list.Resume(client);
  Ticks(list, 3);
  EXPECT_EQ(c.calls, 0);
  Ticks(list, 1);
  EXPECT_EQ(c.calls, 1);
}

// The clock may sleep exactly while no client needs it: an idle client keeps its
// elapsed time, a callback may make itself idle, and any change wakes the clock.
TEST(TimerClients, TheClockIsNeededWhileAnyClientIsNeitherIdleNorSuspended) {
  TMMTimerClients list;
  std::vector<bool> needs;
  list.SetOnNeed([&](bool needed) { needs.push_back(needed); });
  Counter c;
  PMMTimerClient slow = list.Add(100, 0, Count(c), nullptr);
  PMMTimerClient self_idling = list.Add(25, 0, [&](PMMTimerClient me, void*) { list.SetIdle(me, true); }, nullptr);
  EXPECT_EQ(needs, std::vector<bool>{true});
  Ticks(list, 2);  // 50 ms for the slow one; the other idles itself
  list.SetIdle(slow, true);
  EXPECT_EQ(needs, (std::vector<bool>{true, false}));
  Ticks(list, 8);
  EXPECT_EQ(c.calls, 0);
  list.SetIdle(slow, false);
  EXPECT_EQ(needs, (std::vector<bool>{true, false, true}));
  Ticks(list, 1);
  EXPECT_EQ(c.calls, 0);
  Ticks(list, 1);  // the 50 ms kept, and 50 more
  EXPECT_EQ(c.calls, 1);
  list.Suspend(slow);
  EXPECT_EQ(needs.back(), false);
  list.SetIdle(self_idling, false);
  EXPECT_EQ(needs.back(), true);
  list.Remove(self_idling);
  EXPECT_EQ(needs.back(), false);
}

TEST(TimerClients, ForeignOrRemovedClientsAreLeftAlone) {
  TMMTimerClients list, other;
  Counter c;
  PMMTimerClient mine = list.Add(25, 0, Count(c), nullptr);
  PMMTimerClient theirs = other.Add(25, 0, Count(c), nullptr);
  EXPECT_FALSE(list.Remove(theirs));
  EXPECT_FALSE(list.Remove(nullptr));
  list.Suspend(theirs);
  EXPECT_EQ(theirs->suspend_count, 0);
  EXPECT_TRUE(list.Remove(mine));
  EXPECT_FALSE(list.Remove(mine));
  EXPECT_EQ(list.Count(), 0);
}

TEST(TimerClients, ACallbackCanSuspendButNotAddOrRemove) {
  TMMTimerClients list;
  PMMTimerClient added = reinterpret_cast<PMMTimerClient>(1);
  bool removed = true;
  PMMTimerClient self = nullptr;
  self = list.Add(25, 0, [&](PMMTimerClient c, void*) {
    added = list.Add(25, 0, nullptr, nullptr);
    removed = list.Remove(c);
    list.Suspend(c);
  }, nullptr);
  list.Tick();
  EXPECT_EQ(added, nullptr);
  EXPECT_FALSE(removed);
  EXPECT_EQ(self->suspend_count, 1);
  EXPECT_EQ(list.Count(), 1);
}

// The real timer: it runs while a client is registered and stops with the last one.
TEST(SharedTimer, RunsFromFirstAddToLastRemove) {
  std::mutex m;
  std::condition_variable cv;
  int calls = 0;
  auto callback = [&](PMMTimerClient, void*) {
    {
      std::lock_guard lock(m);
      ++calls;
    }
    cv.notify_all();
  };
  for (int round = 0; round < 2; ++round) {
    EXPECT_FALSE(MMTimerRunning());
    PMMTimerClient a = MMTimerAddClient(25, 0, callback, nullptr);
    PMMTimerClient b = MMTimerAddClient(50, 1, nullptr, nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    {
      std::unique_lock lock(m);
      calls = 0;
      ASSERT_TRUE(cv.wait_for(lock, 10s, [&] { return calls >= 3; }));
    }
    MMTimerRemoveClient(a);
    EXPECT_TRUE(MMTimerRunning());
    MMTimerRemoveClient(b);
    EXPECT_FALSE(MMTimerRunning());
  }
}

}  // namespace
}  // namespace pmx
