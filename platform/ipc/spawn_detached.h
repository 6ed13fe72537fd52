#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pmx {

// Starts program (a path, never looked up or run through a shell) with the given
// arguments (argv[0] is the program) in folder (empty: the current folder), in a
// session of its own, with stdin from /dev/null and no descriptor above 2. Does
// not wait: the child is handed to ChildReaper. Returns the child's pid, or -1
// with errno set (ENOENT for a missing program) when it could not be started.
pid_t SpawnDetached(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                    const std::filesystem::path& folder);

// Collects the exit of every child handed to it, so that none stays a zombie.
// One thread, started with the first child, waits on a pidfd per child.
//
// Threads: Add and WaitReaped from any thread; children_ and reaped state are
// guarded by mutex_; the reaper thread owns the poll set it builds from them.
class ChildReaper {
 public:
  static ChildReaper& Instance();
  ~ChildReaper();
  ChildReaper(const ChildReaper&) = delete;
  ChildReaper& operator=(const ChildReaper&) = delete;

  // Takes a child of this process. Where no pidfd can be had for it, the reaper
  // looks after it once a second.
  void Add(pid_t pid);
  // Waits until the child has ended and was collected (true), or timeout passed.
  bool WaitReaped(pid_t pid, std::chrono::milliseconds timeout);

 private:
  struct Child {
    pid_t pid;
    int pidfd;
  };

  ChildReaper();
  void Run();
  void Wake();
  void CollectEnded();

  std::mutex mutex_;
  std::condition_variable reaped_;
  std::vector<Child> children_;
  bool stopping_ = false;
  int wake_fd_ = -1;  // eventfd: a child was added, or stop
  std::thread thread_;
};

}  // namespace pmx
