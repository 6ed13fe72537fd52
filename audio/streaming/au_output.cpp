#include "audio/streaming/au_output.h"

#include <cmath>
#include <exception>

#include "audio/streaming/event_handler.h"
#include "audio/streaming/streaming.h"
#include "platform/main_loop.h"

namespace pmx {
namespace {

constexpr std::chrono::milliseconds kPauseAckTimeout{5000};

// Waits for done on any thread; the GUI thread runs queued calls meanwhile.
void PumpUntil(const std::function<bool()>& done) {
  while (!MainLoop::Instance().PumpUntil(done, std::chrono::seconds(1))) {
  }
}

}  // namespace

// ---- TAuThread ----

TAuThread::~TAuThread() { Shutdown(); }

void TAuThread::Shutdown() {
  {
    std::lock_guard lock(mutex_);
    Terminate();
  }
  changed_.notify_all();
  WaitFor();
}

void TAuThread::SetState(State state) {
  state_ = state;
  changed_.notify_all();
  MainLoop::Instance().Wake();
}

TAuThread::State TAuThread::GetState() const {
  std::lock_guard lock(mutex_);
  return state_;
}

bool TAuThread::Idle() const {
  std::lock_guard lock(mutex_);
  return state_ == State::Parked && !run_requested_;
}

uint64_t TAuThread::CurrentRun() const {
  std::lock_guard lock(mutex_);
  return run_;
}

void TAuThread::RequestRun() {
  std::lock_guard lock(mutex_);
  stop_flag_ = false;
  run_requested_ = true;
  changed_.notify_all();
}

void TAuThread::RequestStop() {
  std::lock_guard lock(mutex_);
  stop_flag_ = true;
  changed_.notify_all();  // a paused worker goes on to end its run
}

void TAuThread::RequestPause(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  // Meant for the run going on, or for the one requested and yet to start.
  pause_request_ = true;
  pause_for_ = run_requested_ ? run_ + 1 : run_;
  changed_.wait_for(lock, timeout, [&] { return state_ == State::Paused || (state_ == State::Parked && !run_requested_); });
}

void TAuThread::Resume() {
  std::unique_lock lock(mutex_);
  if (state_ != State::Paused) return;
  resume_ = true;
  changed_.notify_all();
  changed_.wait(lock, [&] { return state_ != State::Paused; });
}

void TAuThread::WaitRunEnded(uint64_t run) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return runs_ended_ >= run || Terminated(); });
}

bool TAuThread::Park() {
  std::unique_lock lock(mutex_);
  runs_ended_ = run_;
  resume_ = false;
  SetState(State::Parked);
  changed_.wait(lock, [&] { return run_requested_ || Terminated(); });
  if (Terminated()) return false;
  run_requested_ = false;
  ++run_;
  SetState(State::Running);
  return true;
}

void TAuThread::PauseIfRequested() {
  std::unique_lock lock(mutex_);
  if (!pause_request_ || pause_for_ != run_) return;  // none, or stale
  pause_request_ = false;
  SetState(State::Paused);
  changed_.wait(lock, [&] { return resume_ || stop_flag_ || Terminated(); });
  resume_ = false;
  SetState(State::Running);
}

void TAuThread::Execute() {
  while (Park()) output_.RunOnce(*this);
}

// ---- TAuOutput ----

TAuOutput::TAuOutput(TComponent* owner) : TComponent(owner) {
  TEventHandler::AddRef();
  worker_ = std::make_unique<TAuThread>(*this);
  if (!worker_->Start()) {
    worker_.reset();
    TEventHandler::Release();
    throw EAuException("Could not create thread");
  }
}

TAuOutput::~TAuOutput() {
  MarkDestroying();
  Stop(false);
  TEventHandler::Instance().Forget(this);
  worker_->Shutdown();
  worker_.reset();
  TEventHandler::Release();
}

