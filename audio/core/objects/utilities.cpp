#include "audio/core/objects/utilities.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <utility>

#include "platform/main_loop.h"

namespace pmx {
namespace {

// Nice values for the priorities, lowest to highest.
constexpr int kNiceValues[] = {19, 10, 5, 0, -5, -10, -20};

// Set before the threads that raise priorities run, and only read by them.
PriorityRefusedHandler& PriorityRefused() {
  static PriorityRefusedHandler handler;
  return handler;
}
std::atomic<bool> g_priority_refusal_told{false};

bool IsFolder(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The folder whose volume holds path.
std::string VolumeFolder(const std::string& path) {
  if (path.empty() || IsFolder(path)) return path.empty() ? "." : path;
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

int64_t GetMicroTime() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

void DelayMs(uint32_t ms, bool pump) {
  if (ms == 0) return;
  const std::chrono::milliseconds duration(ms);
  if (!pump) {
    std::this_thread::sleep_for(duration);
    return;
  }
  MainLoop& loop = MainLoop::Instance();
  loop.PumpUntil([&loop] { return loop.Closing(); }, duration);
}

void SetMMThreadPriority(TThread& thread, TThreadPriority priority) {
  thread.SetPriority(priority);
}

void ApplyThreadPriority(pid_t thread_id, TThreadPriority priority) {
  if (thread_id <= 0) return;
  const int saved_errno = errno;
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(thread_id), kNiceValues[static_cast<int>(priority)]) != 0) {
    const int error = errno;
    // A thread that has just ended (ESRCH) was refused nothing.
    if ((error == EACCES || error == EPERM) && !g_priority_refusal_told.exchange(true) && PriorityRefused()) {
      PriorityRefused()(error);
    }
  }
  errno = saved_errno;
}

void SetPriorityRefusedHandler(PriorityRefusedHandler handler) {
  PriorityRefused() = std::move(handler);
  g_priority_refusal_told.store(false);
}

int64_t GetFileSizeByName(const std::string& name) {
  struct stat info {};
  if (name.empty() || stat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<int64_t>(info.st_size);
}

bool GetDiskFree(const std::string& path, int64_t& free, int64_t& total) {
  struct statvfs volume {};
  if (statvfs(VolumeFolder(path).c_str(), &volume) != 0) {
    free = 0;
    total = 1;
    return false;
  }
  free = static_cast<int64_t>(volume.f_bavail) * static_cast<int64_t>(volume.f_frsize);
  total = static_cast<int64_t>(volume.f_blocks) * static_cast<int64_t>(volume.f_frsize);
  return true;
}

bool DiskHasFree(const std::string& path, int64_t bytes) {
  int64_t free = 0;
  int64_t total = 0;
  return GetDiskFree(path, free, total) && free >= bytes;
}

void* GlobalAllocMem(size_t size) {
  // A zero-size request still yields a block, so that none means failure.
  void* block = std::calloc(size > 0 ? size : 1, 1);
  if (!block) throw EOutOfMemory();
  return block;
}

void GlobalFreeBlock(void*& block) {
  std::free(block);
  block = nullptr;
}

void GlobalReAllocBlock(void*& block, size_t size) {
  void* fresh = GlobalAllocMem(size);
  GlobalFreeBlock(block);
  block = fresh;
}

}  // namespace pmx
