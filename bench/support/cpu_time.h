#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace pmx::bench {

// CPU seconds (user + system) of this process (RUSAGE_SELF) or of its waited-for
// children (RUSAGE_CHILDREN).
inline double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs a program to its end; its CPU seconds, or -1 when it failed.
inline double RunProgram(const std::vector<std::string>& argv) {
  const double before = CpuSeconds(RUSAGE_CHILDREN);
  const pid_t child = fork();
  if (child == 0) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    return -1;
  }
  return CpuSeconds(RUSAGE_CHILDREN) - before;
}

}  // namespace pmx::bench
