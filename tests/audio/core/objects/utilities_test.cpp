#include "audio/core/objects/utilities.h"

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>

#include <gtest/gtest.h>

#include "audio/core/chain/device_id.h"
#include "platform/main_loop.h"
#include "tests/support/temp_dir.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;

TEST(Utilities, DiskFreeOfAFolderAndOfAFileToBeCreatedInIt) {
  test::TempDir dir;
  int64_t free = -1;
  int64_t total = -1;
  ASSERT_TRUE(GetDiskFree(dir.path().string(), free, total));
  EXPECT_GT(total, 0);
  EXPECT_GE(free, 0);
  EXPECT_LE(free, total);
  EXPECT_TRUE(GetDiskFree((dir / "20260101120000.wav").string(), free, total));
  EXPECT_TRUE(DiskHasFree((dir / "new.wav").string(), 0));
  EXPECT_FALSE(DiskHasFree((dir / "new.wav").string(), total + 1));
}

TEST(Utilities, AVolumeThatCannotBeQueriedHasNoRoom) {
  test::TempDir dir;
  const std::string missing = (dir / "no-such-folder" / "x.wav").string();
  int64_t free = -1;
  int64_t total = -1;
  EXPECT_FALSE(GetDiskFree(missing, free, total));
  EXPECT_EQ(free, 0);
  EXPECT_EQ(total, 1);
  EXPECT_FALSE(DiskHasFree(missing, 0));
}

TEST(Utilities, FileSizeByName) {
  test::TempDir dir;
  std::ofstream(dir / "five.bin") << "12345";
  EXPECT_EQ(GetFileSizeByName((dir / "five.bin").string()), 5);
  EXPECT_EQ(GetFileSizeByName((dir / "none.bin").string()), -1);
  EXPECT_EQ(GetFileSizeByName(dir.path().string()), -1);
}

TEST(Utilities, DelayWithPumpRunsQueuedCallsAndEndsWhenTheLoopCloses) {
  PlainMainLoop loop;
  ScopedMainLoop scope(loop);
  DelayMs(0, true);
  // A queued call closes the loop: the pumping delay must run it and return
  // long before its hour is up.
  loop.Post([&loop] { loop.SetClosing(true); });
  DelayMs(3600 * 1000, true);
  EXPECT_TRUE(loop.Closing());
}

TEST(Utilities, GlobalBlocksAreZeroFilledAndReleasedToNone) {
  auto* block = static_cast<uint8_t*>(GlobalAllocMem(64));
  for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], 0);
  block[0] = 7;
  GlobalReAllocMem(block, 128);
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 128; ++i) ASSERT_EQ(block[i], 0);
  GlobalFreeMem(block);
  EXPECT_EQ(block, nullptr);
  GlobalFreeMem(block);  // freeing none is harmless
}

class Parked : public TThread {
 public:
  Parked() : TThread("test-parked") {}
  ~Parked() override { WaitFor(); }
  std::atomic<int> nice_at_start{-100};

 protected:
  void Execute() override {
    nice_at_start = getpriority(PRIO_PROCESS, 0);
    while (!Terminated()) std::this_thread::yield();
  }
};

TEST(Utilities, ThreadPriorityIsAppliedAtStartAndWhileRunning) {
  if (getpriority(PRIO_PROCESS, 0) > 5) GTEST_SKIP() << "already running below the priorities asked";
  Parked thread;
  thread.SetPriority(TThreadPriority::tpLower);
  ASSERT_TRUE(thread.Start());
  ASSERT_TRUE(MainLoop::Instance().PumpUntil([&] { return thread.nice_at_start != -100; }, 10s));
  EXPECT_EQ(thread.nice_at_start, 5);
  SetMMThreadPriority(thread, TThreadPriority::tpLowest);
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(thread.ThreadId())), 10);
  EXPECT_EQ(thread.Priority(), TThreadPriority::tpLowest);
  // Raising needs a privilege; without it the call must neither fail nor throw.
  SetMMThreadPriority(thread, TThreadPriority::tpTimeCritical);
  thread.Terminate();
  thread.WaitFor();
  EXPECT_EQ(thread.ThreadId(), 0);
}

// This thread, and the threads it starts, as a user's recorder runs: without
// CAP_SYS_NICE and under a nice limit that allows no raise.
class WithoutRaisePrivilege {
 public:
  WithoutRaisePrivilege() {
    syscall(SYS_capget, &header_, saved_);
    __user_cap_data_struct dropped[2] = {saved_[0], saved_[1]};
    dropped[CAP_TO_INDEX(CAP_SYS_NICE)].effective &= ~CAP_TO_MASK(CAP_SYS_NICE);
    syscall(SYS_capset, &header_, dropped);
    getrlimit(RLIMIT_NICE, &limit_);
    rlimit none = limit_;
    none.rlim_cur = 0;
    setrlimit(RLIMIT_NICE, &none);
  }
  ~WithoutRaisePrivilege() {
    setrlimit(RLIMIT_NICE, &limit_);
    syscall(SYS_capset, &header_, saved_);
  }

 private:
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved_[2]{};
  rlimit limit_{};
};

// A station PC may not grant raised priorities: the threads run on at normal
// priority, and the refusal is told once, not for every thread.
TEST(Utilities, ARefusedPriorityRaiseIsToldOnce) {
  if (getpriority(PRIO_PROCESS, 0) != 0) GTEST_SKIP() << "runs at another nice value";
  const WithoutRaisePrivilege user;
  std::atomic<int> told{0};
  std::atomic<int> error{0};
  SetPriorityRefusedHandler([&](int refusal) {
    ++told;
    error = refusal;
  });
  Parked handler;
  Parked queue;
  handler.SetPriority(TThreadPriority::tpHighest);
  queue.SetPriority(TThreadPriority::tpHigher);
  ASSERT_TRUE(handler.Start());
  ASSERT_TRUE(queue.Start());
  ASSERT_TRUE(MainLoop::Instance().PumpUntil(
      [&] { return handler.nice_at_start != -100 && queue.nice_at_start != -100; }, 10s));
  EXPECT_EQ(handler.nice_at_start, 0);
  EXPECT_EQ(queue.nice_at_start, 0);
  SetMMThreadPriority(handler, TThreadPriority::tpTimeCritical);
  EXPECT_EQ(told, 1);
  EXPECT_EQ(error, EACCES);
  SetPriorityRefusedHandler({});
  handler.Terminate();
  queue.Terminate();
}

TEST(DeviceId, IdentifiersBothWays) {
  EXPECT_EQ(DeviceIdToIdent(MapperId), "MapperId");
  EXPECT_EQ(DeviceIdToIdent(InvalidId), "InvalidId");
  EXPECT_EQ(DeviceIdToIdent(3), "3");
  EXPECT_EQ(IdentToDeviceId("mapperid"), MapperId);
  EXPECT_EQ(IdentToDeviceId("INVALIDID"), InvalidId);
  EXPECT_EQ(IdentToDeviceId("-3"), -3);
  EXPECT_EQ(IdentToDeviceId("12"), 12);
  EXPECT_FALSE(IdentToDeviceId("").has_value());
  EXPECT_FALSE(IdentToDeviceId("Mapper").has_value());
  EXPECT_FALSE(IdentToDeviceId("1x").has_value());
}

}  // namespace
}  // namespace pmx
