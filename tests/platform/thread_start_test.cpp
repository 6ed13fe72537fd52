#include "platform/thread_start.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdint>
#include <thread>

#if defined(__x86_64__)
#include <cpuid.h>

namespace pmx {
namespace {

bool CanAskWhatIsInUse() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  return __get_cpuid_count(0xD, 1, &a, &b, &c, &d) && (a & (1u << 2)) != 0;
}

// The processor's own answer: are the upper halves of the AVX registers in use?
bool UpperHalvesInUse() {
  uint32_t low = 0, high = 0;
  __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(1));
  return (low & (1u << 2)) != 0;
}

// Not compiled as AVX code, so the compiler adds no vzeroupper of its own.
void DirtyUpperHalves() { __asm__ volatile("vpcmpeqd %%ymm0, %%ymm0, %%ymm0" ::: "xmm0"); }

TEST(BeginThread, AThreadStartedFromAnAvxDirtiedThreadRunsCleanAndNamed) {
  if (!__builtin_cpu_supports("avx") || !CanAskWhatIsInUse()) GTEST_SKIP() << "no AVX state to check";
  bool dirty_at_start = false, dirty_after = true;
  char name[16] = {};
  DirtyUpperHalves();  // as the windowing stack leaves the GUI thread
  std::thread([&] {
    dirty_at_start = UpperHalvesInUse();
    BeginThread("pmx-a-name-too-long");
    dirty_after = UpperHalvesInUse();
    pthread_getname_np(pthread_self(), name, sizeof name);
  }).join();
  EXPECT_TRUE(dirty_at_start) << "a new thread no longer inherits the state: the check proves nothing";
  EXPECT_FALSE(dirty_after);
  EXPECT_STREQ(name, "pmx-a-name-too-");
}

}  // namespace
}  // namespace pmx
#endif
