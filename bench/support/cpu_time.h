#pragma once

#include <sys/resource.h>

namespace pmx::bench {

// CPU seconds (user + system) of this process (RUSAGE_SELF) or of its waited-for
// children (RUSAGE_CHILDREN).
inline double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace pmx::bench
