#include "audio/streaming/au_output.h"

#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "audio/streaming/streaming.h"
#include "platform/main_loop.h"
#include "tests/audio/streaming/fake_streams.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;
using test::CollectingOutput;
using test::CountingInput;
using test::MemoryFileIn;

// An output with its events counted on the GUI thread (this test's thread).
struct Rig {
  explicit Rig(int64_t frames = 1000) : input(frames) {
    output.SetInput(&input);
    output.OnDone = [this](TObject*) {
      EXPECT_TRUE(loop.IsGuiThread());
      ++done;
    };
    output.OnProgress = [this](TObject*) { progress.push_back(output.GetProgress()); };
    output.OnThreadException = [this](TObject*) { errors.push_back(output.ErrorText()); };
  }
  bool WaitDone(int count) { return loop.PumpUntil([&] { return done >= count; }, 10s); }

  PlainMainLoop loop;
  ScopedMainLoop scope{loop};
  MemoryFileIn input;
  int done = 0;
  std::vector<int> progress;
  std::vector<std::string> errors;
  // Last: stopping it at its end may still run the handlers, which fill the above.
  CollectingOutput output;
};

std::string ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const EAuException& e) {
    return e.what();
  }
  return "";
}

TEST(AuOutput, ProgressFigures) {
  PlainMainLoop loop;
  ScopedMainLoop scope(loop);
  CountingInput input;
  CollectingOutput output;
  EXPECT_EQ(output.GetProgress(), 0);
  output.SetInput(&input);
  input.Set(1, 3);
  EXPECT_EQ(output.GetProgress(), 33);
  input.Set(2, 3);
  EXPECT_EQ(output.GetProgress(), 67);
  input.Set(5, -1);
  EXPECT_EQ(output.GetProgress(), -1);
  input.Set(0, 0);
  EXPECT_EQ(output.GetProgress(), 0);
  EXPECT_EQ(output.GetStatus(), TAuStatus::kIdle);
}

TEST(AuOutput, RunPullsEverythingAndReportsOnTheGuiThread) {
  Rig rig;
  rig.output.Run();
  ASSERT_TRUE(rig.WaitDone(1));
  EXPECT_EQ(rig.output.collected.size(), 2000u);
  EXPECT_FALSE(rig.output.Busy());
  EXPECT_EQ(rig.output.GetStatus(), TAuStatus::kIdle);
  EXPECT_EQ(rig.output.finished, 1);
  ASSERT_FALSE(rig.progress.empty());
  EXPECT_EQ(rig.progress.back(), 100);
  for (size_t i = 1; i < rig.progress.size(); ++i) EXPECT_LE(rig.progress[i - 1], rig.progress[i]);
  EXPECT_TRUE(rig.errors.empty());
}

TEST(AuOutput, BusyAndMissingInput) {
  Rig rig;
  rig.input.SetLoop(true);  // endless
  CollectingOutput bare;
  EXPECT_EQ(ErrorOf([&] { bare.Run(); }), "Input is not assigned");
  EXPECT_FALSE(bare.Busy());
  EXPECT_EQ(ErrorOf([&] { bare.Pause(); }), "Input is not assigned.");

  rig.output.Run();
  EXPECT_EQ(ErrorOf([&] { rig.output.Run(); }), "Component is Busy");
  rig.output.Stop(false);
  EXPECT_FALSE(rig.output.Busy());
  rig.output.Run();  // a later run works
  rig.output.Stop(true);
  ASSERT_TRUE(rig.WaitDone(1));
  EXPECT_EQ(rig.done, 1);  // the synchronous stop fired none
}

TEST(AuOutput, AnErrorOnTheWorkerEndsTheRunAndIsReported) {
  Rig rig;
  rig.output.fail_at_block = 3;
  rig.output.Run();
  ASSERT_TRUE(rig.WaitDone(1));
  ASSERT_EQ(rig.errors.size(), 1u);
  EXPECT_EQ(rig.errors[0], "device went away");
  EXPECT_EQ(rig.output.ErrorText(), "device went away");
  EXPECT_EQ(rig.output.finished, 1);
  EXPECT_FALSE(rig.output.Busy());
  rig.output.fail_at_block = -1;
  rig.output.Run();
  ASSERT_TRUE(rig.WaitDone(2));
  EXPECT_EQ(rig.output.ErrorText(), "");
}

TEST(AuOutput, ChangingOrLosingTheInput) {
  Rig rig;
  rig.input.SetLoop(true);  // endless
  MemoryFileIn second(10);
  rig.output.Run();
  rig.output.SetInput(&second);  // the run starts over on the new input
  ASSERT_TRUE(rig.WaitDone(1));
  EXPECT_EQ(rig.output.collected.size(), 20u);
  EXPECT_EQ(rig.output.prepared, 2);
  {
    MemoryFileIn gone(10);
    rig.output.SetInput(&gone);
  }
  EXPECT_EQ(rig.output.Input(), nullptr);
}

TEST(AuOutput, PauseHoldsTheWorker) {
  Rig rig;
  rig.input.SetLoop(true);  // endless
  rig.output.Run();
  rig.output.Pause();
  ASSERT_EQ(rig.output.GetStatus(), TAuStatus::kPaused);
  const int64_t held = rig.output.pulled;
  // Paused, the worker pulls nothing more, however long the GUI thread goes on.
  for (int i = 0; i < 100; ++i) rig.loop.ProcessPending();
  EXPECT_EQ(rig.output.pulled, held);
  rig.output.Resume();
  ASSERT_TRUE(rig.loop.PumpUntil([&] { return rig.output.pulled > held; }, 10s));
  rig.output.Stop(false);
  EXPECT_EQ(rig.output.GetStatus(), TAuStatus::kIdle);
}

// Many short runs under stop, pause and resume at random moments: none may hang,
// lose a run request or fire OnDone after a synchronous stop.
TEST(AuOutput, RandomControlNeverHangs) {
  Rig rig(3000);
  std::mt19937 random(7);
  int async_stops = 0, whole_runs = 0;
  for (int i = 0; i < 2000; ++i) {
    rig.output.Run();
    switch (random() % 4) {
      case 0:
        rig.output.Pause();
        rig.output.Resume();
        rig.output.Stop(false);
        break;
      case 1:
        rig.output.Stop(true);
        ++async_stops;
        ASSERT_TRUE(rig.WaitDone(async_stops + whole_runs));
        break;
      case 2:
        ++whole_runs;
        ASSERT_TRUE(rig.WaitDone(async_stops + whole_runs));
        break;
      default:
        rig.output.Pause();
        rig.output.Stop(false);
        break;
    }
    ASSERT_TRUE(rig.loop.PumpUntil([&] { return !rig.output.Busy(); }, 10s)) << i;
  }
  for (int i = 0; i < 10; ++i) rig.loop.ProcessPending();
  EXPECT_EQ(rig.done, async_stops + whole_runs);
  EXPECT_EQ(rig.output.prepared, 2000);
}

}  // namespace
}  // namespace pmx