void TAuOutput::Run() {
  std::lock_guard lock(run_lock_);
  {
    std::lock_guard error_lock(error_mutex_);
    error_text_.clear();
  }
  if (busy_) throw EAuException("Component is Busy");
  if (!input_) throw EAuException("Input is not assigned");
  busy_ = true;
  worker_->RequestRun();
}

void TAuOutput::Stop(bool async) {
  stop_requested_ = true;
  worker_->NotifyDone = async;
  worker_->DoneSent = false;
  worker_->RequestStop();
  if (async) return;
  TEventHandler& events = TEventHandler::Instance();
  events.Block(this);
  PumpUntil([&] { return worker_->Idle() || worker_->DoneSent.load(); });
  events.Unblock();
  worker_->NotifyDone = true;
}

TAuStatus TAuOutput::GetStatus() const {
  if (!busy_) return TAuStatus::kIdle;
  return worker_->GetState() == TAuThread::State::Paused ? TAuStatus::kPaused : TAuStatus::kPlaying;
}

int TAuOutput::GetProgress() const {
  if (!input_) return 0;
  const int64_t size = input_->Size();
  if (size == -1) return -1;
  if (size == 0) return 0;
  return static_cast<int>(std::nearbyint(static_cast<double>(input_->Position()) / static_cast<double>(size) * 100));
}

void TAuOutput::Pause() {
  if (!input_) throw EAuException("Input is not assigned.");
  if (!busy_) return;
  worker_->RequestPause(kPauseAckTimeout);
  input_->PauseHook();
}

void TAuOutput::Resume() {
  if (!busy_ || worker_->GetState() != TAuThread::State::Paused) return;
  input_->ResumeHook();
  worker_->Resume();
}

void TAuOutput::SetInput(TAuInput* input) {
  const bool was_busy = busy_;
  if (was_busy) Stop(false);
  if (input_) input_->RemoveFreeNotification(this);
  input_ = input;
  if (input_) input_->FreeNotification(this);
  if (was_busy && input_) Run();  // an input that goes away ends the run
}

std::string TAuOutput::ErrorText() const {
  std::lock_guard lock(error_mutex_);
  return error_text_;
}

void TAuOutput::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == input_) SetInput(nullptr);
}

void TAuOutput::PostCall(std::function<void()> call) {
  TEventHandler::Instance().Post({TEventHandler::Kind::Notification, this, std::move(call)});
}

void TAuOutput::Loop(TAuThread& worker) {
  PrepareOutput();
  active_ = true;
  bool more = true;
  while (more && !worker.StopFlag()) {
    const int progress = GetProgress();
    if (progress != last_progress_) {
      last_progress_ = progress;
      PostCall([this] {
        if (OnProgress) OnProgress(this);
      });
    }
    worker.PauseIfRequested();
    more = OutputBlock(worker.StopFlag());
  }
}

void TAuOutput::RunOnce(TAuThread& worker) {
  try {
    Loop(worker);
  } catch (...) {
    std::string text = "Unknown error";
    try {
      throw;
    } catch (const std::exception& e) {
      text = e.what();
    } catch (...) {
    }
    {
      std::lock_guard lock(error_mutex_);
      error_text_ = text;
    }
    PostNotification(&TAuOutput::OnThreadException);
    worker.stop_flag_ = true;
  }
  worker.stop_flag_ = false;
  FinishRun();
  TEventHandler::Instance().Post({TEventHandler::Kind::Done, this,
                                  [this] {
                                    if (OnDone) OnDone(this);
                                  },
                                  worker.CurrentRun(), worker.NotifyDone.load()});
  worker.DoneSent = true;
}

void TAuOutput::FinishRun() {
  if (!busy_) return;
  try {
    active_ = false;
    FinishOutput();
    stop_requested_ = false;
  } catch (...) {
    // The run is over whatever the device says; the next one starts clean.
  }
  busy_ = false;
}

}  // namespace pmx
