#include "audio/streaming/event_handler.h"

#include <algorithm>
#include <chrono>

#include "audio/streaming/au_output.h"
#include "audio/streaming/streaming.h"
#include "platform/main_loop.h"

namespace pmx {
namespace {

std::mutex instance_mutex;
std::unique_ptr<TEventHandler> instance;  // guarded by instance_mutex
int references = 0;                       // guarded by instance_mutex

}  // namespace

void TEventHandler::AddRef() {
  std::lock_guard lock(instance_mutex);
  if (references++ > 0) return;
  instance = std::make_unique<TEventHandler>();
  if (!instance->Start()) {
    instance.reset();
    references = 0;
    throw EAuException("Could not create thread");
  }
}

void TEventHandler::Release() {
  std::unique_ptr<TEventHandler> last;
  {
    std::lock_guard lock(instance_mutex);
    if (--references > 0) return;
    last = std::move(instance);
  }
  {
    std::lock_guard lock(last->mutex_);
    last->Terminate();
  }
  last->changed_.notify_all();
  last->WaitFor();
}

TEventHandler& TEventHandler::Instance() {
  std::lock_guard lock(instance_mutex);
  return *instance;
}

void TEventHandler::Post(Record record) {
  {
    std::lock_guard lock(mutex_);
    if (record.sender != blocked_) queue_.push_back(std::move(record));
  }
  changed_.notify_all();
}

void TEventHandler::DropQueued(TAuOutput* sender) {
  std::erase_if(queue_, [sender](const Record& r) { return r.sender == sender; });
}

void TEventHandler::Block(TAuOutput* sender) {
  std::lock_guard lock(mutex_);
  blocked_ = sender;
  DropQueued(sender);
}

void TEventHandler::Unblock() {
  std::lock_guard lock(mutex_);
  blocked_ = nullptr;
}

void TEventHandler::Forget(TAuOutput* sender) {
  {
    std::lock_guard lock(mutex_);
    DropQueued(sender);
  }
  // The record in hand may wait for the GUI thread, which therefore pumps.
  MainLoop& loop = MainLoop::Instance();
  auto idle = [&] {
    std::lock_guard lock(mutex_);
    return delivering_ != sender;
  };
  while (!loop.PumpUntil(idle, std::chrono::seconds(1))) {
  }
}

void TEventHandler::Execute() {
  for (;;) {
    Record record;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return !queue_.empty() || Terminated(); });
      if (Terminated()) return;
      record = std::move(queue_.front());
      queue_.pop_front();
      delivering_ = record.sender;
    }
    Deliver(record);
    {
      std::lock_guard lock(mutex_);
      delivering_ = nullptr;
    }
    MainLoop::Instance().Wake();
  }
}

void TEventHandler::Deliver(const Record& record) {
  if (record.kind == Kind::Done) {
    record.sender->worker_->WaitRunEnded(record.run);
    if (!record.notify) return;
  }
  try {
    MainLoop::Instance().Synchronize(record.call);
  } catch (...) {
    // A handler's error goes where the GUI thread's errors go; the delivery goes on.
    MainLoop::Instance().Post([error = std::current_exception()] { std::rethrow_exception(error); });
  }
}

}  // namespace pmx
