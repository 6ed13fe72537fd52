#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "audio/core/objects/thread.h"

namespace pmx {

class TAuOutput;

// The process-wide thread that delivers the outputs' events on the GUI thread,
// in the order they were posted. It exists while at least one output does.
//
// Threads: Post from the workers; Block, Unblock and Forget from the GUI thread;
// delivery on the event thread. queue_, blocked_ and delivering_ are guarded by mutex_.
class TEventHandler : public TThread {
 public:
  enum class Kind { Progress, Done, Notification };
  struct Record {
    Kind kind = Kind::Notification;
    TAuOutput* sender = nullptr;
    std::function<void()> call;  // run on the GUI thread; for Done only when notify
    uint64_t run = 0;            // Done: the run it ends
    bool notify = true;          // Done: whether OnDone fires
  };

  // Counted references: the first creates the thread, the last ends it.
  static void AddRef();
  static void Release();
  static TEventHandler& Instance();
  TEventHandler() : TThread("pmx-events") {}

  // Queues a record unless its sender is blocked.
  void Post(Record record);
  // Drops the sender's queued records and any it posts until Unblock.
  void Block(TAuOutput* sender);
  void Unblock();
  // Drops the sender's queued records and waits until none of them is being delivered.
  void Forget(TAuOutput* sender);

 protected:
  void Execute() override;

 private:
  void Deliver(const Record& record);
  void DropQueued(TAuOutput* sender);  // under mutex_

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Record> queue_;
  TAuOutput* blocked_ = nullptr;
  TAuOutput* delivering_ = nullptr;
};

}  // namespace pmx
