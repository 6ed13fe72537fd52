#include "platform/ipc/spawn_detached.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "platform/thread_start.h"

extern char** environ;

namespace pmx {
namespace {

// Owns the spawn attributes and file actions of one start.
class SpawnSetup {
 public:
  explicit SpawnSetup(const std::filesystem::path& folder) {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attributes_);
    if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions_, folder.c_str());
    posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
    // The child starts with no blocked signals and default handlers, whatever the
    // spawning thread had.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes_, &none);
    posix_spawnattr_setsigdefault(&attributes_, &all);
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnSetup() {
    posix_spawnattr_destroy(&attributes_);
    posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

// Called directly: this C library's declaration lacks C linkage for C++.
int PidfdOpen(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

}  // namespace

pid_t SpawnDetached(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                    const std::filesystem::path& folder) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  SpawnSetup setup(folder);
  pid_t pid = -1;
  const int error = posix_spawn(&pid, program.c_str(), setup.actions(), setup.attributes(), argv.data(), environ);
  if (error != 0) {
    errno = error;
    return -1;
  }
  ChildReaper::Instance().Add(pid);
  return pid;
}

ChildReaper& ChildReaper::Instance() {
  static ChildReaper reaper;
  return reaper;
}

ChildReaper::ChildReaper() : wake_fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ChildReaper::~ChildReaper() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  Wake();
  if (thread_.joinable()) thread_.join();
  for (const Child& child : children_) {
    if (child.pidfd >= 0) close(child.pidfd);
  }
  close(wake_fd_);
}

void ChildReaper::Add(pid_t pid) {
  std::lock_guard lock(mutex_);
  children_.push_back({pid, PidfdOpen(pid)});
  if (!thread_.joinable()) thread_ = std::thread(&ChildReaper::Run, this);
  Wake();
}

bool ChildReaper::WaitReaped(pid_t pid, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return reaped_.wait_for(lock, timeout, [&] {
    return std::none_of(children_.begin(), children_.end(), [pid](const Child& c) { return c.pid == pid; });
  });
}

void ChildReaper::Wake() {
  const uint64_t one = 1;
  static_cast<void>(write(wake_fd_, &one, sizeof one));
}

void ChildReaper::Run() {
  BeginThread("pmx-reaper");
  for (;;) {
    std::vector<pollfd> watched{{wake_fd_, POLLIN, 0}};
    bool unwatched = false;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      for (const Child& child : children_) {
        if (child.pidfd >= 0) {
          watched.push_back({child.pidfd, POLLIN, 0});
        } else {
          unwatched = true;
        }
      }
    }
    poll(watched.data(), watched.size(), unwatched ? 1000 : -1);
    uint64_t count;
    static_cast<void>(read(wake_fd_, &count, sizeof count));
    CollectEnded();
  }
}

void ChildReaper::CollectEnded() {
  std::lock_guard lock(mutex_);
  std::erase_if(children_, [](const Child& child) {
    int status;
    const pid_t result = waitpid(child.pid, &status, WNOHANG);
    // ECHILD: someone else collected it; it is gone all the same.
    if (result == 0 || (result < 0 && errno != ECHILD)) return false;
    if (child.pidfd >= 0) close(child.pidfd);
    return true;
  });
  reaped_.notify_all();
}

}  // namespace pmx
