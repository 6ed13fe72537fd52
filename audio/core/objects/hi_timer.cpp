#include "audio/core/objects/hi_timer.h"

#include "audio/core/objects/mm_strings.h"
#include "audio/core/objects/utilities.h"
#include "platform/main_loop.h"
#include "platform/ui_hook.h"

namespace pmx {

// The target of posted ticks. A tick that reaches the GUI thread after the timer
// re-armed or went away finds owner cleared and does nothing.
struct TMMHiTimer::Window {
  TMMHiTimer* owner;  // GUI thread only
  std::atomic<int> pending{0};

  void Post(const std::shared_ptr<Window>& self) {
    if (pending.load() >= kMaxPendingTicks) return;
    ++pending;
    MainLoop::Instance().Post([self] { self->Deliver(); });
  }

  void Deliver() {
    try {
      if (owner) owner->DoTimer();
    } catch (...) {
      --pending;
      throw;  // to the application's handler
    }
    --pending;
  }
};

TMMTimerThread::~TMMTimerThread() {
  Stop();
  WaitFor();
}

void TMMTimerThread::Tick() {
  {
    std::lock_guard lock(mutex_);
    tick_ = true;
  }
  wake_.notify_one();
}

void TMMTimerThread::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_.store(true);
  }
  wake_.notify_one();
  Terminate();
}

bool TMMTimerThread::WaitForTick() {
  std::unique_lock lock(mutex_);
  wake_.wait(lock, [this] { return tick_ || stop_.load(); });
  tick_ = false;  // ticks that came meanwhile make one run, not a backlog
  return !stop_.load();
}

void TMMTimerThread::Execute() {
  while (WaitForTick()) {
    try {
      if (synchronize_) {
        MainLoop::Instance().Synchronize([this] {
          if (!stop_.load()) timer_.RunSynchronized();
        });
      } else {
        timer_.DoTimer();
      }
    } catch (...) {
      HandleApplicationException(std::current_exception());
    }
  }
}

TMMHiTimer::TMMHiTimer(TComponent* owner) : TMMNonVisualComponent(owner) {}

TMMHiTimer::~TMMHiTimer() {
  Disarm();  // first: a thread running the handler unsynchronized reads these
  on_timer_ = nullptr;
  enabled_ = false;
  if (retired_.empty()) return;
  // Destroyed from its own handler: the main loop joins what still waits for it.
  auto left = std::make_shared<std::vector<std::unique_ptr<TMMTimerThread>>>(std::move(retired_));
  MainLoop::Instance().Post([left] {});
}

template <class T>
void TMMHiTimer::Change(T& field, T value) {
  if (field == value) return;
  Disarm();
  field = value;
  Arm();
}

void TMMHiTimer::SetEnabled(bool value) { Change(enabled_, value); }
void TMMHiTimer::SetInterval(int value) { Change(interval_, value); }
void TMMHiTimer::SetSynchronize(bool value) { Change(synchronize_, value); }
void TMMHiTimer::SetPriority(TThreadPriority value) {
  priority_ = value;
  if (thread_) SetMMThreadPriority(*thread_, value);
}

void TMMHiTimer::SetCallBackMode(TMMCBMode value) {
  if (value == TMMCBMode::cmCallback && !kWin95) {
    ShowMessageBox(
        "\"CallBacks\" are called at interrupt time !\n\rThis is currently only supported under "
        "Windows 95",
        "TMMHiTimer");
    return;
  }
  Change(mode_, value);
}

void TMMHiTimer::SetOnTimer(TNotifyEvent value) {
  Disarm();
  on_timer_ = std::move(value);
  Arm();
}

void TMMHiTimer::SetDesignMode(bool value) {
  Disarm();
  TMMNonVisualComponent::SetDesignMode(value);
  Arm();
}

int TMMHiTimer::PendingTicks() const { return window_ ? window_->pending.load() : 0; }

void TMMHiTimer::DoTimer() {
  if (on_timer_ && enabled_) on_timer_(this);
}

void TMMHiTimer::RunSynchronized() {
  in_synchronized_call_ = true;
  try {
    DoTimer();
  } catch (...) {
    in_synchronized_call_ = false;
    throw;
  }
  in_synchronized_call_ = false;
}

void TMMHiTimer::Disarm() {
  timer_.Stop();  // first, so no tick reaches a window or thread that goes
  if (window_) {
    window_->owner = nullptr;
    window_.reset();
  }
  StopThread();
}

void TMMHiTimer::StopThread() {
  if (thread_) {
    thread_->Stop();
    retired_.push_back(std::move(thread_));
  }
  // A thread that waits for the handler we are inside of is joined by a later
  // stop; the others are joined now (which pumps the main loop).
  std::erase_if(retired_, [this](const std::unique_ptr<TMMTimerThread>& t) {
    return !in_synchronized_call_ || t->Finished();
  });
}

void TMMHiTimer::Arm() {
  if (Designing() || interval_ <= 0 || !enabled_ || !on_timer_) return;
  PeriodicTimer::Callback tick;
  if (mode_ == TMMCBMode::cmThread) {
    StartThread();
    tick = [thread = thread_.get()] { thread->Tick(); };
  } else {
    window_ = std::make_shared<Window>();
    window_->owner = this;
    tick = [window = window_] { window->Post(window); };
  }
  if (!timer_.Start(static_cast<unsigned>(interval_), std::move(tick))) {
    Disarm();
    throw EOutOfResources("Nicht genügend Timer verfügbar");
  }
}

void TMMHiTimer::StartThread() {
  thread_ = std::make_unique<TMMTimerThread>(*this, synchronize_);
  thread_->SetPriority(priority_);
  if (!thread_->Start()) {
    thread_.reset();
    throw EMMHiTimerError("HiTimer:\n\r" + LoadMMResString(SCouldNotCreateThread));
  }
}

}  // namespace pmx
