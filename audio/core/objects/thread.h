#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <sys/types.h>

#include <thread>

namespace pmx {

// Scheduling classes of a library thread, lowest to highest.
enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// A worker thread with the class library's shape: Execute runs on the thread,
// Terminate asks it to end, WaitFor joins. Start waits for the thread to report
// that it runs, so a component can raise "Could not create thread" in time.
//
// Threads: Start, WaitFor and the destructor belong to the owning thread; the
// terminated and finished flags, the kernel thread id and the priority are atomics
// read by both sides.
class TThread {
 public:
  static constexpr std::chrono::milliseconds kStartTimeout{5000};

  // name shows in top, gdb and crash reports; the system keeps at most 15 characters.
  explicit TThread(std::string name) : name_(std::move(name)) {}
  // The owner must have called WaitFor (a derived class does so in its own
  // destructor, before its members go); this only catches what was left running.
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Starts the thread; false when it could not be created or did not report in time.
  bool Start(std::chrono::milliseconds timeout = kStartTimeout);
  void Terminate() { terminated_.store(true); }
  bool Terminated() const { return terminated_.load(); }
  bool Running() const { return worker_.joinable(); }
  bool Finished() const { return finished_.load(); }
  // Joins the thread. On the GUI thread it runs queued synchronized calls meanwhile,
  // so a worker blocked in MainLoop::Synchronize cannot deadlock it.
  void WaitFor();
  // True on the thread that Execute runs on.
  bool IsCurrent() const { return std::this_thread::get_id() == worker_id_.load(); }
  // The kernel's id of the running thread; 0 before it runs and after it ended.
  pid_t ThreadId() const { return thread_id_.load(); }

  // Best effort: a priority the system refuses leaves the thread as it was. Set
  // before Start, it is applied when the thread begins.
  TThreadPriority Priority() const { return priority_.load(); }
  void SetPriority(TThreadPriority priority);

 protected:
  virtual void Execute() = 0;

 private:
  void Run();

  const std::string name_;
  std::thread worker_;
  std::atomic<std::thread::id> worker_id_{};
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::atomic<pid_t> thread_id_{0};
  std::atomic<TThreadPriority> priority_{TThreadPriority::tpNormal};
  std::mutex start_mutex_;
  std::condition_variable started_cv_;
  bool started_ = false;
};

}  // namespace pmx
