#include "platform/main_loop.h"

#include <algorithm>
#include <cstdio>

namespace pmx {
namespace {

// Static initialisation runs on the process's main thread.
const std::thread::id kMainThread = std::this_thread::get_id();

std::atomic<MainLoop*> g_installed{nullptr};

void WriteToStderr(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pelmorax: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "pelmorax: unknown exception in a queued call\n");
  }
}

}  // namespace

MainLoop::MainLoop(std::thread::id gui_thread)
    : gui_thread_(gui_thread), exception_handler_(WriteToStderr) {}

MainLoop::~MainLoop() {
  SetClosing(true);
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return waiters_ == 0; });
  }
  MainLoop* self = this;
  g_installed.compare_exchange_strong(self, nullptr);
}

std::unique_ptr<LoopTimer> MainLoop::StartTimer(std::chrono::milliseconds, Call) { return nullptr; }

PlainMainLoop::PlainMainLoop() : MainLoop(std::this_thread::get_id()) {}

MainLoop& MainLoop::Instance() {
  if (MainLoop* loop = g_installed.load()) return *loop;
  static PlainMainLoop fallback(kMainThread);
  return fallback;
}

void MainLoop::Install(MainLoop* loop) { g_installed.store(loop); }

void MainLoop::SetExceptionHandler(ExceptionHandler handler) {
  std::lock_guard lock(mutex_);
  exception_handler_ = handler ? std::move(handler) : ExceptionHandler(WriteToStderr);
}

void MainLoop::Enqueue(std::shared_ptr<Item> item) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(item));
  }
  changed_.notify_all();
  NotifyGui();
}

void MainLoop::Post(Call fn) { Enqueue(std::make_shared<Item>(Item{std::move(fn), false, false, nullptr})); }

bool MainLoop::Synchronize(Call fn) {
  if (IsGuiThread()) {
    fn();
    return true;
  }
  auto item = std::make_shared<Item>(Item{std::move(fn), true, false, nullptr});
  {
    std::lock_guard lock(mutex_);
    if (closing_.load()) return false;
    ++waiters_;
  }
  Enqueue(item);
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return item->done || closing_.load(); });
  --waiters_;
  const bool done = item->done;
  const std::exception_ptr error = std::move(item->error);
  if (!done) {
    // Released by closing before the GUI thread took the call: withdraw it.
    queue_.erase(std::remove(queue_.begin(), queue_.end(), item), queue_.end());
  }
  lock.unlock();
  changed_.notify_all();
  if (error) std::rethrow_exception(error);
  return done;
}

void MainLoop::RunItem(Item& item) {
  std::exception_ptr error;
  ++running_;
  try {
    item.fn();
  } catch (...) {
    error = std::current_exception();
  }
  --running_;
  if (!item.synchronous) {
    if (error) {
      ExceptionHandler handler;
      {
        std::lock_guard lock(mutex_);
        handler = exception_handler_;
      }
      handler(error);
    }
    return;
  }
  {
    std::lock_guard lock(mutex_);
    // Moved, so the worker holds the only reference to the exception.
    item.error = std::move(error);
    item.done = true;
  }
  changed_.notify_all();
}

void MainLoop::ProcessPending() {
  if (!IsGuiThread()) return;
  for (;;) {
    std::shared_ptr<Item> item;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return;
      item = std::move(queue_.front());
      queue_.pop_front();
    }
    RunItem(*item);
  }
}

void MainLoop::Wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  changed_.notify_all();
}

bool MainLoop::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  // A condition changed without a Wake is still seen within this period.
  constexpr auto kRecheck = std::chrono::milliseconds(5);
  const bool gui = IsGuiThread();
  const bool platform_events = gui && serving_ == 0 && !InsideHandler();
  struct Serving {
    int& count;
    const bool active;
    Serving(int& c, bool a) : count(c), active(a) { count += active; }
    ~Serving() { count -= active; }
  } serving(serving_, gui);
  for (;;) {
    if (gui) {
      ProcessPending();
      if (platform_events) ProcessPlatformEvents();
    }
    if (done()) return true;
    const auto now = Clock::now();
    if (now >= deadline) return false;
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::min<Clock::duration>(deadline - now, kRecheck),
                      [&] { return woken_ || (gui && !queue_.empty()); });
    woken_ = false;
  }
}

void MainLoop::SetClosing(bool closing) {
  {
    std::lock_guard lock(mutex_);
    closing_.store(closing);
  }
  changed_.notify_all();
}

}  // namespace pmx
