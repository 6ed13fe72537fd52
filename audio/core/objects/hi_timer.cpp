#include "audio/core/objects/hi_timer.h"

#include "audio/core/objects/mm_strings.h"
#include "audio/core/objects/utilities.h"
#include "platform/main_loop.h"
#include "platform/ui_hook.h"

namespace pmx {
namespace {

constexpr const char* kNoTimers = "Nicht genügend Timer verfügbar";

}  // namespace

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

void TMMTimerThread::Stop() {
  stop_.store(true);
  clock_.Interrupt();
  Terminate();
}

void TMMTimerThread::Execute() {
  while (clock_.Wait() && !stop_.load()) {
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
  loop_timer_.reset();
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
  if (mode_ == TMMCBMode::cmThread) {
    if (synchronize_) {
      loop_timer_ = MainLoop::Instance().StartTimer(std::chrono::milliseconds(interval_), [this] {
        try {
          RunSynchronized();
        } catch (...) {
          HandleApplicationException(std::current_exception());
        }
      });
      if (loop_timer_) return;
    }
    StartThread();
    return;
  }
  window_ = std::make_shared<Window>();
  window_->owner = this;
  if (!timer_.Start(static_cast<unsigned>(interval_), [window = window_] { window->Post(window); })) {
    Disarm();
    throw EOutOfResources(kNoTimers);
  }
}

void TMMHiTimer::StartThread() {
  thread_ = std::make_unique<TMMTimerThread>(*this, synchronize_);
  if (!thread_->Arm(static_cast<unsigned>(interval_))) {
    thread_.reset();
    throw EOutOfResources(kNoTimers);
  }
  thread_->SetPriority(priority_);
  if (!thread_->Start()) {
    thread_.reset();
    throw EMMHiTimerError("HiTimer:\n\r" + LoadMMResString(SCouldNotCreateThread));
  }
}

}  // namespace pmx
