#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "audio/core/objects/component.h"
#include "audio/core/objects/thread.h"
#include "audio/streaming/au_input.h"

namespace pmx {

class TAuOutput;

using TOutputDoneEvent = TNotifyEvent;
using TOutputProgressEvent = TNotifyEvent;
using TThreadExceptionEvent = TNotifyEvent;

// The worker of one output: parked until a run is requested, then running (or
// paused) until the run ends, then parked again.
//
// Threads: the state machine (state_, run_requested_, pause_request_, pause_for_,
// resume_, run_, runs_ended_) is guarded by mutex_; the output's GUI thread requests, the worker
// moves; StopFlag, DoneSent and NotifyDone are atomics set by either side.
class TAuThread : public TThread {
 public:
  enum class State { Parked, Running, Paused };

  explicit TAuThread(TAuOutput& output) : TThread("pmx-auout"), output_(output) {}
  ~TAuThread() override;

  // A request made while a run is ending is taken by the next park, never lost.
  void RequestRun();
  void RequestStop();
  // Waits until the worker pauses (or has no run) for at most timeout.
  void RequestPause(std::chrono::milliseconds timeout);
  // Lets a paused worker go on and waits until it has.
  void Resume();
  // Ends the thread; the output's destructor calls it.
  void Shutdown();
  // Waits until the run numbered run has ended and the worker has left it.
  void WaitRunEnded(uint64_t run);

  State GetState() const;
  // Parked with no run requested.
  bool Idle() const;
  bool StopFlag() const { return stop_flag_.load(); }
  std::atomic<bool> DoneSent{false};
  std::atomic<bool> NotifyDone{true};

 protected:
  void Execute() override;

 private:
  friend class TAuOutput;
  // False when terminated.
  bool Park();
  // Called by the run between blocks.
  void PauseIfRequested();
  void SetState(State state);  // under mutex_
  uint64_t CurrentRun() const;

  TAuOutput& output_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  State state_ = State::Parked;
  bool run_requested_ = false;
  bool pause_request_ = false;
  uint64_t pause_for_ = 0;  // the run a pause request is meant for
  bool resume_ = false;
  uint64_t run_ = 0;
  uint64_t runs_ended_ = 0;
  std::atomic<bool> stop_flag_{false};
};

// What an output is doing; the numbers are the ones callers have always compared with.
enum class TAuStatus { kPlaying = 0, kPaused = 1, kIdle = 2 };

// An output that pulls its Input block by block on its own worker. Events are
// delivered on the GUI thread by the process's event thread.
//
// A descendant's destructor calls Stop(false) first, so that no run uses the
// descendant's members while they are destroyed.
//
// Threads: Run, Stop, Pause, Resume, SetInput and the getters on the GUI thread;
// PrepareOutput, OutputBlock and FinishOutput on the worker. Busy, Active and
// StopRequested are atomics; ErrorText is guarded by error_mutex_; Input is set
// only while no run is going on. An input is dropped when it is destroyed, which
// must not happen while an output runs it.
class TAuOutput : public TComponent {
 public:
  explicit TAuOutput(TComponent* owner = nullptr);
  ~TAuOutput() override;

  // Starts a run on the worker and returns at once.
  void Run();
  // Async: asks the run to end; OnDone follows. Not async: returns once the run
  // has ended, without OnDone.
  void Stop(bool async = true);
  TAuStatus GetStatus() const;
  // Percent of the input delivered; -1 for an input of unknown size.
  int GetProgress() const;
  virtual void Pause();
  virtual void Resume();
  void SetPriority(TThreadPriority priority) { worker_->SetPriority(priority); }

  TAuInput* Input() const { return input_; }
  virtual void SetInput(TAuInput* input);
  bool Busy() const { return busy_.load(); }
  bool Active() const { return active_.load(); }
  bool StopRequested() const { return stop_requested_.load(); }
  std::string ErrorText() const;

  TOutputDoneEvent OnDone;
  TOutputProgressEvent OnProgress;
  TThreadExceptionEvent OnThreadException;

 protected:
  // One step of a run; false when finished.
  virtual bool OutputBlock(bool abort) = 0;
  virtual void PrepareOutput() = 0;
  virtual void FinishOutput() = 0;
  void Notification(TComponent* component, TOperation operation) override;
  void SetActive(bool active) { active_ = active; }
  // The run is asked to end (worker): long waits inside a block give up.
  bool StopFlagSet() const { return worker_->StopFlag(); }
  // Runs a handler of this output on the GUI thread (worker only); the handler
  // is read there, so the GUI thread may reassign it at any time.
  template <class Output>
  void PostNotification(TNotifyEvent Output::*handler) {
    PostCall([this, handler] {
      auto* self = static_cast<Output*>(this);
      if (self->*handler) (self->*handler)(self);
    });
  }

 private:
  friend class TAuThread;
  friend class TEventHandler;
  void PostCall(std::function<void()> call);
  // The worker's part of one run.
  void RunOnce(TAuThread& worker);
  void Loop(TAuThread& worker);
  void FinishRun();

  std::unique_ptr<TAuThread> worker_;
  TAuInput* input_ = nullptr;
  std::mutex run_lock_;
  mutable std::mutex error_mutex_;
  std::string error_text_;
  std::atomic<bool> busy_{false};
  std::atomic<bool> active_{false};
  std::atomic<bool> stop_requested_{false};
  int last_progress_ = 0;  // worker only
};

}  // namespace pmx
