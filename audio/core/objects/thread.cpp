#include "audio/core/objects/thread.h"

#include <system_error>

#include <unistd.h>

#include "audio/core/objects/utilities.h"
#include "platform/main_loop.h"
#include "platform/thread_start.h"

namespace pmx {

TThread::~TThread() {
  Terminate();
  if (worker_.joinable()) worker_.join();
}

bool TThread::Start(std::chrono::milliseconds timeout) {
  if (worker_.joinable()) return false;
  terminated_.store(false);
  finished_.store(false);
  {
    std::lock_guard lock(start_mutex_);
    started_ = false;
  }
  try {
    worker_ = std::thread(&TThread::Run, this);
  } catch (const std::system_error&) {
    return false;
  }
  std::unique_lock lock(start_mutex_);
  if (started_cv_.wait_for(lock, timeout, [&] { return started_; })) return true;
  lock.unlock();
  Terminate();
  WaitFor();
  return false;
}

void TThread::SetPriority(TThreadPriority priority) {
  priority_.store(priority);
  if (const pid_t id = thread_id_.load()) ApplyThreadPriority(id, priority);
}

void TThread::Run() {
  BeginThread(name_.c_str());
  worker_id_.store(std::this_thread::get_id());
  thread_id_.store(gettid());
  if (priority_.load() != TThreadPriority::tpNormal) ApplyThreadPriority(gettid(), priority_.load());
  {
    std::lock_guard lock(start_mutex_);
    started_ = true;
  }
  started_cv_.notify_all();
  try {
    Execute();
  } catch (...) {
    // A worker's errors are reported by its component; nothing may escape the thread.
  }
  thread_id_.store(0);
  finished_.store(true);
  MainLoop::Instance().Wake();
}

void TThread::WaitFor() {
  if (!worker_.joinable()) return;
  if (IsCurrent()) return;  // a thread cannot join itself; its owner will
  MainLoop& loop = MainLoop::Instance();
  if (loop.IsGuiThread()) {
    while (!loop.PumpUntil([this] { return finished_.load(); }, std::chrono::seconds(1))) {
    }
  }
  worker_.join();
  worker_id_.store(std::thread::id());
}

}  // namespace pmx
