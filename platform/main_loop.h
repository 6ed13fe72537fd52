#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace pmx {

// A periodic call made by a loop from its own wake-ups; stops when destroyed.
class LoopTimer {
 public:
  virtual ~LoopTimer() = default;
};

// The GUI thread's queue of calls handed over by worker threads.
//
// Threads: Post, Synchronize, Wake and SetClosing may be called from any thread;
// ProcessPending and PumpUntil run queued calls only on the GUI thread. The queue,
// the closing flag and the wake flag are guarded by mutex_.
class MainLoop {
 public:
  using Call = std::function<void()>;
  using ExceptionHandler = std::function<void(std::exception_ptr)>;

  virtual ~MainLoop();
  MainLoop(const MainLoop&) = delete;
  MainLoop& operator=(const MainLoop&) = delete;

  // Queues fn to run on the GUI thread; does not wait.
  void Post(Call fn);
  // Runs fn on the GUI thread and waits for it; runs it directly on the GUI thread.
  // Returns false, without running fn, once the loop is closing. An exception thrown
  // by fn is rethrown in the caller.
  bool Synchronize(Call fn);
  // Runs every queued call (GUI thread only; elsewhere it does nothing).
  void ProcessPending();
  // Runs queued calls until done() holds or timeout passes; off the GUI thread it
  // only waits. Returns done(). Only a wait outside every handler (a test, the
  // program's start) also delivers the platform's events: a wait inside one serves
  // the workers' calls alone, so no click, timer or command runs nested in it.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // The GUI thread is inside PumpUntil (GUI thread only).
  bool Serving() const { return serving_ > 0; }
  // Tells a pumping GUI thread that something it waits for may have changed.
  void Wake();

  bool IsGuiThread() const { return std::this_thread::get_id() == gui_thread_; }
  // Calls tick on the GUI thread every period from the loop's own wake-ups,
  // expiries missed while it was busy folded into one (GUI thread). nullptr where
  // the loop has no timer of its own. Like every event, a tick never runs nested
  // in a wait inside a handler. The tick may destroy the timer it came from.
  virtual std::unique_ptr<LoopTimer> StartTimer(std::chrono::milliseconds period, Call tick);
  // Closing releases every worker waiting in Synchronize and refuses new ones.
  void SetClosing(bool closing);
  bool Closing() const { return closing_.load(); }

  // Where exceptions of posted calls go; by default they are written to stderr.
  void SetExceptionHandler(ExceptionHandler handler);

  // The loop the library's components use. Without an installed loop this is a
  // plain loop whose GUI thread is the process's main thread.
  static MainLoop& Instance();
  // Installs loop as the instance (nullptr restores the default); not owned.
  static void Install(MainLoop* loop);

 protected:
  explicit MainLoop(std::thread::id gui_thread);
  // Asks the GUI thread to call ProcessPending soon; called with mutex_ unlocked.
  virtual void NotifyGui() {}
  // Lets the platform deliver its own events while the GUI thread pumps.
  virtual void ProcessPlatformEvents() {}
  // The GUI thread runs a handler: a queued call, or (platform) an event.
  virtual bool InsideHandler() const { return running_ > 0; }

 private:
  struct Item {
    Call fn;
    bool synchronous = false;
    bool done = false;
    std::exception_ptr error;
  };

  void Enqueue(std::shared_ptr<Item> item);
  void RunItem(Item& item);

  const std::thread::id gui_thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<Item>> queue_;
  int waiters_ = 0;  // workers inside Synchronize; the destructor waits for them
  bool woken_ = false;
  // GUI thread only: queued calls running and PumpUntil calls active.
  int running_ = 0;
  int serving_ = 0;
  std::atomic<bool> closing_{false};
  ExceptionHandler exception_handler_;
};

// A loop without a platform event queue: tests and programs without a window.
class PlainMainLoop : public MainLoop {
 public:
  // The calling thread becomes the GUI thread.
  PlainMainLoop();
  explicit PlainMainLoop(std::thread::id gui_thread) : MainLoop(gui_thread) {}
};

// Installs a loop for the lifetime of a scope.
class ScopedMainLoop {
 public:
  explicit ScopedMainLoop(MainLoop& loop) { MainLoop::Install(&loop); }
  ~ScopedMainLoop() { MainLoop::Install(nullptr); }
  ScopedMainLoop(const ScopedMainLoop&) = delete;
  ScopedMainLoop& operator=(const ScopedMainLoop&) = delete;
};

}  // namespace pmx
